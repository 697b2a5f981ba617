#pragma once
// Unpacks packages into private workspaces and packs edit directories into packages.
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

#include "ResourceItem.h"

class DataWrapper;
class MetaSideDeflate;

class FileHandler : public QObject {
    Q_OBJECT
public:
    explicit FileHandler(QObject* parent = nullptr);
    ~FileHandler() override;

    void setOwner(std::weak_ptr<DataWrapper> owner);
    void setKeepEncrypt(bool keep);
    bool isEncrypted() const { return encrypted; }
    // A merge packs enciphered when any of its inputs was enciphered, whichever handler read it.
    void setEncrypted(bool on) { encrypted = on; }

    // Unpacks and reads the package; empty on failure (nothing is left in the temporary folder).
    std::shared_ptr<_RootItem> decompress(const QString& packagePath);
    // 0 done, -1 no root, -2 no edit directory.
    qint16 copyPageImages(std::shared_ptr<_RootItem> root);
    // 0 done, -1 page images could not be prepared, -2 packing failed.
    qint16 compress(std::shared_ptr<_RootItem> root, const QString& outPath);

    // For a plain package: deflates meta.json on a second thread while it is written into `editDir`
    // (the returned sink hears of every piece written), and the next `compress` of that folder adds the
    // finished stream instead of deflating the text again. Empty sink when packing will encipher.
    // Whatever goes wrong on the side, packing falls back to deflating the file itself.
    std::function<void(int, qint64)> deflateMetaWhileWriting(const QString& editDir);
    // Drops a side stream that no `compress` will use (a write that failed, a cancelled task).
    void dropMetaDeflate();

    static bool removeDir(const QString& path);
    static QString uniqueFilePath(const QString& path);
    // As `uniqueFilePath`, but names reserved by a running task of this process count as taken, and
    // the result is reserved until `releaseOutputPath`: two tasks never choose one output name.
    static QString reserveOutputPath(const QString& path);
    static void releaseOutputPath(const QString& path);
    // Where the last successful `compress` put the package: its `outPath`, or the next free name
    // when a file appeared at `outPath` meanwhile (an existing file is never replaced).
    QString packedPath() const { return m_packed_path; }
    static QString defaultOutputDir();
    static quint64 freeSpaceMB(const QString& drive);
    static QString makeEditDir(const QString& workspace);

private:
    QString placeWithoutReplacing(const QString& package, const QString& target);

    QStringList tmp_dirs;
    // An open descriptor of each workspace. Its name can be taken again by another session of this
    // process once the owning session has removed it (names repeat within a second); holding the
    // folder open keeps its inode from being reused, so comparing the two tells ours from theirs.
    QHash<QString, int> m_tmp_fds;
    std::weak_ptr<DataWrapper> owner;
    bool encrypted = false;
    bool keep_encrypt = false;
    QString m_packed_path;
    std::shared_ptr<MetaSideDeflate> m_meta_deflate;
};
