#include "qthost/AppIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

// Drawn on a 64x64 grid, like the SVG.
QPixmap paintIcon(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    // Receipt.
    QPainterPath receipt;
    receipt.moveTo(18, 4);
    receipt.lineTo(46, 4);
    receipt.lineTo(46, 30);
    receipt.lineTo(18, 30);
    receipt.closeSubpath();
    p.setPen(QPen(QColor("#3a3f4b"), 1.5));
    p.setBrush(QColor("#fbfbf7"));
    p.drawPath(receipt);
    p.setPen(QPen(QColor("#9aa0a8"), 2));
    for (int y : {10, 15, 20})
        p.drawLine(QPointF(22, y), QPointF(42, y));
    p.setPen(QPen(QColor("#d0342c"), 2));
    p.drawLine(QPointF(22, 25), QPointF(34, 25));
    // Body.
    p.setPen(QPen(QColor("#23262e"), 1.5));
    p.setBrush(QColor("#4a5060"));
    p.drawRoundedRect(QRectF(6, 24, 52, 32), 7, 7);
    p.setBrush(QColor("#2b2f38"));
    p.drawRoundedRect(QRectF(6, 44, 52, 12), 5, 5);
    // Paper slot and the lamp.
    p.setBrush(QColor("#15171c"));
    p.drawRect(QRectF(14, 28, 36, 4));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor("#5ad16e"));
    p.drawEllipse(QPointF(49, 38), 3, 3);
    return pixmap;
}

} // namespace

QIcon appIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(paintIcon(size));
    return icon;
}
