#pragma once
// Last cell of a segment-table row: the segment's duration, swapped for a delete button on hover.
#include <QString>
#include <QWidget>

namespace Ui {
class operateCell;
}

class TableSegmentOperateWidget : public QWidget {
    Q_OBJECT
public:
    explicit TableSegmentOperateWidget(const QString& segmentId, QWidget* parent = nullptr);
    ~TableSegmentOperateWidget() override;

    QString segmentId() const;
    void setDuration(qint64 ms);
    void setBackground(const QString& colorName);
    void setDeleteVisible(bool visible);

    QString durationText() const;
    bool isDeleteVisible() const;

signals:
    void signalRemoveSegment();

protected:
    void enterEvent(QEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    Ui::operateCell* ui;
    QString m_segment_id;
};
