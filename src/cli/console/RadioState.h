#pragma once
// What the console's output formats share: each radio's state as its events left it, the text
// written but not yet sent out, and the few texts that more than one format prints.

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "runcore/RadioSummary.h"
#include "runcore/RunObserver.h"

namespace kestro::cli::console {

struct RadioState {
    std::string port;
    std::string serial;
    std::string status;
    std::string label;
    std::string result;  // set once the run has ended
    int position = 0;
    int lastPrinted = -1;
    bool progressShown = false;
    bool finishing = false;
    // The stretch's first row: when and at which percent (-1: none yet).
    int firstPosition = -1;
    std::chrono::steady_clock::time_point firstAt{};

    // Whether the progress is now shown or hidden where it was not; a change starts a stretch.
    bool ShowProgress(bool show, std::chrono::steady_clock::time_point at);
    void Progress(int position, const std::string& label, std::chrono::steady_clock::time_point at);
    // Whether the percent differs from the one last printed; it is then the one last printed.
    bool NewPercent();
    void End(const RadioSummary& summary);
};

// The radios and the output they go to; only the writer thread touches it.
class ConsoleState {
public:
    ConsoleState(std::FILE* out, std::FILE* trace) : m_out(out), m_traceOut(trace) {}

    std::vector<RadioState> radios;

    std::FILE* Out() const { return m_out; }
    // "/dev/ttyUSB0: " before a radio's lines when there are several radios; "" for the fleet (-1).
    std::string Prefix(int radio) const;
    void Raw(const std::string& text) { m_pending += text; }
    void Line(const std::string& line);  // one whole line
    // One trace line to its own stream, after what is pending on the output.
    void Trace(const std::string& line);
    void WriteOut();  // what is pending, to the terminal or pipe

private:
    std::FILE* m_out;
    std::FILE* m_traceOut;
    std::string m_pending;
};

std::string Trimmed(std::string text);
// A message box text on one line: each run of CR and LF becomes one blank.
std::string OneLine(const std::string& text);
// `text` cut to fit `columns` - 1 columns, so that it never wraps.
std::string Fit(std::string text, int columns);
// Whether `label` ends with `position` as its percent ("Firmware Writing 45%", "Boot Writing  2%").
bool EndsWithPercent(const std::string& label, int position);
// The text formats' line for a simulated radio's start and for a message.
std::string ScenarioLine(const ConsoleState& state, int radio, const std::string& scenario);
std::string MessageLine(const ConsoleState& state, int radio, const RunMessage& message);

}  // namespace kestro::cli::console
