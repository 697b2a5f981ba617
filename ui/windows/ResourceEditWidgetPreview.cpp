// Preview of the cut: plays only the kept segments in order, jumping over the gaps, with the
// messages of the gaps left out of the views.
#define FLOG_SOURCE "editor/ResourceEditWidget"
#include <QPushButton>

#include "CustomSlider.h"
#include "DataWrapper.h"
#include "FLog.h"
#include "ResourceEditWidget.h"

namespace {
// Play reports come every few tens of milliseconds: the jump is asked this early so that no
// picture of the gap is shown before it lands.
constexpr qint64 kJumpLeadMs = 40;
}  // namespace

void ResourceEditWidget::slotPreviewToggled(bool on) {
    if (!m_data_wrapper) {
        return;
    }
    m_preview_spans.clear();
    if (on) {
        for (const auto& segment : m_data_wrapper->sortedSegments()) {
            m_preview_spans.append(qMakePair(segment->begin_time, segment->end_time));
        }
        if (m_preview_spans.isEmpty()) {
            m_preview_btn->setChecked(false);
            return;
        }
        FLOG(FLOG_INFO, "preview of %d segments", static_cast<int>(m_preview_spans.size()));
        m_data_wrapper->setShownSpans(m_preview_spans);
        m_preview_index = 0;
        seekTo(m_preview_spans.first().first);
        if (!m_play_btn->isChecked()) {
            slotPlay();
        }
        return;
    }
    m_data_wrapper->setShownSpans({});
    if (m_play_btn->isChecked()) {
        slotPause();
    }
}

bool ResourceEditWidget::previewFollow(qint64 now_ms) {
    if (m_preview_spans.isEmpty() || m_preview_index >= m_preview_spans.size()) {
        return false;
    }
    const auto& span = m_preview_spans.at(m_preview_index);
    if (now_ms + kJumpLeadMs < span.second && now_ms >= span.first - kJumpLeadMs) {
        return false;
    }
    if (now_ms < span.first) {
        // Still before the segment (the jump has not landed yet): nothing of the gap is shown.
        return true;
    }
    ++m_preview_index;
    if (m_preview_index >= m_preview_spans.size()) {
        slotPause();
        m_preview_btn->setChecked(false);
        return true;
    }
    seekTo(m_preview_spans.at(m_preview_index).first);
    return true;
}
