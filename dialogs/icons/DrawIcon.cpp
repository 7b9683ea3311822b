// Draws the application icon (an open guide book under a map pin, on a sky-blue tile)
// and writes it as PNG files, one per size. The PNGs beside this file were made with
//   wf_draw_icon dialogs/icons
// The drawing is kept as code so the icon can be changed and redrawn at any size;
// the program itself only loads the PNGs.
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QString>
#include <cstdio>

namespace {

void DrawIcon(QPainter& p) {
    // All coordinates are on a 256 x 256 canvas; the painter is scaled to the target size.
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient sky(0, 0, 0, 256);
    sky.setColorAt(0.0, QColor(0x3b, 0x9a, 0xd9));
    sky.setColorAt(1.0, QColor(0x15, 0x4f, 0x7f));
    p.setPen(Qt::NoPen);
    p.setBrush(sky);
    p.drawRoundedRect(QRectF(8, 8, 240, 240), 44, 44);

    // The open book: two pages meeting at the spine, slightly raised at the outer corners.
    QPainterPath left;
    left.moveTo(128, 150);
    left.cubicTo(100, 136, 64, 134, 36, 142);
    left.lineTo(36, 222);
    left.cubicTo(64, 214, 100, 216, 128, 230);
    left.closeSubpath();
    QPainterPath right;
    right.moveTo(128, 150);
    right.cubicTo(156, 136, 192, 134, 220, 142);
    right.lineTo(220, 222);
    right.cubicTo(192, 214, 156, 216, 128, 230);
    right.closeSubpath();
    p.setBrush(QColor(0xfb, 0xf7, 0xee));
    p.setPen(QPen(QColor(0x0e, 0x3a, 0x5e), 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(left);
    p.drawPath(right);
    p.drawLine(QPointF(128, 150), QPointF(128, 230));

    // A dotted route over the pages, ending below the pin.
    QPainterPath route;
    route.moveTo(56, 204);
    route.cubicTo(80, 170, 104, 214, 128, 186);
    route.cubicTo(146, 166, 176, 196, 196, 170);
    QPen routePen(QColor(0xd9, 0x4a, 0x2b), 6, Qt::DotLine, Qt::RoundCap);
    p.setPen(routePen);
    p.setBrush(Qt::NoBrush);
    p.drawPath(route);

    // The map pin above the book.
    QPainterPath pin;
    pin.moveTo(128, 140);
    pin.cubicTo(112, 112, 84, 92, 84, 66);
    pin.arcTo(QRectF(84, 22, 88, 88), 180, -180);
    pin.cubicTo(172, 92, 144, 112, 128, 140);
    pin.closeSubpath();
    p.setPen(QPen(QColor(0x7a, 0x1c, 0x0c), 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(0xe8, 0x55, 0x32));
    p.drawPath(pin);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xfb, 0xf7, 0xee));
    p.drawEllipse(QPointF(128, 66), 17, 17);
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter p(&image);
        p.scale(size / 256.0, size / 256.0);
        DrawIcon(p);
        p.end();
        const QString name = QStringLiteral("%1/wayfolio-%2.png").arg(folder).arg(size);
        if (!image.save(name, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(name));
            return 1;
        }
    }
    return 0;
}
