#pragma once
// Which radio a run upgrades and with what: the port as the front end chose it (or a simulated
// radio), and the files and mode of the run.

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "protocol/PortEngine.h"

namespace kestro {

class SimulatedLine;

struct RadioTarget {
    RadioTarget() = default;
    RadioTarget(std::string portName, std::string scenarioName)
        : port(std::move(portName)), scenario(std::move(scenarioName)) {}

    std::string port;      // as the user named it: auto, COMn or a device path; unused when simulated
    std::string scenario;  // not empty: a simulated radio with this set-up
    // The port to open, as the front end resolved `port`; empty: the programming cable found
    // automatically.
    std::optional<PortTarget> chosen;
    // A simulated cable that the front end keeps between runs (plugged in again before a run
    // when its radio lost it); empty: a simulated run starts its own radio for `scenario`.
    std::shared_ptr<SimulatedLine> line;
    std::string simulatedSerial;  // a simulated radio's serial number (ten characters)
};

struct RunSettings {
    std::filesystem::path firmware;  // empty: the kit's own firmware file
    std::filesystem::path log;       // empty: the kit's log path
    bool recovery = false;           // straight to programming: finishes a radio left without firmware
    bool trace = false;              // the front end hands the run a frame tap
    // A read-only check instead of an upgrade: the radio is read and told what an upgrade would
    // do; no firmware file, log line, recovery record or history row, and no request that
    // changes the radio.
    bool checkOnly = false;
    // After the end of programming, how long the radio may take to restart and answer on its new
    // firmware; zero: no confirmation. Fifteen seconds: a radio restarts in a few, and a radio
    // that has not answered by then is switched off and on by the technician anyway.
    std::chrono::milliseconds confirmWait{15000};
    // Each run's row of the history: the front end it is recorded under, and the file ("": the
    // state folder's history.sqlite). No front end: no row.
    std::string historyFrontEnd{};
    std::filesystem::path history{};
    // Called once the run's row is in the history (on the thread that ended the run): where the
    // front end sends its runs on to a history server. It must not wait for the server.
    std::function<void()> historyAdded{};
    // The shared history server the front end sends runs to ("" none): where a radio's latest
    // run at another bench is looked up.
    std::string historyServer{};
};

// Simulated radios are told apart by their serial numbers: KS24001735, KS24001736, ...
inline std::string SimulatedSerial(int index) { return "KS" + std::to_string(24001735 + index); }

}  // namespace kestro
