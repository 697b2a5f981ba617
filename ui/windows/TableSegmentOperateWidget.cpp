#include "TableSegmentOperateWidget.h"

#include "ui_TableSegmentOperateWidget.h"

TableSegmentOperateWidget::TableSegmentOperateWidget(const QString& segmentId, QWidget* parent)
    : QWidget(parent), ui(new Ui::operateCell), m_segment_id(segmentId) {
    ui->setupUi(this);
    ui->deleteSrcBtn->hide();
    ui->labelDuration->show();
    connect(ui->deleteSrcBtn, &QToolButton::clicked, this, [this]() { emit signalRemoveSegment(); });
}

TableSegmentOperateWidget::~TableSegmentOperateWidget() {
    delete ui;
}

QString TableSegmentOperateWidget::segmentId() const {
    return m_segment_id;
}

void TableSegmentOperateWidget::setDuration(qint64 ms) {
    const qint64 seconds = ms / 1000;
    const qint64 minutes = seconds / 60;
    ui->labelDuration->setText(QStringLiteral("%1:%2")
                                   .arg(minutes, 2, 10, QLatin1Char('0'))
                                   .arg(seconds % 60, 2, 10, QLatin1Char('0')));
}

void TableSegmentOperateWidget::setBackground(const QString& colorName) {
    if (colorName.isEmpty()) {
        return;
    }
    const QString sheet = QStringLiteral("QWidget{background:%1}").arg(colorName);
    setStyleSheet(sheet);
    ui->frame->setStyleSheet(sheet);
}

void TableSegmentOperateWidget::setDeleteVisible(bool visible) {
    ui->deleteSrcBtn->setVisible(visible);
    ui->labelDuration->setVisible(!visible);
}

QString TableSegmentOperateWidget::durationText() const {
    return ui->labelDuration->text();
}

bool TableSegmentOperateWidget::isDeleteVisible() const {
    return !ui->deleteSrcBtn->isHidden();
}

void TableSegmentOperateWidget::enterEvent(QEvent* event) {
    setDeleteVisible(true);
    QWidget::enterEvent(event);
}

void TableSegmentOperateWidget::leaveEvent(QEvent* event) {
    setDeleteVisible(false);
    QWidget::leaveEvent(event);
}
