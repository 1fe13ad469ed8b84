#pragma once
// Everything kestro-upgrade prints about its radios, from the worker and port threads of every
// run at once, in one of three forms:
//   Live:  on a terminal, one line per radio redrawn in place and fitted to the width; messages
//          and notes print above those lines, which are then drawn again below them;
//   Lines: whole lines, each prefixed with its port (no prefix when there is one radio);
//   Json:  one JSON object per line, each with its port.
// This is the face the kit uses: each call becomes an event for the one writer thread
// (console/Writer), so a posting thread never waits for the output; one sink per form
// (console/Live, Lines, Json) writes the events.

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/console/RadioState.h"
#include "cli/console/SummaryTable.h"
#include "cli/console/Writer.h"
#include "runcore/RadioSummary.h"
#include "runcore/RunObserver.h"

namespace kestro::cli {

enum class OutputMode { Live, Lines, Json };

class FleetConsole {
public:
    // `columns`: the width of live lines and the summary; 0 asks the terminal (80 if it does
    // not tell). `trace`: where --trace lines go (standard error).
    FleetConsole(std::FILE* out, OutputMode mode, int columns = 0, std::FILE* trace = stderr);
    // Writes what is still queued.
    ~FleetConsole() = default;
    FleetConsole(const FleetConsole&) = delete;
    FleetConsole& operator=(const FleetConsole&) = delete;

    // Starts the writer thread, once a radio's port is open; until then what is posted waits
    // (Finish, Summary and the console's end write it on the calling thread).
    void StartWriter() { m_writer.Start(); }
    bool WriterThreaded() const { return m_writer.Threaded(); }
    // Before the runs start: a radio and the port it is reported by. Returns its index.
    int AddRadio(const std::string& port) { return m_writer.AddRadio(port); }
    // A radio's port became known (the cable found for "auto").
    void RenamePort(int radio, const std::string& port);
    std::size_t RadioCount() const { return m_writer.RadioCount(); }

    void Started(int radio, const std::string& scenario);
    void Status(int radio, const std::string& text);
    void Serial(int radio, const std::string& serial);
    void ShowProgress(int radio, bool show);
    void Progress(int radio, int position, const std::string& label);
    void Message(int radio, const RunMessage& message);
    // A note of the kit's own about a radio; radio -1 for the whole fleet.
    void Note(int radio, const std::string& text);
    // The history could not take a run's row: said once for the whole fleet, however many runs
    // it refused.
    void HistoryNotWritten(const std::string& reason) {
        if (!m_historyNoted.exchange(true)) {
            Note(-1, "kestro-upgrade: the history of runs was not written (" + reason +
                         "); the upgrades and the CSV log are not affected");
        }
    }
    // The radio was left to finish its programming after a stop: its live line says so.
    void Finishing(int radio);
    // One --trace line; with several radios it is prefixed with the radio's port.
    void Trace(int radio, const std::string& line);
    void Ended(int radio, const RadioSummary& summary);

    // Redraws live lines whose time left has changed; called now and then by the main thread.
    void Tick();
    // Ends the live lines for good: they are never drawn again, and the cursor stands at the
    // start of an empty line. Returns once everything posted before it has been written.
    void Finish();
    // The table of every radio and the ports left needing recovery, with the one command that
    // finishes them; `exitStatus` goes into the JSON summary. Returns once it has been written.
    void Summary(const std::vector<RadioSummary>& radios, const RecoveryAdvice& advice, int exitStatus);

    // A message box text on one line: each run of CR and LF becomes one blank.
    static std::string OneLine(const std::string& text) { return console::OneLine(text); }
    // The first line of a message box text ("Read Error #8"), trailing blanks removed.
    static std::string MessageTitle(const std::string& text);
    // `text` cut to fit `columns` - 1 columns, so that it never wraps.
    static std::string Fit(std::string text, int columns) { return console::Fit(std::move(text), columns); }
    // The summary table, one string per line, each at most `columns` - 1 long (0: no limit):
    // the least needed columns go first, then the result is shortened.
    static std::vector<std::string> Table(const std::vector<RadioSummary>& radios, int columns = 0) {
        return console::Table(radios, columns);
    }
    // "1:05 left": the time the rest of a stretch takes at the rate its rows have gone so far,
    // from the first row on (the wait for the erase before it is no row); "" until a row is done.
    static std::string TimeLeft(int firstPosition, std::chrono::steady_clock::duration sinceFirst,
                                int position);

private:
    using Kind = console::ConsoleEvent::Kind;
    static console::ConsoleEvent MakeEvent(Kind kind, int radio, std::string text = {}, int number = 0);

    console::ConsoleState m_state;  // the writer's; it outlives the writer thread
    console::Writer m_writer;
    std::atomic<bool> m_historyNoted{false};
};

}  // namespace kestro::cli
