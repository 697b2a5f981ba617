// Draws the chat emoticon pictures "[em<set>_<nn>].png" into the given directory.
// Usage: vrk-expression-gen <output-dir>
#include <QColor>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QString>
#include <QStringList>
#include <cstdio>

namespace {

constexpr int kSize = 40;  // shown at 20 x 20, drawn at twice that for sharp scaling

// One face: the set picks the face colour family, the number the eyes and the mouth.
QImage drawFace(int set, int number) {
    QImage image(kSize, kSize, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, true);

    const int hue = (set * 97 + number * 23) % 360;
    const QColor face = set == 1 ? QColor::fromHsv(45 + number % 10, 200, 255)
                                 : QColor::fromHsv(hue, 120 + (number * 7) % 100, 240);
    p.setPen(QPen(QColor(120, 80, 0), 2));
    p.setBrush(face);
    p.drawEllipse(QRectF(2, 2, kSize - 4, kSize - 4));

    // Eyes.
    p.setBrush(QColor(40, 30, 20));
    p.setPen(Qt::NoPen);
    const int eyeStyle = number % 3;
    if (eyeStyle == 0) {
        p.drawEllipse(QRectF(12, 12, 5, 7));
        p.drawEllipse(QRectF(23, 12, 5, 7));
    } else if (eyeStyle == 1) {
        p.setPen(QPen(QColor(40, 30, 20), 2.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(11, 16), QPointF(17, 14));
        p.drawLine(QPointF(23, 14), QPointF(29, 16));
    } else {
        p.drawEllipse(QRectF(12, 13, 6, 6));
        p.drawEllipse(QRectF(22, 13, 6, 6));
    }

    // Mouth.
    p.setPen(QPen(QColor(120, 30, 20), 2.5, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    const int mouthStyle = (number / 3) % 4;
    QPainterPath mouth;
    switch (mouthStyle) {
        case 0:  // smile
            mouth.moveTo(12, 25);
            mouth.quadTo(20, 33, 28, 25);
            break;
        case 1:  // frown
            mouth.moveTo(13, 30);
            mouth.quadTo(20, 23, 27, 30);
            break;
        case 2:  // open
            p.setBrush(QColor(150, 40, 30));
            mouth.addEllipse(QRectF(15, 23, 10, 8));
            break;
        default:  // flat
            mouth.moveTo(13, 27);
            mouth.lineTo(27, 27);
            break;
    }
    p.drawPath(mouth);
    return image;
}

}  // namespace

int main(int argc, char* argv[]) {
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: vrk-expression-gen <output-dir>\n");
        return 2;
    }
    QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    for (int set = 1; set <= 3; ++set) {
        for (int number = 1; number <= 30; ++number) {
            // Codes appear both with and without a leading zero ("[em2_05]", "[em2_5]").
            QStringList names = {
                QStringLiteral("[em%1_%2].png").arg(set).arg(number, 2, 10, QLatin1Char('0'))};
            if (number < 10) {
                names << QStringLiteral("[em%1_%2].png").arg(set).arg(number);
            }
            const QImage face = drawFace(set, number);
            for (const QString& name : names) {
                if (!face.save(dir.filePath(name), "PNG")) {
                    std::fprintf(stderr, "cannot write %s\n", qPrintable(dir.filePath(name)));
                    return 1;
                }
            }
        }
    }
    return 0;
}
