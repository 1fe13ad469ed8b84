#pragma once
// The two-colour progress bar's painting, shared by the kit's form bar and the station's table:
// a thin border, the part up to the position in one colour and the rest in another, and the
// label drawn twice, clipped to each part, in the contrasting colour, so it stays readable as
// the fill passes under it.

#include <QColor>
#include <QPainter>
#include <QRect>
#include <QString>

namespace kestro {

struct TwoColourBarColours {
    QColor back;
    QColor bar;
    QColor barText;
    QColor backText;
    QColor border;

    // The application palette's colours, sampled now.
    static TwoColourBarColours FromPalette();
};

// Paints the bar into `outer` (border included); `fraction` from 0 to 1.
void PaintTwoColourBar(QPainter& painter, const QRect& outer, const TwoColourBarColours& colours,
                       double fraction, const QString& label);

}  // namespace kestro
