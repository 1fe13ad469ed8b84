// What the console's output formats share: each radio's state, the pending output and the
// texts more than one format prints.
#include "cli/console/RadioState.h"

#include <cctype>

namespace kestro::cli::console {

bool RadioState::ShowProgress(bool show, std::chrono::steady_clock::time_point at) {
    if (progressShown == show) return false;
    progressShown = show;
    lastPrinted = -1;
    firstPosition = -1;
    firstAt = at;
    return true;
}

void RadioState::Progress(int newPosition, const std::string& newLabel, std::chrono::steady_clock::time_point at) {
    if (newPosition < position) firstPosition = -1;  // the next stretch (boot rows after application rows)
    // The rate counts from the stretch's first row: the erase before it is no row.
    if (firstPosition < 0 && progressShown && newPosition > 0) {
        firstPosition = newPosition;
        firstAt = at;
    }
    position = newPosition;
    label = newLabel;
}

bool RadioState::NewPercent() {
    if (position == lastPrinted) return false;
    lastPrinted = position;
    return true;
}

void RadioState::End(const RadioSummary& summary) {
    port = summary.port;
    if (!summary.serial.empty()) serial = summary.serial;
    result = summary.result + (summary.NeedsRecovery() ? ", needs recovery" : "");
}

std::string ConsoleState::Prefix(int radio) const {
    if (radio < 0 || radios.size() < 2) return {};
    return radios[radio].port + ": ";
}

void ConsoleState::Line(const std::string& line) {
    m_pending += line;
    m_pending += '\n';
}

void ConsoleState::Trace(const std::string& line) {
    if (m_traceOut == m_out) {
        Line(line);
        return;
    }
    WriteOut();
    std::fputs((line + "\n").c_str(), m_traceOut);
    std::fflush(m_traceOut);
}

void ConsoleState::WriteOut() {
    if (m_pending.empty()) return;
    std::fwrite(m_pending.data(), 1, m_pending.size(), m_out);
    std::fflush(m_out);
    m_pending.clear();
}

std::string Trimmed(std::string text) {
    while (!text.empty() && text.back() == ' ') text.pop_back();
    while (!text.empty() && text.front() == ' ') text.erase(text.begin());
    return text;
}

std::string OneLine(const std::string& text) {
    std::string out;
    bool inBreak = false;
    for (const char c : text) {
        if (c == '\r' || c == '\n') {
            if (!inBreak && !out.empty() && out.back() != ' ') out += ' ';
            inBreak = true;
            continue;
        }
        inBreak = false;
        out += c;
    }
    return Trimmed(out);
}

std::string Fit(std::string text, int columns) {
    if (columns > 0 && static_cast<int>(text.size()) > columns - 1) {
        text.resize(static_cast<std::size_t>(columns - 1));
    }
    return text;
}

bool EndsWithPercent(const std::string& label, int position) {
    const std::string percent = std::to_string(position) + "%";
    if (label.size() < percent.size()) return false;
    const std::size_t at = label.size() - percent.size();
    return label.compare(at, percent.size(), percent) == 0 &&
           (at == 0 || !std::isdigit(static_cast<unsigned char>(label[at - 1])));
}

std::string ScenarioLine(const ConsoleState& state, int radio, const std::string& scenario) {
    const std::string& port = state.radios[radio].port;
    return state.radios.size() > 1 ? port + ": simulated radio, scenario " + scenario
                                   : "Simulated radio (scenario " + scenario + ") on " + port;
}

// With several radios each line needs its port, on a terminal too.
std::string MessageLine(const ConsoleState& state, int radio, const RunMessage& message) {
    return state.Prefix(radio) + "[" + message.title + "] " + message.kind + ": " + OneLine(message.text);
}

}  // namespace kestro::cli::console
