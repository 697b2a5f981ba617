// meta.json reader on arbitrary bytes. Besides surviving the input, a document that reads must
// agree with the reference reader on success, and must write back into a file that reads again.
#define FLOG_SOURCE "fuzz/fuzz_meta"
#include <QFile>

#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "JsonResourceParse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = (fuzzsupport::quietLogs(), true);
    (void)ready;
    const QByteArray bytes = fuzzsupport::bytesOf(data, size);

    std::shared_ptr<_RootItem> root = JsonResourceParse::parseBytes(bytes);
    std::shared_ptr<_RootItem> reference = JsonResourceParse::parseBytesReference(bytes);
    if (bool(root) != bool(reference)) {
        fuzzsupport::fail("readers disagree", root ? QStringLiteral("only parseBytes read it")
                                                   : QStringLiteral("only parseBytesReference read it"));
    }
    if (!root) {
        return 0;
    }

    const QString out = fuzzsupport::scratchDir() + QStringLiteral("/meta.json");
    if (JsonResourceParse::saveFile(root, out)) {
        if (!JsonResourceParse::parseFile(out)) {
            QFile f(out);
            f.open(QIODevice::ReadOnly);
            fuzzsupport::fail("written meta.json does not read back",
                              QString::fromUtf8(f.readAll().left(2000)));
        }
    }
    QFile::remove(out);
    return 0;
}
