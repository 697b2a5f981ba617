#define FLOG_SOURCE "views/ChatView"
#include "ChatView.h"

#include <QAbstractTextDocumentLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QRegExp>
#include <QScrollBar>
#include <QSpacerItem>
#include <QTextBlock>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <functional>

#include "HiddenExtent.h"
#include "ViewFonts.h"

namespace {

const char kNameStyle[] =
    " style= \"width: 130px;margin-left:12px;line-height:14px;font-family:HiraginoSansGB-W3;font-size:12px; "
    "text-decoration:none;color:";

// Replaces every minimal match of `pattern` in `text` with `replace(match)`, front to back.
QString replaceCodes(const QString& text, const QString& pattern,
                     const std::function<QString(const QString&)>& replace) {
    QRegExp rx(pattern, Qt::CaseSensitive, QRegExp::RegExp);
    rx.setMinimal(true);
    QString result;
    int from = 0;
    while (true) {
        const int at = rx.indexIn(text, from);
        if (at < 0 || rx.matchedLength() <= 0) {
            break;
        }
        result += text.mid(from, at - from);
        result += replace(rx.cap(0));
        from = at + rx.matchedLength();
    }
    result += text.mid(from);
    return result;
}

}  // namespace

void ChatForm::setupUi(QWidget* form) {
    if (form->objectName().isEmpty()) {
        form->setObjectName(QStringLiteral("ChatForm"));
    }
    form->resize(166, 237);
    form->setMinimumSize(QSize(166, 0));
    form->setMaximumSize(QSize(166, QWIDGETSIZE_MAX));

    verticalLayout = new QVBoxLayout(form);
    verticalLayout->setSpacing(0);
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    verticalLayout->setContentsMargins(0, 0, 0, 0);

    widget = new QWidget(form);
    widget->setObjectName(QStringLiteral("widget"));
    widget->setMinimumSize(QSize(0, 22));
    widget->setMaximumSize(QSize(QWIDGETSIZE_MAX, 22));
    widget->setStyleSheet(QStringLiteral("QWidget#widget\n{\n\tbackground:#e1e1e1;\n}"));
    horizontalLayout = new QHBoxLayout(widget);
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    horizontalLayout->setContentsMargins(7, 2, -1, 2);

    label = new QLabel(widget);
    label->setObjectName(QStringLiteral("label"));
    label->setMinimumSize(QSize(15, 14));
    label->setMaximumSize(QSize(15, 14));
    label->setStyleSheet(
        QStringLiteral("QLabel#label\n{\n\tbackground-image:url(:/cut/Resources/cut/chat_icon.png);\n}"));
    horizontalLayout->addWidget(label);

    label_2 = new QLabel(widget);
    label_2->setObjectName(QStringLiteral("label_2"));
    label_2->setStyleSheet(QString::fromUtf8(
        "QLabel#label_2\n{\n\tcolor:#1e1f21;\n\tfont: 10px \"微软雅黑\";\n\tbackground:transparent;\n}"));
    horizontalLayout->addWidget(label_2);

    horizontalSpacer = new QSpacerItem(49, 15, QSizePolicy::Expanding, QSizePolicy::Minimum);
    horizontalLayout->addItem(horizontalSpacer);
    verticalLayout->addWidget(widget);

    textBrowser = new QTextBrowser(form);
    textBrowser->setObjectName(QStringLiteral("textBrowser"));
    textBrowser->setFrameShape(QFrame::NoFrame);
    textBrowser->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    textBrowser->setStyleSheet(QStringLiteral(
        "QTextBrowser#textBrowser\n{\n\tbackground:white;\n}\n"
        "QScrollBar:vertical\n{\n\twidth:8px;\n\tbackground:white;\n\tpadding-top:9px;\n\tpadding-bottom:9px;"
        "\n}\n"
        "QScrollBar::handle:vertical\n{\n\tbackground:rgb(200,200,200);\n\tborder-radius:4px;\n"
        "\tmin-height:20px;\n}\n"
        "QScrollBar::handle:vertical:hover\n{\n\tbackground:rgb(153,153,153);\n}\n"
        "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical\n{\n\twidth:0px;\n\theight:0px;\n}\n"
        "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical\n{\n\tborder-radius:4px;\n}"));
    verticalLayout->addWidget(textBrowser);

    retranslateUi(form);
}

void ChatForm::retranslateUi(QWidget* form) {
    form->setWindowTitle(ChatView::tr("Form"));
    label->setText(QString());
    label_2->setText(ChatView::tr("Chat records"));
}

ChatView::ChatView(QWidget* parent) : QWidget(parent) {
    installViewFonts();
    m_role_colors.insert(QStringLiteral("publisher"), QStringLiteral("#0f97e5"));
    m_role_colors.insert(QStringLiteral("teacher"), QStringLiteral("#03990b"));
    m_role_colors.insert(QStringLiteral("host"), QStringLiteral("#03990b"));
    m_role_colors.insert(QStringLiteral("student"), QStringLiteral("#666666"));
    m_form.setupUi(this);
    m_form.label->hide();
    // The name lines are anchors; following one would replace the chat with another document.
    m_form.textBrowser->setOpenLinks(false);
    m_form.textBrowser->setOpenExternalLinks(false);
}

ChatView::~ChatView() = default;

void ChatView::onDataWrapper(std::shared_ptr<DataWrapper>) {}

void ChatView::onDataWrapperValue(std::shared_ptr<DataWrapper>, int) {}

void ChatView::onItem(std::shared_ptr<DataWrapper>, std::shared_ptr<_VRKItemBase> item) {
    if (!item || item->kind != VRK_KIND_CHAT) {
        return;
    }
    appendMessage(std::dynamic_pointer_cast<_ChatLogItem>(item));
}

void ChatView::onItemList(std::shared_ptr<DataWrapper>, QList<std::shared_ptr<_VRKItemBase>> items,
                          int kind) {
    if (kind != VRK_KIND_CHAT) {
        return;
    }
    m_form.textBrowser->clear();
    for (const auto& item : items) {
        appendMessage(std::dynamic_pointer_cast<_ChatLogItem>(item));
    }
}

void ChatView::appendMessage(const std::shared_ptr<_ChatLogItem>& chat) {
    if (!chat) {
        return;
    }
    const QString html = entryHtml(chat->userName, chat->userRole, chat->content);
    if (!html.isEmpty()) {
        m_form.textBrowser->append(html);
        if (m_drops_hidden) {
            dropHiddenEntries();
        }
    }
}

void ChatView::dropHiddenEntries() {
    QTextBrowser* browser = m_form.textBrowser;
    const QScrollBar* bar = browser->verticalScrollBar();
    const int view = browser->viewport()->height();
    if (view <= 0 || bar->value() < bar->maximum()) {
        return;
    }
    // Trimming waits for half as much again as is kept, so that it runs rarely.
    const qreal keep = keptExtentOfPinnedView(view);
    QTextDocument* doc = browser->document();
    QAbstractTextDocumentLayout* layout = doc->documentLayout();
    const qreal height = layout->documentSize().height();
    if (height < keep * 1.5) {
        return;
    }
    // Cut before the first block low enough that starts at the top level (a system message's
    // table is a frame of its own). The blocks before it become one empty block.
    for (QTextBlock b = doc->begin().next(); b.isValid(); b = b.next()) {
        if (height - layout->blockBoundingRect(b).top() < keep + view &&
            QTextCursor(b).currentFrame() == doc->rootFrame()) {
            QTextCursor cursor(doc);
            cursor.setPosition(b.position() - 1, QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
            return;
        }
    }
}

QString ChatView::escapeHtml(QString text) {
    text.replace(QLatin1Char('<'), QLatin1String("&lt;"));
    text.replace(QLatin1Char('>'), QLatin1String("&gt;"));
    text.replace(QLatin1Char('"'), QLatin1String("&quot;"));
    return text;
}

QString ChatView::replaceEmoticons(const QString& text) {
    return replaceCodes(text, QStringLiteral("\\[em\\d\\_\\d+\\]"), [](const QString& code) {
        return QStringLiteral("<img src=") + QStringLiteral("expression/") + code + QStringLiteral(".png") +
               QStringLiteral(" width = \"20\"; height = \"20\";/>") + QStringLiteral(" ");
    });
}

QString ChatView::replaceLinks(const QString& text) {
    return replaceCodes(text, QStringLiteral("\\[uri\\_.*\\]"), [](const QString& code) {
        QString address = code;
        address.remove(QStringLiteral("[uri_"));
        address.remove(QLatin1Char(']'));
        return QStringLiteral("<a href=\"") + address +
               QStringLiteral("\" style= \" font-size:12px; color:blue; text-decoration:none \" >") +
               address + QStringLiteral("</a>");
    });
}

QString ChatView::formatContent(QString content, const QString& role) const {
    if (content == QLatin1String(" ")) {
        return content;
    }
    content = replaceLinks(replaceEmoticons(content));
    if (role != QLatin1String("systemMsg")) {
        return QStringLiteral(
                   "<a fontstyle= \" line-height: 12px;font-family:HiraginoSansGB-W3;font-size:12px; "
                   "color:#333333;\">") +
               content + QStringLiteral("</a>");
    }
    return QStringLiteral(
               "<table width=\"150\" text-height=\"2em\" fontstyle= \" line-height: "
               "18px;font-family:HiraginoSansGB-W3;font-size:12px; color:#333333; \"style=\"color: "
               "#f88119;background:#e2eefe; line-height:14px;border-collapse:separate; border-spacing:0px "
               "10px;\" > <tr  bgcolor=\"#e2eefe\"><td><a fontstyle= \" line-height: "
               "18px;font-family:HiraginoSansGB-W3;font-size:9px; color:#333333;\">") +
           content + QStringLiteral("</a></td></tr></table>");
}

QString ChatView::entryHtml(const QString& rawName, const QString& role, const QString& rawContent) const {
    QString stripped = rawContent;
    stripped.remove(QLatin1Char(' '));
    if (stripped.isEmpty()) {
        return QString();
    }
    QString content = escapeHtml(rawContent);
    QString name = escapeHtml(rawName);
    const QString color = m_role_colors.value(role);

    if (role == QLatin1String("systemMsg")) {
        name = tr("systemMsg");
        content = name + QStringLiteral(":") + content;
        return formatContent(content, role) + QStringLiteral("<br />");
    }
    QString nameLine;
    if (role == QLatin1String("publisher")) {
        name = QStringLiteral("%1   ").arg(name);
        nameLine = QStringLiteral("<a") + QLatin1String(kNameStyle) + color + QStringLiteral(";") +
                   QStringLiteral(" \">") + QStringLiteral("    ") + name + QStringLiteral("</a>");
    } else {
        nameLine = QStringLiteral("<a") + QStringLiteral(" href=\"") + QStringLiteral("\"") +
                   QLatin1String(kNameStyle) + color + QStringLiteral(";") + QStringLiteral(" \">") +
                   QStringLiteral("    ") + name + QStringLiteral("</a>");
    }
    return nameLine + QStringLiteral("<br />") + formatContent(content, role) + QStringLiteral("<br />");
}
