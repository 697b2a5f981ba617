#include "SystemSetting.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "CSettings.h"
#include "KitStyle.h"

SystemSetting::SystemSetting(QWidget* parent) : BaseDialog(parent) {
    setupForm();
    QMetaObject::connectSlotsByName(this);
    m_line_edit_output_path->setText(
        CSettings::instance()->read(QString::fromLatin1(CSettings::kSystemOutputPath), QString()).toString());
}

void SystemSetting::setupForm() {
    setObjectName(QStringLiteral("SystemSetting"));
    setWindowTitle(tr("SystemSetting"));
    resize(470, 170);
    setMinimumSize(470, 170);

    auto* outer = new QVBoxLayout(this);
    outer->setSpacing(0);
    outer->setContentsMargins(0, 0, 0, 0);

    outer->addWidget(makeTitleStrip(this, "label_4", tr("Settings")).bar);

    auto* mainWidget = new QWidget(this);
    mainWidget->setObjectName(QStringLiteral("mainWidget"));
    auto* row = new QHBoxLayout(mainWidget);
    row->setContentsMargins(20, 0, 20, 0);
    row->setSpacing(10);
    auto* label = new QLabel(tr("Output dir"), mainWidget);
    label->setObjectName(QStringLiteral("label"));
    row->addWidget(label);
    m_line_edit_output_path = new QLineEdit(mainWidget);
    m_line_edit_output_path->setObjectName(QStringLiteral("lineEdit_output_path"));
    m_line_edit_output_path->setReadOnly(true);
    m_line_edit_output_path->setEnabled(false);
    m_line_edit_output_path->setFixedHeight(26);
    row->addWidget(m_line_edit_output_path, 1);
    auto* browse = new QPushButton(tr("Browse"), mainWidget);
    browse->setObjectName(QStringLiteral("pushButton_browse"));
    browse->setFixedSize(64, 26);
    row->addWidget(browse);
    outer->addWidget(mainWidget, 1);

    setStyleSheet(
        KitStyle::titleStrip(QStringLiteral("#widget_titlebar")) +
        KitStyle::titleLabel(QStringLiteral("#label_4")) +
        KitStyle::closeButton(QStringLiteral("#closeBtn")) +
        QStringLiteral("#mainWidget{background:white;border:1px solid #e0e0e0;}") +
        KitStyle::bodyText(QStringLiteral("#label")) +
        QStringLiteral("#lineEdit_output_path{color:#333333;background:#f9f9f9;border:1px solid #dddddd;}") +
        KitStyle::secondaryButton(QStringLiteral("#pushButton_browse")));
}

void SystemSetting::on_pushButton_browse_clicked() {
    const QString shown = m_line_edit_output_path->text();
    QString dir = QFileDialog::getExistingDirectory(
        this, tr("Open Directory"), shown.isEmpty() ? QStringLiteral(".") : shown,
        QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    if (dir.isEmpty()) {
        return;
    }
    if (!dir.endsWith(QLatin1Char('/'))) {
        dir += QLatin1Char('/');
    }
    m_line_edit_output_path->setText(dir);
    CSettings::instance()->write(QString::fromLatin1(CSettings::kSystemOutputPath), dir);
}

void SystemSetting::on_closeBtn_clicked() {
    close();
}
