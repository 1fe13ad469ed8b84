// The Json format: one JSON object per line for each event, each with its port.
#include "cli/console/Json.h"

#include <nlohmann/json.hpp>

#include "log/UpgradeLog.h"

namespace kestro::cli::console {

namespace {

using Json = nlohmann::json;

// The JSON text of `object` on one line; invalid UTF-8 from a radio is replaced, never thrown.
std::string OneObject(const Json& object) {
    return object.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// A check's findings; what was not read is null.
Json CheckObject(const RadioCheck& check) {
    auto text = [](const std::string& value) { return value.empty() ? Json() : Json(LogField(value)); };
    return Json{{"verdict", std::string(CheckVerdictName(check.verdict))},
                {"text", CheckVerdictText(check)},
                {"would_upgrade", check.WouldUpgrade()},
                {"battery_low", check.batteryLow ? Json(*check.batteryLow) : Json()},
                {"model", text(check.model)},
                {"firmware", text(check.firmware)},
                {"serial", text(check.serial)},
                {"codeplug_byte", check.codeplugByte ? Json(*check.codeplugByte) : Json()},
                {"unread", text(check.unread)}};
}

class JsonSink final : public IConsoleSink {
public:
    explicit JsonSink(ConsoleState& state) : m_state(state) {}

    void Started(int radio, const std::string& scenario) override {
        Json object{{"event", "start"}, {"port", Port(radio)}};
        if (!scenario.empty()) object["scenario"] = scenario;
        m_state.Line(OneObject(object));
    }
    void Status(int radio, const std::string& text) override {
        m_state.Line(OneObject({{"event", "status"}, {"port", Port(radio)}, {"text", text}}));
    }
    void Progress(int radio) override {
        RadioState& r = m_state.radios[radio];
        if (!r.NewPercent()) return;
        // Until the stretch's first row the label may still carry the last stretch's percent.
        Json object{{"event", "progress"}, {"port", r.port}, {"percent", r.position}};
        if (EndsWithPercent(r.label, r.position)) object["label"] = r.label;
        m_state.Line(OneObject(object));
    }
    void Message(int radio, const RunMessage& message) override {
        m_state.Line(OneObject({{"event", "message"},
                                {"port", Port(radio)},
                                {"title", message.title},
                                {"icon", message.kind},
                                {"text", message.text}}));
    }
    void Note(int radio, const std::string& text) override {
        Json object{{"event", "note"}, {"text", text}};
        if (radio >= 0) object["port"] = Port(radio);
        m_state.Line(OneObject(object));
    }
    // A trace line is for people reading standard error: plain text, as in the other formats.
    void Trace(int radio, const std::string& line) override { m_state.Trace(m_state.Prefix(radio) + line); }
    void Ended(int, const RadioSummary& summary) override {
        Json object{{"event", "end"},
                                {"port", summary.port},
                                {"outcome", OutcomeName(summary.end.kind)},
                                {"result", summary.result},
                                {"serial", summary.serial},
                                {"firmware_before", summary.firmwareBefore},
                                {"codeplug_restored", summary.codeplug},
                                {"needs_recovery", summary.NeedsRecovery()},
                                {"confirmed", summary.end.Confirmed()},
                                {"firmware_after", summary.end.versionAfter},
                                {"seconds", summary.seconds}};
        if (summary.check) object["check"] = CheckObject(*summary.check);
        m_state.Line(OneObject(object));
    }
    void Summary(const std::vector<RadioSummary>& radios, const RecoveryAdvice& advice, int exitStatus) override {
        Json list = Json::array();
        std::vector<std::string> ports;
        for (const RadioSummary& r : radios) {
            list.push_back({{"port", r.port}, {"outcome", OutcomeName(r.end.kind)}, {"result", r.result}});
            if (r.NeedsRecovery()) ports.push_back(r.port);
        }
        Json object{{"event", "summary"}, {"radios", list}, {"needs_recovery", ports}, {"exit_status", exitStatus}};
        if (!advice.command.empty()) object["recovery_command"] = advice.command;
        if (!advice.simulatedCommand.empty()) object["simulated_recovery_command"] = advice.simulatedCommand;
        m_state.Line(OneObject(object));
    }

private:
    const std::string& Port(int radio) const { return m_state.radios[radio].port; }

    ConsoleState& m_state;
};

}  // namespace

std::unique_ptr<IConsoleSink> MakeJsonSink(ConsoleState& state) { return std::make_unique<JsonSink>(state); }

}  // namespace kestro::cli::console
