// The cut window's keyboard: play, seek and frame steps, segment bounds, adding and removing
// segments, whatever widget of the window has the focus (except a time being typed).
#define FLOG_SOURCE "editor/ResourceEditWidget"
#include <QAbstractSpinBox>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

#include "CustomSlider.h"
#include "DataWrapper.h"
#include "FLog.h"
#include "ResourceItem.h"
#include "ResourceEditWidget.h"
#include "TableSegmentOperateWidget.h"

namespace {
constexpr qint64 kSmallSeekMs = 1000;
constexpr qint64 kLargeSeekMs = 10000;
}  // namespace

void ResourceEditWidget::setupShortcutTips() {
    m_play_btn->setToolTip(tr("Play / pause (Space)"));
    m_set_start_btn->setToolTip(tr("Start of the segment at the playhead (I)"));
    m_set_end_btn->setToolTip(tr("End of the segment at the playhead (O)"));
    m_add_segment_btn->setToolTip(tr("Add the segment (Enter)"));
    m_preview_btn->setToolTip(tr("Play only the kept segments, skipping the gaps"));
    m_table->setToolTip(tr("Delete removes the selected segment; double-click jumps to its start"));
    m_slider->setToolTip(tr("Left/Right: 1 s, Shift+Left/Right: 10 s, ',' / '.': one frame, Home/End"));
}

bool ResourceEditWidget::handleShortcut(QWidget* receiver, QKeyEvent* key) {
    if (!m_data_wrapper || !isEnabled()) {
        return false;
    }
    // A time being typed keeps its keys (they go to the time edit or the line edit inside it).
    for (QWidget* w = receiver; w && w != this; w = w->parentWidget()) {
        if (qobject_cast<QAbstractSpinBox*>(w) || qobject_cast<QLineEdit*>(w)) {
            return false;
        }
    }
    const bool shift = key->modifiers() & Qt::ShiftModifier;
    const qint64 now = m_slider->position();
    switch (key->key()) {
        case Qt::Key_Space:
            on_pushButton_play_clicked(!m_play_btn->isChecked());
            return true;
        case Qt::Key_Left:
            seekTo(now - (shift ? kLargeSeekMs : kSmallSeekMs));
            return true;
        case Qt::Key_Right:
            seekTo(now + (shift ? kLargeSeekMs : kSmallSeekMs));
            return true;
        case Qt::Key_Comma:
        case Qt::Key_Less:
            stepFrame(-1);
            return true;
        case Qt::Key_Period:
        case Qt::Key_Greater:
            stepFrame(1);
            return true;
        case Qt::Key_Home:
            seekTo(0);
            return true;
        case Qt::Key_End:
            seekTo(m_slider->duration());
            return true;
        case Qt::Key_I:
            slotSetStartSegment();
            return true;
        case Qt::Key_O:
            slotSetEndSegment();
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            slotAddSegment();
            return true;
        case Qt::Key_Delete:
            removeSelectedSegment();
            return true;
        default:
            return false;
    }
}

void ResourceEditWidget::seekTo(qint64 ms) {
    if (!m_data_wrapper) {
        return;
    }
    const qint64 target = qBound<qint64>(0, ms, m_slider->duration());
    // The bar moves at once so that repeated keys add up before the engine answers.
    m_slider->setPosition(target);
    m_data_wrapper->seek(target);
}

void ResourceEditWidget::stepFrame(int direction) {
    if (!m_data_wrapper) {
        return;
    }
    if (m_play_btn->isChecked()) {
        slotPause();
    }
    if (m_frame_times.isEmpty()) {
        std::shared_ptr<_RootItem> root = m_data_wrapper->getRootItem();
        if (!root || !m_frame_times.load(root->video_path)) {
            return;
        }
    }
    const qint64 target = m_frame_times.step(m_slider->position(), direction);
    if (target >= 0) {
        seekTo(target);
    }
}

void ResourceEditWidget::removeSelectedSegment() {
    const int row = m_table->currentRow();
    auto* cell = row >= 0 ? qobject_cast<TableSegmentOperateWidget*>(m_table->cellWidget(row, 2)) : nullptr;
    if (cell) {
        removeSegment(cell->segmentId());
    }
}

bool ResourceEditWidget::keyFilter(QObject* watched, QEvent* event) {
    // Keys only reach widgets of the window that has the keyboard, so the receiver tells which.
    if (event->type() != QEvent::KeyPress) {
        return false;
    }
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != this) {
        return false;
    }
    return handleShortcut(widget, static_cast<QKeyEvent*>(event));
}

void ResourceEditWidget::slotSegmentDoubleClicked(int row) {
    auto* cell = qobject_cast<TableSegmentOperateWidget*>(m_table->cellWidget(row, 2));
    if (!cell || !m_data_wrapper) {
        return;
    }
    const auto segments = m_data_wrapper->getSegments();
    const auto it = segments.constFind(cell->segmentId());
    if (it != segments.constEnd() && it.value()) {
        seekTo(it.value()->begin_time);
    }
}

void ResourceEditWidget::refreshTimelineSegments() {
    QVector<QPair<qint64, qint64>> spans;
    if (m_data_wrapper) {
        for (const auto& segment : m_data_wrapper->sortedSegments()) {
            spans.append(qMakePair(segment->begin_time, segment->end_time));
        }
    }
    m_slider->setKeptSegments(spans);
    // A preview plays the segments it started with; a change of them ends it.
    if (m_preview_btn->isChecked()) {
        m_preview_btn->setChecked(false);
    }
    m_preview_btn->setEnabled(!spans.isEmpty());
}

// While the playhead is dragged the picture follows: at most one seek per interval, the latest
// position each time; the release seeks exactly where the drag ended.
void ResourceEditWidget::slotDragPosition(qint64 ms) {
    m_drag_target = ms;
    if (!m_drag_timer.isActive()) {
        sendDragSeek();
        m_drag_timer.start();
    }
}

void ResourceEditWidget::sendDragSeek() {
    if (!m_data_wrapper || m_drag_target < 0 || !m_slider->isPressed()) {
        m_drag_timer.stop();
        return;
    }
    if (m_drag_target != m_drag_sent) {
        m_drag_sent = m_drag_target;
        m_data_wrapper->seek(m_drag_target);
    }
}
