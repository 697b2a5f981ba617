#pragma once
// The whiteboard: the current document page with the drawings made on it up to the play position.
#include <QList>
#include <QPixmap>
#include <QSize>
#include <QWidget>
#include <memory>

#include "DataWrapperObserver.h"
#include "ResourceItem.h"

class PlotView : public QWidget, public DataWrapperObserver {
    Q_OBJECT
public:
    explicit PlotView(QWidget* parent = nullptr);
    ~PlotView() override;

    void onDataWrapper(std::shared_ptr<DataWrapper> session) override;
    void onItem(std::shared_ptr<DataWrapper> session, std::shared_ptr<_VRKItemBase> item) override;
    void onItemList(std::shared_ptr<DataWrapper> session, QList<std::shared_ptr<_VRKItemBase>> items,
                    int kind) override;
    void onDataWrapperValue(std::shared_ptr<DataWrapper> session, int value) override;

    std::shared_ptr<_PageChangeItem> currentPage() const { return m_current_page; }
    QList<std::shared_ptr<_DrawItem>> drawings() const { return m_drawings; }
    // The page picture with all drawings, at page resolution.
    QPixmap canvas() const { return m_canvas; }
    // Recorded page size, or the canvas size; invalid without a page.
    QSize pageSize() const;
    // Size at which the page is shown inside the widget; invalid when nothing is shown.
    QSize displaySize() const;
    // File the current page is read from; empty for a plain whiteboard page.
    QString pageImagePath() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool acceptDraw(const std::shared_ptr<_DrawItem>& draw) const;
    void applyDraw(const std::shared_ptr<_DrawItem>& draw);
    void resetPage();
    // `report`: log a missing image (once per page change, not on every redraw).
    void loadPageImage(bool report);
    void redrawCanvas();
    void paintDrawing(const std::shared_ptr<_DrawItem>& draw, const QSize& page);

    std::shared_ptr<_PageChangeItem> m_current_page;
    std::shared_ptr<DataWrapper> m_data_wrapper;
    QList<std::shared_ptr<_DrawItem>> m_drawings;
    QPixmap m_canvas;
    // True while onItem lets pending GUI events run; a call arriving then is handled at once but
    // does not spin the event loop again, so events stay in arrival order and are applied once.
    bool m_processing_events = false;
};
