// The Live format: one line per radio redrawn in place on a terminal, messages above them.
#include "cli/console/Live.h"

#include <cctype>
#include <cstdio>

#include "platform/Terminal.h"
#include "runcore/TimeLeft.h"

namespace kestro::cli::console {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kDefaultColumns = 80;

// `label` without a percent at its end: the live line shows the percent first.
std::string WithoutPercent(const std::string& label) {
    std::string text = label;
    if (!text.empty() && text.back() == '%') {
        text.pop_back();
        while (!text.empty() && std::isdigit(static_cast<unsigned char>(text.back()))) text.pop_back();
    }
    return Trimmed(text);
}

class LiveSink final : public IConsoleSink {
public:
    LiveSink(ConsoleState& state, int columns) : m_state(state), m_columns(columns) {}

    void Changed(int radio) override { RedrawLine(radio); }
    void Started(int radio, const std::string& scenario) override;
    void Status(int radio, const std::string& text) override;
    void Progress(int radio) override { RedrawLine(radio); }
    void Message(int radio, const RunMessage& message) override;
    void Note(int radio, const std::string& text) override;
    void Trace(int radio, const std::string& line) override;
    void Ended(int radio, const RadioSummary&) override { RedrawLine(radio); }
    void Tick() override;
    void Finish() override;
    void Summary(const std::vector<RadioSummary>& radios, const RecoveryAdvice& advice, int exitStatus) override;

private:
    int Columns() const;
    std::string LiveLine(const RadioState& radio) const;
    void PrintAbove(const std::string& line);
    void EraseBlock();
    void RedrawLine(int radio);
    void DrawBlock();

    ConsoleState& m_state;
    int m_columns;
    std::vector<std::string> m_drawn;  // each radio's line as last drawn
    bool m_blockDrawn = false;
    bool m_finished = false;  // the lines are never drawn again
};

}  // namespace

int LiveSink::Columns() const {
    if (m_columns > 0) return m_columns;
    const int columns = TerminalColumns(m_state.Out());
    return columns > 0 ? columns : kDefaultColumns;
}

// Port, serial number, then what matters most while rows go out (percent and time left), and
// the phase last: a narrow terminal cuts the end of the line.
std::string LiveSink::LiveLine(const RadioState& radio) const {
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

// The live block: one line per radio; the cursor stands at the start of the line below it.
void LiveSink::DrawBlock() {
    const int columns = Columns();
    m_drawn.resize(m_state.radios.size());
    for (std::size_t i = 0; i < m_state.radios.size(); ++i) {
        m_drawn[i] = Fit(LiveLine(m_state.radios[i]), columns);
        m_state.Raw("\r\033[2K" + m_drawn[i] + "\n");
    }
    m_blockDrawn = true;
}

void LiveSink::RedrawLine(int radio) {
    if (m_finished) return;
    if (!m_blockDrawn) {
        DrawBlock();
        return;
    }
    m_drawn.resize(m_state.radios.size());  // a radio added since the block was drawn has no line yet
    const std::string line = Fit(LiveLine(m_state.radios[radio]), Columns());
    if (line == m_drawn[radio]) return;
    m_drawn[radio] = line;
    const int up = static_cast<int>(m_state.radios.size()) - radio;
    char move[48];
    std::snprintf(move, sizeof move, "\033[%dA\r\033[2K", up);
    m_state.Raw(move + line);
    std::snprintf(move, sizeof move, "\r\033[%dB", up);
    m_state.Raw(move);
}

// Takes the live block off the screen; the cursor stands where its first line was.
void LiveSink::EraseBlock() {
    if (!m_blockDrawn) return;
    char move[32];
    std::snprintf(move, sizeof move, "\033[%zuA\r\033[J", m_state.radios.size());
    m_state.Raw(move);
}

void LiveSink::PrintAbove(const std::string& line) {
    if (m_finished) {
        m_state.Line(line);
        return;
    }
    EraseBlock();
    m_state.Line(line);
    DrawBlock();
}

void LiveSink::Started(int radio, const std::string& scenario) {
    if (scenario.empty()) {
        RedrawLine(radio);
    } else {
        PrintAbove(ScenarioLine(m_state, radio, scenario));
    }
}

void LiveSink::Status(int radio, const std::string& text) {
    // One radio keeps its status lines, as a single run always printed them.
    if (m_state.radios.size() == 1) PrintAbove(text);
    RedrawLine(radio);
}

void LiveSink::Message(int radio, const RunMessage& message) { PrintAbove(MessageLine(m_state, radio, message)); }

void LiveSink::Note(int radio, const std::string& text) { PrintAbove(m_state.Prefix(radio) + text); }

// A trace line goes to its own stream (standard error): whatever is pending on the output is
// written first, and the live block is taken off the screen and drawn again below the line.
void LiveSink::Trace(int radio, const std::string& line) {
    if (!m_finished) EraseBlock();
    m_state.Trace(m_state.Prefix(radio) + line);
    if (!m_finished) DrawBlock();
}

void LiveSink::Tick() {
    for (std::size_t i = 0; i < m_state.radios.size(); ++i) RedrawLine(static_cast<int>(i));
}

void LiveSink::Finish() {
    if (m_finished) return;
    // The final state of every line, once; the cursor is then below them.
    if (m_blockDrawn) {
        char move[32];
        std::snprintf(move, sizeof move, "\033[%zuA", m_state.radios.size());
        m_state.Raw(move);
    }
    DrawBlock();
    m_finished = true;
}

void LiveSink::Summary(const std::vector<RadioSummary>& radios, const RecoveryAdvice& advice, int) {
    for (const std::string& line : SummaryLines(radios, advice, Columns())) m_state.Line(line);
}

std::unique_ptr<IConsoleSink> MakeLiveSink(ConsoleState& state, int columns) {
    return std::make_unique<LiveSink>(state, columns);
}

}  // namespace kestro::cli::console
