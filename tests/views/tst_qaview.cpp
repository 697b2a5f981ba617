// Q&A view: line breaking, questions with their answers, duplicates, seek rebuilds, escaping.
#include <QLabel>
#include <QLayout>
#include <QScrollArea>
#include <QTextDocument>
#include <QtTest>

#include "QuestionAnswerView.h"
#include "ViewTestSupport.h"

using namespace viewtest;

class TestQaView : public QObject {
    Q_OBJECT
private:
    static QStringList questionIds(const QuestionAnswerView& view) {
        QStringList ids;
        for (QuesionWidget* w : view.questionWidgets()) {
            ids << w->question()->id;
        }
        return ids;
    }
    static QStringList answerTexts(QuesionWidget* w) {
        QStringList out;
        for (AnswerWidget* a : w->answerWidgets()) {
            out << a->lines().join(QString());
        }
        return out;
    }

private slots:
    void lineBreaking() {
        const QFont font = qaTextFont();
        const QFontMetrics fm(font);
        // the 9-pixel font really holds Chinese glyphs
        QVERIFY(fm.inFontUcs4(0x95EE));

        QCOMPARE(breakQaTextLines("short", fm), QStringList{"short"});
        QVERIFY(breakQaTextLines(QString(), fm).isEmpty());

        const QStringList contents = {
            QStringLiteral(
                "The quick brown fox jumps over the lazy dog again and again until the line is long "
                "enough to need three or more lines of text in this column."),
            QString::fromUtf8(
                "老师，请问这个公式里面的每一个符号分别代表什么意思？我们应该怎样理解它的推导过程呢？"),
            QString::fromUtf8("mixed 中文 and English, 还有数字 1234567890 and punctuation!?;:"),
        };
        for (const QString& content : contents) {
            const QStringList lines = breakQaTextLines(content, fm);
            QVERIFY2(lines.size() >= 2, qPrintable(content));
            QCOMPARE(lines.join(QString()), content);
            for (int i = 0; i < lines.size(); ++i) {
                QVERIFY(!lines.at(i).isEmpty());
                QVERIFY2(fm.horizontalAdvance(lines.at(i)) < 145, qPrintable(lines.at(i)));
                // every line but the last is as full as it can be
                if (i + 1 < lines.size()) {
                    QVERIFY(fm.horizontalAdvance(lines.at(i) + lines.at(i + 1).at(0)) >= 145);
                }
            }
        }

        // a character wider than the limit still makes progress, one character per line
        QFont huge = font;
        huge.setPixelSize(200);
        const QStringList wide = breakQaTextLines(QStringLiteral("WMW"), QFontMetrics(huge));
        QCOMPARE(wide, (QStringList{"W", "M", "W"}));

        // the widgets show the same lines
        const QString longText = contents.first();
        QuesionWidget q(question("1", "Ann", longText));
        QCOMPARE(q.lines(), breakQaTextLines(longText, fm));
        QCOMPARE(q.userName(), QStringLiteral("Ann"));
        AnswerWidget a(answer("1", "Teacher Li", longText));
        QCOMPARE(a.lines(), breakQaTextLines(longText, fm));
        QCOMPARE(a.userName(), QStringLiteral("Teacher Li"));
        QCOMPARE(a.minimumWidth(), 145);
        QCOMPARE(a.maximumWidth(), 148);
        QCOMPARE(q.minimumWidth(), 166);
        QCOMPARE(q.maximumWidth(), 166);
    }

    void markupShownAsText() {
        QuesionWidget q(question("1", "<b>Ann</b>", "is <b>this</b> bold? \"yes\""));
        const QList<QLabel*> labels = q.findChildren<QLabel*>();
        QLabel* content = nullptr;
        for (QLabel* l : labels) {
            if (l->objectName().isEmpty() && l->text().contains("this")) {
                content = l;
            }
        }
        QVERIFY(content);
        QCOMPARE(content->text(), QStringLiteral("is &lt;b&gt;this&lt;/b&gt; bold? &quot;yes&quot;"));
        // what the label shows is the tag's characters, not bold text
        QTextDocument doc;
        if (content->textFormat() == Qt::RichText ||
            (content->textFormat() == Qt::AutoText && Qt::mightBeRichText(content->text()))) {
            doc.setHtml(content->text());
        } else {
            doc.setPlainText(content->text());
        }
        QCOMPARE(doc.toPlainText(), QStringLiteral("is <b>this</b> bold? \"yes\""));
    }

    void questionsAndAnswers() {
        QuestionAnswerView view;
        auto q1 = question("q1", "Ann", "first?");
        auto q2 = question("q2", "Bob", "second?");
        auto early = answer("q3", "T", "answer before its question");
        auto q3 = question("q3", "Cy", "third?");

        // during play: an answer that comes before its question is lost
        view.onItem(nullptr, q1);
        view.onItem(nullptr, answer("q1", "T", "a1"));
        view.onItem(nullptr, q2);
        view.onItem(nullptr, early);
        view.onItem(nullptr, q3);
        QCOMPARE(questionIds(view), (QStringList{"q1", "q2", "q3"}));
        QCOMPARE(answerTexts(view.questionWidgets().at(0)), QStringList{"a1"});
        QVERIFY(answerTexts(view.questionWidgets().at(2)).isEmpty());
        // two answers to one question stack in order
        view.onItem(nullptr, answer("q1", "T", "a1bis"));
        QCOMPARE(answerTexts(view.questionWidgets().at(0)), (QStringList{"a1", "a1bis"}));
        // answers with an unknown id, other kinds and empty items change nothing
        view.onItem(nullptr, answer("nope", "T", "x"));
        view.onItem(nullptr, chat("a", "student", "chat"));
        view.onItem(nullptr, nullptr);
        QCOMPARE(questionIds(view).size(), 3);
        // the questions stack from the top: the spacer stays the last layout item
        QLayout* hold = view.contentsHoldWidget()->layout();
        QCOMPARE(hold->count(), 4);
        QVERIFY(hold->itemAt(3)->spacerItem() != nullptr);
        QVERIFY(hold->itemAt(2)->widget() == view.questionWidgets().at(2));

        // after a seek to a later position the early answer is shown under its question
        view.onItemList(nullptr, items(QList<std::shared_ptr<_QuestionItem>>{q1, q2, q3}), VRK_KIND_QUESTION);
        view.onItemList(nullptr, items(QList<std::shared_ptr<_AnswerItem>>{answer("q1", "T", "a1"), early}),
                        VRK_KIND_ANSWER);
        QCOMPARE(questionIds(view), (QStringList{"q1", "q2", "q3"}));
        QCOMPARE(answerTexts(view.questionWidgets().at(0)), QStringList{"a1"});
        QCOMPARE(answerTexts(view.questionWidgets().at(2)), QStringList{"answer before its question"});
        QCOMPARE(hold->count(), 4);
        QVERIFY(hold->itemAt(3)->spacerItem() != nullptr);
    }

    // A view that leaves out questions far below its viewport shows, event after event, exactly
    // what a view keeping every question shows, answers to the first questions included.
    void droppingHiddenQuestionsChangesNoPixel() {
        QuestionAnswerView all;
        QuestionAnswerView dropping;
        dropping.setDropsHiddenQuestions(true);
        for (QuestionAnswerView* v : {&all, &dropping}) {
            v->resize(166, 300);
            v->show();
            QVERIFY(QTest::qWaitForWindowExposed(v));
        }
        const QStringList texts = {QStringLiteral("why?"),
                                   QStringLiteral("a question long enough to need two lines"),
                                   QString::fromUtf8("老师，这一题为什么这样做？请再讲一遍好吗")};
        int compared = 0;
        for (int i = 0; i < 600; ++i) {
            const auto send = [&](const std::shared_ptr<_VRKItemBase>& item) {
                all.onItem(nullptr, item);
                dropping.onItem(nullptr, item);
            };
            send(question(QStringLiteral("q%1").arg(i), QStringLiteral("s%1").arg(i % 5), texts[i % 3]));
            // answers to a recent question, and now and then to one of the first (shown) ones
            send(answer(QStringLiteral("q%1").arg(i / 2), "T", texts[(i + 1) % 3]));
            if (i % 50 == 49) {
                send(answer(QStringLiteral("q%1").arg(i % 4), "T", QStringLiteral("late answer %1").arg(i)));
            }
            // widgets show and lay out from posted events, as before each exported frame
            QCoreApplication::processEvents();
            if (i % 73 == 0 || i == 599) {
                for (int k = 0; k < 3; ++k) {
                    QCoreApplication::processEvents();
                }
                QVERIFY2(all.grab().toImage() == dropping.grab().toImage(),
                         qPrintable(QStringLiteral("differs after question %1").arg(i)));
                ++compared;
            }
        }
        QVERIFY(compared > 5);
        const int kept = dropping.questionWidgets().size();
        QVERIFY2(kept * 3 < all.questionWidgets().size(), qPrintable(QString::number(kept)));
    }

    void duplicateIds() {
        QuestionAnswerView view;
        view.onItemList(
            nullptr,
            items(QList<std::shared_ptr<_QuestionItem>>{question("d", "A", "one"), question("x", "B", "two"),
                                                        question("d", "C", "three")}),
            VRK_KIND_QUESTION);
        view.onItem(nullptr, answer("d", "T", "only to the first"));
        QCOMPARE(answerTexts(view.questionWidgets().at(0)), QStringList{"only to the first"});
        QVERIFY(answerTexts(view.questionWidgets().at(2)).isEmpty());
        // id comparison is exact
        view.onItem(nullptr, answer("D", "T", "case"));
        view.onItem(nullptr, answer("d ", "T", "space"));
        QCOMPARE(answerTexts(view.questionWidgets().at(0)).size(), 1);
    }

    void seekRebuilds() {
        QuestionAnswerView view;
        const auto qs = items(
            QList<std::shared_ptr<_QuestionItem>>{question("1", "A", "one"), question("2", "B", "two")});
        const auto as = items(QList<std::shared_ptr<_AnswerItem>>{answer("2", "T", "ans")});
        view.onItemList(nullptr, qs, VRK_KIND_QUESTION);
        view.onItemList(nullptr, as, VRK_KIND_ANSWER);
        QPointer<QuesionWidget> old = view.questionWidgets().at(0);

        // the same delivery twice shows the same
        view.onItemList(nullptr, qs, VRK_KIND_QUESTION);
        view.onItemList(nullptr, as, VRK_KIND_ANSWER);
        QVERIFY(old.isNull());  // old widgets are deleted, not kept around
        QCOMPARE(questionIds(view), (QStringList{"1", "2"}));
        QCOMPARE(answerTexts(view.questionWidgets().at(1)), QStringList{"ans"});
        QCOMPARE(view.contentsHoldWidget()->findChildren<QuesionWidget*>().size(), 2);

        // items of another record type in a question list are skipped
        view.onItemList(nullptr, {chat("a", "b", "c"), question("3", "C", "three")}, VRK_KIND_QUESTION);
        QCOMPARE(questionIds(view), QStringList{"3"});

        // an empty question list empties the column; the answers that follow attach nothing
        view.onItemList(nullptr, {}, VRK_KIND_QUESTION);
        view.onItemList(nullptr, as, VRK_KIND_ANSWER);
        QVERIFY(view.questionWidgets().isEmpty());
        QCOMPARE(view.contentsHoldWidget()->findChildren<QuesionWidget*>().size(), 0);
        QCOMPARE(view.contentsHoldWidget()->layout()->count(), 1);

        // other kinds of list change nothing
        view.onItemList(nullptr, qs, VRK_KIND_CHAT);
        QVERIFY(view.questionWidgets().isEmpty());
    }

    void form() {
        QuestionAnswerView view;
        QLabel* title = view.findChild<QLabel*>("label_2");
        QVERIFY(title);
        QCOMPARE(title->text(), QuestionAnswerView::tr("Q&A records"));
        QVERIFY(view.findChild<QLabel*>("label")->isHidden());
        auto* scroll = view.findChild<QScrollArea*>("scrollArea");
        QVERIFY(scroll);
        QCOMPARE(scroll->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QVERIFY(scroll->widgetResizable());
        QCOMPARE(scroll->widget()->objectName(), QStringLiteral("contentsHoldWidget"));
        QCOMPARE(view.findChild<QWidget*>("widget")->height(), 22);
    }
};

QTEST_MAIN(TestQaView)
#include "tst_qaview.moc"
