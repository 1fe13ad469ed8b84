#include "ui/Artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

namespace kestro {
namespace {

const QColor kArrowGreen(0x2E, 0xA0, 0x3C);
const QColor kArrowEdge(0x1B, 0x6B, 0x26);
const QColor kBarGrey(0x80, 0x80, 0x80);
const QColor kBarEdge(0x50, 0x50, 0x50);

// A down arrow in a box of `size` units whose top-left is `origin`.
void DrawArrow(QPainter& painter, QPointF origin, double size) {
    const double s = size / 32.0;
    const QPolygonF arrow({
        origin + QPointF(11 * s, 2 * s),
        origin + QPointF(21 * s, 2 * s),
        origin + QPointF(21 * s, 12 * s),
        origin + QPointF(28 * s, 12 * s),
        origin + QPointF(16 * s, 24 * s),
        origin + QPointF(4 * s, 12 * s),
        origin + QPointF(11 * s, 12 * s),
    });
    QLinearGradient fill(origin + QPointF(0, 2 * s), origin + QPointF(0, 24 * s));
    fill.setColorAt(0.0, kArrowGreen.lighter(130));
    fill.setColorAt(1.0, kArrowGreen);
    painter.setPen(QPen(kArrowEdge, std::max(1.0, s)));
    painter.setBrush(fill);
    painter.drawPolygon(arrow);
}

void DrawBar(QPainter& painter, QRectF bar) {
    painter.setPen(QPen(kBarEdge, 1.0));
    painter.setBrush(kBarGrey);
    painter.drawRect(bar);
}

}  // namespace

QPixmap UpgradeButtonPixmap() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    DrawArrow(painter, QPointF(0, 0), 32);
    DrawBar(painter, QRectF(4.5, 25.5, 23, 4));
    return pixmap;
}

QPixmap ApplicationPixmap(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 48.0, size / 48.0);

    // The radio: antenna, body, speaker grille and display.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x30, 0x30, 0x34));
    painter.drawRoundedRect(QRectF(11, 1, 4, 14), 2, 2);
    QLinearGradient body(QPointF(8, 0), QPointF(32, 0));
    body.setColorAt(0.0, QColor(0x4A, 0x4E, 0x56));
    body.setColorAt(1.0, QColor(0x26, 0x28, 0x2C));
    painter.setBrush(body);
    painter.drawRoundedRect(QRectF(8, 11, 24, 36), 4, 4);
    painter.setBrush(QColor(0x9C, 0xC8, 0xA8));
    painter.drawRect(QRectF(12, 15, 16, 8));
    painter.setBrush(QColor(0x18, 0x18, 0x1A));
    for (int row = 0; row < 4; ++row) painter.drawRect(QRectF(12, 27 + 4.5 * row, 16, 2));

    // The upgrade arrow, over the radio's right side.
    DrawArrow(painter, QPointF(22, 18), 26);
    DrawBar(painter, QRectF(25.5, 42.5, 20, 3.5));
    return pixmap;
}

QIcon ApplicationIcon() {
    QIcon icon;
    for (const int size : {16, 24, 32, 48}) icon.addPixmap(ApplicationPixmap(size));
    return icon;
}

}  // namespace kestro
