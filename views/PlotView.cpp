#define FLOG_SOURCE "views/PlotView"
#include "PlotView.h"

#include <QCoreApplication>
#include <QFont>
#include <QImageReader>
#include <QPainter>
#include <QPen>
#include <QPointer>
#include <QPolygonF>
#include <QStyle>
#include <QStyleOption>
#include <QTextOption>

#include "DataWrapper.h"
#include "FLog.h"
#include "ViewFonts.h"

PlotView::PlotView(QWidget* parent) : QWidget(parent) {
    installViewFonts();
}

PlotView::~PlotView() = default;

void PlotView::onDataWrapper(std::shared_ptr<DataWrapper>) {}

void PlotView::onDataWrapperValue(std::shared_ptr<DataWrapper>, int) {}

void PlotView::onItem(std::shared_ptr<DataWrapper> session, std::shared_ptr<_VRKItemBase> item) {
    m_data_wrapper = session;
    if (!item) {
        return;
    }
    if (item->kind == VRK_KIND_PAGE_CHANGE) {
        auto page = std::dynamic_pointer_cast<_PageChangeItem>(item);
        if (page) {
            m_current_page = page;
            resetPage();
        }
        return;
    }
    if (item->kind != VRK_KIND_DRAW) {
        return;
    }
    auto draw = std::dynamic_pointer_cast<_DrawItem>(item);
    if (!draw || !acceptDraw(draw)) {
        return;
    }
    applyDraw(draw);
    redrawCanvas();

    // Let the stroke show while the video plays. A dispatch that arrives from inside this call is
    // applied directly (after this event, which is complete) without spinning the loop again.
    if (m_processing_events) {
        return;
    }
    QPointer<PlotView> alive(this);
    m_processing_events = true;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (alive) {
        m_processing_events = false;
    }
}

void PlotView::onItemList(std::shared_ptr<DataWrapper> session, QList<std::shared_ptr<_VRKItemBase>> items,
                          int kind) {
    m_data_wrapper = session;
    if (kind == VRK_KIND_PAGE_CHANGE) {
        if (items.isEmpty()) {
            return;
        }
        auto page = std::dynamic_pointer_cast<_PageChangeItem>(items.last());
        if (page) {
            m_current_page = page;
            resetPage();
        }
        return;
    }
    if (kind != VRK_KIND_DRAW || !m_current_page || items.isEmpty()) {
        return;
    }
    bool applied = false;
    for (const auto& item : items) {
        auto draw = std::dynamic_pointer_cast<_DrawItem>(item);
        if (draw && acceptDraw(draw)) {
            applyDraw(draw);
            applied = true;
        }
    }
    if (applied) {
        redrawCanvas();
    }
}

bool PlotView::acceptDraw(const std::shared_ptr<_DrawItem>& draw) const {
    if (!m_current_page) {
        return true;
    }
    if (draw->data.docid == m_current_page->docId && draw->pageNum == m_current_page->pageNum) {
        return true;
    }
    // A clear applies whatever page it was recorded on.
    return draw->data.type == 8;
}

void PlotView::applyDraw(const std::shared_ptr<_DrawItem>& draw) {
    switch (draw->data.type) {
        case 2:
        case 3:
        case 4:
            m_drawings.append(draw);
            break;
        case 5:
            // A text edit arrives as a new event with the same drawid: it replaces the text.
            if (!m_drawings.isEmpty() && m_drawings.last()->data.drawid == draw->data.drawid) {
                m_drawings.removeLast();
            }
            m_drawings.append(draw);
            break;
        case 9:
            for (int i = m_drawings.size() - 1; i >= 0; --i) {
                if (m_drawings.at(i)->data.drawid == draw->data.drawid) {
                    m_drawings.removeAt(i);
                }
            }
            break;
        case 1:
            if (!m_drawings.isEmpty()) {
                m_drawings.removeLast();
            }
            break;
        default:
            m_drawings.clear();
            break;
    }
}

QString PlotView::pageImagePath() const {
    if (!m_current_page || m_current_page->url == QLatin1String("#") || !m_data_wrapper) {
        return QString();
    }
    auto root = m_data_wrapper->getRootItem();
    if (!root) {
        return QString();
    }
    return root->tmp_path +
           QStringLiteral("image/%1/%2.jpg").arg(m_current_page->docId).arg(int(m_current_page->pageNum));
}

void PlotView::resetPage() {
    m_drawings.clear();
    loadPageImage(true);
    update();
}

void PlotView::loadPageImage(bool report) {
    m_canvas.fill(Qt::transparent);
    if (!m_current_page) {
        return;
    }
    const QString path = pageImagePath();
    const QSize wanted(m_current_page->width, m_current_page->height);

    bool loaded = false;
    if (!path.isEmpty()) {
        loaded = m_canvas.load(path);
        if (!loaded) {
            const auto formats = QImageReader::supportedImageFormats();
            for (const QByteArray& format : formats) {
                if (m_canvas.load(path, format.constData())) {
                    loaded = true;
                    break;
                }
            }
        }
        if (!loaded && report) {
            FLOG(FLOG_WARN, "page image not loaded:%s", path.toUtf8().constData());
        }
    }
    if (!loaded) {
        m_canvas = QPixmap(wanted);
        m_canvas.fill(Qt::white);
        return;
    }
    if (m_canvas.size() != wanted && wanted.width() > 0.1 && wanted.height() > 0.1) {
        m_canvas = m_canvas.scaled(wanted, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
}

QSize PlotView::pageSize() const {
    if (!m_current_page || m_canvas.isNull()) {
        return QSize();
    }
    if (m_current_page->width > 0.1 && m_current_page->height > 0.1) {
        return QSize(m_current_page->width, m_current_page->height);
    }
    return m_canvas.size();
}

void PlotView::redrawCanvas() {
    loadPageImage(false);
    const QSize page = pageSize();
    if (m_current_page && page.isValid() && !m_canvas.isNull()) {
        for (const auto& draw : qAsConst(m_drawings)) {
            paintDrawing(draw, page);
        }
    }
    update();
}

void PlotView::paintDrawing(const std::shared_ptr<_DrawItem>& draw, const QSize& page) {
    const _DrawData& d = draw->data;
    const int w = page.width();
    const int h = page.height();
    QPainter painter(&m_canvas);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const qint32 c = d.color;
    QPen pen(QColor((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF, 255));
    pen.setWidth(d.thickness);
    painter.setPen(pen);

    switch (d.type) {
        case 2: {
            QPolygonF line;
            for (const QPointF& p : d.points) {
                line << QPointF(p.x() * w, p.y() * h);
            }
            painter.drawPolyline(line);
            break;
        }
        case 3:
            painter.drawRect(QRectF(d.rect.x() * w, d.rect.y() * h, d.rect.width() * w, d.rect.height() * h));
            break;
        case 4: {
            // (x, y) lies on the right and bottom edges of the ellipse's bounding box.
            const qreal rx = d.rect.width();
            const qreal ry = d.rect.height();
            painter.drawEllipse(
                QRectF((d.rect.x() - 2 * rx) * w, (d.rect.y() - 2 * ry) * h, 2 * rx * w, 2 * ry * h));
            break;
        }
        case 5: {
            QFont font(tr("Microsoft YaHei UI"));
            if (d.size > 0) {
                font.setPixelSize(d.size);
            }
            painter.setFont(font);
            painter.drawText(QRectF(d.rect.x() * w, d.rect.y() * h, d.rect.width() * w, d.rect.height() * h),
                             d.label, QTextOption());
            break;
        }
        default:
            break;
    }
}

QSize PlotView::displaySize() const {
    if (!m_current_page) {
        return QSize();
    }
    QSize page(m_current_page->width, m_current_page->height);
    if (page.isEmpty()) {
        page = pageSize();
        if (page.isEmpty()) {
            return QSize();
        }
    }
    const double factor =
        qMin(double(width()) / double(page.width()), double(height()) / double(page.height())) * 0.99;
    return QSize(qRound(page.width() * factor), qRound(page.height() * factor));
}

void PlotView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QStyleOption option;
    option.initFrom(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
    painter.fillRect(rect(), QColor(245, 245, 245, 255));

    const QSize shown = displaySize();
    if (shown.isEmpty() || m_canvas.isNull()) {
        return;
    }
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    const QPixmap scaled = m_canvas.scaled(shown, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QRect target(QPoint(0, 0), shown);
    target.moveCenter(rect().center());
    painter.drawPixmap(target, scaled);
}
