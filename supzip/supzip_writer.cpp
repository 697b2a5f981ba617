// Appends files and folders to a zip package, optionally enciphered with WinZip AES-256.
//
// New entries are written where the old central directory starts; the old directory and the new
// records follow. The original bytes before that point are never touched, and on any failure the
// package is cut back and its old directory restored, so it stays exactly as it was.
#define FLOG_SOURCE "supzip/supzip"
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "FLog.h"
#include "supzip_aes.h"
#include "supzip_internal.h"

namespace {

constexpr size_t kChunk = 4u << 20;
constexpr size_t kPiece = 128u << 10;
constexpr uint32_t kMax32 = 0xFFFFFFFFu;
constexpr uint16_t kMethodStore = 0;
constexpr uint16_t kMethodDeflate = 8;
constexpr uint16_t kMethodAes = 99;
constexpr uint16_t kFlagEncrypted = 1u << 0;
constexpr uint16_t kFlagUtf8 = 1u << 11;
constexpr uint16_t kMadeBy = (3u << 8) | 63u;  // Unix, zip 6.3

void put16(std::string& b, uint16_t v) {
    b.push_back(char(v & 0xFF));
    b.push_back(char(v >> 8));
}
void put32(std::string& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        b.push_back(char((v >> (8 * i)) & 0xFF));
    }
}
void put64(std::string& b, uint64_t v) {
    for (int i = 0; i < 8; ++i) {
        b.push_back(char((v >> (8 * i)) & 0xFF));
    }
}
void set32(std::string& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        b[at + size_t(i)] = char((v >> (8 * i)) & 0xFF);
    }
}
uint16_t get16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}
uint32_t get32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
uint64_t get64(const uint8_t* p) {
    return uint64_t(get32(p)) | (uint64_t(get32(p + 4)) << 32);
}

bool preadAll(int fd, void* buf, size_t len, uint64_t off) {
    uint8_t* p = static_cast<uint8_t*>(buf);
    while (len > 0) {
        ssize_t n = pread(fd, p, len, off_t(off));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        p += n;
        len -= size_t(n);
        off += uint64_t(n);
    }
    return true;
}

bool pwriteAll(int fd, const void* buf, size_t len, uint64_t off) {
    const uint8_t* p = static_cast<const uint8_t*>(buf);
    while (len > 0) {
        ssize_t n = pwrite(fd, p, len, off_t(off));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        p += n;
        len -= size_t(n);
        off += uint64_t(n);
    }
    return true;
}

bool readSome(int fd, uint8_t* buf, size_t len, size_t& got) {
    got = 0;
    while (got < len) {
        ssize_t n = read(fd, buf + got, len - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            break;
        }
        got += size_t(n);
    }
    return true;
}

void dosTime(time_t t, uint16_t& dtime, uint16_t& ddate) {
    struct tm tm;
    localtime_r(&t, &tm);
    if (tm.tm_year < 80) {
        tm.tm_year = 80;
        tm.tm_mon = 0;
        tm.tm_mday = 1;
        tm.tm_hour = tm.tm_min = tm.tm_sec = 0;
    }
    dtime = uint16_t((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
    ddate = uint16_t(((tm.tm_year - 80) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
}

bool isStoredKind(const std::string& name) {
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || name.find('/', dot) != std::string::npos) {
        return false;
    }
    std::string ext = name.substr(dot + 1);
    for (char& c : ext) {
        if (c >= 'A' && c <= 'Z') {
            c = char(c - 'A' + 'a');
        }
    }
    return ext == "mp4" || ext == "jpg" || ext == "jpeg" || ext == "png";
}

// Runs `work` on this thread while the CRC of `data` is computed on another; falls back to one
// thread when none can be started.
template <typename Work>
uint32_t parallelCrc(uint32_t crc, const uint8_t* data, size_t len, Work work, bool& ok) {
    uint32_t result = crc;
    std::thread t;
    try {
        t = std::thread([&result, crc, data, len]() { result = uint32_t(crc32_z(crc, data, len)); });
    } catch (const std::system_error&) {
        result = uint32_t(crc32_z(crc, data, len));
    }
    ok = work();
    if (t.joinable()) {
        t.join();
    }
    return result;
}

// The archive being extended: where its central directory starts, its records and names.
struct Archive {
    int fd = -1;
    bool created = false;
    uint64_t original_size = 0;
    uint64_t cd_offset = 0;
    std::string tail;  // original bytes from cd_offset to the end
    std::string old_cd;
    uint64_t old_entries = 0;
    std::set<std::string> names;
};

bool readDirectory(Archive& a, const char* path) {
    const uint64_t size = a.original_size;
    if (size < 22) {
        FLOG(FLOG_ERROR, "can't add to %s: not a zip archive", path);
        return false;
    }
    const uint64_t scan = size < 65557 ? size : 65557;
    std::vector<uint8_t> end(scan);
    if (!preadAll(a.fd, end.data(), scan, size - scan)) {
        FLOG(FLOG_ERROR, "can't read %s", path);
        return false;
    }
    int64_t eocd = -1;
    for (int64_t i = int64_t(scan) - 22; i >= 0; --i) {
        if (get32(&end[size_t(i)]) == 0x06054b50u) {
            eocd = i;
            break;
        }
    }
    if (eocd < 0) {
        FLOG(FLOG_ERROR, "can't add to %s: not a zip archive", path);
        return false;
    }
    const uint8_t* e = &end[size_t(eocd)];
    const uint64_t eocdPos = size - scan + uint64_t(eocd);
    uint64_t entries = get16(e + 10);
    uint64_t cdSize = get32(e + 12);
    uint64_t cdOffset = get32(e + 16);
    if (entries == 0xFFFF || cdSize == kMax32 || cdOffset == kMax32) {
        uint8_t loc[20];
        uint8_t z64[56];
        if (eocdPos < 20 || !preadAll(a.fd, loc, 20, eocdPos - 20) || get32(loc) != 0x07064b50u ||
            !preadAll(a.fd, z64, 56, get64(loc + 8)) || get32(z64) != 0x06064b50u) {
            FLOG(FLOG_ERROR, "can't add to %s: broken zip64 directory", path);
            return false;
        }
        entries = get64(z64 + 32);
        cdSize = get64(z64 + 40);
        cdOffset = get64(z64 + 48);
    }
    if (cdOffset > eocdPos || cdSize > eocdPos - cdOffset || cdSize > (256u << 20)) {
        FLOG(FLOG_ERROR, "can't add to %s: inconsistent directory", path);
        return false;
    }
    a.cd_offset = cdOffset;
    a.old_cd.resize(size_t(cdSize));
    a.tail.resize(size_t(size - cdOffset));
    if ((cdSize && !preadAll(a.fd, &a.old_cd[0], size_t(cdSize), cdOffset)) ||
        !preadAll(a.fd, &a.tail[0], a.tail.size(), cdOffset)) {
        FLOG(FLOG_ERROR, "can't read %s", path);
        return false;
    }
    a.old_entries = entries;
    size_t p = 0;
    for (uint64_t i = 0; i < entries; ++i) {
        const uint8_t* r = reinterpret_cast<const uint8_t*>(a.old_cd.data()) + p;
        if (p + 46 > a.old_cd.size() || get32(r) != 0x02014b50u) {
            FLOG(FLOG_ERROR, "can't add to %s: inconsistent directory", path);
            return false;
        }
        const size_t n = get16(r + 28), x = get16(r + 30), c = get16(r + 32);
        if (p + 46 + n + x + c > a.old_cd.size()) {
            FLOG(FLOG_ERROR, "can't add to %s: inconsistent directory", path);
            return false;
        }
        std::string name(reinterpret_cast<const char*>(r + 46), n);
        while (!name.empty() && name.back() == '/') {
            name.pop_back();
        }
        a.names.insert(name);
        p += 46 + n + x + c;
    }
    return true;
}

class Writer {
public:
    Writer(Archive& a, bool encrypt, const char* key)
        : m_a(a), m_encrypt(encrypt), m_key(key), m_pos(a.cd_offset) {
        m_buf.resize(kChunk + 64 * 1024);
        if (encrypt) {
            m_in.resize(kChunk);
        }
    }

    bool addTree(const std::string& fsPath, const std::string& name) {
        struct stat st;
        if (lstat(fsPath.c_str(), &st) != 0) {
            FLOG(FLOG_ERROR, "can't stat %s: %s", fsPath.c_str(), strerror(errno));
            return false;
        }
        if (S_ISREG(st.st_mode)) {
            return addFile(fsPath, name, st);
        }
        if (!S_ISDIR(st.st_mode)) {
            FLOG(FLOG_WARN, "skipped %s: not a regular file or directory", fsPath.c_str());
            return true;
        }
        if (!addDirectory(name, st)) {
            return false;
        }
        DIR* d = opendir(fsPath.c_str());
        if (!d) {
            FLOG(FLOG_ERROR, "can't list %s: %s", fsPath.c_str(), strerror(errno));
            return false;
        }
        std::vector<std::string> children;
        while (struct dirent* e = readdir(d)) {
            if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) {
                children.emplace_back(e->d_name);
            }
        }
        closedir(d);
        for (const std::string& c : children) {
            if (!addTree(fsPath + "/" + c, name + "/" + c)) {
                return false;
            }
        }
        return true;
    }

    // Writes the old and new directory records and the end records.
    bool finish() {
        const uint64_t cdStart = m_pos;
        std::string cd = m_a.old_cd + m_cd;
        const uint64_t entries = m_a.old_entries + m_new_entries;
        const bool zip64 = entries >= 0xFFFF || cdStart >= kMax32 || cd.size() >= kMax32;
        std::string end;
        if (zip64) {
            const uint64_t z64Pos = cdStart + cd.size();
            put32(end, 0x06064b50u);
            put64(end, 44);
            put16(end, kMadeBy);
            put16(end, 45);
            put32(end, 0);
            put32(end, 0);
            put64(end, entries);
            put64(end, entries);
            put64(end, cd.size());
            put64(end, cdStart);
            put32(end, 0x07064b50u);
            put32(end, 0);
            put64(end, z64Pos);
            put32(end, 1);
        }
        put32(end, 0x06054b50u);
        put16(end, 0);
        put16(end, 0);
        put16(end, uint16_t(entries >= 0xFFFF ? 0xFFFF : entries));
        put16(end, uint16_t(entries >= 0xFFFF ? 0xFFFF : entries));
        put32(end, cd.size() >= kMax32 ? kMax32 : uint32_t(cd.size()));
        put32(end, cdStart >= kMax32 ? kMax32 : uint32_t(cdStart));
        put16(end, 0);
        cd += end;
        if (!pwriteAll(m_a.fd, cd.data(), cd.size(), cdStart)) {
            FLOG(FLOG_ERROR, "can't write the package directory: %s", strerror(errno));
            return false;
        }
        if (ftruncate(m_a.fd, off_t(cdStart + cd.size())) != 0) {
            FLOG(FLOG_ERROR, "can't write the package directory: %s", strerror(errno));
            return false;
        }
        return true;
    }

private:
    bool claimName(const std::string& name) {
        if (name.size() > 0xFFFF - 1 || !m_a.names.insert(name).second) {
            FLOG(FLOG_ERROR, "can't add %s: the package already holds that name", name.c_str());
            return false;
        }
        return true;
    }

    void centralRecord(const std::string& name, uint16_t needed, uint16_t flags, uint16_t method,
                       uint16_t dtime, uint16_t ddate, uint32_t crc, uint64_t csize, uint64_t usize,
                       uint32_t extAttr, uint64_t offset, const std::string& aesExtra) {
        std::string z64;
        if (usize >= kMax32) {
            put64(z64, usize);
        }
        if (csize >= kMax32) {
            put64(z64, csize);
        }
        if (offset >= kMax32) {
            put64(z64, offset);
        }
        std::string extra;
        if (!z64.empty()) {
            put16(extra, 0x0001);
            put16(extra, uint16_t(z64.size()));
            extra += z64;
        }
        extra += aesExtra;
        put32(m_cd, 0x02014b50u);
        put16(m_cd, kMadeBy);
        put16(m_cd, z64.empty() ? needed : (needed > 45 ? needed : 45));
        put16(m_cd, flags);
        put16(m_cd, method);
        put16(m_cd, dtime);
        put16(m_cd, ddate);
        put32(m_cd, crc);
        put32(m_cd, csize >= kMax32 ? kMax32 : uint32_t(csize));
        put32(m_cd, usize >= kMax32 ? kMax32 : uint32_t(usize));
        put16(m_cd, uint16_t(name.size()));
        put16(m_cd, uint16_t(extra.size()));
        put16(m_cd, 0);
        put16(m_cd, 0);
        put16(m_cd, 0);
        put32(m_cd, extAttr);
        put32(m_cd, offset >= kMax32 ? kMax32 : uint32_t(offset));
        m_cd += name;
        m_cd += extra;
        ++m_new_entries;
    }

    bool addDirectory(const std::string& name, const struct stat& st) {
        if (!claimName(name)) {
            return false;
        }
        const std::string entry = name + "/";
        uint16_t dtime, ddate;
        dosTime(st.st_mtime, dtime, ddate);
        std::string h;
        put32(h, 0x04034b50u);
        put16(h, 20);
        put16(h, kFlagUtf8);
        put16(h, kMethodStore);
        put16(h, dtime);
        put16(h, ddate);
        put32(h, 0);
        put32(h, 0);
        put32(h, 0);
        put16(h, uint16_t(entry.size()));
        put16(h, 0);
        h += entry;
        const uint64_t offset = m_pos + m_fill;
        if (!emit(h.data(), h.size()) || !flush()) {
            return false;
        }
        centralRecord(entry, 20, kFlagUtf8, kMethodStore, dtime, ddate, 0, 0, 0,
                      (uint32_t(040755) << 16) | 0x10, offset, std::string());
        return true;
    }

    bool addFile(const std::string& fsPath, const std::string& name, const struct stat& st) {
        if (!claimName(name)) {
            return false;
        }
        int in = open(fsPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (in < 0) {
            FLOG(FLOG_ERROR, "can't read %s: %s", fsPath.c_str(), strerror(errno));
            return false;
        }
        posix_fadvise(in, 0, 0, POSIX_FADV_SEQUENTIAL);
        const bool deflated = !isStoredKind(name);
        const uint64_t insize = uint64_t(st.st_size);
        // Sizes that might not fit 32 bits get zip64 fields in the local header from the start.
        const bool z64 = insize + insize / 512 + (1u << 20) >= kMax32;
        const uint16_t realMethod = deflated ? kMethodDeflate : kMethodStore;
        const uint16_t method = m_encrypt ? kMethodAes : realMethod;
        const uint16_t flags = uint16_t(kFlagUtf8 | (m_encrypt ? kFlagEncrypted : 0));
        const uint16_t needed = m_encrypt ? 51 : (z64 ? 45 : 20);
        uint16_t dtime, ddate;
        dosTime(st.st_mtime, dtime, ddate);

        const uint16_t aeVersion = insize < 20 ? 2 : 1;
        std::string aesExtra;
        if (m_encrypt) {
            put16(aesExtra, 0x9901);
            put16(aesExtra, 7);
            // AE-1 keeps the CRC beside the authentication code; very small files use AE-2 (no CRC),
            // as WinZip does, so that the CRC gives nothing away about their content.
            put16(aesExtra, aeVersion);
            aesExtra += "AE";
            aesExtra.push_back(char(3));  // AES-256
            put16(aesExtra, realMethod);
        }
        std::string h;
        put32(h, 0x04034b50u);
        put16(h, needed);
        put16(h, flags);
        put16(h, method);
        put16(h, dtime);
        put16(h, ddate);
        const size_t crcAt = h.size();
        put32(h, 0);
        put32(h, z64 ? kMax32 : 0);
        put32(h, z64 ? kMax32 : 0);
        put16(h, uint16_t(name.size()));
        std::string extra;
        size_t z64At = 0;
        if (z64) {
            put16(extra, 0x0001);
            put16(extra, 16);
            z64At = extra.size();
            put64(extra, 0);
            put64(extra, 0);
        }
        extra += aesExtra;
        put16(h, uint16_t(extra.size()));
        const size_t nameAt = h.size();
        h += name;
        h += extra;

        const uint64_t offset = m_pos + m_fill;
        bool ok = emit(h.data(), h.size());
        const uint64_t dataStart = m_pos + m_fill;

        supzip::WinZipAes aes;
        if (ok && m_encrypt) {
            uint8_t head[supzip::kAesSaltLen + supzip::kAesVerifierLen];
            ok = supzip::WinZipAes::randomSalt(head) && aes.init(m_key, head, head + supzip::kAesSaltLen) &&
                 emit(head, sizeof(head));
        }
        z_stream zs;
        memset(&zs, 0, sizeof(zs));
        bool zInit = false;
        if (ok && deflated) {
            zInit = deflateInit2(&zs, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
            ok = zInit;
        }
        uint32_t crc = uint32_t(crc32(0L, Z_NULL, 0));
        uint64_t usize = 0;
        std::vector<uint8_t> inBuf(deflated ? (256u << 10) : 0);
        while (ok && m_flush_ok) {
            if (!deflated && m_encrypt) {
                // Stored and enciphered: the CRC of the plain text runs on a second core while this
                // thread enciphers into the output buffer.
                flushIfFull(kChunk);
                const size_t room = std::min(m_buf.size() - m_fill, m_in.size());
                size_t got = 0;
                if (!readSome(in, m_in.data(), room, got)) {
                    FLOG(FLOG_ERROR, "can't read %s: %s", fsPath.c_str(), strerror(errno));
                    ok = false;
                    break;
                }
                if (got == 0) {
                    break;
                }
                crc = parallelCrc(
                    crc, m_in.data(), got,
                    [&]() {
                        bool good = true;
                        for (size_t off = 0; good && off < got; off += kPiece) {
                            const size_t n = std::min(kPiece, got - off);
                            good = aes.encrypt(m_in.data() + off, m_buf.data() + m_fill + off, n);
                        }
                        return good;
                    },
                    ok);
                if (!ok) {
                    break;
                }
                m_fill += got;
                usize += got;
                continue;
            }
            if (!deflated) {
                // Stored: read straight into the output buffer and encrypt there.
                flushIfFull(kChunk);
                size_t room = m_buf.size() - m_fill;
                size_t got = 0;
                if (!readSome(in, m_buf.data() + m_fill, room, got)) {
                    FLOG(FLOG_ERROR, "can't read %s: %s", fsPath.c_str(), strerror(errno));
                    ok = false;
                    break;
                }
                if (got == 0) {
                    break;
                }
                // CRC and cipher run over cache-sized pieces so the data is fetched from memory once.
                for (size_t off = 0; ok && off < got; off += kPiece) {
                    const size_t n = std::min(kPiece, got - off);
                    uint8_t* piece = m_buf.data() + m_fill + off;
                    crc = uint32_t(crc32_z(crc, piece, n));
                    ok = !m_encrypt || aes.encrypt(piece, n);
                }
                if (!ok) {
                    break;
                }
                m_fill += got;
                usize += got;
                continue;
            }
            size_t got = 0;
            if (!readSome(in, inBuf.data(), inBuf.size(), got)) {
                FLOG(FLOG_ERROR, "can't read %s: %s", fsPath.c_str(), strerror(errno));
                ok = false;
                break;
            }
            crc = uint32_t(crc32_z(crc, inBuf.data(), got));
            usize += got;
            zs.next_in = inBuf.data();
            zs.avail_in = uInt(got);
            const int flush = got == 0 ? Z_FINISH : Z_NO_FLUSH;
            int zr = Z_OK;
            do {
                flushIfFull(kChunk);
                zs.next_out = m_buf.data() + m_fill;
                zs.avail_out = uInt(m_buf.size() - m_fill);
                zr = deflate(&zs, flush);
                const size_t produced = (m_buf.size() - m_fill) - zs.avail_out;
                if (m_encrypt && !aes.encrypt(m_buf.data() + m_fill, produced)) {
                    ok = false;
                }
                m_fill += produced;
            } while (ok && (zs.avail_out == 0 || (flush == Z_FINISH && zr != Z_STREAM_END)) &&
                     zr != Z_STREAM_ERROR);
            if (zr == Z_STREAM_ERROR) {
                ok = false;
            }
            if (got == 0) {
                break;
            }
        }
        if (zInit) {
            deflateEnd(&zs);
        }
        close(in);
        if (ok && m_encrypt) {
            uint8_t mac[supzip::kAesMacLen];
            ok = aes.finish(mac) && emit(mac, sizeof(mac));
        }
        ok = ok && flush();
        if (!ok) {
            FLOG(FLOG_ERROR, "can't pack %s", fsPath.c_str());
            return false;
        }
        const uint64_t csize = m_pos - dataStart;
        if (!z64 && (csize >= kMax32 || usize >= kMax32)) {
            FLOG(FLOG_ERROR, "can't pack %s: it grew while being packed", fsPath.c_str());
            return false;
        }
        const uint32_t storedCrc = (m_encrypt && aeVersion == 2) ? 0 : crc;
        // Fill in the sizes and CRC now that they are known.
        set32(h, crcAt, storedCrc);
        if (z64) {
            std::string sizes;
            put64(sizes, usize);
            put64(sizes, csize);
            h.replace(nameAt + name.size() + z64At, 16, sizes);
        } else {
            set32(h, crcAt + 4, uint32_t(csize));
            set32(h, crcAt + 8, uint32_t(usize));
        }
        if (!pwriteAll(m_a.fd, h.data(), h.size(), offset)) {
            FLOG(FLOG_ERROR, "can't write the package: %s", strerror(errno));
            return false;
        }
        centralRecord(name, needed, flags, method, dtime, ddate, storedCrc, csize, usize,
                      (uint32_t(0100644) << 16), offset, aesExtra);
        return true;
    }

    bool emit(const void* data, size_t len) {
        const uint8_t* p = static_cast<const uint8_t*>(data);
        while (len > 0) {
            if (m_fill == m_buf.size() && !flush()) {
                return false;
            }
            size_t n = std::min(len, m_buf.size() - m_fill);
            memcpy(m_buf.data() + m_fill, p, n);
            m_fill += n;
            p += n;
            len -= n;
        }
        return true;
    }

    void flushIfFull(size_t threshold) {
        if (m_fill >= threshold) {
            m_flush_ok = flush() && m_flush_ok;
        }
    }

    bool flush() {
        if (!m_flush_ok) {
            return false;
        }
        if (m_fill > 0) {
            if (!pwriteAll(m_a.fd, m_buf.data(), m_fill, m_pos)) {
                FLOG(FLOG_ERROR, "can't write the package: %s", strerror(errno));
                m_flush_ok = false;
                return false;
            }
            m_pos += m_fill;
            m_fill = 0;
        }
        return true;
    }

    Archive& m_a;
    bool m_encrypt;
    const char* m_key;
    uint64_t m_pos;
    std::vector<uint8_t> m_buf;
    std::vector<uint8_t> m_in;
    size_t m_fill = 0;
    bool m_flush_ok = true;
    std::string m_cd;
    uint64_t m_new_entries = 0;
};

}  // namespace

int supzip_append(const char* package_path, const std::string& entry, const std::string& name, bool encrypt,
                  const char* key) {
    Archive a;
    a.fd = open(package_path, O_RDWR | O_CLOEXEC);
    if (a.fd < 0 && errno == ENOENT) {
        a.fd = open(package_path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        a.created = a.fd >= 0;
    }
    if (a.fd < 0) {
        FLOG(FLOG_ERROR, "can't open package %s for writing: %s", package_path, strerror(errno));
        return SUPZIP_ERR_OPEN;
    }
    struct stat st;
    if (fstat(a.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        FLOG(FLOG_ERROR, "can't open package %s for writing: not a file", package_path);
        close(a.fd);
        return SUPZIP_ERR_OPEN;
    }
    a.original_size = uint64_t(st.st_size);
    if (a.original_size > 0 && !readDirectory(a, package_path)) {
        close(a.fd);
        return SUPZIP_ERR_OPEN;
    }
    Writer w(a, encrypt, key);
    bool ok = w.addTree(entry, name) && w.finish();
    if (!ok) {
        // Put the package back exactly as it was.
        bool restored = false;
        if (a.created) {
            restored = unlink(package_path) == 0;
        } else {
            restored = ftruncate(a.fd, off_t(a.cd_offset)) == 0 &&
                       pwriteAll(a.fd, a.tail.data(), a.tail.size(), a.cd_offset) &&
                       ftruncate(a.fd, off_t(a.original_size)) == 0;
        }
        if (!restored) {
            FLOG(FLOG_ERROR, "can't restore package %s after a failed pack", package_path);
        }
    }
    if (close(a.fd) != 0 && ok) {
        FLOG(FLOG_ERROR, "can't write package %s: %s", package_path, strerror(errno));
        ok = false;
    }
    return ok ? SUPZIP_OK : SUPZIP_ERR_WRITE;
}
