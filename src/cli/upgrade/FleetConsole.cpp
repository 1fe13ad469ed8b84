#include "cli/upgrade/FleetConsole.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "platform/Terminal.h"

namespace kestro::cli {

namespace {

using Json = nlohmann::json;
using Clock = std::chrono::steady_clock;

constexpr int kDefaultColumns = 80;

std::string Trimmed(std::string text) {
    while (!text.empty() && text.back() == ' ') text.pop_back();
    while (!text.empty() && text.front() == ' ') text.erase(text.begin());
    return text;
}

std::string Pad(std::string text, std::size_t width) {
    if (text.size() < width) text.append(width - text.size(), ' ');
    return text;
}

// "1:05" for 65 seconds.
std::string Minutes(long long seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", seconds / 60, seconds % 60);
    return text;
}

// The JSON text of `object` on one line; invalid UTF-8 from a radio is replaced, never thrown.
std::string OneObject(const Json& object) {
    return object.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

FleetConsole::FleetConsole(std::FILE* out, OutputMode mode, int columns)
    : m_out(out), m_mode(mode), m_columns(columns) {}

int FleetConsole::AddRadio(const std::string& port) {
    std::lock_guard lock(m_lock);
    Radio radio;
    radio.port = port;
    m_radios.push_back(std::move(radio));
    return static_cast<int>(m_radios.size()) - 1;
}

void FleetConsole::RenamePort(int radio, const std::string& port) {
    std::lock_guard lock(m_lock);
    m_radios[radio].port = port;
    RedrawLine(radio);
}

std::size_t FleetConsole::RadioCount() const {
    std::lock_guard lock(m_lock);
    return m_radios.size();
}

std::string FleetConsole::OneLine(const std::string& text) {
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

std::string FleetConsole::MessageTitle(const std::string& text) {
    return Trimmed(text.substr(0, text.find_first_of("\r\n")));
}

std::string FleetConsole::Fit(std::string text, int columns) {
    if (columns > 0 && static_cast<int>(text.size()) > columns - 1) {
        text.resize(static_cast<std::size_t>(columns - 1));
    }
    return text;
}

int FleetConsole::Columns() const {
    if (m_columns > 0) return m_columns;
    const int columns = TerminalColumns(m_out);
    return columns > 0 ? columns : kDefaultColumns;
}

std::string FleetConsole::Prefix(int radio) const {
    if (radio < 0 || m_radios.size() < 2) return {};
    return m_radios[radio].port + ": ";
}

std::string FleetConsole::LiveLine(const Radio& radio) const {
    std::string line = radio.port;
    if (!radio.serial.empty()) line += "  " + radio.serial;
    if (!radio.result.empty()) return line + "  " + radio.result;
    if (radio.progressShown && !radio.label.empty()) {
        line += "  " + radio.label;
        const int done = radio.position - radio.stretchStartPosition;
        if (done > 0 && radio.position < 100) {
            const auto elapsed = std::chrono::duration<double>(Clock::now() - radio.stretchStart);
            const double left = elapsed.count() * (100 - radio.position) / done;
            line += "  " + Minutes(static_cast<long long>(left + 0.5)) + " left";
        }
    } else if (!radio.status.empty()) {
        line += "  " + radio.status;
    }
    return line;
}

void FleetConsole::Emit(const std::string& line) {
    std::fputs(line.c_str(), m_out);
    std::fputc('\n', m_out);
    std::fflush(m_out);
}

// The live block: one line per radio; the cursor stands at the start of the line below it.
void FleetConsole::DrawBlock() {
    const int columns = Columns();
    std::string text;
    for (Radio& radio : m_radios) {
        radio.drawn = Fit(LiveLine(radio), columns);
        text += "\r\033[2K" + radio.drawn + "\n";
    }
    std::fputs(text.c_str(), m_out);
    std::fflush(m_out);
    m_blockDrawn = true;
}

void FleetConsole::RedrawLine(int radio) {
    if (m_mode != OutputMode::Live || m_finished) return;
    if (!m_blockDrawn) {
        DrawBlock();
        return;
    }
    Radio& r = m_radios[radio];
    const std::string line = Fit(LiveLine(r), Columns());
    if (line == r.drawn) return;
    r.drawn = line;
    const int up = static_cast<int>(m_radios.size()) - radio;
    char move[48];
    std::snprintf(move, sizeof move, "\033[%dA\r\033[2K", up);
    std::string text = move + line;
    std::snprintf(move, sizeof move, "\r\033[%dB", up);
    text += move;
    std::fputs(text.c_str(), m_out);
    std::fflush(m_out);
}

void FleetConsole::PrintAbove(const std::string& line) {
    if (m_mode != OutputMode::Live || m_finished) {
        Emit(line);
        return;
    }
    if (m_blockDrawn) {
        char move[32];
        std::snprintf(move, sizeof move, "\033[%zuA\r\033[J", m_radios.size());
        std::fputs(move, m_out);
    }
    std::fputs(line.c_str(), m_out);
    std::fputc('\n', m_out);
    DrawBlock();
}

void FleetConsole::Started(int radio, const std::string& scenario) {
    std::lock_guard lock(m_lock);
    if (m_mode == OutputMode::Json) {
        Json object{{"event", "start"}, {"port", m_radios[radio].port}};
        if (!scenario.empty()) object["scenario"] = scenario;
        Emit(OneObject(object));
    } else if (!scenario.empty()) {
        PrintAbove(m_radios.size() > 1 ? m_radios[radio].port + ": simulated radio, scenario " + scenario
                                       : "Simulated radio (scenario " + scenario + ") on " +
                                             m_radios[radio].port);
    } else {
        RedrawLine(radio);
    }
}

void FleetConsole::Status(int radio, const std::string& text) {
    std::lock_guard lock(m_lock);
    m_radios[radio].status = Trimmed(text);
    switch (m_mode) {
        case OutputMode::Json:
            Emit(OneObject({{"event", "status"}, {"port", m_radios[radio].port}, {"text", text}}));
            break;
        case OutputMode::Lines: Emit(Prefix(radio) + text); break;
        case OutputMode::Live:
            // One radio keeps its status lines, as a single run always printed them.
            if (m_radios.size() == 1) PrintAbove(text);
            RedrawLine(radio);
            break;
    }
}

void FleetConsole::Serial(int radio, const std::string& serial) {
    std::lock_guard lock(m_lock);
    m_radios[radio].serial = serial;
    RedrawLine(radio);
}

void FleetConsole::ShowProgress(int radio, bool show) {
    std::lock_guard lock(m_lock);
    Radio& r = m_radios[radio];
    if (r.progressShown == show) return;
    r.progressShown = show;
    r.lastPrinted = -1;
    r.stretchStart = Clock::now();
    r.stretchStartPosition = r.position;
    RedrawLine(radio);
}

void FleetConsole::Progress(int radio, int position, const std::string& label) {
    std::lock_guard lock(m_lock);
    if (position < 0 || position > 100) return;
    Radio& r = m_radios[radio];
    if (position < r.position) {  // the next stretch (boot rows after application rows)
        r.stretchStart = Clock::now();
        r.stretchStartPosition = position;
    }
    r.position = position;
    r.label = label;
    if (!r.progressShown) return;
    if (m_mode == OutputMode::Live) {
        RedrawLine(radio);
        return;
    }
    if (position == r.lastPrinted) return;
    r.lastPrinted = position;
    // The label of a progress stretch carries its percentage ("Firmware Writing 45%"); until
    // the stretch's first row it may still show the last one, so the percent is given alone.
    const std::string percent = std::to_string(position) + "%";
    const std::size_t at = label.size() >= percent.size() ? label.size() - percent.size() : 0;
    const bool labelHasIt = label.size() >= percent.size() && label.compare(at, percent.size(), percent) == 0 &&
                            (at == 0 || !std::isdigit(static_cast<unsigned char>(label[at - 1])));
    if (m_mode == OutputMode::Json) {
        Json object{{"event", "progress"}, {"port", r.port}, {"percent", position}};
        if (labelHasIt) object["label"] = label;
        Emit(OneObject(object));
    } else {
        Emit(Prefix(radio) + (labelHasIt ? label : "progress " + percent));
    }
}

void FleetConsole::Message(int radio, const std::string& text, TitleKind title, Icon icon) {
    std::lock_guard lock(m_lock);
    if (m_mode == OutputMode::Json) {
        Emit(OneObject({{"event", "message"},
                        {"port", m_radios[radio].port},
                        {"title", TitleText(title)},
                        {"icon", IconName(icon)},
                        {"text", text}}));
        return;
    }
    // With several radios each line needs its port, on a terminal too.
    const std::string prefix = m_radios.size() > 1 ? m_radios[radio].port + ": " : "";
    PrintAbove(prefix + "[" + TitleText(title) + "] " + IconName(icon) + ": " + OneLine(text));
}

void FleetConsole::Note(int radio, const std::string& text) {
    std::lock_guard lock(m_lock);
    if (m_mode == OutputMode::Json) {
        Json object{{"event", "note"}, {"text", text}};
        if (radio >= 0) object["port"] = m_radios[radio].port;
        Emit(OneObject(object));
        return;
    }
    const std::string prefix = radio >= 0 && m_radios.size() > 1 ? m_radios[radio].port + ": " : "";
    PrintAbove(prefix + text);
}

void FleetConsole::Ended(int radio, const RadioSummary& summary) {
    std::lock_guard lock(m_lock);
    Radio& r = m_radios[radio];
    r.port = summary.port;
    if (!summary.serial.empty()) r.serial = summary.serial;
    r.result = summary.result + (summary.needsRecovery ? ", needs recovery" : "");
    switch (m_mode) {
        case OutputMode::Json:
            Emit(OneObject({{"event", "end"},
                            {"port", summary.port},
                            {"outcome", summary.outcome},
                            {"result", summary.result},
                            {"serial", summary.serial},
                            {"firmware_before", summary.firmwareBefore},
                            {"codeplug_restored", summary.codeplug},
                            {"needs_recovery", summary.needsRecovery},
                            {"seconds", summary.seconds}}));
            break;
        case OutputMode::Lines:
            if (m_radios.size() > 1) Emit(Prefix(radio) + r.result);
            break;
        case OutputMode::Live: RedrawLine(radio); break;
    }
}

void FleetConsole::Tick() {
    std::lock_guard lock(m_lock);
    if (m_mode != OutputMode::Live) return;
    for (std::size_t i = 0; i < m_radios.size(); ++i) RedrawLine(static_cast<int>(i));
}

void FleetConsole::Finish() {
    std::lock_guard lock(m_lock);
    if (m_mode == OutputMode::Live && !m_finished) {
        // The final state of every line, once; the cursor is then below them.
        if (m_blockDrawn) {
            char move[32];
            std::snprintf(move, sizeof move, "\033[%zuA", m_radios.size());
            std::fputs(move, m_out);
        }
        DrawBlock();
    }
    m_finished = true;
}

std::vector<std::string> FleetConsole::Table(const std::vector<RadioSummary>& radios) {
    std::vector<std::vector<std::string>> rows{
        {"PORT", "SERIAL", "FW BEFORE", "CODEPLUG RESTORED", "RESULT", "TIME"}};
    for (const RadioSummary& r : radios) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.1f s", r.seconds);
        rows.push_back({r.port, r.serial.empty() ? "-" : r.serial,
                        r.firmwareBefore.empty() ? "-" : r.firmwareBefore,
                        r.codeplug.empty() ? "-" : r.codeplug,
                        r.result + (r.needsRecovery ? ", needs recovery" : ""), seconds});
    }
    std::vector<std::size_t> widths(rows[0].size(), 0);
    for (const auto& row : rows) {
        for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
    }
    std::vector<std::string> lines;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c) {
            line += c + 1 < row.size() ? Pad(row[c], widths[c] + 2) : row[c];
        }
        lines.push_back(line);
    }
    return lines;
}

void FleetConsole::Summary(const std::vector<RadioSummary>& radios,
                           const std::string& recoveryCommand, int exitStatus) {
    std::lock_guard lock(m_lock);
    std::vector<std::string> needing;
    for (const RadioSummary& r : radios) {
        if (r.needsRecovery) needing.push_back(r.port);
    }
    if (m_mode == OutputMode::Json) {
        Json list = Json::array();
        for (const RadioSummary& r : radios) {
            list.push_back({{"port", r.port}, {"outcome", r.outcome}, {"result", r.result}});
        }
        Json object{{"event", "summary"},
                    {"radios", list},
                    {"needs_recovery", needing},
                    {"exit_status", exitStatus}};
        if (!recoveryCommand.empty()) object["recovery_command"] = recoveryCommand;
        Emit(OneObject(object));
        return;
    }
    std::string text;
    if (radios.size() == 1) {
        // One radio: its messages said it all; only a radio left unfinished needs a word.
        if (!needing.empty()) {
            text = "The radio was left between erase and boot swap and does not start as it is. "
                   "Finish it with: " + recoveryCommand + "\n";
        }
    } else {
        for (const std::string& line : Table(radios)) text += line + "\n";
    }
    if (!needing.empty() && radios.size() > 1) {
        text += "Left needing recovery:";
        for (const std::string& port : needing) text += " " + port;
        text += "\nFinish them with: " + recoveryCommand + "\n";
    }
    std::fputs(text.c_str(), m_out);
    std::fflush(m_out);
}

}  // namespace kestro::cli
