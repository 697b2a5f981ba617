#pragma once
// Export engine: turns one package into an MP4. The recorder decodes the package's video; for each
// decoded frame the session is moved to the frame's time, the layout template is rendered off screen
// with OpenGL, the decoded picture is drawn into the video area and the result goes back to the
// recorder, which encodes it.
#include <QObject>
#include <QRect>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include "DataWrapperObserver.h"
#include "IMediaRecorder.h"

class DataWrapper;
class QGraphicsScene;
class QGraphicsView;
class QOpenGLDebugLogger;
class QOpenGLFramebufferObject;
class QOpenGLWidget;
class TemplateInterface;
class VRK2Mp4Helper;
class VRK2Mp4Pictures;

class VRK2Mp4 : public QObject, public DataWrapperObserver, public IMediaRecorderObserver {
    Q_OBJECT
public:
    explicit VRK2Mp4(QObject* parent = nullptr);
    ~VRK2Mp4() override;

    // Keeps the allocator from giving each of the export's threads an arena of its own;
    // startConvert() does it at the latest, a program that exports does it best first thing in
    // main(), before the package is read and the first threads allocate.
    static void keepHeapFlat();

    int prepare(std::shared_ptr<_RecordParam> param);
    // Reads the package in the background; `callback` gets 0 or a negative code on the reading thread.
    qint16 openPackage(const QString& path, std::function<void(int)> callback);
    // 0 started, 1 empty output path, 2 no package read, 3 no recorder, 4 parameters refused by the
    // recorder, 5 recorder did not start, 6 no OpenGL 3.2 core or the GL helper failed.
    int startConvert(const QString& output);

    // The recorder's failure code once it reported one, else 0.
    int errorCode() const { return m_error_code; }
    // Video rectangle in template coordinates, as computed at start (for tests and diagnostics).
    QRect videoRectInTemplate() const { return m_video_rect; }
    TemplateInterface* templateInterface() const { return m_template; }

    // DataWrapperObserver: the session's events go to the template, not here.
    void onDataWrapper(std::shared_ptr<DataWrapper>) override {}
    void onItem(std::shared_ptr<DataWrapper>, std::shared_ptr<_VRKItemBase>) override {}
    void onItemList(std::shared_ptr<DataWrapper>, QList<std::shared_ptr<_VRKItemBase>>, int) override {}
    void onDataWrapperValue(std::shared_ptr<DataWrapper>, int) override {}

    // IMediaRecorderObserver (recorder's thread).
    void OnRecordFrame(std::shared_ptr<SRecordFrame> frame) override;
    void OnRecordFinished() override;
    void OnRecordLog(int level, const char* format, ...) override;
    void OnRecordError(int code) override;

signals:
    void signalProgressValueChange(float value);
    // Emitted on the recorder's thread: connect queued.
    void signalConvertFinished();
    // The recording failed (emitted before signalConvertFinished, on the recorder's thread).
    void signalConvertFailed(int code);

public slots:
    void slotCurrentTimePoint(std::shared_ptr<SRecordFrame> frame);

protected:
    // Watches the template for repaint requests: the template is painted again only after one.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int initGraphics();
    // The part of the video area the picture fills, in the video area's own coordinates.
    QRect videoRect();
    void updateVertices();
    void renderFrame(SRecordFrame& frame);
    // Paints the template (with the video area black) into the bound framebuffer.
    void renderTemplate();
    // The framebuffer's picture as the encoder takes it (planes converted on the GPU, only `changed`
    // read where the picture held the same painting before; null: all), or as 32-bit pixels; null
    // on a GL error.
    std::shared_ptr<_RGBAFrame> readNv12(const QRect& changed);
    std::shared_ptr<_RGBAFrame> readArgb(QOpenGLFramebufferObject& fbo);
    // Every few seconds of video, gives the pages of freed heap blocks back to the system.
    void releaseFreedHeap();
    // Forgets the recorder's temporary file in the journal once the recording has ended.
    void releasePartFile();

    std::shared_ptr<DataWrapper> m_data_wrapper;
    std::shared_ptr<IMediaRecorder> m_recorder;
    TemplateInterface* m_template = nullptr;
    std::shared_ptr<VRK2Mp4Helper> m_helper;
    std::shared_ptr<QGraphicsScene> m_scene;
    std::shared_ptr<QGraphicsView> m_view;
    QOpenGLWidget* m_gl_widget = nullptr;
    std::shared_ptr<_RecordParam> m_param;

    QOpenGLDebugLogger* m_debug_logger = nullptr;
    QRect m_video_rect;       // video rectangle in template coordinates
    QRect m_media_area_rect;  // the video area in template coordinates
    std::atomic<int> m_error_code{0};
    QString m_part_dir;
    QString m_part_prefix;
    std::atomic<bool> m_part_journalled{false};

    // The framebuffer keeps the painted template between frames; only the video quad is drawn anew
    // until the template asks for a repaint.
    bool m_template_dirty = true;
    const void* m_painted_framebuffer = nullptr;  // the framebuffer the template was painted into
    long long m_template_renders = 0;
    long long m_frames_rendered = 0;
    std::vector<uint8_t> m_readback;  // bottom-up rows as the GL reads them, reused for every frame
    std::shared_ptr<VRK2Mp4Pictures> m_pictures;  // the encoder's pictures, each used again
};
