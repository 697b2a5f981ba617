// The class glue: files in and out, the fast paths first and the toolkit path where the fast reader
// is not certain of the text. The parts live beside this file: value rules (JsonResourceRules), the
// record tables (JsonResourceFields), the fast reader (JsonResourceScanner, JsonResourceFastReader),
// the fast writer (JsonResourceFastWriter) and the toolkit reader and writer (JsonResourceReference).
#define FLOG_SOURCE "editor/JsonResourceParse"
#include "JsonResourceParse.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <limits>

#include "FLog.h"
#include "JsonResourceFastReader.h"
#include "JsonResourceFastWriter.h"

std::shared_ptr<_RootItem> JsonResourceParse::parseFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        FLOG(FLOG_ERROR, "can't open file:%s", path.toUtf8().constData());
        return {};
    }
    // Mapping avoids holding a second full copy of a large document while it is parsed; devices that
    // cannot be mapped (empty files, pipes) are read instead.
    const qint64 size = file.size();
    if (size > 0 && size <= qint64(std::numeric_limits<int>::max())) {
        if (uchar* mapped = file.map(0, size)) {
            const QByteArray bytes =
                QByteArray::fromRawData(reinterpret_cast<const char*>(mapped), int(size));
            bool handled = false;
            std::shared_ptr<_RootItem> root = MetaJson::readDocument(
                bytes.constData(), bytes.constData() + bytes.size(), bytes.constData(), &handled);
            if (!handled) {
                root = parseBytesReference(bytes);
            }
            file.unmap(mapped);
            file.close();
            return root;
        }
    }
    const QByteArray bytes = file.readAll();
    file.close();
    return parseBytes(bytes);
}

std::shared_ptr<_RootItem> JsonResourceParse::parseBytes(const QByteArray& bytes) {
    bool handled = false;
    std::shared_ptr<_RootItem> root =
        MetaJson::readDocument(bytes.constData(), bytes.constData() + bytes.size(), nullptr, &handled);
    return handled ? root : parseBytesReference(bytes);
}

namespace {

// Passes what is written on to the file and tells the sink about every piece written.
class TeeDevice : public QIODevice {
public:
    TeeDevice(QFileDevice* target, const JsonResourceParse::PieceSink& written)
        : m_target(target), m_written(written) {}

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override {
        const qint64 done = m_target->write(data, size);
        if (done == size) {
            m_written(m_target->handle(), size);
        }
        return done;
    }

private:
    QFileDevice* m_target;
    const JsonResourceParse::PieceSink& m_written;
};

}  // namespace

bool JsonResourceParse::saveFile(std::shared_ptr<_RootItem> root, const QString& path) {
    return saveFile(std::move(root), path, PieceSink());
}

bool JsonResourceParse::saveFile(std::shared_ptr<_RootItem> root, const QString& path,
                                 const PieceSink& written) {
    if (!root) {
        FLOG(FLOG_ERROR, "root item is empty.");
        return false;
    }
    FLOG(FLOG_ERROR, "dir=%s \nfile_name=%s\n", QDir::currentPath().toUtf8().constData(),
         path.toUtf8().constData());

    // The document is written beside its final name and moved there only once it is complete, so a
    // failed or interrupted write never leaves a truncated meta.json to be packed. Unbuffered, because
    // a buffered device hides a short write (full disk) and would report success.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        FLOG(FLOG_ERROR, "can't open file:%s", path.toUtf8().constData());
        return false;
    }
    TeeDevice tee(&file, written);
    if (written) {
        tee.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    }
    if (!MetaJson::writeDocument(*root, written ? static_cast<QIODevice*>(&tee) : &file) || !file.commit()) {
        FLOG(FLOG_ERROR, "can't write file:%s", path.toUtf8().constData());
        file.cancelWriting();
        return false;
    }
    return true;
}
