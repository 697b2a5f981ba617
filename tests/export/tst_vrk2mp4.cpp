// Export of generated packages into MP4, checked with ffprobe and by decoding frames of the output;
// start codes of the engine; the export window's validation, task reports and failure handling.
#include <QApplication>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <mutex>

#include "TaskInterface.h"
#include "TemplateInterface.h"
#include "TestSupport.h"
#include "VRK2Mp4.h"
#include "VRK2Mp4Widget.h"
#include "VRKMessageBox.h"

using testsupport::ffprobe;
using testsupport::runProgram;

namespace {

struct Raw {
    int w = 0, h = 0;
    QByteArray rgb;
    bool valid() const { return rgb.size() == w * h * 3 && w > 0; }
    const uchar* at(int x, int y) const {
        return reinterpret_cast<const uchar*>(rgb.constData()) + (y * w + x) * 3;
    }
};

// One frame at `sec`, optionally filtered (e.g. cropped or scaled), as packed RGB.
Raw decodeFrame(const QString& file, double sec, int w, int h, const QString& filter = QString()) {
    QStringList args{"-v", "error", "-ss", QString::number(sec, 'f', 3), "-i", file, "-frames:v", "1"};
    // Filter in RGB: crops of odd position or size are then exact (no chroma rounding).
    args << "-vf" << (filter.isEmpty() ? QString("format=rgb24") : "format=rgb24," + filter);
    args << "-sws_flags"
         << "neighbor"
         << "-f"
         << "rawvideo"
         << "-pix_fmt"
         << "rgb24"
         << "-";
    Raw r;
    r.w = w;
    r.h = h;
    runProgram("ffmpeg", args, &r.rgb, 60000);
    return r;
}

// Mean absolute difference per channel of two pictures of the same size; 255 when not comparable.
double mad(const Raw& a, const Raw& b) {
    if (!a.valid() || !b.valid() || a.rgb.size() != b.rgb.size()) {
        return 255;
    }
    qint64 sum = 0;
    for (int i = 0; i < a.rgb.size(); ++i) {
        sum += qAbs(int(uchar(a.rgb[i])) - int(uchar(b.rgb[i])));
    }
    return double(sum) / a.rgb.size();
}

QString crop(const QRect& r) {
    return QString("crop=%1:%2:%3:%4").arg(r.width()).arg(r.height()).arg(r.x()).arg(r.y());
}

QJsonObject streamOf(const QJsonObject& probe, const QString& type) {
    const QJsonArray streams = probe.value("streams").toArray();
    for (const auto& s : streams) {
        if (s.toObject().value("codec_type").toString() == type) {
            return s.toObject();
        }
    }
    return {};
}

// Closes every modal message box that appears and keeps its text.
class MessageCatcher : public QObject {
public:
    QStringList messages;
    MessageCatcher() {
        m_timer.setInterval(20);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            auto* box = qobject_cast<VRKMessageBox*>(QApplication::activeModalWidget());
            if (!box) {
                return;
            }
            QString text;
            const auto labels = box->findChildren<QLabel*>();
            for (QLabel* l : labels) {
                text += l->text();
            }
            messages << text.remove(QRegularExpression("\\s"));
            box->done(VRKMessageBox::ResultOk);
        });
        m_timer.start();
    }
    bool saw(const QString& text) const {
        QString want = text;
        want.remove(QRegularExpression("\\s"));
        for (const QString& m : messages) {
            if (m.contains(want)) {
                return true;
            }
        }
        return false;
    }

private:
    QTimer m_timer;
};

class TaskObserver : public TaskInterfaceObserver {
public:
    std::mutex mutex;
    QVector<int> statuses;
    QVector<int> reasons;
    QVector<float> progress;
    void onStatusChange(QString, int status) override {
        std::lock_guard<std::mutex> l(mutex);
        statuses << status;
    }
    void onFinish(QString, bool, int reason) override {
        std::lock_guard<std::mutex> l(mutex);
        reasons << reason;
    }
    void onProgressValueChange(QString, float value) override {
        std::lock_guard<std::mutex> l(mutex);
        progress << value;
    }
    bool ended() {
        std::lock_guard<std::mutex> l(mutex);
        return statuses.contains(TaskStatus::Finished) || statuses.contains(TaskStatus::Failed);
    }
};

bool waitUntil(const std::function<bool()>& cond, int ms) {
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > ms) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return true;
}

}  // namespace

class ExportTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path(const QString& name) const { return m_dir.filePath(name); }

    QString makePackage(int templateType, int seconds) {
        const QString p = path(QString("t%1.vrk").arg(templateType));
        if (!QFileInfo::exists(p) &&
            !testsupport::makeSample(p, {"--template", QString::number(templateType), "--duration",
                                         QString::number(seconds), "--size", "640x360"})) {
            return QString();
        }
        return p;
    }

    // Runs one conversion with the engine directly; the exporter stays alive for inspection.
    std::shared_ptr<VRK2Mp4> convert(const QString& package, const QString& output, int* startCode,
                                     QVector<float>* progress = nullptr, int* failure = nullptr) {
        auto param = std::make_shared<_RecordParam>();
        param->width = 1280;
        param->height = 720;
        param->bitrate = 1500;
        auto exporter = std::make_shared<VRK2Mp4>();
        exporter->prepare(param);
        QEventLoop loop;
        bool read = false;
        const qint16 opened = exporter->openPackage(package, [&](int) {
            QMetaObject::invokeMethod(qApp, [&] {
                read = true;
                loop.quit();
            });
        });
        if (opened != 0) {
            *startCode = -100;
            return exporter;
        }
        if (!read) {
            loop.exec();
        }
        bool finished = false;
        connect(
            exporter.get(), &VRK2Mp4::signalConvertFinished, this, [&] { finished = true; },
            Qt::QueuedConnection);
        if (progress) {
            connect(exporter.get(), &VRK2Mp4::signalProgressValueChange, this,
                    [=](float v) { *progress << v; });
        }
        *startCode = exporter->startConvert(output);
        if (*startCode == 0) {
            waitUntil([&] { return finished; }, 240000);
        }
        if (failure) {
            *failure = exporter->errorCode();
        }
        return exporter;
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QVERIFY(QFileInfo::exists(testsupport::sampleTool()));
    }

    void startCodes() {
        {
            VRK2Mp4 bare;  // not prepared: no session, no recorder
            QCOMPARE(bare.startConvert(QString()), 1);
            QCOMPARE(bare.startConvert(path("x.mp4")), 2);
            QVERIFY(bare.openPackage(path("x.vrk"), [](int) {}) != 0);
        }
        auto param = std::make_shared<_RecordParam>();
        param->width = 1280;
        param->height = 720;
        param->bitrate = 1500;
        VRK2Mp4 prepared;
        QCOMPARE(prepared.prepare(param), 0);
        QCOMPARE(prepared.startConvert(QString()), 1);
        QCOMPARE(prepared.startConvert(path("x.mp4")), 2);  // nothing read yet

        // A package whose size the recorder refuses.
        const QString package = makePackage(3, 5);
        QVERIFY(!package.isEmpty());
        auto bad = std::make_shared<_RecordParam>();
        bad->width = 1280;
        bad->height = 720;
        bad->bitrate = 0;
        VRK2Mp4 refused;
        refused.prepare(bad);
        std::atomic<bool> read{false};  // set on the session's reader thread
        QCOMPARE(int(refused.openPackage(package, [&](int) { read = true; })), 0);
        QVERIFY(waitUntil([&] { return read.load(); }, 60000));
        QCOMPARE(refused.startConvert(path("refused.mp4")), 4);
        QVERIFY(!QFileInfo::exists(path("refused.mp4")));
    }

    void exportsTemplates_data() {
        QTest::addColumn<int>("templateType");
        QTest::newRow("template 2") << 2;
        QTest::newRow("template 3") << 3;
        QTest::newRow("template 4") << 4;
        QTest::newRow("template 5") << 5;
    }

    void exportsTemplates() {
        QFETCH(int, templateType);
        const QString package = makePackage(templateType, 5);
        QVERIFY(!package.isEmpty());
        const QString output = path(QString("t%1.mp4").arg(templateType));
        int code = -1;
        QVector<float> progress;
        auto exporter = convert(package, output, &code, &progress);
        QCOMPARE(code, 0);
        QCOMPARE(exporter->errorCode(), 0);
        QVERIFY(QFileInfo::exists(output));

        // Progress runs from 0 towards 1 with each frame.
        QVERIFY(progress.size() >= 120);
        QCOMPARE(progress.first(), 0.0f);
        QVERIFY(progress.last() > 0.98f && progress.last() <= 1.0f);

        // The source video, for comparison.
        const QString source = path(QString("t%1-source.mp4").arg(templateType));
        {
            QByteArray bytes;
            QCOMPARE(runProgram("unzip", {"-p", package, "c.mp4"}, &bytes), 0);
            QFile f(source);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(bytes);
        }

        const QJsonObject probe = ffprobe(output);
        const QJsonObject v = streamOf(probe, "video");
        const QJsonObject a = streamOf(probe, "audio");
        QCOMPARE(v.value("codec_name").toString(), QString("h264"));
        QCOMPARE(v.value("width").toInt(), 1280);
        QCOMPARE(v.value("height").toInt(), 720);
        QVERIFY(!a.isEmpty());
        const qint64 srcMs = testsupport::ffprobeDurationMs(source);
        const qint64 outMs = testsupport::ffprobeDurationMs(output);
        QVERIFY2(qAbs(outMs - srcMs) <= 40, qPrintable(QString("%1 vs %2").arg(outMs).arg(srcMs)));
        const double vStart = v.value("start_time").toString().toDouble();
        const double aStart = a.value("start_time").toString().toDouble();
        QVERIFY2(qAbs(vStart - aStart) <= 0.04, qPrintable(QString("%1 vs %2").arg(vStart).arg(aStart)));
        const double kbps = v.value("bit_rate").toString().toDouble() / 1000.0;
        // Mostly still pictures (small video box) need fewer bits than asked; never many more.
        qInfo("template %d: video %.0f kbit/s for 1500 asked", templateType, kbps);
        QVERIFY2(kbps > 1500 * 0.5 && kbps < 1500 * 1.3, qPrintable(QString::number(kbps)));
        QCOMPARE(runProgram("ffmpeg", {"-v", "error", "-xerror", "-i", output, "-f", "null", "-"}), 0);

        // The video rectangle lies inside the video area, never over a column.
        TemplateInterface* tpl = exporter->templateInterface();
        QVERIFY(tpl);
        QWidget* templateWidget = dynamic_cast<QWidget*>(tpl);
        const QRect area(tpl->mediaWidget()->mapTo(templateWidget, QPoint(0, 0)), tpl->mediaWidget()->size());
        const QRect r = exporter->videoRectInTemplate();
        QVERIFY2(!r.isEmpty() && area.contains(r),
                 qPrintable(QString("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height())));
        // 16:9 into the area: full width or full height, centred.
        QVERIFY(r.width() == area.width() || r.height() == area.height());
        // (coordinates are truncated, so the two bars may differ by up to two pixels)
        QVERIFY(qAbs((r.left() - area.left()) - (area.right() - r.right())) <= 2);
        QVERIFY(qAbs((r.top() - area.top()) - (area.bottom() - r.bottom())) <= 2);

        // The rectangle shows the source's test pattern, scaled, and exactly there.
        const QRect inner = r.adjusted(2, 2, -2, -2);
        const QString scale = QString("scale=%1:%2").arg(r.width()).arg(r.height());
        const Raw want = decodeFrame(source, 2.5, inner.width(), inner.height(),
                                     scale + "," + crop(QRect(2, 2, inner.width(), inner.height())));
        const Raw got = decodeFrame(output, 2.5, inner.width(), inner.height(), crop(inner));
        const double here = mad(want, got);
        const int shift = qMax(6, r.width() / 20);
        const Raw moved =
            decodeFrame(output, 2.5, inner.width() - shift, inner.height(),
                        crop(QRect(inner.x() + shift, inner.y(), inner.width() - shift, inner.height())));
        const Raw wantCut =
            decodeFrame(source, 2.5, inner.width() - shift, inner.height(),
                        scale + "," + crop(QRect(2, 2, inner.width() - shift, inner.height())));
        const double shifted = mad(wantCut, moved);
        qInfo("template %d: picture differs by %.1f in place, %.1f when shifted by %d", templateType, here,
              shifted, shift);
        // (the shader's colour matrix and nearest sampling differ a little from ffmpeg's scaler)
        QVERIFY2(here < 20, qPrintable(QString::number(here)));
        QVERIFY2(shifted > here * 2, qPrintable(QString("%1 vs %2").arg(shifted).arg(here)));

        // Columns: unchanged while only the video moves, changed after their events.
        QStringList columns;
        for (const char* name : {"chatWidget", "qaWidget", "QAWidget", "plotWidget"}) {
            QWidget* w = templateWidget->findChild<QWidget*>(name);
            if (w) {
                columns << name;
                const QRect c(w->mapTo(templateWidget, QPoint(0, 0)), w->size());
                QVERIFY(!c.intersects(r));
                const Raw c1 = decodeFrame(output, 2.2, c.width(), c.height(), crop(c));
                const Raw c2 = decodeFrame(output, 2.8, c.width(), c.height(), crop(c));
                const Raw late = decodeFrame(output, 4.5, c.width(), c.height(), crop(c));
                const Raw early = decodeFrame(output, 0.5, c.width(), c.height(), crop(c));
                QVERIFY2(mad(c1, c2) < 1.0, qPrintable(QString("%1 moved: %2").arg(name).arg(mad(c1, c2))));
                QVERIFY2(mad(early, late) > 1.0,
                         qPrintable(QString("%1 unchanged: %2").arg(name).arg(mad(early, late))));
            }
        }
        QVERIFY(!columns.isEmpty());
        // The video itself does move between those times.
        const Raw v1 = decodeFrame(output, 2.2, inner.width(), inner.height(), crop(inner));
        const Raw v2 = decodeFrame(output, 2.8, inner.width(), inner.height(), crop(inner));
        QVERIFY(mad(v1, v2) > 1.0);
    }

    void widgetValidates() {
        MessageCatcher catcher;
        VRK2Mp4Widget w;
        auto* f = w.form();
        QCOMPARE(w.taskType(), int(TaskType::Convert));
        QCOMPARE(w.status(), int(TaskStatus::Converting));
        QCOMPARE(w.timeConsume(), qint64(0));
        QVERIFY(!QUuid(w.taskId()).isNull());
        QCOMPARE(f->lineEditWidth->text(), QString("1280"));
        QCOMPARE(f->lineEditHeight->text(), QString("720"));
        QCOMPARE(f->lineEditVideoBitrate->text(), QString("1500"));
        QCOMPARE(f->lineEditWidth->maxLength(), 4);

        auto press = [&](const QString& expected) {
            catcher.messages.clear();
            f->pushButtonConvert->click();
            QVERIFY2(catcher.messages.size() == 1 && catcher.saw(expected),
                     qPrintable(catcher.messages.join(" | ")));
            QVERIFY(f->stackedWidget->currentWidget() == f->page);
            QVERIFY(!w.exporter());
        };
        press("Please select a VRK file.");
        f->lineEditFile->setText(path("dir/some package.vrk"));
        QCOMPARE(w.sourceName(), QString("some package.vrk"));
        QCOMPARE(w.sourceToolTip(), path("dir/some package.vrk"));
        press("Output file cannot be empty.");
        f->lineEditFileOutputPath->setText(path("out.mp4"));
        QCOMPARE(w.outputPath(), path("out.mp4"));
        for (const char* bitrate : {"99", "3001", "", "abc"}) {
            f->lineEditVideoBitrate->setText(bitrate);
            press("The bitrate must be in the range of 100-3000!");
        }
        f->lineEditVideoBitrate->setText("3000");
        for (const char* width : {"479", "", "x"}) {
            f->lineEditWidth->setText(width);
            press("The width or height must be in the range of 480-3840!");
        }
        f->lineEditWidth->setText("3840");
        f->lineEditHeight->setText("3841");
        press("The width or height must be in the range of 480-3840!");
    }

    void widgetReportsUnreadablePackage() {
        MessageCatcher catcher;
        VRK2Mp4Widget w;
        auto* f = w.form();
        QFile junk(path("junk.vrk"));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write("not a zip");
        junk.close();
        f->lineEditFile->setText(junk.fileName());
        f->lineEditFileOutputPath->setText(path("junk.mp4"));
        f->lineEditWidth->setText("480");
        f->lineEditVideoBitrate->setText("100");
        f->pushButtonConvert->click();  // must come back although the read fails quickly
        QVERIFY2(catcher.saw("Start convert error,code:2"), qPrintable(catcher.messages.join(" | ")));
        QVERIFY(f->stackedWidget->currentWidget() == f->page);
        QCOMPARE(w.result(), int(QDialog::Rejected));
        QVERIFY(!QFileInfo::exists(path("junk.mp4")));
    }

    void widgetRunsTheTask() {
        MessageCatcher catcher;
        const QString package = makePackage(3, 5);
        VRK2Mp4Widget w;
        TaskObserver observer;
        auto* f = w.form();
        f->lineEditFile->setText(package);
        const QString output = path("task.mp4");
        f->lineEditFileOutputPath->setText(output);
        f->lineEditWidth->setText("640");
        f->lineEditHeight->setText("480");
        f->lineEditVideoBitrate->setText("800");
        f->pushButtonConvert->click();
        QVERIFY2(catcher.messages.isEmpty(), qPrintable(catcher.messages.join(" | ")));
        QCOMPARE(w.result(), int(QDialog::Accepted));
        QVERIFY(f->stackedWidget->currentWidget() == f->page_2);
        // Adopted as the main window does it.
        w.setObserver(&observer);
        QVERIFY(w.startTask());
        QVERIFY(waitUntil([&] { return observer.ended(); }, 240000));
        QCOMPARE(w.status(), int(TaskStatus::Finished));
        QCOMPARE(observer.statuses.last(), int(TaskStatus::Finished));
        QVERIFY(observer.reasons.isEmpty());
        QVERIFY(!observer.progress.isEmpty());
        QVERIFY(observer.progress.last() > 0.9f);
        const qint64 took = w.timeConsume();
        QVERIFY(took > 0);
        QTest::qWait(30);
        QCOMPARE(w.timeConsume(), took);  // the running time stops at the end
        const QJsonObject v = streamOf(ffprobe(output), "video");
        QCOMPARE(v.value("width").toInt(), 640);
        QCOMPARE(v.value("height").toInt(), 480);
    }

    void widgetClosedWhileLoading_data() {
        QTest::addColumn<bool>("escape");
        QTest::newRow("close button") << false;
        QTest::newRow("Escape") << true;
    }

    void widgetClosedWhileLoading() {
        // Closed on the "Loading resource file..." page: no conversion, no task, no file.
        QFETCH(bool, escape);
        MessageCatcher catcher;
        const QString package = makePackage(3, 5);
        VRK2Mp4Widget w;
        auto* f = w.form();
        f->lineEditFile->setText(package);
        const QString output = path(escape ? "escaped.mp4" : "closed.mp4");
        f->lineEditFileOutputPath->setText(output);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        bool closedWhileLoading = false;
        QTimer closer;
        closer.setInterval(1);
        connect(&closer, &QTimer::timeout, this, [&] {
            if (f->stackedWidget->currentWidget() != f->page_2 || !w.isVisible()) {
                return;
            }
            closedWhileLoading = true;
            if (escape) {
                QTest::keyClick(&w, Qt::Key_Escape);
            } else {
                f->closeBtn->click();
            }
            closer.stop();
        });
        closer.start();
        f->pushButtonConvert->click();
        QVERIFY(closedWhileLoading);
        QVERIFY(!w.isVisible());
        QCOMPARE(w.result(), int(QDialog::Rejected));
        QVERIFY(!w.exporter());
        QVERIFY(f->stackedWidget->currentWidget() == f->page);
        QTest::qWait(1500);
        QVERIFY(!QFileInfo::exists(output));
        QVERIFY2(catcher.messages.isEmpty(), qPrintable(catcher.messages.join(" | ")));
    }

    void widgetReportsFailedConversion() {
        // The output folder disappears while the conversion runs (a removed drive): the recording
        // cannot be completed, the task shows Failed with a remark and no MP4 appears.
        MessageCatcher catcher;
        const QString package = makePackage(3, 5);
        QVERIFY(QDir(m_dir.path()).mkpath("vanishing"));
        VRK2Mp4Widget w;
        TaskObserver observer;
        auto* f = w.form();
        f->lineEditFile->setText(package);
        const QString output = path("vanishing/failed.mp4");
        f->lineEditFileOutputPath->setText(output);
        f->pushButtonConvert->click();
        QCOMPARE(w.result(), int(QDialog::Accepted));
        w.setObserver(&observer);
        QVERIFY(w.startTask());
        QVERIFY(waitUntil([&] { return observer.progress.size() > 3; }, 60000));
        QVERIFY(QDir(path("vanishing")).removeRecursively());
        QVERIFY(waitUntil([&] { return observer.ended(); }, 240000));
        QCOMPARE(w.status(), int(TaskStatus::Failed));
        QCOMPARE(observer.statuses.last(), int(TaskStatus::Failed));
        QCOMPARE(observer.reasons, QVector<int>{FinishReason::ConvertFail});
        QVERIFY(!TaskTexts::reasonText(FinishReason::ConvertFail).isEmpty());
        QVERIFY(w.exporter()->errorCode() != 0);
        QVERIFY(!QFileInfo::exists(output));
        QVERIFY(w.timeConsume() > 0);
    }
};

int main(int argc, char** argv) {
    if (qgetenv("QT_QPA_PLATFORM") == "offscreen") {
        qunsetenv("QT_QPA_PLATFORM");  // GL needs a real display (Xvfb)
    }
    QApplication app(argc, argv);
    ExportTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_vrk2mp4.moc"
