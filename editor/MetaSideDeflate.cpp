#define FLOG_SOURCE "editor/MetaSideDeflate"
#include "MetaSideDeflate.h"

#include <QByteArray>
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

constexpr qint64 kChunkBytes = 1 << 20;

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

// Reads exactly `size` bytes at `offset`; false on an error or a short file.
bool readAt(int fd, char* data, qint64 size, qint64 offset) {
    while (size > 0) {
        const ssize_t n = pread(fd, data, size_t(size), off_t(offset));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= n;
        offset += n;
    }
    return true;
}

}  // namespace

MetaSideDeflate::MetaSideDeflate(const QString& dir) : m_dir(dir) {
    m_crc = quint32(crc32(0L, Z_NULL, 0));
    m_out_fd = unnamedFile(dir);
    if (m_out_fd < 0) {
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
        // An abandoned stream is not finished: the worker stops at its next chunk.
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
    for (int fd : {m_in_fd, m_out_fd}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

void MetaSideDeflate::fail(const char* why) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_failed) {
        return;
    }
    m_failed = true;
    FLOG(FLOG_WARN, "deflating meta.json beside its writing failed (%s); packing deflates it itself", why);
    m_changed.notify_all();
}

bool MetaSideDeflate::failed() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_failed;
}

void MetaSideDeflate::written(int writtenFile, qint64 size) {
    if (m_in_fd < 0 && !failed()) {
        // The writer's descriptor is write-only; the file is opened again for reading.
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(writtenFile);
        m_in_fd = open(self.constData(), O_RDONLY | O_CLOEXEC);
        if (m_in_fd < 0) {
            fail(strerror(errno));
        }
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_available += size;
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
    return !failed();
}

void MetaSideDeflate::run() {
    QByteArray chunk(int(kChunkBytes), Qt::Uninitialized);
    qint64 consumed = 0;
    for (;;) {
        qint64 size = 0;
        bool last = false;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [&] { return m_failed || m_closed || m_available > consumed; });
            if (m_failed) {
                break;
            }
            size = qMin(kChunkBytes, m_available - consumed);
            last = m_closed && size == 0;
        }
        if (size > 0 && !readAt(m_in_fd, chunk.data(), size, consumed)) {
            fail("reading the written text back");
            break;
        }
        consumed += size;
        if (!deflateChunk(chunk.constData(), size_t(size), last ? Z_FINISH : Z_NO_FLUSH) || last) {
            break;
        }
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_done = true;
    m_changed.notify_all();
}

bool MetaSideDeflate::deflateChunk(const char* data, size_t size, int flush) {
    if (size > 0) {
        m_crc = quint32(crc32(m_crc, reinterpret_cast<const Bytef*>(data), uInt(size)));
        m_raw_size += qint64(size);
    }
    char out[64 * 1024];
    m_zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    m_zs.avail_in = uInt(size);
    for (;;) {
        m_zs.next_out = reinterpret_cast<Bytef*>(out);
        m_zs.avail_out = sizeof out;
        const int rc = deflate(&m_zs, flush);
        if (rc == Z_STREAM_ERROR) {
            fail("deflate");
            return false;
        }
        const size_t produced = sizeof out - m_zs.avail_out;
        if (produced > 0 && !writeOut(out, produced)) {
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

bool MetaSideDeflate::writeOut(const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(m_out_fd, data, size);
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
    QByteArray buffer(int(kChunkBytes), Qt::Uninitialized);
    for (qint64 offset = 0; offset < m_deflated_size; offset += buffer.size()) {
        const qint64 size = qMin<qint64>(buffer.size(), m_deflated_size - offset);
        if (!readAt(m_out_fd, buffer.data(), size, offset) || out->write(buffer.constData(), size) != size) {
            return false;
        }
    }
    return true;
}
