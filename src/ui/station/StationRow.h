#pragma once
// What the station shows of one radio port: plain data, owned by the table model and changed only
// on the UI thread.

#include <QString>
#include <chrono>

namespace kestro::station {

enum class RowState {
    Idle,      // nothing started; waits for Upgrade
    Settling,  // the cable just appeared; its run starts once it has settled
    Running,
    Ended,     // the result stays until the cable is unplugged
};

enum class RowResult { None, Upgraded, Failed };

// What one of the row's own buttons does.
enum class RowAction {
    None,     // its cable is gone (and its radio needs no recovery)
    Upgrade,  // starts the radio's upgrade
    Finish,   // the recovery run that finishes the radio an interrupted upgrade left
    Stop,     // stops the run before its erase
};

struct StationRow {
    int id = 0;
    QString device;     // the path opened: /dev/ttyUSB0, a simulated radio's pseudo-terminal
    QString byId;       // the cable's /dev/serial/by-id name, where it has one
    QString scenario;   // a simulated radio's set-up; "" for a real port
    bool manual = false;    // added by hand: stays whatever the cable scan finds
    bool present = true;    // its cable is plugged in
    int slot = 0;       // the cable's number for the session: the next radio on it gets the same
    int radio = 0;      // counts the radios that came on this row's cable, for the counts
    QString serial;
    QString firmwareBefore;
    QString firmwareAfter;  // what the radio runs after its upgrade
    QString lastRun;        // the radio's latest earlier run in the history, in words
    QString lastRunServer;  // its latest run in the shared history, where a server is set
    QString phase;
    bool progressShown = false;
    int percent = 0;
    QString label;
    // The current stretch of rows: its first percent seen and when (-1: none yet).
    int firstPercent = -1;
    std::chrono::steady_clock::time_point firstAt{};
    QString timeLeft;
    RowState state = RowState::Idle;
    RowResult result = RowResult::None;
    QString resultText;  // "upgraded", or the title of the message that ended the run
    QString cause;       // the run's end in a few words, with the message's number
    bool silent = false; // its last run found no radio answering: maybe one left without firmware
    std::chrono::steady_clock::time_point startedAt{};
    QString elapsed;     // of the run that goes on, or of the last one
    QString message;     // the whole text of that message
    QString notes;       // the run's notes and guidance, one a line
    bool needsRecovery = false;
    std::chrono::steady_clock::time_point settleUntil{};

    bool Simulated() const { return !scenario.isEmpty(); }
    // What the last run said goes (its result, message, notes, phase and progress): a new run
    // starts on the row.
    void ClearRun();
    // The next radio on the same cable: idle, with nothing of the last radio's run, serial
    // number or firmware.
    void NextRadio();
    // A radio left needing recovery is offered Finish, even while its cable is out (a simulated
    // one is plugged in again by it); any other offers Upgrade while plugged in. A radio that
    // runs offers Stop.
    RowAction Action() const;
    // The button beside it: Finish, where the last run found no radio answering (the radio may
    // be one that waits for its firmware); None otherwise.
    RowAction SecondAction() const;
    bool Offers(RowAction action) const { return action != RowAction::None && (Action() == action || SecondAction() == action); }
    // What the phase cell shows: the phase, "unplugged", or where a failed run stopped.
    QString PhaseText() const;
    // "PASS: upgraded", "FAIL: Battery low: charge it (Read Error #8)": never colour alone.
    QString ResultCell() const;
    // As the user knows the port: the device, with the cable's stable name where there is one.
    QString PortText() const;
    // "port, phase, result", for screen readers: the row's name.
    QString AccessibleText() const;
    // What the row's button does, and for which port ("Upgrade the radio on /dev/ttyUSB0");
    // its screen-reader name and tool tip.
    QString ActionText() const;
};

}  // namespace kestro::station
