// The segment list of a session and the re-timing of its events onto the cut timeline.
#define FLOG_SOURCE "editor/DataWrapper"
#include "DataWrapper.h"

#include <cstdlib>

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

// A measured piece length is trusted only within 3 seconds of the requested stretch.
qint64 DataWrapper::segmentLength(const _Segment& segment) const {
    const qint64 planned = segment.end_time - segment.begin_time;
    if (segment.actual_duration > 0 && std::llabs(planned - segment.actual_duration) < 3000) {
        return segment.actual_duration;
    }
    return planned;
}

bool DataWrapper::mapTime(qint64 t, qint64& mapped) {
    mapped = 0;
    const QVector<std::shared_ptr<_Segment>> segments = sortedSegments();
    for (const auto& s : segments) {
        if (t > s->end_time) {
            mapped += segmentLength(*s);
            continue;
        }
        if (s->begin_time <= t && t < s->end_time) {
            mapped = roundToSecond(mapped + t - s->begin_time);
            return true;
        }
        if (t == s->end_time) {
            mapped += s->end_time - s->begin_time;
            return false;
        }
        mapped = roundToSecond(mapped);
        return false;
    }
    return false;
}

template <typename T>
void DataWrapper::updateSelectItem(QList<std::shared_ptr<T>>& list) {
    const QVector<std::shared_ptr<_Segment>> segments = sortedSegments();
    const qint64 maxEnd = maxSegmentEnd();
    int i = 0;
    while (i < list.size()) {
        const std::shared_ptr<T> cur = list.at(i);
        FLOG(FLOG_DEBUG, "%s cur_item time_ms is %d.", "DataWrapper::updateSelectItem", cur->time);
        qint64 m = 0;
        if (mapTime(cur->time, m)) {
            FLOG(FLOG_DEBUG, "cur item time_ms set %lld.", static_cast<long long>(m));
            cur->time = static_cast<qint32>(m);
            ++i;
            continue;
        }
        bool keep = false;
        if (cur->time >= maxEnd) {
            keep = false;
        } else if (i == list.size() - 1) {
            FLOG(FLOG_DEBUG, "%d cur_item time ms is %d , begin_time is %d.", i, cur->time,
                 static_cast<int>(m));
            if (m < 0) {
                FLOG(FLOG_DEBUG, "cur_item time_ms less than 0 begin_time is %d i is %d.",
                     static_cast<int>(m), i);
                m = 0;
            }
            keep = true;
        } else {
            const std::shared_ptr<T> next = list.at(i + 1);
            std::shared_ptr<_Segment> following;
            for (const auto& s : segments) {
                if (s->begin_time > cur->time) {
                    following = s;
                    break;
                }
            }
            qint64 m2 = 0;
            if (following && following->end_time <= next->time) {
                // cur stays in force during the whole of the following segment.
                if (m < 0) {
                    FLOG(FLOG_DEBUG,
                         "current item less than start next item big than end current item set time ms 0.i "
                         "%d. ",
                         i);
                    m = 0;
                }
                keep = true;
            } else if (mapTime(next->time, m2)) {
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
                int j = i + 1;
                while (j < list.size() && list.at(j)->time == cur->time) {
                    ++j;
                }
                qint64 m3 = 0;
                if (j < list.size() && mapTime(list.at(j)->time, m3)) {
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
            ++i;
        } else {
            FLOG(FLOG_DEBUG, "remove index is :%d.", i);
            list.removeAt(i);
        }
    }
}

template void DataWrapper::updateSelectItem<_PageChangeItem>(QList<std::shared_ptr<_PageChangeItem>>&);
template void DataWrapper::updateSelectItem<_AnimationItem>(QList<std::shared_ptr<_AnimationItem>>&);
template void DataWrapper::updateSelectItem<_AnswerItem>(QList<std::shared_ptr<_AnswerItem>>&);
template void DataWrapper::updateSelectItem<_QuestionItem>(QList<std::shared_ptr<_QuestionItem>>&);
template void DataWrapper::updateSelectItem<_ChatLogItem>(QList<std::shared_ptr<_ChatLogItem>>&);

void DataWrapper::updateSelectDrawItem(const QList<std::shared_ptr<_PageChangeItem>>& pageChanges) {
    std::shared_ptr<_RootItem> root = m_root_item;
    if (!root || !root->datas || !root->datas->meta_item) {
        return;
    }
    QList<std::shared_ptr<_DrawItem>>& draws = root->datas->meta_item->draw;
    const QVector<std::shared_ptr<_Segment>> segments = sortedSegments();
    const qint64 maxEnd = maxSegmentEnd();
    QList<std::shared_ptr<_DrawItem>> clears;
    for (int i = draws.size() - 1; i >= 0; --i) {
        const std::shared_ptr<_DrawItem> d = draws.at(i);
        bool keep = false;
        for (const auto& p : pageChanges) {
            if (!p) {
                continue;
            }
            if (d->data.type == 0) {
                FLOG(FLOG_DEBUG, "add draw clear %d time %d", d->pageNum, d->time);
                clears.append(d);
            }
            if (d->data.type == 8) {
                break;
            }
            if (d->time > maxEnd) {
                break;
            }
            qint64 mapped = 0;
            const bool inside = mapTime(d->time, mapped);
            if (inside && d->data.docid == p->docId && d->pageNum == p->pageNum) {
                keep = true;
                if (d->docName == QLatin1String("WhiteBorad")) {
                    FLOG(FLOG_DEBUG, "add white page %d", d->pageNum);
                }
                break;
            }
            if (inside) {
                continue;
            }
            if (d->pageNum != p->pageNum || d->data.docid != p->docId) {
                continue;
            }
            // In a gap on a kept page: stays unless a later clear wipes that page anyway.
            keep = true;
            for (const auto& c : clears) {
                if (c->time >= d->time && c->data.docid == d->data.docid && c->pageNum == d->pageNum) {
                    keep = false;
                    break;
                }
            }
            break;
        }
        if (!keep) {
            FLOG(FLOG_DEBUG, "remove item %d num %d time %d", i, d->pageNum, d->time);
            draws.removeAt(i);
            continue;
        }
        // Unlike mapTime, a time equal to a segment's end counts as inside it here.
        qint64 acc = 0;
        for (const auto& s : segments) {
            if (d->time <= s->begin_time) {
                break;
            }
            if (d->time <= s->end_time) {
                acc += d->time - s->begin_time;
                break;
            }
            acc += segmentLength(*s);
        }
        d->time = static_cast<qint32>(roundToSecond(acc));
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
