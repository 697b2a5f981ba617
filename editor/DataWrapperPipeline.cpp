// Reading a package, driving the media engine, and producing cut and merged packages.
#define FLOG_SOURCE "editor/DataWrapper"
#include "DataWrapper.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <chrono>
#include <thread>

#include "FLog.h"
#include "FileHandler.h"
#include "JsonResourceParse.h"

namespace {

// Engine paths use the platform's separators in the local 8-bit encoding.
std::string enginePath(const QString& path) {
    return QDir::toNativeSeparators(path).toLocal8Bit().toStdString();
}

std::string engineDir(const QString& path) {
    QString native = QDir::toNativeSeparators(path);
    if (!native.endsWith(QDir::separator())) {
        native += QDir::separator();
    }
    return native.toLocal8Bit().toStdString();
}

// Shifts the input's events onto the joined timeline and appends them in the same pass; the records
// are shared, only the list grows (once, to its final size).
template <typename T>
void appendShifted(QList<std::shared_ptr<T>>& into, const QList<std::shared_ptr<T>>& from, qint64 offset) {
    const bool share = into.isEmpty();
    if (!share) {
        into.reserve(into.size() + from.size());
    }
    for (const auto& item : from) {
        item->time = static_cast<qint32>(item->time + offset);
        if (!share) {
            into.append(item);
        }
    }
    if (share) {
        into = from;  // one list shared until either side changes
    }
}

// Drops a side-deflated meta.json that no packing took (a failed write, a cancel on the way).
class SideDeflateGuard {
public:
    explicit SideDeflateGuard(FileHandler& handler) : m_handler(handler) {}
    ~SideDeflateGuard() { m_handler.dropMetaDeflate(); }
    SideDeflateGuard(const SideDeflateGuard&) = delete;
    SideDeflateGuard& operator=(const SideDeflateGuard&) = delete;

private:
    FileHandler& m_handler;
};

}  // namespace

qint16 DataWrapper::readFile(const QString& path, std::function<void(int)> done, bool keepEncrypt) {
    FLOG(FLOG_INFO, "read file:%s", qUtf8Printable(path));
    if (getRootItem()) {
        FLOG(FLOG_WARN, "DtaWrapper has a root_item.");
        return -1;
    }
    // The worker holds the session so that dropping it while the read runs cannot free it under
    // the worker's feet; the last reference may then end on the worker.
    std::shared_ptr<DataWrapper> self = weak_from_this().lock();
    if (!self) {
        FLOG(FLOG_ERROR, "read file is refused: the session is not held by a shared pointer.");
        return -3;
    }
    if (!m_file_handler) {
        m_file_handler = std::make_shared<FileHandler>();
        m_file_handler->setOwner(weak_from_this());
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    std::shared_ptr<FileHandler> handler = m_file_handler;
    std::thread([self, handler, path, done, keepEncrypt]() mutable {
        handler->setKeepEncrypt(keepEncrypt);
        std::shared_ptr<_RootItem> root = handler->decompress(path);
        const bool ok = static_cast<bool>(root);
        std::atomic_store(&self->m_root_item, std::move(root));
        if (done) {
            done(ok ? 0 : -2);
        }
        handler.reset();
        self.reset();
    }).detach();
    return 0;
}

void DataWrapper::initMediaCore(WId window) {
    std::shared_ptr<_RootItem> root = getRootItem();
    if (!root) {
        FLOG(FLOG_ERROR, "init MediaCore is fail. The m_root_item is empty.");
        return;
    }
    m_media_core.reset();
    m_media_core = IMediaCore::create(this);
    const std::string video = QDir::toNativeSeparators(root->video_path).toUtf8().toStdString();
    if (!m_media_core || !m_media_core->open(video, window)) {
        m_media_core.reset();
        FLOG(FLOG_ERROR, "init MediaCore is fail. Return false.");
    }
    connectSignals();
}

void DataWrapper::seek(qint64 ms) {
    if (!m_media_core) {
        FLOG(FLOG_WARN, "m_media_core is empty.");
        return;
    }
    if (ms >= 0 && ms <= getDuration()) {
        // A position chosen before the first play report: the start seek must not undo it.
        m_start_seek_asked = true;
        m_media_core->seek(ms);
    } else {
        FLOG(FLOG_WARN, "timepoint overflow:%lld", static_cast<long long>(ms));
    }
}

qint64 DataWrapper::getDuration() {
    if (m_media_core) {
        return m_media_core->getDuration(std::string());
    }
    FLOG(FLOG_WARN, "m_media_core is empty.");
    std::shared_ptr<_RootItem> root = getRootItem();
    if (!root) {
        FLOG(FLOG_WARN, "m_root_item is empty.");
        return -2;
    }
    m_media_core = IMediaCore::create(this);
    if (!m_media_core) {
        return -2;
    }
    return m_media_core->getDuration(enginePath(root->video_path));
}

bool DataWrapper::getVideoSize(int* width, int* height) {
    if (m_media_core) {
        return m_media_core->getVideoSize(width, height, std::string());
    }
    FLOG(FLOG_WARN, "m_media_core is empty.");
    std::shared_ptr<_RootItem> root = getRootItem();
    if (!root) {
        FLOG(FLOG_WARN, "m_root_item is empty.");
        return false;
    }
    m_media_core = IMediaCore::create(this);
    if (!m_media_core) {
        return false;
    }
    return m_media_core->getVideoSize(width, height, enginePath(root->video_path));
}

qint16 DataWrapper::save(const QString& file) {
    FLOG(FLOG_INFO, "save file:%s", qUtf8Printable(file));
    std::shared_ptr<_RootItem> root = getRootItem();
    if (!root) {
        FLOG(FLOG_ERROR, "root item is empty!");
        return -1;
    }
    if (!m_media_core) {
        // Cropping and joining need no opened file, only an engine object.
        FLOG(FLOG_WARN, "m_media_core is empty.");
        m_media_core = IMediaCore::create(this);
        if (!m_media_core) {
            return -1;
        }
    }
    const std::string src = enginePath(root->video_path);
    const std::string dst = engineDir(root->tmp_edit_path);
    FLOG(FLOG_INFO, "startMediaCrop,src_file_name:%s, dst path:%s", src.c_str(), dst.c_str());

    if (m_media_core->needTranscode(src) || m_transcode) {
        m_media_core->transcode(src);
    }
    m_media_core->setOutputDir(dst);

    std::vector<std::string> pieces;
    QStringList pieceFiles;
    const QVector<std::shared_ptr<_Segment>> segments = sortedSegments();
    for (int n = 0; n < segments.size(); ++n) {
        const std::shared_ptr<_Segment>& s = segments.at(n);
        const QString name = QStringLiteral("c_%1").arg(n) + QStringLiteral(".mp4");
        CropRange range;
        range.begin = s->begin_time;
        range.end = s->end_time;
        range.name = "segment_c.mp4";
        if (m_cancelled.load()) {
            return endCancelled("crop");
        }
        m_media_core->startMediaCrop(src, {range}, name.toLocal8Bit().toStdString(), m_transcode);
        const std::string piece = dst + name.toLocal8Bit().toStdString();
        pieces.push_back(piece);
        pieceFiles << QDir(root->tmp_edit_path).filePath(name);
        const int code = waitForCompletion();
        if (m_cancelled.load()) {
            return endCancelled("crop");
        }
        if (code != MEDIA_CODE_SUCCESS) {
            FLOG(FLOG_ERROR, "crop of segment %d failed with code %d", n, code);
            return static_cast<qint16>(code);
        }
        if (m_media_core->getDuration(piece) != 0) {
            updateActualDuration(s->id, m_media_core->getDuration(piece));
            FLOG(FLOG_INFO, "update actual duration %d\n", static_cast<int>(s->actual_duration));
            FLOG(FLOG_INFO, "should duration %d\n", static_cast<int>(s->end_time - s->begin_time));
        }
        if (m_progress) {
            m_progress(float(n + 1) / float(segments.size() + 2));
        }
    }

    if (m_cancelled.load()) {
        return endCancelled("join");
    }
    m_media_core->startMediaMerge(pieces, "c.mp4", 0, 0, false);
    const int code = waitForCompletion();
    if (m_cancelled.load()) {
        return endCancelled("join");
    }
    if (code != MEDIA_CODE_SUCCESS) {
        FLOG(FLOG_ERROR, "join of the pieces failed with code %d", code);
        return static_cast<qint16>(code);
    }
    if (m_progress) {
        m_progress(float(segments.size() + 1) / float(segments.size() + 2));
    }
    const std::string joined = dst + "c.mp4";
    if (m_media_core->needTranscodeJoined(joined)) {
        m_media_core->transcode(joined);
    }
    for (const QString& piece : pieceFiles) {
        if (QFileInfo::exists(piece)) {
            QFile::remove(piece);
        }
    }

    trimEventsToSegments();

    if (!m_file_handler) {
        m_file_handler = std::make_shared<FileHandler>();
        m_file_handler->setOwner(weak_from_this());
    }
    // A plain package's meta.json is deflated for packing on a second thread while it is written.
    const SideDeflateGuard sideGuard(*m_file_handler);
    if (!JsonResourceParse::saveFile(root, root->tmp_edit_path + QStringLiteral("meta.json"),
                                     m_file_handler->deflateMetaWhileWriting(root->tmp_edit_path))) {
        FLOG(FLOG_ERROR, "write meta.json is fail.");
        return -3;
    }
    if (m_cancelled.load()) {
        return endCancelled("pack");
    }
    // Packing never leaves a partial file at `file`, and a file there now may be another task's.
    const qint16 packed = m_file_handler->compress(root, file);
    if (packed != 0) {
        FLOG(FLOG_ERROR, "pack the cut package is fail:%d", packed);
        return -4;
    }
    if (m_cancelled.load()) {
        // Cancelled while packing: the package just written is ours and unwanted.
        QFile::remove(m_file_handler->packedPath());
        return endCancelled("pack");
    }
    if (m_progress) {
        m_progress(1.0f);
    }
    return 0;
}

qint16 DataWrapper::merge(QList<std::shared_ptr<DataWrapper>> others, int width, int height,
                          const QString& file) {
    FLOG(FLOG_INFO, "merge file:%s", qUtf8Printable(file));
    std::shared_ptr<_RootItem> root = getRootItem();
    if (!root || !root->datas || !root->datas->meta_item) {
        FLOG(FLOG_ERROR, "root item is empty!");
        return -1;
    }
    for (const auto& w : others) {
        std::shared_ptr<_RootItem> other = w ? w->getRootItem() : nullptr;
        if (!other || !other->datas || !other->datas->meta_item) {
            FLOG(FLOG_ERROR, "merge input has no root item.");
            return -1;
        }
    }
    if (!m_file_handler) {
        m_file_handler = std::make_shared<FileHandler>();
        m_file_handler->setOwner(weak_from_this());
    }

    qint64 offset = getDuration();
    if (!m_media_core) {
        return -1;
    }
    std::vector<std::string> inputs{enginePath(root->video_path)};
    m_file_handler->copyPageImages(root);

    // Each input was read by its own handler, so gather whether any of them was enciphered.
    bool anyEncrypted = m_file_handler->isEncrypted();
    _MetaItem& meta = *root->datas->meta_item;
    for (const auto& w : others) {
        if (w->m_file_handler && w->m_file_handler->isEncrypted()) {
            anyEncrypted = true;
        }
        std::shared_ptr<_RootItem> other = w->getRootItem();
        _MetaItem& wm = *other->datas->meta_item;
        appendShifted(meta.draw, wm.draw, offset);
        appendShifted(meta.animation, wm.animation, offset);
        appendShifted(meta.pageChange, wm.pageChange, offset);
        appendShifted(meta.answer, wm.answer, offset);
        appendShifted(meta.question, wm.question, offset);
        appendShifted(meta.chatLog, wm.chatLog, offset);
        inputs.push_back(enginePath(other->video_path));
        offset += w->getDuration();
        // Copy the input's page images into this edit directory through a view of its root: the
        // input keeps its own edit directory, so its teardown neither leaks that one nor removes ours.
        auto view = std::make_shared<_RootItem>(*other);
        view->tmp_edit_path = root->tmp_edit_path;
        m_file_handler->copyPageImages(view);
    }

    if (m_cancelled.load()) {
        return endCancelled("merge");
    }
    m_media_core->setOutputDir(engineDir(root->tmp_edit_path));
    m_media_core->startMediaMerge(inputs, "c.mp4", width, height, m_transcode);
    const int code = waitForCompletion();
    if (m_cancelled.load()) {
        return endCancelled("merge");
    }
    if (code != MEDIA_CODE_SUCCESS) {
        FLOG(FLOG_ERROR, "join of the packages failed with code %d", code);
        return static_cast<qint16>(code);
    }
    if (m_progress) {
        m_progress(0.8f);
    }
    if (anyEncrypted) {
        m_file_handler->setEncrypted(true);
    }
    const SideDeflateGuard sideGuard(*m_file_handler);
    if (!JsonResourceParse::saveFile(root, root->tmp_edit_path + QStringLiteral("meta.json"),
                                     m_file_handler->deflateMetaWhileWriting(root->tmp_edit_path))) {
        FLOG(FLOG_ERROR, "write meta.json is fail.");
        return -3;
    }
    if (m_cancelled.load()) {
        return endCancelled("merge");
    }
    const qint16 packed = m_file_handler->compress(root, file);
    if (packed == 0 && m_cancelled.load()) {
        QFile::remove(m_file_handler->packedPath());
        return endCancelled("merge");
    }
    if (packed == 0 && m_progress) {
        m_progress(1.0f);
    }
    return packed;
}

void DataWrapper::setProgressCallback(std::function<void(float)> progress) {
    m_progress = std::move(progress);
}

void DataWrapper::cancel() {
    if (m_cancelled.exchange(true)) {
        return;
    }
    FLOG(FLOG_INFO, "enter func : %s", "DataWrapper::cancel");
    {
        std::lock_guard<std::mutex> lock(m_cancel_mutex);
        if (m_media_core) {
            m_media_core->cancelWork();
        }
    }
    // Ends a wait for the engine at once; the engine's own late report then finds the next promise.
    setCompletion(kCancelled);
}

qint16 DataWrapper::endCancelled(const char* stage) {
    FLOG(FLOG_INFO, "cut or merge cancelled during %s", stage);
    // Destroying the engine object cancels its running job and waits for it; the job's temporary
    // file goes with it.
    std::shared_ptr<IMediaCore> engine;
    {
        std::lock_guard<std::mutex> lock(m_cancel_mutex);
        engine = std::move(m_media_core);
    }
    engine.reset();
    return kCancelled;
}
