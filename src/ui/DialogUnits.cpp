#include "ui/DialogUnits.h"

#include <QFontMetrics>
#include <QString>

namespace kestro {
namespace {

// Rounded a * b / c, as the dialog manager scales its units.
int MulDiv(int a, int b, int c) {
    const long long product = static_cast<long long>(a) * b;
    return static_cast<int>((product + c / 2) / c);
}

}  // namespace

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    // The average width is taken over the 52 letters and rounded half up, which is what makes
    // a form drawn in one font match the same form measured in another.
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_baseX = (letters / 26 + 1) / 2;
    m_baseY = metrics.height();
    if (m_baseX < 1) m_baseX = 1;
    if (m_baseY < 1) m_baseY = 1;
}

int DialogUnits::X(int units) const { return MulDiv(units, m_baseX, 4); }
int DialogUnits::Y(int units) const { return MulDiv(units, m_baseY, 8); }

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
    // Both edges are converted, so neighbouring controls meet exactly as on the grid.
    const int left = X(x);
    const int top = Y(y);
    return QRect(left, top, X(x + width) - left, Y(y + height) - top);
}

QSize DialogUnits::Size(int width, int height) const { return QSize(X(width), Y(height)); }

}  // namespace kestro
