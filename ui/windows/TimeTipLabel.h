#pragma once
// The small label that follows the mouse above the timeline and shows the time under it.
#include <QLabel>
#include <QPoint>
#include <QString>

class TimeTipLabel : public QLabel {
    Q_OBJECT
public:
    // `window` is the window the tip lives in (and is clamped to).
    explicit TimeTipLabel(QWidget* window);

public slots:
    void slotShowTimeTips(QPoint globalPoint, QString text);
    void slotHideTimeTips();
};
