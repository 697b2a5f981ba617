#pragma once
// A red notice shown above the timeline for a few seconds (refused segments).
#include <QSize>
#include <QString>
#include <QWidget>

class QLabel;
class QTimer;

class CSuspensionWidget : public QWidget {
    Q_OBJECT
public:
    explicit CSuspensionWidget(QWidget* parent = nullptr);

    // Shows `text`; unless `keep`, the notice hides itself after the interval (restarted on each call).
    void showText(const QString& text, bool keep);
    void setInterval(int ms);
    void stopTimer();
    // Fixes the size to the text (invalid size and no change for an empty text).
    QSize fitToText();
    // Places the visible notice centred above the owner's child "widget_slider" and shows it.
    void placeAboveSlider(QWidget* owner);

    QString text() const;
    QTimer* hideTimer() const { return m_hide_timer; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void createTimer();

    QLabel* m_label = nullptr;
    QTimer* m_hide_timer = nullptr;
};
