#define FLOG_SOURCE "export/VRK2Mp4Widget"
#include "VRK2Mp4Widget.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QVBoxLayout>

#include "CSettings.h"
#include "FLog.h"
#include "KitStyle.h"
#include "QProgressIndicator.h"
#include "VRK2Mp4.h"
#include "VRKMessageBox.h"

void VRK2Mp4WidgetForm::setupUi(QDialog* form) {
    if (form->objectName().isEmpty()) {
        form->setObjectName(QStringLiteral("VRK2Mp4Widget"));
    }
    form->resize(376, 187);
    form->setWindowTitle(VRK2Mp4Widget::tr("Form"));
    verticalLayout = new QVBoxLayout(form);
    verticalLayout->setSpacing(0);
    verticalLayout->setContentsMargins(0, 0, 0, 0);
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));

    widget_titlebar = new QWidget(form);
    widget_titlebar->setObjectName(QStringLiteral("widget_titlebar"));
    widget_titlebar->setFixedHeight(30);
    widget_titlebar->setAttribute(Qt::WA_StyledBackground, true);
    widget_titlebar->setStyleSheet(QStringLiteral(
        "QWidget#widget_titlebar{\n\tbackground:#41464c;\n\twidth:900px;\n\theight:30px;\n}\n\n"));
    auto* titleLayout = new QHBoxLayout(widget_titlebar);
    titleLayout->setContentsMargins(10, 0, 0, 0);
    titleLayout->setSpacing(0);
    label_4 = new QLabel(widget_titlebar);
    label_4->setObjectName(QStringLiteral("label_4"));
    label_4->setText(VRK2Mp4Widget::tr("Convert"));
    label_4->setStyleSheet(KitStyle::titleLabel(QStringLiteral("#label_4")));
    titleLayout->addWidget(label_4);
    titleLayout->addStretch(1);
    closeBtn = new QPushButton(widget_titlebar);
    closeBtn->setObjectName(QStringLiteral("closeBtn"));
    closeBtn->setFixedSize(30, 30);
    closeBtn->setFocusPolicy(Qt::NoFocus);
    closeBtn->setStyleSheet(KitStyle::closeButton(QStringLiteral("#closeBtn")));
    titleLayout->addWidget(closeBtn);
    verticalLayout->addWidget(widget_titlebar);

    stackedWidget = new QStackedWidget(form);
    stackedWidget->setObjectName(QStringLiteral("stackedWidget"));
    page = new QWidget();
    page->setObjectName(QStringLiteral("page"));
    gridLayout = new QGridLayout(page);
    gridLayout->setObjectName(QStringLiteral("gridLayout"));
    gridLayout->setContentsMargins(9, 9, 9, 9);

    const QString labelStyle = KitStyle::bodyText(QStringLiteral("QLabel"));
    auto addLabel = [&](QLabel*& label, const char* name, const QString& text, int row) {
        label = new QLabel(page);
        label->setObjectName(QString::fromLatin1(name));
        label->setText(text);
        label->setStyleSheet(labelStyle);
        gridLayout->addWidget(label, row, 0);
    };
    auto addEdit = [&](QLineEdit*& edit, const char* name, int row) {
        edit = new QLineEdit(page);
        edit->setObjectName(QString::fromLatin1(name));
        gridLayout->addWidget(edit, row, 1);
    };
    addLabel(label, "label", VRK2Mp4Widget::tr("Select file:"), 0);
    addEdit(lineEditFile, "lineEditFile", 0);
    lineEditFile->setReadOnly(true);
    pushButtonBrowser = new QPushButton(VRK2Mp4Widget::tr("Browser..."), page);
    pushButtonBrowser->setObjectName(QStringLiteral("pushButtonBrowser"));
    pushButtonBrowser->setStyleSheet(KitStyle::secondaryButton(QStringLiteral("#pushButtonBrowser")));
    gridLayout->addWidget(pushButtonBrowser, 0, 2);

    addLabel(label_2, "label_2", VRK2Mp4Widget::tr("Output path:"), 1);
    addEdit(lineEditFileOutputPath, "lineEditFileOutputPath", 1);
    lineEditFileOutputPath->setReadOnly(true);
    pushButtonSelect = new QPushButton(VRK2Mp4Widget::tr("Select..."), page);
    pushButtonSelect->setObjectName(QStringLiteral("pushButtonSelect"));
    pushButtonSelect->setStyleSheet(KitStyle::secondaryButton(QStringLiteral("#pushButtonSelect")));
    gridLayout->addWidget(pushButtonSelect, 1, 2);

    addLabel(label_3, "label_3", VRK2Mp4Widget::tr("Width:"), 2);
    addEdit(lineEditWidth, "lineEditWidth", 2);
    lineEditWidth->setText(QStringLiteral("1280"));
    lineEditWidth->setMaxLength(4);
    pushButtonConvert = new QPushButton(VRK2Mp4Widget::tr("Convert"), page);
    pushButtonConvert->setObjectName(QStringLiteral("pushButtonConvert"));
    pushButtonConvert->setStyleSheet(KitStyle::primaryButton(QStringLiteral("#pushButtonConvert")));
    pushButtonConvert->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    gridLayout->addWidget(pushButtonConvert, 2, 2, 3, 1);

    addLabel(label_5, "label_5", VRK2Mp4Widget::tr("Height:"), 3);
    addEdit(lineEditHeight, "lineEditHeight", 3);
    lineEditHeight->setText(QStringLiteral("720"));
    lineEditHeight->setMaxLength(4);

    addLabel(label_7, "label_7", VRK2Mp4Widget::tr("Video bitrate:"), 4);
    addEdit(lineEditVideoBitrate, "lineEditVideoBitrate", 4);
    lineEditVideoBitrate->setText(QStringLiteral("1500"));
    lineEditVideoBitrate->setMaxLength(4);
    stackedWidget->addWidget(page);

    page_2 = new QWidget();
    page_2->setObjectName(QStringLiteral("page_2"));
    auto* loadingLayout = new QHBoxLayout(page_2);
    loadingLayout->addStretch(1);
    indicator = new QProgressIndicator(page_2);
    indicator->setObjectName(QStringLiteral("indicator"));
    indicator->setFixedSize(32, 32);
    loadingLayout->addWidget(indicator);
    label_6 = new QLabel(VRK2Mp4Widget::tr("Loading resource file..."), page_2);
    label_6->setObjectName(QStringLiteral("label_6"));
    label_6->setStyleSheet(labelStyle);
    loadingLayout->addWidget(label_6);
    loadingLayout->addStretch(1);
    stackedWidget->addWidget(page_2);
    verticalLayout->addWidget(stackedWidget);

    stackedWidget->setCurrentIndex(0);
    QMetaObject::connectSlotsByName(form);
}

VRK2Mp4Widget::VRK2Mp4Widget(QWidget* parent)
    : TaskWindow(TaskType::Convert, parent, TaskStatus::Converting, TaskRunState::FailedTime::Elapsed) {
    m_form.setupUi(this);
}

VRK2Mp4Widget::~VRK2Mp4Widget() {
    // Releasing the exporter stops the recording and its use of the GL context.
    m_exporter.reset();
}

QString VRK2Mp4Widget::sourceName() {
    return m_form.lineEditFile->text().split(QLatin1Char('/')).last();
}

QString VRK2Mp4Widget::sourceToolTip() {
    return m_form.lineEditFile->text();
}

QString VRK2Mp4Widget::outputPath() {
    return m_form.lineEditFileOutputPath->text();
}

bool VRK2Mp4Widget::startTask() {
    // The exporter's reports are connected when it is made (a short video may end before the main
    // window adopts the task); a conversion that has already ended is reported now.
    const int status = m_state->status();
    if (status != TaskStatus::Converting) {
        m_state->reportStatus(status);
        if (status == TaskStatus::Failed) {
            m_state->reportFinish(false, FinishReason::ConvertFail);
        }
    }
    return true;
}

void VRK2Mp4Widget::cancelTask() {
    if (m_state->status() != TaskStatus::Converting || !m_exporter) {
        return;
    }
    FLOG(FLOG_INFO, "cancel convert task.");
    // Releasing the exporter stops the recorder and waits for it; the recorder removes its
    // unfinished file, so nothing appears at the output path. The release waits for the event
    // loop: a cancel may come from inside the exporter's own frame rendering, which lets events run.
    disconnect(m_exporter.get(), nullptr, this, nullptr);
    auto* releaser = new QObject;
    std::shared_ptr<VRK2Mp4> exporter = std::move(m_exporter);
    connect(releaser, &QObject::destroyed, [exporter]() mutable { exporter.reset(); });
    releaser->deleteLater();
    m_failed = true;
    m_state->markEnd();
    m_state->setStatus(TaskStatus::Failed);
    m_state->reportStatus(TaskStatus::Failed);
    m_state->reportFinish(false, FinishReason::Cancelled);
}

void VRK2Mp4Widget::on_closeBtn_clicked() {
    reject();
}

void VRK2Mp4Widget::reject() {
    m_load_wait.abandon();
    BaseDialog::reject();
}

void VRK2Mp4Widget::on_pushButtonBrowser_clicked() {
    const QString stored =
        CSettings::instance()->read(QString::fromLatin1(CSettings::kSystemPath)).toString();
    const QStringList dirs = stored.isEmpty()
                                 ? QStandardPaths::standardLocations(QStandardPaths::DesktopLocation)
                                 : QStringList{stored};
    const QString startDir = dirs.isEmpty() ? QStringLiteral(".") : dirs.first();
    const QString file = QFileDialog::getOpenFileName(this, tr("Open File"), startDir,
                                                      tr("Video") + QStringLiteral("(*.vrk)"));
    if (file.isEmpty()) {
        return;
    }
    CSettings::instance()->write(QString::fromLatin1(CSettings::kSystemPath), QFileInfo(file).absolutePath());
    m_form.lineEditFile->setText(file);
}

void VRK2Mp4Widget::on_pushButtonSelect_clicked() {
    const QStringList dirs = QStandardPaths::standardLocations(QStandardPaths::DesktopLocation);
    const QString startDir = dirs.isEmpty() ? QStringLiteral(".") : dirs.first();
    const QString file = QFileDialog::getSaveFileName(this, tr("Save file"), startDir, tr("Video (*.mp4)"));
    if (!file.isEmpty()) {
        m_form.lineEditFileOutputPath->setText(file);
    }
}

void VRK2Mp4Widget::showWarning(const QString& text) {
    VRKMessageBox::showMessage(false, text, tr("Warning"), true);
}

void VRK2Mp4Widget::on_pushButtonConvert_clicked() {
    if (m_form.lineEditFile->text().isEmpty()) {
        showWarning(tr("Please select a VRK file."));
        return;
    }
    if (m_form.lineEditFileOutputPath->text().isEmpty()) {
        showWarning(tr("Output file cannot be empty."));
        return;
    }
    auto param = std::make_shared<_RecordParam>();
    param->width = m_form.lineEditWidth->text().toInt(nullptr, 10);
    param->height = m_form.lineEditHeight->text().toInt(nullptr, 10);
    param->bitrate = m_form.lineEditVideoBitrate->text().toInt(nullptr, 10);
    if (!param) {
        showWarning(tr("Param of record is nullptr!"));
        return;
    }
    if (param->bitrate < 100 || param->bitrate > 3000) {
        showWarning(tr("The bitrate must be in the range of 100-3000!"));
        return;
    }
    if (param->width < 480 || param->width > 3840 || param->height < 480 || param->height > 3840) {
        showWarning(tr("The width or height must be in the range of 480-3840!"));
        return;
    }

    // A new engine replaces an earlier one; reports of the old one no longer reach this window.
    if (m_exporter) {
        disconnect(m_exporter.get(), nullptr, this, nullptr);
    }
    m_exporter = std::make_shared<VRK2Mp4>();
    m_exporter->prepare(param);
    m_failed = false;
    connect(m_exporter.get(), &VRK2Mp4::signalProgressValueChange, this,
            [this](float value) { m_state->reportProgress(value); });
    connect(m_exporter.get(), &VRK2Mp4::signalConvertFailed, this, &VRK2Mp4Widget::onConvertFailed,
            Qt::QueuedConnection);
    connect(m_exporter.get(), &VRK2Mp4::signalConvertFinished, this, &VRK2Mp4Widget::onConvertFinished,
            Qt::QueuedConnection);

    // The code the read ends with is not examined: a package that could not be read makes the
    // conversion's start fail.
    int opened = -1;
    const QString package = m_form.lineEditFile->text();
    waitForRead(
        [this, &opened, &package](std::function<void(int)> done) {
            opened = m_exporter->openPackage(package, std::move(done));
            return opened;
        },
        [this]() {
            m_form.stackedWidget->setCurrentWidget(m_form.page_2);
            m_form.indicator->startAnimation();
        },
        &m_load_wait);
    if (opened == 0) {
        m_form.indicator->stopAnimation();
    }
    if (m_load_wait.abandoned()) {
        // The window was closed while it loaded: no conversion, no task.
        disconnect(m_exporter.get(), nullptr, this, nullptr);
        m_exporter.reset();
        m_form.stackedWidget->setCurrentWidget(m_form.page);
        return;
    }

    int code = -1;
    if (opened != 0) {
        showWarning(tr("Cannot open VRK file"));
    } else {
        code = m_exporter->startConvert(m_form.lineEditFileOutputPath->text());
        if (code == 0) {
            m_state->markStart();
            m_state->setStatus(TaskStatus::Converting);
            accept();
            m_state->reportStatus(TaskStatus::Converting);
            return;
        }
        if (code == 6) {
            showWarning(tr("Current graphics card does not support OpenGL core mode."));
        } else {
            showWarning(tr("Start convert error,code:") + QString::number(code));
        }
    }
    m_form.stackedWidget->setCurrentWidget(m_form.page);
}

void VRK2Mp4Widget::onConvertFailed(int code) {
    // The recorder has logged the cause; the task row shows it as a failed conversion.
    Q_UNUSED(code);
    m_failed = true;
    m_state->markEnd();
    m_state->setStatus(TaskStatus::Failed);
    m_state->reportStatus(TaskStatus::Failed);
    m_state->reportFinish(false, FinishReason::ConvertFail);
}

void VRK2Mp4Widget::onConvertFinished() {
    if (m_failed) {
        return;
    }
    m_state->markEnd();
    m_state->setStatus(TaskStatus::Finished);
    m_state->reportStatus(TaskStatus::Finished);
}
