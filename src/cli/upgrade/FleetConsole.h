#pragma once
// Everything kestro-upgrade prints about its radios, from the worker and port threads of every
// run at once, in one of three forms:
//   Live:  on a terminal, one line per radio redrawn in place and fitted to the width; messages
//          and notes print above those lines, which are then drawn again below them;
//   Lines: whole lines, each prefixed with its port (no prefix when there is one radio);
//   Json:  one JSON object per line, each with its port.
// One lock orders all output, so that no line is ever torn or mixed with another.

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "upgrade/Reporter.h"

namespace kestro::cli {

enum class OutputMode { Live, Lines, Json };

// How one radio's run ended, for its end line, the summary and the exit status.
struct RadioSummary {
    std::string port;
    std::string serial;          // "" until read
    std::string firmwareBefore;  // "" until read
    std::string codeplug;        // "Yes" restored, "No" not needed, "" not reached
    std::string outcome;         // "completed", "failed", "interrupted", "not started"
    std::string result;          // "upgraded", or the title of the message that ended the run
    bool needsRecovery = false;
    double seconds = 0.0;
};

class FleetConsole {
public:
    // `columns`: the width of live lines; 0 asks the terminal at each redraw (80 if it does
    // not tell).
    FleetConsole(std::FILE* out, OutputMode mode, int columns = 0);

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
    void Message(int radio, const std::string& text, TitleKind title, Icon icon);
    // A note of the kit's own about a radio; radio -1 for the whole fleet.
    void Note(int radio, const std::string& text);
    void Ended(int radio, const RadioSummary& summary);

    // Redraws live lines whose time left has changed; called now and then by the main thread.
    void Tick();
    // Ends the live lines for good: they are never drawn again, and the cursor stands at the
    // start of an empty line.
    void Finish();
    // The table of every radio and the ports left needing recovery, with the one command that
    // finishes them; `exitStatus` goes into the JSON summary.
    void Summary(const std::vector<RadioSummary>& radios, const std::string& recoveryCommand,
                 int exitStatus);

    // A message box text on one line: each run of CR and LF becomes one blank.
    static std::string OneLine(const std::string& text);
    // The first line of a message box text ("Read Error #8"), trailing blanks removed.
    static std::string MessageTitle(const std::string& text);
    // `text` cut to fit `columns` - 1 columns, so that it never wraps.
    static std::string Fit(std::string text, int columns);
    // The summary table, one string per line.
    static std::vector<std::string> Table(const std::vector<RadioSummary>& radios);

private:
    struct Radio {
        std::string port;
        std::string serial;
        std::string status;
        std::string label;
        std::string result;  // set once the run has ended
        int position = 0;
        int lastPrinted = -1;
        bool progressShown = false;
        std::chrono::steady_clock::time_point stretchStart{};
        int stretchStartPosition = 0;
        std::string drawn;  // the live line as last drawn
    };

    std::string Prefix(int radio) const;              // m_lock held
    std::string LiveLine(const Radio& radio) const;   // m_lock held
    int Columns() const;
    void PrintAbove(const std::string& line);         // m_lock held
    void RedrawLine(int radio);                       // m_lock held
    void DrawBlock();                                 // m_lock held
    void Emit(const std::string& line);               // m_lock held: one whole line out

    mutable std::mutex m_lock;
    std::FILE* m_out;
    OutputMode m_mode;
    int m_columns;
    std::vector<Radio> m_radios;
    bool m_blockDrawn = false;
    bool m_finished = false;
};

}  // namespace kestro::cli
