// GL frame conversion on a real OpenGL 3.2 core context (Mesa under Xvfb): textures, uniforms,
// framebuffer reuse and the YUV to RGB colours read back pixel by pixel.
#include <QApplication>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QOpenGLContext>
#include <QOpenGLWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <vector>

#include "TestSupport.h"
#include "VRK2Mp4Helper.h"

namespace {

// A decoded frame whose planes live in the object.
struct Planes {
    std::vector<uint8_t> y, u, v;
    SRecordFrame frame;
    Planes(int w, int h) : y(size_t(w) * h), u(size_t(w / 2) * (h / 2)), v(size_t(w / 2) * (h / 2)) {
        frame.width = w;
        frame.height = h;
        frame.y = y.data();
        frame.u = u.data();
        frame.v = v.data();
    }
    void fill(uint8_t Y, uint8_t U, uint8_t V) {
        std::fill(y.begin(), y.end(), Y);
        std::fill(u.begin(), u.end(), U);
        std::fill(v.begin(), v.end(), V);
    }
};

// Reference colour of one sample: full-range BT.601 (JPEG) YCbCr, clamped to [0, 1].
QColor reference(int Y, int U, int V) {
    const double y = Y / 255.0, u = U / 255.0 - 0.5, v = V / 255.0 - 0.5;
    auto c = [](double x) { return int(std::lround(std::min(1.0, std::max(0.0, x)) * 255.0)); };
    return QColor(c(y + 1.402 * v), c(y - 0.344136 * u - 0.714136 * v), c(y + 1.772 * u));
}

bool close(QRgb got, const QColor& want, int tol) {
    return qAbs(qRed(got) - want.red()) <= tol && qAbs(qGreen(got) - want.green()) <= tol &&
           qAbs(qBlue(got) - want.blue()) <= tol && qAlpha(got) == 255;
}

QString describe(QRgb got, const QColor& want) {
    return QString("got (%1,%2,%3,%4) want (%5,%6,%7)")
        .arg(qRed(got))
        .arg(qGreen(got))
        .arg(qBlue(got))
        .arg(qAlpha(got))
        .arg(want.red())
        .arg(want.green())
        .arg(want.blue());
}

// Quad covering the output rectangle (x, y, w, h) of a W x H target, as the exporter computes it.
std::vector<float> quad(float x, float y, float w, float h, float W, float H) {
    const float sx = x / W * 2, sy = y / H * 2, sw = w / W * 2, sh = h / H * 2;
    return {sx - 1,      1 - sy,      0, 0, 1,  //
            sw - 1 + sx, 1 - sy,      0, 1, 1,  //
            sw - 1 + sx, 1 - sh - sy, 0, 1, 0,  //
            sx - 1,      1 - sh - sy, 0, 0, 0};
}

// Peak signal-to-noise ratio of two byte arrays of the same size, in dB (99 when equal).
double psnr(const uint8_t* a, const uint8_t* b, size_t n) {
    double sum = 0;
    for (size_t i = 0; i < n; ++i) {
        const double d = double(a[i]) - double(b[i]);
        sum += d * d;
    }
    return sum == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / (sum / double(n)));
}

// Smooth colour gradients over the whole frame.
void fillGradients(Planes& p, int shift) {
    const int w = p.frame.width, h = p.frame.height, cw = w / 2, ch = h / 2;
    for (int r = 0; r < h; ++r) {
        for (int c = 0; c < w; ++c) {
            p.y[size_t(r) * w + c] = uint8_t(20 + (r + c + shift) * 215 / (w + h + shift));
        }
    }
    for (int r = 0; r < ch; ++r) {
        for (int c = 0; c < cw; ++c) {
            p.u[size_t(r) * cw + c] = uint8_t(60 + c * 140 / cw);
            p.v[size_t(r) * cw + c] = uint8_t(200 - r * 140 / ch);
        }
    }
}

}  // namespace

class HelperTest : public QObject {
    Q_OBJECT

private:
    QGraphicsScene* m_scene = nullptr;
    QGraphicsView* m_view = nullptr;
    QOpenGLWidget* m_gl = nullptr;
    QOpenGLFunctions_3_2_Core* m_f = nullptr;

    // Renders `frame` full size into a target of the frame's size (or `target` when given) and reads it back.
    QImage render(VRK2Mp4Helper& helper, const SRecordFrame& frame, QSize target = QSize(),
                  QRect rect = QRect()) {
        if (!target.isValid()) {
            target = QSize(frame.width, frame.height);
        }
        if (rect.isNull()) {
            rect = QRect(QPoint(0, 0), target);
        }
        helper.ensureFramebuffer(target.width(), target.height());
        helper.bindFramebuffer();
        m_f->glViewport(0, 0, target.width(), target.height());
        m_f->glClearColor(0, 0, 0, 1);
        m_f->glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
        const auto v = quad(rect.x(), rect.y(), rect.width(), rect.height(), target.width(), target.height());
        helper.setVertices(v.data(), int(v.size()));
        helper.draw(frame);
        QImage img = helper.framebuffer()->toImage();
        helper.releaseFramebuffer();
        return img;
    }

private slots:
    void initTestCase() {
        // The GL widget is never shown; grabbing forces its context, as the exporter does.
        m_scene = new QGraphicsScene(0, 0, 64, 64);
        m_gl = new QOpenGLWidget();
        QSurfaceFormat fmt = m_gl->format();
        fmt.setVersion(3, 2);
        fmt.setProfile(QSurfaceFormat::CoreProfile);
        fmt.setSamples(4);
        m_gl->setFormat(fmt);
        m_view = new QGraphicsView(m_scene);
        m_view->setViewport(m_gl);
        m_view->resize(64, 64);
        m_view->grab();
        m_gl->grab();
        m_gl->grabFramebuffer();
        QVERIFY2(m_gl->context(), "no GL context: run under xvfb-run, not with the offscreen platform");
        m_gl->makeCurrent();
        m_f = m_gl->context()->versionFunctions<QOpenGLFunctions_3_2_Core>();
        QVERIFY(m_f);
    }

    void cleanupTestCase() {
        m_gl->doneCurrent();
        delete m_view;
        delete m_scene;
    }

    void initSetsUpTexturesAndUniforms() {
        {
            VRK2Mp4Helper none;
            QCOMPARE(none.initGL(nullptr), -3);
            QVERIFY(!none.functions());
        }  // an uninitialised helper is destroyed without touching GL

        m_gl->makeCurrent();
        VRK2Mp4Helper helper;
        QCOMPARE(helper.initGL(m_f), 0);
        QCOMPARE(helper.functions(), m_f);
        GLint program = 0;
        m_f->glGetIntegerv(GL_CURRENT_PROGRAM, &program);
        QVERIFY(program != 0);
        const char* names[3] = {"tex_y", "tex_u", "tex_v"};
        for (int i = 0; i < 3; ++i) {
            GLint unit = -1;
            m_f->glGetUniformiv(GLuint(program), m_f->glGetUniformLocation(GLuint(program), names[i]), &unit);
            QCOMPARE(unit, 10 + i);
            m_f->glActiveTexture(GL_TEXTURE10 + i);
            GLint tex = 0, minFilter = 0, magFilter = 0;
            m_f->glGetIntegerv(GL_TEXTURE_BINDING_2D, &tex);
            QVERIFY(tex != 0);
            m_f->glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
            m_f->glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &magFilter);
            QCOMPARE(minFilter, GLint(GL_NEAREST));
            QCOMPARE(magFilter, GLint(GL_NEAREST));
        }
        // The clear colour is white once it reaches a normalised framebuffer.
        helper.ensureFramebuffer(8, 8);
        helper.bindFramebuffer();
        m_f->glClear(GL_COLOR_BUFFER_BIT);
        const QImage cleared = helper.framebuffer()->toImage();
        helper.releaseFramebuffer();
        QCOMPARE(cleared.pixel(3, 3), qRgba(255, 255, 255, 255));
        m_f->glActiveTexture(GL_TEXTURE0);
    }

    void framebufferIsKeptUntilTheSizeChanges() {
        m_gl->makeCurrent();
        VRK2Mp4Helper helper;
        QCOMPARE(helper.initGL(m_f), 0);
        QVERIFY(!helper.framebuffer());
        helper.bindFramebuffer();  // nothing to bind yet: no effect
        helper.ensureFramebuffer(641, 361);
        auto first = helper.framebuffer();
        QVERIFY(first && first->isValid());
        QCOMPARE(first->size(), QSize(641, 361));
        QVERIFY(first->attachment() == QOpenGLFramebufferObject::CombinedDepthStencil);
        QCOMPARE(first->format().samples(), 0);
        helper.ensureFramebuffer(641, 361);
        QCOMPARE(helper.framebuffer().get(), first.get());
        helper.ensureFramebuffer(1280, 720);
        QVERIFY(helper.framebuffer().get() != first.get());
        QCOMPARE(helper.framebuffer()->size(), QSize(1280, 720));
        helper.resetFramebuffer();
        QVERIFY(!helper.framebuffer());
    }

    void convertsColoursOnRealPixels() {
        m_gl->makeCurrent();
        VRK2Mp4Helper helper;
        QCOMPARE(helper.initGL(m_f), 0);
        Planes p(64, 48);
        // Mid grey, the saturated sample (R clamps, G about 0.642, B clamps), black, and a few colours.
        const int samples[][3] = {{128, 128, 128}, {255, 128, 255}, {0, 128, 128}, {81, 90, 240},
                                  {145, 54, 34},   {41, 240, 110},  {200, 20, 200}};
        for (const auto& s : samples) {
            p.fill(uint8_t(s[0]), uint8_t(s[1]), uint8_t(s[2]));
            const QImage img = render(helper, p.frame);
            QCOMPARE(img.size(), QSize(64, 48));
            const QColor want = reference(s[0], s[1], s[2]);
            for (const QPoint& at : {QPoint(0, 0), QPoint(32, 24), QPoint(63, 47)}) {
                const QRgb got = img.pixel(at);
                QVERIFY2(close(got, want, 1), qPrintable(describe(got, want)));
            }
        }
        // The values the conversion is defined by, directly.
        p.fill(128, 128, 128);
        QVERIFY(close(render(helper, p.frame).pixel(5, 5), QColor(128, 128, 128), 1));
        p.fill(255, 128, 255);
        const QRgb bright = render(helper, p.frame).pixel(5, 5);
        QCOMPARE(qRed(bright), 255);
        QVERIFY2(qAbs(qGreen(bright) - 164) <= 1, qPrintable(QString::number(qGreen(bright))));  // 0.642
        QCOMPARE(qBlue(bright), 255);
    }

    void oddFrameSizesKeepRowsAndOrientation() {
        m_gl->makeCurrent();
        VRK2Mp4Helper helper;
        QCOMPARE(helper.initGL(m_f), 0);
        const int w = 641, h = 361, cw = w / 2, ch = h / 2;
        Planes p(w, h);
        QCOMPARE(int(p.u.size()), 320 * 180);
        for (int r = 0; r < h; ++r) {
            for (int c = 0; c < w; ++c) {
                p.y[r * w + c] = uint8_t((r * 7 + c * 3) % 256);
            }
        }
        for (int r = 0; r < ch; ++r) {
            for (int c = 0; c < cw; ++c) {
                p.u[r * cw + c] = uint8_t(60 + (c * 5) % 140);
                p.v[r * cw + c] = uint8_t(60 + (r * 3) % 140);
            }
        }
        const QImage img = render(helper, p.frame);
        QCOMPARE(img.size(), QSize(w, h));
        // Nearest sampling maps output pixel x to texel floor((x + 0.5) / w * texels); pixels that sit
        // exactly on a texel border may go either way and are skipped.
        auto texel = [](int x, int outSize, int texels, bool* border) {
            const double t = (x + 0.5) / outSize * texels;
            *border = std::fabs(t - std::round(t)) < 1e-3;
            return int(t);
        };
        int checked = 0, wrong = 0;
        QString firstWrong;
        for (int r = 0; r < h; ++r) {
            for (int c = 0; c < w; ++c) {
                bool bx = false, by = false;
                const int tc = texel(c, w, cw, &bx), tr = texel(r, h, ch, &by);
                if (bx || by) {
                    continue;
                }
                // Row 0 of the picture is the top row of the image.
                const QColor want = reference(p.y[r * w + c], p.u[tr * cw + tc], p.v[tr * cw + tc]);
                const QRgb got = img.pixel(c, r);
                ++checked;
                if (!close(got, want, 1)) {
                    if (!wrong++) {
                        firstWrong = QString("(%1,%2): ").arg(c).arg(r) + describe(got, want);
                    }
                }
            }
        }
        QVERIFY(checked > w * h * 9 / 10);
        QVERIFY2(wrong == 0, qPrintable(QString::number(wrong) + " wrong, first " + firstWrong));

        // Drawn into a sub-rectangle, the frame covers exactly that rectangle and nothing else.
        Planes grey(641, 361);
        grey.fill(235, 128, 128);
        const QRect rect(77, 10, 300, 200);
        const QImage part = render(helper, grey.frame, QSize(641, 361), rect);
        for (const QPoint& at : {rect.topLeft(), rect.bottomRight(), rect.center()}) {
            QVERIFY2(close(part.pixel(at), reference(235, 128, 128), 1),
                     qPrintable(describe(part.pixel(at), {})));
        }
        for (const QPoint& at : {rect.topLeft() - QPoint(1, 0), rect.bottomRight() + QPoint(1, 1),
                                 QPoint(rect.center().x(), rect.top() - 1), QPoint(640, 360), QPoint(0, 0)}) {
            QVERIFY2(close(part.pixel(at), QColor(0, 0, 0), 0),
                     qPrintable(describe(part.pixel(at), Qt::black)));
        }
    }

    // The planes for the encoder against the ffmpeg program's conversion of the same 32-bit picture;
    // an odd framebuffer gives planes of the even size below it.
    void nv12MatchesTheSoftwareConversion() {
        m_gl->makeCurrent();
        VRK2Mp4Helper helper;
        QCOMPARE(helper.initGL(m_f), 0);
        Planes p(641, 361);
        fillGradients(p, 0);
        const QImage rgb = render(helper, p.frame).convertToFormat(QImage::Format_RGB32).copy(0, 0, 640, 360);
        QCOMPARE(helper.nv12Size(), QSize(640, 360));
        QVERIFY(helper.convertToNv12(QRect()));
        std::vector<uint8_t> nv12(helper.nv12Bytes());
        QCOMPARE(nv12.size(), size_t(640 * 360 * 3 / 2));
        QVERIFY(helper.readNv12(nv12.data()));

        QTemporaryDir dir;
        QFile raw(dir.filePath("in.raw"));
        QVERIFY(raw.open(QIODevice::WriteOnly));
        for (int r = 0; r < rgb.height(); ++r) {
            raw.write(reinterpret_cast<const char*>(rgb.constScanLine(r)), rgb.width() * 4);
        }
        raw.close();
        QByteArray want;
        QCOMPARE(testsupport::runProgram("ffmpeg",
                                         {"-v", "error", "-f", "rawvideo", "-pix_fmt", "bgr0", "-s",
                                          "640x360", "-i", raw.fileName(), "-sws_flags", "area+accurate_rnd",
                                          "-pix_fmt", "nv12", "-f", "rawvideo", "-"},
                                         &want, 60000),
                 0);
        QCOMPARE(size_t(want.size()), nv12.size());
        const auto* ref = reinterpret_cast<const uint8_t*>(want.constData());
        const size_t luma = 640 * 360;
        const double yPsnr = psnr(nv12.data(), ref, luma);
        const double cPsnr = psnr(nv12.data() + luma, ref + luma, luma / 2);
        QVERIFY2(yPsnr > 40 && cPsnr > 40,
                 qPrintable(QString("PSNR Y %1 dB, CbCr %2 dB").arg(yPsnr).arg(cPsnr)));
    }

    // Converting only the changed rectangle gives the same planes as converting everything.
    void partialConversionAndReadEqualFullOnes() {
        m_gl->makeCurrent();
        VRK2Mp4Helper helper;
        QCOMPARE(helper.initGL(m_f), 0);
        Planes a(320, 240), b(320, 240);
        fillGradients(a, 0);
        fillGradients(b, 90);
        b.fill(200, 40, 220);
        render(helper, a.frame);
        QVERIFY(helper.convertToNv12(QRect()));
        std::vector<uint8_t> before(helper.nv12Bytes()), partial(before.size()), full(before.size());
        QVERIFY(helper.readNv12(before.data()));
        const QRect changed(77, 31, 102, 58);  // chroma blocks straddle all four edges
        helper.bindFramebuffer();
        const auto v = quad(changed.x(), changed.y(), changed.width(), changed.height(), 320, 240);
        helper.setVertices(v.data(), int(v.size()));
        helper.draw(b.frame);
        QVERIFY(helper.convertToNv12(changed));
        QVERIFY(helper.readNv12(partial.data()));
        // Reading only the changed pixels over the earlier picture gives the same picture.
        std::vector<uint8_t> patched = before;
        QVERIFY(helper.readNv12(patched.data(), changed));
        QVERIFY(helper.convertToNv12(QRect()));
        QVERIFY(helper.readNv12(full.data()));
        QVERIFY(partial != before);
        QVERIFY(partial == full);
        QVERIFY(patched == full);
    }

    void destroyedWithAnotherContextCurrent() {
        m_gl->makeCurrent();
        auto helper = std::make_unique<VRK2Mp4Helper>();
        QCOMPARE(helper->initGL(m_f), 0);
        helper->ensureFramebuffer(32, 32);
        m_gl->doneCurrent();
        QVERIFY(!QOpenGLContext::currentContext());
        helper.reset();  // makes its own context current for the deletion and leaves none current
        QVERIFY(!QOpenGLContext::currentContext());
        m_gl->makeCurrent();
        GLenum err = m_f->glGetError();
        QCOMPARE(err, GLenum(GL_NO_ERROR));
    }
};

int main(int argc, char** argv) {
    // A GL context needs a real display (Xvfb); the offscreen platform has none.
    if (qgetenv("QT_QPA_PLATFORM") == "offscreen") {
        qunsetenv("QT_QPA_PLATFORM");
    }
    QApplication app(argc, argv);
    HelperTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_vrk2mp4helper.moc"
