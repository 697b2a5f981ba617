#pragma once
// Builds hostile and broken packages for the unpack tests: path escapes, links, devices, duplicate
// names, damaged archives, wrong keys, zip bombs and packages without a readable meta.json.
#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QList>
#include <QMap>
#include <QRandomGenerator>
#include <QString>
#include <functional>
#include <utility>
#include <zip.h>

#include "FileTree.h"

namespace hostile {

struct EntryDef {
    EntryDef(QByteArray n, QByteArray d, bool def = false, QByteArray pw = QByteArray(), quint32 mode = 0)
        : name(std::move(n)), data(std::move(d)), deflate(def), password(std::move(pw)), unixMode(mode) {}
    QByteArray name;
    QByteArray data;
    bool deflate;
    QByteArray password;  // empty: not enciphered
    quint32 unixMode;     // 0: leave libzip's default attributes
};

inline bool writeZip(const QString& path, const QList<EntryDef>& entries) {
    QFile::remove(path);
    int err = 0;
    zip_t* za = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &err);
    if (!za) {
        return false;
    }
    for (const EntryDef& e : entries) {
        // The buffers stay alive in `entries` until zip_close.
        zip_source_t* src = zip_source_buffer(za, e.data.constData(), zip_uint64_t(e.data.size()), 0);
        zip_int64_t idx = src ? zip_file_add(za, e.name.constData(), src, ZIP_FL_ENC_RAW) : -1;
        if (idx < 0) {
            zip_source_free(src);
            zip_discard(za);
            return false;
        }
        zip_set_file_compression(za, zip_uint64_t(idx), e.deflate ? ZIP_CM_DEFLATE : ZIP_CM_STORE, 9);
        if (!e.password.isEmpty()) {
            zip_file_set_encryption(za, zip_uint64_t(idx), ZIP_EM_AES_256, e.password.constData());
        }
        if (e.unixMode) {
            zip_file_set_external_attributes(za, zip_uint64_t(idx), 0, ZIP_OPSYS_UNIX, e.unixMode << 16);
        }
    }
    if (zip_close(za) != 0) {
        zip_discard(za);
        return false;
    }
    return true;
}

// Replaces every occurrence of `from` by `to` (same length) in the file: local and central headers.
inline bool patch(const QString& path, const QByteArray& from, const QByteArray& to) {
    QByteArray b = readAll(path);
    if (b.isEmpty() || from.size() != to.size() || !b.contains(from)) {
        return false;
    }
    b.replace(from, to);
    return writeAll(path, b);
}

inline void putLe32(QByteArray& b, int at, quint32 v) {
    for (int i = 0; i < 4; ++i) {
        b[at + i] = char((v >> (8 * i)) & 0xFF);
    }
}

// Sets the uncompressed size of the entry `name` in its local and central headers.
inline bool patchUncompressedSize(const QString& path, const QByteArray& name, quint32 size) {
    QByteArray b = readAll(path);
    bool local = false, central = false;
    for (int i = 0; i + 46 < b.size(); ++i) {
        if (b.mid(i, 4) == QByteArray("PK\x03\x04", 4) && b.mid(i + 30, name.size()) == name) {
            putLe32(b, i + 22, size);
            local = true;
        } else if (b.mid(i, 4) == QByteArray("PK\x01\x02", 4) && b.mid(i + 46, name.size()) == name) {
            putLe32(b, i + 24, size);
            central = true;
        }
    }
    return local && central && writeAll(path, b);
}

inline QByteArray randomBytes(int n, quint32 seed) {
    QRandomGenerator rng(seed);
    QByteArray b(n, Qt::Uninitialized);
    for (int i = 0; i < n; ++i) {
        b[i] = char(rng.bounded(256));
    }
    return b;
}

inline QByteArray goodMeta() {
    return QByteArray(
        "{\"success\":true,\"msg\":\"ok\",\"datas\":{\"template\":{\"id\":1,\"type\":1},"
        "\"meta\":{\"pageChange\":[],\"draw\":[],\"chatLog\":[]},\"room\":{\"templateType\":1,\"name\":\"x\"}"
        "}}");
}

struct Case {
    QString name;
    // Whether the archive itself is acceptable (only meta.json is wrong).
    bool archiveValid;
    std::function<bool(const QString& path)> build;
};

// Entry names that aim at `canaryName`, a folder next to the unpack destination's parent
// (destination D/ws/ with the canary at D/../canaryName) and at its absolute path.
inline QList<Case> corpus(const QString& canaryAbs, const QString& canaryName) {
    const QByteArray meta = goodMeta();
    const QByteArray video = randomBytes(64 * 1024, 7);
    const QByteArray canary = canaryName.toUtf8();
    const QByteArray abs = canaryAbs.toUtf8();
    QList<Case> c;
    c.append({QStringLiteral("zip_slip_dotdot"), false, [=](const QString& p) {
                  return writeZip(
                      p, {{"meta.json", meta}, {"../../" + canary + "/evil.txt", "owned"}, {"c.mp4", video}});
              }});
    c.append({QStringLiteral("zip_slip_backslash"), false, [=](const QString& p) {
                  return writeZip(
                      p,
                      {{"meta.json", meta}, {"..\\..\\" + canary + "\\evil.txt", "owned"}, {"c.mp4", video}});
              }});
    c.append({QStringLiteral("absolute_path"), false, [=](const QString& p) {
                  return writeZip(p, {{"meta.json", meta}, {abs + "/evil.txt", "owned"}});
              }});
    c.append({QStringLiteral("drive_letter_path"), false, [=](const QString& p) {
                  return writeZip(p, {{"meta.json", meta}, {"C:/evil.txt", "owned"}});
              }});
    c.append({QStringLiteral("symlink_then_write_through"), false, [=](const QString& p) {
                  return writeZip(p, {{"meta.json", meta},
                                      {"link", abs, false, QByteArray(), 0120777},
                                      {"link/evil.txt", "owned"}});
              }});
    c.append({QStringLiteral("relative_symlink"), false, [=](const QString& p) {
                  return writeZip(
                      p, {{"meta.json", meta}, {"up", "../../" + canary, false, QByteArray(), 0120777}});
              }});
    c.append(
        {QStringLiteral("device_entry"), false, [=](const QString& p) {
             return writeZip(p, {{"meta.json", meta}, {"dev", QByteArray(), false, QByteArray(), 0020644}});
         }});
    c.append({QStringLiteral("duplicate_entry"), false, [=](const QString& p) {
                  return writeZip(p, {{"meta.json", meta}, {"meta.jsoX", "{\"evil\":1}"}}) &&
                         patch(p, "meta.jsoX", "meta.json");
              }});
    c.append({QStringLiteral("file_used_as_folder"), false, [=](const QString& p) {
                  return writeZip(p, {{"meta.json", meta}, {"image", "x"}, {"image/a/1.jpg", "y"}});
              }});
    c.append({QStringLiteral("truncated_archive"), false, [=](const QString& p) {
                  if (!writeZip(p, {{"meta.json", meta, true}, {"c.mp4", video}})) {
                      return false;
                  }
                  QByteArray b = readAll(p);
                  return writeAll(p, b.left(b.size() * 6 / 10));
              }});
    c.append({QStringLiteral("bad_crc"), false, [=](const QString& p) {
                  QByteArray damaged = video;
                  if (!writeZip(p, {{"meta.json", meta}, {"c.mp4", video}})) {
                      return false;
                  }
                  QByteArray b = readAll(p);
                  const int at = b.indexOf(video.mid(1000, 64));
                  if (at < 0) {
                      return false;
                  }
                  b[at + 10] = char(b[at + 10] ^ 0x55);
                  return writeAll(p, b);
              }});
    // The small entry damaged while the large one (written by a second thread) is fine.
    c.append({QStringLiteral("bad_crc_small_entry"), false, [=](const QString& p) {
                  if (!writeZip(p, {{"meta.json", meta}, {"c.mp4", video}})) {
                      return false;
                  }
                  QByteArray b = readAll(p);
                  const int at = b.indexOf(meta.left(16));
                  if (at < 0) {
                      return false;
                  }
                  b[at + 8] = char(b[at + 8] ^ 0x55);
                  return writeAll(p, b);
              }});
    c.append({QStringLiteral("size_exceeds_header"), false, [=](const QString& p) {
                  return writeZip(p, {{"meta.json", meta}, {"c.mp4", video}}) &&
                         patchUncompressedSize(p, "c.mp4", 100);
              }});
    c.append({QStringLiteral("wrong_key"), false, [=](const QString& p) {
                  return writeZip(p, {{"meta.json", meta, true, "not-the-package-key"},
                                      {"c.mp4", video, false, "not-the-package-key"}});
              }});
    c.append({QStringLiteral("zip_bomb_ratio"), false, [=](const QString& p) {
                  return writeZip(p, {{"meta.json", meta}, {"c.mp4", QByteArray(64 << 20, '\0'), true}});
              }});
    c.append({QStringLiteral("empty_zip"), false, [=](const QString& p) {
                  QByteArray eocd("PK\x05\x06", 4);
                  eocd.append(QByteArray(18, '\0'));
                  return writeAll(p, eocd);
              }});
    c.append({QStringLiteral("not_a_zip"), false,
              [=](const QString& p) { return writeAll(p, randomBytes(100000, 11)); }});
    c.append({QStringLiteral("missing_meta_json"), true, [=](const QString& p) {
                  return writeZip(p, {{"c.mp4", video}, {"image/d/1.jpg", "jpg"}});
              }});
    c.append({QStringLiteral("meta_json_not_json"), true, [=](const QString& p) {
                  return writeZip(p, {{"meta.json", "this is not {json"}, {"c.mp4", video}});
              }});
    return c;
}

}  // namespace hostile
