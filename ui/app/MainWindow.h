#pragma once
// The program's only permanent window: the tool bar with the three task buttons and the task table.
// Tasks report from any thread; every report is re-posted to the GUI thread before the table is used.
#include <QItemDelegate>
#include <QMainWindow>
#include <QDateTime>
#include <QMap>
#include <QPoint>
#include <QTimer>
#include <memory>

#include "TaskHistory.h"
#include "TaskInterface.h"

class QLabel;
class QMenu;
class QPushButton;
class QTableWidget;
class QTableWidgetItem;
class MainWindow;

// Paints the "Task type" column: the type's icon and its name.
class DrawIconDelegate : public QItemDelegate {
    Q_OBJECT
public:
    DrawIconDelegate(MainWindow* window, QObject* parent);
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

private:
    MainWindow* m_main_window;
};

class MainWindow : public QMainWindow, public TaskInterfaceObserver {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Lists the task, starts it and keeps it until it is deleted or the window goes. Null is ignored.
    void addTask(std::shared_ptr<TaskInterface> task);
    // TaskType of the task listed in the row of `index`; -1 when there is none.
    int taskTypeAt(const QModelIndex& index) const;

    void onStatusChange(QString id, int status) override;
    void onFinish(QString id, bool success, int reason) override;
    void onProgressValueChange(QString id, float value) override;

    // Invokable by name from any thread; not a slot so that the by-name connection of the form's
    // slots does not look for an object called "show".
    Q_INVOKABLE void on_show_message(QString message, QString title, bool isexec);

public slots:
    void slotStatusChange(QString id, int status);
    void slotFinish(QString id, bool success, int reason);
    void slotProgressValueChange(QString id, float value);

private slots:
    void on_pushButton_cut_clicked();
    void on_pushButton_merge_clicked();
    void on_pushButton_convert_clicked();
    void on_pushButton_setting_clicked();
    void on_tableWidget_customContextMenuRequested(QPoint point);
    void on_minBtn_clicked();
    void on_maxBtn_clicked();
    void on_closeBtn_clicked();
    void slotRefreshDuration();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void setupForm();
    void setupTable();
    void refreshEmptyLook();
    void appendTaskRow(const std::shared_ptr<TaskInterface>& task);
    // Item of `column` in the row of task `id`, with the task; null item when there is no such row.
    QTableWidgetItem* findTaskItem(const QString& id, int column, std::shared_ptr<TaskInterface>* task) const;
    void runTaskWindow(int taskType);
    QFont rowFont() const;

    QWidget* m_titlebar_widget = nullptr;
    QLabel* m_title_label = nullptr;
    QPushButton* m_max_btn = nullptr;
    QWidget* m_status_bar_widget = nullptr;
    QLabel* m_label_task_duration = nullptr;
    QTableWidget* m_table = nullptr;

    QMap<QString, std::shared_ptr<TaskInterface>> m_tasks;
    QTimer m_duration_timer;
    bool m_pressed = false;
    QPoint m_press_pos;
    QPoint m_window_pos;
    QMap<int, int> m_base_column_widths;
    bool m_maximised = false;

    // Task history (MainWindowHistory.cpp): ended tasks of this and earlier runs.
    void loadHistory();
    void recordEnded(const QString& id, int status);
    void recordRemark(const QString& id, int reason);
    void forgetHistory(const QString& id);
    void clearHistory();
    QList<TaskRecord> m_history;
    QMap<QString, QDateTime> m_added_at;  // when each task of this run was listed
};
