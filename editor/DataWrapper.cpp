#define FLOG_SOURCE "editor/DataWrapper"
#include "DataWrapper.h"

#include <QCoreApplication>
#include <QDir>
#include <QThread>

#include "DataWrapperObserver.h"
#include "FLog.h"
#include "FileHandler.h"
#include "WorkspaceJournal.h"

DataWrapper::DataWrapper(QObject* parent) : QObject(parent) {
    FLOG(FLOG_DEBUG, "enter func : %s", "DataWrapper::DataWrapper");
    m_cursors.fill(-1);
    m_event_queue = std::make_shared<FEventQueue>();
}

DataWrapper::~DataWrapper() {
    FLOG(FLOG_DEBUG, "enter func : %s", "DataWrapper::~DataWrapper");
    // Stop the queue first: engine reports that still arrive while the engine shuts down are
    // dropped instead of emitting signals from an object that is going away.
    m_event_queue->stop();
    if (m_media_core) {
        m_media_core->stop();
        m_media_core.reset();
    }
    if (m_root_item) {
        // Absolute paths only: the current directory is process-wide and other threads rely on it.
        const QString paths[] = {m_root_item->tmp_edit_path, m_root_item->tmp_path};
        for (const QString& path : paths) {
            if (path.isEmpty()) {
                continue;
            }
            // Safe against a kill at any moment: the folder stays recorded until it is gone.
            WorkspaceJournal::removeRecorded(QDir(path).absolutePath());
        }
    }
}

void DataWrapper::connectSignals() {
    std::call_once(m_connect_once, [this] {
        connect(this, &DataWrapper::signalCurrentTimePoint, this, &DataWrapper::slotCurrentTimePoint,
                Qt::QueuedConnection);
        connect(this, &DataWrapper::signalStop, this, &DataWrapper::slotStop, Qt::QueuedConnection);
        connect(this, &DataWrapper::signalSeek, this, &DataWrapper::slotSeek, Qt::QueuedConnection);
    });
}

void DataWrapper::setObserver(DataWrapperObserver* observer) {
    m_observer = observer;
}

void DataWrapper::setTranscode(bool on) {
    m_transcode = on;
}

QString DataWrapper::savedPath() const {
    return m_file_handler ? m_file_handler->packedPath() : QString();
}

std::shared_ptr<_RootItem> DataWrapper::getRootItem() {
    return std::atomic_load(&m_root_item);
}

void DataWrapper::setRootItem(std::shared_ptr<_RootItem> root) {
    std::atomic_store(&m_root_item, std::move(root));
    m_cursors.fill(-1);
}

void DataWrapper::setMediaCore(std::shared_ptr<IMediaCore> core) {
    m_media_core = std::move(core);
}

// ---- playback control ----

void DataWrapper::play() {
    FLOG(FLOG_DEBUG, "enter func : %s", "DataWrapper::play");
    if (!m_media_core) {
        FLOG(FLOG_WARN, "m_media_core is empty.");
        return;
    }
    m_media_core->play(0);
}

void DataWrapper::pause() {
    FLOG(FLOG_DEBUG, "enter func : %s", "DataWrapper::pause");
    if (!m_media_core) {
        FLOG(FLOG_WARN, "m_media_core is empty.");
        return;
    }
    m_media_core->pause(true);
}

void DataWrapper::resume() {
    FLOG(FLOG_DEBUG, "enter func : %s", "DataWrapper::resume");
    if (!m_media_core) {
        FLOG(FLOG_WARN, "m_media_core is empty.");
        return;
    }
    m_media_core->pause(false);
}

void DataWrapper::stop() {
    FLOG(FLOG_DEBUG, "enter func : %s", "DataWrapper::stop");
    if (!m_media_core) {
        FLOG(FLOG_WARN, "m_media_core is empty.");
        return;
    }
    m_media_core->stop();
}

// ---- engine notifications (any thread) ----

void DataWrapper::OnTimePoint(qint64 ms) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app && QThread::currentThread() == app->thread()) {
        slotCurrentTimePoint(ms);
        return;
    }
    m_event_queue->post([this, ms] { emit signalCurrentTimePoint(ms); });
}

void DataWrapper::OnPlay() {
    FLOG(FLOG_DEBUG, "enter func : %s", "DataWrapper::OnPlay");
    m_event_queue->post([this] { emit signalPlay(); });
}

void DataWrapper::OnStop() {
    FLOG(FLOG_DEBUG, "enter func : %s", "DataWrapper::OnStop");
    m_event_queue->post([this] { emit signalStop(); });
}

void DataWrapper::OnReplay() {
    FLOG(FLOG_DEBUG, "enter func : %s", "DataWrapper::OnReplay");
    m_event_queue->post([this] { emit signalSeek(0); });
}

void DataWrapper::OnSeek(qint64 ms) {
    FLOG(FLOG_DEBUG, "seek to :%lldms", static_cast<long long>(ms));
    m_event_queue->post([this, ms] { emit signalSeek(ms); });
}

void DataWrapper::OnMediaCrop(int code) {
    FLOG(FLOG_INFO, "enter func : %s code:%d", "DataWrapper::OnMediaCrop", code);
    setCompletion(code);
}

void DataWrapper::OnMediaMerg(int code) {
    FLOG(FLOG_INFO, "enter func : %s code:%d", "DataWrapper::OnMediaMerg", code);
    setCompletion(code);
}

void DataWrapper::OnPlayingFinished(bool pause) {
    emit signalPlayingFinished(pause);
}

void DataWrapper::setCompletion(int code) {
    std::lock_guard<std::mutex> lock(m_promise_mutex);
    try {
        m_promise.set_value(code);
    } catch (const std::future_error&) {
        // A second report for one request must not take the engine's thread down.
        FLOG(FLOG_ERROR, "completion reported twice, code %d ignored", code);
    }
}

int DataWrapper::waitForCompletion() {
    std::future<int> future;
    {
        std::lock_guard<std::mutex> lock(m_promise_mutex);
        try {
            future = m_promise.get_future();
        } catch (const std::future_error&) {
            m_promise = std::promise<int>();
            future = m_promise.get_future();
        }
    }
    const int code = future.get();
    {
        std::lock_guard<std::mutex> lock(m_promise_mutex);
        m_promise = std::promise<int>();
    }
    return code;
}

// ---- replay dispatch (GUI thread) ----

void DataWrapper::setShownSpans(const QVector<QPair<qint64, qint64>>& spans) {
    m_shown_spans = spans;
}

bool DataWrapper::isShownTime(qint64 ms) const {
    if (m_shown_spans.isEmpty()) {
        return true;
    }
    for (const auto& span : m_shown_spans) {
        if (ms >= span.first && ms < span.second) {
            return true;
        }
    }
    return false;
}

namespace {
// Messages are left out of a preview when they fall in a gap; the whiteboard and the page are state
// and follow the timeline as they are.
bool isMessageKind(int kind) {
    return kind == VRK_KIND_CHAT || kind == VRK_KIND_QUESTION || kind == VRK_KIND_ANSWER;
}
}  // namespace

template <typename T>
bool DataWrapper::dispatchPlain(const QList<std::shared_ptr<T>>& list, int kind,
                                std::shared_ptr<T>* handedOut) {
    if (list.isEmpty()) {
        return false;
    }
    qint32& c = m_cursors[kind];
    const qint64 now = m_current_ms;
    bool handed = false;
    if (c < 0) {
        if (list.first() && list.first()->time <= now) {
            c = 0;
            if (m_observer && (!isMessageKind(kind) || isShownTime(list.first()->time))) {
                m_observer->onItem(shared_from_this(), list.first());
                handed = true;
            }
            if (handedOut) {
                *handedOut = list.first();
            }
        }
        return handed;
    }
    for (int i = c + 1; i < list.size() && list.at(i) && list.at(i)->time <= now; ++i) {
        if (m_observer && (!isMessageKind(kind) || isShownTime(list.at(i)->time))) {
            m_observer->onItem(shared_from_this(), list.at(i));
            handed = true;
        }
        if (handedOut) {
            *handedOut = list.at(i);
        }
        c = i;
    }
    return handed;
}

bool DataWrapper::dispatchDraw(const QList<std::shared_ptr<_DrawItem>>& list) {
    if (list.isEmpty()) {
        return false;
    }
    qint32& c = m_cursors[VRK_KIND_DRAW];
    if (c < 0) {
        return dispatchPlain(list, VRK_KIND_DRAW);
    }
    const qint64 now = m_current_ms;
    QList<std::shared_ptr<_VRKItemBase>> batch;
    while (c < list.size() && list.at(c)->time <= now && c + 1 < list.size() && list.at(c + 1)->time <= now) {
        batch.append(list.at(c + 1));
        ++c;
    }
    if (batch.isEmpty() || !m_observer) {
        return false;
    }
    m_observer->onItemList(shared_from_this(), batch, VRK_KIND_DRAW);
    return true;
}

bool DataWrapper::refreshPage(const QList<std::shared_ptr<_DrawItem>>& list,
                              const std::shared_ptr<_PageChangeItem>& page) {
    QList<std::shared_ptr<_VRKItemBase>> collected;
    for (const auto& d : list) {
        if (!d || d->time > page->time) {
            continue;
        }
        const bool samePage =
            d->data.type != 8 && d->data.docid == page->docId && d->pageNum == page->pageNum;
        const bool otherPageReset =
            d->data.type == 8 && d->data.docid != page->docId && d->pageNum != page->pageNum;
        if (!samePage && !otherPageReset) {
            continue;
        }
        collected.append(d);
        if (d->time == page->time) {
            ++m_cursors[VRK_KIND_DRAW];
        }
    }
    if (collected.isEmpty() || !m_observer) {
        return false;
    }
    m_observer->onItemList(shared_from_this(), collected, VRK_KIND_DRAW);
    return true;
}

void DataWrapper::slotCurrentTimePoint(qint64 now_ms) {
    std::shared_ptr<_RootItem> root = m_root_item;
    if (!root || now_ms < 0 || !root->datas || !root->datas->meta_item) {
        return;
    }
    // Once only: after that seek lands the engine reports exactly 0 again, and asking again at
    // every 0 would keep playback at the start for ever.
    if (m_current_ms == 0 && m_media_core && !m_start_seek_asked) {
        m_start_seek_asked = true;
        m_media_core->seek(0);
    }
    m_current_ms = now_ms;
    const _MetaItem& meta = *root->datas->meta_item;

    std::shared_ptr<_PageChangeItem> lastPage;
    dispatchPlain(meta.pageChange, VRK_KIND_PAGE_CHANGE, &lastPage);
    bool drawHanded = false;
    if (lastPage) {
        drawHanded = refreshPage(meta.draw, lastPage);
    }
    if (!drawHanded) {
        dispatchDraw(meta.draw);
    }
    dispatchPlain(meta.question, VRK_KIND_QUESTION);
    dispatchPlain(meta.answer, VRK_KIND_ANSWER);
    dispatchPlain(meta.chatLog, VRK_KIND_CHAT);
}

template <typename T>
void DataWrapper::seekList(const QList<std::shared_ptr<T>>& list, int kind, qint64 now) {
    qint32& c = m_cursors[kind];
    c = -1;
    QList<std::shared_ptr<_VRKItemBase>> collected;
    for (const auto& item : list) {
        if (item && item->time <= now) {
            if (!isMessageKind(kind) || isShownTime(item->time)) {
                collected.append(item);
            }
            ++c;
        }
    }
    if (m_observer) {
        m_observer->onItemList(shared_from_this(), collected, kind);
    }
}

void DataWrapper::slotSeek(qint64 now_ms) {
    FLOG(FLOG_DEBUG, "enter func : %s", "DataWrapper::slotSeek");
    std::shared_ptr<_RootItem> root = m_root_item;
    if (root && root->datas && root->datas->meta_item) {
        const _MetaItem& meta = *root->datas->meta_item;
        seekList(meta.pageChange, VRK_KIND_PAGE_CHANGE, now_ms);
        seekList(meta.draw, VRK_KIND_DRAW, now_ms);
        seekList(meta.question, VRK_KIND_QUESTION, now_ms);
        seekList(meta.answer, VRK_KIND_ANSWER, now_ms);
        seekList(meta.chatLog, VRK_KIND_CHAT, now_ms);
    }
    FLOG(FLOG_DEBUG, "leave func : %s", "DataWrapper::slotSeek");
}

void DataWrapper::slotStop() {
    m_cursors.fill(-1);
}
