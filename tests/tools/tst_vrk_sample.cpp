// The sample package generator: real media checked by ffprobe, a meta.json the reader accepts with
// every kind of event, matching page images, the options, and clean failures.
#include <QtTest>

#include "JsonResourceParse.h"
#include "TestSupport.h"
#include "supzip.h"

namespace {

bool unpackTo(const QString& pkg, const QString& dir) {
    return DecompressZipDec(pkg.toUtf8().constData(), (dir + "/").toUtf8().constData()) == 0;
}

QJsonObject streamOf(const QJsonObject& probe, const QString& type) {
    for (const QJsonValue& v : probe.value("streams").toArray()) {
        if (v.toObject().value("codec_type").toString() == type) {
            return v.toObject();
        }
    }
    return {};
}

}  // namespace

class TestVrkSample : public QObject {
    Q_OBJECT
private slots:
    void defaultPackageContent();
    void mediaOptions();
    void badOptionsFailCleanly();
};

void TestVrkSample::defaultPackageContent() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString pkg = dir.path() + "/t3.vrk";
    QVERIFY(testsupport::makeSample(pkg, {"--template", "3", "--duration", "12", "--size", "320x180"}));
    QCOMPARE(IsEncryptSource(pkg.toLocal8Bit().constData()), 0);
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{"t3.vrk"});
    const QString ws = dir.path() + "/ws";
    QVERIFY(unpackTo(pkg, ws));

    const QJsonObject probe = testsupport::ffprobe(ws + "/c.mp4");
    const QJsonObject video = streamOf(probe, "video");
    const QJsonObject audio = streamOf(probe, "audio");
    QCOMPARE(video.value("codec_name").toString(), QString("h264"));
    QCOMPARE(video.value("width").toInt(), 320);
    QCOMPARE(video.value("height").toInt(), 180);
    QCOMPARE(video.value("r_frame_rate").toString(), QString("25/1"));
    QCOMPARE(audio.value("codec_name").toString(), QString("aac"));
    const qint64 ms = testsupport::ffprobeDurationMs(ws + "/c.mp4");
    QVERIFY2(ms >= 11800 && ms <= 12300, qPrintable(QString::number(ms)));

    auto root = JsonResourceParse::parseFile(ws + "/meta.json");
    QVERIFY(root && root->datas && root->datas->meta_item && root->datas->room_item &&
            root->datas->template_item);
    QCOMPARE(int(root->datas->room_item->templateType), 3);
    const auto meta = root->datas->meta_item;

    // Page changes of two documents, each with its image in the package, revisiting pages.
    QSet<QString> docs, images;
    for (const auto& p : meta->pageChange) {
        QVERIFY(p->url.endsWith(QString("/%1.jpg").arg(p->pageNum)));
        QVERIFY(p->width > 0 && p->height > 0);
        const QString image = ws + "/image/" + p->docId + "/" + p->url.section('/', -1);
        QImage img(image);
        QVERIFY2(!img.isNull(), qPrintable(image));
        QCOMPARE(img.size(), QSize(p->width, p->height));
        docs.insert(p->docId);
        images.insert(image);
    }
    QCOMPARE(docs.size(), 2);
    QVERIFY(images.size() >= 4);

    // Every draw type, on pages and documents that were shown; type 2 carries points.
    QSet<int> types;
    for (const auto& d : meta->draw) {
        types.insert(d->data.type);
        QVERIFY(docs.contains(d->data.docid));
        if (d->data.type == 2) {
            QVERIFY(d->data.points.size() >= 2);
        }
        if (d->data.type == 3 || d->data.type == 4 || d->data.type == 5) {
            QVERIFY(d->data.rect.width() > 0 && d->data.rect.height() > 0);
        }
        if (d->data.type == 5) {
            QVERIFY(!d->data.label.isEmpty() && d->data.size > 0);
        }
    }
    QCOMPARE(types, (QSet<int>{0, 1, 2, 3, 4, 5, 8, 9}));
    QVERIFY(!meta->animation.isEmpty());

    // Chat with all four roles, emoticon and link codes, Chinese text.
    QSet<QString> roles;
    bool emoticon = false, link = false, chinese = false;
    for (const auto& c : meta->chatLog) {
        roles.insert(c->userRole);
        emoticon |= c->content.contains(QRegularExpression("\\[em\\d_\\d+\\]"));
        link |= c->content.contains("[uri_");
        chinese |= c->content.contains(QString::fromUtf8("老师"));
    }
    QCOMPARE(roles, (QSet<QString>{"teacher", "student", "publisher", "systemMsg"}));
    QVERIFY(emoticon && link && chinese);

    // Every answer belongs to a question asked before it.
    QMap<QString, int> asked;
    for (const auto& q : meta->question) {
        asked.insert(q->id, q->time);
    }
    QVERIFY(asked.size() >= 3);
    QVERIFY(!meta->answer.isEmpty());
    for (const auto& a : meta->answer) {
        QVERIFY2(asked.contains(a->id), qPrintable(a->id));
        QVERIFY(a->time >= asked.value(a->id));
    }

    // Each list in ascending time inside the video, and the events spread over its whole length.
    auto check = [&](const auto& list) {
        int last = 0;
        for (const auto& item : list) {
            if (item->time < last || item->time < 0 || item->time >= 12000) {
                return false;
            }
            last = item->time;
        }
        return true;
    };
    QVERIFY(check(meta->draw) && check(meta->pageChange) && check(meta->chatLog) && check(meta->question) &&
            check(meta->answer) && check(meta->animation));
    QVERIFY(meta->draw.last()->time >= 9000);
    QVERIFY(meta->chatLog.last()->time >= 9000);
}

void TestVrkSample::mediaOptions() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString pkg = dir.path() + "/odd.vrk";
    QVERIFY(testsupport::makeSample(pkg, {"--template", "6", "--duration", "4", "--size", "256x144", "--fps",
                                          "10", "--gop", "10", "--no-audio", "--video-codec", "hevc",
                                          "--encrypt", "--events-scale", "2", "--video-name", "c"}));
    QVERIFY(IsEncryptSource(pkg.toLocal8Bit().constData()) != 0);
    const QString ws = dir.path() + "/ws";
    QVERIFY(unpackTo(pkg, ws));
    QVERIFY(!QFileInfo::exists(ws + "/c.mp4"));
    const QJsonObject probe = testsupport::ffprobe(ws + "/c");
    QCOMPARE(streamOf(probe, "video").value("codec_name").toString(), QString("hevc"));
    QCOMPARE(streamOf(probe, "video").value("width").toInt(), 256);
    QCOMPARE(streamOf(probe, "video").value("r_frame_rate").toString(), QString("10/1"));
    QVERIFY(streamOf(probe, "audio").isEmpty());

    // Key frames every --gop frames: at 0, 1, 2 and 3 seconds.
    QByteArray out;
    QCOMPARE(testsupport::runProgram("ffprobe",
                                     {"-v", "error", "-select_streams", "v", "-skip_frame", "nokey",
                                      "-show_entries", "frame=pts_time", "-of", "csv=p=0", ws + "/c"},
                                     &out),
             0);
    QStringList keys = QString::fromUtf8(out).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(keys.size(), 4);
    for (int i = 0; i < keys.size(); ++i) {
        QVERIFY2(qAbs(keys[i].trimmed().toDouble() - i) < 0.01, qPrintable(keys[i]));
    }

    auto root = JsonResourceParse::parseFile(ws + "/meta.json");
    QVERIFY(root && root->datas && root->datas->room_item);
    QCOMPARE(int(root->datas->room_item->templateType), 6);

    const QString mp4 = dir.path() + "/mpeg4.vrk";
    QVERIFY(testsupport::makeSample(mp4, {"--duration", "2", "--size", "160x96", "--video-codec", "mpeg4"}));
    const QString ws2 = dir.path() + "/ws2";
    QVERIFY(unpackTo(mp4, ws2));
    QCOMPARE(streamOf(testsupport::ffprobe(ws2 + "/c.mp4"), "video").value("codec_name").toString(),
             QString("mpeg4"));
}

void TestVrkSample::badOptionsFailCleanly() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString out = dir.path() + "/bad.vrk";
    const QList<QStringList> bad{{"--template", "7"},      {"--template", "x"},     {"--duration", "0"},
                                 {"--size", "321x180"},    {"--size", "big"},       {"--video-codec", "vp9"},
                                 {"--video-name", "../c"}, {"--events-scale", "0"}, {"--fps", "0"},
                                 {"--no-such-option"}};
    for (const QStringList& args : bad) {
        QByteArray stdoutText;
        QVERIFY2(testsupport::runProgram(testsupport::sampleTool(), args + QStringList{"--out", out},
                                         &stdoutText) != 0,
                 qPrintable(args.join(' ')));
        QVERIFY(stdoutText.isEmpty());
    }
    QVERIFY(testsupport::runProgram(testsupport::sampleTool(), {"--template", "1"}) != 0);
    // An output folder that cannot be made.
    QFile blocker(dir.path() + "/file");
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QVERIFY(testsupport::runProgram(testsupport::sampleTool(),
                                    {"--duration", "2", "--out", dir.path() + "/file/x.vrk"}) != 0);
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{"file"});
}

QTEST_GUILESS_MAIN(TestVrkSample)
#include "tst_vrk_sample.moc"
