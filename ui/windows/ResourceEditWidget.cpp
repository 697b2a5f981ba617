#define FLOG_SOURCE "editor/ResourceEditWidget"
#include "ResourceEditWidget.h"

#include <QApplication>
#include <QClipboard>
#include <QDateTimeEdit>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTableWidget>
#include <QUuid>
#include <QVBoxLayout>
#include <QWheelEvent>

#include "CSettings.h"
#include "CSuspensionWidget.h"
#include "CustomSlider.h"
#include "CustomTime.h"
#include "DataWrapper.h"
#include "FLog.h"
#include "KitStyle.h"
#include "OutputOptionSetting.h"
#include "QProgressIndicator.h"
#include "TableSegmentOperateWidget.h"
#include "TaskSupport.h"
#include "TemplateFactory.h"
#include "TemplateInterface.h"
#include "TimeTipLabel.h"
#include "VRKMessageBox.h"

namespace {

constexpr qint64 kMinVideoMs = 60000;
constexpr qint64 kMinSegmentMs = 10000;
constexpr int kMaxSegments = 20;
constexpr int kDragSeekIntervalMs = 120;

const QDate kEditDate(2000, 1, 1);

QDateTime editZero() {
    return QDateTime(kEditDate, QTime(0, 0, 0, 0));
}

QString playButtonStyle(const QString& picture) {
    return QStringLiteral(
               "QPushButton#pushButton_play{background:transparent;background-image: "
               "url(:/cut/Resources/cut/%1_nor.png);background-position: center;background-repeat:no-repeat;"
               "border:none;}QPushButton#pushButton_play:hover{background:transparent;background-image: "
               "url(:/cut/Resources/cut/%1_hov.png);background-position: center;background-repeat:no-repeat;"
               "border:none;}QPushButton#pushButton_play:disabled{background:transparent;background-image: "
               "url(:/cut/Resources/cut/%1_ban.png);background-position: center;background-repeat:no-repeat;"
               "border:none;}")
        .arg(picture);
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

QPushButton* makeButton(QWidget* parent, const char* name, const QString& text) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    return button;
}

QDateTimeEdit* makeTimeEdit(QWidget* parent, const char* name) {
    auto* edit = new QDateTimeEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setDisplayFormat(QStringLiteral("hh:mm:ss.zzz"));
    edit->setButtonSymbols(QAbstractSpinBox::NoButtons);
    edit->setWrapping(false);
    edit->setMinimumDate(kEditDate);
    edit->setMaximumDate(kEditDate);
    edit->setMinimumDateTime(editZero());
    edit->setDateTime(editZero());
    edit->setFixedSize(110, 26);
    return edit;
}

}  // namespace

ResourceEditWidget::ResourceEditWidget(QWidget* parent) : TaskWindow(TaskType::Cut, parent) {
    setupForm();
    m_notice = new CSuspensionWidget(this);
    m_notice->hide();
    m_time_tip = new TimeTipLabel(this);
    setupSegmentTable();
    QMetaObject::connectSlotsByName(this);
    connect(m_add_segment_btn, &QPushButton::clicked, this, &ResourceEditWidget::slotAddSegment);
    connect(m_set_start_btn, &QPushButton::clicked, this, &ResourceEditWidget::slotSetStartSegment);
    connect(m_set_end_btn, &QPushButton::clicked, this, &ResourceEditWidget::slotSetEndSegment);
    connect(m_edit_begin, &QDateTimeEdit::timeChanged, this, &ResourceEditWidget::onTimeChanged);
    connect(m_edit_end, &QDateTimeEdit::timeChanged, this, &ResourceEditWidget::onTimeChanged);
    m_edit_begin->installEventFilter(this);
    m_edit_end->installEventFilter(this);
    setPlayPicture(QStringLiteral("play"));
    refreshControls();
    setupShortcutTips();
    connect(m_preview_btn, &QPushButton::toggled, this, &ResourceEditWidget::slotPreviewToggled);
    connect(m_table, &QTableWidget::cellDoubleClicked, this,
            [this](int row, int) { slotSegmentDoubleClicked(row); });
    m_drag_timer.setInterval(kDragSeekIntervalMs);
    connect(&m_drag_timer, &QTimer::timeout, this, &ResourceEditWidget::sendDragSeek);
    // Keys reach the window whichever of its widgets has the focus.
    qApp->installEventFilter(this);
}

ResourceEditWidget::~ResourceEditWidget() {
    qApp->removeEventFilter(this);
    // A running worker keeps its own references; from now on it reports to nobody.
    m_state->setObserver(nullptr);
    if (m_data_wrapper) {
        m_data_wrapper->setObserver(nullptr);
        disconnect(m_data_wrapper.get(), nullptr, this, nullptr);
    }
    discardTemplate();
    m_data_wrapper.reset();
}

void ResourceEditWidget::setupForm() {
    setObjectName(QStringLiteral("ResourceEditWidget"));
    resize(950, 570);
    setMinimumSize(950, 570);
    setMaximumSize(950, 570);
    setWindowTitle(QStringLiteral("ResourceEditWidget"));

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    const TitleStrip strip = makeTitleStrip(this, "label_4", tr("Playback Cut"));
    m_widget_titlebar = strip.bar;
    m_label_title = strip.title;
    m_close_btn = strip.close;
    root->addWidget(m_widget_titlebar);

    auto* mainWidget = new QWidget(this);
    mainWidget->setObjectName(QStringLiteral("mainWidget"));
    auto* mainLayout = new QHBoxLayout(mainWidget);
    mainLayout->setContentsMargins(1, 1, 1, 1);
    mainLayout->setSpacing(1);
    root->addWidget(mainWidget, 1);

    auto* left = new QWidget(mainWidget);
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    leftLayout->setSpacing(0);
    mainLayout->addWidget(left, 1);

    m_widget_holdplace = new QWidget(left);
    m_widget_holdplace->setObjectName(QStringLiteral("widget_holdplace"));
    auto* holdLayout = new QVBoxLayout(m_widget_holdplace);
    holdLayout->setContentsMargins(0, 0, 0, 0);
    holdLayout->setSpacing(0);
    leftLayout->addWidget(m_widget_holdplace, 1);

    auto* control = new QWidget(left);
    control->setObjectName(QStringLiteral("widget_control"));
    auto* controlLayout = new QVBoxLayout(control);
    controlLayout->setContentsMargins(12, 8, 12, 8);
    controlLayout->setSpacing(6);
    leftLayout->addWidget(control);

    auto* sliderHolder = new QWidget(control);
    sliderHolder->setObjectName(QStringLiteral("sliderLaoutWidget"));
    auto* sliderLayout = new QHBoxLayout(sliderHolder);
    sliderLayout->setContentsMargins(0, 0, 0, 0);
    m_slider = new CustomSlider(sliderHolder);
    m_slider->setObjectName(QStringLiteral("widget_slider"));
    m_slider->setFixedHeight(8);
    sliderLayout->addWidget(m_slider);
    controlLayout->addWidget(sliderHolder);

    auto* playRow = new QHBoxLayout();
    playRow->setSpacing(8);
    m_play_btn = makeButton(control, "pushButton_play", QString());
    m_play_btn->setCheckable(true);
    m_play_btn->setFixedSize(30, 30);
    m_label_current = makeLabel(control, "label_current_play_time", QStringLiteral("00:00:00.000"));
    m_label_full = makeLabel(control, "label_FullVideoLength", QStringLiteral("/ 00:00:00.000"));
    m_set_start_btn = makeButton(control, "setSegmentStartBtn", tr("setStart"));
    m_set_end_btn = makeButton(control, "setSegmentEndBtn", tr("setEnd"));
    m_set_start_btn->setFixedSize(70, 26);
    m_set_end_btn->setFixedSize(70, 26);
    playRow->addWidget(m_play_btn);
    playRow->addWidget(m_label_current);
    playRow->addWidget(m_label_full);
    m_preview_btn = makeButton(control, "pushButton_preview", tr("Preview"));
    m_preview_btn->setCheckable(true);
    m_preview_btn->setFixedSize(70, 26);
    playRow->addSpacing(8);
    playRow->addWidget(m_preview_btn);
    playRow->addStretch();
    playRow->addWidget(m_set_start_btn);
    playRow->addWidget(m_set_end_btn);
    controlLayout->addLayout(playRow);

    auto* timeRow = new QHBoxLayout();
    timeRow->setSpacing(8);
    m_edit_begin = makeTimeEdit(control, "dateTimeEdit_begin");
    m_edit_end = makeTimeEdit(control, "dateTimeEdit_end");
    m_edit_end->setCurrentSection(QDateTimeEdit::HourSection);
    m_add_segment_btn = makeButton(control, "addCutSegmentBtn", tr("add"));
    m_add_segment_btn->setFixedSize(70, 26);
    timeRow->addWidget(makeLabel(control, "label", tr("Start time:")));
    timeRow->addWidget(m_edit_begin);
    timeRow->addSpacing(10);
    timeRow->addWidget(makeLabel(control, "label_2", tr("End time:")));
    timeRow->addWidget(m_edit_end);
    timeRow->addStretch();
    timeRow->addWidget(m_add_segment_btn);
    controlLayout->addLayout(timeRow);

    auto* right = new QWidget(mainWidget);
    right->setObjectName(QStringLiteral("widget_right_side"));
    right->setFixedWidth(272);
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(10, 14, 10, 14);
    rightLayout->setSpacing(10);
    m_add_file_btn = makeButton(right, "pushButton_add_file", tr("Add File"));
    m_output_option_btn = makeButton(right, "pushButton_output_option", tr("output option"));
    m_add_file_btn->setFixedHeight(32);
    m_output_option_btn->setFixedHeight(32);
    m_segments_label = makeLabel(right, "segmentsAddedLabel", tr("segments has been add(0/10)"));
    m_table = new QTableWidget(10, 3, right);
    m_table->setObjectName(QStringLiteral("segmentTableWidget"));
    m_table->setHorizontalHeaderLabels({tr("order"), tr("Start-stop time"), tr("duration")});
    m_table->setFrameShape(QFrame::NoFrame);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setMouseTracking(true);
    m_table->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_sure_btn = makeButton(right, "pushButton_sure", tr("Ok"));
    m_sure_btn->setFixedHeight(32);
    rightLayout->addWidget(m_add_file_btn);
    rightLayout->addWidget(m_output_option_btn);
    rightLayout->addWidget(m_segments_label);
    rightLayout->addWidget(m_table, 1);
    rightLayout->addWidget(m_sure_btn);
    mainLayout->addWidget(right);

    setStyleSheet(
        KitStyle::titleStrip(QStringLiteral("QWidget#widget_titlebar")) +
        KitStyle::titleLabel(QStringLiteral("QLabel#label_4")) +
        KitStyle::closeButton(QStringLiteral("QPushButton#closeBtn")) +
        QStringLiteral(
            "QWidget#mainWidget{background:#e0e0e0;border:1px solid #e0e0e0;}"
            "QWidget#widget_holdplace{background-color:white;background-image:url(:/cut/Resources/cut/"
            "cut_empty.png);background-position:center;background-repeat:no-repeat;}"
            "QWidget#widget_control{background:rgb(250,250,250);}"
            "QWidget#widget_right_side{background:white;}"
            "QLabel{color:#333333;font:12px \"Microsoft YaHei\";}"
            "QPushButton#addCutSegmentBtn{background:rgba(75,169,250,1);color:white;border:none;"
            "border-radius:1px;font:12px \"Microsoft YaHei\";}"
            "QPushButton#addCutSegmentBtn:disabled{background:#9fd0fb;}") +
        KitStyle::secondaryButton(QStringLiteral("QPushButton#setSegmentStartBtn")) +
        KitStyle::secondaryButton(QStringLiteral("QPushButton#setSegmentEndBtn")) +
        KitStyle::secondaryButton(QStringLiteral("QPushButton#pushButton_preview")) +
        QStringLiteral("QPushButton#pushButton_preview:checked{background:#4ba9fa;color:white;}") +
        KitStyle::secondaryButton(QStringLiteral("QPushButton#pushButton_add_file")) +
        KitStyle::secondaryButton(QStringLiteral("QPushButton#pushButton_output_option")) +
        KitStyle::primaryButton(QStringLiteral("QPushButton#pushButton_sure")));
}

void ResourceEditWidget::setupSegmentTable() {
    QHeaderView* header = m_table->horizontalHeader();
    header->setObjectName(QStringLiteral("segmentHoriHeader"));
    header->setStyleSheet(QStringLiteral(
        "QHeaderView#segmentHoriHeader::section{border:none;background-color:#f5f8f8;text-align:center;}"));
    header->setFixedHeight(24);
    header->setStretchLastSection(false);
    header->setSectionResizeMode(QHeaderView::Fixed);
    header->setSectionsClickable(false);
    header->setHighlightSections(false);
    m_table->setColumnWidth(0, 30);
    m_table->setColumnWidth(1, 116);
    m_table->setColumnWidth(2, 84);
    m_table->verticalHeader()->setDefaultSectionSize(36);
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setVisible(false);
    m_table->setFocusPolicy(Qt::NoFocus);
    // One row can be selected, for the Delete key.
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setShowGrid(false);
    m_table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_table->horizontalScrollBar()->setEnabled(false);
    m_table->installEventFilter(this);
    m_table->viewport()->installEventFilter(this);
    connect(m_table, &QTableWidget::cellEntered, this, &ResourceEditWidget::slotCellEntered);
}

// --- TaskInterface ---------------------------------------------------------------------------

QString ResourceEditWidget::sourceName() {
    return m_source_path.section(QLatin1Char('/'), -1);
}

QString ResourceEditWidget::sourceToolTip() {
    return m_source_path.section(QLatin1Char('/'), -1);
}

bool ResourceEditWidget::startTask() {
    if (!m_state->hasObserver() || !m_data_wrapper) {
        FLOG(FLOG_INFO, "start task fail, no observer or no session.");
        return false;
    }
    m_state->markStart();
    m_data_wrapper->stop();

    // The dialog's texts are taken here, on the GUI thread; the worker only sees the copy.
    OutputOptionsSnapshot options;
    if (m_output_option) {
        options.exists = true;
        options.title = m_output_option->playbackTitle();
        options.fileName = m_output_option->fileName();
        options.folder = m_output_option->folder();
        options.transcode = m_output_option->transcode();
        m_data_wrapper->setTranscode(options.transcode);
    }
    std::shared_ptr<TaskRunState> state = m_state;
    std::shared_ptr<DataWrapper> session = m_data_wrapper;
    const QString source = m_source_path;
    QPointer<ResourceEditWidget> window(this);

    TaskWorkers::run([state, session, options, source, window]() mutable {
        state->setStatus(TaskStatus::Converting);
        state->reportStatus(TaskStatus::Converting);
        state->reportProgress(0.0f);

        std::shared_ptr<_RootItem> root = session->getRootItem();
        // An empty title would wipe the room's name; only a real entry replaces it.
        if (options.exists && !options.title.isEmpty() && root && root->datas && root->datas->room_item) {
            root->datas->room_item->name = options.title;
        }
        const QString path = composeOutputPath(options, source);
        state->reserveOutput(path);
        QDir().mkpath(QFileInfo(path).absolutePath());
        FLOG(FLOG_INFO, "cut output path:%s", qUtf8Printable(path));

        session->setProgressCallback([state](float value) { state->reportProgress(value); });
        state->addCancelTarget(session);
        const qint16 code = session->save(path);
        session->setProgressCallback(nullptr);
        // The row shows where the package really is (the next free name when `path` was taken).
        state->outputWritten(code == 0 ? session->savedPath() : QString());
        state->markEnd();
        if (code == 0) {
            FLOG(FLOG_INFO, "resource cut is success.");
            state->setStatus(TaskStatus::Finished);
            state->reportStatus(TaskStatus::Finished);
            state->reportFinish(true, FinishReason::None);
        } else {
            FLOG(FLOG_INFO, "resource cut is fail, code:%d", static_cast<int>(code));
            state->setStatus(TaskStatus::Failed);
            state->reportStatus(TaskStatus::Failed);
            state->reportFinish(false, code == DataWrapper::kCancelled ? int(FinishReason::Cancelled)
                                                                       : int(FinishReason::CutFail));
        }
        // The window lets go of the session on its own thread; so does this worker.
        QMetaObject::invokeMethod(
            qApp,
            [window]() {
                if (window) {
                    window->releaseSession();
                }
            },
            Qt::QueuedConnection);
        releaseOnGuiThread(std::move(session));
    });
    return true;
}

// --- slots -----------------------------------------------------------------------------------

void ResourceEditWidget::on_pushButton_play_clicked(bool checked) {
    if (!m_data_wrapper) {
        return;
    }
    if (checked) {
        slotPlay();
    } else {
        slotPause();
    }
}

void ResourceEditWidget::on_pushButton_sure_clicked() {
    accept();
}

void ResourceEditWidget::on_pushButton_add_file_clicked() {
    slotPause();
    m_add_file_btn->setEnabled(false);
    struct Reenable {
        QPushButton* button;
        ~Reenable() { button->setEnabled(true); }
    } reenable{m_add_file_btn};

    CSettings* settings = CSettings::instance();
    QString startDir = settings->read(QString::fromLatin1(CSettings::kSystemPath), QString()).toString();
    if (startDir.isEmpty()) {
        const QStringList desktops = QStandardPaths::standardLocations(QStandardPaths::DesktopLocation);
        startDir = desktops.isEmpty() ? QStringLiteral(".") : desktops.first();
    }
    const QString file = QFileDialog::getOpenFileName(this, tr("Open File"), startDir, tr("Images (*.vrk)"));
    if (file.isEmpty()) {
        FLOG(FLOG_INFO, "unselect file.");
        return;
    }
    settings->write(QString::fromLatin1(CSettings::kSystemPath), QFileInfo(file).absolutePath());

    // The package is read into a session of its own: a file that is refused leaves the loaded
    // package, its segments and its template as they were.
    auto fresh = std::make_shared<DataWrapper>();
    const int code = readIntoSession(fresh, file);
    if (code != 0 || !fresh->getRootItem()) {
        VRKMessageBox::showMessage(false, tr("can't parse the resource file."), tr("error"), true);
        return;
    }
    if (fresh->getDuration() < kMinVideoMs) {
        VRKMessageBox::showMessage(false, tr("Video should not be less than 1 minutes"), tr("error"), true);
        return;
    }

    m_source_path = file;
    releaseSession();
    m_data_wrapper = fresh;
    discardTemplate();
    m_template_interface = createTemplateByType(templateTypeOf(m_data_wrapper->getRootItem()));
    if (auto* widget = dynamic_cast<QWidget*>(m_template_interface)) {
        // Templates 3 to 6 ask for 480 px of height, more than the fixed window leaves the holder:
        // the template shrinks to the holder instead of losing its bottom rows.
        widget->setMinimumHeight(0);
        m_widget_holdplace->layout()->addWidget(widget);
        widget->show();
    }
    preparePlayback();
}

void ResourceEditWidget::on_pushButton_output_option_clicked() {
    if (!m_output_option) {
        m_output_option = new OutputOptionSetting(this);
        m_output_option->hideVideoSize();
    }
    m_output_option->exec();
    if (m_data_wrapper) {
        m_data_wrapper->setTranscode(m_output_option->transcode());
    }
}

void ResourceEditWidget::on_dateTimeEdit_begin_dateTimeChanged(QDateTime datetime) {
    clampTimeEdit(m_edit_begin, datetime);
}

void ResourceEditWidget::on_dateTimeEdit_end_dateTimeChanged(QDateTime datetime) {
    clampTimeEdit(m_edit_end, datetime);
}

void ResourceEditWidget::on_closeBtn_clicked() {
    if (m_sure_btn->isEnabled()) {
        const int answer = VRKMessageBox::showMessage(
            true, tr("The interception task has not been saved, is it sure to close it?"), tr("exit"), true);
        if (answer != 0) {
            return;
        }
    }
    reject();
}

void ResourceEditWidget::slotPlay() {
    if (!m_data_wrapper) {
        FLOG(FLOG_INFO, "m_data_wrapper is empty!");
        return;
    }
    if (m_started) {
        m_data_wrapper->resume();
    } else {
        m_data_wrapper->play();
        m_started = true;
    }
    setPlayPicture(QStringLiteral("pause"));
    m_play_btn->setChecked(true);
}

void ResourceEditWidget::slotPause() {
    if (!m_data_wrapper) {
        FLOG(FLOG_INFO, "m_data_wrapper is empty!");
        return;
    }
    m_data_wrapper->pause();
    setPlayPicture(QStringLiteral("play"));
    m_play_btn->setChecked(false);
}

void ResourceEditWidget::slotAddSegment() {
    if (!m_data_wrapper) {
        return;
    }
    if (m_data_wrapper->getSegments().size() >= kMaxSegments) {
        showNotice(tr("Clips are less than 20"));
        return;
    }
    const qint64 begin = editZero().msecsTo(m_edit_begin->dateTime());
    const qint64 end = editZero().msecsTo(m_edit_end->dateTime());
    if (end <= begin || end - begin < kMinSegmentMs) {
        showNotice(tr("duration shall be more than 10 seconds"));
        return;
    }
    auto segment = std::make_shared<_Segment>();
    segment->begin_time = begin;
    segment->end_time = end;
    segment->id = QUuid::createUuid().toString();
    if (!m_data_wrapper->tryAddSegment(segment)) {
        showNotice(tr("segment overlaps the added segment,please reselect"));
        return;
    }
    rebuildSegmentTable();
    refreshControls();
    refreshCountLabel();
    refreshTimelineSegments();
}

void ResourceEditWidget::slotSetStartSegment() {
    if (m_data_wrapper) {
        setEditTime(m_edit_begin, m_slider->position());
    }
}

void ResourceEditWidget::slotSetEndSegment() {
    if (m_data_wrapper) {
        setEditTime(m_edit_end, m_slider->position());
    }
}

void ResourceEditWidget::slotCurrentTimePoint(qint64 now_ms) {
    if (!m_data_wrapper || (m_preview_btn->isChecked() && previewFollow(now_ms))) {
        return;
    }
    m_label_current->setText(_CustomTime(now_ms).toString());
    m_label_full->setText(QStringLiteral("/ ") + _CustomTime(m_slider->duration()).toString());
    m_slider->setPosition(now_ms);
}

void ResourceEditWidget::slotSeekDone(qint64 now_ms) {
    // While paused no play reports come; the label and the bar follow the seek itself.
    if (m_data_wrapper && now_ms >= 0) {
        m_label_current->setText(_CustomTime(now_ms).toString());
        m_slider->setPosition(now_ms);
    }
    update();
}

void ResourceEditWidget::slotPlayingFinished(bool pause) {
    if (pause) {
        setPlayPicture(QStringLiteral("play"));
        m_play_btn->setChecked(false);
        m_started = false;
    }
}

void ResourceEditWidget::slotTimelineStopPlaying(bool stop) {
    m_slider->setPlayingState(m_play_btn->isChecked());
    m_play_btn->setChecked(!stop);
    on_pushButton_play_clicked(!stop);
}

void ResourceEditWidget::slotCellEntered(int row, int) {
    if (row == m_hovered_row) {
        return;
    }
    for (int r = 0; r < m_table->rowCount(); ++r) {
        if (auto* cell = qobject_cast<TableSegmentOperateWidget*>(m_table->cellWidget(r, 2))) {
            cell->setDeleteVisible(r == row);
        }
    }
    m_hovered_row = row;
}

bool ResourceEditWidget::eventFilter(QObject* watched, QEvent* event) {
    if (keyFilter(watched, event)) {
        return true;
    }
    if (watched == m_table || watched == m_table->viewport()) {
        if (event->type() == QEvent::Leave && watched == m_table) {
            if (auto* cell =
                    qobject_cast<TableSegmentOperateWidget*>(m_table->cellWidget(m_hovered_row, 2))) {
                cell->setDeleteVisible(false);
            }
            m_hovered_row = -1;
        } else if (event->type() == QEvent::Wheel && watched == m_table->viewport()) {
            auto* wheel = static_cast<QWheelEvent*>(event);
            QScrollBar* bar = m_table->verticalScrollBar();
            bar->setValue(bar->value() - wheel->angleDelta().y());
            return true;
        }
    } else if ((watched == m_edit_begin || watched == m_edit_end) && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->matches(QKeySequence::Paste)) {
            const QTime time = QTime::fromString(QApplication::clipboard()->text(), Qt::TextDate);
            if (time.isValid()) {
                static_cast<QDateTimeEdit*>(watched)->setTime(time);
            }
        }
    }
    return BaseDialog::eventFilter(watched, event);
}

// --- loading and playback --------------------------------------------------------------------

int ResourceEditWidget::readIntoSession(const std::shared_ptr<DataWrapper>& session, const QString& path) {
    QProgressIndicator* spinner = nullptr;
    const int code = readPackageAndWait(session, path, false, [this, &spinner]() {
        setEnabled(false);
        spinner = new QProgressIndicator(this);
        spinner->resize(30, 30);
        spinner->move((width() - 30) / 2, (height() - 30) / 2);
        spinner->startAnimation();
        spinner->show();
    });
    setEnabled(true);
    delete spinner;
    return code;
}

void ResourceEditWidget::preparePlayback() {
    if (!m_template_interface) {
        FLOG(FLOG_INFO, "m_template_interface is empty.");
        return;
    }
    if (!m_data_wrapper) {
        FLOG(FLOG_INFO, "m_data_wrapper is empty.");
        return;
    }
    disconnect(m_data_wrapper.get(), nullptr, this, nullptr);
    // The cut uses what the output options show, whichever package they were set for.
    if (m_output_option) {
        m_data_wrapper->setTranscode(m_output_option->transcode());
    }
    m_data_wrapper->setObserver(m_template_interface);
    m_data_wrapper->initMediaCore(m_template_interface->mediaWinId());
    const qint64 duration = m_data_wrapper->getDuration();
    m_label_current->setText(QStringLiteral("00:00:00.000"));
    m_label_full->setText(QStringLiteral("/ ") + _CustomTime(duration).toString());
    for (QDateTimeEdit* edit : {m_edit_begin, m_edit_end}) {
        const bool blocked = edit->blockSignals(true);
        edit->setDateTime(editZero());
        edit->blockSignals(blocked);
    }
    connect(m_data_wrapper.get(), &DataWrapper::signalCurrentTimePoint, this,
            &ResourceEditWidget::slotCurrentTimePoint, Qt::QueuedConnection);
    connect(m_data_wrapper.get(), &DataWrapper::signalSeek, this, &ResourceEditWidget::slotSeekDone,
            Qt::QueuedConnection);
    connect(m_data_wrapper.get(), &DataWrapper::signalPlayingFinished, this,
            &ResourceEditWidget::slotPlayingFinished, Qt::QueuedConnection);

    m_slider->reset();
    disconnect(m_slider, nullptr, this, nullptr);
    disconnect(m_slider, nullptr, m_time_tip, nullptr);
    m_slider->setDuration(duration);
    auto range = std::make_shared<_Segment>();
    range->begin_time = 0;
    range->end_time = duration;
    range->id = QUuid::createUuid().toString();
    m_slider->setRange(range);
    connect(m_slider, &CustomSlider::signalCurrentPosition, this, [this](qlonglong ms) {
        if (m_data_wrapper) {
            m_data_wrapper->seek(ms);
        }
    });
    connect(m_slider, &CustomSlider::signalShowTimeTips, m_time_tip, &TimeTipLabel::slotShowTimeTips);
    connect(m_slider, &CustomSlider::signalHideTimeTips, m_time_tip, &TimeTipLabel::slotHideTimeTips);
    connect(m_slider, &CustomSlider::signalStopPlaying, this, &ResourceEditWidget::slotTimelineStopPlaying);
    connect(m_slider, &CustomSlider::signalDragPosition, this,
            [this](qlonglong ms) { slotDragPosition(ms); });
    m_drag_sent = -1;
    m_frame_times = VideoFrameTimes();
    refreshTimelineSegments();
    m_started = false;
    slotPause();
    refreshControls();
}

void ResourceEditWidget::releaseSession() {
    if (!m_data_wrapper) {
        return;
    }
    // The old template may keep the session alive through its views: make sure it no longer
    // plays or reports to a template that is about to go.
    disconnect(m_data_wrapper.get(), nullptr, this, nullptr);
    m_data_wrapper->setObserver(nullptr);
    m_data_wrapper->stop();
    m_data_wrapper.reset();
    refreshControls();
}

void ResourceEditWidget::discardTemplate() {
    if (!m_template_interface) {
        return;
    }
    if (auto* widget = dynamic_cast<QWidget*>(m_template_interface)) {
        // Kept in place until it goes: moving it would recreate the native window the engine
        // still draws into.
        widget->hide();
        widget->deleteLater();
    }
    m_template_interface = nullptr;
}

void ResourceEditWidget::setPlayPicture(const QString& name) {
    m_play_btn->setStyleSheet(playButtonStyle(name));
}

// --- controls, table, notices ----------------------------------------------------------------

void ResourceEditWidget::refreshControls() {
    const bool loaded = static_cast<bool>(m_data_wrapper);
    for (QWidget* w : std::initializer_list<QWidget*>{m_play_btn, m_edit_begin, m_edit_end, m_add_segment_btn,
                                                      m_set_start_btn, m_set_end_btn}) {
        w->setEnabled(loaded);
    }
    m_segments_label->setVisible(loaded);
    m_table->setVisible(loaded);
    m_output_option_btn->setEnabled(loaded);
    m_sure_btn->setEnabled(loaded && !m_data_wrapper->getSegments().isEmpty());
    m_preview_btn->setEnabled(m_sure_btn->isEnabled());
}

void ResourceEditWidget::refreshCountLabel() {
    const int count = m_data_wrapper ? m_data_wrapper->getSegments().size() : 0;
    m_segments_label->setText(tr("segments has been added") +
                              QStringLiteral("(%1/%2)").arg(count).arg(m_table->rowCount()));
}

void ResourceEditWidget::rebuildSegmentTable() {
    const QVector<std::shared_ptr<_Segment>> segments = m_data_wrapper->sortedSegments();
    m_table->clearContents();
    m_table->setRowCount(segments.size());
    m_hovered_row = -1;
    for (int r = segments.size() - 1; r >= 0; --r) {
        const std::shared_ptr<_Segment>& s = segments.at(r);
        auto* order = new QTableWidgetItem(QString::number(r + 1));
        order->setTextAlignment(Qt::AlignCenter);
        order->setForeground(QColor(51, 51, 51));
        auto* span = new QTableWidgetItem(_CustomTime(s->begin_time).toString() + QLatin1Char('\n') +
                                          _CustomTime(s->end_time).toString());
        span->setTextAlignment(Qt::AlignCenter);
        span->setForeground(QColor(51, 51, 51));
        m_table->setItem(r, 0, order);
        m_table->setItem(r, 1, span);
        auto* cell = new TableSegmentOperateWidget(s->id);
        cell->setDuration(s->end_time - s->begin_time);
        const QString id = s->id;
        connect(cell, &TableSegmentOperateWidget::signalRemoveSegment, this,
                [this, id]() { removeSegment(id); });
        m_table->setCellWidget(r, 2, cell);
    }
    recolourRows();
}

void ResourceEditWidget::recolourRows() {
    int number = 0;
    for (int r = 0; r < m_table->rowCount(); ++r) {
        auto* cell = qobject_cast<TableSegmentOperateWidget*>(m_table->cellWidget(r, 2));
        if (!cell) {
            continue;
        }
        const QString colour = (number % 2 == 1) ? QStringLiteral("#F4F5F6") : QStringLiteral("#ffffff");
        ++number;
        if (QTableWidgetItem* order = m_table->item(r, 0)) {
            order->setText(QString::number(number));
            order->setBackground(QColor(colour));
        }
        if (QTableWidgetItem* span = m_table->item(r, 1)) {
            span->setBackground(QColor(colour));
        }
        cell->setBackground(colour);
    }
}

void ResourceEditWidget::removeSegment(const QString& id) {
    if (!m_data_wrapper) {
        return;
    }
    m_data_wrapper->removeSegment(id);
    for (int r = 0; r < m_table->rowCount(); ++r) {
        auto* cell = qobject_cast<TableSegmentOperateWidget*>(m_table->cellWidget(r, 2));
        if (cell && cell->segmentId() == id) {
            // The click came from this cell; the view releases it later, not under the click.
            m_table->removeRow(r);
            break;
        }
    }
    m_table->setRowCount(kMaxSegments);
    m_hovered_row = -1;
    recolourRows();
    refreshControls();
    refreshCountLabel();
    refreshTimelineSegments();
}

void ResourceEditWidget::showNotice(const QString& text) {
    m_notice->setInterval(3000);
    m_notice->showText(text, false);
    m_notice->setVisible(true);
    m_notice->placeAboveSlider(this);
}

void ResourceEditWidget::setEditTime(QDateTimeEdit* edit, qint64 ms) {
    _CustomTime t(ms);
    if (t.hour > 23) {
        // The edit shows one day at most.
        t = _CustomTime(24LL * 3600 * 1000 - 1);
    }
    edit->setTime(QTime(t.hour, t.minute, t.second, t.millisecond));
}

void ResourceEditWidget::clampTimeEdit(QDateTimeEdit* edit, const QDateTime& datetime) {
    if (!m_data_wrapper) {
        return;
    }
    const bool beginBlocked = m_edit_begin->blockSignals(true);
    const bool endBlocked = m_edit_end->blockSignals(true);
    const qint64 ms = editZero().msecsTo(datetime);
    if (ms < 0) {
        edit->setDateTime(editZero());
    } else {
        const qint64 duration = m_slider->duration();
        if (ms > duration) {
            setEditTime(edit, duration);
        }
    }
    m_edit_begin->blockSignals(beginBlocked);
    m_edit_end->blockSignals(endBlocked);
}

void ResourceEditWidget::onTimeChanged() {
    slotPause();
    refreshControls();
    update();
}
