#pragma once
// Dialog units, the grid the kit's forms are laid out on: a quarter of the font's average
// character width across, an eighth of its height down. Converting through the form's own font
// keeps the proportions of the layout whatever font the system supplies.

#include <QFont>
#include <QRect>
#include <QSize>

namespace kestro {

class DialogUnits {
  public:
    explicit DialogUnits(const QFont& font);
    int X(int units) const;
    int Y(int units) const;
    QRect Rect(int x, int y, int width, int height) const;
    QSize Size(int width, int height) const;
    int BaseX() const { return m_baseX; }
    int BaseY() const { return m_baseY; }

  private:
    int m_baseX;
    int m_baseY;
};

}  // namespace kestro
