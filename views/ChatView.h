#pragma once
// The chat column: one rich-text entry per message up to the play position.
#include <QMap>
#include <QString>
#include <QWidget>
#include <memory>

#include "DataWrapperObserver.h"
#include "ResourceItem.h"

class QHBoxLayout;
class QLabel;
class QSpacerItem;
class QTextBrowser;
class QVBoxLayout;

// The chat column's child widgets, with the object names the style sheets refer to.
struct ChatForm {
    QVBoxLayout* verticalLayout = nullptr;
    QWidget* widget = nullptr;
    QHBoxLayout* horizontalLayout = nullptr;
    QLabel* label = nullptr;
    QLabel* label_2 = nullptr;
    QSpacerItem* horizontalSpacer = nullptr;
    QTextBrowser* textBrowser = nullptr;

    void setupUi(QWidget* form);
    void retranslateUi(QWidget* form);
};

class ChatView : public QWidget, public DataWrapperObserver {
    Q_OBJECT
public:
    explicit ChatView(QWidget* parent = nullptr);
    ~ChatView() override;

    void onDataWrapper(std::shared_ptr<DataWrapper> session) override;
    void onItem(std::shared_ptr<DataWrapper> session, std::shared_ptr<_VRKItemBase> item) override;
    void onItemList(std::shared_ptr<DataWrapper> session, QList<std::shared_ptr<_VRKItemBase>> items,
                    int kind) override;
    void onDataWrapperValue(std::shared_ptr<DataWrapper> session, int value) override;

    // The HTML entry a message becomes; empty when the message is skipped (blank content).
    QString entryHtml(const QString& name, const QString& role, const QString& content) const;

    QTextBrowser* textBrowser() const { return m_form.textBrowser; }

    // For a view nobody scrolls (an export): it then stays at its bottom, and entries far enough
    // above the viewport are dropped, which changes no pixel but keeps a long class from growing
    // the document without end.
    void setDropsHiddenEntries(bool drop) { m_drops_hidden = drop; }

    // "<" ">" and double quotes as entities, in that order; ampersands are left alone.
    static QString escapeHtml(QString text);
    // Emoticon codes such as "[em2_01]" become 20 x 20 pictures from "expression/<code>.png".
    static QString replaceEmoticons(const QString& text);
    // Link codes "[uri_<address>]" become links showing the address.
    static QString replaceLinks(const QString& text);

private:
    void appendMessage(const std::shared_ptr<_ChatLogItem>& chat);
    QString formatContent(QString content, const QString& role) const;
    void dropHiddenEntries();

    bool m_drops_hidden = false;
    QMap<QString, QString> m_role_colors;
    ChatForm m_form;
};
