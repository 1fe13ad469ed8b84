#include "radio/posix/SimulatedLine.h"

#include <algorithm>

#include "radio/Scenarios.h"

namespace kestro {

SimulatedLine::SimulatedLine() : m_server(std::make_unique<PtyRadioServer>()) {}

SimulatedLine::~SimulatedLine() {
    m_server->Stop();
}

bool SimulatedLine::Start(const std::string& scenario, const std::string& serial, std::string& error) {
    const bool known = m_server->WithRadio([&](SimRadio& radio) {
        auto& own = radio.Config().serial;
        own.fill(' ');
        std::copy_n(serial.begin(), std::min(serial.size(), own.size()), own.begin());
        return ApplyScenario(radio, scenario);
    });
    if (!known) {
        error = "unknown scenario \"" + scenario + "\"";
        return false;
    }
    if (!m_server->Start(&error)) {
        error = "cannot open a pseudo-terminal for the simulated radio: " + error;
        return false;
    }
    return true;
}

const std::string& SimulatedLine::DevicePath() const { return m_server->SlavePath(); }

bool SimulatedLine::PluggedIn() const { return !m_pulled && !m_server->HungUp(); }

void SimulatedLine::Unplug() {
    m_pulled = true;
    m_server->Stop();
}

bool SimulatedLine::PlugIn(std::string& error) {
    // Whatever session the radio was in ended with its cable.
    m_server->WithRadio([](SimRadio& radio) { radio.Reconnect(); });
    if (!m_server->Start(&error)) {
        error = "cannot open a pseudo-terminal for the simulated radio: " + error;
        return false;
    }
    m_pulled = false;
    return true;
}

}  // namespace kestro
