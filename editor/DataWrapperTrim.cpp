// The segment list of a session and the re-timing of its events onto the cut timeline.
#define FLOG_SOURCE "editor/DataWrapper"
#include "DataWrapper.h"

#include <QHash>
#include <QPair>
#include <QSet>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "FLog.h"

namespace {

// Times in meta.json are whole seconds; a remainder of exactly 500 rounds down.
qint64 roundToSecond(qint64 x) {
    const qint32 v = static_cast<qint32>(x);
    qint32 q = v / 1000;
    const qint32 r = v % 1000;
    if (r > 500) {
        ++q;
    }
    return static_cast<qint64>(q) * 1000;
}

}  // namespace

// ---- segments ----

bool DataWrapper::addSegment(std::shared_ptr<_Segment> segment) {
    if (!segment) {
        FLOG(FLOG_ERROR, "add segment is fail, because segment is empty");
        return false;
    }
    FLOG(FLOG_INFO, "add segment:%d,%d", static_cast<int>(segment->begin_time),
         static_cast<int>(segment->end_time));
    if (m_segments.contains(segment->id)) {
        FLOG(FLOG_WARN, "segment has exist.");
        return false;
    }
    m_segments.insert(segment->id, segment);
    return true;
}

bool DataWrapper::tryAddSegment(std::shared_ptr<_Segment> segment) {
    if (segment) {
        const qint64 nb = segment->begin_time;
        const qint64 ne = segment->end_time;
        for (const auto& e : m_segments) {
            const bool startsInside = e->begin_time < nb && nb < e->end_time;
            const bool endsInside = e->begin_time < ne && ne < e->end_time;
            const bool covers = nb <= e->begin_time && e->end_time <= ne;
            if (startsInside || endsInside || covers) {
                return false;
            }
        }
    }
    return addSegment(segment);
}

bool DataWrapper::removeSegment(const QString& id) {
    FLOG(FLOG_INFO, "remove a senment:%s", qUtf8Printable(id));
    m_segments.remove(id);
    return true;
}

QMap<QString, std::shared_ptr<_Segment>> DataWrapper::getSegments() {
    return m_segments;
}

QVector<std::shared_ptr<_Segment>> DataWrapper::sortedSegments() {
    QVector<std::shared_ptr<_Segment>> result;
    for (const auto& s : m_segments) {
        int pos = 0;
        for (int j = result.size() - 1; j >= 0; --j) {
            if (result.at(j)->begin_time < s->begin_time) {
                pos = j + 1;
                break;
            }
        }
        result.insert(pos, s);
    }
    return result;
}

qint64 DataWrapper::maxSegmentEnd() {
    qint32 value = 0;
    for (const auto& s : m_segments) {
        if (s->end_time > value) {
            value = static_cast<qint32>(s->end_time);
        }
    }
    return value;
}

void DataWrapper::updateActualDuration(const QString& id, qint64 ms) {
    if (id.isEmpty() || ms <= 0) {
        return;
    }
    for (auto& s : m_segments) {
        if (s->id == id) {
            s->actual_duration = ms;
        }
    }
}

// ---- trimming ----

namespace {

// A measured piece length is trusted only within 3 seconds of the requested stretch.
qint64 trustedLength(const _Segment& segment) {
    const qint64 planned = segment.end_time - segment.begin_time;
    if (segment.actual_duration > 0 && std::llabs(planned - segment.actual_duration) < 3000) {
        return segment.actual_duration;
    }
    return planned;
}

// The segments in ascending begin order with running sums, so that each event finds its segment by
// binary search instead of walking the list. Running maxima of the ends keep the answers exactly
// those of a walk from the front, even for segments that overlap.
class SegmentTimeline {
public:
    explicit SegmentTimeline(const QVector<std::shared_ptr<_Segment>>& sorted) {
        const int n = sorted.size();
        m_begin.reserve(n);
        m_end.reserve(n);
        m_before.reserve(n + 1);
        m_reach_end.reserve(n);
        m_reach_any.reserve(n);
        qint64 sum = 0;
        for (int k = 0; k < n; ++k) {
            const _Segment& s = *sorted.at(k);
            m_begin.push_back(s.begin_time);
            m_end.push_back(s.end_time);
            m_before.push_back(sum);
            sum += trustedLength(s);
            const qint64 any = std::max(s.begin_time, s.end_time);
            m_reach_end.push_back(k == 0 ? s.end_time : std::max(m_reach_end.back(), s.end_time));
            m_reach_any.push_back(k == 0 ? any : std::max(m_reach_any.back(), any));
        }
        m_before.push_back(sum);
    }

    // Old time to new timeline; true when t lies inside a kept segment.
    bool map(qint64 t, qint64& mapped) const {
        // The first segment that t does not lie after.
        const size_t k =
            size_t(std::lower_bound(m_reach_end.begin(), m_reach_end.end(), t) - m_reach_end.begin());
        mapped = m_before[k];
        if (k == m_end.size()) {
            return false;
        }
        if (m_begin[k] <= t && t < m_end[k]) {
            mapped = roundToSecond(mapped + t - m_begin[k]);
            return true;
        }
        if (t == m_end[k]) {
            // The planned length, even when a measured one exists; left unrounded.
            mapped += m_end[k] - m_begin[k];
            return false;
        }
        mapped = roundToSecond(mapped);
        return false;
    }

    // New time of a kept draw event: a time equal to a segment's end counts as inside it, and the
    // result is always rounded.
    qint64 drawTime(qint64 t) const {
        const size_t k =
            size_t(std::lower_bound(m_reach_any.begin(), m_reach_any.end(), t) - m_reach_any.begin());
        qint64 acc = m_before[k];
        if (k < m_begin.size() && t > m_begin[k]) {
            acc += t - m_begin[k];
        }
        return roundToSecond(acc);
    }

    // The end of the first segment that begins after t; false when there is none.
    bool nextBeginAfter(qint64 t, qint64* end) const {
        const auto it = std::upper_bound(m_begin.begin(), m_begin.end(), t);
        if (it == m_begin.end()) {
            return false;
        }
        *end = m_end[size_t(it - m_begin.begin())];
        return true;
    }

private:
    std::vector<qint64> m_begin;
    std::vector<qint64> m_end;
    std::vector<qint64> m_before;     // summed lengths of the segments before index k; total at the end
    std::vector<qint64> m_reach_end;  // largest end among segments 0..k
    std::vector<qint64> m_reach_any;  // largest of begin and end among segments 0..k
};

// A document page, as draw events and page changes name it.
using PageKey = QPair<QString, qint16>;

// Moves a kept element over a slot whose event was dropped; the unused end is cut off afterwards.
template <typename T>
void keepAt(QList<std::shared_ptr<T>>& list, int from, int to) {
    if (from != to) {
        list[to] = std::move(list[from]);
    }
}

}  // namespace

qint64 DataWrapper::segmentLength(const _Segment& segment) const {
    return trustedLength(segment);
}

bool DataWrapper::mapTime(qint64 t, qint64& mapped) {
    return SegmentTimeline(sortedSegments()).map(t, mapped);
}

// One pass over the list: each event is decided from itself and the events after it (still at
// their old times), kept events are moved down over the dropped ones, and the tail is cut once.
// `i` in the log lines is the event's index as if each drop had been removed at once.
template <typename T>
void DataWrapper::updateSelectItem(QList<std::shared_ptr<T>>& list) {
    const SegmentTimeline timeline(sortedSegments());
    const qint64 maxEnd = maxSegmentEnd();
    const int n = list.size();
    int kept = 0;
    int runEnd = 0;  // first index after the run of equal times measured last
    for (int k = 0; k < n; ++k) {
        T* const cur = list.at(k).get();
        const int i = kept;
        FLOG(FLOG_DEBUG, "%s cur_item time_ms is %d.", "DataWrapper::updateSelectItem", cur->time);
        qint64 m = 0;
        if (timeline.map(cur->time, m)) {
            FLOG(FLOG_DEBUG, "cur item time_ms set %lld.", static_cast<long long>(m));
            cur->time = static_cast<qint32>(m);
            keepAt(list, k, kept++);
            continue;
        }
        bool keep = false;
        if (cur->time >= maxEnd) {
            keep = false;
        } else if (k == n - 1) {
            FLOG(FLOG_DEBUG, "%d cur_item time ms is %d , begin_time is %d.", i, cur->time,
                 static_cast<int>(m));
            if (m < 0) {
                FLOG(FLOG_DEBUG, "cur_item time_ms less than 0 begin_time is %d i is %d.",
                     static_cast<int>(m), i);
                m = 0;
            }
            keep = true;
        } else {
            const T* const next = list.at(k + 1).get();
            qint64 followingEnd = 0;
            qint64 m2 = 0;
            if (timeline.nextBeginAfter(cur->time, &followingEnd) && followingEnd <= next->time) {
                // cur stays in force during the whole of the following segment.
                if (m < 0) {
                    FLOG(FLOG_DEBUG,
                         "current item less than start next item big than end current item set time ms 0.i "
                         "%d. ",
                         i);
                    m = 0;
                }
                keep = true;
            } else if (timeline.map(next->time, m2)) {
                if (m2 == m) {
                    FLOG(FLOG_DEBUG, "next begin time is selected remove i %d", i);
                    keep = false;
                } else {
                    if (m < 0) {
                        FLOG(FLOG_DEBUG, "cur time ms less than 0 set i:%d 0", i);
                        m = 0;
                    }
                    keep = true;
                }
            } else if (next->time == cur->time) {
                // Every event of a run of equal times sees the same first later time.
                if (runEnd <= k) {
                    runEnd = k + 1;
                    while (runEnd < n && list.at(runEnd)->time == cur->time) {
                        ++runEnd;
                    }
                }
                qint64 m3 = 0;
                if (runEnd < n && timeline.map(list.at(runEnd)->time, m3)) {
                    if (m < 0) {
                        FLOG(FLOG_DEBUG, "cur_item time ms less than 0 i :%d .", i);
                        m = 0;
                    }
                    keep = true;
                }
            }
            if (keep) {
                FLOG(FLOG_DEBUG, "%d cur_item time ms is %d , begin_time is %d.", i, cur->time,
                     static_cast<int>(m));
            }
        }
        if (keep) {
            cur->time = static_cast<qint32>(m);
            keepAt(list, k, kept++);
        } else {
            FLOG(FLOG_DEBUG, "remove index is :%d.", i);
        }
    }
    if (kept < n) {
        list.erase(list.begin() + kept, list.end());
    }
}

template void DataWrapper::updateSelectItem<_PageChangeItem>(QList<std::shared_ptr<_PageChangeItem>>&);
template void DataWrapper::updateSelectItem<_AnimationItem>(QList<std::shared_ptr<_AnimationItem>>&);
template void DataWrapper::updateSelectItem<_AnswerItem>(QList<std::shared_ptr<_AnswerItem>>&);
template void DataWrapper::updateSelectItem<_QuestionItem>(QList<std::shared_ptr<_QuestionItem>>&);
template void DataWrapper::updateSelectItem<_ChatLogItem>(QList<std::shared_ptr<_ChatLogItem>>&);

// Walks the draw list backwards. A draw event is kept when its page is among the kept page changes
// and it lies inside a segment, or lies in a gap with no clear of that page at or after its time
// later in the list (a clear in a gap therefore wipes itself). The later clears are held as the
// latest clear time per page, taken after their own re-timing, as the events compare them then.
void DataWrapper::updateSelectDrawItem(const QList<std::shared_ptr<_PageChangeItem>>& pageChanges) {
    std::shared_ptr<_RootItem> root = m_root_item;
    if (!root || !root->datas || !root->datas->meta_item) {
        return;
    }
    QList<std::shared_ptr<_DrawItem>>& draws = root->datas->meta_item->draw;
    const SegmentTimeline timeline(sortedSegments());
    const qint64 maxEnd = maxSegmentEnd();
    QSet<PageKey> shown;
    for (const auto& p : pageChanges) {
        if (p) {
            shown.insert(PageKey(p->docId, p->pageNum));
        }
    }
    const bool anyPage = !shown.isEmpty();
    QHash<PageKey, qint32> latestClear;
    const int n = draws.size();
    int front = n;  // kept events gather at [front, n)
    for (int i = n - 1; i >= 0; --i) {
        _DrawItem* const d = draws.at(i).get();
        const bool isClear = anyPage && d->data.type == 0;
        bool keep = false;
        if (isClear) {
            FLOG(FLOG_DEBUG, "add draw clear %d time %d", d->pageNum, d->time);
        }
        const PageKey key(d->data.docid, d->pageNum);
        if (anyPage && d->data.type != 8 && d->time <= maxEnd && shown.contains(key)) {
            qint64 mapped = 0;
            if (timeline.map(d->time, mapped)) {
                keep = true;
                if (d->docName == QLatin1String("WhiteBorad")) {
                    FLOG(FLOG_DEBUG, "add white page %d", d->pageNum);
                }
            } else if (!isClear) {
                // In a gap on a kept page: stays unless a later clear wipes that page anyway.
                const auto it = latestClear.constFind(key);
                keep = it == latestClear.constEnd() || it.value() < d->time;
            }
        }
        if (!keep) {
            FLOG(FLOG_DEBUG, "remove item %d num %d time %d", i, d->pageNum, d->time);
        } else {
            d->time = static_cast<qint32>(timeline.drawTime(d->time));
            keepAt(draws, i, --front);
        }
        if (isClear) {
            auto it = latestClear.find(key);
            if (it == latestClear.end()) {
                latestClear.insert(key, d->time);
            } else if (it.value() < d->time) {
                it.value() = d->time;
            }
        }
    }
    if (front > 0) {
        draws.erase(draws.begin(), draws.begin() + front);
    }
}

void DataWrapper::trimEventsToSegments() {
    std::shared_ptr<_RootItem> root = m_root_item;
    if (!root || !root->datas || !root->datas->meta_item) {
        return;
    }
    _MetaItem& meta = *root->datas->meta_item;
    while (!meta.draw.isEmpty() && meta.draw.first()->data.type == 0) {
        FLOG(FLOG_DEBUG, "remove type %d", meta.draw.first()->data.type);
        meta.draw.removeFirst();
    }
    while (!meta.draw.isEmpty() && meta.draw.first()->data.type == 8) {
        FLOG(FLOG_DEBUG, "remove type %d", meta.draw.first()->data.type);
        meta.draw.removeFirst();
    }
    FLOG(FLOG_INFO, "update select item page change.");
    updateSelectItem(meta.pageChange);
    FLOG(FLOG_INFO, "update select draw item after page change update");
    updateSelectDrawItem(meta.pageChange);
    updateSelectItem(meta.animation);
    updateSelectItem(meta.answer);
    updateSelectItem(meta.question);
    updateSelectItem(meta.chatLog);
}
