#define FLOG_SOURCE "editor/ResourceMergeWidget"
#include "ResourceMergeWidget.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStandardPaths>
#include <QStyle>
#include <QTableWidget>
#include <QUuid>
#include <QVBoxLayout>

#include "CSettings.h"
#include "CustomTime.h"
#include "DataWrapper.h"
#include "FLog.h"
#include "KitStyle.h"
#include "OutputOptionSetting.h"
#include "TaskSupport.h"
#include "TemplateFactory.h"
#include "VRKMessageBox.h"

namespace {

QPushButton* makeButton(QWidget* parent, const char* name, const QString& text) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    return button;
}

QString toolButtonStyle(const QString& name, const QString& picture) {
    const QString base = QStringLiteral(":/merge/Resources/merge/") + picture;
    const QString sel = QStringLiteral("QPushButton#") + name;
    return sel +
           QStringLiteral(
               "{background:transparent;border:none;color:#38404b;font:12px \"Microsoft YaHei\";"
               "background-image:url(%1_nor.png);background-position:left "
               "center;background-repeat:no-repeat;}")
               .arg(base) +
           sel + QStringLiteral(":hover{background-image:url(%1_hov.png);color:#2490eb;}").arg(base) + sel +
           QStringLiteral(":disabled{background-image:url(%1_ban.png);color:#b5b7be;}").arg(base);
}

// Layout template of a listed package, beside its path.
constexpr int kTemplateRole = Qt::UserRole + 1;

QFont rowFont() {
    QFont font(ResourceMergeWidget::tr("Microsoft YaHei UI"));
    font.setPixelSize(12);
    return font;
}

// Each joined package starts with a whiteboard reset, unless its draw list already does.
void prependWhiteboardReset(const std::shared_ptr<DataWrapper>& session) {
    std::shared_ptr<_RootItem> root = session->getRootItem();
    if (!root || !root->datas || !root->datas->meta_item) {
        return;
    }
    QList<std::shared_ptr<_DrawItem>>& draw = root->datas->meta_item->draw;
    if (draw.isEmpty() || draw.first()->data.type == 8) {
        return;
    }
    auto reset = std::make_shared<_DrawItem>();
    reset->time = 0;
    reset->data.type = 8;
    reset->data.drawtime = draw.first()->data.drawtime;
    draw.prepend(reset);
}

}  // namespace

ResourceMergeWidget::ResourceMergeWidget(QWidget* parent) : TaskWindow(TaskType::Merge, parent) {
    setupForm();
    QMetaObject::connectSlotsByName(this);
    refresh();
}

void ResourceMergeWidget::setupForm() {
    setObjectName(QStringLiteral("ResourceMergeWidget"));
    resize(900, 570);
    setFixedSize(900, 570);
    setWindowTitle(QStringLiteral("ResourceMergeWidget"));

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    root->addWidget(makeTitleStrip(this, "label_4", tr("Playback Megre")).bar);

    auto* mainWidget = new QWidget(this);
    mainWidget->setObjectName(QStringLiteral("mainWidget"));
    auto* mainLayout = new QHBoxLayout(mainWidget);
    mainLayout->setContentsMargins(0, 0, 0, 0);
    mainLayout->setSpacing(0);
    root->addWidget(mainWidget, 1);

    auto* left = new QWidget(mainWidget);
    left->setObjectName(QStringLiteral("widget_left_side"));
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    leftLayout->setSpacing(0);
    mainLayout->addWidget(left, 1);

    m_table = new QTableWidget(0, 3, left);
    m_table->setObjectName(QStringLiteral("tableWidget"));
    m_table->setHorizontalHeaderLabels({tr("file"), tr("file size"), tr("duration")});
    m_table->verticalHeader()->setVisible(false);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setFocusPolicy(Qt::NoFocus);
    m_table->setAlternatingRowColors(true);
    m_table->horizontalHeader()->setSectionsClickable(false);
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->setShowGrid(false);
    m_table->setAutoScroll(false);
    m_table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_table->setColumnWidth(0, 547);
    // The duration column takes its room from the size column; the table keeps its width.
    m_table->setColumnWidth(1, 131);
    m_table->setColumnWidth(kDurationColumn, 100);
    setupDrops();
    m_table->setProperty("HasFile", false);
    leftLayout->addWidget(m_table, 1);

    auto* toolbar = new QWidget(left);
    toolbar->setObjectName(QStringLiteral("bottomToolBar"));
    toolbar->setFixedHeight(40);
    auto* toolLayout = new QHBoxLayout(toolbar);
    toolLayout->setContentsMargins(20, 5, 20, 5);
    toolLayout->setSpacing(10);
    m_up_btn = makeButton(toolbar, "pushButton_up", tr("Up"));
    m_down_btn = makeButton(toolbar, "pushButton_down", tr("Down"));
    m_remove_btn = makeButton(toolbar, "pushButton_remove", tr("     Remove"));
    m_clear_btn = makeButton(toolbar, "pushButton_clear", tr("Clear"));
    for (QPushButton* b : {m_up_btn, m_down_btn, m_remove_btn, m_clear_btn}) {
        b->setFixedSize(60, 30);
        toolLayout->addWidget(b);
    }
    toolLayout->addStretch();
    leftLayout->addWidget(toolbar);

    auto* right = new QWidget(mainWidget);
    right->setObjectName(QStringLiteral("widget_right_side"));
    right->setFixedWidth(130);
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(16, 20, 16, 20);
    rightLayout->setSpacing(12);
    m_add_file_btn = makeButton(right, "pushButton_add_file", tr("Add File"));
    m_output_option_btn = makeButton(right, "pushButton_output_option", tr("output option"));
    m_sure_btn = makeButton(right, "pushButton_sure", tr("Ok"));
    for (QPushButton* b : {m_add_file_btn, m_output_option_btn, m_sure_btn}) {
        b->setFixedSize(98, 32);
    }
    rightLayout->addWidget(m_add_file_btn);
    rightLayout->addWidget(m_output_option_btn);
    rightLayout->addStretch();
    rightLayout->addWidget(m_sure_btn);
    mainLayout->addWidget(right);

    setStyleSheet(
        KitStyle::titleStrip(QStringLiteral("QWidget#widget_titlebar")) +
        KitStyle::titleLabel(QStringLiteral("QLabel#label_4")) +
        KitStyle::closeButton(QStringLiteral("QPushButton#closeBtn")) +
        QStringLiteral("QWidget#mainWidget{background:white;border:1px solid #e0e0e0;}"
                       "QWidget#bottomToolBar{background:#fafafa;border-top:1px solid #e0e0e0;"
                       "border-bottom:1px solid #e0e0e0;}"
                       "QWidget#widget_right_side{background:#eff8fc;border-left:1px solid #d7eafb;}") +
        toolButtonStyle(QStringLiteral("pushButton_up"), QStringLiteral("up")) +
        toolButtonStyle(QStringLiteral("pushButton_down"), QStringLiteral("down")) +
        toolButtonStyle(QStringLiteral("pushButton_remove"), QStringLiteral("del")) +
        toolButtonStyle(QStringLiteral("pushButton_clear"), QStringLiteral("clear")) +
        KitStyle::primaryButton(QStringLiteral("QPushButton#pushButton_add_file")) +
        KitStyle::primaryButton(QStringLiteral("QPushButton#pushButton_output_option")) +
        KitStyle::primaryButton(QStringLiteral("QPushButton#pushButton_sure")));
}

// --- TaskInterface ---------------------------------------------------------------------------

QString ResourceMergeWidget::sourceName() {
    return tr("%1 files").arg(m_file_list.size());
}

QString ResourceMergeWidget::sourceToolTip() {
    QString tip;
    for (const QString& path : m_file_list) {
        tip += path + QLatin1Char('\n');
    }
    return tip;
}

QString ResourceMergeWidget::outputPath() {
    QString path = m_state->outputPath();
    if (path.isEmpty() && !m_file_list.isEmpty()) {
        path = composeOutputPath(optionsSnapshot(), m_file_list.first());
        m_state->reserveOutput(path);
    }
    return path;
}

OutputOptionsSnapshot ResourceMergeWidget::optionsSnapshot() const {
    OutputOptionsSnapshot options;
    if (m_output_option) {
        options.exists = true;
        options.title = m_output_option->playbackTitle();
        options.fileName = m_output_option->fileName();
        options.folder = m_output_option->folder();
        options.transcode = m_output_option->transcode();
        options.width = m_output_option->videoWidth();
        options.height = m_output_option->videoHeight();
    }
    return options;
}

QStringList ResourceMergeWidget::tableOrder() const {
    QStringList paths;
    for (int r = 0; r < m_table->rowCount(); ++r) {
        if (QTableWidgetItem* item = m_table->item(r, 0)) {
            paths << item->data(Qt::UserRole).toString();
        }
    }
    return paths;
}

bool ResourceMergeWidget::startTask() {
    if (m_file_list.isEmpty()) {
        FLOG(FLOG_INFO, "start task fail,m_file_list is empty.");
        return false;
    }
    if (!m_state->hasObserver()) {
        FLOG(FLOG_INFO, "start task fail,m_observer is empty.");
        return false;
    }
    m_state->markStart();
    // The table and the dialog are read here, on the GUI thread; the worker works on the copies.
    const QStringList files = tableOrder();
    const OutputOptionsSnapshot options = optionsSnapshot();
    std::shared_ptr<TaskRunState> state = m_state;

    TaskWorkers::run([state, files, options]() {
        state->setStatus(TaskStatus::Converting);
        state->reportStatus(TaskStatus::Converting);
        state->reportProgress(0.0f);

        auto fail = [&state](int reason) {
            state->outputWritten(QString());
            state->markEnd();
            state->setStatus(TaskStatus::Failed);
            state->reportStatus(TaskStatus::Failed);
            state->reportFinish(false, reason);
        };

        // The sessions belong to this thread and end on it, whatever the outcome.
        QList<std::shared_ptr<DataWrapper>> sessions;
        qint16 lastTemplate = 0;
        for (int i = 0; i < files.size(); ++i) {
            if (state->cancelRequested()) {
                FLOG(FLOG_INFO, "resource merge is cancelled.");
                fail(FinishReason::Cancelled);
                return;
            }
            auto session = std::make_shared<DataWrapper>();
            state->addCancelTarget(session);
            if (options.exists) {
                session->setTranscode(options.transcode);
            }
            if (readPackageAndWait(session, files.at(i), true) != 0) {
                FLOG(FLOG_INFO, "read file is fail.");
                fail(FinishReason::ReadFileFail);
                return;
            }
            // No video output: a merge session never plays.
            session->initMediaCore(0);
            auto whole = std::make_shared<_Segment>();
            whole->begin_time = 0;
            whole->end_time = session->getDuration();
            whole->id = QUuid::createUuid().toString();
            session->addSegment(whole);
            lastTemplate = templateTypeOf(session->getRootItem());
            sessions << session;
            state->reportProgress(0.3f * float(i + 1) / float(files.size()));
        }
        for (const auto& session : qAsConst(sessions)) {
            if (templateTypeOf(session->getRootItem()) != lastTemplate) {
                FLOG(FLOG_INFO, "template type is conflict.");
                fail(FinishReason::TemplateTypeConflict);
                return;
            }
        }

        // The name the row shows was reserved when it was listed; computing it again would only
        // find that reservation and number the output needlessly.
        QString path = state->outputPath();
        if (path.isEmpty()) {
            path = composeOutputPath(options, files.first());
            state->reserveOutput(path);
        }
        QDir().mkpath(QFileInfo(path).absolutePath());
        FLOG(FLOG_INFO, "merge output path:%s", qUtf8Printable(path));
        for (const auto& session : qAsConst(sessions)) {
            prependWhiteboardReset(session);
        }
        std::shared_ptr<DataWrapper> first = sessions.takeFirst();
        int width = 0;
        int height = 0;
        if (options.exists) {
            width = options.width > 0 ? options.width : 1280;
            height = options.height > 0 ? options.height : 720;
        }
        first->setProgressCallback([state](float value) { state->reportProgress(0.3f + 0.7f * value); });
        const qint16 code = first->merge(sessions, width, height, path);
        first->setProgressCallback(nullptr);
        state->outputWritten(code == 0 ? first->savedPath() : QString());
        state->markEnd();
        if (code == 0) {
            FLOG(FLOG_INFO, "resource merge is success.");
            state->setStatus(TaskStatus::Finished);
            state->reportStatus(TaskStatus::Finished);
        } else {
            FLOG(FLOG_INFO, "resource merge is fail, code:%d", static_cast<int>(code));
            state->setStatus(TaskStatus::Failed);
            state->reportStatus(TaskStatus::Failed);
            state->reportFinish(false, code == DataWrapper::kCancelled ? int(FinishReason::Cancelled)
                                                                       : int(FinishReason::MergeFail));
        }
    });
    return true;
}

// --- slots -----------------------------------------------------------------------------------

void ResourceMergeWidget::swapRows(int a, int b) {
    for (int c = 0; c < m_table->columnCount(); ++c) {
        QTableWidgetItem* first = m_table->takeItem(a, c);
        QTableWidgetItem* second = m_table->takeItem(b, c);
        m_table->setItem(a, c, second);
        m_table->setItem(b, c, first);
    }
    m_file_list = tableOrder();
}

void ResourceMergeWidget::on_pushButton_up_clicked() {
    const int r = m_table->currentRow();
    if (r > 0 && r < m_table->rowCount()) {
        swapRows(r, r - 1);
        m_table->setCurrentCell(r - 1, 0);
        m_table->selectRow(r - 1);
    }
    refresh();
}

void ResourceMergeWidget::on_pushButton_down_clicked() {
    const int r = m_table->currentRow();
    if (r >= 0 && r < m_table->rowCount() - 1) {
        swapRows(r, r + 1);
        m_table->setCurrentCell(r + 1, 0);
        m_table->selectRow(r + 1);
    }
    refresh();
}

void ResourceMergeWidget::on_pushButton_remove_clicked() {
    const int r = m_table->currentRow();
    if (r >= 0 && r < m_table->rowCount()) {
        m_table->removeRow(r);
        if (r < m_file_list.size()) {
            m_file_list.removeAt(r);
        }
    }
    refresh();
}

void ResourceMergeWidget::on_pushButton_clear_clicked() {
    m_file_list.clear();
    m_table->setRowCount(0);
    refresh();
}

void ResourceMergeWidget::on_pushButton_add_file_clicked() {
    CSettings* settings = CSettings::instance();
    QString startDir = settings->read(QString::fromLatin1(CSettings::kSystemPath), QString()).toString();
    if (startDir.isEmpty()) {
        const QStringList desktops = QStandardPaths::standardLocations(QStandardPaths::DesktopLocation);
        startDir = desktops.isEmpty() ? QStringLiteral(".") : desktops.first();
    }
    // Several packages may be chosen at once; they are listed in the order the dialog gives.
    const QStringList files =
        QFileDialog::getOpenFileNames(this, tr("Open File"), startDir, tr("Images (*.vrk)"));
    for (const QString& file : files) {
        if (!addPackage(file)) {
            break;
        }
    }
}

bool ResourceMergeWidget::addPackage(const QString& file) {
    CSettings* settings = CSettings::instance();
    qint64 total = 0;
    for (const QString& path : qAsConst(m_file_list)) {
        total += QFileInfo(path).size();
    }
    settings->write(QString::fromLatin1(CSettings::kSystemPath), QFileInfo(file).absolutePath());
    const qint64 size = QFileInfo(file).size();
    if (total + size > kMaxTotalBytes) {
        VRKMessageBox::showMessage(false, tr("files size more than 5G."), tr("error"), true);
        return false;
    }
    // Told now, with the file's name, rather than as a failed task later.
    int templateType = 0;
    qint64 duration = 0;
    const QString refusal = refusalOf(file, &templateType, &duration);
    refresh();
    if (!refusal.isEmpty()) {
        FLOG(FLOG_INFO, "file refused:%s", qUtf8Printable(file));
        VRKMessageBox::showMessage(false, refusal, tr("error"), true);
        return false;
    }
    appendRow(file, size, templateType, duration);
    m_file_list << file;
    refresh();
    return true;
}

QString ResourceMergeWidget::refusalOf(const QString& path, int* templateType, qint64* durationMs) {
    const QString name = QFileInfo(path).fileName();
    auto session = std::make_shared<DataWrapper>();
    const int code = readPackageAndWait(session, path, true, [this]() { setEnabled(false); });
    setEnabled(true);
    if (code != 0 || !session->getRootItem()) {
        return tr("%1 cannot be read as a playback package.").arg(name);
    }
    *durationMs = session->getDuration();
    if (*durationMs <= 0) {
        return tr("%1 holds no playable video.").arg(name);
    }
    *templateType = templateTypeOf(session->getRootItem());
    if (QTableWidgetItem* first = m_table->item(0, 0)) {
        const int expected = first->data(kTemplateRole).toInt();
        if (*templateType != expected) {
            return tr("%1 uses layout template %2, but %3 uses template %4.")
                .arg(name)
                .arg(*templateType)
                .arg(QFileInfo(first->data(Qt::UserRole).toString()).fileName())
                .arg(expected);
        }
    }
    return QString();
}

void ResourceMergeWidget::appendRow(const QString& path, qint64 bytes, int templateType, qint64 durationMs) {
    const int row = m_table->rowCount();
    m_table->insertRow(row);
    m_table->setRowHeight(row, 40);
    const QFont font = rowFont();
    auto* name = new QTableWidgetItem(QStringLiteral("   ") +
                                      QFontMetrics(font).elidedText(path, Qt::ElideRight, 508));
    name->setFont(font);
    name->setForeground(QColor(QStringLiteral("#38404b")));
    name->setToolTip(path);
    name->setData(Qt::UserRole, path);
    name->setData(kTemplateRole, templateType);
    name->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    auto* size =
        new QTableWidgetItem(QString::number(double(bytes) / 1024.0 / 1024.0, 'f', 1) + QStringLiteral("MB"));
    size->setFont(font);
    size->setForeground(QColor(QStringLiteral("#79808b")));
    size->setTextAlignment(Qt::AlignCenter);
    auto* length = new QTableWidgetItem(_CustomTime(durationMs).toString().section(QLatin1Char('.'), 0, 0));
    length->setFont(font);
    length->setForeground(QColor(QStringLiteral("#79808b")));
    length->setTextAlignment(Qt::AlignCenter);
    length->setData(Qt::UserRole, durationMs);
    m_table->setItem(row, 0, name);
    m_table->setItem(row, 1, size);
    m_table->setItem(row, kDurationColumn, length);
}

void ResourceMergeWidget::on_pushButton_output_option_clicked() {
    if (!m_output_option) {
        m_output_option = new OutputOptionSetting(this);
    }
    if (!m_file_list.isEmpty()) {
        auto session = std::make_shared<DataWrapper>();
        QPushButton* button = m_output_option_btn;
        const int code =
            readPackageAndWait(session, m_file_list.first(), true, [this]() { setEnabled(false); });
        setEnabled(true);
        button->setEnabled(m_table->rowCount() > 1);
        if (code != 0) {
            FLOG(FLOG_INFO, "read file is fail.");
            m_state->setStatus(TaskStatus::Failed);
            m_state->reportStatus(TaskStatus::Failed);
            m_state->reportFinish(false, FinishReason::ReadFileFail);
        } else {
            session->initMediaCore(0);
            int width = 0;
            int height = 0;
            session->getVideoSize(&width, &height);
            m_output_option->setVideoWidth(width);
            m_output_option->setVideoHeight(height);
        }
    }
    m_output_option->exec();
}

void ResourceMergeWidget::on_pushButton_sure_clicked() {
    if (m_file_list.size() <= kMaxFiles) {
        accept();
    } else {
        VRKMessageBox::showMessage(false, tr("The number of merge files cannot above 10!"), tr("error"),
                                   true);
    }
}

void ResourceMergeWidget::on_closeBtn_clicked() {
    if (m_sure_btn->isEnabled()) {
        const int answer = VRKMessageBox::showMessage(
            true, tr("The megre task has not been saved, is it sure to close it?"), tr("exit"), true);
        if (answer != 0) {
            return;
        }
    }
    reject();
}

void ResourceMergeWidget::on_tableWidget_itemClicked(QTableWidgetItem*) {
    refresh();
}

void ResourceMergeWidget::refresh() {
    const int rows = m_table->rowCount();
    const bool current = m_table->currentItem() != nullptr;
    m_up_btn->setEnabled(rows > 1 && current);
    m_down_btn->setEnabled(rows > 1 && current);
    m_remove_btn->setEnabled(rows > 0 && current);
    m_clear_btn->setEnabled(rows > 0);
    m_output_option_btn->setEnabled(rows > 1);
    m_sure_btn->setEnabled(rows > 1);
    m_table->setProperty("HasFile", rows > 0);
    m_table->style()->unpolish(m_table);
    m_table->style()->polish(m_table);
    m_table->update();
}
