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

// What the row's own button does now.
enum class RowAction {
    None,     // running, or its cable is gone (and its radio needs no recovery)
    Upgrade,  // starts the radio's upgrade
    Finish,   // the recovery run that finishes the radio an interrupted upgrade left
};

struct StationRow {
    int id = 0;
    QString device;     // the path opened: /dev/ttyUSB0, a simulated radio's pseudo-terminal
    QString byId;       // the cable's /dev/serial/by-id name, where it has one
    QString scenario;   // a simulated radio's set-up; "" for a real port
    bool manual = false;    // added by hand: stays whatever the cable scan finds
    bool present = true;    // its cable is plugged in
    QString serial;
    QString firmwareBefore;
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
    // runs offers nothing.
    RowAction Action() const;
    // As the user knows the port: the device, with the cable's stable name where there is one.
    QString PortText() const;
    // "port, phase, result", for screen readers.
    QString AccessibleText() const;
    // What the row's button does, and for which port ("Upgrade the radio on /dev/ttyUSB0");
    // its screen-reader name and tool tip.
    QString ActionText() const;
};

}  // namespace kestro::station
