// Reader and writer of meta.json: conversion rules, failure lines, bad input and round trips.
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/resource.h>

#include <csignal>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <limits>
#include <vector>

#include <log4cplus/appender.h>
#include <log4cplus/initializer.h>
#include <log4cplus/logger.h>
#include <log4cplus/spi/loggingevent.h>

#include "FLog.h"
#include "JsonResourceParse.h"

namespace {

// Collects what the program log receives while it is alive.
class LogCapture {
public:
    LogCapture() { flog_set_callback(&LogCapture::sink, this); }
    ~LogCapture() { flog_set_callback(nullptr, nullptr); }

    // Messages of this module with their "[editor/JsonResourceParse:N]" prefix checked and removed.
    QStringList texts() const {
        static const QRegularExpression prefix(QStringLiteral("^\\[editor/JsonResourceParse:\\d+\\]"));
        QStringList out;
        for (const auto& l : m_lines) {
            QRegularExpressionMatch m = prefix.match(l.second);
            out << (m.hasMatch() ? l.second.mid(m.capturedLength())
                                 : QStringLiteral("<no prefix> ") + l.second);
        }
        return out;
    }
    QList<int> levels() const {
        QList<int> out;
        for (const auto& l : m_lines) {
            out << l.first;
        }
        return out;
    }
    void clear() { m_lines.clear(); }
    // Whole lines as logged, prefix included.
    QStringList lines() const {
        QStringList out;
        for (const auto& l : m_lines) {
            out << QString::number(l.first) + ' ' + l.second;
        }
        return out;
    }

private:
    static void sink(int level, const char* format, va_list args, void* user) {
        char buf[8192];
        vsnprintf(buf, sizeof(buf), format, args);
        static_cast<LogCapture*>(user)->m_lines.append({level, QString::fromUtf8(buf)});
    }
    QList<QPair<int, QString>> m_lines;
};

class CaptureAppender : public log4cplus::Appender {
public:
    ~CaptureAppender() override { destructorImpl(); }
    void close() override {}
    std::vector<std::pair<log4cplus::LogLevel, std::string>> events;

protected:
    void append(const log4cplus::spi::InternalLoggingEvent& e) override {
        events.emplace_back(e.getLogLevel(), e.getMessage());
    }
};

QString compact(const QJsonObject& o) {
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

QByteArray bytesOf(const QJsonObject& o) {
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

// A document with template and room present and the given meta object.
QByteArray docWithMeta(const QJsonObject& meta) {
    QJsonObject datas{{"template", QJsonObject{{"id", 1}}}, {"room", QJsonObject{{"id", 1}}}, {"meta", meta}};
    return bytesOf(QJsonObject{{"msg", "ok"}, {"success", true}, {"datas", datas}});
}

std::shared_ptr<_MetaItem> readMeta(const QJsonObject& meta) {
    auto root = JsonResourceParse::parseBytes(docWithMeta(meta));
    if (!root || !root->datas) {
        return {};
    }
    return root->datas->meta_item;
}

QJsonObject drawElement(const QJsonObject& data, int time = 1) {
    return QJsonObject{{"time", time}, {"docName", "doc"}, {"pageNum", 2}, {"data", compact(data)}};
}

std::shared_ptr<_DrawItem> readDraw(const QJsonObject& data) {
    auto meta = readMeta(QJsonObject{{"draw", QJsonArray{drawElement(data)}}});
    return meta && meta->draw.size() == 1 ? meta->draw.first() : nullptr;
}

// A document holding every record kind with distinct, non-default values.
QByteArray fullDocument() {
    QFile f(QStringLiteral(VRK_SOURCE_DIR "/tests/editor/data/meta_full.json"));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Member-by-member comparison of two trees; the first difference is described in *why.
#define SAME(a, b, what)                                                                    \
    do {                                                                                    \
        if (!((a) == (b))) {                                                                \
            *why = QStringLiteral("%1 differs at %2").arg(QStringLiteral(what)).arg(index); \
            return false;                                                                   \
        }                                                                                   \
    } while (0)

bool sameDraw(const _DrawItem& a, const _DrawItem& b, int index, QString* why) {
    SAME(a.time, b.time, "draw.time");
    SAME(a.kind, b.kind, "draw.kind");
    SAME(a.pageNum, b.pageNum, "draw.pageNum");
    SAME(a.docName, b.docName, "draw.docName");
    const _DrawData& x = a.data;
    const _DrawData& y = b.data;
    SAME(x.type, y.type, "data.type");
    SAME(x.width, y.width, "data.width");
    SAME(x.height, y.height, "data.height");
    SAME(x.thickness, y.thickness, "data.thickness");
    SAME(x.alpha, y.alpha, "data.alpha");
    SAME(x.color, y.color, "data.color");
    SAME(x.drawtime, y.drawtime, "data.drawtime");
    SAME(x.rect.x(), y.rect.x(), "data.rect.x");
    SAME(x.rect.y(), y.rect.y(), "data.rect.y");
    SAME(x.rect.width(), y.rect.width(), "data.rect.width");
    SAME(x.rect.height(), y.rect.height(), "data.rect.height");
    SAME(x.size, y.size, "data.size");
    SAME(x.label, y.label, "data.label");
    SAME(x.docid, y.docid, "data.docid");
    SAME(x.drawid, y.drawid, "data.drawid");
    SAME(x.page, y.page, "data.page");
    SAME(x.points.size(), y.points.size(), "data.points.size");
    for (int i = 0; i < x.points.size(); ++i) {
        SAME(x.points[i].x(), y.points[i].x(), "data.points.x");
        SAME(x.points[i].y(), y.points[i].y(), "data.points.y");
    }
    return true;
}

bool sameTree(const _RootItem& a, const _RootItem& b, QString* why) {
    int index = -1;
    SAME(a.success, b.success, "success");
    SAME(a.msg, b.msg, "msg");
    SAME(bool(a.datas), bool(b.datas), "datas presence");
    if (!a.datas) {
        return true;
    }
    const auto& ta = a.datas->template_item;
    const auto& tb = b.datas->template_item;
    SAME(bool(ta), bool(tb), "template presence");
    if (ta) {
        SAME(ta->kind, tb->kind, "template.kind");
        SAME(ta->time, tb->time, "template.time");
        SAME(ta->id, tb->id, "template.id");
        SAME(ta->type, tb->type, "template.type");
        SAME(ta->status, tb->status, "template.status");
        SAME(ta->pdfView, tb->pdfView, "template.pdfView");
        SAME(ta->chatView, tb->chatView, "template.chatView");
        SAME(ta->qaView, tb->qaView, "template.qaView");
        SAME(ta->name, tb->name, "template.name");
        SAME(ta->desc, tb->desc, "template.desc");
        SAME(ta->iconPath, tb->iconPath, "template.iconPath");
    }
    const auto& ra = a.datas->room_item;
    const auto& rb = b.datas->room_item;
    SAME(bool(ra), bool(rb), "room presence");
    if (ra) {
        SAME(ra->ableCode, rb->ableCode, "room.ableCode");
        SAME(ra->ableEdit, rb->ableEdit, "room.ableEdit");
        SAME(ra->ableMonitor, rb->ableMonitor, "room.ableMonitor");
        SAME(ra->ableClose, rb->ableClose, "room.ableClose");
        SAME(ra->close, rb->close, "room.close");
        SAME(ra->ableLogin, rb->ableLogin, "room.ableLogin");
        SAME(ra->hasWarmVideoId, rb->hasWarmVideoId, "room.hasWarmVideoId");
        SAME(ra->openHostMode, rb->openHostMode, "room.openHostMode");
        SAME(ra->openLowDelayMode, rb->openLowDelayMode, "room.openLowDelayMode");
        SAME(ra->freeAuth, rb->freeAuth, "room.freeAuth");
        SAME(ra->id, rb->id, "room.id");
        SAME(ra->manuallyRecordMode, rb->manuallyRecordMode, "room.manuallyRecordMode");
        SAME(ra->status, rb->status, "room.status");
        SAME(ra->authType, rb->authType, "room.authType");
        SAME(ra->userId, rb->userId, "room.userId");
        SAME(ra->barrage, rb->barrage, "room.barrage");
        SAME(ra->templateType, rb->templateType, "room.templateType");
        SAME(ra->warmVideoId, rb->warmVideoId, "room.warmVideoId");
        SAME(ra->delayTime, rb->delayTime, "room.delayTime");
        SAME(ra->showUserCount, rb->showUserCount, "room.showUserCount");
        SAME(ra->foreignPublish, rb->foreignPublish, "room.foreignPublish");
        SAME(ra->dvr, rb->dvr, "room.dvr");
        SAME(ra->clientDocPermissions, rb->clientDocPermissions, "room.clientDocPermissions");
        SAME(ra->name, rb->name, "room.name");
        SAME(ra->desc, rb->desc, "room.desc");
        SAME(ra->encryptId, rb->encryptId, "room.encryptId");
        SAME(ra->encryptUserId, rb->encryptUserId, "room.encryptUserId");
        SAME(ra->publisherPass, rb->publisherPass, "room.publisherPass");
        SAME(ra->playPass, rb->playPass, "room.playPass");
        SAME(ra->assistantPass, rb->assistantPass, "room.assistantPass");
        SAME(ra->checkUrl, rb->checkUrl, "room.checkUrl");
        SAME(ra->encryptWarmVideoId, rb->encryptWarmVideoId, "room.encryptWarmVideoId");
        SAME(ra->escapeHTMLName, rb->escapeHTMLName, "room.escapeHTMLName");
        SAME(ra->escapeHTMLDesc, rb->escapeHTMLDesc, "room.escapeHTMLDesc");
        SAME(ra->atlasRoomId, rb->atlasRoomId, "room.atlasRoomId");
    }
    const auto& ma = a.datas->meta_item;
    const auto& mb = b.datas->meta_item;
    SAME(bool(ma), bool(mb), "meta presence");
    if (!ma) {
        return true;
    }
    SAME(ma->draw.size(), mb->draw.size(), "draw count");
    for (index = 0; index < ma->draw.size(); ++index) {
        if (!sameDraw(*ma->draw[index], *mb->draw[index], index, why)) {
            return false;
        }
    }
    SAME(ma->pageChange.size(), mb->pageChange.size(), "pageChange count");
    for (index = 0; index < ma->pageChange.size(); ++index) {
        const _PageChangeItem& x = *ma->pageChange[index];
        const _PageChangeItem& y = *mb->pageChange[index];
        SAME(x.time, y.time, "pageChange.time");
        SAME(x.kind, y.kind, "pageChange.kind");
        SAME(x.useSDK, y.useSDK, "pageChange.useSDK");
        SAME(x.docTotalPage, y.docTotalPage, "pageChange.docTotalPage");
        SAME(x.pageNum, y.pageNum, "pageChange.pageNum");
        SAME(x.width, y.width, "pageChange.width");
        SAME(x.height, y.height, "pageChange.height");
        SAME(x.serverTime, y.serverTime, "pageChange.serverTime");
        SAME(x.encryptDocId, y.encryptDocId, "pageChange.encryptDocId");
        SAME(x.pageTitle, y.pageTitle, "pageChange.pageTitle");
        SAME(x.docId, y.docId, "pageChange.docId");
        SAME(x.docName, y.docName, "pageChange.docName");
        SAME(x.url, y.url, "pageChange.url");
        SAME(x.mode, y.mode, "pageChange.mode");
    }
    SAME(ma->chatLog.size(), mb->chatLog.size(), "chatLog count");
    for (index = 0; index < ma->chatLog.size(); ++index) {
        const _ChatLogItem& x = *ma->chatLog[index];
        const _ChatLogItem& y = *mb->chatLog[index];
        SAME(x.time, y.time, "chatLog.time");
        SAME(x.kind, y.kind, "chatLog.kind");
        SAME(x.userCustomMark, y.userCustomMark, "chatLog.userCustomMark");
        SAME(x.userRole, y.userRole, "chatLog.userRole");
        SAME(x.userAvatar, y.userAvatar, "chatLog.userAvatar");
        SAME(x.userId, y.userId, "chatLog.userId");
        SAME(x.userName, y.userName, "chatLog.userName");
        SAME(x.content, y.content, "chatLog.content");
    }
    SAME(ma->question.size(), mb->question.size(), "question count");
    for (index = 0; index < ma->question.size(); ++index) {
        const _QuestionItem& x = *ma->question[index];
        const _QuestionItem& y = *mb->question[index];
        SAME(x.time, y.time, "question.time");
        SAME(x.kind, y.kind, "question.kind");
        SAME(x.isPublish, y.isPublish, "question.isPublish");
        SAME(x.id, y.id, "question.id");
        SAME(x.content, y.content, "question.content");
        SAME(x.encryptId, y.encryptId, "question.encryptId");
        SAME(x.triggerTime, y.triggerTime, "question.triggerTime");
        SAME(x.questionUserId, y.questionUserId, "question.questionUserId");
        SAME(x.questionUserName, y.questionUserName, "question.questionUserName");
        SAME(x.questionUserAvatar, y.questionUserAvatar, "question.questionUserAvatar");
    }
    SAME(ma->answer.size(), mb->answer.size(), "answer count");
    for (index = 0; index < ma->answer.size(); ++index) {
        const _AnswerItem& x = *ma->answer[index];
        const _AnswerItem& y = *mb->answer[index];
        SAME(x.time, y.time, "answer.time");
        SAME(x.kind, y.kind, "answer.kind");
        SAME(x.isPrivate, y.isPrivate, "answer.isPrivate");
        SAME(x.id, y.id, "answer.id");
        SAME(x.content, y.content, "answer.content");
        SAME(x.encryptId, y.encryptId, "answer.encryptId");
        SAME(x.triggerTime, y.triggerTime, "answer.triggerTime");
        SAME(x.answerUserId, y.answerUserId, "answer.answerUserId");
        SAME(x.answerUserName, y.answerUserName, "answer.answerUserName");
        SAME(x.answerUserAvatar, y.answerUserAvatar, "answer.answerUserAvatar");
        SAME(x.answerUserRole, y.answerUserRole, "answer.answerUserRole");
    }
    SAME(ma->animation.size(), mb->animation.size(), "animation count");
    for (index = 0; index < ma->animation.size(); ++index) {
        const _AnimationItem& x = *ma->animation[index];
        const _AnimationItem& y = *mb->animation[index];
        SAME(x.time, y.time, "animation.time");
        SAME(x.kind, y.kind, "animation.kind");
        SAME(x.docTotalPage, y.docTotalPage, "animation.docTotalPage");
        SAME(x.pageNum, y.pageNum, "animation.pageNum");
        SAME(x.encryptDocId, y.encryptDocId, "animation.encryptDocId");
        SAME(x.docId, y.docId, "animation.docId");
        SAME(x.step, y.step, "animation.step");
    }
    return true;
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

long peakRssKb() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

// The object written into the "data" text of a draw record.
QJsonObject writtenDrawData(const std::shared_ptr<_DrawItem>& item) {
    QJsonObject o;
    if (!JsonResourceParse::drawItemToJson(item, o)) {
        return {};
    }
    return QJsonDocument::fromJson(o.value("data").toString().toUtf8()).object();
}

QtMessageHandler g_previous_handler = nullptr;
QStringList g_debug_lines;
void captureDebug(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtDebugMsg) {
        g_debug_lines << text;
    }
}

}  // namespace

class TestJsonResourceParse : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void hugeGarbageFileFailsWithBoundedMemory();
    void readsEveryRecordOfADocument();
    void integerConversions();
    void timeConversions();
    void textAndFlagConversions();
    void serverTimeConversions_data();
    void serverTimeConversions();
    void questionAndAnswerIds();
    void drawDataDecoding();
    void drawDataDefaultsAndPage();
    void pageChangesAreStableSortedOtherListsKeepFileOrder();
    void unreadableDocumentsGiveEmptyResult();
    void wrongTypedDatasAndChildren();
    void nonObjectEventElementsAreSkipped();
    void deepNesting();
    void writerFormatsDrawData();
    void writerFormatsEventsAndSettings();
    void writerOutputIsCompactAndReplacesAtomically();
    void writerFailures();
    void writerLogsPageChangesAndAnimations();
    void documentSurvivesReadWriteRead();
    void savedBytesMatchTheRecordWriters();
    void fastAndReferenceReadersAgree();
    void largeFilesReadAndWrittenInPieces();

private:
    log4cplus::Initializer m_log4cplus;
    CaptureAppender* m_page_appender = nullptr;
    QTemporaryDir m_dir;
};

void TestJsonResourceParse::initTestCase() {
    QVERIFY(m_dir.isValid());
    QVERIFY(fullDocument().size() > 1000);
    m_page_appender = new CaptureAppender;
    log4cplus::Logger::getInstance(LOG4CPLUS_TEXT("JSonReourceParse"))
        .addAppender(log4cplus::SharedAppenderPtr(m_page_appender));
}

// Runs first so that the peak resident size measured is not hidden by earlier tests.
void TestJsonResourceParse::hugeGarbageFileFailsWithBoundedMemory() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("garbage.json");
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        // Looks like a document for a few levels, then turns into noise.
        f.write("{\"datas\":{\"meta\":{\"draw\":[{\"data\":\"");
        QRandomGenerator rng(42);
        QByteArray chunk(1 << 20, '\0');
        for (int i = 0; i < 200; ++i) {
            rng.fillRange(reinterpret_cast<quint32*>(chunk.data()), chunk.size() / 4);
            QCOMPARE(f.write(chunk), qint64(chunk.size()));
        }
    }
    QVERIFY(QFileInfo(path).size() > 200LL * 1000 * 1000);

    const long before = peakRssKb();
    LogCapture log;
    QVERIFY(!JsonResourceParse::parseFile(path));
    QCOMPARE(log.texts(), QStringList{"parse json file is fial."});
    // The document is not copied whole into memory to find out that it is noise.
    const long grownMb = (peakRssKb() - before) / 1024;
    QVERIFY2(grownMb < 64, qPrintable(QStringLiteral("peak grew by %1 MB").arg(grownMb)));
    QVERIFY(QFile::remove(path));
}

void TestJsonResourceParse::readsEveryRecordOfADocument() {
    const QString path = m_dir.filePath("full.json");
    QVERIFY(writeAll(path, fullDocument()));
    LogCapture log;
    auto root = JsonResourceParse::parseFile(path);
    QVERIFY(root);
    QCOMPARE(log.texts(), QStringList());
    QCOMPARE(root->msg, QString("ok"));
    QVERIFY(root->success);
    QVERIFY(root->meta_path.isEmpty() && root->video_path.isEmpty());
    QVERIFY(root->tmp_path.isEmpty() && root->tmp_edit_path.isEmpty());
    QVERIFY(root->datas && root->datas->template_item && root->datas->room_item && root->datas->meta_item);

    const auto& t = *root->datas->template_item;
    QCOMPARE(t.kind, -1);
    QCOMPARE(t.time, 0);
    QCOMPARE(t.id, qint16(3));
    QCOMPARE(t.type, qint16(4));
    QCOMPARE(t.status, qint16(1));
    QCOMPARE(t.pdfView, qint16(1));
    QCOMPARE(t.chatView, qint16(2));
    QCOMPARE(t.qaView, qint16(3));
    QCOMPARE(t.name, QString("Three"));
    QCOMPARE(t.desc, QString("three views"));
    QCOMPARE(t.iconPath, QString("icons/3.png"));

    const auto& r = *root->datas->room_item;
    QVERIFY(r.ableCode && !r.ableEdit && r.ableMonitor && r.ableClose && !r.close && r.ableLogin);
    QVERIFY(r.hasWarmVideoId && !r.openHostMode && r.openLowDelayMode && r.freeAuth);
    QCOMPARE(r.id, qint16(101));
    QCOMPARE(r.manuallyRecordMode, qint16(1));
    QCOMPARE(r.status, qint16(2));
    QCOMPARE(r.authType, qint16(3));
    QCOMPARE(r.userId, qint16(-25536));
    QCOMPARE(r.barrage, qint16(1));
    QCOMPARE(r.templateType, qint16(4));
    QCOMPARE(r.warmVideoId, qint16(4464));
    QCOMPARE(r.delayTime, qint16(5));
    QCOMPARE(r.showUserCount, qint16(1));
    QCOMPARE(r.foreignPublish, qint16(0));
    QCOMPARE(r.dvr, qint16(1));
    QCOMPARE(r.clientDocPermissions, qint16(7));
    QCOMPARE(r.name, QString("Physics"));
    QCOMPARE(r.desc, QString("Lesson 3"));
    QCOMPARE(r.encryptId, QString("E1"));
    QCOMPARE(r.encryptUserId, QString("EU"));
    QCOMPARE(r.publisherPass, QString("pp"));
    QCOMPARE(r.playPass, QString("pl"));
    QCOMPARE(r.assistantPass, QString("ap"));
    QCOMPARE(r.checkUrl, QString("http://c"));
    QCOMPARE(r.encryptWarmVideoId, QString("EW"));
    QCOMPARE(r.escapeHTMLName, QString("Physics&amp;"));
    QCOMPARE(r.escapeHTMLDesc, QString("L&lt;3"));
    QCOMPARE(r.atlasRoomId, QString("A9"));

    const auto& m = *root->datas->meta_item;
    QCOMPARE(m.draw.size(), 7);
    QCOMPARE(m.pageChange.size(), 2);
    QCOMPARE(m.chatLog.size(), 1);
    QCOMPARE(m.question.size(), 1);
    QCOMPARE(m.answer.size(), 1);
    QCOMPARE(m.animation.size(), 1);

    const _DrawItem& line = *m.draw[0];
    QCOMPARE(line.kind, 0);
    QCOMPARE(line.time, 7000);
    QCOMPARE(line.docName, QString("slides"));
    QCOMPARE(line.pageNum, qint16(2));
    QCOMPARE(line.data.alpha, qint16(255));
    QCOMPARE(line.data.color, 0xFF0000);
    QCOMPARE(line.data.docid, QString("D1"));
    QCOMPARE(line.data.drawid, QString("s1"));
    QCOMPARE(line.data.drawtime, qint16(3));
    QCOMPARE(line.data.width, qint16(800));
    QCOMPARE(line.data.height, qint16(600));
    QCOMPARE(line.data.page, qint16(2));
    QCOMPARE(line.data.thickness, qint16(4));
    QCOMPARE(line.data.type, qint16(2));
    QCOMPARE(line.data.points, (QVector<QPointF>{{0.25, 0.5}, {0.75, 0.125}}));
    QVERIFY(line.data.rect.isNull());
    QCOMPARE(m.draw[3]->data.label, QString::fromUtf8("Hello \xe4\xbd\xa0\xe5\xa5\xbd"));
    QCOMPARE(m.draw[3]->data.size, 18);

    // Sorted by time: the whiteboard page at 0 s comes first.
    const _PageChangeItem& pc = *m.pageChange[1];
    QCOMPARE(m.pageChange[0]->url, QString("#"));
    QCOMPARE(pc.kind, 2);
    QCOMPARE(pc.time, 5000);
    QCOMPARE(pc.url, QString("http://img/D1/2.jpg"));
    QCOMPARE(pc.docId, QString("D1"));
    QCOMPARE(pc.docName, QString("slides"));
    QCOMPARE(pc.docTotalPage, qint16(12));
    QCOMPARE(pc.pageNum, qint16(2));
    QCOMPARE(pc.encryptDocId, QString("ED1"));
    QVERIFY(pc.useSDK);
    QCOMPARE(pc.width, qint16(1280));
    QCOMPARE(pc.height, qint16(720));
    QCOMPARE(pc.mode, 70000);  // 32-bit member: not truncated
    QCOMPARE(pc.pageTitle, QString("Intro"));
    QCOMPARE(pc.serverTime, Q_INT64_C(1600000000123));

    const _ChatLogItem& c = *m.chatLog[0];
    QCOMPARE(c.kind, 5);
    QCOMPARE(c.time, 4000);
    QCOMPARE(c.content, QString("hi [em_1]"));
    QCOMPARE(c.userName, QString("Ann"));
    QCOMPARE(c.userId, QString("u1"));
    QCOMPARE(c.userAvatar, QString("a.png"));
    QCOMPARE(c.userRole, QString("student"));
    QCOMPARE(c.userCustomMark, QString("m"));

    const _QuestionItem& q = *m.question[0];
    QCOMPARE(q.kind, 4);
    QCOMPARE(q.time, 6000);
    QCOMPARE(q.id, QString("12"));
    QCOMPARE(q.content, QString("why?"));
    QCOMPARE(q.encryptId, QString("q12"));
    QCOMPARE(q.triggerTime, QString("2020-09-13 12:26:40"));
    QCOMPARE(q.questionUserId, QString("u1"));
    QCOMPARE(q.questionUserName, QString("Ann"));
    QCOMPARE(q.questionUserAvatar, QString("a.png"));
    QCOMPARE(q.isPublish, qint16(1));

    const _AnswerItem& a = *m.answer[0];
    QCOMPARE(a.kind, 3);
    QCOMPARE(a.time, 9000);
    QCOMPARE(a.id, QString("12"));
    QCOMPARE(a.content, QString("because"));
    QCOMPARE(a.encryptId, QString("a12"));
    QCOMPARE(a.triggerTime, QString("2020-09-13 12:26:43"));
    QCOMPARE(a.answerUserId, QString("t1"));
    QCOMPARE(a.answerUserName, QString("Tom"));
    QCOMPARE(a.answerUserAvatar, QString("t.png"));
    QCOMPARE(a.answerUserRole, QString("teacher"));
    QCOMPARE(a.isPrivate, qint16(1));

    const _AnimationItem& an = *m.animation[0];
    QCOMPARE(an.kind, 1);
    QCOMPARE(an.time, 5000);
    QCOMPARE(an.docId, QString("D1"));
    QCOMPARE(an.encryptDocId, QString("ED1"));
    QCOMPARE(an.docTotalPage, qint16(12));
    QCOMPARE(an.pageNum, qint16(2));
    QCOMPARE(an.step, qint16(3));

    // The file route and the in-memory route give the same tree.
    auto fromBytes = JsonResourceParse::parseBytes(fullDocument());
    QVERIFY(fromBytes);
    QString why;
    QVERIFY2(sameTree(*root, *fromBytes, &why), qPrintable(why));
}

void TestJsonResourceParse::integerConversions() {
    LogCapture log;
    auto root = JsonResourceParse::parseBytes(bytesOf(QJsonObject{
        {"datas", QJsonObject{{"template", QJsonObject{{"id", 40000},
                                                       {"type", 70000},
                                                       {"status", -40000},
                                                       {"pdfView", 65536},
                                                       {"chatView", 12.5},
                                                       {"qaView", "5"}}},
                              {"room", QJsonObject{{"id", 32767},
                                                   {"status", 32768},
                                                   {"authType", -32769},
                                                   {"userId", true},
                                                   {"barrage", 5e9},
                                                   {"templateType", 2.0},
                                                   {"warmVideoId", QJsonValue()},
                                                   {"delayTime", QJsonArray{1}},
                                                   {"dvr", -1}}},
                              {"meta", QJsonObject{{"pageChange", QJsonArray{QJsonObject{
                                                                      {"mode", 2147483647},
                                                                      {"width", 1920},
                                                                      {"docTotalPage", 131072 + 7},
                                                                  }}},
                                                   {"draw", QJsonArray{drawElement(QJsonObject{
                                                                {"type", 1},
                                                                {"color", 4294967295.0},
                                                                {"alpha", 65535},
                                                            })}}}}}}}));
    QVERIFY(root && root->datas);
    QCOMPARE(log.texts(), QStringList());
    const auto& t = *root->datas->template_item;
    QCOMPARE(t.id, qint16(-25536));
    QCOMPARE(t.type, qint16(4464));
    QCOMPARE(t.status, qint16(25536));
    QCOMPARE(t.pdfView, qint16(0));
    QCOMPARE(t.chatView, qint16(0));  // not a whole number
    QCOMPARE(t.qaView, qint16(0));    // a string is not a number
    const auto& r = *root->datas->room_item;
    QCOMPARE(r.id, qint16(32767));
    QCOMPARE(r.status, qint16(-32768));
    QCOMPARE(r.authType, qint16(32767));
    QCOMPARE(r.userId, qint16(0));
    QCOMPARE(r.barrage, qint16(0));  // beyond 32 bits
    QCOMPARE(r.templateType, qint16(2));
    QCOMPARE(r.warmVideoId, qint16(0));
    QCOMPARE(r.delayTime, qint16(0));
    QCOMPARE(r.dvr, qint16(-1));
    const auto& pc = *root->datas->meta_item->pageChange.first();
    QCOMPARE(pc.mode, 2147483647);
    QCOMPARE(pc.width, qint16(1920));
    QCOMPARE(pc.docTotalPage, qint16(7));
    const auto& d = root->datas->meta_item->draw.first()->data;
    QCOMPARE(d.color, 0);  // beyond 32 bits
    QCOMPARE(d.alpha, qint16(-1));
}

void TestJsonResourceParse::timeConversions() {
    auto meta = readMeta(QJsonObject{
        {"chatLog",
         QJsonArray{QJsonObject{{"time", 12}}, QJsonObject{{"time", 12.5}}, QJsonObject{{"time", "12"}},
                    QJsonObject{{"time", -3}}, QJsonObject{{"time", 2147483}}, QJsonObject{{"time", 3000000}},
                    QJsonObject{{"time", -3000000}}, QJsonObject{{"content", "no time"}}}}});
    QVERIFY(meta);
    QCOMPARE(meta->chatLog.size(), 8);
    QCOMPARE(meta->chatLog[0]->time, 12000);
    QCOMPARE(meta->chatLog[1]->time, 0);
    QCOMPARE(meta->chatLog[2]->time, 0);
    QCOMPARE(meta->chatLog[3]->time, -3000);
    QCOMPARE(meta->chatLog[4]->time, 2147483000);
    // Out of the millisecond range: saturated, never wrapped around to the other end.
    QCOMPARE(meta->chatLog[5]->time, std::numeric_limits<qint32>::max());
    QCOMPARE(meta->chatLog[6]->time, std::numeric_limits<qint32>::min());
    QCOMPARE(meta->chatLog[7]->time, 0);
}

void TestJsonResourceParse::textAndFlagConversions() {
    auto root = JsonResourceParse::parseBytes(bytesOf(QJsonObject{
        {"msg", 5},
        {"success", 1},
        {"datas", QJsonObject{{"room", QJsonObject{{"ableCode", "true"},
                                                   {"ableEdit", 1},
                                                   {"ableMonitor", true},
                                                   {"close", false},
                                                   {"name", 42},
                                                   {"desc", QJsonArray{"x"}},
                                                   {"checkUrl", QJsonObject{{"a", "b"}}},
                                                   {"encryptId", ""},
                                                   {"atlasRoomId",
                                                    QString::fromUtf8("\xe6\x88\xbf\xe9\x97\xb4")}}}}}}));
    QVERIFY(root && root->datas && root->datas->room_item);
    QCOMPARE(root->msg, QString());
    QVERIFY(!root->success);
    const auto& r = *root->datas->room_item;
    QVERIFY(!r.ableCode);
    QVERIFY(!r.ableEdit);
    QVERIFY(r.ableMonitor);
    QVERIFY(!r.close);
    QCOMPARE(r.name, QString());
    QCOMPARE(r.desc, QString());
    QCOMPARE(r.checkUrl, QString());
    QCOMPARE(r.encryptId, QString());
    QCOMPARE(r.atlasRoomId, QString::fromUtf8("\xe6\x88\xbf\xe9\x97\xb4"));
    QVERIFY(!root->datas->template_item);
    QVERIFY(!root->datas->meta_item);
}

void TestJsonResourceParse::serverTimeConversions_data() {
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<qint64>("expected");
    QTest::newRow("zero") << QByteArray("0") << qint64(0);
    QTest::newRow("1600000000123") << QByteArray("1600000000123") << Q_INT64_C(1600000000123);
    QTest::newRow("2^53") << QByteArray("9007199254740992") << Q_INT64_C(9007199254740992);
    QTest::newRow("negative") << QByteArray("-1600000000123") << Q_INT64_C(-1600000000123);
    QTest::newRow("string") << QByteArray("\"1600000000123\"") << qint64(0);
    QTest::newRow("fraction rounds") << QByteArray("1600000000122.75") << Q_INT64_C(1600000000123);
    QTest::newRow("beyond 64 bits") << QByteArray("1e20") << qint64(0);
    QTest::newRow("exponent form") << QByteArray("1.6e12") << Q_INT64_C(1600000000000);
    QTest::newRow("null") << QByteArray("null") << qint64(0);
}

void TestJsonResourceParse::serverTimeConversions() {
    QFETCH(QByteArray, json);
    QFETCH(qint64, expected);
    const QByteArray doc =
        "{\"datas\":{\"meta\":{\"pageChange\":[{\"time\":1,\"serverTime\":" + json + "}]}}}";
    auto root = JsonResourceParse::parseBytes(doc);
    QVERIFY(root && root->datas && root->datas->meta_item);
    QCOMPARE(root->datas->meta_item->pageChange.size(), 1);
    QCOMPARE(root->datas->meta_item->pageChange.first()->serverTime, expected);
}

void TestJsonResourceParse::questionAndAnswerIds() {
    auto meta = readMeta(QJsonObject{
        {"question",
         QJsonArray{QJsonObject{{"id", 12}}, QJsonObject{{"id", "12"}}, QJsonObject{{"id", "abc"}},
                    QJsonObject{{"id", 12.5}}, QJsonObject{{"time", 1}}, QJsonObject{{"id", -7}}}},
        {"answer", QJsonArray{QJsonObject{{"id", 70000}}, QJsonObject{{"id", "70000"}}}}});
    QVERIFY(meta);
    QStringList ids;
    for (const auto& q : meta->question) {
        ids << q->id;
    }
    QCOMPARE(ids, (QStringList{"12", "0", "0", "0", "0", "-7"}));
    QCOMPARE(meta->answer.size(), 2);
    QCOMPARE(meta->answer[0]->id, QString("70000"));  // a text member: no 16-bit truncation
    QCOMPARE(meta->answer[1]->id, QString("0"));
}

void TestJsonResourceParse::drawDataDecoding() {
    // Type 2: a point list from numtext values; numbers are not numtext.
    auto line = readDraw(QJsonObject{
        {"type", 2},
        {"page", "3"},
        {"draw", QJsonArray{QJsonObject{{"x", "0.25"}, {"y", "0.5"}}, QJsonObject{{"x", 0.25}, {"y", "0.5"}},
                            QJsonObject{{"x", "0.3"}, {"y", "abc"}}, QJsonObject{{"x", "nan"}, {"y", "1e60"}},
                            QJsonValue(7)}}});
    QVERIFY(line);
    QCOMPARE(line->data.type, qint16(2));
    QCOMPARE(line->data.page, qint16(3));
    QCOMPARE(line->data.points.size(), 5);
    QCOMPARE(line->data.points[0], QPointF(0.25, 0.5));
    QCOMPARE(line->data.points[1], QPointF(0.0, 0.5));
    // Single precision, widened: not the double nearest to 0.3.
    QCOMPARE(line->data.points[2].x(), double(0.3f));
    QVERIFY(line->data.points[2].x() != 0.3);
    QCOMPARE(line->data.points[2].y(), 0.0);
    QCOMPARE(line->data.points[3], QPointF(0.0, 0.0));
    QCOMPARE(line->data.points[4], QPointF(0.0, 0.0));
    QVERIFY(line->data.rect.isNull());

    // Type 3: rectangle from width/height, no points.
    auto rect = readDraw(QJsonObject{
        {"type", 3},
        {"page", "4"},
        {"draw",
         QJsonObject{
             {"x", "0.1"}, {"y", "0.2"}, {"width", "0.5"}, {"height", "0.25"}, {"widthRadius", "9"}}}});
    QVERIFY(rect);
    QCOMPARE(rect->data.rect, QRectF(double(0.1f), double(0.2f), 0.5, 0.25));
    QVERIFY(rect->data.points.isEmpty());
    QCOMPARE(rect->data.page, qint16(4));

    // Type 4: ellipse radii into width and height.
    auto ellipse = readDraw(QJsonObject{{"type", 4},
                                        {"draw", QJsonObject{{"x", "0.5"},
                                                             {"y", "0.5"},
                                                             {"width", "9"},
                                                             {"widthRadius", "0.25"},
                                                             {"heightRadius", "0.125"}}}});
    QVERIFY(ellipse);
    QCOMPARE(ellipse->data.rect, QRectF(0.5, 0.5, 0.25, 0.125));
    QVERIFY(ellipse->data.points.isEmpty());

    // Type 5: text with label and size.
    auto text = readDraw(QJsonObject{{"type", 5},
                                     {"draw", QJsonObject{{"x", "0.125"},
                                                          {"y", "0.75"},
                                                          {"width", "0.5"},
                                                          {"height", "0.0625"},
                                                          {"label", "Newton"},
                                                          {"size", 24}}}});
    QVERIFY(text);
    QCOMPARE(text->data.rect, QRectF(0.125, 0.75, 0.5, 0.0625));
    QCOMPARE(text->data.label, QString("Newton"));
    QCOMPARE(text->data.size, 24);
    // label and size are read for type 5 only.
    auto notText = readDraw(QJsonObject{{"type", 3}, {"draw", QJsonObject{{"label", "x"}, {"size", 24}}}});
    QVERIFY(notText);
    QCOMPARE(notText->data.label, QString());
    QCOMPARE(notText->data.size, 0);

    // Type 0: no geometry.
    auto clear = readDraw(QJsonObject{{"type", 0}, {"page", 5}, {"draw", QJsonObject()}, {"docid", "D"}});
    QVERIFY(clear);
    QCOMPARE(clear->data.type, qint16(0));
    QCOMPARE(clear->data.page, qint16(5));
    QCOMPARE(clear->data.docid, QString("D"));
    QVERIFY(clear->data.points.isEmpty());
    QVERIFY(clear->data.rect.isNull());

    // Types 8 and 9 are commands: a point array when one is given, no rectangle even with an object.
    auto cmd8 = readDraw(QJsonObject{{"type", 8}, {"page", 6}, {"drawid", "s1"}, {"draw", QJsonArray()}});
    QVERIFY(cmd8);
    QCOMPARE(cmd8->data.drawid, QString("s1"));
    QCOMPARE(cmd8->data.page, qint16(6));
    QVERIFY(cmd8->data.points.isEmpty());
    auto cmd9 = readDraw(QJsonObject{{"type", 9}, {"page", "7"}, {"draw", QJsonObject{{"x", "0.5"}}}});
    QVERIFY(cmd9);
    QCOMPARE(cmd9->data.page, qint16(7));
    QVERIFY(cmd9->data.rect.isNull());
    QVERIFY(cmd9->data.points.isEmpty());
}

void TestJsonResourceParse::drawDataDefaultsAndPage() {
    // "page" by draw type: text for 2, 3, 4, 5 and 9, a number for the others.
    struct Case {
        int type;
        QJsonValue page;
        qint16 expected;
    };
    const QList<Case> cases{{2, "3", 3},        {2, 3, 0},     {1, 3, 3},   {1, "3", 0},
                            {9, "12", 12},      {9, 12, 0},    {5, "x", 0}, {4, "70000", 4464},
                            {8, 40000, -25536}, {3, "-2", -2}, {0, 2.5, 0}, {6, 9, 9}};
    for (const Case& c : cases) {
        auto item = readDraw(QJsonObject{{"type", c.type}, {"page", c.page}});
        QVERIFY(item);
        QVERIFY2(item->data.page == c.expected,
                 qPrintable(QStringLiteral("type %1 page %2 gave %3")
                                .arg(c.type)
                                .arg(QString::fromUtf8(
                                    QJsonDocument(QJsonArray{c.page}).toJson(QJsonDocument::Compact)))
                                .arg(item->data.page)));
    }

    // "data" that is "{}", not JSON, not an object, or missing: defaults, record still kept.
    const QJsonArray draws{
        QJsonObject{{"time", 1}, {"docName", "a"}, {"pageNum", 1}, {"data", "{}"}},
        QJsonObject{{"time", 2}, {"docName", "b"}, {"pageNum", 1}, {"data", "{\"type\":2,"}},
        QJsonObject{{"time", 3}, {"docName", "c"}, {"pageNum", 1}, {"data", "[1,2]"}},
        QJsonObject{{"time", 4}, {"docName", "d"}, {"pageNum", 1}},
        QJsonObject{{"time", 5}, {"docName", "e"}, {"pageNum", 1}, {"data", QJsonObject{{"type", 2}}}},
    };
    LogCapture log;
    auto meta = readMeta(QJsonObject{{"draw", draws}});
    QVERIFY(meta);
    QCOMPARE(log.texts(), QStringList());
    QCOMPARE(meta->draw.size(), 5);
    for (int i = 0; i < meta->draw.size(); ++i) {
        const auto& it = *meta->draw[i];
        QCOMPARE(it.time, (i + 1) * 1000);
        QCOMPARE(it.pageNum, qint16(1));
        QCOMPARE(it.data.type, qint16(0));
        QVERIFY(it.data.docid.isEmpty() && it.data.drawid.isEmpty());
        QVERIFY(it.data.points.isEmpty());
        QVERIFY(it.data.rect.isNull());
        QCOMPARE(it.data.color, 0);
    }
}

void TestJsonResourceParse::pageChangesAreStableSortedOtherListsKeepFileOrder() {
    auto meta = readMeta(QJsonObject{
        {"pageChange",
         QJsonArray{QJsonObject{{"time", 5}, {"pageNum", 1}}, QJsonObject{{"time", 2}, {"pageNum", 2}},
                    QJsonObject{{"time", 5}, {"pageNum", 7}}, QJsonObject{{"time", 1}, {"pageNum", 3}},
                    QJsonObject{{"time", 5}, {"pageNum", 9}}}},
        {"draw", QJsonArray{drawElement({}, 9), drawElement({}, 3), drawElement({}, 5)}},
        {"chatLog", QJsonArray{QJsonObject{{"time", 8}}, QJsonObject{{"time", 1}}}},
        {"question", QJsonArray{QJsonObject{{"time", 8}}, QJsonObject{{"time", 1}}}},
        {"answer", QJsonArray{QJsonObject{{"time", 8}}, QJsonObject{{"time", 1}}}},
        {"animation", QJsonArray{QJsonObject{{"time", 8}}, QJsonObject{{"time", 1}}}}});
    QVERIFY(meta);
    QList<int> times, pages;
    for (const auto& p : meta->pageChange) {
        times << p->time;
        pages << p->pageNum;
    }
    QCOMPARE(times, (QList<int>{1000, 2000, 5000, 5000, 5000}));
    QCOMPARE(pages, (QList<int>{3, 2, 1, 7, 9}));

    QList<int> drawTimes;
    for (const auto& d : meta->draw) {
        drawTimes << d->time;
    }
    QCOMPARE(drawTimes, (QList<int>{9000, 3000, 5000}));
    QCOMPARE(meta->chatLog.first()->time, 8000);
    QCOMPARE(meta->question.first()->time, 8000);
    QCOMPARE(meta->answer.first()->time, 8000);
    QCOMPARE(meta->animation.first()->time, 8000);
}

void TestJsonResourceParse::unreadableDocumentsGiveEmptyResult() {
    {
        LogCapture log;
        const QString missing = m_dir.filePath(QString::fromUtf8("n\xc3\xa4mnt/missing.json"));
        QVERIFY(!JsonResourceParse::parseFile(missing));
        QCOMPARE(log.texts(), QStringList{"can't open file:" + missing});
        QCOMPARE(log.levels(), QList<int>{100});
    }
    {
        LogCapture log;
        QVERIFY(!JsonResourceParse::parseFile(m_dir.path()));  // a directory
        QCOMPARE(log.texts().size(), 1);
    }
    const QString empty = m_dir.filePath("empty.json");
    QVERIFY(writeAll(empty, QByteArray()));
    const QList<QByteArray> notJson{QByteArray(),
                                    "   ",
                                    "not json",
                                    "{\"a\":1",
                                    "{\"a\":1} trailing",
                                    QByteArray("\x00\x01\x02", 3),
                                    "{'msg':'single quotes'}",
                                    "{\"a\":1e400}"};
    for (const QByteArray& bytes : notJson) {
        LogCapture log;
        const QString path = m_dir.filePath("bad.json");
        QVERIFY(writeAll(path, bytes));
        QVERIFY2(!JsonResourceParse::parseFile(path), bytes.constData());
        QCOMPARE(log.texts(), QStringList{"parse json file is fial."});
        QCOMPARE(log.levels(), QList<int>{100});
        log.clear();
        QVERIFY(!JsonResourceParse::parseBytes(bytes));
        QCOMPARE(log.texts(), QStringList{"parse json file is fial."});
    }
    {
        LogCapture log;
        QVERIFY(!JsonResourceParse::parseFile(empty));
        QCOMPARE(log.texts(), QStringList{"parse json file is fial."});
    }
    // A top-level array or an empty object: a root without body.
    for (const QByteArray& bytes :
         {QByteArray("[{\"msg\":\"x\",\"datas\":{\"meta\":{}}}]"), QByteArray("{}"), QByteArray("[]")}) {
        LogCapture log;
        auto root = JsonResourceParse::parseBytes(bytes);
        QVERIFY(root);
        QVERIFY(!root->datas);
        QCOMPARE(root->msg, QString());
        QVERIFY(!root->success);
        QCOMPARE(log.texts(), QStringList{"parse json object to DatasItem is fail."});
    }
}

void TestJsonResourceParse::wrongTypedDatasAndChildren() {
    const QList<QByteArray> wrongDatas{"[]", "[{\"meta\":{}}]", "\"text\"", "1", "true", "null", "{}"};
    for (const QByteArray& value : wrongDatas) {
        LogCapture log;
        auto root = JsonResourceParse::parseBytes("{\"msg\":\"m\",\"success\":true,\"datas\":" + value + "}");
        QVERIFY(root);
        QCOMPARE(root->msg, QString("m"));
        QVERIFY(root->success);
        QVERIFY2(!root->datas, value.constData());
        QCOMPARE(log.texts(), QStringList{"parse json object to DatasItem is fail."});
    }
    {
        LogCapture log;
        auto root = JsonResourceParse::parseBytes("{\"msg\":\"m\"}");
        QVERIFY(root && !root->datas);
        QCOMPARE(log.texts(), QStringList{"parse json object to DatasItem is fail."});
    }
    // Children of "datas" of the wrong type: each logs once, in reading order, the others are kept.
    {
        LogCapture log;
        auto root = JsonResourceParse::parseBytes(
            "{\"datas\":{\"template\":[1],\"meta\":\"x\",\"room\":{},\"extra\":{\"a\":1}}}");
        QVERIFY(root && root->datas);
        QVERIFY(!root->datas->template_item && !root->datas->meta_item && !root->datas->room_item);
        QCOMPARE(log.texts(), (QStringList{"parse json object to TemplateItem is fail.",
                                           "parse json object to MetaItem is fail.",
                                           "parse json object to RoomItem is fail."}));
    }
    {
        LogCapture log;
        auto root = JsonResourceParse::parseBytes("{\"datas\":{\"room\":{\"name\":\"R\"},\"meta\":null}}");
        QVERIFY(root && root->datas && root->datas->room_item);
        QCOMPARE(root->datas->room_item->name, QString("R"));
        QCOMPARE(log.texts(), (QStringList{"parse json object to TemplateItem is fail.",
                                           "parse json object to MetaItem is fail."}));
    }
    // Event arrays of the wrong type are empty lists, silently.
    {
        LogCapture log;
        auto meta = readMeta(QJsonObject{{"draw", QJsonObject{{"time", 1}}},
                                         {"pageChange", "x"},
                                         {"chatLog", 3},
                                         {"question", QJsonValue()},
                                         {"answer", true},
                                         {"unknown", QJsonArray{1, 2}}});
        QVERIFY(meta);
        QVERIFY(meta->draw.isEmpty() && meta->pageChange.isEmpty() && meta->chatLog.isEmpty());
        QVERIFY(meta->question.isEmpty() && meta->answer.isEmpty() && meta->animation.isEmpty());
        QCOMPARE(log.texts(), QStringList());
    }
}

void TestJsonResourceParse::nonObjectEventElementsAreSkipped() {
    const QJsonArray junk{1, "two", QJsonValue(), true, QJsonArray{1}, QJsonObject()};
    auto withGood = [&](const QJsonObject& good) {
        QJsonArray a = junk;
        a.insert(2, good);
        return a;
    };
    LogCapture log;
    auto meta = readMeta(QJsonObject{{"draw", withGood(drawElement({{"type", 2}}, 4))},
                                     {"pageChange", withGood(QJsonObject{{"time", 4}})},
                                     {"chatLog", withGood(QJsonObject{{"time", 4}})},
                                     {"question", withGood(QJsonObject{{"time", 4}})},
                                     {"answer", withGood(QJsonObject{{"time", 4}})},
                                     {"animation", withGood(QJsonObject{{"time", 4}})}});
    QVERIFY(meta);
    QCOMPARE(meta->draw.size(), 1);
    QCOMPARE(meta->draw.first()->data.type, qint16(2));
    QCOMPARE(meta->pageChange.size(), 1);
    QCOMPARE(meta->chatLog.size(), 1);
    QCOMPARE(meta->question.size(), 1);
    QCOMPARE(meta->answer.size(), 1);
    QCOMPARE(meta->animation.size(), 1);
    QCOMPARE(meta->animation.first()->time, 4000);

    // One line per skipped element, in the order the arrays are read.
    QStringList expected;
    for (const char* kind :
         {"DrawItem", "PageChangeItem", "ChatLogItem", "QuestionItem", "AnswerItem", "AnimationItem"}) {
        for (int i = 0; i < junk.size(); ++i) {
            expected << QStringLiteral("parse json object to %1 is fail.").arg(QLatin1String(kind));
        }
    }
    QCOMPARE(log.texts(), expected);
    QCOMPARE(log.levels(), QVector<int>(expected.size(), 100).toList());
}

void TestJsonResourceParse::deepNesting() {
    // 2000 levels: beyond what the JSON parser accepts, so a clean parse failure.
    {
        QByteArray deep =
            "{\"datas\":{\"meta\":{\"draw\":[" + QByteArray(2000, '[') + QByteArray(2000, ']') + "]}}}";
        LogCapture log;
        QVERIFY(!JsonResourceParse::parseBytes(deep));
        QCOMPARE(log.texts(), QStringList{"parse json file is fial."});
    }
    {
        QByteArray deep;
        for (int i = 0; i < 2000; ++i) {
            deep += "{\"datas\":";
        }
        deep += "1" + QByteArray(2000, '}');
        LogCapture log;
        QVERIFY(!JsonResourceParse::parseBytes(deep));
        QCOMPARE(log.texts(), QStringList{"parse json file is fial."});
    }
    // Deep but accepted nesting as an event element: skipped like any non-object.
    {
        QByteArray doc = "{\"datas\":{\"meta\":{\"chatLog\":[" + QByteArray(500, '[') + QByteArray(500, ']') +
                         ",{\"time\":3}]}}}";
        LogCapture log;
        auto root = JsonResourceParse::parseBytes(doc);
        QVERIFY(root && root->datas && root->datas->meta_item);
        QCOMPARE(root->datas->meta_item->chatLog.size(), 1);
        QCOMPARE(log.texts(), (QStringList{"parse json object to TemplateItem is fail.",
                                           "parse json object to ChatLogItem is fail.",
                                           "parse json object to RoomItem is fail."}));
    }
    // 2000 levels inside a draw "data" text: the text fails to parse, the record keeps its defaults.
    {
        QString data =
            QStringLiteral("{\"type\":2,\"draw\":") + QString(2000, '[') + QString(2000, ']') + "}";
        LogCapture log;
        auto meta = readMeta(QJsonObject{{"draw", QJsonArray{QJsonObject{{"time", 1}, {"data", data}}}}});
        QVERIFY(meta);
        QCOMPARE(meta->draw.size(), 1);
        QCOMPARE(meta->draw.first()->data.type, qint16(0));
        QCOMPARE(log.texts(), QStringList());
    }
}

void TestJsonResourceParse::writerFormatsDrawData() {
    auto make = [](int type) {
        auto d = std::make_shared<_DrawItem>();
        d->time = 65432;
        d->docName = "slides";
        d->pageNum = 3;
        d->data.type = qint16(type);
        d->data.alpha = 128;
        d->data.color = 0x00FF00;
        d->data.docid = "D1";
        d->data.drawid = "id7";
        d->data.drawtime = 11;
        d->data.width = 800;
        d->data.height = 600;
        d->data.thickness = 3;
        d->data.page = 4;
        return d;
    };

    // Outer keys.
    {
        auto d = make(2);
        QJsonObject o;
        QVERIFY(JsonResourceParse::drawItemToJson(d, o));
        QCOMPARE(o.keys(), (QStringList{"data", "docName", "pageNum", "time"}));
        QCOMPARE(o.value("time"), QJsonValue(65));
        QCOMPARE(o.value("docName"), QJsonValue("slides"));
        QCOMPARE(o.value("pageNum"), QJsonValue(3));
        QVERIFY(o.value("data").isString());
        // The embedded text is itself compact.
        QVERIFY(!o.value("data").toString().contains(' '));
    }
    // Type 2: points with six decimals, "page" as text.
    {
        auto d = make(2);
        d->data.points = {{0.25, 0.5}, {0.3, 0.6}};
        const QJsonObject data = writtenDrawData(d);
        QCOMPARE(data.keys(), (QStringList{"alpha", "color", "docid", "draw", "drawid", "drawtime", "height",
                                           "page", "thickness", "type", "width"}));
        QCOMPARE(data.value("alpha"), QJsonValue(128));
        QCOMPARE(data.value("color"), QJsonValue(0x00FF00));
        QCOMPARE(data.value("docid"), QJsonValue("D1"));
        QCOMPARE(data.value("drawid"), QJsonValue("id7"));
        QCOMPARE(data.value("drawtime"), QJsonValue(11));
        QCOMPARE(data.value("width"), QJsonValue(800));
        QCOMPARE(data.value("height"), QJsonValue(600));
        QCOMPARE(data.value("thickness"), QJsonValue(3));
        QCOMPARE(data.value("type"), QJsonValue(2));
        QCOMPARE(data.value("page"), QJsonValue("4"));
        const QJsonArray points = data.value("draw").toArray();
        QCOMPARE(points.size(), 2);
        QCOMPARE(points[0].toObject(), (QJsonObject{{"x", "0.250000"}, {"y", "0.500000"}}));
        QCOMPARE(points[1].toObject(), (QJsonObject{{"x", "0.300000"}, {"y", "0.600000"}}));
    }
    // Type 3: rectangle with four decimals.
    {
        auto d = make(3);
        d->data.rect = QRectF(0.123456789, 0.5, 0.25, 0.00004);
        d->data.points = {{0.1, 0.1}};
        const QJsonObject data = writtenDrawData(d);
        QCOMPARE(data.value("draw").toObject(),
                 (QJsonObject{{"x", "0.1235"}, {"y", "0.5000"}, {"width", "0.2500"}, {"height", "0.0000"}}));
        QCOMPARE(data.value("page"), QJsonValue("4"));
    }
    // Type 4: radii with six decimals.
    {
        auto d = make(4);
        d->data.rect = QRectF(0.123456789, 0.5, 0.25, 0.125);
        const QJsonObject data = writtenDrawData(d);
        QCOMPARE(data.value("draw").toObject(), (QJsonObject{{"x", "0.123457"},
                                                             {"y", "0.500000"},
                                                             {"widthRadius", "0.250000"},
                                                             {"heightRadius", "0.125000"}}));
    }
    // Type 5: text with label and size.
    {
        auto d = make(5);
        d->data.rect = QRectF(0.1, 0.2, 0.3, 0.4);
        d->data.label = QString::fromUtf8(
            "F = m\xc2\xb7"
            "a \"quoted\"");
        d->data.size = 24;
        const QJsonObject data = writtenDrawData(d);
        QCOMPARE(data.value("draw").toObject(), (QJsonObject{{"x", "0.100000"},
                                                             {"y", "0.200000"},
                                                             {"width", "0.300000"},
                                                             {"height", "0.400000"},
                                                             {"label", d->data.label},
                                                             {"size", 24}}));
    }
    // Type 0: no drawid, drawtime, width or height; "draw" an empty object; "page" a number.
    {
        auto d = make(0);
        d->data.points = {{0.5, 0.5}};
        const QJsonObject data = writtenDrawData(d);
        QCOMPARE(data.keys(), (QStringList{"alpha", "color", "docid", "draw", "page", "thickness", "type"}));
        QCOMPARE(data.value("draw"), QJsonValue(QJsonObject()));
        QCOMPARE(data.value("page"), QJsonValue(4));
    }
    // "page" as text for 9, as number for 1 and 8; commands carry their point arrays.
    {
        QCOMPARE(writtenDrawData(make(9)).value("page"), QJsonValue("4"));
        QCOMPARE(writtenDrawData(make(1)).value("page"), QJsonValue(4));
        auto d8 = make(8);
        const QJsonObject data8 = writtenDrawData(d8);
        QCOMPARE(data8.value("page"), QJsonValue(4));
        QCOMPARE(data8.value("draw"), QJsonValue(QJsonArray()));
        QCOMPARE(data8.value("drawid"), QJsonValue("id7"));
    }
    // Negative page as text parses back.
    {
        auto d = make(2);
        d->data.page = -3;
        QCOMPARE(writtenDrawData(d).value("page"), QJsonValue("-3"));
    }
}

void TestJsonResourceParse::writerFormatsEventsAndSettings() {
    {
        auto p = std::make_shared<_PageChangeItem>();
        p->time = 65432;
        p->useSDK = true;
        p->docTotalPage = 12;
        p->pageNum = 3;
        p->width = 1280;
        p->height = 720;
        p->mode = 70000;
        p->serverTime = Q_INT64_C(1600000000123);
        p->url = "http://x/3.jpg";
        p->docId = "D";
        p->docName = "N";
        p->encryptDocId = "E";
        p->pageTitle = "T";
        QJsonObject o;
        QVERIFY(JsonResourceParse::pageChangeItemToJson(p, o));
        QCOMPARE(o, (QJsonObject{{"time", 65},
                                 {"docTotalPage", 12},
                                 {"pageNum", 3},
                                 {"width", 1280},
                                 {"height", 720},
                                 {"mode", 70000},
                                 {"url", "http://x/3.jpg"},
                                 {"docId", "D"},
                                 {"docName", "N"},
                                 {"encryptDocId", "E"},
                                 {"pageTitle", "T"},
                                 {"useSDK", true},
                                 {"serverTime", 1600000000123.0}}));
        // The digits are written as they came, not in exponent form.
        QVERIFY(QJsonDocument(o).toJson(QJsonDocument::Compact).contains("\"serverTime\":1600000000123"));
    }
    {
        auto c = std::make_shared<_ChatLogItem>();
        c->time = 999;
        c->content = "hi";
        c->userName = "Ann";
        c->userId = "u";
        c->userAvatar = "a";
        c->userRole = "r";
        c->userCustomMark = "m";
        QJsonObject o;
        QVERIFY(JsonResourceParse::chatLogItemToJson(c, o));
        QCOMPARE(o, (QJsonObject{{"time", 0},
                                 {"content", "hi"},
                                 {"userName", "Ann"},
                                 {"userId", "u"},
                                 {"userAvatar", "a"},
                                 {"userRole", "r"},
                                 {"userCustomMark", "m"}}));
    }
    {
        auto q = std::make_shared<_QuestionItem>();
        q->time = 6000;
        q->id = "12";
        q->isPublish = 1;
        q->content = "c";
        q->encryptId = "e";
        q->triggerTime = "t";
        q->questionUserId = "qi";
        q->questionUserName = "qn";
        q->questionUserAvatar = "qa";
        QJsonObject o;
        QVERIFY(JsonResourceParse::questionItemToJson(q, o));
        QCOMPARE(o, (QJsonObject{{"id", 12},
                                 {"time", 6},
                                 {"isPublish", 1},
                                 {"content", "c"},
                                 {"encryptId", "e"},
                                 {"triggerTime", "t"},
                                 {"questionUserId", "qi"},
                                 {"questionUserName", "qn"},
                                 {"questionUserAvatar", "qa"}}));
        q->id = "q-12";
        QJsonObject o2;
        QVERIFY(JsonResourceParse::questionItemToJson(q, o2));
        QCOMPARE(o2.value("id"), QJsonValue(0));
    }
    {
        auto a = std::make_shared<_AnswerItem>();
        a->time = -1500;
        a->id = "7";
        a->isPrivate = 1;
        a->content = "c";
        a->encryptId = "e";
        a->triggerTime = "t";
        a->answerUserId = "ai";
        a->answerUserName = "an";
        a->answerUserAvatar = "aa";
        a->answerUserRole = "ar";
        QJsonObject o;
        QVERIFY(JsonResourceParse::answerItemToJson(a, o));
        QCOMPARE(o, (QJsonObject{{"id", 7},
                                 {"time", -1},
                                 {"isPrivate", 1},
                                 {"content", "c"},
                                 {"encryptId", "e"},
                                 {"triggerTime", "t"},
                                 {"answerUserId", "ai"},
                                 {"answerUserName", "an"},
                                 {"answerUserAvatar", "aa"},
                                 {"answerUserRole", "ar"}}));
        a->id = "abc";
        QJsonObject o2;
        QVERIFY(JsonResourceParse::answerItemToJson(a, o2));
        QCOMPARE(o2.value("id"), QJsonValue(0));
    }
    {
        auto an = std::make_shared<_AnimationItem>();
        an->time = 5000;
        an->docTotalPage = 12;
        an->pageNum = 2;
        an->step = 3;
        an->docId = "D";
        an->encryptDocId = "E";
        QJsonObject o;
        QVERIFY(JsonResourceParse::animationItemToJson(an, o));
        QCOMPARE(o, (QJsonObject{{"time", 5},
                                 {"docTotalPage", 12},
                                 {"pageNum", 2},
                                 {"step", 3},
                                 {"docId", "D"},
                                 {"encryptDocId", "E"}}));
    }
    {
        auto t = std::make_shared<_TemplateItem>();
        t->id = -2;
        t->type = 4;
        t->status = 1;
        t->pdfView = 1;
        t->chatView = 2;
        t->qaView = 3;
        t->name = "n";
        t->desc = "d";
        t->iconPath = "i";
        QJsonObject o;
        QVERIFY(JsonResourceParse::templateItemToJson(t, o));
        QCOMPARE(o, (QJsonObject{{"name", "n"},
                                 {"desc", "d"},
                                 {"iconPath", "i"},
                                 {"id", -2},
                                 {"type", 4},
                                 {"status", 1},
                                 {"pdfView", 1},
                                 {"chatView", 2},
                                 {"qaView", 3}}));
    }
    {
        // All 35 room keys, with their types.
        auto r = std::make_shared<_RoomItem>();
        r->ableEdit = true;
        r->freeAuth = true;
        r->templateType = 5;
        r->clientDocPermissions = -1;
        r->atlasRoomId = "A";
        QJsonObject o;
        QVERIFY(JsonResourceParse::roomItemToJson(r, o));
        QCOMPARE(o.size(), 35);
        int bools = 0, numbers = 0, strings = 0;
        for (auto it = o.begin(); it != o.end(); ++it) {
            bools += it.value().isBool();
            numbers += it.value().isDouble();
            strings += it.value().isString();
        }
        QCOMPARE(bools, 10);
        QCOMPARE(numbers, 13);
        QCOMPARE(strings, 12);
        QCOMPARE(o.value("ableEdit"), QJsonValue(true));
        QCOMPARE(o.value("ableCode"), QJsonValue(false));
        QCOMPARE(o.value("freeAuth"), QJsonValue(true));
        QCOMPARE(o.value("templateType"), QJsonValue(5));
        QCOMPARE(o.value("clientDocPermissions"), QJsonValue(-1));
        QCOMPARE(o.value("atlasRoomId"), QJsonValue("A"));
        QCOMPARE(o.value("escapeHTMLDesc"), QJsonValue(""));
        // Everything written reads back as the same room.
        auto back = JsonResourceParse::parseRoomItem(o);
        QVERIFY(back);
        QVERIFY(back->ableEdit && back->freeAuth && !back->ableCode);
        QCOMPARE(back->templateType, qint16(5));
        QCOMPARE(back->clientDocPermissions, qint16(-1));
        QCOMPARE(back->atlasRoomId, QString("A"));
    }
}

void TestJsonResourceParse::writerOutputIsCompactAndReplacesAtomically() {
    auto root = JsonResourceParse::parseBytes(fullDocument());
    QVERIFY(root);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("meta.json");
    QVERIFY(writeAll(path, QByteArray(100000, 'x')));  // an older, longer file is replaced whole

    LogCapture log;
    QVERIFY(JsonResourceParse::saveFile(root, path));
    QCOMPARE(log.texts(), QStringList{"dir=" + QDir::currentPath() + " \nfile_name=" + path + "\n"});
    QCOMPARE(log.levels(), QList<int>{100});
    const QByteArray bytes = readAll(path);
    QVERIFY(bytes.startsWith("{\"datas\":{\"meta\":{\"animation\":[{"));
    QVERIFY(bytes.endsWith("},\"msg\":\"ok\",\"success\":true}"));
    QVERIFY(!bytes.contains('\n'));
    QVERIFY(!bytes.contains("\": "));
    QVERIFY(!bytes.contains(", "));
    QVERIFY(bytes.contains("\"serverTime\":1600000000123"));
    QVERIFY(
        bytes.contains("\"template\":{\"chatView\":2,\"desc\":\"three "
                       "views\",\"iconPath\":\"icons/3.png\",\"id\":3,\"name\":"
                       "\"Three\",\"pdfView\":1,\"qaView\":3,\"status\":1,\"type\":4}"));
    // Nothing but the document is left beside it.
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{"meta.json"});

    // A write that fails half-way (file size limit, as on a full disk) is reported and leaves the
    // previous document in place, with no partial file beside it.
    QVERIFY(writeAll(path, "old"));
    rlimit saved{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 1024;
    const auto oldSignal = signal(SIGXFSZ, SIG_IGN);
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    log.clear();
    const bool saved_ok = JsonResourceParse::saveFile(root, path);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, oldSignal);
    QVERIFY(!saved_ok);
    QCOMPARE(readAll(path), QByteArray("old"));
    QCOMPARE(log.texts().size(), 2);
    QCOMPARE(log.texts().last(), "can't write file:" + path);
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{"meta.json"});
}

void TestJsonResourceParse::writerFailures() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    {
        LogCapture log;
        QVERIFY(!JsonResourceParse::saveFile(nullptr, dir.filePath("x.json")));
        QCOMPARE(log.texts(), QStringList{"root item is empty."});
        QVERIFY(!QFile::exists(dir.filePath("x.json")));
    }
    {
        LogCapture log;
        const QString path = dir.filePath("no/such/dir/meta.json");
        QVERIFY(!JsonResourceParse::saveFile(std::make_shared<_RootItem>(), path));
        QCOMPARE(log.texts().size(), 2);
        QVERIFY(log.texts().first().startsWith("dir="));
        QCOMPARE(log.texts().last(), "can't open file:" + path);
        QVERIFY(!QFileInfo::exists(dir.filePath("no")));
    }
    // A root without body still gives a document whose "datas" is an empty object.
    {
        LogCapture log;
        auto root = std::make_shared<_RootItem>();
        root->msg = "m";
        const QString path = dir.filePath("empty-datas.json");
        QVERIFY(JsonResourceParse::saveFile(root, path));
        QCOMPARE(readAll(path), QByteArray("{\"datas\":{},\"msg\":\"m\",\"success\":false}"));
        QCOMPARE(log.texts().last(), QString("datas item is empty."));
    }
    // Empty children keep their keys with empty objects; empty lists give empty arrays.
    {
        LogCapture log;
        auto datas = std::make_shared<_DatasItem>();
        QJsonObject o;
        QVERIFY(JsonResourceParse::datasItemToJson(datas, o));
        QCOMPARE(
            o, (QJsonObject{{"template", QJsonObject()}, {"meta", QJsonObject()}, {"room", QJsonObject()}}));
        QCOMPARE(log.texts(),
                 (QStringList{"template item is empty.", "meta item is empty.", "room item is empty."}));

        QJsonObject meta;
        QVERIFY(JsonResourceParse::metaItemToJson(std::make_shared<_MetaItem>(), meta));
        QCOMPARE(meta, (QJsonObject{{"draw", QJsonArray()},
                                    {"pageChange", QJsonArray()},
                                    {"chatLog", QJsonArray()},
                                    {"question", QJsonArray()},
                                    {"answer", QJsonArray()},
                                    {"animation", QJsonArray()}}));
    }
    // Empty records inside lists are left out, the rest is written.
    {
        LogCapture log;
        auto meta = std::make_shared<_MetaItem>();
        auto chat = std::make_shared<_ChatLogItem>();
        chat->content = "kept";
        meta->draw << nullptr;
        meta->pageChange << nullptr;
        meta->chatLog << nullptr << chat << nullptr;
        meta->question << nullptr;
        meta->answer << nullptr;
        meta->animation << nullptr;
        QJsonObject o;
        QVERIFY(JsonResourceParse::metaItemToJson(meta, o));
        QCOMPARE(o.value("chatLog").toArray().size(), 1);
        QCOMPARE(o.value("chatLog").toArray().first().toObject().value("content"), QJsonValue("kept"));
        for (const char* key : {"draw", "pageChange", "question", "answer", "animation"}) {
            QCOMPARE(o.value(QLatin1String(key)), QJsonValue(QJsonArray()));
        }
        QCOMPARE(log.texts(),
                 (QStringList{"draw item is empty.", "pageChange item is empty.", "chatLog item is empty.",
                              "chatLog item is empty.", "question item is empty.", "answer item is empty.",
                              "animation item is empty."}));
    }
    // Every record writer refuses an empty record and fills nothing.
    {
        LogCapture log;
        QJsonObject o{{"keep", 1}};
        const QJsonObject before = o;
        QVERIFY(!JsonResourceParse::datasItemToJson(nullptr, o));
        QVERIFY(!JsonResourceParse::templateItemToJson(nullptr, o));
        QVERIFY(!JsonResourceParse::roomItemToJson(nullptr, o));
        QVERIFY(!JsonResourceParse::metaItemToJson(nullptr, o));
        QVERIFY(!JsonResourceParse::drawItemToJson(nullptr, o));
        QVERIFY(!JsonResourceParse::pageChangeItemToJson(nullptr, o));
        QVERIFY(!JsonResourceParse::chatLogItemToJson(nullptr, o));
        QVERIFY(!JsonResourceParse::questionItemToJson(nullptr, o));
        QVERIFY(!JsonResourceParse::answerItemToJson(nullptr, o));
        QVERIFY(!JsonResourceParse::animationItemToJson(nullptr, o));
        QCOMPARE(o, before);
        QCOMPARE(log.texts(),
                 (QStringList{"datas item is empty.", "template item is empty.", "room item is empty.",
                              "meta item is empty.", "draw item is empty.", "pageChange item is empty.",
                              "chatLog item is empty.", "question item is empty.", "answer item is empty.",
                              "animation item is empty."}));
        QCOMPARE(log.levels(), QVector<int>(10, 100).toList());
    }
    // Readers given an empty object give nothing.
    {
        LogCapture log;
        const QJsonObject none;
        QVERIFY(!JsonResourceParse::parseDatasItem(none));
        QVERIFY(!JsonResourceParse::parseTemplateItem(none));
        QVERIFY(!JsonResourceParse::parseRoomItem(none));
        QVERIFY(!JsonResourceParse::parseMetaItem(none));
        QVERIFY(!JsonResourceParse::parseDrawItem(none));
        QVERIFY(!JsonResourceParse::parsePageChangeItem(none));
        QVERIFY(!JsonResourceParse::parseChatLogItem(none));
        QVERIFY(!JsonResourceParse::parseQuestionItem(none));
        QVERIFY(!JsonResourceParse::parseAnswerItem(none));
        QVERIFY(!JsonResourceParse::parseAnimationItem(none));
        QCOMPARE(log.texts().size(), 10);
        // An object with only unknown keys is not empty: a record with defaults.
        auto chat = JsonResourceParse::parseChatLogItem(QJsonObject{{"unknown", 1}});
        QVERIFY(chat);
        QCOMPARE(chat->kind, 5);
        QVERIFY(chat->content.isEmpty());
    }
}

void TestJsonResourceParse::writerLogsPageChangesAndAnimations() {
    auto meta = std::make_shared<_MetaItem>();
    auto p1 = std::make_shared<_PageChangeItem>();
    p1->time = 65432;
    p1->pageNum = 3;
    auto p2 = std::make_shared<_PageChangeItem>();
    p2->time = 1000;
    p2->pageNum = -2;
    meta->pageChange << p1 << p2;
    auto a = std::make_shared<_AnimationItem>();
    a->docId = "DOC-42";
    meta->animation << a << nullptr;

    m_page_appender->events.clear();
    g_debug_lines.clear();
    g_previous_handler = qInstallMessageHandler(captureDebug);
    QJsonObject o;
    LogCapture log;
    const bool ok = JsonResourceParse::metaItemToJson(meta, o);
    qInstallMessageHandler(g_previous_handler);
    QVERIFY(ok);

    QCOMPARE(m_page_appender->events.size(), size_t(2));
    QCOMPARE(m_page_appender->events[0].first, log4cplus::INFO_LOG_LEVEL);
    QCOMPARE(QString::fromStdString(m_page_appender->events[0].second),
             QString("JsonResourceParse::pageChangeItemToJson time is 65  page num is 3."));
    QCOMPARE(QString::fromStdString(m_page_appender->events[1].second),
             QString("JsonResourceParse::pageChangeItemToJson time is 1  page num is -2."));
    // One trace per animation written, none for the left-out one.
    QCOMPARE(g_debug_lines, QStringList{"docId DOC-42"});
    QCOMPARE(log.texts(), QStringList{"animation item is empty."});
}

void TestJsonResourceParse::documentSurvivesReadWriteRead() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString source = dir.filePath("source.json");
    QVERIFY(writeAll(source, fullDocument()));
    auto first = JsonResourceParse::parseFile(source);
    QVERIFY(first);

    const QString once = dir.filePath("once.json");
    QVERIFY(JsonResourceParse::saveFile(first, once));
    auto second = JsonResourceParse::parseFile(once);
    QVERIFY(second);
    QString why;
    QVERIFY2(sameTree(*first, *second, &why), qPrintable(why));

    // Writing what was read back gives the very same bytes.
    const QString twice = dir.filePath("twice.json");
    QVERIFY(JsonResourceParse::saveFile(second, twice));
    QCOMPARE(readAll(twice), readAll(once));

    // The documented losses: sub-second times, non-numeric ids, type 0 extras, extra decimals.
    auto meta = second->datas->meta_item;
    meta->chatLog.first()->time = 4999;
    meta->question.first()->id = "q7";
    meta->draw[4]->data.drawid = "lost";
    meta->draw[4]->data.width = 9;
    meta->draw[0]->data.points[0] = QPointF(0.1234567891, 0.5);
    meta->draw[1]->data.rect.setX(0.123456);
    QVERIFY(JsonResourceParse::saveFile(second, twice));
    auto third = JsonResourceParse::parseFile(twice);
    QVERIFY(third);
    auto m3 = third->datas->meta_item;
    QCOMPARE(m3->chatLog.first()->time, 4000);
    QCOMPARE(m3->question.first()->id, QString("0"));
    QCOMPARE(m3->draw[4]->data.drawid, QString());
    QCOMPARE(m3->draw[4]->data.width, qint16(0));
    QCOMPARE(m3->draw[0]->data.points[0].x(), double(0.123457f));
    QCOMPARE(m3->draw[1]->data.rect.x(), double(0.1235f));
    // serverTime comes back exactly.
    QCOMPARE(m3->pageChange[1]->serverTime, Q_INT64_C(1600000000123));
}

// saveFile serializes directly; its bytes must be those of the record writers through the toolkit.
void TestJsonResourceParse::savedBytesMatchTheRecordWriters() {
    auto toolkitBytes = [](const std::shared_ptr<_RootItem>& root) {
        QJsonObject top;
        top.insert("msg", root->msg);
        top.insert("success", root->success);
        QJsonObject datas;
        JsonResourceParse::datasItemToJson(root->datas, datas);
        top.insert("datas", datas);
        return QJsonDocument(top).toJson(QJsonDocument::Compact);
    };
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("meta.json");

    auto full = JsonResourceParse::parseBytes(fullDocument());
    QVERIFY(full);
    QVERIFY(JsonResourceParse::saveFile(full, path));
    QCOMPARE(readAll(path), toolkitBytes(full));

    // Awkward text, numbers at their limits, every draw type, empty records and empty children.
    const QString awkward =
        QString::fromUtf8("q\"b\\s/\x01\x1f\b\f\n\r\t\x7f \xc3\xa9 \xe4\xbd\xa0 \xf0\x9f\x98\x80 ") +
        QChar(0xD800) + "x" + QChar(0xDC00) + QChar(0xDBFF);
    auto root = std::make_shared<_RootItem>();
    root->msg = awkward;
    root->datas = std::make_shared<_DatasItem>();
    root->datas->room_item = std::make_shared<_RoomItem>();
    root->datas->room_item->name = awkward;
    root->datas->room_item->id = -32768;
    root->datas->meta_item = std::make_shared<_MetaItem>();
    auto& meta = *root->datas->meta_item;
    for (int type : {0, 1, 2, 3, 4, 5, 6, 8, 9, -1}) {
        auto d = std::make_shared<_DrawItem>();
        d->time = -1999 + type * 100000;
        d->docName = awkward;
        d->pageNum = qint16(type);
        d->data.type = qint16(type);
        d->data.color = std::numeric_limits<qint32>::min();
        d->data.page = -7;
        d->data.label = awkward;
        d->data.size = 12;
        d->data.docid = awkward;
        d->data.drawid = "\"id\"";
        d->data.rect = QRectF(0.123456789, -0.5, 1e-9, std::nan(""));
        d->data.points = {{0.25, -0.125}, {1.0 / 3.0, 2.0 / 3.0}};
        meta.draw << d << nullptr;
    }
    for (qint64 clock : {Q_INT64_C(0), Q_INT64_C(-1), Q_INT64_C(1600000000123), Q_INT64_C(9007199254740993),
                         std::numeric_limits<qint64>::max(), std::numeric_limits<qint64>::min()}) {
        auto p = std::make_shared<_PageChangeItem>();
        p->serverTime = clock;
        p->url = awkward;
        p->time = std::numeric_limits<qint32>::max();
        meta.pageChange << p;
    }
    auto q = std::make_shared<_QuestionItem>();
    q->id = "2147483647";
    q->content = awkward;
    auto a = std::make_shared<_AnswerItem>();
    a->id = "-12";
    a->answerUserRole = awkward;
    auto c = std::make_shared<_ChatLogItem>();
    c->content = awkward;
    auto an = std::make_shared<_AnimationItem>();
    an->docId = awkward;
    meta.question << q << nullptr;
    meta.answer << nullptr << a;
    meta.chatLog << c;
    meta.animation << an;
    // Many coordinates, including halfway cases and tiny or large magnitudes.
    QRandomGenerator rng(7);
    for (int type : {2, 3, 4, 5}) {
        auto d = std::make_shared<_DrawItem>();
        d->data.type = qint16(type);
        for (int i = 0; i < 2000; ++i) {
            const double scale = std::pow(10.0, rng.bounded(12) - 8);
            d->data.points << QPointF((rng.generateDouble() - 0.5) * scale,
                                      double(float(rng.generateDouble())));
        }
        d->data.points << QPointF(0.0000005, 0.00005) << QPointF(-0.0000005, 2.5e-5) << QPointF(-0.0, 1e300);
        // Exact binary ties at 6 decimals (1/128) and 4 decimals (1/32): the toolkit rounds them away
        // from zero where the C library rounds to even.
        d->data.points << QPointF(0.0078125, -0.0078125) << QPointF(0.03125, 1.0 / 1024);
        d->data.rect = QRectF(0.00005, -0.00005, 0.12345, 123456.78905);
        meta.draw << d;
    }
    QVERIFY(JsonResourceParse::saveFile(root, path));
    QCOMPARE(readAll(path), toolkitBytes(root));
    QVERIFY(readAll(path).contains("0.007813"));
    QVERIFY(readAll(path).contains("-0.007813"));

    // A rectangle at a tie of its four decimals.
    {
        auto tie = std::make_shared<_DrawItem>();
        tie->data.type = 3;
        tie->data.rect = QRectF(0.03125, -0.03125, 0.5, 0.0);
        meta.draw.clear();
        meta.draw << tie;
        QVERIFY(JsonResourceParse::saveFile(root, path));
        QCOMPARE(readAll(path), toolkitBytes(root));
        QVERIFY(readAll(path).contains("0.0313"));
    }

    // Empty body and empty children.
    root->datas->meta_item.reset();
    root->datas->room_item.reset();
    QVERIFY(JsonResourceParse::saveFile(root, path));
    QCOMPARE(readAll(path), toolkitBytes(root));
    root->datas.reset();
    QVERIFY(JsonResourceParse::saveFile(root, path));
    QCOMPARE(readAll(path), toolkitBytes(root));
}

// ---------------------------------------------------------------------------------------------
// Differential reading: parseBytes (the fast path) against parseBytesReference (the toolkit's
// document) on generated and mutated documents. Records must agree member by member and the log
// must receive the same lines, prefix and line numbers included.

namespace {

QString fixedText(double v, int decimals) {
    return QString::number(v, 'f', decimals);
}

// A class in the shape of the benchmark's: every event kind, every draw type, coordinates as
// fixed-point text of many magnitudes.
QJsonObject generatedDocument(QRandomGenerator& rng, int events) {
    QJsonArray draws, pages, chats, questions, answers, animations;
    static const int kTypes[] = {2, 2, 2, 2, 3, 4, 5, 0, 1, 8, 9, 6};
    auto coord = [&rng](int decimals) {
        const double scale = std::pow(10.0, int(rng.bounded(8)) - 5);
        return fixedText((rng.generateDouble() - 0.2) * scale, decimals);
    };
    for (int i = 0; i < events; ++i) {
        const int type = kTypes[rng.bounded(int(sizeof(kTypes) / sizeof(kTypes[0])))];
        QJsonObject data{{"alpha", 255},
                         {"color", int(rng.bounded(0xFFFFFF))},
                         {"docid", "D1"},
                         {"thickness", int(rng.bounded(9))},
                         {"type", type}};
        const bool textPage = type == 2 || type == 3 || type == 4 || type == 5 || type == 9;
        data.insert("page", textPage ? QJsonValue(QString::number(i % 40)) : QJsonValue(i % 40));
        if (type != 0) {
            data.insert("drawid", QString::number(rng.generate(), 16));
            data.insert("drawtime", int(rng.bounded(30000)));
            data.insert("width", 1280);
            data.insert("height", 720);
        }
        if (type == 3 || type == 5) {
            QJsonObject shape{{"x", coord(type == 3 ? 4 : 6)},
                              {"y", coord(type == 3 ? 4 : 6)},
                              {"width", coord(type == 3 ? 4 : 6)},
                              {"height", coord(type == 3 ? 4 : 6)}};
            if (type == 5) {
                shape.insert("label", QString::fromUtf8("F=ma \xe5\x8a\x9b \"q\" \\ \xf0\x9f\x98\x80"));
                shape.insert("size", 18);
            }
            data.insert("draw", shape);
        } else if (type == 4) {
            data.insert(
                "draw",
                QJsonObject{
                    {"x", coord(6)}, {"y", coord(6)}, {"widthRadius", coord(6)}, {"heightRadius", coord(6)}});
        } else if (type == 0) {
            data.insert("draw", QJsonObject());
        } else {
            QJsonArray points;
            const int n = type == 2 ? 1 + int(rng.bounded(20)) : 0;
            for (int k = 0; k < n; ++k) {
                points.append(QJsonObject{{"x", coord(6)}, {"y", coord(6)}});
            }
            data.insert("draw", points);
        }
        draws.append(QJsonObject{
            {"time", i / 3}, {"docName", "slides.pdf"}, {"pageNum", i % 40}, {"data", compact(data)}});
        if (i % 10 == 0) {
            chats.append(
                QJsonObject{{"time", i / 3},
                            {"content", QString::fromUtf8("\xe8\x80\x81\xe5\xb8\x88 [em_3] \"hi\"\n")},
                            {"userName", "s"},
                            {"userId", "u"},
                            {"userAvatar", ""},
                            {"userRole", "student"},
                            {"userCustomMark", ""}});
        }
        if (i % 50 == 0) {
            pages.append(QJsonObject{{"time", int(rng.bounded(events))},
                                     {"url", "https://i/1.jpg"},
                                     {"docId", "D1"},
                                     {"docName", "s"},
                                     {"docTotalPage", 40},
                                     {"pageNum", i % 40},
                                     {"encryptDocId", "E"},
                                     {"useSDK", false},
                                     {"width", 1280},
                                     {"height", 720},
                                     {"mode", 0},
                                     {"pageTitle", "P"},
                                     {"serverTime", double(Q_INT64_C(1600000000123) + i)}});
            questions.append(QJsonObject{{"id", i},
                                         {"time", i / 3},
                                         {"content", "why?"},
                                         {"encryptId", "q"},
                                         {"triggerTime", "2020-09-13 12:26:40"},
                                         {"questionUserId", "u"},
                                         {"questionUserName", "A"},
                                         {"questionUserAvatar", ""},
                                         {"isPublish", 1}});
            answers.append(QJsonObject{{"id", i},
                                       {"time", i / 3},
                                       {"content", "g"},
                                       {"encryptId", "a"},
                                       {"triggerTime", "t"},
                                       {"answerUserId", "t"},
                                       {"answerUserName", "T"},
                                       {"answerUserAvatar", ""},
                                       {"answerUserRole", "teacher"},
                                       {"isPrivate", 0}});
            animations.append(QJsonObject{{"time", i / 3},
                                          {"docId", "D1"},
                                          {"encryptDocId", "E"},
                                          {"docTotalPage", 40},
                                          {"pageNum", i % 40},
                                          {"step", i % 5}});
        }
    }
    QJsonObject meta{{"draw", draws},         {"pageChange", pages}, {"chatLog", chats},
                     {"question", questions}, {"answer", answers},   {"animation", animations}};
    QJsonObject datas{{"template", QJsonObject{{"id", 3}, {"type", 4}, {"name", "Three"}}},
                      {"room", QJsonObject{{"id", 101}, {"templateType", 4}, {"ableCode", true}}},
                      {"meta", meta}};
    return QJsonObject{{"msg", "ok"}, {"success", true}, {"datas", datas}};
}

// Values of every JSON type, including numbers and texts at the edges of each conversion.
QJsonValue randomValue(QRandomGenerator& rng) {
    static const QList<QJsonValue> pool = {
        QJsonValue(0),
        QJsonValue(12),
        QJsonValue(-7),
        QJsonValue(12.5),
        QJsonValue(40000),
        QJsonValue(70000),
        QJsonValue(-32769),
        QJsonValue(2147483647),
        QJsonValue(2147483648.0),
        QJsonValue(-2147483648.0),
        QJsonValue(-2147483649.0),
        QJsonValue(1600000000123.0),
        QJsonValue(9007199254740993.0),
        QJsonValue(1e300),
        QJsonValue(-1e-300),
        QJsonValue(0.5),
        QJsonValue(2.5),
        QJsonValue(-0.0),
        QJsonValue(1e19),
        QJsonValue(-9.3e18),
        QJsonValue(true),
        QJsonValue(false),
        QJsonValue(QJsonValue::Null),
        QJsonValue(QJsonObject()),
        QJsonValue(QJsonArray()),
        QJsonValue(QJsonObject{{"x", "0.5"}, {"y", 1}}),
        QJsonValue(QJsonArray{1, "2", QJsonObject{{"x", "0.25"}}}),
        QJsonValue(""),
        QJsonValue("0.25"),
        QJsonValue("-0.5"),
        QJsonValue("1e3"),
        QJsonValue(" 0.5"),
        QJsonValue("0.5 "),
        QJsonValue("+1"),
        QJsonValue(".5"),
        QJsonValue("5."),
        QJsonValue("007"),
        QJsonValue("0x10"),
        QJsonValue("inf"),
        QJsonValue("nan"),
        QJsonValue("1e39"),
        QJsonValue("1e-50"),
        QJsonValue("3.4028235e38"),
        QJsonValue("3.5e38"),
        QJsonValue("0.1234567890123456789"),
        QJsonValue("12345678901234567"),
        QJsonValue("-0"),
        QJsonValue("-0.000"),
        QJsonValue("abc"),
        QJsonValue("1,5"),
        QJsonValue("3"),
        QJsonValue("-3"),
        QJsonValue("99999"),
        QJsonValue("2147483648"),
        QJsonValue("1.0000001"),
        QJsonValue("0.000000000000000000000000000000000000000000001"),
        QJsonValue("{}"),
        QJsonValue("{\"type\":2,\"draw\":[{\"x\":\"0.5\",\"y\":\"0.25\"}]}"),
        QJsonValue("[1]"),
        QJsonValue("{\"type\":3,\"draw\":{\"x\":\"0.5\"},\"page\":\" 7\"}"),
        QJsonValue(QString::fromUtf8("\xc3\xa9\xe4\xbd\xa0\xf0\x9f\x98\x80\t\"\\/")),
        QJsonValue(QString(QChar(0xD800))),
        QJsonValue(QString(QChar(0xFEFF)) + "x"),
        QJsonValue(QString(QChar(0xFFFF))),
        QJsonValue(QString(QChar(0)) + "z")};
    return pool[int(rng.bounded(pool.size()))];
}

QJsonValue mutate(const QJsonValue& v, QRandomGenerator& rng, int permille);

QJsonObject mutateObject(const QJsonObject& o, QRandomGenerator& rng, int permille) {
    QJsonObject out;
    for (auto it = o.begin(); it != o.end(); ++it) {
        const int roll = int(rng.bounded(1000));
        if (roll < permille / 4) {
            continue;  // key dropped
        }
        QJsonValue v = it.value();
        if (it.key() == "data" && v.isString() && rng.bounded(3) == 0) {
            // Mutate inside the draw text too.
            const QJsonDocument inner = QJsonDocument::fromJson(v.toString().toUtf8());
            if (inner.isObject()) {
                v = compact(mutateObject(inner.object(), rng, permille * 3));
            }
        }
        out.insert(it.key(), mutate(v, rng, permille));
    }
    if (int(rng.bounded(1000)) < permille) {
        static const char* kKeys[] = {"time", "type", "page", "draw",      "x",
                                      "id",   "data", "meta", "serverTime"};
        out.insert(kKeys[rng.bounded(int(sizeof(kKeys) / sizeof(kKeys[0])))], randomValue(rng));
    }
    return out;
}

QJsonValue mutate(const QJsonValue& v, QRandomGenerator& rng, int permille) {
    if (int(rng.bounded(1000)) < permille) {
        return randomValue(rng);
    }
    if (v.isObject()) {
        return mutateObject(v.toObject(), rng, permille);
    }
    if (v.isArray()) {
        QJsonArray out;
        for (const QJsonValue& e : v.toArray()) {
            out.append(mutate(e, rng, permille));
        }
        return out;
    }
    return v;
}

// Textual changes the toolkit's serializer cannot produce: number spellings, lenient escapes, raw
// control characters, repeated keys, white space, bad UTF-8, byte-order mark, trailing text.
QByteArray mutateText(QByteArray text, QRandomGenerator& rng) {
    static const QList<QPair<QByteArray, QByteArray>> edits = {
        {"\"time\":1,", "\"time\":1e0,"},
        {"\"time\":1,", "\"time\":1.000,"},
        {"\"time\":1,", "\"time\":-0,"},
        {"\"time\":1,", "\"time\":01,"},
        {"\"time\":1,", "\"time\":.5,"},
        {"\"time\":1,", "\"time\":1.,"},
        {"\"time\":1,", "\"time\":1e400,"},
        {"\"time\":1,", "\"time\":1e-400,"},
        {"\"time\":1,", "\"time\":4.9e-324,"},
        {"\"time\":1,", "\"time\":1E+1,"},
        {"\"time\":1,", "\"time\":\"x\",\"time\":2,"},
        {"\"time\":1,", "\"time\":2,\"time\":\"x\","},
        {"\"time\":", "\"\\u0074ime\":"},
        {"\"time\":", " \"time\" :\t\n"},
        {"\"docName\":\"", "\"docName\":\"\\x"},
        {"\"docName\":\"", "\"docName\":\"\\u00e9\\ud83d\\ude00"},
        {"\"docName\":\"", "\"docName\":\"\\ud83d"},
        {"\"docName\":\"", "\"docName\":\"\x01"},
        {"\"docName\":\"", "\"docName\":\"\xc3("},
        {"\"docName\":\"", "\"docName\":\"\xed\xa0\x80"},
        {"\"docName\":\"", "\"docName\":\"\xef\xbb\xbf"},
        {"\"data\":\"{", "\"data\":\"\xef\xbb\xbf{"},
        {"\"data\":\"{", "\"data\":\" {"},
        {"\"data\":\"{", "\"data\":\"{\\\"type\\\":2,"},
        {"}\"", "} x\""},
        {"\\\"x\\\":", "\\\"x\\\":\\\"0.5\\\",\\\"x\\\":"},
        {"\\\"type\\\":", "\\\"type\\\":3,\\\"type\\\":"},
        {"\\\"page\\\":", "\\\"p\\\\u0061ge\\\":"},
        {"[", "[ "},
        {",", " ,"},
        {"{", "{\n"},
        {"\"meta\":", "\"meta\":{},\"meta\":"},
        {"\"datas\":", "\"datas\":[],\"datas\":"},
    };
    const int n = 1 + int(rng.bounded(3));
    for (int i = 0; i < n; ++i) {
        const auto& e = edits[int(rng.bounded(edits.size()))];
        int at = text.indexOf(e.first, int(rng.bounded(qMax(1, text.size()))));
        if (at < 0) {
            at = text.indexOf(e.first);
        }
        if (at >= 0) {
            text.replace(at, e.first.size(), e.second);
        }
    }
    switch (rng.bounded(12)) {
        case 0:
            return "\xef\xbb\xbf" + text;
        case 1:
            return text + " \n";
        case 2:
            return text + "x";
        case 3:
            return "[" + text + "]";
        case 4:
            return " " + text;
        default:
            return text;
    }
}

// Reads the same bytes both ways; true when trees and log lines agree.
bool readersAgree(const QByteArray& bytes, QString* why) {
    LogCapture fastLog;
    const auto fast = JsonResourceParse::parseBytes(bytes);
    const QStringList fastLines = fastLog.lines();
    fastLog.clear();
    const auto reference = JsonResourceParse::parseBytesReference(bytes);
    const QStringList referenceLines = fastLog.lines();
    if (bool(fast) != bool(reference)) {
        *why = QStringLiteral("one reader failed");
        return false;
    }
    if (fastLines != referenceLines) {
        *why = QStringLiteral("log differs: %1 | %2").arg(fastLines.join('/'), referenceLines.join('/'));
        return false;
    }
    return !fast || sameTree(*fast, *reference, why);
}

}  // namespace

void TestJsonResourceParse::fastAndReferenceReadersAgree() {
    QRandomGenerator rng(20240611);
    QString why;

    // The benchmark's shape, read both ways: every record equal.
    const QByteArray generated = bytesOf(generatedDocument(rng, 3000));
    {
        LogCapture log;
        auto root = JsonResourceParse::parseBytes(generated);
        QVERIFY(root && root->datas && root->datas->meta_item);
        QCOMPARE(root->datas->meta_item->draw.size(), 3000);
        QCOMPARE(log.lines(), QStringList());
    }
    QVERIFY2(readersAgree(generated, &why), qPrintable(why));
    QVERIFY2(readersAgree(fullDocument(), &why), qPrintable(why));

    // The same document in the benchmark's key order and spacing (not the toolkit's sorted keys).
    QByteArray spaced = generated;
    spaced.replace(",", ",\n  ").replace(":", " : ");
    QVERIFY2(readersAgree(spaced, &why), qPrintable(why));

    // Structural mutations: wrong types everywhere, missing and extra keys, odd draw texts.
    const QJsonObject full = QJsonDocument::fromJson(fullDocument()).object();
    const QJsonObject small = generatedDocument(rng, 40);
    for (int i = 0; i < 400; ++i) {
        const QJsonObject base = i % 2 ? full : small;
        const QByteArray bytes = bytesOf(mutateObject(base, rng, 5 + int(rng.bounded(150))));
        QVERIFY2(readersAgree(bytes, &why), qPrintable(QStringLiteral("structural %1: %2").arg(i).arg(why)));
    }
    // Textual mutations on top of structural ones.
    for (int i = 0; i < 600; ++i) {
        const QJsonObject base = i % 2 ? full : small;
        const QByteArray bytes = mutateText(bytesOf(mutateObject(base, rng, int(rng.bounded(40)))), rng);
        QVERIFY2(
            readersAgree(bytes, &why),
            qPrintable(
                QStringLiteral("textual %1: %2\n%3").arg(i).arg(why, QString::fromUtf8(bytes.left(300)))));
    }

    // Coordinates of many spellings and magnitudes, single precision both ways.
    QJsonArray points;
    for (int i = 0; i < 20000; ++i) {
        const double scale = std::pow(10.0, int(rng.bounded(30)) - 15);
        const double v = (rng.generateDouble() - 0.5) * scale;
        points.append(QJsonObject{{"x", QString::number(v, 'f', int(rng.bounded(17)))},
                                  {"y", QString::number(v, 'g', 1 + int(rng.bounded(17)))}});
    }
    const QJsonObject data{{"type", 2}, {"draw", points}};
    const QByteArray manyPoints = docWithMeta(QJsonObject{{"draw", QJsonArray{drawElement(data)}}});
    QVERIFY2(readersAgree(manyPoints, &why), qPrintable(why));
}

// A class large enough that reading hands mapped pages back as it goes and writing goes out in
// pieces. The file reads as the toolkit reads its bytes, also when the fast reading gives up only at
// the very end (the pages it handed back are then read again); the written bytes are those of the
// record writers through the toolkit.
void TestJsonResourceParse::largeFilesReadAndWrittenInPieces() {
    QRandomGenerator rng(2026);
    const QByteArray whole = bytesOf(generatedDocument(rng, 80000));
    QVERIFY(whole.size() > 20 * 1024 * 1024);
    QByteArray lateGiveUp = whole;
    lateGiveUp.chop(1);
    lateGiveUp += ",\"zz\":" + QByteArray(300, '[') + QByteArray(300, ']') + "}";
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("meta.json");
    std::shared_ptr<_RootItem> read;
    for (const QByteArray& text : {whole, lateGiveUp}) {
        QVERIFY(writeAll(path, text));
        read = JsonResourceParse::parseFile(path);
        const auto reference = JsonResourceParse::parseBytesReference(text);
        QVERIFY(read && reference && read->datas && read->datas->meta_item);
        QCOMPARE(read->datas->meta_item->draw.size(), 80000);
        QString why;
        QVERIFY2(sameTree(*read, *reference, &why), qPrintable(why));
    }

    QJsonObject top{{"msg", read->msg}, {"success", read->success}};
    QJsonObject datas;
    JsonResourceParse::datasItemToJson(read->datas, datas);
    top.insert("datas", datas);
    const QString out = dir.filePath("written.json");
    QVERIFY(JsonResourceParse::saveFile(read, out));
    QCOMPARE(readAll(out), QJsonDocument(top).toJson(QJsonDocument::Compact));
}

QTEST_GUILESS_MAIN(TestJsonResourceParse)
#include "tst_jsonresourceparse.moc"
