#pragma once
// The form's progress bar. Mode 1 leaves the drawing to the platform style; mode 2 paints the
// two-colour bar (ui/TwoColourBar.h): the fill in one colour, the rest in another, the label
// readable across both.

#include <QColor>
#include <QProgressBar>
#include <QRect>
#include <mutex>
#include <string>

#include "ui/TwoColourBar.h"

namespace kestro {

class CProgressEx : public QProgressBar {
    Q_OBJECT

  public:
    static constexpr int kStandardMode = 1;
    static constexpr int kTwoColourMode = 2;

    explicit CProgressEx(QWidget* parent = nullptr);

    // Stores the label only; it shows at the next repaint. Safe from any thread.
    void SetText(std::string label);
    std::string Label() const;
    // A position inside the range becomes the bar's and asks for one repaint; any other is
    // ignored. Either way the native position is then set to the bar's. UI thread only.
    void SetPos(int position);
    int Pos() const { return m_pos; }

    void SetDrawMode(int mode);
    int DrawMode() const { return m_drawMode; }

    // The area inside the thin border, where mode 2 paints.
    QRect ClientRect() const;

    QColor BackColor() const { return m_colours.back; }
    QColor BarColor() const { return m_colours.bar; }
    QColor BarTextColor() const { return m_colours.barText; }
    QColor BackTextColor() const { return m_colours.backText; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void SetNativePosition(int position);
    void PaintTwoColour();

    int m_minPos = 0;
    int m_maxPos = 100;
    int m_pos = 0;
    int m_drawMode = kStandardMode;
    // Sampled once: the bar keeps its colours when the theme changes later.
    TwoColourBarColours m_colours;
    mutable std::mutex m_labelLock;  // the worker replaces the label while a repaint reads it
    std::string m_label;
};

}  // namespace kestro
