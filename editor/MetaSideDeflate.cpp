#define FLOG_SOURCE "editor/MetaSideDeflate"
#include "MetaSideDeflate.h"

#include <QFile>
#include <QIODevice>

// The packer's deflate parameters (its default memory level comes with its headers).
#include <quazipfile.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "FLog.h"

namespace {

constexpr size_t kQueuedPieces = 3;  // a few writer pieces: bounded memory, the writer rarely waits
constexpr int kOutBytes = 1 << 20;

// An unnamed file in `dir`: created under a hidden name and unlinked at once.
int unnamedFile(const QString& dir) {
    QByteArray name = QFile::encodeName(dir);
    if (!name.endsWith('/')) {
        name += '/';
    }
    name += ".meta-deflate-XXXXXX";
    const int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) {
        unlink(name.constData());
    }
    return fd;
}

}  // namespace

MetaSideDeflate::MetaSideDeflate(const QString& dir)
    : m_dir(dir), m_out_buffer(kOutBytes, Qt::Uninitialized) {
    m_crc = quint32(crc32(0L, Z_NULL, 0));
    m_fd = unnamedFile(dir);
    if (m_fd < 0) {
        fail(strerror(errno));
        return;
    }
    if (deflateInit2(&m_zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, DEF_MEM_LEVEL,
                     Z_DEFAULT_STRATEGY) != Z_OK) {
        fail("deflate set-up");
        return;
    }
    m_zs_ready = true;
    m_worker = std::thread([this] { run(); });
}

MetaSideDeflate::~MetaSideDeflate() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
        m_queue.clear();
        // An abandoned stream is not finished: the worker stops at the next piece.
        if (!m_done) {
            m_failed = true;
        }
    }
    m_changed.notify_all();
    if (m_worker.joinable()) {
        m_worker.join();
    }
    if (m_zs_ready) {
        deflateEnd(&m_zs);
    }
    if (m_fd >= 0) {
        close(m_fd);
    }
}

void MetaSideDeflate::fail(const char* why) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_failed) {
        return;
    }
    m_failed = true;
    m_queue.clear();
    FLOG(FLOG_WARN, "deflating meta.json beside its writing failed (%s); packing deflates it itself", why);
    m_changed.notify_all();
}

bool MetaSideDeflate::failed() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_failed;
}

void MetaSideDeflate::feed(const char* data, qint64 size) {
    if (size <= 0) {
        return;
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_failed || m_closed || m_queue.size() < kQueuedPieces; });
    if (m_failed || m_closed) {
        return;
    }
    m_queue.emplace_back(data, int(size));
    m_changed.notify_all();
}

bool MetaSideDeflate::finish() {
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_closed = true;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return m_done || !m_worker.joinable(); });
        if (m_failed) {
            return false;
        }
    }
    if (m_worker.joinable()) {
        m_worker.join();
    }
    return !failed() && m_fd >= 0;
}

void MetaSideDeflate::run() {
    for (;;) {
        QByteArray piece;
        bool last = false;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [this] { return m_failed || m_closed || !m_queue.empty(); });
            if (m_failed) {
                break;
            }
            if (!m_queue.empty()) {
                piece = std::move(m_queue.front());
                m_queue.pop_front();
                m_changed.notify_all();
            } else {
                last = true;  // closed and drained
            }
        }
        if (!deflatePiece(piece, last ? Z_FINISH : Z_NO_FLUSH) || last) {
            break;
        }
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_done = true;
    m_changed.notify_all();
}

bool MetaSideDeflate::deflatePiece(const QByteArray& piece, int flush) {
    if (!piece.isEmpty()) {
        m_crc = quint32(crc32(m_crc, reinterpret_cast<const Bytef*>(piece.constData()), uInt(piece.size())));
        m_raw_size += piece.size();
    }
    m_zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(piece.constData()));
    m_zs.avail_in = uInt(piece.size());
    for (;;) {
        m_zs.next_out = reinterpret_cast<Bytef*>(m_out_buffer.data());
        m_zs.avail_out = uInt(m_out_buffer.size());
        const int rc = deflate(&m_zs, flush);
        if (rc == Z_STREAM_ERROR) {
            fail("deflate");
            return false;
        }
        const size_t produced = size_t(m_out_buffer.size()) - m_zs.avail_out;
        if (produced > 0 && !writeOut(reinterpret_cast<const Bytef*>(m_out_buffer.constData()), produced)) {
            return false;
        }
        if (flush == Z_FINISH && rc == Z_STREAM_END) {
            m_text = m_zs.data_type == Z_TEXT;
            return true;
        }
        if (flush != Z_FINISH && m_zs.avail_in == 0 && m_zs.avail_out != 0) {
            return true;
        }
    }
}

bool MetaSideDeflate::writeOut(const Bytef* data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(m_fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            fail(n < 0 ? strerror(errno) : "short write");
            return false;
        }
        data += n;
        size -= size_t(n);
        m_deflated_size += n;
    }
    return true;
}

bool MetaSideDeflate::copyTo(QIODevice* out) const {
    QByteArray buffer(kOutBytes, Qt::Uninitialized);
    qint64 offset = 0;
    while (offset < m_deflated_size) {
        const ssize_t n = pread(m_fd, buffer.data(),
                                size_t(qMin<qint64>(buffer.size(), m_deflated_size - offset)), off_t(offset));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0 || out->write(buffer.constData(), n) != n) {
            return false;
        }
        offset += n;
    }
    return true;
}
