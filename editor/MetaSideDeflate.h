#pragma once
// Deflates meta.json on a second thread while the writer produces it, so that packing can add the
// finished stream as it is instead of deflating hundreds of megabytes of text after the write.
//
// The thread reads back what the writer has written (from the page cache, through a descriptor of
// its own), so the writer never waits for it and no copy of the text is held; when it falls
// behind, it catches up while the packer stores the video. The stream is exactly what the
// packer's own deflate gives (raw deflate, default level, window, memory level and strategy), so
// the package bytes do not depend on which path made them. It goes to an unnamed file in the given
// folder: nothing of it outlives the object or a killed process, and packing the folder never
// sees it.
#include <QString>

#include <condition_variable>
#include <mutex>
#include <thread>

#include <zlib.h>

class QIODevice;

class MetaSideDeflate {
public:
    explicit MetaSideDeflate(const QString& dir);
    ~MetaSideDeflate();
    MetaSideDeflate(const MetaSideDeflate&) = delete;
    MetaSideDeflate& operator=(const MetaSideDeflate&) = delete;

    QString dir() const { return m_dir; }
    // `size` more bytes are written to the file open as `writtenFile` (always the same file).
    void written(int writtenFile, qint64 size);
    // Ends the stream and waits for it; true when the deflated stream of all written bytes is ready.
    bool finish();
    bool failed() const;
    quint32 crc() const { return m_crc; }
    qint64 rawSize() const { return m_raw_size; }
    qint64 deflatedSize() const { return m_deflated_size; }
    // Whether the deflater judged the input to be text (the packer marks such entries as text).
    bool isText() const { return m_text; }
    // Copies the finished stream to `out`; false when reading or writing failed.
    bool copyTo(QIODevice* out) const;

private:
    void run();
    bool deflateChunk(const char* data, size_t size, int flush);
    bool writeOut(const char* data, size_t size);
    void fail(const char* why);

    QString m_dir;
    int m_out_fd = -1;  // the unnamed file of the stream
    int m_in_fd = -1;   // our own reading descriptor of the file being written
    z_stream m_zs{};
    bool m_zs_ready = false;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    qint64 m_available = 0;  // bytes the writer has written so far
    bool m_closed = false;
    bool m_done = false;
    bool m_failed = false;

    // Touched by the worker only until it is done, then read by the caller.
    quint32 m_crc = 0;
    qint64 m_raw_size = 0;
    qint64 m_deflated_size = 0;
    bool m_text = false;
    std::thread m_worker;
};
