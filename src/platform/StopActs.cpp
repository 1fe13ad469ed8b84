#include "platform/StopActs.h"

namespace kestro {

int StopActs::Poll() {
    const int stops = m_signals.stops.load();
    const int hangUps = m_signals.hangUps.load();
    const bool newStop = stops != m_stopsSeen;
    const bool newHangUp = hangUps != m_hangUpsSeen;
    m_stopsSeen = stops;
    m_hangUpsSeen = hangUps;
    const Millis now = m_clock.Now();
    if (m_acts == 0 && (newStop || newHangUp)) {
        m_acts = 1;
        m_firstActAt = now;
    } else if (m_acts == 1 && newStop && now - m_firstActAt >= m_window) {
        m_acts = 2;
    }
    return m_acts;
}

}  // namespace kestro
