// Draws the pictures of the resource collection (flat icons) into the folder given as argument.
// Run once after changing a drawing: shell-icon-painter <ui/resources>; the PNGs are committed.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

#include <functional>

namespace {

using Draw = std::function<void(QPainter&, const QColor&)>;

const QColor kBlue(0x24, 0x90, 0xeb);
const QColor kBlueHover(0x19, 0x83, 0xdc);
const QColor kGrey(0x79, 0x80, 0x8b);
const QColor kGreyBan(0xc8, 0xcb, 0xd0);

bool save(const QString& dir, const QString& name, int w, int h, const std::function<void(QPainter&)>& draw) {
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    {
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        draw(p);
    }
    QDir().mkpath(dir);
    return img.save(dir + QLatin1Char('/') + name, "PNG");
}

QPen pen(const QColor& c, qreal w) {
    QPen p(c, w);
    p.setCapStyle(Qt::RoundCap);
    p.setJoinStyle(Qt::RoundJoin);
    return p;
}

// Title-strip button (38 x 30, on the dark strip): glyph in the middle, hover gets a light backdrop.
void titleButton(const QString& dir, const QString& base, const Draw& glyph, const QColor& hoverBack) {
    const struct {
        const char* suffix;
        QColor glyph;
        QColor back;
    } states[] = {{"_nor.png", QColor(255, 255, 255, 190), Qt::transparent},
                  {"_hov.png", QColor(255, 255, 255), hoverBack},
                  {"_ban.png", QColor(255, 255, 255, 70), Qt::transparent}};
    for (const auto& s : states) {
        save(dir, base + QLatin1String(s.suffix), 38, 30, [&](QPainter& p) {
            p.fillRect(QRect(0, 0, 38, 30), s.back);
            p.translate(19, 15);
            glyph(p, s.glyph);
        });
    }
}

// Small three-state glyph button (size x size) on a light background.
void lightButton(const QString& dir, const QString& base, int size, const Draw& glyph, bool withBan = true) {
    save(dir, base + QStringLiteral("_nor.png"), size, size, [&](QPainter& p) {
        p.translate(size / 2.0, size / 2.0);
        glyph(p, kGrey);
    });
    save(dir, base + QStringLiteral("_hov.png"), size, size, [&](QPainter& p) {
        p.translate(size / 2.0, size / 2.0);
        glyph(p, kBlue);
    });
    if (withBan) {
        save(dir, base + QStringLiteral("_ban.png"), size, size, [&](QPainter& p) {
            p.translate(size / 2.0, size / 2.0);
            glyph(p, kGreyBan);
        });
    }
}

void drawScissors(QPainter& p, const QColor& c, qreal s) {
    p.setPen(pen(c, 1.6 * s));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(-4 * s, 5 * s), 2.6 * s, 2.6 * s);
    p.drawEllipse(QPointF(4 * s, 5 * s), 2.6 * s, 2.6 * s);
    p.drawLine(QPointF(-2.5 * s, 3 * s), QPointF(5 * s, -7 * s));
    p.drawLine(QPointF(2.5 * s, 3 * s), QPointF(-5 * s, -7 * s));
}

void drawMergeGlyph(QPainter& p, const QColor& c, qreal s) {
    p.setPen(pen(c, 1.6 * s));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(-7 * s, -7 * s, 7 * s, 6 * s), 1 * s, 1 * s);
    p.drawRoundedRect(QRectF(0 * s, 1 * s, 7 * s, 6 * s), 1 * s, 1 * s);
    p.drawLine(QPointF(-3.5 * s, -1 * s), QPointF(-3.5 * s, 4 * s));
    p.drawLine(QPointF(-3.5 * s, 4 * s), QPointF(0 * s, 4 * s));
    p.drawLine(QPointF(-2 * s, 2.5 * s), QPointF(0 * s, 4 * s));
    p.drawLine(QPointF(-2 * s, 5.5 * s), QPointF(0 * s, 4 * s));
}

void drawEmptyTray(QPainter& p, int w, int h) {
    // A soft grey tray with a document above it: "nothing here yet".
    const QColor line(0xd5, 0xd9, 0xde);
    const QColor fill(0xf3, 0xf5, 0xf7);
    p.translate(w / 2.0, h / 2.0);
    p.setPen(pen(line, 2));
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(-22, -38, 44, 50), 4, 4);
    p.drawLine(QPointF(-12, -24), QPointF(12, -24));
    p.drawLine(QPointF(-12, -14), QPointF(12, -14));
    p.drawLine(QPointF(-12, -4), QPointF(4, -4));
    QPainterPath tray;
    tray.moveTo(-50, 8);
    tray.lineTo(-34, -8);
    tray.lineTo(34, -8);
    tray.lineTo(50, 8);
    tray.lineTo(50, 36);
    tray.lineTo(-50, 36);
    tray.closeSubpath();
    QPainterPath front;
    front.moveTo(-50, 8);
    front.lineTo(-18, 8);
    front.lineTo(-14, 16);
    front.lineTo(14, 16);
    front.lineTo(18, 8);
    front.lineTo(50, 8);
    front.lineTo(50, 36);
    front.lineTo(-50, 36);
    front.closeSubpath();
    p.setBrush(fill);
    p.drawPath(front);
    p.setBrush(Qt::NoBrush);
    p.drawPath(tray);
}

}  // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString root = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    const QString common = root + QStringLiteral("/common");
    const QString mainWindow = root + QStringLiteral("/mainWindow");
    const QString cut = root + QStringLiteral("/cut");
    const QString merge = root + QStringLiteral("/merge");

    // Title strip buttons.
    titleButton(
        common, QStringLiteral("close"),
        [](QPainter& p, const QColor& c) {
            p.setPen(pen(c, 1.4));
            p.drawLine(QPointF(-5, -5), QPointF(5, 5));
            p.drawLine(QPointF(-5, 5), QPointF(5, -5));
        },
        QColor(0xe8, 0x11, 0x23));
    const QColor hoverBack(255, 255, 255, 40);
    titleButton(
        mainWindow, QStringLiteral("min"),
        [](QPainter& p, const QColor& c) {
            p.setPen(pen(c, 1.4));
            p.drawLine(QPointF(-5, 0.5), QPointF(5, 0.5));
        },
        hoverBack);
    titleButton(
        mainWindow, QStringLiteral("max"),
        [](QPainter& p, const QColor& c) {
            p.setPen(pen(c, 1.4));
            p.drawRect(QRectF(-5, -5, 10, 10));
        },
        hoverBack);
    titleButton(
        mainWindow, QStringLiteral("normal"),
        [](QPainter& p, const QColor& c) {
            p.setPen(pen(c, 1.4));
            p.drawRect(QRectF(-5, -3, 8, 8));
            p.drawPolyline(
                QPolygonF({QPointF(-3, -3), QPointF(-3, -5), QPointF(5, -5), QPointF(5, 3), QPointF(3, 3)}));
        },
        hoverBack);
    titleButton(
        mainWindow, QStringLiteral("setting"),
        [](QPainter& p, const QColor& c) {
            p.setPen(pen(c, 1.4));
            p.setBrush(Qt::NoBrush);
            for (int i = 0; i < 8; ++i) {
                const qreal a = i * M_PI / 4;
                p.drawLine(QPointF(5 * qCos(a), 5 * qSin(a)), QPointF(7 * qCos(a), 7 * qSin(a)));
            }
            p.drawEllipse(QPointF(0, 0), 5, 5);
            p.drawEllipse(QPointF(0, 0), 2, 2);
        },
        hoverBack);

    // Application icon: a blue rounded square with a play triangle cut by a dashed line.
    save(common, QStringLiteral("tray_icon.png"), 64, 64, [](QPainter& p) {
        p.setPen(Qt::NoPen);
        p.setBrush(kBlue);
        p.drawRoundedRect(QRectF(2, 2, 60, 60), 14, 14);
        p.setBrush(Qt::white);
        p.drawPolygon(QPolygonF({QPointF(24, 17), QPointF(24, 47), QPointF(48, 32)}));
        QPen dash(QColor(255, 255, 255, 200), 3);
        dash.setDashPattern({2, 2});
        p.setPen(dash);
        p.drawLine(QPointF(14, 54), QPointF(54, 10));
    });
    // Time bubble shown over the timeline.
    save(common, QStringLiteral("timetips.png"), 64, 28, [](QPainter& p) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x41, 0x46, 0x4c, 230));
        p.drawRoundedRect(QRectF(0, 0, 64, 22), 3, 3);
        p.drawPolygon(QPolygonF({QPointF(26, 22), QPointF(38, 22), QPointF(32, 28)}));
    });

    // Task type icons (20 x 20).
    save(mainWindow, QStringLiteral("cut_tool.png"), 20, 20, [](QPainter& p) {
        p.translate(10, 10);
        drawScissors(p, kBlue, 1.0);
    });
    save(mainWindow, QStringLiteral("megre_tool.png"), 20, 20, [](QPainter& p) {
        p.translate(10, 10);
        drawMergeGlyph(p, kBlue, 1.0);
    });
    save(mainWindow, QStringLiteral("task_empty.png"), 160, 120,
         [](QPainter& p) { drawEmptyTray(p, 160, 120); });
    save(cut, QStringLiteral("cut_empty.png"), 160, 120, [](QPainter& p) { drawEmptyTray(p, 160, 120); });
    save(merge, QStringLiteral("merge_empty.png"), 160, 120, [](QPainter& p) { drawEmptyTray(p, 160, 120); });

    // Player buttons (32 x 32): filled circle with a white glyph.
    const struct {
        const char* suffix;
        QColor back;
    } playStates[] = {{"_nor.png", kBlue}, {"_hov.png", kBlueHover}, {"_ban.png", kGreyBan}};
    for (const auto& s : playStates) {
        save(cut, QStringLiteral("play") + QLatin1String(s.suffix), 32, 32, [&](QPainter& p) {
            p.setPen(Qt::NoPen);
            p.setBrush(s.back);
            p.drawEllipse(QRectF(1, 1, 30, 30));
            p.setBrush(Qt::white);
            p.drawPolygon(QPolygonF({QPointF(13, 9.5), QPointF(13, 22.5), QPointF(23, 16)}));
        });
        save(cut, QStringLiteral("pause") + QLatin1String(s.suffix), 32, 32, [&](QPainter& p) {
            p.setPen(Qt::NoPen);
            p.setBrush(s.back);
            p.drawEllipse(QRectF(1, 1, 30, 30));
            p.setBrush(Qt::white);
            p.drawRoundedRect(QRectF(11, 10, 3.5, 12), 1, 1);
            p.drawRoundedRect(QRectF(17.5, 10, 3.5, 12), 1, 1);
        });
    }

    const Draw trash = [](QPainter& p, const QColor& c) {
        p.setPen(pen(c, 1.3));
        p.setBrush(Qt::NoBrush);
        p.drawLine(QPointF(-6, -4), QPointF(6, -4));
        p.drawLine(QPointF(-2, -6), QPointF(2, -6));
        p.drawPolyline(QPolygonF({QPointF(-4.5, -4), QPointF(-3.5, 6), QPointF(3.5, 6), QPointF(4.5, -4)}));
        p.drawLine(QPointF(-1, -1.5), QPointF(-1, 3.5));
        p.drawLine(QPointF(1.5, -1.5), QPointF(1.5, 3.5));
    };
    lightButton(cut, QStringLiteral("delete"), 16, trash, false);
    lightButton(merge, QStringLiteral("del"), 16, trash);
    lightButton(merge, QStringLiteral("up"), 16, [](QPainter& p, const QColor& c) {
        p.setPen(pen(c, 1.5));
        p.drawLine(QPointF(0, -5), QPointF(0, 6));
        p.drawPolyline(QPolygonF({QPointF(-4.5, -0.5), QPointF(0, -5), QPointF(4.5, -0.5)}));
    });
    lightButton(merge, QStringLiteral("down"), 16, [](QPainter& p, const QColor& c) {
        p.setPen(pen(c, 1.5));
        p.drawLine(QPointF(0, -6), QPointF(0, 5));
        p.drawPolyline(QPolygonF({QPointF(-4.5, 0.5), QPointF(0, 5), QPointF(4.5, 0.5)}));
    });
    lightButton(merge, QStringLiteral("clear"), 16, [](QPainter& p, const QColor& c) {
        // A broom: handle and bristles.
        p.setPen(pen(c, 1.4));
        p.setBrush(Qt::NoBrush);
        p.drawLine(QPointF(4, -6), QPointF(0, -1));
        p.drawPolygon(QPolygonF({QPointF(-1.5, -2.5), QPointF(2.5, 0.5), QPointF(0, 6), QPointF(-6, 1.5)}));
        p.drawLine(QPointF(-3, 4.2), QPointF(-1, 1.8));
    });

    // Small view icons (16 x 16).
    save(cut, QStringLiteral("chat_icon.png"), 16, 16, [](QPainter& p) {
        p.setPen(Qt::NoPen);
        p.setBrush(kBlue);
        p.drawRoundedRect(QRectF(1, 2, 14, 10), 3, 3);
        p.drawPolygon(QPolygonF({QPointF(4, 11), QPointF(4, 15), QPointF(8, 11)}));
        p.setBrush(Qt::white);
        for (int i = 0; i < 3; ++i) {
            p.drawEllipse(QPointF(5 + i * 3, 7), 1, 1);
        }
    });
    save(cut, QStringLiteral("question_answer_icon.png"), 16, 16, [](QPainter& p) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xf5, 0x9a, 0x23));
        p.drawEllipse(QRectF(1, 1, 14, 14));
        p.setPen(pen(Qt::white, 1.6));
        p.setBrush(Qt::NoBrush);
        QPainterPath q;
        q.moveTo(5.8, 6.2);
        q.cubicTo(5.8, 3.5, 10.2, 3.5, 10.2, 6.2);
        q.cubicTo(10.2, 8, 8, 8, 8, 9.8);
        p.drawPath(q);
        p.drawPoint(QPointF(8, 12.2));
    });
    save(cut, QStringLiteral("qa_replay_icon.png"), 16, 16, [](QPainter& p) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x38, 0xb0, 0x6f));
        p.drawEllipse(QRectF(1, 1, 14, 14));
        p.setPen(pen(Qt::white, 1.6));
        p.drawPolyline(QPolygonF({QPointF(4.5, 8.2), QPointF(7, 10.6), QPointF(11.5, 5.6)}));
    });
    return 0;
}
