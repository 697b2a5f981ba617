#pragma once
// The window in which the user sets up the conversion of one package into an MP4 and, once the
// conversion runs, the task the main window lists for it.
#include <QDateTime>
#include <QString>

#include <atomic>
#include <memory>

#include "BaseDialog.h"
#include "TaskInterface.h"

class QEventLoop;
class QGridLayout;
class QLabel;
class QLineEdit;
class QProgressIndicator;
class QPushButton;
class QStackedWidget;
class QVBoxLayout;
class VRK2Mp4;

struct VRK2Mp4WidgetForm {
    QVBoxLayout* verticalLayout = nullptr;
    QWidget* widget_titlebar = nullptr;
    QLabel* label_4 = nullptr;
    QPushButton* closeBtn = nullptr;
    QStackedWidget* stackedWidget = nullptr;
    QWidget* page = nullptr;
    QGridLayout* gridLayout = nullptr;
    QLabel* label = nullptr;
    QLineEdit* lineEditFile = nullptr;
    QPushButton* pushButtonBrowser = nullptr;
    QLabel* label_2 = nullptr;
    QLineEdit* lineEditFileOutputPath = nullptr;
    QPushButton* pushButtonSelect = nullptr;
    QLabel* label_3 = nullptr;
    QLineEdit* lineEditWidth = nullptr;
    QPushButton* pushButtonConvert = nullptr;
    QLabel* label_5 = nullptr;
    QLineEdit* lineEditHeight = nullptr;
    QLabel* label_7 = nullptr;
    QLineEdit* lineEditVideoBitrate = nullptr;
    QWidget* page_2 = nullptr;
    QProgressIndicator* indicator = nullptr;
    QLabel* label_6 = nullptr;

    void setupUi(QDialog* form);
};

class VRK2Mp4Widget : public BaseDialog, public TaskInterface, public CancellableTask {
    Q_OBJECT
public:
    explicit VRK2Mp4Widget(QWidget* parent = nullptr);
    ~VRK2Mp4Widget() override;

    QString taskId() override;
    int taskType() override;
    QString sourceName() override;
    QString sourceToolTip() override;
    QString outputPath() override;
    int status() override;
    void setStatus(int status) override;
    qint64 timeConsume() override;
    bool startTask() override;
    void cancelTask() override;
    void setObserver(TaskInterfaceObserver* observer) override;

    VRK2Mp4WidgetForm* form() { return &m_form; }
    // Closing (close button, Escape) while the package loads also abandons the conversion.
    void reject() override;
    std::shared_ptr<VRK2Mp4> exporter() const { return m_exporter; }

private slots:
    void on_closeBtn_clicked();
    void on_pushButtonBrowser_clicked();
    void on_pushButtonSelect_clicked();
    void on_pushButtonConvert_clicked();

private:
    void showWarning(const QString& text);
    void onConvertFailed(int code);
    void onConvertFinished();

    VRK2Mp4WidgetForm m_form;
    std::shared_ptr<VRK2Mp4> m_exporter;
    std::atomic<int> m_status{TaskStatus::Converting};
    TaskInterfaceObserver* m_observer = nullptr;
    QString m_id;
    QDateTime m_start_time;
    QDateTime m_end_time;
    bool m_failed = false;
    QEventLoop* m_load_loop = nullptr;  // the loading page's wait, while it runs
    bool m_load_abandoned = false;
};
