// vrk-sample: writes a real VRK package (H.264/AAC video made by the ffmpeg program, page images of
// two documents, a meta.json with every kind of event) for tests, benchmarks and the first run.
// Prints nothing on success; an error on stderr and a non-zero exit status on failure.
#include <QColor>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <random>

#include "supzip.h"

namespace {

struct Options {
    int templateType = 1;
    QString out;
    double duration = 70.0;
    int width = 640;
    int height = 360;
    int fps = 25;
    int gop = 50;
    bool encrypt = false;
    bool audio = true;
    QString codec = QStringLiteral("h264");
    int videoKbps = 0;  // 0: constant quality
    double eventsScale = 1.0;
    QString videoName = QStringLiteral("c.mp4");
    unsigned seed = 1;
};

struct Document {
    QString docId;
    QString encryptDocId;
    QString docName;
    int pages;
    int width;
    int height;
};

struct PageVisit {
    int doc;
    int page;
    int start;  // seconds
    int end;    // seconds, exclusive
};

void fail(const QString& text) {
    QTextStream(stderr) << "vrk-sample: " << text << '\n';
}

QString num(double v) {
    return QString::number(v, 'f', 4);
}

// Collects events of one list; the lists are sorted by time before writing.
struct TimedList {
    QList<QPair<int, QJsonObject>> items;
    void add(int time, QJsonObject o) {
        o.insert(QStringLiteral("time"), time);
        items.append({time, o});
    }
    QJsonArray sorted() {
        std::stable_sort(items.begin(), items.end(),
                         [](const QPair<int, QJsonObject>& a, const QPair<int, QJsonObject>& b) {
                             return a.first < b.first;
                         });
        QJsonArray arr;
        for (const auto& p : items) {
            arr.append(p.second);
        }
        return arr;
    }
};

bool makeVideo(const Options& o, const QString& path) {
    const QString dur = QString::number(o.duration, 'f', 3);
    QStringList args{QStringLiteral("-nostdin"),
                     QStringLiteral("-v"),
                     QStringLiteral("error"),
                     QStringLiteral("-y"),
                     QStringLiteral("-f"),
                     QStringLiteral("lavfi"),
                     QStringLiteral("-i"),
                     QStringLiteral("testsrc2=size=%1x%2:rate=%3").arg(o.width).arg(o.height).arg(o.fps)};
    if (o.audio) {
        args << QStringLiteral("-f") << QStringLiteral("lavfi") << QStringLiteral("-i")
             << QStringLiteral("sine=frequency=440:sample_rate=44100");
    }
    args << QStringLiteral("-t") << dur;
    const QString gop = QString::number(o.gop);
    if (o.codec == QLatin1String("h264")) {
        args << QStringLiteral("-c:v") << QStringLiteral("libx264") << QStringLiteral("-preset")
             << QStringLiteral("veryfast") << QStringLiteral("-pix_fmt") << QStringLiteral("yuv420p")
             << QStringLiteral("-g") << gop << QStringLiteral("-keyint_min") << gop
             << QStringLiteral("-sc_threshold") << QStringLiteral("0");
        if (o.videoKbps <= 0) {
            args << QStringLiteral("-crf") << QStringLiteral("28");
        }
    } else if (o.codec == QLatin1String("hevc")) {
        args << QStringLiteral("-c:v") << QStringLiteral("libx265") << QStringLiteral("-preset")
             << QStringLiteral("ultrafast") << QStringLiteral("-pix_fmt") << QStringLiteral("yuv420p")
             << QStringLiteral("-tag:v") << QStringLiteral("hvc1") << QStringLiteral("-x265-params")
             << QStringLiteral("log-level=error:keyint=%1:min-keyint=%1:scenecut=0").arg(o.gop);
    } else {
        args << QStringLiteral("-c:v") << QStringLiteral("mpeg4") << QStringLiteral("-g") << gop;
        if (o.videoKbps <= 0) {
            args << QStringLiteral("-q:v") << QStringLiteral("6");
        }
    }
    if (o.videoKbps > 0) {
        const QString rate = QStringLiteral("%1k").arg(o.videoKbps);
        args << QStringLiteral("-b:v") << rate << QStringLiteral("-minrate") << rate
             << QStringLiteral("-maxrate") << rate << QStringLiteral("-bufsize")
             << QStringLiteral("%1k").arg(o.videoKbps * 2);
    }
    if (o.audio) {
        args << QStringLiteral("-c:a") << QStringLiteral("aac") << QStringLiteral("-b:a")
             << QStringLiteral("64k");
    }
    args << QStringLiteral("-movflags") << QStringLiteral("+faststart") << QStringLiteral("-f")
         << QStringLiteral("mp4") << path;

    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("ffmpeg"), args);
    if (!p.waitForStarted(10000)) {
        fail(QStringLiteral("can't start the ffmpeg program"));
        return false;
    }
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        fail(QStringLiteral("ffmpeg failed: %1").arg(QString::fromLocal8Bit(p.readAll()).trimmed()));
        return false;
    }
    return QFileInfo(path).size() > 0;
}

bool makePageImage(const Document& d, int docIndex, int page, const QString& path) {
    QImage img(d.width, d.height, QImage::Format_RGB32);
    // A distinct, light colour per page so a wrong page is visible at a glance.
    const int hue = (docIndex * 157 + page * 47) % 360;
    img.fill(QColor::fromHsv(hue, 60, 250));
    QPainter painter(&img);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor::fromHsv(hue, 200, 120), 6));
    painter.drawRect(img.rect().adjusted(8, 8, -9, -9));
    QFont font;
    font.setPixelSize(d.height / 4);
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(img.rect(), Qt::AlignCenter, QString::number(page));
    QFont small;
    small.setPixelSize(std::max(10, d.height / 18));
    painter.setFont(small);
    painter.drawText(img.rect().adjusted(20, 20, -20, -20), Qt::AlignTop | Qt::AlignLeft,
                     QStringLiteral("%1  %2/%3").arg(d.docName).arg(page).arg(d.pages));
    painter.end();
    return img.save(path, "JPG", 85);
}

QJsonObject roomObject(const Options& o) {
    QJsonObject r;
    r.insert(QStringLiteral("ableCode"), false);
    r.insert(QStringLiteral("ableEdit"), true);
    r.insert(QStringLiteral("ableMonitor"), false);
    r.insert(QStringLiteral("ableClose"), true);
    r.insert(QStringLiteral("close"), false);
    r.insert(QStringLiteral("ableLogin"), true);
    r.insert(QStringLiteral("hasWarmVideoId"), false);
    r.insert(QStringLiteral("openHostMode"), false);
    r.insert(QStringLiteral("openLowDelayMode"), true);
    r.insert(QStringLiteral("freeAuth"), false);
    r.insert(QStringLiteral("id"), 3100 + o.templateType);
    r.insert(QStringLiteral("manuallyRecordMode"), 1);
    r.insert(QStringLiteral("status"), 10);
    r.insert(QStringLiteral("authType"), 2);
    r.insert(QStringLiteral("userId"), 1201);
    r.insert(QStringLiteral("barrage"), 0);
    r.insert(QStringLiteral("templateType"), o.templateType);
    r.insert(QStringLiteral("warmVideoId"), 0);
    r.insert(QStringLiteral("delayTime"), 3);
    r.insert(QStringLiteral("showUserCount"), 1);
    r.insert(QStringLiteral("foreignPublish"), 0);
    r.insert(QStringLiteral("dvr"), 1);
    r.insert(QStringLiteral("clientDocPermissions"), 0);
    r.insert(QStringLiteral("name"), QStringLiteral("示例课堂 Sample class %1").arg(o.templateType));
    r.insert(QStringLiteral("desc"), QStringLiteral("A generated playback with every kind of event"));
    r.insert(QStringLiteral("encryptId"), QStringLiteral("E3B0C44298FC1C14"));
    r.insert(QStringLiteral("encryptUserId"), QStringLiteral("9A0364B9E99BB480"));
    r.insert(QStringLiteral("publisherPass"), QStringLiteral("pub123"));
    r.insert(QStringLiteral("playPass"), QStringLiteral("play123"));
    r.insert(QStringLiteral("assistantPass"), QStringLiteral("assist123"));
    r.insert(QStringLiteral("checkUrl"), QStringLiteral("https://example.com/check"));
    r.insert(QStringLiteral("encryptWarmVideoId"), QString());
    r.insert(QStringLiteral("escapeHTMLName"),
             QStringLiteral("示例课堂 Sample class %1").arg(o.templateType));
    r.insert(QStringLiteral("escapeHTMLDesc"), QStringLiteral("A generated playback &amp; its events"));
    r.insert(QStringLiteral("atlasRoomId"), QStringLiteral("atlas-%1").arg(o.templateType));
    return r;
}

QJsonObject templateObject(const Options& o) {
    const int t = o.templateType;
    QJsonObject t_obj;
    t_obj.insert(QStringLiteral("id"), t);
    t_obj.insert(QStringLiteral("type"), t);
    t_obj.insert(QStringLiteral("status"), 1);
    t_obj.insert(QStringLiteral("pdfView"), (t == 4 || t == 5) ? 1 : 0);
    t_obj.insert(QStringLiteral("chatView"), (t >= 2 && t <= 5) ? 1 : 0);
    t_obj.insert(QStringLiteral("qaView"), (t >= 3 && t <= 5) ? 1 : 0);
    t_obj.insert(QStringLiteral("name"), QStringLiteral("模板%1").arg(t));
    t_obj.insert(QStringLiteral("desc"), QStringLiteral("layout template %1").arg(t));
    t_obj.insert(QStringLiteral("iconPath"), QStringLiteral("https://example.com/template/%1.png").arg(t));
    return t_obj;
}

class MetaBuilder {
public:
    MetaBuilder(const Options& o, const QList<Document>& docs) : m_o(o), m_docs(docs), m_rng(o.seed) {}

    QList<PageVisit> planVisits() {
        const int total = std::max(2, int(m_o.duration));
        int count = std::max(4, int(total / 6.0 * m_o.eventsScale));
        count = std::min(count, total);
        // Walks both documents, revisiting pages so that the same image is used more than once.
        static const int kOrder[][2] = {{0, 1}, {0, 2}, {0, 3}, {1, 1}, {1, 2}, {0, 2},
                                        {0, 4}, {1, 3}, {0, 5}, {1, 4}, {0, 1}, {1, 1}};
        const int orderLen = int(sizeof(kOrder) / sizeof(kOrder[0]));
        QList<PageVisit> visits;
        for (int i = 0; i < count; ++i) {
            PageVisit v;
            v.doc = kOrder[i % orderLen][0];
            v.page = std::min(kOrder[i % orderLen][1], m_docs[v.doc].pages);
            v.start = int(qint64(i) * total / count);
            v.end = int(qint64(i + 1) * total / count);
            visits.append(v);
        }
        return visits;
    }

    QJsonObject build() {
        const QList<PageVisit> visits = planVisits();
        int drawSerial = 0;
        for (int vi = 0; vi < visits.size(); ++vi) {
            const PageVisit& v = visits[vi];
            addPageChange(v);
            addDraws(v, vi, drawSerial);
            if (v.doc == 0) {
                addAnimation(v);
            }
        }
        addChat();
        addQuestions();

        QJsonObject meta;
        meta.insert(QStringLiteral("draw"), m_draw.sorted());
        meta.insert(QStringLiteral("pageChange"), m_page.sorted());
        meta.insert(QStringLiteral("chatLog"), m_chat.sorted());
        meta.insert(QStringLiteral("question"), m_question.sorted());
        meta.insert(QStringLiteral("answer"), m_answer.sorted());
        meta.insert(QStringLiteral("animation"), m_animation.sorted());

        QJsonObject datas;
        datas.insert(QStringLiteral("template"), templateObject(m_o));
        datas.insert(QStringLiteral("meta"), meta);
        datas.insert(QStringLiteral("room"), roomObject(m_o));

        QJsonObject root;
        root.insert(QStringLiteral("success"), true);
        root.insert(QStringLiteral("msg"), QStringLiteral("ok"));
        root.insert(QStringLiteral("datas"), datas);
        return root;
    }

private:
    double frac(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(m_rng); }

    void addPageChange(const PageVisit& v) {
        const Document& d = m_docs[v.doc];
        QJsonObject p;
        p.insert(QStringLiteral("url"),
                 QStringLiteral("https://image.example.com/doc/%1/%2.jpg").arg(d.docId).arg(v.page));
        p.insert(QStringLiteral("docId"), d.docId);
        p.insert(QStringLiteral("docName"), d.docName);
        p.insert(QStringLiteral("docTotalPage"), d.pages);
        p.insert(QStringLiteral("pageNum"), v.page);
        p.insert(QStringLiteral("encryptDocId"), d.encryptDocId);
        p.insert(QStringLiteral("useSDK"), false);
        p.insert(QStringLiteral("width"), d.width);
        p.insert(QStringLiteral("height"), d.height);
        p.insert(QStringLiteral("mode"), 0);
        p.insert(QStringLiteral("pageTitle"), QStringLiteral("%1 - %2").arg(d.docName).arg(v.page));
        p.insert(QStringLiteral("serverTime"), double(1600000000000LL + qint64(v.start) * 1000 + 123));
        m_page.add(v.start, p);
    }

    QJsonObject drawData(const Document& d, int page, int type, const QString& drawid) {
        QJsonObject o;
        o.insert(QStringLiteral("type"), type);
        o.insert(QStringLiteral("docid"), d.docId);
        o.insert(QStringLiteral("alpha"), 1);
        o.insert(QStringLiteral("color"), kColors[m_colorIndex++ % 5]);
        o.insert(QStringLiteral("thickness"), 2 + (m_colorIndex % 4));
        const bool pageAsText = type == 2 || type == 3 || type == 4 || type == 5 || type == 9;
        if (pageAsText) {
            o.insert(QStringLiteral("page"), QString::number(page));
        } else {
            o.insert(QStringLiteral("page"), page);
        }
        if (type != 0) {
            o.insert(QStringLiteral("drawid"), drawid);
            o.insert(QStringLiteral("drawtime"), 1 + m_colorIndex % 30);
            o.insert(QStringLiteral("width"), d.width);
            o.insert(QStringLiteral("height"), d.height);
        }
        switch (type) {
            case 2: {
                QJsonArray pts;
                const int n = 4 + int(frac(0, 8));
                double x = frac(0.1, 0.5), y = frac(0.1, 0.8);
                for (int i = 0; i < n; ++i) {
                    QJsonObject pt;
                    pt.insert(QStringLiteral("x"), num(x));
                    pt.insert(QStringLiteral("y"), num(y));
                    pts.append(pt);
                    x = std::min(0.95, x + frac(0.01, 0.08));
                    y = std::max(0.05, std::min(0.95, y + frac(-0.05, 0.05)));
                }
                o.insert(QStringLiteral("draw"), pts);
                break;
            }
            case 1:
            case 8:
            case 9:
                o.insert(QStringLiteral("draw"), QJsonArray());
                break;
            case 3: {
                QJsonObject r;
                r.insert(QStringLiteral("x"), num(frac(0.05, 0.5)));
                r.insert(QStringLiteral("y"), num(frac(0.05, 0.5)));
                r.insert(QStringLiteral("width"), num(frac(0.1, 0.4)));
                r.insert(QStringLiteral("height"), num(frac(0.1, 0.4)));
                o.insert(QStringLiteral("draw"), r);
                break;
            }
            case 4: {
                QJsonObject r;
                r.insert(QStringLiteral("x"), num(frac(0.4, 0.9)));
                r.insert(QStringLiteral("y"), num(frac(0.4, 0.9)));
                r.insert(QStringLiteral("widthRadius"), num(frac(0.05, 0.15)));
                r.insert(QStringLiteral("heightRadius"), num(frac(0.05, 0.15)));
                o.insert(QStringLiteral("draw"), r);
                break;
            }
            case 5: {
                QJsonObject r;
                r.insert(QStringLiteral("x"), num(frac(0.05, 0.5)));
                r.insert(QStringLiteral("y"), num(frac(0.05, 0.7)));
                r.insert(QStringLiteral("width"), num(0.4));
                r.insert(QStringLiteral("height"), num(0.1));
                r.insert(QStringLiteral("label"), m_textIndex++ % 2 ? QStringLiteral("重点：分数的加法")
                                                                    : QStringLiteral("Key point: 1/2 + 1/3"));
                r.insert(QStringLiteral("size"), 18 + (m_textIndex % 3) * 4);
                o.insert(QStringLiteral("draw"), r);
                break;
            }
            default:
                break;
        }
        return o;
    }

    void addDraw(const Document& d, int page, int time, int type, const QString& drawid) {
        QJsonObject item;
        item.insert(QStringLiteral("docName"), d.docName);
        item.insert(QStringLiteral("pageNum"), page);
        item.insert(
            QStringLiteral("data"),
            QString::fromUtf8(QJsonDocument(drawData(d, page, type, drawid)).toJson(QJsonDocument::Compact)));
        m_draw.add(time, item);
    }

    // Every draw type on every visit: shapes, a replaced text, a removal by id, an undo and the
    // clears of types 0 and 8.
    void addDraws(const PageVisit& v, int visitIndex, int& serial) {
        const Document& d = m_docs[v.doc];
        struct Step {
            int type;
            int shape;  // index of the drawid used, -1 for none
        };
        static const Step kPattern[] = {{2, 0}, {3, 1},  {4, 2}, {5, 3},  {5, 3}, {9, 1},
                                        {2, 4}, {1, -1}, {3, 5}, {0, -1}, {2, 6}, {8, -1}};
        const int patternLen = int(sizeof(kPattern) / sizeof(kPattern[0]));
        const int span = std::max(1, v.end - v.start);
        int n = std::max(patternLen, int(patternLen * m_o.eventsScale));
        // A short visit still gets every type, several per second.
        for (int i = 0; i < n; ++i) {
            const Step& s = kPattern[(i + visitIndex) % patternLen];
            int time = v.start + int(qint64(i + 1) * span / (n + 1));
            time = std::min(time, std::max(v.start, v.end - 1));
            QString drawid;
            if (s.shape >= 0) {
                drawid = QStringLiteral("d%1-%2").arg(serial + s.shape).arg(i / patternLen);
            }
            addDraw(d, v.page, time, s.type, drawid);
        }
        serial += 8;
    }

    void addAnimation(const PageVisit& v) {
        const Document& d = m_docs[v.doc];
        const int span = std::max(1, v.end - v.start);
        for (int step = 1; step <= 2; ++step) {
            QJsonObject a;
            a.insert(QStringLiteral("docId"), d.docId);
            a.insert(QStringLiteral("encryptDocId"), d.encryptDocId);
            a.insert(QStringLiteral("docTotalPage"), d.pages);
            a.insert(QStringLiteral("pageNum"), v.page);
            a.insert(QStringLiteral("step"), step);
            m_animation.add(std::min(v.end - 1, v.start + step * span / 3), a);
        }
    }

    void addChat() {
        struct Line {
            const char* role;
            const char* name;
            const char* content;
        };
        static const Line kLines[] = {
            {"teacher", "王老师", "同学们好，今天我们学习分数的加法。"},
            {"student", "小明", "老师好[em2_1]"},
            {"publisher", "Ms. Li", "Welcome everyone! Slides: [uri_https://example.com/slides/lesson1]"},
            {"systemMsg", "system", "<span style=\"color:#f88119\">课堂开始录制</span>"},
            {"student", "Lucy", "I can't see the board <b>clearly</b> [em2_12][em2_3]"},
            {"teacher", "王老师",
             "请看第二页 [em_1] 然后打开 [uri_https://example.com/exercise?id=7&lang=zh]"},
            {"student", "张三", "明白了！1/2 + 1/3 = 5/6 [em2_20]"},
            {"publisher", "Ms. Li",
             "Homework is at [uri_https://example.com/hw] and [uri_https://example.com/hw2]"},
            {"systemMsg", "system", "助教 已进入房间"},
            {"student", "\"Tom\" <tom>", "Thanks teacher! 谢谢老师[em2_5]"},
        };
        const int lineCount = int(sizeof(kLines) / sizeof(kLines[0]));
        const int total = std::max(2, int(m_o.duration));
        const int n = std::max(lineCount, int(total / 4.0 * m_o.eventsScale));
        for (int i = 0; i < n; ++i) {
            const Line& l = kLines[i % lineCount];
            QJsonObject c;
            c.insert(QStringLiteral("content"), QString::fromUtf8(l.content));
            c.insert(QStringLiteral("userName"), QString::fromUtf8(l.name));
            c.insert(QStringLiteral("userId"), QStringLiteral("u%1").arg(1000 + (i % lineCount)));
            c.insert(QStringLiteral("userAvatar"),
                     QStringLiteral("https://example.com/avatar/%1.png").arg(i % 4));
            c.insert(QStringLiteral("userRole"), QString::fromLatin1(l.role));
            c.insert(QStringLiteral("userCustomMark"), QString());
            m_chat.add(int(qint64(i) * total / n), c);
        }
    }

    void addQuestions() {
        static const char* kQuestions[] = {"老师，分母不同怎么加？", "Why is 1/2 + 1/3 not 2/5?",
                                           "可以再讲一遍第三页吗？", "Is there homework today?",
                                           "通分是什么意思？"};
        static const char* kAnswers[] = {
            "先通分，再把分子相加。", "Because the denominators differ: 3/6 + 2/6.", "好的，稍后回到第三页。",
            "Yes, see the link in the chat.", "把分母变成相同的数。"};
        const int total = std::max(2, int(m_o.duration));
        const int n = std::max(3, int(total / 15.0 * m_o.eventsScale));
        for (int i = 0; i < n; ++i) {
            const int id = 1001 + i;
            const int qTime = int(qint64(i) * total / n) + 1;
            QJsonObject q;
            q.insert(QStringLiteral("id"), id);
            q.insert(QStringLiteral("content"), QString::fromUtf8(kQuestions[i % 5]));
            q.insert(QStringLiteral("encryptId"), QStringLiteral("Q%1").arg(id));
            q.insert(QStringLiteral("triggerTime"), QStringLiteral("2020-09-13 12:%1:%2")
                                                        .arg(26 + qTime / 60, 2, 10, QLatin1Char('0'))
                                                        .arg(qTime % 60, 2, 10, QLatin1Char('0')));
            q.insert(QStringLiteral("questionUserId"), QStringLiteral("u%1").arg(2000 + i));
            q.insert(QStringLiteral("questionUserName"),
                     i % 2 ? QStringLiteral("Lucy") : QStringLiteral("小明"));
            q.insert(QStringLiteral("questionUserAvatar"),
                     QStringLiteral("https://example.com/avatar/q.png"));
            q.insert(QStringLiteral("isPublish"), 1);
            m_question.add(std::min(qTime, total - 1), q);
            // The last question stays unanswered; one question gets two answers.
            if (i == n - 1) {
                continue;
            }
            const int answers = (i == 1) ? 2 : 1;
            for (int k = 0; k < answers; ++k) {
                const int aTime = std::min(total - 1, qTime + 2 + k);
                QJsonObject a;
                a.insert(QStringLiteral("id"), id);
                a.insert(QStringLiteral("content"), QString::fromUtf8(kAnswers[(i + k) % 5]));
                a.insert(QStringLiteral("encryptId"), QStringLiteral("A%1-%2").arg(id).arg(k));
                a.insert(QStringLiteral("triggerTime"), QStringLiteral("2020-09-13 12:%1:%2")
                                                            .arg(26 + aTime / 60, 2, 10, QLatin1Char('0'))
                                                            .arg(aTime % 60, 2, 10, QLatin1Char('0')));
                a.insert(QStringLiteral("answerUserId"), QStringLiteral("u1000"));
                a.insert(QStringLiteral("answerUserName"), QStringLiteral("王老师"));
                a.insert(QStringLiteral("answerUserAvatar"),
                         QStringLiteral("https://example.com/avatar/t.png"));
                a.insert(QStringLiteral("answerUserRole"), QStringLiteral("teacher"));
                a.insert(QStringLiteral("isPrivate"), k == 1 ? 1 : 0);
                m_answer.add(aTime, a);
            }
        }
    }

    static constexpr int kColors[5] = {0xFF0000, 0x0066FF, 0x00AA33, 0xFF9900, 0x000000};
    const Options& m_o;
    const QList<Document>& m_docs;
    std::mt19937 m_rng;
    int m_colorIndex = 0;
    int m_textIndex = 0;
    TimedList m_draw, m_page, m_chat, m_question, m_answer, m_animation;
};

constexpr int MetaBuilder::kColors[5];

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) {
        fail(QStringLiteral("can't write %1").arg(path));
        return false;
    }
    return true;
}

bool parseOptions(const QStringList& arguments, Options& o) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Writes a sample VRK package with real video and events."));
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("template"), QStringLiteral("Layout template type 1..6 (default 1)."),
         QStringLiteral("N")},
        {QStringLiteral("out"), QStringLiteral("Output package path (required)."), QStringLiteral("path")},
        {QStringLiteral("duration"), QStringLiteral("Video length in seconds (default 70)."),
         QStringLiteral("S")},
        {QStringLiteral("size"), QStringLiteral("Video size (default 640x360)."), QStringLiteral("WxH")},
        {QStringLiteral("fps"), QStringLiteral("Frame rate (default 25)."), QStringLiteral("N")},
        {QStringLiteral("gop"), QStringLiteral("Key frame interval in frames (default 50)."),
         QStringLiteral("N")},
        {QStringLiteral("encrypt"), QStringLiteral("Write an enciphered package.")},
        {QStringLiteral("no-audio"), QStringLiteral("Leave out the audio track.")},
        {QStringLiteral("video-codec"), QStringLiteral("h264 (default), hevc or mpeg4."),
         QStringLiteral("codec")},
        {QStringLiteral("video-bitrate"),
         QStringLiteral("Constant video bitrate in kbit/s (default: quality based)."),
         QStringLiteral("kbps")},
        {QStringLiteral("events-scale"), QStringLiteral("Multiplies the number of events (default 1)."),
         QStringLiteral("factor")},
        {QStringLiteral("video-name"), QStringLiteral("Video entry name: c.mp4 (default) or c."),
         QStringLiteral("name")},
        {QStringLiteral("seed"), QStringLiteral("Seed of the drawing shapes (default 1)."),
         QStringLiteral("N")},
    });
    if (!parser.parse(arguments)) {
        fail(parser.errorText());
        return false;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        QTextStream(stdout) << parser.helpText();
        ::exit(0);
    }
    if (!parser.positionalArguments().isEmpty()) {
        fail(QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first()));
        return false;
    }
    bool ok = true;
    auto intOpt = [&](const char* name, int& target, int lo, int hi) {
        if (!parser.isSet(QString::fromLatin1(name))) {
            return;
        }
        bool good = false;
        int v = parser.value(QString::fromLatin1(name)).toInt(&good);
        if (!good || v < lo || v > hi) {
            fail(QStringLiteral("--%1 must be a whole number from %2 to %3")
                     .arg(QLatin1String(name))
                     .arg(lo)
                     .arg(hi));
            ok = false;
            return;
        }
        target = v;
    };
    intOpt("template", o.templateType, 1, 6);
    intOpt("fps", o.fps, 1, 120);
    intOpt("gop", o.gop, 1, 10000);
    intOpt("video-bitrate", o.videoKbps, 1, 1000000);
    int seed = 1;
    intOpt("seed", seed, 0, 1 << 30);
    o.seed = unsigned(seed);
    o.out = parser.value(QStringLiteral("out"));
    if (o.out.isEmpty()) {
        fail(QStringLiteral("--out is required"));
        ok = false;
    }
    if (parser.isSet(QStringLiteral("duration"))) {
        bool good = false;
        double d = parser.value(QStringLiteral("duration")).toDouble(&good);
        if (!good || d < 1.0 || d > 36000.0) {
            fail(QStringLiteral("--duration must be from 1 to 36000 seconds"));
            ok = false;
        } else {
            o.duration = d;
        }
    }
    if (parser.isSet(QStringLiteral("size"))) {
        const QStringList wh = parser.value(QStringLiteral("size")).split(QLatin1Char('x'));
        bool gw = false, gh = false;
        int w = wh.size() == 2 ? wh[0].toInt(&gw) : 0;
        int h = wh.size() == 2 ? wh[1].toInt(&gh) : 0;
        if (!gw || !gh || w < 16 || h < 16 || w > 7680 || h > 4320 || w % 2 || h % 2) {
            fail(QStringLiteral("--size must be WxH with even sides from 16x16 to 7680x4320"));
            ok = false;
        } else {
            o.width = w;
            o.height = h;
        }
    }
    if (parser.isSet(QStringLiteral("events-scale"))) {
        bool good = false;
        double s = parser.value(QStringLiteral("events-scale")).toDouble(&good);
        if (!good || s < 0.1 || s > 1000.0) {
            fail(QStringLiteral("--events-scale must be from 0.1 to 1000"));
            ok = false;
        } else {
            o.eventsScale = s;
        }
    }
    if (parser.isSet(QStringLiteral("video-codec"))) {
        o.codec = parser.value(QStringLiteral("video-codec"));
        if (o.codec != QLatin1String("h264") && o.codec != QLatin1String("hevc") &&
            o.codec != QLatin1String("mpeg4")) {
            fail(QStringLiteral("--video-codec must be h264, hevc or mpeg4"));
            ok = false;
        }
    }
    if (parser.isSet(QStringLiteral("video-name"))) {
        o.videoName = parser.value(QStringLiteral("video-name"));
        if (o.videoName != QLatin1String("c.mp4") && o.videoName != QLatin1String("c")) {
            fail(QStringLiteral("--video-name must be c.mp4 or c"));
            ok = false;
        }
    }
    o.encrypt = parser.isSet(QStringLiteral("encrypt"));
    o.audio = !parser.isSet(QStringLiteral("no-audio"));
    return ok;
}

int run(const Options& o) {
    const QFileInfo outInfo(o.out);
    const QString outDir = outInfo.absolutePath();
    if (!QDir().mkpath(outDir)) {
        fail(QStringLiteral("can't create folder %1").arg(outDir));
        return 2;
    }
    if (outInfo.isDir()) {
        fail(QStringLiteral("%1 is a folder").arg(o.out));
        return 2;
    }
    // Everything is built beside the output and renamed into place when complete.
    QTemporaryDir work(outDir + QStringLiteral("/.vrk-sample-XXXXXX"));
    if (!work.isValid()) {
        fail(QStringLiteral("can't create a work folder in %1").arg(outDir));
        return 2;
    }
    const QString content = work.path() + QStringLiteral("/content");
    QDir().mkpath(content);

    const QList<Document> docs{
        {QStringLiteral("6a3f9c1e2b7d4a58"), QStringLiteral("ENC6A3F9C1E"),
         QStringLiteral("第一课 Fractions.pptx"), 5, 960, 540},
        {QStringLiteral("b81d0e4c7f2a9356"), QStringLiteral("ENCB81D0E4C"),
         QStringLiteral("练习 Exercises.pdf"), 4, 800, 600},
    };
    for (int di = 0; di < docs.size(); ++di) {
        const QString dir = content + QStringLiteral("/image/") + docs[di].docId;
        if (!QDir().mkpath(dir)) {
            fail(QStringLiteral("can't create folder %1").arg(dir));
            return 2;
        }
        for (int page = 1; page <= docs[di].pages; ++page) {
            if (!makePageImage(docs[di], di, page, dir + QStringLiteral("/%1.jpg").arg(page))) {
                fail(QStringLiteral("can't write page image %1 of %2").arg(page).arg(docs[di].docId));
                return 2;
            }
        }
    }

    MetaBuilder meta(o, docs);
    if (!writeFile(content + QStringLiteral("/meta.json"),
                   QJsonDocument(meta.build()).toJson(QJsonDocument::Compact))) {
        return 2;
    }
    if (!makeVideo(o, content + QLatin1Char('/') + o.videoName)) {
        return 2;
    }

    const QString tmpPackage = work.path() + QStringLiteral("/package.vrk");
    // Small entries first: every call rewrites the archive, so the video is added last.
    const QStringList entries{QStringLiteral("meta.json"), QStringLiteral("image"), o.videoName};
    for (const QString& e : entries) {
        const QByteArray pkg = tmpPackage.toUtf8();
        const QByteArray entry = (content + QLatin1Char('/') + e).toUtf8();
        if (CompressToZipEnc(pkg.constData(), entry.constData(), o.encrypt ? 1 : 0) != 0) {
            fail(QStringLiteral("can't pack %1").arg(e));
            return 2;
        }
    }
    QFile::remove(o.out);
    if (!QFile::rename(tmpPackage, o.out)) {
        fail(QStringLiteral("can't move the package to %1").arg(o.out));
        return 2;
    }
    return 0;
}

}  // namespace

// Qt's own notices (such as a missing runtime folder of the offscreen platform) would break the
// silence on success; the tool reports its failures itself.
void quietMessages(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtCriticalMsg || type == QtFatalMsg) {
        QTextStream(stderr) << text << '\n';
    }
}

int main(int argc, char** argv) {
    qInstallMessageHandler(quietMessages);
    // Page images are drawn with QPainter text, which needs a GUI application; no display is used.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    Options o;
    if (!parseOptions(app.arguments(), o)) {
        return 1;
    }
    return run(o);
}
