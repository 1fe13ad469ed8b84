#pragma once
// A simulated radio served on a pseudo-terminal, so that a run opens it through its real serial
// engine like a cable. A front end may keep one between runs: pulled (as a cable is), then
// plugged in again, on a new pseudo-terminal, with the same radio.

#include <memory>
#include <string>

#include "radio/posix/PtyRadioServer.h"

namespace kestro {

class SimulatedLine {
public:
    SimulatedLine();
    ~SimulatedLine();
    SimulatedLine(const SimulatedLine&) = delete;
    SimulatedLine& operator=(const SimulatedLine&) = delete;

    // Sets the radio up for `scenario`, with serial number `serial` (ten characters), and starts
    // serving; false with a reason in `error`.
    bool Start(const std::string& scenario, const std::string& serial, std::string& error);
    const std::string& DevicePath() const;

    // Whether the line serves: false once its radio lost the cable or it was pulled.
    bool PluggedIn() const;
    // The cable is pulled: whoever has the line open sees it hang up.
    void Unplug();
    // The cable is plugged in again, on a new pseudo-terminal; false with a reason in `error`.
    bool PlugIn(std::string& error);

    // Runs `action` on the simulated radio (for tests that look at what it holds).
    template <typename Action>
    decltype(auto) WithRadio(Action&& action) {
        return m_server->WithRadio(std::forward<Action>(action));
    }

private:
    std::unique_ptr<PtyRadioServer> m_server;
    bool m_pulled = false;
};

}  // namespace kestro
