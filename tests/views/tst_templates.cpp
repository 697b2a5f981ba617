// Layout templates: the choice by templateType, geometry at the initial sizes, minimum sizes,
// forwarding to the views, and a rendered template checked pixel by pixel.
#include <QLayout>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QtTest>

#include "ChatView.h"
#include "PlotView.h"
#include "QuestionAnswerView.h"
#include "Template1Widget.h"
#include "Template2Widget.h"
#include "Template3Widget.h"
#include "Template4Widget.h"
#include "Template5Widget.h"
#include "Template6Widget.h"
#include "TemplateFactory.h"
#include "ViewTestSupport.h"

using namespace viewtest;

namespace {

QRect geometryIn(QWidget* child, QWidget* top) {
    return QRect(child->mapTo(top, QPoint(0, 0)), child->size());
}

void showAndSettle(QWidget* w) {
    w->setAttribute(Qt::WA_DontShowOnScreen, true);
    w->show();
    QCoreApplication::processEvents();
}

}  // namespace

class TestTemplates : public QObject {
    Q_OBJECT
private slots:
    void choice() {
        struct Case {
            int type;
            const char* cls;
        };
        const Case cases[] = {{-3, "Template1Widget"}, {0, "Template1Widget"}, {1, "Template1Widget"},
                              {2, "Template2Widget"},  {3, "Template3Widget"}, {4, "Template4Widget"},
                              {5, "Template5Widget"},  {6, "Template6Widget"}, {7, "Template1Widget"},
                              {300, "Template1Widget"}};
        for (const Case& c : cases) {
            std::unique_ptr<TemplateInterface> t(createTemplateByType(c.type));
            auto* w = dynamic_cast<QWidget*>(t.get());
            QVERIFY(w);
            QVERIFY(w->parent() == nullptr);
            QCOMPARE(QString(w->metaObject()->className()), QString(c.cls));
            QVERIFY(t->mediaWidget());
            QCOMPARE(t->mediaWidget()->objectName(), QStringLiteral("mediaWidget"));
        }

        // from a session: the room decides, the template becomes its observer
        QTemporaryDir tmp;
        auto dw = session(tmp.filePath("ws"), 3);
        dw->getRootItem()->datas->template_item->type = 5;  // the template record plays no part
        dw->getRootItem()->datas->meta_item->chatLog << chat("a", "student", "via the session", 0);
        std::unique_ptr<TemplateInterface> t(createTemplate(dw));
        auto* t3 = dynamic_cast<Template3Widget*>(t.get());
        QVERIFY(t3);
        dw->OnTimePoint(10);  // on the GUI thread: dispatched at once to the registered observer
        QVERIFY(t3->chatView()->textBrowser()->toPlainText().contains("via the session"));
        dw->setObserver(nullptr);

        // no room record: video only
        auto bare = std::make_shared<DataWrapper>();
        std::unique_ptr<TemplateInterface> t1(createTemplate(bare));
        QVERIFY(dynamic_cast<Template1Widget*>(t1.get()));
        bare->setObserver(nullptr);
        QVERIFY(createTemplate(nullptr) == nullptr);
    }

    void formsAndSizes() {
        Template1Widget t1;
        QCOMPARE(t1.objectName(), QStringLiteral("Template1Widget"));
        QCOMPARE(t1.windowTitle(), QStringLiteral("Template1Widget"));
        QCOMPARE(t1.size(), QSize(575, 446));
        QCOMPARE(t1.layout()->spacing(), 6);
        QCOMPARE(t1.layout()->contentsMargins(), QMargins(11, 11, 11, 11));
        QVERIFY(t1.views().isEmpty());
        QCOMPARE(t1.mediaWidget()->styleSheet(),
                 QStringLiteral("QWidget#mediaWidget{background:#63738a;\n\tborder:1px solid #999999;}"));

        Template2Widget t2;
        Template3Widget t3;
        Template4Widget t4;
        Template5Widget t5;
        Template6Widget t6;
        QCOMPARE(t2.objectName(), QStringLiteral("Template2Form"));
        QCOMPARE(t3.objectName(), QStringLiteral("Template3Form"));
        QCOMPARE(t4.objectName(), QStringLiteral("Template4Form"));
        QCOMPARE(t5.objectName(), QStringLiteral("Template5Form"));
        QCOMPARE(t6.objectName(), QStringLiteral("Template6Form"));
        QCOMPARE(t2.size(), QSize(774, 473));
        QCOMPARE(t3.size(), QSize(786, 517));
        QCOMPARE(t4.size(), QSize(821, 565));
        QCOMPARE(t5.size(), QSize(782, 525));
        QCOMPARE(t6.size(), QSize(780, 480));
        for (QWidget* w : {static_cast<QWidget*>(&t2), static_cast<QWidget*>(&t3), static_cast<QWidget*>(&t4),
                           static_cast<QWidget*>(&t5), static_cast<QWidget*>(&t6)}) {
            QCOMPARE(w->windowTitle(), QStringLiteral("Form"));
            QCOMPARE(w->layout()->spacing(), 0);
            QCOMPARE(w->layout()->contentsMargins(), QMargins(0, 0, 0, 0));
        }
        QCOMPARE(t2.minimumSize(), QSize(0, 0));
        for (QWidget* w : {static_cast<QWidget*>(&t3), static_cast<QWidget*>(&t4), static_cast<QWidget*>(&t5),
                           static_cast<QWidget*>(&t6)}) {
            QCOMPARE(w->minimumSize(), QSize(480, 480));
        }
        QCOMPARE(t4.styleSheet(),
                 QStringLiteral("QWidget#Template4Form\n{\nborder-color: rgb(227, 235, 253);\n}"));
        QCOMPARE(t5.styleSheet(), QStringLiteral("QWidget#Template5Form{border-color: rgb(227, 235, 253);}"));
        QCOMPARE(t4.mediaWidget()->styleSheet(),
                 QStringLiteral("QWidget{background:#63738a;\n\tborder:1px solid #999999;}"));

        // view lists, in forwarding order
        QCOMPARE(t2.views(), (QList<DataWrapperObserver*>{t2.qaView(), t2.chatView()}));
        QCOMPARE(t3.views(), (QList<DataWrapperObserver*>{t3.chatView()}));
        QCOMPARE(t4.views(), (QList<DataWrapperObserver*>{t4.plotView(), t4.chatView()}));
        QCOMPARE(t5.views(), (QList<DataWrapperObserver*>{t5.plotView(), t5.chatView(), t5.qaView()}));
        QCOMPARE(t6.views(), (QList<DataWrapperObserver*>{t6.qaView()}));
        QCOMPARE(t5.plotView()->parentWidget()->objectName(), QStringLiteral("middleStackedWidget"));
        QCOMPARE(t5.mediaWidget()->parentWidget()->objectName(), QStringLiteral("leftTopStackedWidget"));
    }

    void geometry() {
        Template4Widget t4;
        showAndSettle(&t4);
        QCOMPARE(t4.size(), QSize(821, 565));
        QCOMPARE(geometryIn(t4.mediaWidget(), &t4), QRect(0, 0, 166, 114));
        QCOMPARE(geometryIn(t4.chatView(), &t4), QRect(0, 114, 166, 565 - 114));
        QCOMPARE(geometryIn(t4.plotView(), &t4), QRect(166, 0, 655, 565));

        Template2Widget t2;
        showAndSettle(&t2);
        QCOMPARE(geometryIn(t2.qaView(), &t2), QRect(0, 0, 166, 473));
        QCOMPARE(geometryIn(t2.mediaWidget(), &t2), QRect(166, 0, 442, 473));
        QCOMPARE(geometryIn(t2.chatView(), &t2), QRect(608, 0, 166, 473));
        // below 480 x 480 only the two columns limit it
        t2.resize(400, 300);
        QCoreApplication::processEvents();
        QCOMPARE(t2.size(), QSize(400, 300));
        QCOMPARE(t2.mediaWidget()->width(), 400 - 2 * 166);

        Template3Widget t3;
        showAndSettle(&t3);
        QCOMPARE(geometryIn(t3.mediaWidget(), &t3), QRect(0, 0, 786 - 166, 517));
        QCOMPARE(geometryIn(t3.chatView(), &t3), QRect(786 - 166, 0, 166, 517));

        Template5Widget t5;
        showAndSettle(&t5);
        QWidget* box = t5.findChild<QStackedWidget*>("leftTopStackedWidget");
        QCOMPARE(geometryIn(box, &t5), QRect(0, 0, 166, 114));
        QVERIFY(box->geometry().contains(geometryIn(t5.mediaWidget(), &t5)));
        QCOMPARE(geometryIn(t5.qaView(), &t5), QRect(0, 114, 166, 525 - 114));
        QCOMPARE(geometryIn(t5.plotView(), &t5), QRect(166, 0, 782 - 2 * 166, 525));
        QCOMPARE(geometryIn(t5.chatView(), &t5), QRect(782 - 166, 0, 166, 525));

        Template6Widget t6;
        showAndSettle(&t6);
        QCOMPARE(geometryIn(t6.mediaWidget(), &t6), QRect(0, 0, 780 - 166, 480));
        QCOMPARE(geometryIn(t6.qaView(), &t6), QRect(780 - 166, 0, 166, 480));

        // templates 3 to 6 cannot be made smaller than 480 x 480
        for (QWidget* w : {static_cast<QWidget*>(&t3), static_cast<QWidget*>(&t4), static_cast<QWidget*>(&t5),
                           static_cast<QWidget*>(&t6)}) {
            w->resize(300, 200);
            QCoreApplication::processEvents();
            QCOMPARE(w->size(), QSize(480, 480));
        }
        // the video area of templates 4 and 5 keeps its box size
        QCOMPARE(t4.mediaWidget()->size(), QSize(166, 114));
        QCOMPARE(box->size(), QSize(166, 114));

        // a native window for the engine, made only on request
        Template4Widget t;
        QVERIFY(!t.mediaWidget()->testAttribute(Qt::WA_NativeWindow));
        QVERIFY(t.mediaWinId() != 0);
        QCOMPARE(t.mediaWinId(), t.mediaWidget()->winId());
    }

    void forwarding() {
        // a chat event reaches every view of template 5; only the chat shows it
        Template5Widget t5;
        t5.onItem(nullptr, page("d", 1, 320, 180, "#"));
        t5.onItem(nullptr, chat("Ann", "student", "hello all"));
        QVERIFY(t5.chatView()->textBrowser()->toPlainText().contains("hello all"));
        QVERIFY(t5.qaView()->questionWidgets().isEmpty());
        QVERIFY(t5.plotView()->drawings().isEmpty());
        t5.onItem(nullptr, question("1", "Bob", "why?"));
        t5.onItem(nullptr, answer("1", "T", "because"));
        t5.onItem(nullptr, draw(2, "d", 1, "s"));
        QCOMPARE(t5.qaView()->questionWidgets().size(), 1);
        QCOMPARE(t5.qaView()->questionWidgets().first()->answerWidgets().size(), 1);
        QCOMPARE(t5.plotView()->drawings().size(), 1);
        QVERIFY(!t5.chatView()->textBrowser()->toPlainText().contains("why?"));
        t5.onItemList(nullptr, {}, VRK_KIND_CHAT);
        QVERIFY(t5.chatView()->textBrowser()->toPlainText().isEmpty());
        t5.onItemList(nullptr, {}, VRK_KIND_QUESTION);
        QVERIFY(t5.qaView()->questionWidgets().isEmpty());

        // a template deleted while its whiteboard lets pending events run stops forwarding
        auto* doomed = new Template5Widget;
        doomed->onItem(nullptr, page("d", 1, 320, 180, "#"));
        QPointer<Template5Widget> guard(doomed);
        QMetaObject::invokeMethod(
            qApp, [&] { delete doomed; }, Qt::QueuedConnection);
        doomed->onItem(nullptr, draw(2, "d", 1, "x"));
        QVERIFY(guard.isNull());

        // template 6 forwards to its Q&A column
        Template6Widget t6;
        t6.onItem(nullptr, question("9", "C", "shown?"));
        QCOMPARE(t6.qaView()->questionWidgets().size(), 1);

        // template 2: Q&A and chat
        Template2Widget t2;
        t2.onItemList(nullptr, items(QList<std::shared_ptr<_QuestionItem>>{question("1", "A", "q")}),
                      VRK_KIND_QUESTION);
        t2.onItemList(nullptr, items(QList<std::shared_ptr<_ChatLogItem>>{chat("A", "teacher", "c")}),
                      VRK_KIND_CHAT);
        QCOMPARE(t2.qaView()->questionWidgets().size(), 1);
        QVERIFY(t2.chatView()->textBrowser()->toPlainText().contains("c"));

        // template 1 ignores everything (and has nothing that could show it)
        Template1Widget t1;
        t1.onItem(nullptr, chat("A", "teacher", "c"));
        t1.onItemList(nullptr, {}, VRK_KIND_CHAT);
        t1.onDataWrapper(nullptr);
        t1.onDataWrapperValue(nullptr, 1);
        QVERIFY(t1.findChildren<QTextBrowser*>().isEmpty());
    }

    // Template 4 rendered with a known page and drawings: colours at the stroke, rectangle,
    // ellipse and text positions of the whiteboard.
    void renderedTemplate() {
        QTemporaryDir tmp;
        const QString ws = tmp.filePath("ws");
        QVERIFY(writePageImage(ws, "doc", 1, QSize(400, 300), QColor(255, 255, 220)));
        auto dw = session(ws, 4);
        Template4Widget t4;
        showAndSettle(&t4);
        t4.onItemList(dw, items(QList<std::shared_ptr<_PageChangeItem>>{page("doc", 1, 400, 300)}),
                      VRK_KIND_PAGE_CHANGE);
        t4.onItemList(
            dw,
            items(QList<std::shared_ptr<_DrawItem>>{
                line("doc", 1, {QPointF(0.55, 0.15), QPointF(0.9, 0.15)}, 0xFF0000, 6, "l"),
                shape(3, "doc", 1, QRectF(0.1, 0.1, 0.3, 0.2), 0x00A000, 6, "r"),
                shape(4, "doc", 1, QRectF(0.5, 0.9, 0.1, 0.1), 0x0000FF, 6, "e"),
                text("doc", 1, QRectF(0.6, 0.4, 0.35, 0.3), QStringLiteral("HH"), 40, 0xC000C0, "t")}),
            VRK_KIND_DRAW);
        t4.onItem(dw, chat("Ann", "student", "hello"));
        const QImage img = t4.grab().toImage();
        QCOMPARE(img.size(), QSize(821, 565));

        // whiteboard 655 x 565 at x 166; page 400 x 300 shown at 99 % of the fitting scale, centred
        const double f = qMin(655.0 / 400, 565.0 / 300) * 0.99;
        const QSize shown(qRound(400 * f), qRound(300 * f));
        const QPointF origin(166 + (655 - shown.width()) / 2.0, (565 - shown.height()) / 2.0);
        auto at = [&](double px, double py) { return (origin + QPointF(px * f, py * f)).toPoint(); };
        auto colourNear = [&](QPoint p, const QColor& c) {
            return countNear(img, QRect(p - QPoint(2, 2), QSize(5, 5)), c, 60) > 0;
        };
        QVERIFY(colourNear(at(280, 45), QColor(255, 0, 0)));                 // stroke
        QVERIFY(colourNear(at(40, 60), QColor(0, 160, 0)));                  // rectangle left edge
        QVERIFY(colourNear(at(100, 30), QColor(0, 160, 0)));                 // rectangle top edge
        QVERIFY(near(img.pixelColor(at(100, 60)), QColor(255, 255, 220)));   // rectangle inside: page
        QVERIFY(colourNear(at(160, 210), QColor(0, 0, 255)));                // ellipse top
        QVERIFY(colourNear(at(200, 240), QColor(0, 0, 255)));                // ellipse right, at x = 0.5
        QVERIFY(near(img.pixelColor(at(160, 240)), QColor(255, 255, 220)));  // ellipse inside
        const QRect textArea(at(240, 120), at(380, 210));
        QVERIFY(countNear(img, textArea, QColor(192, 0, 192), 60) > 50);  // text
        // letterbox in light grey above the page, video box slate blue at the top left
        QCOMPARE(img.pixelColor(166 + 655 / 2, 2), QColor(245, 245, 245));
        QVERIFY(near(img.pixelColor(80, 60), QColor(0x63, 0x73, 0x8a), 10));
    }
};

QTEST_MAIN(TestTemplates)
#include "tst_templates.moc"
