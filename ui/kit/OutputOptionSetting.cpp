#include "OutputOptionSetting.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegExpValidator>
#include <QStandardPaths>
#include <QVBoxLayout>

#include "CSettings.h"
#include "KitStyle.h"

namespace {
constexpr int kDefaultWidth = 1280;
constexpr int kDefaultHeight = 720;
}  // namespace

OutputOptionSetting::OutputOptionSetting(QWidget* parent) : BaseDialog(parent) {
    setupForm();
    QMetaObject::connectSlotsByName(this);
    m_line_edit_name->setValidator(createFileNameValidator(this));
    setTranscode(
        CSettings::instance()->read(QString::fromLatin1(CSettings::kVideoTranseCode), false).toBool());
}

QValidator* OutputOptionSetting::createFileNameValidator(QObject* parent) {
    return new QRegExpValidator(
        QRegExp(QStringLiteral("[^\\\\?*|:\"<>/]*"), Qt::CaseSensitive, QRegExp::RegExp), parent);
}

void OutputOptionSetting::setupForm() {
    setObjectName(QStringLiteral("OutputOptionSetting"));
    setWindowTitle(tr("OutputOptionSetting"));
    resize(579, 250);
    setMinimumSize(500, 222);
    setMaximumSize(579, 250);

    auto* outer = new QVBoxLayout(this);
    outer->setSpacing(0);
    outer->setContentsMargins(0, 0, 0, 0);

    outer->addWidget(makeTitleStrip(this, "label_7", tr("Output Options")).bar);

    auto* mainWidget = new QWidget(this);
    mainWidget->setObjectName(QStringLiteral("mainWidget"));
    auto* grid = new QGridLayout(mainWidget);
    grid->setContentsMargins(20, 15, 20, 15);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(10);

    auto makeLabel = [mainWidget](const char* name, const QString& text) {
        auto* l = new QLabel(text, mainWidget);
        l->setObjectName(QString::fromLatin1(name));
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        return l;
    };
    auto makeEdit = [mainWidget](const char* name) {
        auto* e = new QLineEdit(mainWidget);
        e->setObjectName(QString::fromLatin1(name));
        e->setFixedHeight(26);
        return e;
    };

    grid->addWidget(makeLabel("label", tr("Playback title")), 0, 0);
    m_line_edit_title = makeEdit("lineEdit_title");
    m_line_edit_title->setMaxLength(40);
    grid->addWidget(m_line_edit_title, 0, 1, 1, 4);

    grid->addWidget(makeLabel("label_2", tr("File Name")), 1, 0);
    m_line_edit_name = makeEdit("lineEdit_name");
    m_line_edit_name->setMaxLength(80);
    grid->addWidget(m_line_edit_name, 1, 1, 1, 4);

    grid->addWidget(makeLabel("label_3", tr("Folder")), 2, 0);
    m_line_edit_path = makeEdit("lineEdit_path");
    grid->addWidget(m_line_edit_path, 2, 1, 1, 3);
    auto* browse = new QPushButton(tr("Browse"), mainWidget);
    browse->setObjectName(QStringLiteral("pushButton_browse"));
    browse->setFixedSize(64, 26);
    grid->addWidget(browse, 2, 4);

    grid->addWidget(makeLabel("label_4", tr("Transcode ")), 3, 0);
    auto* transcodeRow = new QHBoxLayout();
    m_transcode_on = new QCheckBox(tr("On"), mainWidget);
    m_transcode_on->setObjectName(QStringLiteral("m_pCBTranscodeOn"));
    transcodeRow->addWidget(m_transcode_on);
    auto* label_5 =
        new QLabel(tr("(Video transcoding improves editing compatibility,but takes longer.)"), mainWidget);
    label_5->setObjectName(QStringLiteral("label_5"));
    label_5->setWordWrap(true);
    transcodeRow->addWidget(label_5, 1);
    grid->addLayout(transcodeRow, 3, 1, 1, 4);

    m_label_width = makeLabel("label_6", tr("Width"));
    grid->addWidget(m_label_width, 4, 0);
    m_line_edit_width = makeEdit("lineEdit_width");
    grid->addWidget(m_line_edit_width, 4, 1);
    m_label_height = makeLabel("label_8", tr("Height"));
    grid->addWidget(m_label_height, 4, 2);
    m_line_edit_height = makeEdit("lineEdit_height");
    grid->addWidget(m_line_edit_height, 4, 3);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    outer->addWidget(mainWidget, 1);

    setStyleSheet(KitStyle::titleStrip(QStringLiteral("#widget_titlebar")) +
                  KitStyle::titleLabel(QStringLiteral("#label_7")) +
                  KitStyle::closeButton(QStringLiteral("#closeBtn")) +
                  QStringLiteral("#mainWidget{background:white;border:1px solid #e0e0e0;}") +
                  KitStyle::bodyText(QStringLiteral("QLabel,QCheckBox")) +
                  KitStyle::secondaryButton(QStringLiteral("#pushButton_browse")));
}

QString OutputOptionSetting::playbackTitle() const {
    return m_line_edit_title->text();
}

QString OutputOptionSetting::fileName() const {
    return m_line_edit_name->text();
}

QString OutputOptionSetting::folder() const {
    return m_line_edit_path->text();
}

bool OutputOptionSetting::transcode() const {
    return m_transcode_on->isChecked();
}

void OutputOptionSetting::setTranscode(bool on) {
    m_transcode_on->setChecked(on);
    m_line_edit_width->setEnabled(on);
    m_line_edit_height->setEnabled(on);
}

int OutputOptionSetting::videoWidth() const {
    bool ok = false;
    const int w = m_line_edit_width->text().toInt(&ok, 10);
    return ok && w > 0 ? w : kDefaultWidth;
}

int OutputOptionSetting::videoHeight() const {
    bool ok = false;
    const int h = m_line_edit_height->text().toInt(&ok, 10);
    return ok && h > 0 ? h : kDefaultHeight;
}

void OutputOptionSetting::setVideoWidth(int w) {
    m_line_edit_width->setText(w > 0 ? QString::number(w) : QStringLiteral("1280"));
}

void OutputOptionSetting::setVideoHeight(int h) {
    m_line_edit_height->setText(h > 0 ? QString::number(h) : QStringLiteral("720"));
}

void OutputOptionSetting::hideVideoSize() {
    m_label_width->hide();
    m_line_edit_width->hide();
    m_label_height->hide();
    m_line_edit_height->hide();
}

void OutputOptionSetting::on_pushButton_browse_clicked() {
    const QStringList desktops = QStandardPaths::standardLocations(QStandardPaths::DesktopLocation);
    const QString start = desktops.isEmpty() ? QStringLiteral(".") : desktops.first();
    m_line_edit_path->setText(QFileDialog::getExistingDirectory(
        this, tr("Open Directory"), start, QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks));
}

void OutputOptionSetting::on_closeBtn_clicked() {
    reject();
}

void OutputOptionSetting::on_m_pCBTranscodeOn_clicked(bool checked) {
    CSettings::instance()->write(QString::fromLatin1(CSettings::kVideoTranseCode), checked);
    m_line_edit_width->setEnabled(checked);
    m_line_edit_height->setEnabled(checked);
}
