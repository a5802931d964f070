// app/AppIcon.cpp
#include "app/AppIcon.h"

#include <initializer_list>

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace app {

namespace {

void paintApplicationIcon(QPainter& p)
{

    p.setPen(QPen(QColor(0x1F, 0x4E, 0x8C), 1.5));
    p.setBrush(QColor(0x3A, 0x7B, 0xD5));
    p.drawEllipse(QRectF(1.5, 1.5, 29, 29));

    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(17, 4, 10, 10), 0 * 16, 90 * 16);
    p.drawArc(QRectF(14, 1, 16, 16), 10 * 16, 70 * 16);

    QPainterPath pin;
    pin.moveTo(13, 28);
    pin.cubicTo(9, 21, 6, 18, 6, 13.5);
    pin.arcTo(QRectF(6, 6.5, 14, 14), 180, -180);
    pin.cubicTo(20, 18, 17, 21, 13, 28);
    p.setPen(QPen(QColor(0x8A, 0x2A, 0x0A), 1));
    p.setBrush(QColor(0xF2, 0x6B, 0x1D));
    p.drawPath(pin);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(10, 10.5, 6, 6));
}

void paintStatusPageIcon(QPainter& p)
{

    p.setPen(QPen(QColor(0x40, 0x4A, 0x58), 1.5));
    p.setBrush(QColor(0xE6, 0xEC, 0xF3));
    p.drawRoundedRect(QRectF(2, 3, 28, 20), 2, 2);
    p.setBrush(QColor(0x20, 0x2A, 0x38));
    p.drawRect(QRectF(5, 6, 22, 14));
    p.setPen(QPen(QColor(0x40, 0x4A, 0x58), 2));
    p.drawLine(QPointF(16, 23), QPointF(16, 27));
    p.drawLine(QPointF(10, 28), QPointF(22, 28));

    p.setPen(QPen(QColor(0x4C, 0xD9, 0x64), 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    const QPointF pulse[] = {{6, 14}, {11, 14}, {13, 9}, {16, 18}, {19, 12}, {21, 14}, {26, 14}};
    p.drawPolyline(pulse, 7);
}

// The icon drawn on a 32 x 32 grid, at each of the sizes.
QIcon iconAt(std::initializer_list<int> sizes, void (*paint)(QPainter&))
{
    QIcon icon;
    for (int size : sizes) {
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 32.0, size / 32.0);
        paint(p);
        p.end();
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

} // namespace

QIcon applicationIcon()
{
    return iconAt({16, 22, 32, 48, 64}, paintApplicationIcon);
}

QIcon statusPageIcon()
{
    return iconAt({16, 32}, paintStatusPageIcon);
}

} // namespace app
