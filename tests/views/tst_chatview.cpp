// Chat view: the entry of each role, escaping, emoticons and links, blank messages, seek rebuilds,
// and that Chinese text is really drawn.
#include <QAbstractTextDocumentLayout>
#include <QDir>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextImageFormat>
#include <QtTest>

#include "ChatView.h"
#include "ViewTestSupport.h"

using namespace viewtest;

namespace {

const QString kNameStyle = QStringLiteral(
    " style= \"width: 130px;margin-left:12px;line-height:14px;font-family:HiraginoSansGB-W3;font-size:12px; "
    "text-decoration:none;color:");
const QString kContentOpen = QStringLiteral(
    "<a fontstyle= \" line-height: 12px;font-family:HiraginoSansGB-W3;font-size:12px; color:#333333;\">");

struct Fragment {
    QString text;
    QString href;
    QString image;
    qreal imageWidth = 0;
    qreal imageHeight = 0;
};

QList<Fragment> fragments(const QTextDocument* doc) {
    QList<Fragment> out;
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextFragment f = it.fragment();
            Fragment x;
            x.text = f.text();
            x.href = f.charFormat().anchorHref();
            if (f.charFormat().isImageFormat()) {
                const QTextImageFormat img = f.charFormat().toImageFormat();
                x.image = img.name();
                x.imageWidth = img.width();
                x.imageHeight = img.height();
            }
            out << x;
        }
    }
    return out;
}

}  // namespace

class TestChatView : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        // The program runs from its own directory, where the emoticon pictures lie.
        QVERIFY(QDir::setCurrent(QStringLiteral(VRK_BINARY_DIR "/ui")));
        QVERIFY(QFile::exists(QStringLiteral("expression/[em2_01].png")));
    }

    void entryPerRole() {
        ChatView view;
        // publisher: no link target, three spaces after the name, blue
        QCOMPARE(view.entryHtml("Ann", "publisher", "hi"),
                 "<a" + kNameStyle + "#0f97e5; \">    Ann   </a><br />" + kContentOpen + "hi</a><br />");
        // student: empty link target, grey
        QCOMPARE(
            view.entryHtml("Bob", "student", "hi"),
            "<a href=\"\"" + kNameStyle + "#666666; \">    Bob</a><br />" + kContentOpen + "hi</a><br />");
        // teacher and host: green
        QVERIFY(view.entryHtml("T", "teacher", "x")
                    .startsWith("<a href=\"\"" + kNameStyle + "#03990b; \">    T</a>"));
        QVERIFY(view.entryHtml("H", "host", "x")
                    .startsWith("<a href=\"\"" + kNameStyle + "#03990b; \">    H</a>"));
        // unknown role: empty colour, generic name line
        QVERIFY(view.entryHtml("U", "guest", "x").startsWith("<a href=\"\"" + kNameStyle + "; \">    U</a>"));
        // the role is case-sensitive
        QVERIFY(view.entryHtml("P", "Publisher", "x").startsWith("<a href=\"\""));

        // system message: translated label, colon, content, inside the light-blue table; no name line
        const QString sys = view.entryHtml("ignored", "systemMsg", "class starts");
        QVERIFY(sys.startsWith("<table width=\"150\""));
        QVERIFY(sys.contains("background:#e2eefe"));
        QVERIFY(sys.contains("color: #f88119"));
        QVERIFY(sys.contains(">" + ChatView::tr("systemMsg") + ":class starts</a></td></tr></table>"));
        QVERIFY(sys.endsWith("</table><br />"));
        QVERIFY(!sys.contains("ignored"));

        view.onItem(nullptr, chat("ignored", "systemMsg", "class starts"));
        QCOMPARE(view.textBrowser()->toPlainText().trimmed(), ChatView::tr("systemMsg") + ":class starts");
        QVERIFY(view.textBrowser()->toHtml().contains("#e2eefe"));
    }

    void escaping() {
        ChatView view;
        // markup characters become entities; ampersands stay
        QCOMPARE(ChatView::escapeHtml("a<b>c\"d&e"), QStringLiteral("a&lt;b&gt;c&quot;d&e"));
        const QString html = view.entryHtml("<i>me</i>", "student", "x<y and <b>bold</b> \"q\"");
        QVERIFY(html.contains("    &lt;i&gt;me&lt;/i&gt;</a>"));
        QVERIFY(html.contains("x&lt;y and &lt;b&gt;bold&lt;/b&gt; &quot;q&quot;"));

        view.onItem(nullptr, chat("<i>me</i>", "student", "x<y and <b>bold</b>"));
        const QString plain = view.textBrowser()->toPlainText();
        QVERIFY2(plain.contains("x<y and <b>bold</b>"), qPrintable(plain));
        QVERIFY(plain.contains("<i>me</i>"));
        // nothing became bold or italic
        QTextDocument* doc = view.textBrowser()->document();
        for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
            for (auto it = b.begin(); !it.atEnd(); ++it) {
                QVERIFY(it.fragment().charFormat().fontWeight() <= QFont::Normal);
                QVERIFY(!it.fragment().charFormat().fontItalic());
            }
        }
        QVERIFY(view.textBrowser()->toHtml().contains("&lt;"));
    }

    void emoticonsAndLinks() {
        // two emoticons in a row: two 20x20 pictures, each followed by a space
        QCOMPARE(ChatView::replaceEmoticons("[em2_01][em2_12]"),
                 QStringLiteral("<img src=expression/[em2_01].png width = \"20\"; height = \"20\";/> "
                                "<img src=expression/[em2_12].png width = \"20\"; height = \"20\";/> "));
        // text around codes is kept; near-misses stay text
        QCOMPARE(
            ChatView::replaceEmoticons("a[em1_3]b [em_1] [emx_2] [em12_1]"),
            QStringLiteral("a<img src=expression/[em1_3].png width = \"20\"; height = \"20\";/> b [em_1] "
                           "[emx_2] [em12_1]"));
        QCOMPARE(ChatView::replaceEmoticons("plain"), QStringLiteral("plain"));

        // two links; a code ends at the first "]"
        QCOMPARE(ChatView::replaceLinks("see [uri_http://a.example/x] or [uri_https://b.example/y]!"),
                 QStringLiteral(
                     "see <a href=\"http://a.example/x\" style= \" font-size:12px; color:blue; "
                     "text-decoration:none \" >http://a.example/x</a> or <a href=\"https://b.example/y\" "
                     "style= \" font-size:12px; color:blue; text-decoration:none \" "
                     ">https://b.example/y</a>!"));

        ChatView view;
        view.resize(166, 400);
        view.onItem(nullptr, chat("Ann", "student",
                                  "[em2_01][em2_12] go [uri_http://a.example/x] [uri_http://b.example/y]"));
        QStringList images;
        QStringList links;
        for (const Fragment& f : fragments(view.textBrowser()->document())) {
            if (!f.image.isEmpty()) {
                images << f.image;
                QCOMPARE(f.imageWidth, 20.0);
                QCOMPARE(f.imageHeight, 20.0);
            } else if (!f.href.isEmpty()) {
                QCOMPARE(f.text, f.href);
                links << f.href;
            }
        }
        QCOMPARE(images, (QStringList{"expression/[em2_01].png", "expression/[em2_12].png"}));
        QCOMPARE(links, (QStringList{"http://a.example/x", "http://b.example/y"}));
        // the picture really comes from the program directory
        const QVariant res = view.textBrowser()->document()->resource(QTextDocument::ImageResource,
                                                                      QUrl("expression/[em2_01].png"));
        QVERIFY(res.isValid());
        QVERIFY(!qvariant_cast<QImage>(res).isNull() || !qvariant_cast<QPixmap>(res).isNull());

        // clicking a name line or a link leaves the chat in place
        QVERIFY(!view.textBrowser()->openLinks());
    }

    void blankContent() {
        ChatView view;
        QVERIFY(view.entryHtml("a", "student", "").isEmpty());
        QVERIFY(view.entryHtml("a", "student", " ").isEmpty());
        QVERIFY(view.entryHtml("a", "student", "   ").isEmpty());
        QVERIFY(view.entryHtml("a", "systemMsg", "  ").isEmpty());
        QVERIFY(view.entryHtml("a", "student", " b ").contains(kContentOpen + " b </a>"));
        QVERIFY(!view.entryHtml("a", "student", "\t").isEmpty());  // a tab counts as text

        view.onItem(nullptr, chat("a", "student", ""));
        view.onItem(nullptr, chat("a", "student", "   "));
        QVERIFY(view.textBrowser()->toPlainText().isEmpty());
        view.onItem(nullptr, chat("a", "student", " b "));
        QVERIFY(view.textBrowser()->toPlainText().contains("b"));
    }

    void seekAndKinds() {
        ChatView view;
        view.onItem(nullptr, chat("a", "student", "one"));
        view.onItem(nullptr, chat("b", "teacher", "two"));
        QVERIFY(view.textBrowser()->toPlainText().contains("two"));

        // other kinds do nothing, even when a list of them arrives
        view.onItem(nullptr, question("1", "q", "question text"));
        view.onItemList(nullptr, {}, VRK_KIND_QUESTION);
        view.onItemList(nullptr, items(QList<std::shared_ptr<_ChatLogItem>>{chat("z", "student", "zzz")}),
                        VRK_KIND_DRAW);
        QVERIFY(view.textBrowser()->toPlainText().contains("two"));
        QVERIFY(!view.textBrowser()->toPlainText().contains("question text"));
        QVERIFY(!view.textBrowser()->toPlainText().contains("zzz"));

        // a chat list replaces everything; delivered twice it shows the same
        const auto list = items(QList<std::shared_ptr<_ChatLogItem>>{
            chat("c", "student", "three"), chat("d", "student", " "), chat("e", "publisher", "four")});
        view.onItemList(nullptr, list, VRK_KIND_CHAT);
        const QString once = view.textBrowser()->toPlainText();
        QVERIFY(!once.contains("one"));
        QVERIFY(once.indexOf("three") < once.indexOf("four"));
        view.onItemList(nullptr, list, VRK_KIND_CHAT);
        QCOMPARE(view.textBrowser()->toPlainText(), once);

        view.onItemList(nullptr, {}, VRK_KIND_CHAT);
        QVERIFY(view.textBrowser()->toPlainText().isEmpty());
    }

    // A Chinese message is drawn with real glyphs, not left blank.
    void chineseIsDrawn() {
        ChatView view;
        view.resize(166, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.onItem(nullptr,
                    chat(QString::fromUtf8("老师"), "teacher", QString::fromUtf8("同学们好，今天学习汉字")));
        QTextBrowser* browser = view.textBrowser();
        QTextDocument* doc = browser->document();
        // the block holding the content line
        QTextBlock contentBlock;
        for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
            if (b.text().contains(QString::fromUtf8("同学们"))) {
                contentBlock = b;
            }
        }
        QVERIFY(contentBlock.isValid());
        QTextLayout* layout = contentBlock.layout();
        QVERIFY(layout && layout->lineCount() > 0);
        QTextLine first;
        for (int i = 0; i < layout->lineCount(); ++i) {
            const QTextLine l = layout->lineAt(i);
            if (contentBlock.text().mid(l.textStart(), l.textLength()).contains(QString::fromUtf8("同"))) {
                first = l;
                break;
            }
        }
        QVERIFY(first.isValid());
        const QRectF blockRect = doc->documentLayout()->blockBoundingRect(contentBlock);
        const QRect lineRect = first.naturalTextRect().translated(blockRect.topLeft()).toAlignedRect();
        const QImage shot = browser->viewport()->grab().toImage();
        // dark glyph pixels on the white background within the line
        const int ink = countNear(shot, lineRect, QColor(0x33, 0x33, 0x33), 90);
        QVERIFY2(ink > 30, qPrintable(QString::number(ink)));
        // and the family used for the Chinese text has Chinese glyphs
        QVERIFY(QFontMetrics(QFont("HiraginoSansGB-W3")).inFontUcs4(0x540C));
        QVERIFY(QFontMetrics(QFont(QString::fromUtf8("微软雅黑"))).inFontUcs4(0x540C));
    }

    // A view that drops what is hidden shows, message after message, exactly what a view keeping
    // every entry shows, and keeps far fewer blocks.
    void droppingHiddenEntriesChangesNoPixel() {
        ChatView all;
        ChatView dropping;
        dropping.setDropsHiddenEntries(true);
        for (ChatView* v : {&all, &dropping}) {
            v->resize(166, 300);
            v->show();
            QVERIFY(QTest::qWaitForWindowExposed(v));
        }
        const QStringList roles = {"student", "teacher", "systemMsg", "publisher", "host"};
        const QStringList texts = {
            QStringLiteral("ok"), QStringLiteral("see [em2_01], [em9_99] and [uri_http://x.cn/a]"),
            QString::fromUtf8("同学们好，今天我们学习一篇很长很长的课文，请大家认真听讲"),
            QStringLiteral("a <b> \"quoted\" line that is long enough to wrap twice")};
        int compared = 0;
        for (int i = 0; i < 1500; ++i) {
            const auto message = chat(QStringLiteral("user%1").arg(i % 7), roles[i % roles.size()],
                                      texts[(i / 3) % texts.size()]);
            all.onItem(nullptr, message);
            dropping.onItem(nullptr, message);
            if (i % 97 == 0 || i == 1499) {
                const QImage a = all.grab().toImage();
                const QImage b = dropping.grab().toImage();
                QVERIFY2(a == b, qPrintable(QStringLiteral("differs after message %1").arg(i)));
                ++compared;
            }
        }
        QVERIFY(compared > 10);
        const int kept = dropping.textBrowser()->document()->blockCount();
        QVERIFY2(kept * 3 < all.textBrowser()->document()->blockCount(), qPrintable(QString::number(kept)));
    }
};

QTEST_MAIN(TestChatView)
#include "tst_chatview.moc"
