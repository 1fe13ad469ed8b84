#pragma once
// --simulate: a simulated radio served on a pseudo-terminal, given a port number of its own so
// that the kit opens it through its real serial engine like a cable.

#include <memory>
#include <string>

namespace kestro {
class PtyRadioServer;
}

namespace kestro::cli {

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

private:
    std::unique_ptr<PtyRadioServer> m_server;
};

}  // namespace kestro::cli
