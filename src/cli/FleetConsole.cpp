// The console's face: each call of the kit becomes an event for the writer thread.
#include "cli/FleetConsole.h"

#include "cli/console/Json.h"
#include "cli/console/Lines.h"
#include "cli/console/Live.h"
#include "runcore/TimeLeft.h"

namespace kestro::cli {

namespace {

std::unique_ptr<console::IConsoleSink> MakeSink(OutputMode mode, console::ConsoleState& state, int columns) {
    switch (mode) {
        case OutputMode::Live: return console::MakeLiveSink(state, columns);
        case OutputMode::Lines: return console::MakeLinesSink(state);
        case OutputMode::Json: break;
    }
    return console::MakeJsonSink(state);
}

}  // namespace

FleetConsole::FleetConsole(std::FILE* out, OutputMode mode, int columns, std::FILE* trace)
    : m_state(out, trace), m_writer(m_state, MakeSink(mode, m_state, columns)) {}

console::ConsoleEvent FleetConsole::MakeEvent(Kind kind, int radio, std::string text, int number) {
    console::ConsoleEvent event;
    event.kind = kind;
    event.radio = radio;
    event.text = std::move(text);
    event.number = number;
    return event;
}

void FleetConsole::RenamePort(int radio, const std::string& port) { m_writer.Post(MakeEvent(Kind::Rename, radio, port)); }
void FleetConsole::Started(int radio, const std::string& scenario) {
    m_writer.Post(MakeEvent(Kind::Started, radio, scenario));
}
void FleetConsole::Status(int radio, const std::string& text) { m_writer.Post(MakeEvent(Kind::Status, radio, text)); }
void FleetConsole::Serial(int radio, const std::string& serial) { m_writer.Post(MakeEvent(Kind::Serial, radio, serial)); }
void FleetConsole::ShowProgress(int radio, bool show) {
    m_writer.Post(MakeEvent(Kind::ShowProgress, radio, {}, show ? 1 : 0));
}
void FleetConsole::Progress(int radio, int position, const std::string& label) {
    if (position < 0 || position > 100) return;
    m_writer.Post(MakeEvent(Kind::Progress, radio, label, position));
}
void FleetConsole::Message(int radio, const RunMessage& message) {
    console::ConsoleEvent event = MakeEvent(Kind::Message, radio);
    event.message = message;
    m_writer.Post(std::move(event));
}
void FleetConsole::Note(int radio, const std::string& text) { m_writer.Post(MakeEvent(Kind::Note, radio, text)); }
void FleetConsole::Finishing(int radio) { m_writer.Post(MakeEvent(Kind::Finishing, radio)); }
void FleetConsole::Trace(int radio, const std::string& line) { m_writer.Post(MakeEvent(Kind::Trace, radio, line)); }
void FleetConsole::Ended(int radio, const RadioSummary& summary) {
    console::ConsoleEvent event = MakeEvent(Kind::Ended, radio);
    event.radios = {summary};
    m_writer.Post(std::move(event));
}
void FleetConsole::Tick() { m_writer.Post(MakeEvent(Kind::Tick, -1)); }
void FleetConsole::Finish() { m_writer.WaitWritten(m_writer.Post(MakeEvent(Kind::Finish, -1))); }
void FleetConsole::Summary(const std::vector<RadioSummary>& radios, const RecoveryAdvice& advice,
                           int exitStatus) {
    console::ConsoleEvent event = MakeEvent(Kind::Summary, -1, {}, exitStatus);
    event.radios = radios;
    event.advice = advice;
    m_writer.WaitWritten(m_writer.Post(std::move(event)));
}

std::string FleetConsole::MessageTitle(const std::string& text) { return kestro::MessageTitle(text); }

std::string FleetConsole::TimeLeft(int firstPosition, std::chrono::steady_clock::duration sinceFirst,
                                   int position) {
    return kestro::TimeLeft(firstPosition, sinceFirst, position);
}

}  // namespace kestro::cli
