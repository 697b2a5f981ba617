#pragma once
// The timeline bar under the cut window's video: maps between milliseconds and pixels, lets the user
// click or drag the play position inside the allowed range and reports hovering for the time tip.
#include <QPoint>
#include <QColor>
#include <QPair>
#include <QString>
#include <QVector>
#include <QWidget>
#include <memory>

#include "Segment.h"

class CustomSlider : public QWidget {
    Q_OBJECT
public:
    explicit CustomSlider(QWidget* parent = nullptr);

    void setDuration(qint64 ms);
    void setPosition(qint64 ms);
    void setRange(std::shared_ptr<_Segment> range);
    // Remembers the play state from before a drag; the release reports its negation as "stop".
    void setPlayingState(bool playing);
    void reset();
    // Kept stretches (begin, end in ms) drawn on the bar; the list replaces the earlier one.
    void setKeptSegments(const QVector<QPair<qint64, qint64>>& spans);
    static QColor keptColor() { return QColor(46, 204, 113); }
    // One wheel notch moves the position this far.
    static constexpr qint64 kWheelStepMs = 1000;

    qint64 duration() const { return m_duration; }
    qint64 position() const { return m_position; }
    bool isPressed() const { return m_pressed; }
    std::shared_ptr<_Segment> range() const { return m_range; }
    bool playingState() const { return m_bPlayingState; }

    int msToPixel(qint64 ms) const;
    qint64 pixelToMs(int x) const;

signals:
    void signalCurrentPosition(qlonglong position_ms);
    void signalShowTimeTips(QPoint point, QString text);
    void signalHideTimeTips();
    void signalStopPlaying(bool m_bPlayingState);
    // While a drag moves the position (the release still reports signalCurrentPosition).
    void signalDragPosition(qlonglong position_ms);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    bool insideRange(int x) const;

    qint64 m_duration = 0;
    qint64 m_position = 0;
    bool m_pressed = false;
    std::shared_ptr<_Segment> m_range;
    bool m_bPlayingState = false;
    QVector<QPair<qint64, qint64>> m_kept;
};
