// The merge window's table takes packages dropped from a file manager and lets the user drag a
// row to another place; both end in the same state as Add File and Up/Down.
#define FLOG_SOURCE "editor/ResourceMergeWidget"
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QMouseEvent>
#include <QTableWidget>
#include <QUrl>

#include "FLog.h"
#include "ResourceMergeWidget.h"

namespace {

// Local ".vrk" files of a drop, in the order given.
QStringList droppedPackages(const QMimeData* mime) {
    QStringList files;
    if (!mime || !mime->hasUrls()) {
        return files;
    }
    for (const QUrl& url : mime->urls()) {
        const QString path = url.toLocalFile();
        if (!path.isEmpty() && path.endsWith(QStringLiteral(".vrk"), Qt::CaseInsensitive) &&
            QFileInfo(path).isFile()) {
            files << path;
        }
    }
    return files;
}

}  // namespace

void ResourceMergeWidget::setupDrops() {
    m_table->setAcceptDrops(true);
    m_table->viewport()->setAcceptDrops(true);
    m_table->viewport()->installEventFilter(this);
}

void ResourceMergeWidget::moveRow(int from, int to) {
    if (from < 0 || to < 0 || from >= m_table->rowCount() || to >= m_table->rowCount() || from == to) {
        return;
    }
    const int step = to > from ? 1 : -1;
    for (int r = from; r != to; r += step) {
        swapRows(r, r + step);
    }
    m_table->setCurrentCell(to, 0);
    m_table->selectRow(to);
    refresh();
}

bool ResourceMergeWidget::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_table->viewport()) {
        return BaseDialog::eventFilter(watched, event);
    }
    switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* drag = static_cast<QDropEvent*>(event);
            if (!droppedPackages(drag->mimeData()).isEmpty()) {
                drag->acceptProposedAction();
                return true;
            }
            return false;
        }
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            const QStringList files = droppedPackages(drop->mimeData());
            if (files.isEmpty()) {
                return false;
            }
            drop->acceptProposedAction();
            FLOG(FLOG_INFO, "%d files dropped", static_cast<int>(files.size()));
            for (const QString& file : files) {
                if (!addPackage(file)) {
                    break;
                }
            }
            return true;
        }
        case QEvent::MouseButtonPress: {
            auto* press = static_cast<QMouseEvent*>(event);
            m_drag_row = press->button() == Qt::LeftButton ? m_table->rowAt(press->pos().y()) : -1;
            m_drag_start = press->pos();
            return false;
        }
        case QEvent::MouseButtonRelease: {
            auto* release = static_cast<QMouseEvent*>(event);
            const int from = m_drag_row;
            m_drag_row = -1;
            if (from < 0 ||
                (release->pos() - m_drag_start).manhattanLength() < QApplication::startDragDistance()) {
                return false;
            }
            // Below the last row counts as the end of the list.
            int to = m_table->rowAt(release->pos().y());
            if (to < 0) {
                to = release->pos().y() < 0 ? 0 : m_table->rowCount() - 1;
            }
            moveRow(from, to);
            return false;
        }
        default:
            return false;
    }
}
