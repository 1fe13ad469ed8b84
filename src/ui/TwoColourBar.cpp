#include "ui/TwoColourBar.h"

#include <QApplication>
#include <QPalette>

namespace kestro {

TwoColourBarColours TwoColourBarColours::FromPalette() {
    const QPalette palette = QApplication::palette();
    TwoColourBarColours colours;
    colours.back = palette.color(QPalette::Active, QPalette::Base);
    colours.bar = palette.color(QPalette::Active, QPalette::Highlight);
    colours.barText = colours.back;
    colours.backText = colours.bar;
    colours.border = palette.color(QPalette::Active, QPalette::Shadow);
    return colours;
}

void PaintTwoColourBar(QPainter& painter, const QRect& outer, const TwoColourBarColours& colours,
                       double fraction, const QString& label) {
    painter.save();
    painter.setPen(colours.border);
    painter.drawRect(outer.adjusted(0, 0, -1, -1));

    const QRect r = outer.adjusted(1, 1, -1, -1);
    const int split = static_cast<int>(r.width() * fraction);  // truncated, never rounded
    const QRect filled(r.left(), r.top(), split, r.height());
    const QRect unfilled(r.left() + split, r.top(), r.width() - split, r.height());
    painter.fillRect(filled, colours.bar);
    painter.fillRect(unfilled, colours.back);

    // The system font, not the form's: the label is drawn as the platform draws plain text.
    painter.setFont(QApplication::font());
    painter.setBackgroundMode(Qt::TransparentMode);
    constexpr int kPlacement = Qt::AlignCenter | Qt::TextSingleLine;
    painter.setClipRect(filled);
    painter.setPen(colours.barText);
    painter.drawText(r, kPlacement, label);
    painter.setClipRect(unfilled);
    painter.setPen(colours.backText);
    painter.drawText(r, kPlacement, label);
    painter.restore();
}

}  // namespace kestro
