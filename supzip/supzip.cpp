// Archive library of VRK packages on libzip.
//
// Unpacking treats every package as hostile: all entries are checked before anything is written,
// extraction goes into a private staging directory beside the destination, and only a complete
// extraction is renamed into place. Any refusal or failure removes the staging directory.
#define FLOG_SOURCE "supzip/supzip"
#include "supzip.h"

#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

#include "FLog.h"
#include "supzip_aes.h"
#include "supzip_internal.h"

namespace {

// Built-in key of enciphered packages.
const char kPackageKey[] = "VRK#pl4yb4ck-3d1t/pkg:k3y@2019!";

constexpr size_t kCopyBuffer = 4u << 20;
constexpr size_t kPiece = 128u << 10;
constexpr zip_uint64_t kMaxEntries = 200000;
// An entry that inflates more than this many times its stored size is treated as a zip bomb,
// unless it is small enough not to matter.
constexpr zip_uint64_t kMaxRatio = 200;
constexpr zip_uint64_t kRatioExemptBytes = 1u << 20;
// Headroom kept free on the destination volume after unpacking.
constexpr zip_uint64_t kFreeSpaceMargin = 16u << 20;

std::string trimTrailingSlashes(std::string p) {
    while (p.size() > 1 && p.back() == '/') {
        p.pop_back();
    }
    return p;
}

std::string parentOf(const std::string& p) {
    size_t pos = p.rfind('/');
    if (pos == std::string::npos) {
        return ".";
    }
    if (pos == 0) {
        return "/";
    }
    return p.substr(0, pos);
}

std::string baseOf(const std::string& p) {
    size_t pos = p.rfind('/');
    return pos == std::string::npos ? p : p.substr(pos + 1);
}

struct ZipCloser {
    zip_t* za = nullptr;
    ~ZipCloser() {
        if (za) {
            zip_discard(za);
        }
    }
};

// One checked entry of a package about to be unpacked.
struct PlannedEntry {
    zip_uint64_t index = 0;
    std::string path;  // normalised relative path, without trailing "/"
    bool is_dir = false;
    zip_uint64_t size = 0;
    zip_uint64_t comp_size = 0;
    zip_uint16_t comp_method = 0;
    zip_uint16_t encryption_method = 0;
    zip_uint32_t crc = 0;
};

// Checks one archive name and returns its normalised relative path. Refuses anything that could
// land outside the destination or that means something else on another system.
bool normaliseName(const char* raw, std::string& out, bool& isDir) {
    if (!raw || !*raw) {
        return false;
    }
    std::string name(raw);
    for (unsigned char c : name) {
        if (c < 0x20 || c == '\\') {
            return false;
        }
    }
    if (name[0] == '/') {
        return false;
    }
    if (name.size() >= 2 && name[1] == ':') {
        return false;  // drive-letter path
    }
    isDir = name.back() == '/';
    if (isDir) {
        name.pop_back();
    }
    if (name.empty()) {
        return false;
    }
    out.clear();
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find('/', start);
        if (end == std::string::npos) {
            end = name.size();
        }
        std::string part = name.substr(start, end - start);
        if (part.empty() || part == "." || part == "..") {
            return false;
        }
        if (!out.empty()) {
            out += '/';
        }
        out += part;
        start = end + 1;
    }
    return out.size() < 4000;
}

int errnoOf(zip_t* za) {
    return zip_error_code_zip(zip_get_error(za));
}

bool makeDirs(const std::string& root, const std::string& rel) {
    std::string cur = root;
    size_t start = 0;
    while (start < rel.size()) {
        size_t end = rel.find('/', start);
        if (end == std::string::npos) {
            end = rel.size();
        }
        cur += "/" + rel.substr(start, end - start);
        if (mkdir(cur.c_str(), 0755) != 0) {
            struct stat st;
            if (errno != EEXIST || lstat(cur.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
                return false;
            }
        }
        start = end + 1;
    }
    return true;
}

bool writeAll(int fd, const char* data, size_t len) {
    while (len > 0) {
        ssize_t n = write(fd, data, len);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += n;
        len -= size_t(n);
    }
    return true;
}

// Extracts one file entry; refuses to write more or fewer bytes than its header promises.
int extractFile(zip_t* za, const PlannedEntry& e, const std::string& root, std::vector<char>& buf,
                const char* package) {
    zip_file_t* zf = zip_fopen_index(za, e.index, 0);
    if (!zf) {
        int code = errnoOf(za);
        if (code == ZIP_ER_WRONGPASSWD || code == ZIP_ER_NOPASSWD) {
            FLOG(FLOG_ERROR, "wrong key for entry %s of %s", e.path.c_str(), package);
        } else {
            FLOG(FLOG_ERROR, "can't open entry %s of %s: %s", e.path.c_str(), package, zip_strerror(za));
        }
        return SUPZIP_ERR_READ;
    }
    std::string target = root + "/" + e.path;
    int fd = open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        FLOG(FLOG_ERROR, "can't create %s: %s", target.c_str(), strerror(errno));
        zip_fclose(zf);
        return SUPZIP_ERR_WRITE;
    }
    zip_uint64_t written = 0;
    int rc = SUPZIP_OK;
    for (;;) {
        zip_int64_t n = zip_fread(zf, buf.data(), buf.size());
        if (n < 0) {
            FLOG(FLOG_ERROR, "corrupt entry %s of %s: %s", e.path.c_str(), package, zip_file_strerror(zf));
            rc = SUPZIP_ERR_READ;
            break;
        }
        if (n == 0) {
            break;
        }
        written += zip_uint64_t(n);
        if (written > e.size) {
            FLOG(FLOG_ERROR, "entry %s of %s is larger than its header says", e.path.c_str(), package);
            rc = SUPZIP_ERR_UNSAFE;
            break;
        }
        if (!writeAll(fd, buf.data(), size_t(n))) {
            FLOG(FLOG_ERROR, "can't write %s: %s", target.c_str(), strerror(errno));
            rc = SUPZIP_ERR_WRITE;
            break;
        }
    }
    if (rc == SUPZIP_OK && written != e.size) {
        FLOG(FLOG_ERROR, "entry %s of %s is shorter than its header says", e.path.c_str(), package);
        rc = SUPZIP_ERR_READ;
    }
    if (zip_fclose(zf) != 0 && rc == SUPZIP_OK) {
        FLOG(FLOG_ERROR, "corrupt entry %s of %s", e.path.c_str(), package);
        rc = SUPZIP_ERR_READ;
    }
    if (close(fd) != 0 && rc == SUPZIP_OK) {
        FLOG(FLOG_ERROR, "can't write %s: %s", target.c_str(), strerror(errno));
        rc = SUPZIP_ERR_WRITE;
    }
    return rc;
}

bool freadExactly(zip_file_t* zf, void* buf, size_t len) {
    uint8_t* p = static_cast<uint8_t*>(buf);
    while (len > 0) {
        zip_int64_t n = zip_fread(zf, p, len);
        if (n <= 0) {
            return false;
        }
        p += n;
        len -= size_t(n);
    }
    return true;
}

// Extracts a WinZip AES-256 entry: the raw bytes are read from the archive and deciphered here in
// large blocks, which is many times faster than deciphering block by block.
int extractAesFile(zip_t* za, const PlannedEntry& e, const std::string& root, std::vector<char>& buf,
                   const char* package) {
    if (e.comp_size < supzip::kAesOverhead) {
        FLOG(FLOG_ERROR, "corrupt entry %s of %s", e.path.c_str(), package);
        return SUPZIP_ERR_READ;
    }
    zip_file_t* zf = zip_fopen_index(za, e.index, ZIP_FL_ENCRYPTED);
    if (!zf) {
        FLOG(FLOG_ERROR, "can't open entry %s of %s: %s", e.path.c_str(), package, zip_strerror(za));
        return SUPZIP_ERR_READ;
    }
    uint8_t head[supzip::kAesSaltLen + supzip::kAesVerifierLen];
    uint8_t verifier[supzip::kAesVerifierLen];
    supzip::WinZipAes aes;
    if (!freadExactly(zf, head, sizeof(head)) || !aes.init(kPackageKey, head, verifier)) {
        FLOG(FLOG_ERROR, "corrupt entry %s of %s", e.path.c_str(), package);
        zip_fclose(zf);
        return SUPZIP_ERR_READ;
    }
    if (memcmp(verifier, head + supzip::kAesSaltLen, sizeof(verifier)) != 0) {
        FLOG(FLOG_ERROR, "wrong key for entry %s of %s", e.path.c_str(), package);
        zip_fclose(zf);
        return SUPZIP_ERR_READ;
    }
    std::string target = root + "/" + e.path;
    int fd = open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        FLOG(FLOG_ERROR, "can't create %s: %s", target.c_str(), strerror(errno));
        zip_fclose(zf);
        return SUPZIP_ERR_WRITE;
    }
    const bool deflated = e.comp_method == ZIP_CM_DEFLATE;
    z_stream zs;
    memset(&zs, 0, sizeof(zs));
    bool zInit = false;
    std::vector<char> out;
    int rc = SUPZIP_OK;
    if (deflated) {
        zInit = inflateInit2(&zs, -MAX_WBITS) == Z_OK;
        out.resize(buf.size());
        if (!zInit) {
            rc = SUPZIP_ERR_READ;
        }
    }
    uint32_t crc = uint32_t(crc32(0L, Z_NULL, 0));
    zip_uint64_t remaining = e.comp_size - supzip::kAesOverhead;
    zip_uint64_t written = 0;
    bool streamEnd = !deflated;
    auto sink = [&](const char* data, size_t n, bool addCrc) {
        written += n;
        if (written > e.size) {
            FLOG(FLOG_ERROR, "entry %s of %s is larger than its header says", e.path.c_str(), package);
            rc = SUPZIP_ERR_UNSAFE;
            return false;
        }
        if (addCrc) {
            crc = uint32_t(crc32_z(crc, reinterpret_cast<const Bytef*>(data), n));
        }
        if (!writeAll(fd, data, n)) {
            FLOG(FLOG_ERROR, "can't write %s: %s", target.c_str(), strerror(errno));
            rc = SUPZIP_ERR_WRITE;
            return false;
        }
        return true;
    };
    while (rc == SUPZIP_OK && remaining > 0) {
        const size_t n = size_t(std::min<zip_uint64_t>(remaining, buf.size()));
        bool good = freadExactly(zf, buf.data(), n);
        // Deciphered in cache-sized pieces so the data is fetched from memory once.
        for (size_t off = 0; good && off < n; off += kPiece) {
            good = aes.decrypt(reinterpret_cast<uint8_t*>(buf.data()) + off, std::min(kPiece, n - off));
        }
        if (!good) {
            FLOG(FLOG_ERROR, "corrupt entry %s of %s", e.path.c_str(), package);
            rc = SUPZIP_ERR_READ;
            break;
        }
        remaining -= n;
        if (!deflated) {
            // The CRC runs on a second core while this thread writes.
            uint32_t next = crc;
            std::thread t;
            try {
                t = std::thread([&next, crc, &buf, n]() {
                    next = uint32_t(crc32_z(crc, reinterpret_cast<const Bytef*>(buf.data()), n));
                });
            } catch (const std::system_error&) {
                next = uint32_t(crc32_z(crc, reinterpret_cast<const Bytef*>(buf.data()), n));
            }
            sink(buf.data(), n, false);
            if (t.joinable()) {
                t.join();
            }
            crc = next;
            continue;
        }
        zs.next_in = reinterpret_cast<Bytef*>(buf.data());
        zs.avail_in = uInt(n);
        while (rc == SUPZIP_OK && zs.avail_in > 0 && !streamEnd) {
            zs.next_out = reinterpret_cast<Bytef*>(out.data());
            zs.avail_out = uInt(out.size());
            int zr = inflate(&zs, Z_NO_FLUSH);
            if (zr != Z_OK && zr != Z_STREAM_END) {
                FLOG(FLOG_ERROR, "corrupt entry %s of %s: bad compressed data", e.path.c_str(), package);
                rc = SUPZIP_ERR_READ;
                break;
            }
            if (!sink(out.data(), out.size() - zs.avail_out, true)) {
                break;
            }
            streamEnd = zr == Z_STREAM_END;
        }
        // Output may still be pending in the inflater after the input is used up.
        while (rc == SUPZIP_OK && deflated && zs.avail_in == 0 && !streamEnd && remaining == 0) {
            zs.next_out = reinterpret_cast<Bytef*>(out.data());
            zs.avail_out = uInt(out.size());
            int zr = inflate(&zs, Z_SYNC_FLUSH);
            if (zr != Z_OK && zr != Z_STREAM_END && zr != Z_BUF_ERROR) {
                rc = SUPZIP_ERR_READ;
                break;
            }
            const size_t produced = out.size() - zs.avail_out;
            if (!sink(out.data(), produced, true)) {
                break;
            }
            streamEnd = zr == Z_STREAM_END;
            if (produced == 0) {
                break;
            }
        }
    }
    if (zInit) {
        inflateEnd(&zs);
    }
    uint8_t mac[supzip::kAesMacLen];
    uint8_t expected[supzip::kAesMacLen];
    if (rc == SUPZIP_OK && (!freadExactly(zf, mac, sizeof(mac)) || !aes.finish(expected) ||
                            memcmp(mac, expected, sizeof(mac)) != 0)) {
        FLOG(FLOG_ERROR, "corrupt entry %s of %s: authentication failed", e.path.c_str(), package);
        rc = SUPZIP_ERR_READ;
    }
    if (rc == SUPZIP_OK && (!streamEnd || written != e.size)) {
        FLOG(FLOG_ERROR, "entry %s of %s is shorter than its header says", e.path.c_str(), package);
        rc = SUPZIP_ERR_READ;
    }
    // AE-1 entries carry a CRC as well; AE-2 entries store 0 and rely on the code above.
    if (rc == SUPZIP_OK && e.crc != 0 && e.crc != crc) {
        FLOG(FLOG_ERROR, "corrupt entry %s of %s: CRC error", e.path.c_str(), package);
        rc = SUPZIP_ERR_READ;
    }
    zip_fclose(zf);
    if (close(fd) != 0 && rc == SUPZIP_OK) {
        FLOG(FLOG_ERROR, "can't write %s: %s", target.c_str(), strerror(errno));
        rc = SUPZIP_ERR_WRITE;
    }
    return rc;
}

// Reads the central directory and checks every entry before anything is written.
int planExtraction(zip_t* za, const char* package, const std::string& destParent,
                   std::vector<PlannedEntry>& plan) {
    zip_int64_t count = zip_get_num_entries(za, 0);
    if (count < 0 || zip_uint64_t(count) > kMaxEntries) {
        FLOG(FLOG_ERROR, "refused %s: too many entries", package);
        return SUPZIP_ERR_UNSAFE;
    }
    if (count == 0) {
        FLOG(FLOG_ERROR, "refused %s: the package is empty", package);
        return SUPZIP_ERR_OPEN;
    }
    std::set<std::string> files;
    std::set<std::string> dirs;
    zip_uint64_t total = 0;
    for (zip_uint64_t i = 0; i < zip_uint64_t(count); ++i) {
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(za, i, ZIP_FL_ENC_GUESS, &st) != 0) {
            FLOG(FLOG_ERROR, "refused %s: unreadable entry %llu", package, (unsigned long long)i);
            return SUPZIP_ERR_OPEN;
        }
        PlannedEntry e;
        e.index = i;
        if (!normaliseName(st.name, e.path, e.is_dir)) {
            FLOG(FLOG_ERROR, "refused %s: unsafe entry name \"%s\"", package, st.name ? st.name : "");
            return SUPZIP_ERR_UNSAFE;
        }
        zip_uint8_t opsys = 0;
        zip_uint32_t attr = 0;
        if (zip_file_get_external_attributes(za, i, 0, &opsys, &attr) == 0 && opsys == ZIP_OPSYS_UNIX) {
            unsigned type = (attr >> 16) & 0170000u;
            if (type == 0040000u) {
                e.is_dir = true;
            } else if (type != 0 && type != 0100000u) {
                FLOG(FLOG_ERROR, "refused %s: entry \"%s\" is a link or device", package, e.path.c_str());
                return SUPZIP_ERR_UNSAFE;
            }
        }
        if (e.is_dir && (st.valid & ZIP_STAT_SIZE) && st.size != 0) {
            FLOG(FLOG_ERROR, "refused %s: directory entry \"%s\" holds data", package, e.path.c_str());
            return SUPZIP_ERR_UNSAFE;
        }
        if (!e.is_dir) {
            if (!(st.valid & ZIP_STAT_SIZE) || !(st.valid & ZIP_STAT_COMP_SIZE)) {
                FLOG(FLOG_ERROR, "refused %s: entry \"%s\" has no sizes", package, e.path.c_str());
                return SUPZIP_ERR_OPEN;
            }
            if (!zip_compression_method_supported(st.comp_method, 0) ||
                (st.encryption_method != ZIP_EM_NONE &&
                 !zip_encryption_method_supported(st.encryption_method, 0))) {
                FLOG(FLOG_ERROR, "refused %s: entry \"%s\" uses an unsupported method", package,
                     e.path.c_str());
                return SUPZIP_ERR_OPEN;
            }
            e.size = st.size;
            e.comp_size = st.comp_size;
            e.comp_method = st.comp_method;
            e.encryption_method = st.encryption_method;
            e.crc = (st.valid & ZIP_STAT_CRC) ? st.crc : 0;
            if (st.size > kRatioExemptBytes && st.size / (st.comp_size ? st.comp_size : 1) > kMaxRatio) {
                FLOG(FLOG_ERROR, "refused %s: entry \"%s\" inflates %llu bytes to %llu", package,
                     e.path.c_str(), (unsigned long long)st.comp_size, (unsigned long long)st.size);
                return SUPZIP_ERR_UNSAFE;
            }
            if (total + st.size < total) {
                FLOG(FLOG_ERROR, "refused %s: sizes overflow", package);
                return SUPZIP_ERR_UNSAFE;
            }
            total += st.size;
        }
        // A name may not be used twice, nor as a file and as a directory.
        if (files.count(e.path) || (!e.is_dir && dirs.count(e.path))) {
            FLOG(FLOG_ERROR, "refused %s: duplicate entry \"%s\"", package, e.path.c_str());
            return SUPZIP_ERR_UNSAFE;
        }
        for (size_t p = e.path.find('/'); p != std::string::npos; p = e.path.find('/', p + 1)) {
            std::string prefix = e.path.substr(0, p);
            if (files.count(prefix)) {
                FLOG(FLOG_ERROR, "refused %s: entry \"%s\" lies under a file", package, e.path.c_str());
                return SUPZIP_ERR_UNSAFE;
            }
            dirs.insert(prefix);
        }
        if (e.is_dir) {
            if (!dirs.insert(e.path).second) {
                continue;  // an explicit entry for a directory already implied is harmless
            }
        } else {
            files.insert(e.path);
        }
        plan.push_back(e);
    }
    struct statvfs vfs;
    if (statvfs(destParent.c_str(), &vfs) == 0) {
        unsigned long long avail = (unsigned long long)vfs.f_bavail * vfs.f_frsize;
        if (total + kFreeSpaceMargin > avail) {
            FLOG(FLOG_ERROR, "refused %s: needs %llu bytes, %llu free", package, (unsigned long long)total,
                 avail);
            return SUPZIP_ERR_SPACE;
        }
    }
    return SUPZIP_OK;
}

}  // namespace

const char* supzip_package_key() {
    return kPackageKey;
}

// Removes a tree without following symbolic links out of it.
int supzip_remove_tree(const char* path) {
    struct stat st;
    if (lstat(path, &st) != 0) {
        return errno == ENOENT ? 0 : -1;
    }
    if (!S_ISDIR(st.st_mode)) {
        return unlink(path) == 0 ? 0 : -1;
    }
    int rc = 0;
    if (DIR* d = opendir(path)) {
        std::vector<std::string> children;
        while (struct dirent* e = readdir(d)) {
            if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) {
                children.emplace_back(e->d_name);
            }
        }
        closedir(d);
        for (const std::string& c : children) {
            if (supzip_remove_tree((std::string(path) + "/" + c).c_str()) != 0) {
                rc = -1;
            }
        }
    } else {
        rc = -1;
    }
    if (rmdir(path) != 0) {
        rc = -1;
    }
    return rc;
}

namespace {

int extractOne(zip_t* za, const PlannedEntry& e, const std::string& root, std::vector<char>& buf,
               const char* package) {
    const bool fastAes = e.encryption_method == ZIP_EM_AES_256 &&
                         (e.comp_method == ZIP_CM_STORE || e.comp_method == ZIP_CM_DEFLATE);
    return fastAes ? extractAesFile(za, e, root, buf, package) : extractFile(za, e, root, buf, package);
}

// Extracts one entry through a handle of the package of its own (handles are not shared between
// threads).
int extractOnOwnHandle(const PlannedEntry& e, const std::string& root, const char* package) {
    int err = 0;
    ZipCloser z;
    z.za = zip_open(package, ZIP_RDONLY, &err);
    if (!z.za) {
        FLOG(FLOG_ERROR, "can't open package %s again (error %d)", package, err);
        return SUPZIP_ERR_OPEN;
    }
    zip_set_default_password(z.za, kPackageKey);
    std::vector<char> buf(kCopyBuffer);
    return extractOne(z.za, e, root, buf, package);
}

// The entry worth a thread of its own: the costliest file (inflating costs several times what
// copying a stored entry does), when some other file can be written meanwhile.
const PlannedEntry* sideEntry(const std::vector<PlannedEntry>& plan) {
    const PlannedEntry* best = nullptr;
    int files = 0;
    auto cost = [](const PlannedEntry& e) { return e.comp_method == ZIP_CM_STORE ? e.size : e.size * 4; };
    for (const PlannedEntry& e : plan) {
        if (e.is_dir) {
            continue;
        }
        ++files;
        if (!best || cost(e) > cost(*best)) {
            best = &e;
        }
    }
    return files >= 2 ? best : nullptr;
}

// Writes every planned entry under `root`: folders first, then the costliest file on a second
// thread while this one writes the others (a long class's meta.json inflates while its video is
// copied). The first failure decides the result; the caller removes `root` on failure.
int extractPlan(zip_t* za, const std::vector<PlannedEntry>& plan, const std::string& root,
                const char* package) {
    for (const PlannedEntry& e : plan) {
        const std::string folder =
            e.is_dir ? e.path : (e.path.find('/') != std::string::npos ? parentOf(e.path) : "");
        if (!folder.empty() && !makeDirs(root, folder)) {
            FLOG(FLOG_ERROR, "can't create folder %s: %s", folder.c_str(), strerror(errno));
            return SUPZIP_ERR_WRITE;
        }
    }
    const PlannedEntry* side = sideEntry(plan);
    int sideRc = SUPZIP_OK;
    std::thread sideThread;
    if (side) {
        try {
            sideThread = std::thread(
                [&sideRc, side, &root, package]() { sideRc = extractOnOwnHandle(*side, root, package); });
        } catch (const std::system_error&) {
            side = nullptr;  // no thread to be had: everything here, in turn
        }
    }
    int rc = SUPZIP_OK;
    std::vector<char> buf(kCopyBuffer);
    for (const PlannedEntry& e : plan) {
        if (e.is_dir || &e == side) {
            continue;
        }
        rc = extractOne(za, e, root, buf, package);
        if (rc != SUPZIP_OK) {
            break;
        }
    }
    if (sideThread.joinable()) {
        sideThread.join();
    }
    return rc != SUPZIP_OK ? rc : sideRc;
}

}  // namespace

extern "C" int IsEncryptSource(const char* package_path) {
    if (!package_path || !*package_path) {
        return 0;
    }
    int err = 0;
    ZipCloser z;
    z.za = zip_open(package_path, ZIP_RDONLY, &err);
    if (!z.za) {
        return 0;
    }
    zip_int64_t count = zip_get_num_entries(z.za, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(z.za, zip_uint64_t(i), 0, &st) == 0 && (st.valid & ZIP_STAT_ENCRYPTION_METHOD) &&
            st.encryption_method != ZIP_EM_NONE) {
            return 1;
        }
    }
    return 0;
}

// Moves every entry of `staging` into the empty folder `dest`; on a failure the entries already
// moved are removed again, so `dest` is left empty.
static int moveEntriesInto(const std::string& staging, const std::string& dest) {
    std::vector<std::string> names;
    if (DIR* d = opendir(staging.c_str())) {
        while (struct dirent* e = readdir(d)) {
            if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) {
                names.emplace_back(e->d_name);
            }
        }
        closedir(d);
    } else {
        FLOG(FLOG_ERROR, "can't read the staging folder %s: %s", staging.c_str(), strerror(errno));
        return SUPZIP_ERR_WRITE;
    }
    for (size_t i = 0; i < names.size(); ++i) {
        if (rename((staging + "/" + names[i]).c_str(), (dest + "/" + names[i]).c_str()) != 0) {
            FLOG(FLOG_ERROR, "can't move the unpacked package to %s: %s", dest.c_str(), strerror(errno));
            for (size_t j = 0; j < i; ++j) {
                supzip_remove_tree((dest + "/" + names[j]).c_str());
            }
            return SUPZIP_ERR_WRITE;
        }
    }
    return SUPZIP_OK;
}

extern "C" int DecompressZipDec(const char* package_path, const char* dest_dir) {
    if (!package_path || !*package_path || !dest_dir || !*dest_dir) {
        FLOG(FLOG_ERROR, "unpack called without package or destination");
        return SUPZIP_ERR_ARGS;
    }
    const std::string dest = trimTrailingSlashes(dest_dir);
    const std::string parent = parentOf(dest);
    struct stat st;
    if (stat(parent.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        FLOG(FLOG_ERROR, "can't unpack %s: no folder %s", package_path, parent.c_str());
        return SUPZIP_ERR_ARGS;
    }
    // An existing destination is only accepted when it is an empty directory: never mix two unpacks.
    const bool dest_exists = lstat(dest.c_str(), &st) == 0;
    if (dest_exists) {
        bool empty = false;
        if (S_ISDIR(st.st_mode)) {
            if (DIR* d = opendir(dest.c_str())) {
                empty = true;
                while (struct dirent* e = readdir(d)) {
                    if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) {
                        empty = false;
                        break;
                    }
                }
                closedir(d);
            }
        }
        if (!empty) {
            FLOG(FLOG_ERROR, "can't unpack %s: %s already exists", package_path, dest.c_str());
            return SUPZIP_ERR_EXISTS;
        }
    }

    int err = 0;
    ZipCloser z;
    z.za = zip_open(package_path, ZIP_RDONLY | ZIP_CHECKCONS, &err);
    if (!z.za) {
        zip_error_t ze;
        zip_error_init_with_code(&ze, err);
        FLOG(FLOG_ERROR, "can't open package %s: %s", package_path, zip_error_strerror(&ze));
        zip_error_fini(&ze);
        return SUPZIP_ERR_OPEN;
    }
    zip_set_default_password(z.za, kPackageKey);

    std::vector<PlannedEntry> plan;
    int rc = planExtraction(z.za, package_path, parent, plan);
    if (rc != SUPZIP_OK) {
        return rc;
    }

    std::string stagingTemplate = parent + "/." + baseOf(dest) + ".unpack-XXXXXX";
    std::vector<char> tmpl(stagingTemplate.begin(), stagingTemplate.end());
    tmpl.push_back('\0');
    if (!mkdtemp(tmpl.data())) {
        FLOG(FLOG_ERROR, "can't create a staging folder in %s: %s", parent.c_str(), strerror(errno));
        return SUPZIP_ERR_WRITE;
    }
    const std::string staging(tmpl.data());

    rc = extractPlan(z.za, plan, staging, package_path);
    if (rc == SUPZIP_OK && dest_exists) {
        // The caller's folder keeps its identity (whoever recorded it still finds it): the unpacked
        // entries move into it instead of a new folder taking its name.
        rc = moveEntriesInto(staging, dest);
        if (rc == SUPZIP_OK) {
            rmdir(staging.c_str());
        }
    } else if (rc == SUPZIP_OK) {
        chmod(staging.c_str(), 0755);
        if (rename(staging.c_str(), dest.c_str()) != 0) {
            FLOG(FLOG_ERROR, "can't move the unpacked package to %s: %s", dest.c_str(), strerror(errno));
            rc = SUPZIP_ERR_WRITE;
        }
    }
    if (rc != SUPZIP_OK) {
        supzip_remove_tree(staging.c_str());
    }
    return rc;
}

extern "C" int CompressToZipEnc(const char* package_path, const char* entry_path, int mode) {
    if (!package_path || !*package_path || !entry_path || !*entry_path || (mode != 0 && mode != 1)) {
        FLOG(FLOG_ERROR, "pack called with bad arguments");
        return SUPZIP_ERR_ARGS;
    }
    const std::string entry = trimTrailingSlashes(entry_path);
    const std::string name = baseOf(entry);
    if (name.empty() || name == "." || name == "..") {
        FLOG(FLOG_ERROR, "can't pack %s: no entry name", entry_path);
        return SUPZIP_ERR_ARGS;
    }
    return supzip_append(package_path, entry, name, mode == 1, kPackageKey);
}
