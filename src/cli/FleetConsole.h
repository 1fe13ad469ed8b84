#pragma once
// Everything kestro-upgrade prints about its radios, from the worker and port threads of every
// run at once, in one of three forms:
//   Live:  on a terminal, one line per radio redrawn in place and fitted to the width; messages
//          and notes print above those lines, which are then drawn again below them;
//   Lines: whole lines, each prefixed with its port (no prefix when there is one radio);
//   Json:  one JSON object per line, each with its port.
// One writer thread owns the output once a radio's port is open (StartWriter). The other threads
// only post events to it: a post holds a lock just long enough to queue the event, never across a
// write, so a reader that stalls (a pager, a full pipe, a stuck terminal) never holds up a radio.
// While the writer is behind, a radio's queued percent is replaced by its latest one; every other
// event is written, in order. Before the writer starts, events wait in the queue until it does,
// or until Finish, Summary or the end writes them on the calling thread: a run that stops before
// any port is open starts no thread.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "runcore/RadioSummary.h"
#include "runcore/RunObserver.h"

namespace kestro::cli {

enum class OutputMode { Live, Lines, Json };

// What the summary tells about radios left between erase and boot swap.
struct RecoveryAdvice {
    std::string command;           // finishes the real radios left needing recovery; "" if none
    std::string simulatedCommand;  // the same recovery on fresh simulated radios; "" if none
};

class FleetConsole {
public:
    // `columns`: the width of live lines and the summary; 0 asks the terminal (80 if it does
    // not tell). `trace`: where --trace lines go (standard error).
    FleetConsole(std::FILE* out, OutputMode mode, int columns = 0, std::FILE* trace = stderr);
    // Writes what is still queued.
    ~FleetConsole();
    // Starts the writer thread; once is enough, later calls do nothing. Without a thread every
    // post is then written at once by the thread that posts it.
    void StartWriter();
    FleetConsole(const FleetConsole&) = delete;
    FleetConsole& operator=(const FleetConsole&) = delete;

    // Before the runs start: a radio and the port it is reported by. Returns its index.
    int AddRadio(const std::string& port);
    // A radio's port became known (the cable found for "auto").
    void RenamePort(int radio, const std::string& port);
    std::size_t RadioCount() const;

    void Started(int radio, const std::string& scenario);
    void Status(int radio, const std::string& text);
    void Serial(int radio, const std::string& serial);
    void ShowProgress(int radio, bool show);
    void Progress(int radio, int position, const std::string& label);
    void Message(int radio, const RunMessage& message);
    // A note of the kit's own about a radio; radio -1 for the whole fleet.
    void Note(int radio, const std::string& text);
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
    static std::string OneLine(const std::string& text);
    // The first line of a message box text ("Read Error #8"), trailing blanks removed.
    static std::string MessageTitle(const std::string& text);
    // `text` cut to fit `columns` - 1 columns, so that it never wraps.
    static std::string Fit(std::string text, int columns);
    // The summary table, one string per line, each at most `columns` - 1 long (0: no limit):
    // the least needed columns go first, then the result is shortened.
    static std::vector<std::string> Table(const std::vector<RadioSummary>& radios, int columns = 0);
    // "1:05 left": the time the rest of a stretch takes at the rate its rows have gone so far,
    // from the first row on (the wait for the erase before it is no row); "" until a row is done.
    static std::string TimeLeft(int firstPosition, std::chrono::steady_clock::duration sinceFirst,
                                int position);

private:
    enum class Kind : std::uint8_t {
        AddRadio, Rename, Started, Status, Serial, ShowProgress, Progress, Message, Note,
        Finishing, Trace, Ended, Tick, Finish, Summary
    };
    struct Event {
        Kind kind = Kind::Tick;
        int radio = -1;
        std::string text;  // port, scenario, status, serial, label, message, note or trace line
        int number = 0;    // percent, or 1/0 for ShowProgress
        RunMessage message;  // Message
        std::chrono::steady_clock::time_point at{};  // when it was posted
        std::vector<RadioSummary> radios;  // Ended: one; Summary: all
        RecoveryAdvice advice;
    };
    struct Radio {
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
        std::string drawn;  // the live line as last drawn
    };

    static Event MakeEvent(Kind kind, int radio, std::string text = {}, int number = 0);
    // Queues `event` for the writer; returns its sequence number.
    std::uint64_t Post(Event event);
    // Returns once the event numbered `sequence` has been written.
    void WaitWritten(std::uint64_t sequence);
    void WriterLoop();

    // The writer's side: only the writer thread runs these, or, while there is none, a thread
    // that holds m_queueLock.
    void Handle(Event& event);
    void OnStarted(int radio, const std::string& scenario);
    void OnStatus(int radio, const std::string& text);
    void OnShowProgress(int radio, bool show, std::chrono::steady_clock::time_point at);
    void OnProgress(int radio, int position, const std::string& label, std::chrono::steady_clock::time_point at);
    void OnMessage(int radio, const RunMessage& message);
    void OnNote(int radio, const std::string& text);
    void OnTrace(int radio, const std::string& line);
    void OnEnded(int radio, const RadioSummary& summary);
    void OnFinish();
    void OnSummary(const std::vector<RadioSummary>& radios, const RecoveryAdvice& advice, int exitStatus);
    std::string Prefix(int radio) const;
    std::string LiveLine(const Radio& radio) const;
    int Columns() const;
    void PrintAbove(const std::string& line);
    void EraseBlock();
    void RedrawLine(int radio);
    void DrawBlock();
    void Emit(const std::string& line);  // one whole line out
    void WriteOut();                     // what is pending, to the terminal or pipe
    std::deque<Event> TakeQueued();      // the queue emptied into the result, under m_queueLock
    void WriteQueued();                  // the queue, on the calling thread, under m_queueLock

    std::FILE* m_out;
    std::FILE* m_traceOut;
    OutputMode m_mode;
    int m_columns;

    // Shared with the posting threads, under m_queueLock.
    mutable std::mutex m_queueLock;
    std::condition_variable m_wake;     // the writer: events are queued, or the end
    std::condition_variable m_written;  // the waiters of Finish() and Summary()
    std::deque<Event> m_queue;
    std::vector<Event*> m_queuedProgress;  // per radio: its last queued event when a percent
    bool m_tickQueued = false;
    std::size_t m_radioCount = 0;
    std::uint64_t m_posted = 0;
    std::uint64_t m_writtenCount = 0;
    bool m_closing = false;
    enum class WriterState { NotYet, Running, None };
    WriterState m_writerState = WriterState::NotYet;

    // The writer's own.
    std::vector<Radio> m_radios;
    std::string m_pending;  // text not yet written
    bool m_blockDrawn = false;
    bool m_finished = false;

    std::thread m_writer;  // joinable once StartWriter has made it
};

}  // namespace kestro::cli
