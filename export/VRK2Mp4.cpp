#define FLOG_SOURCE "export/VRK2Mp4"
#include "VRK2Mp4.h"

#include <QCoreApplication>
#include <QDebug>
#include <QEvent>
#include <QEventLoop>
#include <QFileInfo>
#include <QFrame>
#include <QGraphicsProxyWidget>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QImage>
#include <QLayout>
#include <QMetaType>
#include <QOpenGLContext>
#include <QOpenGLDebugLogger>
#include <QOpenGLFunctions_3_2_Core>
#include <QOpenGLPaintDevice>
#include <QOpenGLWidget>
#include <QPainter>
#include <QResizeEvent>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "DataWrapper.h"
#include "FLog.h"
#include "ChatView.h"
#include "QuestionAnswerView.h"
#include "TemplateFactory.h"
#include "TemplateInterface.h"
#include "VRK2Mp4Helper.h"
#include "VRK2Mp4Pictures.h"
#include "WorkspaceJournal.h"

Q_DECLARE_METATYPE(std::shared_ptr<SRecordFrame>)

namespace {

// Frames between two returns of freed heap pages to the system (10 s of a 25 fps video).
constexpr long long kTrimEveryFrames = 250;

}  // namespace

// The export's many threads (decoder, encoder, GL) would each keep an arena of their own.
void VRK2Mp4::keepHeapFlat() {
#ifdef __GLIBC__
    static const bool done = [] {
        mallopt(M_ARENA_MAX, 2);
        return true;
    }();
    (void)done;
#endif
}

// Large blocks (the views' paint buffers, decoded frames) are made on one thread and freed on
// another; glibc serves them from the heap, where the small long-lived blocks the views allocate
// in between keep the freed space from going back, so memory would creep up over the export.
// Mapping each block on its own instead costs a page fault per 4 KB; handing the free pages back
// every few seconds costs nothing measurable.
void VRK2Mp4::releaseFreedHeap() {
#ifdef __GLIBC__
    if (m_frames_rendered % kTrimEveryFrames == 0) {
        malloc_trim(0);
    }
#endif
}

VRK2Mp4::VRK2Mp4(QObject* parent) : QObject(parent), m_pictures(std::make_shared<VRK2Mp4Pictures>()) {
    qRegisterMetaType<std::shared_ptr<SRecordFrame>>("std::shared_ptr<SRecordFrame>");
}

VRK2Mp4::~VRK2Mp4() {
    if (m_frames_rendered > 0) {
        FLOG(FLOG_INFO, "template painted %lld times for %lld frames", m_template_renders, m_frames_rendered);
    }
    // The session may outlive us (a background read holds it): it must not call into the template.
    if (m_data_wrapper) {
        m_data_wrapper->setObserver(nullptr);
    }
    // GL objects go while their context is current.
    if (m_gl_widget && m_gl_widget->context()) {
        m_gl_widget->makeCurrent();
    }
    delete m_debug_logger;
    m_debug_logger = nullptr;
    m_helper.reset();
    if (m_gl_widget && m_gl_widget->context()) {
        m_gl_widget->doneCurrent();
    }
    // Stops and joins the recording thread; no observer call comes after this.
    m_recorder.reset();
    releasePartFile();
    m_template = nullptr;
    m_scene.reset();
    m_param.reset();
    m_view.reset();
    m_gl_widget = nullptr;
    m_data_wrapper.reset();
}

int VRK2Mp4::prepare(std::shared_ptr<_RecordParam> param) {
    m_param = param;
    m_data_wrapper = std::make_shared<DataWrapper>();
    m_data_wrapper->connectSignals();
    m_recorder = IMediaRecorder::create(this);
    return 0;
}

qint16 VRK2Mp4::openPackage(const QString& path, std::function<void(int)> callback) {
    if (!m_data_wrapper) {
        FLOG(FLOG_ERROR, "Open the %s is fail, m_dataWrapper is nullptr.", qUtf8Printable(path));
        return -1;
    }
    const qint16 result = m_data_wrapper->readFile(path, callback);
    if (result != 0) {
        FLOG(FLOG_ERROR, "read the %s is fail.", qUtf8Printable(path));
    }
    return result;
}

int VRK2Mp4::startConvert(const QString& output) {
    FLOG(FLOG_INFO, "Start convert the file:%s", qUtf8Printable(output));
    if (output.isEmpty()) {
        FLOG(FLOG_ERROR, "Cannot start conversion because the target path is empty");
        return 1;
    }
    std::shared_ptr<_RootItem> root = m_data_wrapper ? m_data_wrapper->getRootItem() : nullptr;
    if (!root) {
        FLOG(FLOG_ERROR, "Currently no VRK file is parsed");
        return 2;
    }
    if (!m_recorder) {
        FLOG(FLOG_ERROR, "m_recorder is nullptr.");
        return 3;
    }
    if (!m_param) {
        // Without parameters nothing can be rendered; the recorder refuses them as it would bad ones.
        FLOG(FLOG_ERROR, "m_recorder init error : %d.", int(RECORD_BAD_PARAM));
        FLOG(FLOG_ERROR, "initGraphics  fail.");
        return 4;
    }
    keepHeapFlat();
    m_param->input_path = root->video_path.toUtf8().toStdString();
    m_param->output_path = output.toUtf8().toStdString();

    const int graphics = initGraphics();
    if (graphics != 0) {
        FLOG(FLOG_ERROR, "initGraphics  fail.");
        return graphics;
    }

    m_template = createTemplateByType(templateTypeOf(root));
    QWidget* templateWidget = dynamic_cast<QWidget*>(m_template);
    QGraphicsProxyWidget* proxy = m_scene->addWidget(templateWidget);
    proxy->setGeometry(m_scene->sceneRect());
    updateVertices();
    m_data_wrapper->setObserver(m_template);
    m_template->mediaWidget()->setUpdatesEnabled(false);
    templateWidget->setGeometry(0, 0, m_param->width, m_param->height);
    // Nobody scrolls the exported views, so they may leave out what can never show again; a long
    // class then does not grow them without end.
    for (ChatView* chat : templateWidget->findChildren<ChatView*>()) {
        chat->setDropsHiddenEntries(true);
    }
    for (QuestionAnswerView* qa : templateWidget->findChildren<QuestionAnswerView*>()) {
        qa->setDropsHiddenQuestions(true);
    }
    // Every repaint request of the template or its views reaches the template widget (the top of
    // their widget tree) as one update request.
    templateWidget->installEventFilter(this);
    m_template_dirty = true;

    // The recorder's temporary file beside the output ("." name "." pid ...) goes at the next start
    // when this run is killed.
    const QFileInfo outInfo(output);
    m_part_dir = outInfo.absolutePath();
    m_part_prefix = QStringLiteral(".%1.%2.").arg(outInfo.fileName(),
                                                  QString::number(QCoreApplication::applicationPid()));
    m_part_journalled = WorkspaceJournal::registerPrefix(m_part_dir, m_part_prefix);
    return m_recorder->start() ? 0 : 5;
}

int VRK2Mp4::initGraphics() {
    const int r = m_recorder->init(m_param);
    if (r != 0) {
        FLOG(FLOG_ERROR, "m_recorder init error : %d.", r);
        return 4;
    }
    const int width = m_param->width;
    const int height = m_param->height;
    m_scene = std::make_shared<QGraphicsScene>(0, 0, width, height);
    FLOG(FLOG_INFO, "m_scene rect :(%d,%d,%d,%d).", 0, 0, width, height);

    m_gl_widget = new QOpenGLWidget();
    QSurfaceFormat format = m_gl_widget->format();
    format.setVersion(3, 2);
    format.setProfile(QSurfaceFormat::CoreProfile);
    format.setSamples(4);
    m_gl_widget->setFormat(format);

    m_view = std::make_shared<QGraphicsView>(m_scene.get());
    // No frame and no scroll bars: the viewport must be exactly the scene, pixel for pixel.
    m_view->setFrameShape(QFrame::NoFrame);
    m_view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_view->setViewport(m_gl_widget);

    // The GL widget is never shown; grabbing makes it create its context. It does so at a token
    // size: the widget's own framebuffer, 4 samples deep (30 MB at 720p), is never drawn into,
    // since the frames are painted into the helper's. The view then takes the scene's size without
    // the widget hearing of it (it is hidden), so that no full-size framebuffer follows.
    const QSize token(16, 16);
    m_view->resize(token);
    m_view->grab();
    m_gl_widget->grab();
    m_gl_widget->grabFramebuffer();
    m_view->resize(m_scene->sceneRect().size().toSize());
    QResizeEvent resized(m_view->size(), token);
    QCoreApplication::sendEvent(m_view.get(), &resized);

    QOpenGLContext* context = m_gl_widget->context();
    QOpenGLFunctions_3_2_Core* functions =
        context ? context->versionFunctions<QOpenGLFunctions_3_2_Core>() : nullptr;
    if (context && functions) {
        m_gl_widget->makeCurrent();
        m_helper = std::make_shared<VRK2Mp4Helper>();
        const int result = m_helper->initGL(functions);
        if (result == 0) {
            m_debug_logger = new QOpenGLDebugLogger(this);
            if (m_debug_logger->initialize()) {
                connect(m_debug_logger, &QOpenGLDebugLogger::messageLogged, this,
                        [](const QOpenGLDebugMessage& message) { qDebug() << message; });
                m_debug_logger->startLogging(QOpenGLDebugLogger::AsynchronousLogging);
            }
            functions->glClearColor(0, 0, 0, 1);
            m_gl_widget->doneCurrent();
            return 0;
        }
        FLOG(FLOG_ERROR, "Init opengl help result:%d", result);
        m_helper.reset();
        m_gl_widget->doneCurrent();
    } else {
        FLOG(FLOG_ERROR, "Graphcard does not support OpenGL core mode.");
    }
    m_scene.reset();
    return 6;
}

QRect VRK2Mp4::videoRect() {
    if (!m_template) {
        return QRect();
    }
    QWidget* templateWidget = dynamic_cast<QWidget*>(m_template);
    templateWidget->setGeometry(0, 0, m_param->width, m_param->height);
    // Lay the template out now: it is never shown, so no layout pass would come by itself.
    if (templateWidget->layout()) {
        templateWidget->layout()->activate();
    }
    std::shared_ptr<_MediaInfo> info = m_recorder ? m_recorder->getMediaInfo() : nullptr;
    if (!info || info->width <= 0 || info->height <= 0) {
        FLOG(FLOG_ERROR, "Cannot get current media information.");
        return QRect();
    }
    const QWidget* area = m_template->mediaWidget();
    const float areaWidth = float(area->width());
    const float areaHeight = float(area->height());
    float scale = areaHeight / float(info->height);
    const float scaledWidth = scale * float(info->width);
    if (scaledWidth <= areaWidth) {
        return QRect(int((areaWidth - scaledWidth) / 2), 0, int(scaledWidth), int(areaHeight));
    }
    scale = areaWidth / float(info->width);
    const float scaledHeight = scale * float(info->height);
    return QRect(0, int((areaHeight - scaledHeight) / 2), int(areaWidth), int(scaledHeight));
}

void VRK2Mp4::updateVertices() {
    if (!m_template) {
        return;
    }
    QRect r = videoRect();
    // The video area need not start at the template's corner (a column may come first, or margins):
    // place the picture and its black fill where the area really is.
    QWidget* templateWidget = dynamic_cast<QWidget*>(m_template);
    const QPoint areaPos = m_template->mediaWidget()->mapTo(templateWidget, QPoint(0, 0));
    m_media_area_rect = QRect(areaPos, m_template->mediaWidget()->size());
    if (!r.isEmpty()) {
        r.translate(areaPos);
    }
    m_video_rect = r;
    // The recorder scales the video to the rectangle (filtered as the ffmpeg program would): the
    // quad is then drawn texel for pixel, and only that many bytes cross over for each frame.
    if (m_recorder) {
        m_recorder->setFrameSize(r.width(), r.height());
    }
    const float W = float(m_param->width);
    const float H = float(m_param->height);
    const float sx = float(r.x()) / W * 2;
    const float sy = float(r.y()) / H * 2;
    const float sw = float(r.width()) / W * 2;
    const float sh = float(r.height()) / H * 2;
    const float vertices[20] = {
        sx - 1,      1 - sy,      0, 0, 1,  // top left
        sw - 1 + sx, 1 - sy,      0, 1, 1,  // top right
        sw - 1 + sx, 1 - sh - sy, 0, 1, 0,  // bottom right
        sx - 1,      1 - sh - sy, 0, 0, 0,  // bottom left
    };
    m_gl_widget->makeCurrent();
    m_helper->setVertices(vertices, 20);
    m_gl_widget->doneCurrent();
}

void VRK2Mp4::OnRecordFrame(std::shared_ptr<SRecordFrame> frame) {
    QMetaObject::invokeMethod(this, "slotCurrentTimePoint", Qt::QueuedConnection,
                              Q_ARG(std::shared_ptr<SRecordFrame>, frame));
}

void VRK2Mp4::OnRecordFinished() {
    // The temporary file has become the output or is gone by now.
    releasePartFile();
    emit signalConvertFinished();
}

void VRK2Mp4::releasePartFile() {
    if (m_part_journalled.exchange(false)) {
        WorkspaceJournal::releasePrefix(m_part_dir, m_part_prefix);
    }
}

void VRK2Mp4::OnRecordLog(int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    flog_vlog(level, format, args);
    va_end(args);
}

void VRK2Mp4::OnRecordError(int code) {
    m_error_code = code;
    emit signalConvertFailed(code);
}

void VRK2Mp4::slotCurrentTimePoint(std::shared_ptr<SRecordFrame> frame) {
    if (!m_data_wrapper || !frame) {
        return;
    }
    std::shared_ptr<_MediaInfo> info = m_recorder ? m_recorder->getMediaInfo() : nullptr;
    if (info && info->duration > 0) {
        emit signalProgressValueChange(float(double(frame->time) / double(info->duration)));
    }
    m_data_wrapper->OnTimePoint(frame->time);
    renderFrame(*frame);
}

bool VRK2Mp4::eventFilter(QObject* watched, QEvent* event) {
    if (m_template && watched == dynamic_cast<QWidget*>(m_template)) {
        switch (event->type()) {
            case QEvent::UpdateRequest:
            case QEvent::UpdateLater:
            case QEvent::Resize:
            case QEvent::Show:
            case QEvent::LayoutRequest:
                m_template_dirty = true;
                break;
            default:
                break;
        }
    }
    return QObject::eventFilter(watched, event);
}

// The widgets are painted by the raster engine into an image, which then goes to the framebuffer as
// one texture. Painted by the GL engine on a software driver, every widget's clip went through the
// stencil buffer: slower, and the driver kept memory from each clip, about 1 MB for each minute
// of video.
void VRK2Mp4::renderTemplate() {
    QImage image(m_view->size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::black);
    {
        QPainter raster(&image);
        raster.setRenderHint(QPainter::Antialiasing);
        raster.setRenderHint(QPainter::TextAntialiasing);
        m_view->render(&raster, QRectF(), QRect(), Qt::KeepAspectRatio);
        raster.fillRect(m_media_area_rect, Qt::black);
    }
    QOpenGLFunctions_3_2_Core* f = m_helper->functions();
    f->glViewport(0, 0, m_param->width, m_param->height);
    f->glClearColor(0, 0, 0, 1);
    f->glClear(GL_COLOR_BUFFER_BIT);
    QOpenGLPaintDevice device(m_view->size());
    QPainter painter(&device);
    // A fresh image each time: its texture goes with it, nothing piles up in the texture cache.
    painter.drawImage(QPoint(0, 0), image);
    painter.end();
    ++m_template_renders;
}

std::shared_ptr<_RGBAFrame> VRK2Mp4::readNv12(const QRect& changed) {
    // A picture that held a frame of this same painting differs from this frame only where the
    // planes were converted anew.
    VRK2Mp4Pictures::Taken taken = m_pictures->take(m_helper->nv12Size(), m_template_renders);
    const QRect read = taken.holds_painting ? changed : QRect();
    return m_helper->readNv12(taken.picture->data.get(), read) ? taken.picture : nullptr;
}

std::shared_ptr<_RGBAFrame> VRK2Mp4::readArgb(QOpenGLFramebufferObject& fbo) {
    // BGRA in reversed 8-bit order gives native 32-bit premultiplied ARGB words, the layout of the
    // frame; the rows come bottom up and are turned round in the one copy into it.
    QOpenGLFunctions_3_2_Core* f = m_helper->functions();
    const int width = fbo.width();
    const int height = fbo.height();
    const size_t rowBytes = size_t(width) * 4;
    m_readback.resize(rowBytes * size_t(height));
    fbo.bind();
    f->glPixelStorei(GL_PACK_ALIGNMENT, 4);
    f->glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    f->glReadPixels(0, 0, width, height, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, m_readback.data());
    if (f->glGetError() != GL_NO_ERROR) {
        return nullptr;
    }
    auto picture = std::make_shared<_RGBAFrame>();
    picture->width = width;
    picture->height = height;
    picture->data.reset(new uint8_t[rowBytes * size_t(height)]);
    const uint8_t* src = m_readback.data() + rowBytes * size_t(height - 1);
    uint8_t* dst = picture->data.get();
    for (int y = 0; y < height; ++y, src -= rowBytes, dst += rowBytes) {
        memcpy(dst, src, rowBytes);
    }
    return picture;
}

void VRK2Mp4::renderFrame(SRecordFrame& frame) {
    std::shared_ptr<_RGBAFrame> picture;
    if (m_helper && m_gl_widget && m_view && m_param) {
        // What this frame's events changed may still wait in the queue: item views lay out on a
        // zero timer and repaint requests are posted. Let them run now (the recorder delivers no
        // further frame before this picture), so that this frame already shows the change.
        if (QWidget* templateWidget = dynamic_cast<QWidget*>(m_template)) {
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
            // A widget added to a layout shows from a queued call, and only then asks its layout
            // for room: without this the frame could show the views half laid out.
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
            QCoreApplication::sendPostedEvents(templateWidget, QEvent::UpdateRequest);
        }
        m_gl_widget->makeCurrent();
        QOpenGLFunctions_3_2_Core* f = m_helper->functions();
        m_helper->ensureFramebuffer(m_param->width, m_param->height);
        m_helper->bindFramebuffer();
        std::shared_ptr<QOpenGLFramebufferObject> fbo = m_helper->framebuffer();
        if (fbo && fbo->isValid()) {
            // The quad covers the same rectangle every frame and the rest of the video area is
            // black, so an unchanged template need not be painted again.
            const bool repaint = m_template_dirty || m_painted_framebuffer != fbo.get();
            if (repaint) {
                m_template_dirty = false;
                m_painted_framebuffer = fbo.get();
                renderTemplate();
            }
            // Whatever the painter or another user of the context left behind: draw the picture
            // opaque, unclipped, on the whole framebuffer.
            f->glViewport(0, 0, m_param->width, m_param->height);
            f->glDisable(GL_BLEND);
            f->glDisable(GL_SCISSOR_TEST);
            f->glDisable(GL_DEPTH_TEST);
            f->glDisable(GL_STENCIL_TEST);
            f->glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
            m_helper->draw(frame);
            ++m_frames_rendered;
            releaseFreedHeap();

            // Errors left over from painting are not this read's (the debug logger reports them).
            for (int i = 0; i < 16 && f->glGetError() != GL_NO_ERROR; ++i) {
            }
            // Converted where the pixels are, only the video where the template stayed, and read
            // back at 1.5 bytes a pixel; the 32-bit picture is what remains when that is not possible.
            const QRect changed = repaint ? QRect() : m_video_rect.adjusted(-1, -1, 1, 1);
            picture = m_helper->convertToNv12(changed) ? readNv12(changed) : readArgb(*fbo);
            if (!picture) {
                FLOG(FLOG_ERROR, "the frame at %lld ms could not be read back",
                     static_cast<long long>(frame.time));
                // The next frame starts from a fresh template.
                m_template_dirty = true;
            }
        } else {
            FLOG(FLOG_ERROR, "no framebuffer for the frame at %lld ms", static_cast<long long>(frame.time));
        }
    }
    // An empty picture tells the recorder that this frame failed; it then abandons the file.
    try {
        frame.result.set_value(picture);
    } catch (const std::exception& e) {
        printf("%s\n", e.what());
    }
    if (m_helper) {
        m_helper->releaseFramebuffer();
    }
    if (m_gl_widget) {
        m_gl_widget->doneCurrent();
    }
}
