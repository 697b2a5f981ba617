#pragma once
// Frameless dialog that the user moves by dragging the strip at its top. Background, border and
// background pictures come from the subclass's style sheet.
#include <QDialog>
#include <QPoint>

class QLabel;
class QPushButton;

// The 30 px title strip of the dialogs and task windows: "widget_titlebar" holding the title label
// (named by each form) at the left and the 38 x 30 "closeBtn" at the right.
struct TitleStrip {
    QWidget* bar = nullptr;
    QLabel* title = nullptr;
    QPushButton* close = nullptr;
};
TitleStrip makeTitleStrip(QWidget* parent, const char* title_name, const QString& title);

class BaseDialog : public QDialog {
    Q_OBJECT
public:
    explicit BaseDialog(QWidget* parent = nullptr);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

    bool m_pressed = false;
    int m_drag_strip_height = 30;
    QPoint m_press_pos;
    QPoint m_window_pos;
};
