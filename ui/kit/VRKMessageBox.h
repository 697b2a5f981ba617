#pragma once
// The program's message box: title strip, word-wrapped message lines, "Ok" and "Cancel".
// Result codes: 0 "Ok" or Escape, 1 "Cancel", 2 the close button of the title strip.
#include "BaseDialog.h"

class QLabel;
class QPushButton;
class QWidget;

class VRKMessageBox : public BaseDialog {
    Q_OBJECT
public:
    enum Result { ResultOk = 0, ResultCancel = 1, ResultClose = 2 };

    explicit VRKMessageBox(QWidget* parent = nullptr);

    void setMessage(const QString& text);
    void setTitle(const QString& text);
    // False hides "Cancel"; true changes nothing.
    void setCancelVisible(bool visible);

    // Modal: runs the box and returns its result code. Not modal: shows it, returns 0 at once; the
    // box destroys itself when the user closes it.
    static int showMessage(bool showCancel, const QString& message, const QString& title, bool modal);

    // Breaks `text` into lines no wider than `maxWidth` pixels in the font of `metrics`.
    static QStringList breakLines(const QString& text, const QFontMetrics& metrics, int maxWidth);

private slots:
    void on_closeBtn_clicked();
    void on_cancelBtn_clicked();
    void on_okBtn_clicked();

private:
    void setupForm();

    QWidget* m_widget_titlebar = nullptr;
    QLabel* m_title_label = nullptr;
    QPushButton* m_close_btn = nullptr;
    QWidget* m_main_widget = nullptr;
    QWidget* m_text_holder_widget = nullptr;
    QWidget* m_bottom_widget = nullptr;
    QPushButton* m_ok_btn = nullptr;
    QPushButton* m_cancel_btn = nullptr;
};
