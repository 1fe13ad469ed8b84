#pragma once
// The form's progress bar. Mode 1 leaves the drawing to the platform style; mode 2 fills the bar
// up to the position in one colour and the rest in another, and draws the label twice, clipped to
// each part, in the contrasting colour, so it stays readable as the fill passes under it.

#include <QColor>
#include <QProgressBar>
#include <QRect>
#include <mutex>
#include <string>

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

    QColor BackColor() const { return m_backColor; }
    QColor BarColor() const { return m_barColor; }
    QColor BarTextColor() const { return m_barTextColor; }
    QColor BackTextColor() const { return m_backTextColor; }

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
    QColor m_backColor;
    QColor m_barColor;
    QColor m_barTextColor;
    QColor m_backTextColor;
    QColor m_borderColor;
    mutable std::mutex m_labelLock;  // the worker replaces the label while a repaint reads it
    std::string m_label;
};

}  // namespace kestro
