#include "cli/FleetConsole.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <system_error>

#include "platform/Terminal.h"
#include "runcore/TimeLeft.h"

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

// The JSON text of `object` on one line; invalid UTF-8 from a radio is replaced, never thrown.
std::string OneObject(const Json& object) {
    return object.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// Whether `label` ends with `position` as its percent ("Firmware Writing 45%", "Boot Writing  2%").
bool EndsWithPercent(const std::string& label, int position) {
    const std::string percent = std::to_string(position) + "%";
    if (label.size() < percent.size()) return false;
    const std::size_t at = label.size() - percent.size();
    return label.compare(at, percent.size(), percent) == 0 &&
           (at == 0 || !std::isdigit(static_cast<unsigned char>(label[at - 1])));
}

// `label` without a percent at its end: the live line shows the percent first.
std::string WithoutPercent(const std::string& label) {
    std::string text = label;
    if (!text.empty() && text.back() == '%') {
        text.pop_back();
        while (!text.empty() && std::isdigit(static_cast<unsigned char>(text.back()))) text.pop_back();
    }
    return Trimmed(text);
}

}  // namespace

FleetConsole::FleetConsole(std::FILE* out, OutputMode mode, int columns, std::FILE* trace)
    : m_out(out), m_traceOut(trace), m_mode(mode), m_columns(columns) {}

void FleetConsole::StartWriter() {
    std::lock_guard lock(m_queueLock);
    if (m_writerState != WriterState::NotYet) return;
    try {
        m_writer = std::thread([this] { WriterLoop(); });
        m_writerState = WriterState::Running;
    } catch (const std::system_error&) {
        // No thread: each post is written at once, by the thread that posts it.
        m_writerState = WriterState::None;
        WriteQueued();
    }
}

FleetConsole::~FleetConsole() {
    {
        std::lock_guard lock(m_queueLock);
        m_closing = true;
        if (m_writerState != WriterState::Running) WriteQueued();
    }
    m_wake.notify_one();
    if (m_writer.joinable()) m_writer.join();
}

std::deque<FleetConsole::Event> FleetConsole::TakeQueued() {
    std::deque<Event> batch;
    batch.swap(m_queue);
    std::fill(m_queuedProgress.begin(), m_queuedProgress.end(), nullptr);
    m_tickQueued = false;
    return batch;
}

void FleetConsole::WriteQueued() {
    for (Event& e : TakeQueued()) Handle(e);
    WriteOut();
    m_writtenCount = m_posted;
}

std::uint64_t FleetConsole::Post(Event event) {
    event.at = Clock::now();
    std::unique_lock lock(m_queueLock);
    if (event.kind == Kind::Progress && m_queuedProgress[event.radio] != nullptr &&
        m_queuedProgress[event.radio]->number <= event.number) {
        // Not yet written: the latest percent takes its place (but never a new stretch's first).
        Event& queued = *m_queuedProgress[event.radio];
        queued.number = event.number;
        queued.text.swap(event.text);
        queued.at = event.at;
        return m_posted;
    }
    if (event.kind == Kind::Tick) {
        if (m_tickQueued) return m_posted;
        m_tickQueued = true;
    }
    const int radio = event.radio;
    const bool progress = event.kind == Kind::Progress;
    if (event.kind == Kind::AddRadio) m_queuedProgress.push_back(nullptr);
    m_queue.push_back(std::move(event));
    // A deque keeps its elements in place while others are added at its end.
    if (radio >= 0) m_queuedProgress[radio] = progress ? &m_queue.back() : nullptr;
    const std::uint64_t sequence = ++m_posted;
    if (m_writerState != WriterState::Running) {
        // Not yet: the writer, once started, or a waiter takes it. None: written at once.
        if (m_writerState == WriterState::None) WriteQueued();
        return sequence;
    }
    lock.unlock();
    m_wake.notify_one();
    return sequence;
}

void FleetConsole::WaitWritten(std::uint64_t sequence) {
    std::unique_lock lock(m_queueLock);
    if (m_writerState != WriterState::Running) return WriteQueued();
    m_written.wait(lock, [&] { return m_writtenCount >= sequence; });
}

void FleetConsole::WriterLoop() {
    std::deque<Event> batch;
    for (;;) {
        {
            std::unique_lock lock(m_queueLock);
            m_wake.wait(lock, [this] { return !m_queue.empty() || m_closing; });
            if (m_queue.empty()) return;  // closing, and everything written
            batch = TakeQueued();
        }
        for (Event& event : batch) Handle(event);
        WriteOut();
        {
            std::lock_guard lock(m_queueLock);
            m_writtenCount += batch.size();
        }
        m_written.notify_all();
        batch.clear();
    }
}

void FleetConsole::Handle(Event& e) {
    switch (e.kind) {
        case Kind::AddRadio: {
            Radio radio;
            radio.port = e.text;
            m_radios.push_back(std::move(radio));
            break;
        }
        case Kind::Rename:
            m_radios[e.radio].port = e.text;
            RedrawLine(e.radio);
            break;
        case Kind::Started: OnStarted(e.radio, e.text); break;
        case Kind::Status: OnStatus(e.radio, e.text); break;
        case Kind::Serial:
            m_radios[e.radio].serial = e.text;
            RedrawLine(e.radio);
            break;
        case Kind::ShowProgress: OnShowProgress(e.radio, e.number != 0, e.at); break;
        case Kind::Progress: OnProgress(e.radio, e.number, e.text, e.at); break;
        case Kind::Message: OnMessage(e.radio, e.message); break;
        case Kind::Note: OnNote(e.radio, e.text); break;
        case Kind::Finishing:
            m_radios[e.radio].finishing = true;
            RedrawLine(e.radio);
            break;
        case Kind::Trace: OnTrace(e.radio, e.text); break;
        case Kind::Ended: OnEnded(e.radio, e.radios.front()); break;
        case Kind::Tick:
            if (m_mode != OutputMode::Live) break;
            for (std::size_t i = 0; i < m_radios.size(); ++i) RedrawLine(static_cast<int>(i));
            break;
        case Kind::Finish: OnFinish(); break;
        case Kind::Summary: OnSummary(e.radios, e.advice, e.number); break;
    }
}

void FleetConsole::WriteOut() {
    if (m_pending.empty()) return;
    std::fwrite(m_pending.data(), 1, m_pending.size(), m_out);
    std::fflush(m_out);
    m_pending.clear();
}

int FleetConsole::AddRadio(const std::string& port) {
    int index = 0;
    {
        std::lock_guard lock(m_queueLock);
        index = static_cast<int>(m_radioCount++);
    }
    Post(MakeEvent(Kind::AddRadio, -1, port));
    return index;
}

std::size_t FleetConsole::RadioCount() const {
    std::lock_guard lock(m_queueLock);
    return m_radioCount;
}

FleetConsole::Event FleetConsole::MakeEvent(Kind kind, int radio, std::string text, int number) {
    Event event;
    event.kind = kind;
    event.radio = radio;
    event.text = std::move(text);
    event.number = number;
    return event;
}

void FleetConsole::RenamePort(int radio, const std::string& port) { Post(MakeEvent(Kind::Rename, radio, port)); }
void FleetConsole::Started(int radio, const std::string& scenario) { Post(MakeEvent(Kind::Started, radio, scenario)); }
void FleetConsole::Status(int radio, const std::string& text) { Post(MakeEvent(Kind::Status, radio, text)); }
void FleetConsole::Serial(int radio, const std::string& serial) { Post(MakeEvent(Kind::Serial, radio, serial)); }
void FleetConsole::ShowProgress(int radio, bool show) { Post(MakeEvent(Kind::ShowProgress, radio, {}, show ? 1 : 0)); }
void FleetConsole::Progress(int radio, int position, const std::string& label) {
    if (position < 0 || position > 100) return;
    Post(MakeEvent(Kind::Progress, radio, label, position));
}
void FleetConsole::Message(int radio, const RunMessage& message) {
    Event event = MakeEvent(Kind::Message, radio);
    event.message = message;
    Post(std::move(event));
}
void FleetConsole::Note(int radio, const std::string& text) { Post(MakeEvent(Kind::Note, radio, text)); }
void FleetConsole::Finishing(int radio) { Post(MakeEvent(Kind::Finishing, radio)); }
void FleetConsole::Trace(int radio, const std::string& line) { Post(MakeEvent(Kind::Trace, radio, line)); }
void FleetConsole::Ended(int radio, const RadioSummary& summary) {
    Event event = MakeEvent(Kind::Ended, radio);
    event.radios = {summary};
    Post(std::move(event));
}
void FleetConsole::Tick() { Post(MakeEvent(Kind::Tick, -1)); }
void FleetConsole::Finish() { WaitWritten(Post(MakeEvent(Kind::Finish, -1))); }
void FleetConsole::Summary(const std::vector<RadioSummary>& radios, const RecoveryAdvice& advice,
                           int exitStatus) {
    Event event = MakeEvent(Kind::Summary, -1, {}, exitStatus);
    event.radios = radios;
    event.advice = advice;
    WaitWritten(Post(std::move(event)));
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

std::string FleetConsole::MessageTitle(const std::string& text) { return kestro::MessageTitle(text); }

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

std::string FleetConsole::TimeLeft(int firstPosition, Clock::duration sinceFirst, int position) {
    return kestro::TimeLeft(firstPosition, sinceFirst, position);
}

// Port, serial number, then what matters most while rows go out (percent and time left), and
// the phase last: a narrow terminal cuts the end of the line.
std::string FleetConsole::LiveLine(const Radio& radio) const {
    std::string line = radio.port;
    if (!radio.serial.empty()) line += "  " + radio.serial;
    if (!radio.result.empty()) return line + "  " + radio.result;
    if (radio.progressShown && !radio.label.empty()) {
        line += "  " + std::to_string(radio.position) + "%";
        const std::string left = TimeLeft(radio.firstPosition, Clock::now() - radio.firstAt, radio.position);
        if (!left.empty()) line += "  " + left;
        if (radio.finishing) line += "  finishing: do not unplug";
        line += "  " + WithoutPercent(radio.label);
    } else {
        if (radio.finishing) line += "  finishing: do not unplug";
        if (!radio.status.empty()) line += "  " + radio.status;
    }
    return line;
}

void FleetConsole::Emit(const std::string& line) {
    m_pending += line;
    m_pending += '\n';
}

// The live block: one line per radio; the cursor stands at the start of the line below it.
void FleetConsole::DrawBlock() {
    const int columns = Columns();
    for (Radio& radio : m_radios) {
        radio.drawn = Fit(LiveLine(radio), columns);
        m_pending += "\r\033[2K" + radio.drawn + "\n";
    }
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
    m_pending += move + line;
    std::snprintf(move, sizeof move, "\r\033[%dB", up);
    m_pending += move;
}

// Takes the live block off the screen; the cursor stands where its first line was.
void FleetConsole::EraseBlock() {
    if (!m_blockDrawn) return;
    char move[32];
    std::snprintf(move, sizeof move, "\033[%zuA\r\033[J", m_radios.size());
    m_pending += move;
}

void FleetConsole::PrintAbove(const std::string& line) {
    if (m_mode != OutputMode::Live || m_finished) {
        Emit(line);
        return;
    }
    EraseBlock();
    Emit(line);
    DrawBlock();
}

void FleetConsole::OnStarted(int radio, const std::string& scenario) {
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

void FleetConsole::OnStatus(int radio, const std::string& text) {
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

void FleetConsole::OnShowProgress(int radio, bool show, Clock::time_point at) {
    Radio& r = m_radios[radio];
    if (r.progressShown == show) return;
    r.progressShown = show;
    r.lastPrinted = -1;
    r.firstPosition = -1;
    r.firstAt = at;
    RedrawLine(radio);
}

void FleetConsole::OnProgress(int radio, int position, const std::string& label, Clock::time_point at) {
    Radio& r = m_radios[radio];
    if (position < r.position) r.firstPosition = -1;  // the next stretch (boot rows after application rows)
    // The rate counts from the stretch's first row: the erase before it is no row.
    if (r.firstPosition < 0 && r.progressShown && position > 0) {
        r.firstPosition = position;
        r.firstAt = at;
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
    const bool labelHasIt = EndsWithPercent(label, position);
    if (m_mode == OutputMode::Json) {
        Json object{{"event", "progress"}, {"port", r.port}, {"percent", position}};
        if (labelHasIt) object["label"] = label;
        Emit(OneObject(object));
    } else {
        Emit(Prefix(radio) + (labelHasIt ? label : "progress " + std::to_string(position) + "%"));
    }
}

void FleetConsole::OnMessage(int radio, const RunMessage& message) {
    if (m_mode == OutputMode::Json) {
        Emit(OneObject({{"event", "message"},
                        {"port", m_radios[radio].port},
                        {"title", message.title},
                        {"icon", message.kind},
                        {"text", message.text}}));
        return;
    }
    // With several radios each line needs its port, on a terminal too.
    const std::string prefix = m_radios.size() > 1 ? m_radios[radio].port + ": " : "";
    PrintAbove(prefix + "[" + message.title + "] " + message.kind + ": " + OneLine(message.text));
}

void FleetConsole::OnNote(int radio, const std::string& text) {
    if (m_mode == OutputMode::Json) {
        Json object{{"event", "note"}, {"text", text}};
        if (radio >= 0) object["port"] = m_radios[radio].port;
        Emit(OneObject(object));
        return;
    }
    const std::string prefix = radio >= 0 && m_radios.size() > 1 ? m_radios[radio].port + ": " : "";
    PrintAbove(prefix + text);
}

// A trace line goes to its own stream (standard error): whatever is pending on the output is
// written first, and the live block is taken off the screen and drawn again below the line.
void FleetConsole::OnTrace(int radio, const std::string& line) {
    const std::string text = Prefix(radio) + line + "\n";
    const bool live = m_mode == OutputMode::Live && !m_finished;
    if (live) EraseBlock();
    if (m_traceOut == m_out) {
        m_pending += text;
    } else {
        WriteOut();
        std::fputs(text.c_str(), m_traceOut);
        std::fflush(m_traceOut);
    }
    if (live) DrawBlock();
}

void FleetConsole::OnEnded(int radio, const RadioSummary& summary) {
    Radio& r = m_radios[radio];
    r.port = summary.port;
    if (!summary.serial.empty()) r.serial = summary.serial;
    r.result = summary.result + (summary.NeedsRecovery() ? ", needs recovery" : "");
    switch (m_mode) {
        case OutputMode::Json:
            Emit(OneObject({{"event", "end"},
                            {"port", summary.port},
                            {"outcome", OutcomeName(summary.end.kind)},
                            {"result", summary.result},
                            {"serial", summary.serial},
                            {"firmware_before", summary.firmwareBefore},
                            {"codeplug_restored", summary.codeplug},
                            {"needs_recovery", summary.NeedsRecovery()},
                            {"seconds", summary.seconds}}));
            break;
        case OutputMode::Lines:
            if (m_radios.size() > 1) Emit(Prefix(radio) + r.result);
            break;
        case OutputMode::Live: RedrawLine(radio); break;
    }
}

void FleetConsole::OnFinish() {
    if (m_mode == OutputMode::Live && !m_finished) {
        // The final state of every line, once; the cursor is then below them.
        if (m_blockDrawn) {
            char move[32];
            std::snprintf(move, sizeof move, "\033[%zuA", m_radios.size());
            m_pending += move;
        }
        DrawBlock();
    }
    m_finished = true;
}

std::vector<std::string> FleetConsole::Table(const std::vector<RadioSummary>& radios, int columns) {
    enum { kPort, kSerial, kBefore, kCodeplug, kResult, kTime };
    std::vector<std::vector<std::string>> rows{
        {"PORT", "SERIAL", "FW BEFORE", "CODEPLUG RESTORED", "RESULT", "TIME"}};
    for (const RadioSummary& r : radios) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.1f s", r.seconds);
        rows.push_back({r.port, r.serial.empty() ? "-" : r.serial,
                        r.firmwareBefore.empty() ? "-" : r.firmwareBefore,
                        r.codeplug.empty() ? "-" : r.codeplug,
                        r.result + (r.NeedsRecovery() ? ", needs recovery" : ""), seconds});
    }
    auto render = [&rows](const std::vector<int>& shown) {
        std::vector<std::size_t> widths(shown.size(), 0);
        for (const auto& row : rows) {
            for (std::size_t c = 0; c < shown.size(); ++c) widths[c] = std::max(widths[c], row[shown[c]].size());
        }
        std::vector<std::string> lines;
        for (const auto& row : rows) {
            std::string line;
            for (std::size_t c = 0; c < shown.size(); ++c) {
                line += c + 1 < shown.size() ? Pad(row[shown[c]], widths[c] + 2) : row[shown[c]];
            }
            lines.push_back(line);
        }
        return lines;
    };
    auto fits = [columns](const std::vector<std::string>& lines) {
        return columns <= 0 || std::all_of(lines.begin(), lines.end(), [columns](const std::string& line) {
                   return static_cast<int>(line.size()) <= columns - 1;
               });
    };
    // Narrower and narrower: a shorter heading, then the least needed columns go; the port and
    // the result stay, and the result is cut at the edge as a last resort.
    std::vector<int> shown{kPort, kSerial, kBefore, kCodeplug, kResult, kTime};
    std::vector<std::string> lines = render(shown);
    if (fits(lines)) return lines;
    rows[0][kCodeplug] = "RESTORED";
    for (const int dropped : {-1, int{kTime}, int{kBefore}, int{kCodeplug}, int{kSerial}}) {
        std::erase(shown, dropped);
        lines = render(shown);
        if (fits(lines)) return lines;
    }
    for (std::string& line : lines) line = Fit(std::move(line), columns);
    return lines;
}

void FleetConsole::OnSummary(const std::vector<RadioSummary>& radios, const RecoveryAdvice& advice,
                             int exitStatus) {
    std::vector<std::string> needing;
    std::size_t simulatedNeeding = 0;
    for (const RadioSummary& r : radios) {
        if (!r.NeedsRecovery()) continue;
        if (r.simulated) {
            ++simulatedNeeding;
        } else {
            needing.push_back(r.port);
        }
    }
    if (m_mode == OutputMode::Json) {
        Json list = Json::array();
        std::vector<std::string> ports;
        for (const RadioSummary& r : radios) {
            list.push_back({{"port", r.port}, {"outcome", OutcomeName(r.end.kind)}, {"result", r.result}});
            if (r.NeedsRecovery()) ports.push_back(r.port);
        }
        Json object{{"event", "summary"},
                    {"radios", list},
                    {"needs_recovery", ports},
                    {"exit_status", exitStatus}};
        if (!advice.command.empty()) object["recovery_command"] = advice.command;
        if (!advice.simulatedCommand.empty()) object["simulated_recovery_command"] = advice.simulatedCommand;
        Emit(OneObject(object));
        return;
    }
    // A simulated radio's pseudo-terminal is gone with this run: no command can reach it again,
    // but the same recovery can be tried on fresh simulated radios.
    const std::string simulatedAdvice =
        "Simulated radios vanish with the run; to try the same recovery on simulated radios: " +
        advice.simulatedCommand;
    if (radios.size() == 1) {
        // One radio: its messages said it all; only a radio left unfinished needs a word.
        if (!needing.empty()) {
            Emit("The radio was left between erase and boot swap and does not start as it is. "
                 "Finish it with: " + advice.command);
        } else if (simulatedNeeding > 0) {
            Emit("The simulated radio was left between erase and boot swap. " + simulatedAdvice);
        }
    } else {
        for (const std::string& line : Table(radios, m_mode == OutputMode::Live ? Columns() : 0)) Emit(line);
        if (!needing.empty()) {
            std::string text = "Left needing recovery:";
            for (const std::string& port : needing) text += " " + port;
            Emit(text);
            Emit("Finish them with: " + advice.command);
        }
        if (simulatedNeeding > 0) {
            Emit(std::to_string(simulatedNeeding) + " simulated radio" + (simulatedNeeding > 1 ? "s" : "") +
                 " left needing recovery. " + simulatedAdvice);
        }
    }
}

}  // namespace kestro::cli
