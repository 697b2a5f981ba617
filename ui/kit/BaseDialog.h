#pragma once
// Frameless dialog that the user moves by dragging the strip at its top. Background, border and
// background pictures come from the subclass's style sheet.
#include <QDialog>
#include <QPoint>

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
