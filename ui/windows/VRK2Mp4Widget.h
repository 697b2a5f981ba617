#pragma once
// The window in which the user sets up the conversion of one package into an MP4 and, once the
// conversion runs, the task the main window lists for it.
#include <QString>

#include <memory>

#include "TaskWindow.h"

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

// Converting from construction on: the conversion runs before the main window adopts the task.
// A failed conversion keeps the time it ran.
class VRK2Mp4Widget : public TaskWindow {
    Q_OBJECT
public:
    explicit VRK2Mp4Widget(QWidget* parent = nullptr);
    ~VRK2Mp4Widget() override;

    QString sourceName() override;
    QString sourceToolTip() override;
    // The path of the form.
    QString outputPath() override;
    bool startTask() override;
    // Stops the recording; the task ends at once as cancelled.
    void cancelTask() override;

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
    bool m_failed = false;
    ReadWaitAbort m_load_wait;  // the loading page's wait
};
