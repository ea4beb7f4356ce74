#include "app_images.h"

#include <QFont>
#include <QIcon>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <algorithm>

namespace veldar {

QImage ProgramIcon(int size) {
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);
    // The device: a rounded box with a small screen.
    p.setPen(QPen(QColor(0, 0, 96), 1.5));
    p.setBrush(QColor(40, 90, 170));
    p.drawRoundedRect(QRectF(3, 2, 18, 26), 3, 3);
    p.setBrush(QColor(180, 230, 180));
    p.drawRect(QRectF(6, 5, 12, 8));
    p.setPen(QPen(QColor(0, 110, 0), 1.2));
    p.drawPolyline(QPolygonF({QPointF(7, 11), QPointF(10, 8), QPointF(13, 10), QPointF(17, 6)}));
    // The cable to the plug.
    p.setPen(QPen(QColor(60, 60, 60), 2));
    p.setBrush(Qt::NoBrush);
    QPainterPath cable(QPointF(12, 28));
    cable.cubicTo(QPointF(12, 31), QPointF(24, 31), QPointF(25, 22));
    p.drawPath(cable);
    // The plug.
    p.setPen(QPen(QColor(30, 30, 30), 1));
    p.setBrush(QColor(200, 200, 200));
    p.drawRoundedRect(QRectF(21, 12, 9, 10), 2, 2);
    return image;
}

QImage LogoImage(int ratio) {
    ratio = std::max(1, ratio);
    QImage image(204 * ratio, 38 * ratio, QImage::Format_RGB888);
    image.setDevicePixelRatio(ratio);
    QPainter p(&image);
    QLinearGradient band(0, 0, 0, 38);
    band.setColorAt(0, QColor(235, 242, 252));
    band.setColorAt(1, QColor(190, 208, 235));
    p.fillRect(QRect(0, 0, 204, 38), band);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0, 0, 128), 2));
    p.drawPolyline(QPolygonF(
        {QPointF(6, 26), QPointF(14, 12), QPointF(22, 22), QPointF(30, 8), QPointF(38, 19)}));
    QFont font(QStringLiteral("Sans Serif"));
    font.setPixelSize(24);
    font.setBold(true);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 3);
    p.setFont(font);
    p.setPen(QColor(0, 0, 128));
    p.drawText(QRect(46, 0, 158, 38), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("VELDAR"));
    return image;
}

QIcon ProgramIconSet() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128})
        icon.addPixmap(QPixmap::fromImage(ProgramIcon(size)));
    return icon;
}

QColor InactiveCaptionTextColour() {
    return QColor(188, 206, 228);
}

} // namespace veldar
