#pragma once
// Small spinning busy indicator: twelve spokes whose opacity falls around the circle.
#include <QColor>
#include <QWidget>

class QProgressIndicator : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int delay READ animationDelay WRITE setAnimationDelay)
    Q_PROPERTY(bool displayedWhenStopped READ isDisplayedWhenStopped WRITE setDisplayedWhenStopped)
    Q_PROPERTY(QColor color READ color WRITE setColor)
public:
    explicit QProgressIndicator(QWidget* parent = nullptr);

    int animationDelay() const { return m_delay; }
    bool isAnimated() const { return m_timer_id != -1; }
    bool isDisplayedWhenStopped() const { return m_displayed_when_stopped; }
    const QColor& color() const { return m_color; }
    // Rotation in degrees, a multiple of 30.
    int angle() const { return m_angle; }

    QSize sizeHint() const override;
    int heightForWidth(int w) const override;

public slots:
    void startAnimation();
    void stopAnimation();
    void setAnimationDelay(int delay);
    void setDisplayedWhenStopped(bool state);
    void setColor(const QColor& color);

protected:
    void timerEvent(QTimerEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    int m_angle = 0;
    int m_timer_id = -1;
    int m_delay = 50;
    bool m_displayed_when_stopped = false;
    QColor m_color = QColor(33, 33, 33);
};
