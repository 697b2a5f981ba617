// Reads and writes the meta.json of a generated four-hour class and reports time and peak memory.
// Usage: bench_json [--events N] [--runs R] [--keep DIR] [--reference]
// --reference reads through the toolkit's JSON document (the reader's reference path) instead.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

#include <log4cplus/initializer.h>
#include <log4cplus/logger.h>
#include <log4cplus/nullappender.h>

#include "JsonResourceParse.h"

namespace {

// CPU time of the process: on a shared machine wall time mostly measures the neighbours.
double cpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// User plus system time from getrusage, as a cross-check of the clock above.
double rusageMs() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1e3 +
           (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e3;
}

long peakRssKb() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

void quietDebug(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type != QtDebugMsg) {
        fprintf(stderr, "%s\n", qPrintable(text));
    }
}

struct Counts {
    int draw = 0, pageChange = 0, chatLog = 0, question = 0, answer = 0, animation = 0;
    int total() const { return draw + pageChange + chatLog + question + answer + animation; }
};

QByteArray num(double v, int decimals) {
    return QByteArray::number(v, 'f', decimals);
}

// The "data" text of one draw event, escaped to sit inside a JSON string.
QByteArray drawData(QRandomGenerator& rng, int type, int page) {
    QByteArray d = "{\"alpha\":255,\"color\":" + QByteArray::number(rng.bounded(0xFFFFFF)) +
                   ",\"docid\":\"D" + QByteArray::number(page % 7) + "\"";
    if (type != 0) {
        d += ",\"drawid\":\"" + QByteArray::number(rng.generate(), 16) +
             "\",\"drawtime\":" + QByteArray::number(rng.bounded(30000)) + ",\"height\":720";
    }
    const bool textPage = type == 2 || type == 3 || type == 4 || type == 5 || type == 9;
    d +=
        textPage ? ",\"page\":\"" + QByteArray::number(page) + "\"" : ",\"page\":" + QByteArray::number(page);
    d += ",\"thickness\":" + QByteArray::number(1 + rng.bounded(8)) + ",\"type\":" + QByteArray::number(type);
    if (type != 0) {
        d += ",\"width\":1280";
    }
    auto coord = [&rng]() { return num(rng.generateDouble(), 6); };
    if (type == 3) {
        d += ",\"draw\":{\"x\":\"" + num(rng.generateDouble(), 4) + "\",\"y\":\"" +
             num(rng.generateDouble(), 4) + "\",\"width\":\"" + num(rng.generateDouble(), 4) +
             "\",\"height\":\"" + num(rng.generateDouble(), 4) + "\"}";
    } else if (type == 4) {
        d += ",\"draw\":{\"x\":\"" + coord() + "\",\"y\":\"" + coord() + "\",\"widthRadius\":\"" + coord() +
             "\",\"heightRadius\":\"" + coord() + "\"}";
    } else if (type == 5) {
        d += ",\"draw\":{\"x\":\"" + coord() + "\",\"y\":\"" + coord() + "\",\"width\":\"" + coord() +
             "\",\"height\":\"" + coord() + "\",\"label\":\"Newton's second law F=ma\",\"size\":18}";
    } else if (type == 0) {
        d += ",\"draw\":{}";
    } else {
        d += ",\"draw\":[";
        const int n = type == 2 ? 8 + rng.bounded(23) : 0;
        for (int i = 0; i < n; ++i) {
            d += (i ? ",{\"x\":\"" : "{\"x\":\"") + coord() + "\",\"y\":\"" + coord() + "\"}";
        }
        d += "]";
    }
    d += "}";
    QByteArray escaped;
    escaped.reserve(d.size() + d.size() / 4);
    for (char c : d) {
        if (c == '"' || c == '\\') {
            escaped += '\\';
        }
        escaped += c;
    }
    return escaped;
}

// Streams the document to disk so that generating it does not count in the peak measured later.
bool generate(const QString& path, int events, Counts* counts) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) {
        return false;
    }
    QRandomGenerator rng(20240601);
    const int classSeconds = 4 * 3600;
    counts->pageChange = events / 100;
    counts->question = events * 3 / 200;
    counts->answer = events * 3 / 200;
    counts->animation = events / 100;
    counts->chatLog = events / 5;
    counts->draw =
        events - counts->pageChange - counts->question - counts->answer - counts->animation - counts->chatLog;
    auto at = [&](int i, int n) { return QByteArray::number(qint64(i) * classSeconds / qMax(1, n)); };

    f.write(
        "{\"msg\":\"ok\",\"success\":true,\"datas\":{\"template\":{\"id\":3,\"type\":4,\"status\":1,"
        "\"pdfView\":1,"
        "\"chatView\":1,\"qaView\":1,\"name\":\"Three\",\"desc\":\"three views\",\"iconPath\":\"\"},"
        "\"room\":{\"id\":101,\"templateType\":4,\"name\":\"Physics, four hours\",\"desc\":\"bench\","
        "\"ableCode\":true,\"dvr\":1},\"meta\":{");

    f.write("\"draw\":[");
    static const int kTypes[] = {2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 3, 3, 4, 5, 0, 8, 9};
    for (int i = 0; i < counts->draw; ++i) {
        const int type = kTypes[rng.bounded(int(sizeof(kTypes) / sizeof(kTypes[0])))];
        const int page = 1 + (i / 500) % 40;
        f.write((i ? ",{\"time\":" : "{\"time\":") + at(i, counts->draw) +
                ",\"docName\":\"slides.pdf\",\"pageNum\":" + QByteArray::number(page) + ",\"data\":\"" +
                drawData(rng, type, page) + "\"}");
    }
    f.write("],\"pageChange\":[");
    for (int i = 0; i < counts->pageChange; ++i) {
        const QByteArray page = QByteArray::number(1 + i % 40);
        f.write((i ? ",{\"time\":" : "{\"time\":") + at(i, counts->pageChange) +
                ",\"url\":\"https://img.example.com/D1/" + page +
                ".jpg\",\"docId\":\"D1\",\"docName\":\"slides.pdf\",\"docTotalPage\":40,\"pageNum\":" + page +
                ",\"encryptDocId\":\"E1\",\"useSDK\":false,\"width\":1280,\"height\":720,\"mode\":0,"
                "\"pageTitle\":"
                "\"Page " +
                page + "\",\"serverTime\":" + QByteArray::number(Q_INT64_C(1600000000123) + i * 7000) + "}");
    }
    f.write("],\"chatLog\":[");
    for (int i = 0; i < counts->chatLog; ++i) {
        f.write((i ? ",{\"time\":" : "{\"time\":") + at(i, counts->chatLog) +
                ",\"content\":\"\\u8001\\u5e08\\u597d [em_3] question number " + QByteArray::number(i) +
                "\",\"userName\":\"student" + QByteArray::number(i % 300) + "\",\"userId\":\"u" +
                QByteArray::number(i % 300) +
                "\",\"userAvatar\":\"https://a.example.com/"
                "x.png\",\"userRole\":\"student\",\"userCustomMark\":\"\"}");
    }
    f.write("],\"question\":[");
    for (int i = 0; i < counts->question; ++i) {
        f.write((i ? ",{\"id\":" : "{\"id\":") + QByteArray::number(i + 1) +
                ",\"time\":" + at(i, counts->question) +
                ",\"content\":\"Why does the ball fall?\",\"encryptId\":\"q" + QByteArray::number(i) +
                "\",\"triggerTime\":\"2020-09-13 "
                "12:26:40\",\"questionUserId\":\"u1\",\"questionUserName\":\"Ann\","
                "\"questionUserAvatar\":\"\",\"isPublish\":1}");
    }
    f.write("],\"answer\":[");
    for (int i = 0; i < counts->answer; ++i) {
        f.write(
            (i ? ",{\"id\":" : "{\"id\":") + QByteArray::number(i + 1) + ",\"time\":" +
            at(i, counts->answer) + ",\"content\":\"Gravity.\",\"encryptId\":\"a" + QByteArray::number(i) +
            "\",\"triggerTime\":\"2020-09-13 12:26:43\",\"answerUserId\":\"t1\",\"answerUserName\":\"Tom\","
            "\"answerUserAvatar\":\"\",\"answerUserRole\":\"teacher\",\"isPrivate\":0}");
    }
    f.write("],\"animation\":[");
    for (int i = 0; i < counts->animation; ++i) {
        f.write((i ? ",{\"time\":" : "{\"time\":") + at(i, counts->animation) +
                ",\"docId\":\"D1\",\"encryptDocId\":\"E1\",\"docTotalPage\":40,\"pageNum\":" +
                QByteArray::number(1 + i % 40) + ",\"step\":" + QByteArray::number(i % 5) + "}");
    }
    f.write("]}}}");
    return f.error() == QFile::NoError;
}

int countOf(const std::shared_ptr<_RootItem>& root) {
    if (!root || !root->datas || !root->datas->meta_item) {
        return -1;
    }
    const auto& m = *root->datas->meta_item;
    return m.draw.size() + m.pageChange.size() + m.chatLog.size() + m.question.size() + m.answer.size() +
           m.animation.size();
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int events = 200000;
    int runs = 3;
    QString keep;
    bool reference = false;
    QStringList args = app.arguments();
    if (args.removeAll(QStringLiteral("--reference")) > 0) {
        reference = true;
    }
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == "--events") {
            events = args[i + 1].toInt();
        } else if (args[i] == "--runs") {
            runs = qMax(1, args[i + 1].toInt());
        } else if (args[i] == "--keep") {
            keep = args[i + 1];
        }
    }

    // As in the application: log4cplus configured (here to nowhere), debug traces not printed.
    log4cplus::Initializer log4cplusInit;
    log4cplus::Logger::getRoot().addAppender(log4cplus::SharedAppenderPtr(new log4cplus::NullAppender));
    qInstallMessageHandler(quietDebug);

    QTemporaryDir tmp;
    const QString dir = keep.isEmpty() ? tmp.path() : keep;
    QDir().mkpath(dir);
    const QString in = dir + "/meta.json";
    const QString out = dir + "/meta.out.json";
    Counts counts;
    if (!generate(in, events, &counts)) {
        fprintf(stderr, "could not generate %s\n", qPrintable(in));
        return 1;
    }
    const double fileMb = QFileInfo(in).size() / 1048576.0;
    const long baseKb = peakRssKb();

    auto read = [reference](const QString& path) {
        if (!reference) {
            return JsonResourceParse::parseFile(path);
        }
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? JsonResourceParse::parseBytesReference(f.readAll())
                                           : std::shared_ptr<_RootItem>();
    };
    std::vector<double> readMs, writeMs, readCpu, writeCpu, readRu, writeRu;
    int readBack = 0;
    for (int r = 0; r < runs; ++r) {
        QElapsedTimer t;
        double c0 = cpuMs();
        double r0 = rusageMs();
        t.start();
        auto root = read(in);
        readMs.push_back(t.nsecsElapsed() / 1e6);
        readCpu.push_back(cpuMs() - c0);
        readRu.push_back(rusageMs() - r0);
        if (countOf(root) != counts.total()) {
            fprintf(stderr, "read %d events, expected %d\n", countOf(root), counts.total());
            return 1;
        }
        c0 = cpuMs();
        r0 = rusageMs();
        t.restart();
        if (!JsonResourceParse::saveFile(root, out)) {
            fprintf(stderr, "write failed\n");
            return 1;
        }
        writeMs.push_back(t.nsecsElapsed() / 1e6);
        writeCpu.push_back(cpuMs() - c0);
        writeRu.push_back(rusageMs() - r0);
    }
    const long peakKb = peakRssKb();
    readBack = countOf(JsonResourceParse::parseFile(out));

    std::sort(readMs.begin(), readMs.end());
    std::sort(writeMs.begin(), writeMs.end());
    std::sort(readCpu.begin(), readCpu.end());
    std::sort(writeCpu.begin(), writeCpu.end());
    std::sort(readRu.begin(), readRu.end());
    std::sort(writeRu.begin(), writeRu.end());
    const double outMb = QFileInfo(out).size() / 1048576.0;
    printf(
        "meta.json of a 4-hour class: %d events (draw %d, pageChange %d, chatLog %d, question %d, answer %d, "
        "animation %d)\n",
        counts.total(), counts.draw, counts.pageChange, counts.chatLog, counts.question, counts.answer,
        counts.animation);
    printf("%-28s %10s\n", "measure", "value");
    printf("%-28s %10.1f\n", "input file (MB)", fileMb);
    printf("%-28s %10.1f\n", "output file (MB)", outMb);
    printf("%-28s %10.0f\n", "read, best (ms)", readMs.front());
    printf("%-28s %10.0f\n", "read, median (ms)", readMs[readMs.size() / 2]);
    printf("%-28s %10.0f\n", "write, best (ms)", writeMs.front());
    printf("%-28s %10.0f\n", "write, median (ms)", writeMs[writeMs.size() / 2]);
    printf("%-28s %10.0f\n", "read + write, best (ms)", readMs.front() + writeMs.front());
    printf("%-28s %10.0f\n", "read, best CPU (ms)", readCpu.front());
    printf("%-28s %10.0f\n", "write, best CPU (ms)", writeCpu.front());
    printf("%-28s %10.0f\n", "read + write, best CPU (ms)", readCpu.front() + writeCpu.front());
    printf("%-28s %10.0f\n", "read, best rusage (ms)", readRu.front());
    printf("%-28s %10.0f\n", "write, best rusage (ms)", writeRu.front());
    printf("%-28s %10s\n", "read path", reference ? "toolkit" : "fast");
    printf("%-28s %10.1f\n", "peak RSS before (MB)", baseKb / 1024.0);
    printf("%-28s %10.1f\n", "peak RSS (MB)", peakKb / 1024.0);
    printf("%-28s %10.1f\n", "peak RSS / input size", peakKb / 1024.0 / fileMb);
    printf("%-28s %10d\n", "events read back", readBack);
    return readBack == counts.total() ? 0 : 1;
}
