// The Lines format: whole lines, each prefixed with its port when there are several radios.
#include "cli/console/Lines.h"

namespace kestro::cli::console {

namespace {

class LinesSink final : public IConsoleSink {
public:
    explicit LinesSink(ConsoleState& state) : m_state(state) {}

    void Started(int radio, const std::string& scenario) override {
        if (!scenario.empty()) m_state.Line(ScenarioLine(m_state, radio, scenario));
    }
    void Status(int radio, const std::string& text) override { m_state.Line(m_state.Prefix(radio) + text); }
    void Progress(int radio) override {
        RadioState& r = m_state.radios[radio];
        if (!r.NewPercent()) return;
        // The label of a progress stretch carries its percentage ("Firmware Writing 45%"); until
        // the stretch's first row it may still show the last one, so the percent is given alone.
        m_state.Line(m_state.Prefix(radio) + (EndsWithPercent(r.label, r.position)
                                                   ? r.label
                                                   : "progress " + std::to_string(r.position) + "%"));
    }
    void Message(int radio, const RunMessage& message) override { m_state.Line(MessageLine(m_state, radio, message)); }
    void Note(int radio, const std::string& text) override { m_state.Line(m_state.Prefix(radio) + text); }
    void Trace(int radio, const std::string& line) override { m_state.Trace(m_state.Prefix(radio) + line); }
    void Ended(int radio, const RadioSummary&) override {
        if (m_state.radios.size() > 1) m_state.Line(m_state.Prefix(radio) + m_state.radios[radio].result);
    }
    void Summary(const std::vector<RadioSummary>& radios, const RecoveryAdvice& advice, int) override {
        for (const std::string& line : SummaryLines(radios, advice, 0)) m_state.Line(line);
    }

private:
    ConsoleState& m_state;
};

}  // namespace

std::unique_ptr<IConsoleSink> MakeLinesSink(ConsoleState& state) { return std::make_unique<LinesSink>(state); }

}  // namespace kestro::cli::console
