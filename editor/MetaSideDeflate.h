#pragma once
// Deflates meta.json on a second thread while the writer produces it, so that packing can add the
// finished stream as it is instead of deflating hundreds of megabytes of text after the write.
//
// The stream is exactly what the packer's own deflate gives (raw deflate, default level, window,
// memory level and strategy), so the package bytes do not depend on which path made them. It goes
// to an unnamed file in the given folder: nothing of it outlives the object or a killed process,
// and packing the folder never sees it.
#include <QByteArray>
#include <QString>

#include <condition_variable>
#include <deque>
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
    // Hands over the next piece of the text (copied); waits while a few pieces are queued already.
    // After a failure of the side path the pieces are dropped: the writer never waits for nothing.
    void feed(const char* data, qint64 size);
    // Ends the stream and waits for it; true when the deflated stream of all fed bytes is ready.
    bool finish();
    bool failed() const;
    quint32 crc() const { return m_crc; }
    qint64 rawSize() const { return m_raw_size; }
    qint64 deflatedSize() const { return m_deflated_size; }
    // Whether the deflater judged the text to be text (the packer marks such entries as text).
    bool isText() const { return m_text; }
    // Copies the finished stream to `out`; false when reading or writing failed.
    bool copyTo(QIODevice* out) const;

private:
    void run();
    bool deflatePiece(const QByteArray& piece, int flush);
    bool writeOut(const Bytef* data, size_t size);
    void fail(const char* why);

    QString m_dir;
    int m_fd = -1;
    z_stream m_zs{};
    bool m_zs_ready = false;
    QByteArray m_out_buffer;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<QByteArray> m_queue;
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
