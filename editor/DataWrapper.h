#pragma once
// One opened package: its record tree, its media engine object, the replay of its events in step
// with the play position, its cut segments, and the cut and merge of the package.
#include <QList>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QString>
#include <QVector>
#include <qwindowdefs.h>

#include <array>
#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <mutex>

#include "FEventQueue.h"
#include "IMediaCore.h"
#include "ResourceItem.h"
#include "Segment.h"

class DataWrapperObserver;
class FileHandler;

class DataWrapper : public QObject,
                    public IMediaCoreObserver,
                    public std::enable_shared_from_this<DataWrapper> {
    Q_OBJECT
public:
    explicit DataWrapper(QObject* parent = nullptr);
    ~DataWrapper() override;

    // Starts the read on a detached worker; `done` gets 0 (tree read) or -2 on that worker.
    // Returns 0 when started, -1 when a tree is already held.
    qint16 readFile(const QString& path, std::function<void(int)> done, bool keepEncrypt = false);
    void initMediaCore(WId window);
    void connectSignals();
    void setObserver(DataWrapperObserver* observer);
    void setTranscode(bool on);
    std::shared_ptr<_RootItem> getRootItem();
    // Installs a record tree that was not read from a package (the exporter and tests use it).
    void setRootItem(std::shared_ptr<_RootItem> root);
    // Installs an engine object made elsewhere (tests use it to script the engine's answers).
    void setMediaCore(std::shared_ptr<IMediaCore> core);

    // Only chat, questions and answers inside these spans (ms) are handed to the observer, as a
    // preview of a cut shows them; an empty list shows all.
    void setShownSpans(const QVector<QPair<qint64, qint64>>& spans);
    bool isShownTime(qint64 ms) const;

    void play();
    void pause();
    void resume();
    void stop();
    void seek(qint64 ms);

    qint64 getDuration();
    bool getVideoSize(int* width, int* height);

    // Segments.
    bool addSegment(std::shared_ptr<_Segment> segment);
    bool tryAddSegment(std::shared_ptr<_Segment> segment);
    bool removeSegment(const QString& id);
    QMap<QString, std::shared_ptr<_Segment>> getSegments();
    QVector<std::shared_ptr<_Segment>> sortedSegments();
    qint64 maxSegmentEnd();
    void updateActualDuration(const QString& id, qint64 ms);

    // Event trimming onto the segments' timeline.
    bool mapTime(qint64 t, qint64& mapped);
    template <typename T>
    void updateSelectItem(QList<std::shared_ptr<T>>& list);
    void updateSelectDrawItem(const QList<std::shared_ptr<_PageChangeItem>>& pageChanges);
    void trimEventsToSegments();

    // Cut: 0 done, -1 no tree, -3 meta.json not written, -4 packing failed, else the engine's code.
    qint16 save(const QString& file);
    // Merge: engine code other than 2, else 0 done, -1/-2 from packing (-1 also: a session without
    // a tree), -3 meta.json not written.
    qint16 merge(QList<std::shared_ptr<DataWrapper>> others, int width, int height, const QString& file);
    // Where the last successful save or merge put its package: the path it was given, or the next
    // free name when a file appeared there meanwhile.
    QString savedPath() const;
    // Optional: progress of save and merge as a fraction 0..1, called on the thread running them.
    void setProgressCallback(std::function<void(float)> progress);
    // Any thread: a running or later save or merge ends with kCancelled, its engine job stopped and
    // no package written. One-way: the session is not used for another cut afterwards.
    void cancel();
    bool isCancelled() const { return m_cancelled.load(); }
    static constexpr qint16 kCancelled = -5;

    // IMediaCoreObserver (any thread).
    void OnTimePoint(qint64 ms) override;
    void OnPlay() override;
    void OnStop() override;
    void OnReplay() override;
    void OnSeek(qint64 ms) override;
    void OnMediaCrop(int code) override;
    void OnMediaMerg(int code) override;
    void OnPlayingFinished(bool pause) override;

signals:
    void signalCurrentTimePoint(qint64 now_ms);
    void signalPlay();
    void signalStop();
    void signalSeek(qint64 now_ms);
    void signalPlayingFinished(bool pause);

private slots:
    void slotCurrentTimePoint(qint64 now_ms);
    void slotStop();
    void slotSeek(qint64 now_ms);

private:
    // Blocks until the engine reports the running crop or join, then arms a fresh promise.
    int waitForCompletion();
    void setCompletion(int code);
    template <typename T>
    bool dispatchPlain(const QList<std::shared_ptr<T>>& list, int kind,
                       std::shared_ptr<T>* handedOut = nullptr);
    bool dispatchDraw(const QList<std::shared_ptr<_DrawItem>>& list);
    bool refreshPage(const QList<std::shared_ptr<_DrawItem>>& list,
                     const std::shared_ptr<_PageChangeItem>& page);
    template <typename T>
    void seekList(const QList<std::shared_ptr<T>>& list, int kind, qint64 now);
    qint64 segmentLength(const _Segment& segment) const;
    // After a cancel: stops the engine's job (its destructor cancels and joins it) and reports.
    qint16 endCancelled(const char* stage);

    std::shared_ptr<IMediaCore> m_media_core;
    std::shared_ptr<_RootItem> m_root_item;
    std::shared_ptr<FileHandler> m_file_handler;
    QMap<QString, std::shared_ptr<_Segment>> m_segments;
    std::array<qint32, 6> m_cursors;
    DataWrapperObserver* m_observer = nullptr;
    std::promise<int> m_promise;
    std::mutex m_promise_mutex;  // the engine sets the promise on its thread while save/merge re-arm it
    std::shared_ptr<FEventQueue> m_event_queue;
    std::once_flag m_connect_once;
    qint64 m_current_ms = 0;
    bool m_start_seek_asked = false;  // the start seek goes out once: the engine reports 0 again after it
    bool m_transcode = false;
    std::function<void(float)> m_progress;
    std::atomic<bool> m_cancelled{false};
    QVector<QPair<qint64, qint64>> m_shown_spans;
    std::mutex m_cancel_mutex;  // a cancel from another thread reaches the engine object being released
};
