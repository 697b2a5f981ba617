#pragma once
// The cut task window: opens one package, plays it inside its layout template with a timeline under
// the video, lets the user mark the segments to keep and, once confirmed, writes the cut package.
#include <QDateTime>
#include <QPointer>
#include <QString>
#include <QPair>
#include <QTimer>
#include <QVector>
#include <memory>

#include "TaskWindow.h"
#include "VideoFrameTimes.h"

class CSuspensionWidget;
class CustomSlider;
class DataWrapper;
class OutputOptionSetting;
class QDateTimeEdit;
class QKeyEvent;
class QLabel;
class QPushButton;
class QTableWidget;
class QWidget;
class TemplateInterface;
class TimeTipLabel;

class ResourceEditWidget : public TaskWindow {
    Q_OBJECT
public:
    explicit ResourceEditWidget(QWidget* parent = nullptr);
    ~ResourceEditWidget() override;

    QString sourceName() override;
    QString sourceToolTip() override;
    bool startTask() override;

    // The session of the open package (null while empty).
    std::shared_ptr<DataWrapper> session() const { return m_data_wrapper; }
    CSuspensionWidget* notice() const { return m_notice; }
    OutputOptionSetting* outputOptions() const { return m_output_option; }

public slots:
    void on_pushButton_play_clicked(bool checked);
    void on_pushButton_sure_clicked();
    void on_pushButton_add_file_clicked();
    void on_pushButton_output_option_clicked();
    void on_dateTimeEdit_begin_dateTimeChanged(QDateTime datetime);
    void on_dateTimeEdit_end_dateTimeChanged(QDateTime datetime);
    void on_closeBtn_clicked();
    void slotPlay();
    void slotPause();
    void slotAddSegment();
    void slotSetStartSegment();
    void slotSetEndSegment();

private slots:
    void slotCurrentTimePoint(qint64 now_ms);
    void slotSeekDone(qint64 now_ms);
    void slotPlayingFinished(bool pause);
    void slotTimelineStopPlaying(bool stop);
    void slotCellEntered(int row, int column);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setupForm();
    void setupSegmentTable();
    // Reads `path` into a new session while the window waits; the window's own session is untouched.
    int readIntoSession(const std::shared_ptr<DataWrapper>& session, const QString& path);
    void preparePlayback();
    void discardTemplate();
    void releaseSession();
    void setPlayPicture(const QString& name);
    void refreshControls();
    void refreshCountLabel();
    void rebuildSegmentTable();
    void removeSegment(const QString& id);
    void recolourRows();
    void showNotice(const QString& text);
    void clampTimeEdit(QDateTimeEdit* edit, const QDateTime& datetime);
    void setEditTime(QDateTimeEdit* edit, qint64 ms);
    void onTimeChanged();
    // Keyboard and timeline comforts (ResourceEditWidgetKeys.cpp).
    void setupShortcutTips();
    bool keyFilter(QObject* watched, QEvent* event);
    bool handleShortcut(QWidget* receiver, QKeyEvent* key);
    void seekTo(qint64 ms);
    void stepFrame(int direction);
    void removeSelectedSegment();
    void slotSegmentDoubleClicked(int row);
    void refreshTimelineSegments();
    void slotDragPosition(qint64 ms);
    void sendDragSeek();
    // Preview of the cut (ResourceEditWidgetPreview.cpp); true when the report is not shown.
    void slotPreviewToggled(bool on);
    bool previewFollow(qint64 now_ms);

    // Form.
    QWidget* m_widget_titlebar = nullptr;
    QLabel* m_label_title = nullptr;
    QPushButton* m_close_btn = nullptr;
    QWidget* m_widget_holdplace = nullptr;
    CustomSlider* m_slider = nullptr;
    QPushButton* m_play_btn = nullptr;
    QLabel* m_label_current = nullptr;
    QLabel* m_label_full = nullptr;
    QPushButton* m_set_start_btn = nullptr;
    QPushButton* m_set_end_btn = nullptr;
    QDateTimeEdit* m_edit_begin = nullptr;
    QDateTimeEdit* m_edit_end = nullptr;
    QPushButton* m_add_segment_btn = nullptr;
    QPushButton* m_add_file_btn = nullptr;
    QPushButton* m_output_option_btn = nullptr;
    QLabel* m_segments_label = nullptr;
    QTableWidget* m_table = nullptr;
    QPushButton* m_sure_btn = nullptr;

    CSuspensionWidget* m_notice = nullptr;
    QString m_source_path;
    std::shared_ptr<DataWrapper> m_data_wrapper;
    TemplateInterface* m_template_interface = nullptr;
    OutputOptionSetting* m_output_option = nullptr;
    bool m_started = false;
    int m_hovered_row = -1;
    TimeTipLabel* m_time_tip = nullptr;
    VideoFrameTimes m_frame_times;  // read at the first frame step of a package
    QPushButton* m_preview_btn = nullptr;
    QVector<QPair<qint64, qint64>> m_preview_spans;  // kept segments while the preview runs
    int m_preview_index = 0;
    QTimer m_drag_timer;  // paces the seeks of a drag
    qint64 m_drag_target = -1;
    qint64 m_drag_sent = -1;
};
