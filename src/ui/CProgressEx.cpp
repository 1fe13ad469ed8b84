#include "ui/CProgressEx.h"

#include <QPainter>
#include <cstdio>

namespace kestro {

CProgressEx::CProgressEx(QWidget* parent) : QProgressBar(parent) {
    m_colours = TwoColourBarColours::FromPalette();
    setRange(m_minPos, m_maxPos);
    setValue(m_pos);
    setTextVisible(false);
}

void CProgressEx::SetText(std::string label) {
    std::lock_guard lock(m_labelLock);
    m_label = std::move(label);
}

std::string CProgressEx::Label() const {
    std::lock_guard lock(m_labelLock);
    return m_label;
}

void CProgressEx::SetPos(int position) {
    if (position >= m_minPos && position <= m_maxPos) {
        m_pos = position;
        update();
    }
    SetNativePosition(m_pos);
}

void CProgressEx::SetNativePosition(int position) {
    if (value() == position) return;
    if (m_drawMode == kStandardMode) {
        setValue(position);
        return;
    }
    // The base class would repaint at once for every change; in mode 2 the update() of SetPos
    // already asks for one repaint that serves every call made before it happens.
    const bool enabled = updatesEnabled();
    setUpdatesEnabled(false);
    setValue(position);
    setUpdatesEnabled(enabled);
}

void CProgressEx::SetDrawMode(int mode) {
    m_drawMode = mode;
    // Mode 2 paints every pixel itself: nothing is erased first, so nothing flickers.
    setAttribute(Qt::WA_OpaquePaintEvent, mode != kStandardMode);
    update();
}

QRect CProgressEx::ClientRect() const { return rect().adjusted(1, 1, -1, -1); }

void CProgressEx::paintEvent(QPaintEvent* event) {
    if (m_drawMode == kStandardMode) {
        QProgressBar::paintEvent(event);
        return;
    }
    PaintTwoColour();
}

void CProgressEx::PaintTwoColour() {
    const double fraction =
        static_cast<double>(m_pos - m_minPos) / static_cast<double>(m_maxPos - m_minPos);
    QString label;
    {
        std::lock_guard lock(m_labelLock);
        if (m_label.empty()) {
            char text[8];
            std::snprintf(text, sizeof text, "%d%%", static_cast<int>(fraction * 100.0));
            m_label = text;
        }
        label = QString::fromLatin1(m_label.data(), static_cast<qsizetype>(m_label.size()));
    }
    QPainter painter(this);
    PaintTwoColourBar(painter, rect(), m_colours, fraction, label);
}

}  // namespace kestro
