#define FLOG_SOURCE "ui/MainWindow"
#include "MainWindow.h"

#include <QApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>

#include "CSettings.h"
#include "FLog.h"
#include "FileHandler.h"
#include "KitStyle.h"
#include "SystemSetting.h"
#include "TaskWindows.h"
#include "VRKMessageBox.h"

namespace {
constexpr int kWindowWidth = 960;
constexpr int kWindowHeight = 670;
constexpr int kColumnCount = 5;
constexpr int kColumnSource = 0;
constexpr int kColumnOutput = 1;
constexpr int kColumnType = 2;
constexpr int kColumnStatus = 3;
constexpr int kColumnRemark = 4;
constexpr int kRowHeight = 40;

const char* const kTableWithRows =
    "QTableWidget{background-color:white;alternate-background-color:rgb(250,250,250);"
    "selection-background-color:rgb(183,221,253);border:1px solid #e0e0e0;}";
const char* const kTableEmpty =
    "QTableWidget{background:white;background-image:url(:/mainWindow/Resources/mainWindow/task_empty.png);"
    "background-position: center;background-repeat:no-repeat;border:1px solid #e0e0e0;}";

QString formatOutputText(const QFont& font, const QString& path) {
    return QStringLiteral("  ") + QFontMetrics(font).elidedText(path, Qt::ElideRight, 230);
}
}  // namespace

// ---------------------------------------------------------------------------------------------------

DrawIconDelegate::DrawIconDelegate(MainWindow* window, QObject* parent)
    : QItemDelegate(parent), m_main_window(window) {}

void DrawIconDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
    QItemDelegate::paint(painter, option, index);
    const int type = m_main_window ? m_main_window->taskTypeAt(index) : -1;
    if (type == -1) {
        return;
    }
    const QString name = TaskTexts::typeName(type);
    QFont font(QCoreApplication::translate("MainWindow", "Microsoft YaHei UI"));
    font.setPixelSize(12);
    painter->save();
    painter->setFont(font);
    painter->setPen(QColor(QStringLiteral("#38404b")));
    QRect box(0, 0, 50, 20);
    box.moveCenter(option.rect.center());
    const QPixmap icon(TaskTexts::typeIcon(type));
    if (!icon.isNull()) {
        painter->drawPixmap(QRect(box.left() - 6, box.top(), 20, 20), icon);
    }
    const int nameWidth = QFontMetrics(font).horizontalAdvance(name);
    painter->drawText(QRect(box.left() + 20, box.top() + 2, nameWidth, 20), 0, name);
    painter->restore();
}

// ---------------------------------------------------------------------------------------------------

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
    FLOG(FLOG_DEBUG, "enter func : %s", "MainWindow::MainWindow");
    m_base_column_widths = {{0, 211}, {1, 251}, {2, 151}, {3, 151}, {4, 195}};
    setupForm();
    setupTable();
    QMetaObject::connectSlotsByName(this);

    connect(&m_duration_timer, &QTimer::timeout, this, &MainWindow::slotRefreshDuration);
    m_duration_timer.start(1000);

    setWindowFlags(windowFlags() | Qt::FramelessWindowHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint);
    setFocusPolicy(Qt::ClickFocus);
    loadHistory();
    refreshEmptyLook();

    const QString outputKey = QString::fromLatin1(CSettings::kSystemOutputPath);
    if (CSettings::instance()->read(outputKey, QString()).toString().isEmpty()) {
        const QString dir = FileHandler::defaultOutputDir();
        CSettings::instance()->write(outputKey, dir);
        FLOG(FLOG_INFO, "default output folder %s", dir.toUtf8().constData());
    }

    const QString title =
        tr("Playback edit tool 1.0").replace(QStringLiteral("1.0"), QCoreApplication::applicationVersion());
    setWindowTitle(title);
    m_title_label->setText(title);
    setFixedSize(kWindowWidth, kWindowHeight);
}

MainWindow::~MainWindow() {
    // Transcoding is chosen again in every run.
    CSettings::instance()->write(QString::fromLatin1(CSettings::kVideoTranseCode), false);
    m_tasks.clear();
}

void MainWindow::setupForm() {
    setObjectName(QStringLiteral("MainWindow"));
    resize(kWindowWidth, kWindowHeight);

    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("centralwidget"));
    central->setMinimumSize(kWindowWidth, kWindowHeight);
    auto* verticalLayout = new QVBoxLayout(central);
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    verticalLayout->setSpacing(0);
    verticalLayout->setContentsMargins(0, 0, 0, 1);

    // Title strip.
    m_titlebar_widget = new QWidget(central);
    m_titlebar_widget->setObjectName(QStringLiteral("titlebarWidget"));
    m_titlebar_widget->setFixedHeight(30);
    auto* titleLayout = new QHBoxLayout(m_titlebar_widget);
    titleLayout->setSpacing(0);
    titleLayout->setContentsMargins(20, 0, 0, 0);
    m_title_label = new QLabel(m_titlebar_widget);
    m_title_label->setObjectName(QStringLiteral("label_4"));
    titleLayout->addWidget(m_title_label);
    titleLayout->addStretch(1);
    auto makeTitleButton = [this](const char* name) {
        auto* b = new QPushButton(m_titlebar_widget);
        b->setObjectName(QString::fromLatin1(name));
        b->setFixedSize(38, 30);
        b->setFocusPolicy(Qt::NoFocus);
        return b;
    };
    QPushButton* settingBtn = makeTitleButton("pushButton_setting");
    settingBtn->setToolTip(tr("Settings"));
    titleLayout->addWidget(settingBtn);
    titleLayout->addWidget(makeTitleButton("minBtn"));
    m_max_btn = makeTitleButton("maxBtn");
    m_max_btn->setCheckable(true);
    titleLayout->addWidget(m_max_btn);
    titleLayout->addWidget(makeTitleButton("closeBtn"));
    verticalLayout->addWidget(m_titlebar_widget);

    // Tool bar.
    auto* toolBar = new QWidget(central);
    toolBar->setObjectName(QStringLiteral("toolBarWidget"));
    toolBar->setFixedHeight(60);
    auto* horizontalLayout = new QHBoxLayout(toolBar);
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    horizontalLayout->setSpacing(15);
    horizontalLayout->setContentsMargins(20, 0, 0, 0);
    auto makeToolButton = [toolBar](const char* name, const QString& text) {
        auto* b = new QPushButton(text, toolBar);
        b->setObjectName(QString::fromLatin1(name));
        b->setFixedSize(98, 32);
        b->setCursor(Qt::PointingHandCursor);
        return b;
    };
    horizontalLayout->addWidget(makeToolButton("pushButton_cut", tr("Cut")));
    horizontalLayout->addWidget(makeToolButton("pushButton_merge", tr("Merge")));
    horizontalLayout->addWidget(makeToolButton("pushButton_convert", tr("Convert")));
    horizontalLayout->addStretch(1);
    verticalLayout->addWidget(toolBar);

    // Task table.
    m_table = new QTableWidget(central);
    m_table->setObjectName(QStringLiteral("tableWidget"));
    verticalLayout->addWidget(m_table, 1);

    // Status bar with the running time of the current row's task.
    m_status_bar_widget = new QWidget(central);
    m_status_bar_widget->setObjectName(QStringLiteral("statusBarWidget"));
    m_status_bar_widget->setFixedHeight(30);
    auto* statusLayout = new QHBoxLayout(m_status_bar_widget);
    statusLayout->setContentsMargins(20, 0, 0, 0);
    statusLayout->setSpacing(4);
    auto* label = new QLabel(tr("Time consume:"), m_status_bar_widget);
    label->setObjectName(QStringLiteral("label"));
    statusLayout->addWidget(label);
    m_label_task_duration = new QLabel(m_status_bar_widget);
    m_label_task_duration->setObjectName(QStringLiteral("label_task_duration"));
    statusLayout->addWidget(m_label_task_duration);
    statusLayout->addStretch(1);
    verticalLayout->addWidget(m_status_bar_widget);

    setCentralWidget(central);

    const QString mw = QStringLiteral(":/mainWindow/Resources/mainWindow/");
    setStyleSheet(
        QStringLiteral("#centralwidget{background:#ffffff;}") +
        KitStyle::titleStrip(QStringLiteral("#titlebarWidget")) +
        KitStyle::titleLabel(QStringLiteral("#label_4")) +
        KitStyle::pictureButton(QStringLiteral("#pushButton_setting"), mw + QStringLiteral("setting")) +
        KitStyle::pictureButton(QStringLiteral("#minBtn"), mw + QStringLiteral("min")) +
        KitStyle::pictureButton(QStringLiteral("#maxBtn"), mw + QStringLiteral("max")) +
        QStringLiteral("#maxBtn:checked{image:url(%1normal_nor.png);}"
                       "#maxBtn:checked:hover{image:url(%1normal_hov.png);}"
                       "#maxBtn:checked:disabled{image:url(%1normal_ban.png);}")
            .arg(mw) +
        KitStyle::closeButton(QStringLiteral("#closeBtn")) +
        QStringLiteral("#toolBarWidget{background:white;border-left:1px solid #e0e0e0;"
                       "border-right:1px solid #e0e0e0;}") +
        KitStyle::primaryButton(QStringLiteral("#pushButton_cut")) +
        KitStyle::primaryButton(QStringLiteral("#pushButton_merge")) +
        KitStyle::primaryButton(QStringLiteral("#pushButton_convert")) +
        QStringLiteral("#statusBarWidget{background:rgb(250,250,250);border:1px solid #e0e0e0;"
                       "border-top:none;}"
                       "#label,#label_task_duration{color:#38404b;font:12px \"Microsoft YaHei\";}"));
}

void MainWindow::setupTable() {
    m_table->setColumnCount(kColumnCount);
    m_table->setHorizontalHeaderLabels(
        {tr("Source files"), tr("Outoput file"), tr("Task type"), tr("Status"), tr("Remarks")});
    m_table->setContextMenuPolicy(Qt::CustomContextMenu);
    m_table->verticalHeader()->setVisible(false);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setFocusPolicy(Qt::NoFocus);
    m_table->setAlternatingRowColors(true);
    m_table->horizontalHeader()->setSectionsClickable(false);
    m_table->setItemDelegateForColumn(kColumnType, new DrawIconDelegate(this, m_table));
    m_table->setShowGrid(false);
    m_table->setAutoScroll(false);
    // The columns are sized to the window; a horizontal bar would only show the 1 px border overlap.
    m_table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The cells show what the tasks report; they are not edited in place.
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    for (auto it = m_base_column_widths.constBegin(); it != m_base_column_widths.constEnd(); ++it) {
        m_table->setColumnWidth(it.key(), it.value());
    }
}

void MainWindow::refreshEmptyLook() {
    if (m_table->rowCount() > 0) {
        m_table->setStyleSheet(QString::fromLatin1(kTableWithRows));
        m_status_bar_widget->show();
    } else {
        m_table->setStyleSheet(QString::fromLatin1(kTableEmpty));
        m_status_bar_widget->hide();
    }
}

QFont MainWindow::rowFont() const {
    QFont font(tr("Microsoft YaHei UI"));
    font.setPixelSize(12);
    return font;
}

void MainWindow::addTask(std::shared_ptr<TaskInterface> task) {
    if (!task) {
        return;
    }
    task->setObserver(this);
    const QString id = task->taskId();
    m_tasks.insert(id, task);
    m_added_at.insert(id, QDateTime::currentDateTime());
    appendTaskRow(task);
    FLOG(FLOG_INFO, "task %s added, type %d", id.toUtf8().constData(), task->taskType());
    task->startTask();
    refreshEmptyLook();
}

void MainWindow::appendTaskRow(const std::shared_ptr<TaskInterface>& task) {
    const QString id = task->taskId();
    const QFont font = rowFont();
    const QFontMetrics metrics(font);
    const int row = m_table->rowCount();
    m_table->insertRow(row);
    m_table->setRowHeight(row, kRowHeight);

    auto makeItem = [&](const QString& text, const QString& color, Qt::Alignment alignment) {
        auto* item = new QTableWidgetItem(text);
        item->setFont(font);
        item->setData(Qt::UserRole, id);
        if (!color.isEmpty()) {
            item->setForeground(QColor(color));
        }
        item->setTextAlignment(int(alignment));
        return item;
    };

    auto* source =
        makeItem(QStringLiteral("   ") + metrics.elidedText(task->sourceName(), Qt::ElideRight, 180),
                 QStringLiteral("#38404b"), Qt::AlignLeft | Qt::AlignVCenter);
    source->setToolTip(task->sourceToolTip());
    m_table->setItem(row, kColumnSource, source);
    m_table->setItem(row, kColumnOutput,
                     makeItem(formatOutputText(font, task->outputPath()), QStringLiteral("#79808b"),
                              Qt::AlignLeft | Qt::AlignVCenter));
    m_table->setItem(row, kColumnType, makeItem(QString(), QString(), Qt::AlignCenter));
    const int status = task->status();
    m_table->setItem(
        row, kColumnStatus,
        makeItem(TaskTexts::statusText(status), TaskTexts::statusColor(status), Qt::AlignCenter));
    m_table->setItem(row, kColumnRemark,
                     makeItem(QStringLiteral("-"), QStringLiteral("#38404b"), Qt::AlignCenter));
}

QTableWidgetItem* MainWindow::findTaskItem(const QString& id, int column,
                                           std::shared_ptr<TaskInterface>* task) const {
    const auto it = m_tasks.constFind(id);
    if (it == m_tasks.constEnd()) {
        return nullptr;
    }
    for (int row = 0; row < m_table->rowCount(); ++row) {
        QTableWidgetItem* item = m_table->item(row, column);
        if (item && item->data(Qt::UserRole).toString() == id) {
            if (task) {
                *task = it.value();
            }
            return item;
        }
    }
    return nullptr;
}

int MainWindow::taskTypeAt(const QModelIndex& index) const {
    QTableWidgetItem* item = m_table->item(index.row(), index.column());
    if (!item) {
        return -1;
    }
    const auto it = m_tasks.constFind(item->data(Qt::UserRole).toString());
    if (it == m_tasks.constEnd() || !it.value()) {
        return -1;
    }
    return it.value()->taskType();
}

// Observer operations: called on any thread, they only queue the matching slot on the GUI thread.
void MainWindow::onStatusChange(QString id, int status) {
    QMetaObject::invokeMethod(this, "slotStatusChange", Q_ARG(QString, id), Q_ARG(int, status));
}

void MainWindow::onFinish(QString id, bool success, int reason) {
    QMetaObject::invokeMethod(this, "slotFinish", Q_ARG(QString, id), Q_ARG(bool, success),
                              Q_ARG(int, reason));
}

void MainWindow::onProgressValueChange(QString id, float value) {
    QMetaObject::invokeMethod(this, "slotProgressValueChange", Q_ARG(QString, id), Q_ARG(float, value));
}

void MainWindow::slotStatusChange(QString id, int status) {
    std::shared_ptr<TaskInterface> task;
    QTableWidgetItem* item = findTaskItem(id, kColumnStatus, &task);
    if (!item || item->data(Qt::UserRole).toString() != id) {
        return;
    }
    item->setText(TaskTexts::statusText(status));
    item->setForeground(QColor(TaskTexts::statusColor(status)));
    task->setStatus(status);
    const int row = item->row();
    if (QTableWidgetItem* output = m_table->item(row, kColumnOutput)) {
        const QString path = task->outputPath();
        output->setText(formatOutputText(rowFont(), path));
        output->setToolTip(path);
    }
    if (QWidget* bar = m_table->cellWidget(row, kColumnStatus)) {
        bar->deleteLater();
        m_table->removeCellWidget(row, kColumnStatus);
    }
    recordEnded(id, status);
}

void MainWindow::slotFinish(QString id, bool success, int reason) {
    Q_UNUSED(success)
    QTableWidgetItem* item = findTaskItem(id, kColumnRemark, nullptr);
    if (!item) {
        return;
    }
    item->setText(TaskTexts::reasonText(reason));
    recordRemark(id, reason);
    FLOG(FLOG_INFO, "task %s finished, success %d, reason %d", id.toUtf8().constData(), int(success), reason);
}

void MainWindow::slotProgressValueChange(QString id, float value) {
    QTableWidgetItem* item = findTaskItem(id, kColumnStatus, nullptr);
    if (!item) {
        return;
    }
    const int row = item->row();
    auto* bar = qobject_cast<QProgressBar*>(m_table->cellWidget(row, kColumnStatus));
    if (!bar) {
        bar = new QProgressBar();
        bar->setRange(0, 100);
        m_table->setCellWidget(row, kColumnStatus, bar);
    }
    bar->setValue(int(value * 100));
}

void MainWindow::slotRefreshDuration() {
    QTableWidgetItem* item = m_table->item(m_table->currentRow(), kColumnSource);
    if (!item) {
        m_label_task_duration->setText(QString());
        return;
    }
    const auto it = m_tasks.constFind(item->data(Qt::UserRole).toString());
    if (it == m_tasks.constEnd() || !it.value()) {
        return;
    }
    const qint64 ms = it.value()->timeConsume();
    const qint64 seconds = ms / 1000;
    const QString text = QStringLiteral("%1:%2:%3.%4")
                             .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
                             .arg((seconds / 60) % 60, 2, 10, QLatin1Char('0'))
                             .arg(seconds % 60, 2, 10, QLatin1Char('0'))
                             .arg(ms % 1000, 3, 10, QLatin1Char('0'));
    m_label_task_duration->setText(text.section(QLatin1Char('.'), 0, 0));
}

void MainWindow::runTaskWindow(int taskType) {
    std::shared_ptr<TaskInterface> task = createTaskWindow(taskType);
    auto* dialog = dynamic_cast<QDialog*>(task.get());
    if (!dialog) {
        if (task) {
            FLOG(FLOG_WARN, "task window of type %d is not a dialog", taskType);
        }
        return;
    }
    if (dialog->exec() == QDialog::Accepted) {
        addTask(task);
    }
}

void MainWindow::on_pushButton_cut_clicked() {
    runTaskWindow(TaskType::Cut);
}

void MainWindow::on_pushButton_merge_clicked() {
    runTaskWindow(TaskType::Merge);
}

void MainWindow::on_pushButton_convert_clicked() {
    runTaskWindow(TaskType::Convert);
}

void MainWindow::on_pushButton_setting_clicked() {
    SystemSetting setting(this);
    setting.exec();
}

void MainWindow::on_show_message(QString message, QString title, bool isexec) {
    VRKMessageBox::showMessage(false, message, title, isexec);
}

void MainWindow::on_tableWidget_customContextMenuRequested(QPoint point) {
    QTableWidgetItem* item = m_table->itemAt(point);
    if (!item) {
        return;
    }
    const QString id = item->data(Qt::UserRole).toString();
    const auto it = m_tasks.constFind(id);
    if (it == m_tasks.constEnd() || !it.value()) {
        return;
    }
    const std::shared_ptr<TaskInterface> task = it.value();
    const int status = task->status();

    QMenu menu(this);
    if (status != TaskStatus::Converting && status != TaskStatus::Finished && status != TaskStatus::Failed) {
        menu.addAction(tr("edit"), this, [task] {
            if (auto* dialog = dynamic_cast<QDialog*>(task.get())) {
                dialog->exec();
            }
        });
        // Kept for the waiting task's own output options; nothing to do here yet.
        menu.addAction(tr("Output Option"));
    }
    if (status != TaskStatus::Failed) {
        menu.addAction(tr("Open Output Path"), this, [task] {
            const QString dir = QFileInfo(task->outputPath()).absolutePath();
            QDesktopServices::openUrl(QUrl::fromLocalFile(QDir::toNativeSeparators(dir)));
        });
    }
    auto* cancellable = dynamic_cast<CancellableTask*>(task.get());
    if (cancellable && status == TaskStatus::Converting) {
        menu.addAction(tr("Cancel task"), this, [task, cancellable] {
            if (task->status() == TaskStatus::Converting) {
                cancellable->cancelTask();
            }
        });
    }
    if (status != TaskStatus::Converting) {
        menu.addAction(tr("Delete task"), this, [this, id, status] {
            // A finished task's package stays on disk; the question says so before the row goes.
            if (status == TaskStatus::Finished &&
                VRKMessageBox::showMessage(true,
                                           tr("Remove this task from the list? Its output file is kept."),
                                           tr("Delete task"), true) != 0) {
                return;
            }
            for (int row = 0; row < m_table->rowCount(); ++row) {
                QTableWidgetItem* cell = m_table->item(row, kColumnSource);
                if (cell && cell->data(Qt::UserRole).toString() == id) {
                    m_table->removeRow(row);
                    break;
                }
            }
            m_tasks.remove(id);
            forgetHistory(id);
            refreshEmptyLook();
        });
    }
    if (!m_history.isEmpty()) {
        menu.addSeparator();
        menu.addAction(tr("Clear task history"), this, [this] { clearHistory(); });
    }
    menu.exec(QCursor::pos());
}

void MainWindow::on_minBtn_clicked() {
    showMinimized();
}

void MainWindow::on_maxBtn_clicked() {
    m_maximised = !m_maximised;
    m_max_btn->setChecked(m_maximised);
    QScreen* screen = windowHandle() ? windowHandle()->screen() : QGuiApplication::primaryScreen();
    if (!screen) {
        return;
    }
    const QRect full = screen->geometry();
    if (m_maximised) {
        setFixedSize(full.size());
        setGeometry(full);
    } else {
        setFixedSize(kWindowWidth, kWindowHeight);
        QRect r(0, 0, kWindowWidth, kWindowHeight);
        r.moveCenter(full.center());
        setGeometry(r);
    }
}

void MainWindow::on_closeBtn_clicked() {
    bool busy = false;
    for (const auto& task : qAsConst(m_tasks)) {
        if (task && (task->status() == TaskStatus::Converting || task->status() == TaskStatus::Wait)) {
            busy = true;
            break;
        }
    }
    if (busy &&
        VRKMessageBox::showMessage(true, tr("The task is in progress, is it out?"), tr("exit"), true) != 0) {
        return;
    }
    m_tasks.clear();
    close();
}

void MainWindow::mousePressEvent(QMouseEvent* event) {
    const QRect strip(m_titlebar_widget->mapTo(this, QPoint(0, 0)), m_titlebar_widget->size());
    if ((event->buttons() & Qt::LeftButton) && strip.contains(event->pos())) {
        m_pressed = true;
        m_press_pos = mapToGlobal(event->pos());
        m_window_pos = pos();
    }
}

void MainWindow::mouseReleaseEvent(QMouseEvent*) {
    m_pressed = false;
}

void MainWindow::mouseMoveEvent(QMouseEvent* event) {
    if ((event->buttons() & Qt::LeftButton) && m_pressed) {
        move(m_window_pos + event->globalPos() - m_press_pos);
    }
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    int sum = 0;
    for (int w : qAsConst(m_base_column_widths)) {
        sum += w;
    }
    for (auto it = m_base_column_widths.constBegin(); it != m_base_column_widths.constEnd(); ++it) {
        m_table->setColumnWidth(it.key(), int(width() * it.value() * 1.0 / sum));
    }
}
