// A generated sample package replayed through a real session into template 5: what the views show
// after seeks and while playing matches the package's events.
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimer>
#include <QtTest>
#include <atomic>

#include "ChatView.h"
#include "DataWrapper.h"
#include "PlotView.h"
#include "QuestionAnswerView.h"
#include "Template5Widget.h"
#include "TemplateFactory.h"
#include "TestSupport.h"

class TestSamplePlayback : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_tmp;
    std::shared_ptr<DataWrapper> m_session;
    Template5Widget* m_template = nullptr;

    std::shared_ptr<_MetaItem> meta() { return m_session->getRootItem()->datas->meta_item; }

    template <typename T>
    static int countUpTo(const QList<std::shared_ptr<T>>& list, qint64 ms) {
        int n = 0;
        for (const auto& i : list) {
            n += i->time <= ms ? 1 : 0;
        }
        return n;
    }

    std::shared_ptr<_PageChangeItem> lastPageUpTo(qint64 ms) {
        std::shared_ptr<_PageChangeItem> last;
        for (const auto& p : meta()->pageChange) {
            if (p->time <= ms) {
                last = p;
            }
        }
        return last;
    }

    int shownAnswers() {
        int n = 0;
        for (QuesionWidget* q : m_template->qaView()->questionWidgets()) {
            n += q->answerWidgets().size();
        }
        return n;
    }

    int answersOfShownQuestions(qint64 ms) {
        QSet<QString> ids;
        for (const auto& q : meta()->question) {
            if (q->time <= ms) {
                ids.insert(q->id);
            }
        }
        int n = 0;
        for (const auto& a : meta()->answer) {
            n += (a->time <= ms && ids.contains(a->id)) ? 1 : 0;
        }
        return n;
    }

    void seekTo(qint64 ms) {
        m_session->OnSeek(ms);  // through the session's queue and its queued signal
        QTRY_COMPARE_WITH_TIMEOUT(m_template->qaView()->questionWidgets().size(),
                                  countUpTo(meta()->question, ms), 5000);
        QTest::qWait(50);
    }

private slots:
    void initTestCase() {
        QVERIFY(m_tmp.isValid());
        const QString package = m_tmp.filePath("t5.vrk");
        QVERIFY(
            testsupport::makeSample(package, {"--template", "5", "--duration", "12", "--size", "320x180"}));
        m_session = std::make_shared<DataWrapper>();
        std::atomic<int> code{1};
        QCOMPARE(m_session->readFile(package, [&](int c) { code = c; }), qint16(0));
        QTRY_VERIFY_WITH_TIMEOUT(code != 1, 60000);
        QCOMPARE(int(code), 0);
        TemplateInterface* t = createTemplate(m_session);
        m_template = dynamic_cast<Template5Widget*>(t);
        QVERIFY(m_template);
        m_session->connectSignals();
        QVERIFY(!meta()->question.isEmpty());
        QVERIFY(!meta()->draw.isEmpty());
    }

    void cleanupTestCase() {
        if (m_session) {
            m_session->setObserver(nullptr);
        }
        delete m_template;
        m_session.reset();
    }

    void seeks() {
        const qint64 late = 10000;
        seekTo(late);
        const auto page = lastPageUpTo(late);
        QVERIFY(page);
        QVERIFY(m_template->plotView()->currentPage() == page);
        QVERIFY(!m_template->plotView()->canvas().isNull());
        QCOMPARE(shownAnswers(), answersOfShownQuestions(late));
        QVERIFY(!m_template->chatView()->textBrowser()->toPlainText().isEmpty());
        const QString chatLate = m_template->chatView()->textBrowser()->toPlainText();

        // back to the start: only what happens at 0
        seekTo(0);
        QCOMPARE(m_template->qaView()->questionWidgets().size(), countUpTo(meta()->question, 0));
        QVERIFY(m_template->plotView()->currentPage() == lastPageUpTo(0));
        QVERIFY(m_template->chatView()->textBrowser()->toPlainText().size() < chatLate.size());

        // the same seek twice shows the same
        seekTo(late);
        QCOMPARE(m_template->chatView()->textBrowser()->toPlainText(), chatLate);
        QCOMPARE(shownAnswers(), answersOfShownQuestions(late));
    }

    // Playing from the start in 250 ms steps ends with every question and every answer of a
    // question asked before it, and the last page.
    void play() {
        seekTo(0);
        m_session->stop();
        const qint64 end = 12000;
        for (qint64 t = 0; t <= end; t += 250) {
            m_session->OnTimePoint(t);  // GUI thread: handed out at once
        }
        QCoreApplication::processEvents();
        QCOMPARE(m_template->qaView()->questionWidgets().size(), meta()->question.size());
        QVERIFY(m_template->plotView()->currentPage() == lastPageUpTo(end));
        QVERIFY(shownAnswers() <= answersOfShownQuestions(end));
        QVERIFY(shownAnswers() > 0);
    }
};

QTEST_MAIN(TestSamplePlayback)
#include "tst_sampleplayback.moc"
