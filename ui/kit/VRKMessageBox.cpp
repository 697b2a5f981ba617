#include "VRKMessageBox.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpacerItem>
#include <QVBoxLayout>

#include "KitStyle.h"

namespace {
constexpr int kLineWidth = 260;
constexpr int kLineHeight = 16;
constexpr int kExtraLineHeight = 24;
}  // namespace

VRKMessageBox::VRKMessageBox(QWidget* parent) : BaseDialog(parent) {
    setupForm();
    QMetaObject::connectSlotsByName(this);
}

void VRKMessageBox::setupForm() {
    setObjectName(QStringLiteral("VRKMessageBoxForm"));
    setWindowTitle(tr("Dialog"));
    resize(300, 150);
    setMinimumSize(300, 150);

    auto* verticalLayout_2 = new QVBoxLayout(this);
    verticalLayout_2->setObjectName(QStringLiteral("verticalLayout_2"));
    verticalLayout_2->setSpacing(0);
    verticalLayout_2->setContentsMargins(0, 0, 0, 0);

    m_widget_titlebar = new QWidget(this);
    m_widget_titlebar->setObjectName(QStringLiteral("widget_titlebar"));
    m_widget_titlebar->setFixedHeight(30);
    auto* horizontalLayout_3 = new QHBoxLayout(m_widget_titlebar);
    horizontalLayout_3->setObjectName(QStringLiteral("horizontalLayout_3"));
    horizontalLayout_3->setSpacing(0);
    horizontalLayout_3->setContentsMargins(20, 0, 0, 0);
    auto* horizontalLayout_2 = new QHBoxLayout();
    horizontalLayout_2->setObjectName(QStringLiteral("horizontalLayout_2"));
    m_title_label = new QLabel(m_widget_titlebar);
    m_title_label->setObjectName(QStringLiteral("titleLabel"));
    m_title_label->setText(tr("exit"));
    horizontalLayout_2->addWidget(m_title_label);
    horizontalLayout_2->addItem(new QSpacerItem(81, 13, QSizePolicy::Expanding, QSizePolicy::Minimum));
    horizontalLayout_3->addLayout(horizontalLayout_2);
    m_close_btn = new QPushButton(m_widget_titlebar);
    m_close_btn->setObjectName(QStringLiteral("closeBtn"));
    m_close_btn->setMinimumSize(38, 30);
    m_close_btn->setFocusPolicy(Qt::NoFocus);
    horizontalLayout_3->addWidget(m_close_btn);
    verticalLayout_2->addWidget(m_widget_titlebar);

    m_main_widget = new QWidget(this);
    m_main_widget->setObjectName(QStringLiteral("mainWidget"));
    auto* verticalLayout = new QVBoxLayout(m_main_widget);
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    verticalLayout->setSpacing(5);
    verticalLayout->setContentsMargins(0, 20, 0, 0);
    m_text_holder_widget = new QWidget(m_main_widget);
    m_text_holder_widget->setObjectName(QStringLiteral("textHolderWidget"));
    verticalLayout->addWidget(m_text_holder_widget);
    verticalLayout->addItem(new QSpacerItem(20, 26, QSizePolicy::Minimum, QSizePolicy::Expanding));
    m_bottom_widget = new QWidget(m_main_widget);
    m_bottom_widget->setObjectName(QStringLiteral("bottomWidget"));
    auto* horizontalLayout = new QHBoxLayout(m_bottom_widget);
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    horizontalLayout->setSpacing(10);
    int left = 0, top = 0, right = 0, bottom = 0;
    horizontalLayout->getContentsMargins(&left, &top, &right, &bottom);
    horizontalLayout->setContentsMargins(left, 10, 20, 15);
    horizontalLayout->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    m_ok_btn = new QPushButton(m_bottom_widget);
    m_ok_btn->setObjectName(QStringLiteral("okBtn"));
    m_ok_btn->setFixedSize(64, 24);
    m_ok_btn->setText(tr("Ok"));
    horizontalLayout->addWidget(m_ok_btn);
    m_cancel_btn = new QPushButton(m_bottom_widget);
    m_cancel_btn->setObjectName(QStringLiteral("cancelBtn"));
    m_cancel_btn->setMinimumSize(64, 24);
    m_cancel_btn->setText(tr("Cancel"));
    horizontalLayout->addWidget(m_cancel_btn);
    verticalLayout->addWidget(m_bottom_widget);
    verticalLayout_2->addWidget(m_main_widget);

    setStyleSheet(KitStyle::titleStrip(QStringLiteral("#widget_titlebar")) +
                  KitStyle::titleLabel(QStringLiteral("#titleLabel")) +
                  KitStyle::closeButton(QStringLiteral("#closeBtn")) +
                  QStringLiteral("#mainWidget{background:white;border:1px solid #e0e0e0;}") +
                  KitStyle::secondaryButton(QStringLiteral("#okBtn")) +
                  KitStyle::secondaryButton(QStringLiteral("#cancelBtn")));
}

QStringList VRKMessageBox::breakLines(const QString& text, const QFontMetrics& metrics, int maxWidth) {
    QStringList lines;
    QString rest = text;
    const int widest = qMax(1, metrics.maxWidth());
    for (;;) {
        if (metrics.horizontalAdvance(rest) < maxWidth) {
            lines << rest;
            break;
        }
        int n = maxWidth / widest;
        while (n < rest.size() && metrics.horizontalAdvance(rest.left(n)) < maxWidth) {
            ++n;
        }
        // At least one character per line, so that a glyph wider than the line cannot stall the loop.
        const int take = qMax(1, n - 1);
        lines << rest.left(take);
        rest = rest.mid(take);
        if (rest.isEmpty()) {
            break;
        }
    }
    return lines;
}

void VRKMessageBox::setMessage(const QString& text) {
    const QString family = tr("Microsoft YaHei UI");
    QFont font(family);
    font.setPixelSize(12);
    const QStringList lines = breakLines(text, QFontMetrics(font), kLineWidth);

    auto* layout = new QVBoxLayout();
    layout->setContentsMargins(20, 5, 5, 20);
    layout->setSpacing(10);
    const QString labelStyle =
        QStringLiteral("QLabel{color:#333333;font: 12px \"%1\";background:transparent;}").arg(family);
    for (const QString& line : lines) {
        auto* label = new QLabel(line, m_text_holder_widget);
        label->setFont(font);
        label->setStyleSheet(labelStyle);
        label->setFixedSize(kLineWidth, kLineHeight);
        layout->addWidget(label);
    }
    // A second message replaces the first one.
    if (QLayout* old = m_text_holder_widget->layout()) {
        while (QLayoutItem* item = old->takeAt(0)) {
            delete item->widget();
            delete item;
        }
        delete old;
    }
    m_text_holder_widget->setLayout(layout);
    if (lines.size() > 2) {
        setFixedHeight(height() + (lines.size() - 2) * kExtraLineHeight);
    }
}

void VRKMessageBox::setTitle(const QString& text) {
    m_title_label->setText(text);
}

void VRKMessageBox::setCancelVisible(bool visible) {
    if (!visible) {
        m_cancel_btn->hide();
    }
}

int VRKMessageBox::showMessage(bool showCancel, const QString& message, const QString& title, bool modal) {
    if (modal) {
        VRKMessageBox box(nullptr);
        box.setMessage(message);
        box.setTitle(title);
        box.setCancelVisible(showCancel);
        return box.exec();
    }
    auto* box = new VRKMessageBox(nullptr);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setMessage(message);
    box->setTitle(title);
    box->setCancelVisible(showCancel);
    box->show();
    return ResultOk;
}

void VRKMessageBox::on_closeBtn_clicked() {
    done(ResultClose);
    close();
}

void VRKMessageBox::on_cancelBtn_clicked() {
    done(ResultCancel);
    close();
}

void VRKMessageBox::on_okBtn_clicked() {
    done(ResultOk);
    close();
}
