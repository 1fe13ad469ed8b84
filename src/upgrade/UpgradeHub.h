#pragma once
// The hub: everything one upgrade run needs, owned by value for the life of the front end (the
// window's form view or the command-line kit): the firmware file object, the serial engine, the
// reply receiver with its LinkState, the request holder, the boot image, the run flags, the
// worker thread and the log. The Upgrade command starts a run here; the worker reaches all run
// state through the hub.

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "firmware/CCommFile.h"
#include "firmware/FirmwareLoader.h"
#include "log/UpgradeLog.h"
#include "platform/Clock.h"
#include "platform/ManualResetEvent.h"
#include "platform/Settings.h"
#include "protocol/Frame.h"
#include "protocol/LinkState.h"
#include "protocol/PortEngine.h"
#include "protocol/ReplyReceiver.h"
#include "protocol/Transactions.h"
#include "serial/CSerialPort.h"
#include "upgrade/RadioCheck.h"
#include "upgrade/RecoveryRecords.h"
#include "upgrade/Reporter.h"

namespace kestro {

// How the last run ended, for front ends that report it (the command-line kit's exit status).
enum class RunOutcome {
    None,         // no run has ended yet
    Completed,    // the radio was upgraded
    Failed,       // a check or a step failed at the radio; a message box said which
    Interrupted,  // the run was asked to stop and ended at its next wait
};

// What the radio said after its upgrade, when the front end asked for a confirmation.
enum class ConfirmKind {
    None,         // no confirmation was asked for, or the run did not complete
    Confirmed,    // the same radio answers with the kit's firmware version
    OldVersion,   // the same radio answers with another version: the new firmware did not take
    NoAnswer,     // no radio answered within the wait
    OtherSerial,  // a radio with another serial number answers
};

struct Confirmation {
    ConfirmKind kind = ConfirmKind::None;
    std::string serial;   // as the radio told it after its restart ("" when it did not answer)
    std::string version;  // likewise
};

// What OnUpgrade did.
enum class StartResult {
    Started,       // a worker runs (or, with the inline option, has run) the upgrade
    Busy,          // a run is still in progress; nothing was started
    LoadFailed,    // the firmware file could not be used; the status line says why
    PortFailed,    // the port could not be opened; the message box was shown
    NoPortThread,  // the port thread could not be started
    NoWorker,      // the worker thread could not be created ("Unable to TX Thread")
};

class CUpgradeHub final : public IPortOwner {
public:
    struct Options {
        std::filesystem::path firmwarePath;  // empty: the kit's fixed firmware file
        std::filesystem::path logPath;       // empty: the platform's log path
        IPortEngine* engine = nullptr;       // empty: the hub's own serial engine
        IPortOwner* portOwner = nullptr;     // who receives the port's bytes; empty: the hub.
                                             // The window marshals them to its UI thread and
                                             // calls OnSerialRxChar there.
        IClock* clock = nullptr;             // empty: the real clock
        bool runWorkerInline = false;        // run the worker inside OnUpgrade (virtual time)
        std::filesystem::path recoveryFolder;  // where recovery records are kept; empty: none
        bool cableFallback = true;           // the own engine may replace a named port that
                                             // cannot be opened by the cable's USB lookup
        std::optional<PortTarget> port;      // the port every run opens; empty: the one that
                                             // the stored settings choose at each run
        // After the end of programming: how long the radio may take to restart and answer its
        // detection, version and serial number again. Zero: the run ends at the end of
        // programming, as the window's does.
        Millis confirmWait{0};
        // Each run is a read-only check (RadioCheck): no firmware file, no log line, no record,
        // and no request that changes the radio.
        bool checkOnly = false;
    };

    CUpgradeHub(IReporter& reporter, ISettings& settings, Options options);
    CUpgradeHub(IReporter& reporter, ISettings& settings) : CUpgradeHub(reporter, settings, Options{}) {}
    // Asks a running worker to stop and waits for it.
    ~CUpgradeHub() override;
    CUpgradeHub(const CUpgradeHub&) = delete;
    CUpgradeHub& operator=(const CUpgradeHub&) = delete;

    // Done once when the window is first shown: the log path and its header, and a box when the
    // log cannot be opened. Front ends that report only at a run's end do not call it: the
    // Upgrade command sets the path too, and the first line brings the header.
    void OnInitialUpdate();

    // The Upgrade command, on the front end's main thread.
    StartResult OnUpgrade();

    // The received-byte handler; runs on exactly one thread at a time.
    void OnSerialRxChar(std::uint8_t byte, int portNumber) override;
    void OnPortError(const std::string& text, int portNumber) override;

    // Asks a running run to end at its next wait (never mid-frame). Safe from any thread.
    void RequestStop();
    bool StopRequested() const { return m_stopEvent.IsSet(); }
    // A stop that spares a radio being programmed: a run that has not entered the span between
    // erase and boot swap is stopped as by RequestStop(); one inside it is left to finish.
    // Safe from any thread.
    void RequestStopBeforeErase();
    // Called by the worker just before the recovery record is written and the erase request
    // goes out: false when a stop came first (the run then ends as interrupted, its radio
    // untouched).
    bool EnterEraseSpan();
    // After the boot swap's acknowledgement, or when the run ends.
    void LeaveEraseSpan();
    bool InEraseSpan() const;
    // Waits for the current worker thread to end and releases it.
    void JoinWorker();

    bool UpgradeRunning() const { return m_upgradeRunning.load() != 0; }
    RunOutcome LastOutcome() const { return m_lastOutcome.load(); }
    // The text of the last failure message, for front ends that summarise a run.
    std::string LastMessage() const;
    // Why the last Upgrade could not open its port (the detail beneath "No device detected"),
    // or "" when it did.
    std::string OpenFailure() const;

    const CCommFile& CommFile() const { return m_commFile; }
    CCommFile& CommFile() { return m_commFile; }
    const CUpgradeLog& Log() const { return m_log; }
    CUpgradeLog& Log() { return m_log; }
    IReporter& Reporter() { return m_reporter; }
    IClock& Clock() { return *m_clock; }
    IPortEngine& Engine() { return *m_engine; }
    const std::string& PortSetting() const { return m_portSetting; }

    // The run flags as the front ends see them: m_upgradeRunning and m_recoveryMode (1 or 0).
    int UpgradeRunningFlag() const { return m_upgradeRunning.load(); }
    int RecoveryFlag() const { return m_recoveryMode.load(); }
    bool RecoveryArmed() const { return m_recoveryMode.load() == 1; }
    bool FirmwareLoadFailed() const { return m_firmwareLoadFailed != 0; }
    // Marks a run as in progress or not, as OnUpgrade and the worker's end do (the window's
    // commands and its Exit read it).
    void SetUpgradeRunning(bool running) { m_upgradeRunning.store(running ? 1 : 0); }
    // What the window's first showing does: no run in progress, no failed load remembered.
    void ResetRunFlags() {
        m_upgradeRunning.store(0);
        m_firmwareLoadFailed = 0;
    }
    // What the receiver has stored of the radio's replies (its serial number, version, ...).
    const LinkState& Link() const { return m_link; }
    // Sees every request frame as it is handed to the port (a frame trace).
    void SetSendObserver(std::function<void(const Frame&)> observer) { m_request.SetSendObserver(std::move(observer)); }

    // Sets the recovery flag and tells the reporter when it changed. Safe from any thread.
    // Clearing it also forgets the record that armed it.
    void SetRecoveryMode(bool armed);
    const CRecoveryRecords& RecoveryRecords() const { return m_recoveryRecords; }
    // The port of the current run, as a recovery record names it (serial number left empty).
    RecoveryRecord CurrentPort() const;
    static RecoveryRecord PortKey(int portNumber);
    // A target that names its device: the record names that device, under its COM number where
    // it has one, else under the name the user gave.
    static RecoveryRecord TargetKey(const PortTarget& target);
    // The port the next run opens, as a recovery record names it; empty when it is the cable
    // found automatically and none is found now.
    RecoveryRecord NextRunPort() const;
    // The records of a port, oldest first. `note` gets at most one line about files skipped.
    std::vector<RecoveryRecord> RecordsFor(const RecoveryRecord& port, std::string* note = nullptr) const;
    // Whether another run holds `port` open now (another kit, or another program): its records
    // then belong to a run that is alive, not to an interrupted one.
    static bool HeldElsewhere(const RecoveryRecord& port);
    // The port the next run opens: the stored port, or the cable's port that automatic
    // detection finds now (0 when it finds none).
    int PortForNextRun() const;
    // Arms recovery mode for the next run from `record`: that run finishes the radio the record
    // names and, once its boot swap is acknowledged (or it turns out not to be waiting in
    // programming), removes that record. Safe from any thread.
    void ArmFromRecord(const RecoveryRecord& record);
    // The record that armed recovery mode, if one did.
    std::optional<RecoveryRecord> ArmedRecord() const;

    // The worker's side of the records. Before the first request: whether a record can be
    // written at all. Before the erase: writes, durably, that this radio may be left without a
    // working firmware; false (with `error`) when it could not, and the erase must not go out.
    bool RecordsWritable(std::string& error) const;
    bool MarkRadioNeedsRecovery(const std::string& serial, std::string& error);
    // A run ended between erase and boot swap: the flag is set and the run's record arms the
    // next run.
    void RadioLeftNeedingRecovery();
    // The boot swap was acknowledged, or a recovery run's radio answered and refused
    // programming: the run's record and the record that armed the run go.
    void ForgetRecoveryRecords();
    // A recovery run's radio answered with `serial` on its new firmware: every record of that
    // radio goes (and no other radio's).
    void ForgetRecordsOfSerial(const std::string& serial);

    // Used by the worker to record how the run ended.
    void NoteOutcome(RunOutcome outcome, const std::string& message);
    // What the radio said after the last run's upgrade (Options.confirmWait).
    Confirmation LastConfirmation() const;
    void NoteConfirmation(const Confirmation& confirmation);
    // What the last check found (Options.checkOnly).
    RadioCheck LastCheck() const;
    void NoteCheck(const RadioCheck& check);
    bool CheckOnly() const { return m_options.checkOnly; }
    Millis ConfirmWait() const { return m_options.confirmWait; }
    // The last run failed because no radio answered its detection at all.
    void NoteNoAnswer() { m_noAnswer.store(true); }
    bool NoRadioAnswered() const { return m_noAnswer.load(); }
    // The flash and boot records the radio acknowledged in the last run.
    long long RowsWritten() const { return m_rowsWritten.load(); }
    // The worker's last act: after this the hub may start the next run.
    void NoteWorkerFinished() { m_workerFinished.store(true); }

private:
    friend class UpgradeRun;  // the workers: a run or a check reaches the run state directly
    friend class CheckRun;

    void SetStatus(const std::string& text) { m_reporter.SetStatusText(text); }

    // Run state, shared with the worker.
    std::atomic<int> m_upgradeRunning{0};
    std::atomic<int> m_recoveryMode{0};
    int m_firmwareLoadFailed = 0;
    LinkState m_link;
    CTransactions m_request;
    std::array<std::uint8_t, kBootImageSize> m_bootImage{};
    std::atomic<RunOutcome> m_lastOutcome{RunOutcome::None};
    std::atomic<bool> m_noAnswer{false};
    std::atomic<long long> m_rowsWritten{0};  // records the radio acknowledged in this run

    IReporter& m_reporter;
    ISettings& m_settings;
    Options m_options;
    IClock* m_clock;
    CCommFile m_commFile;
    CFirmwareLoader m_loader;
    CSerialPort m_port;
    IPortEngine* m_engine;
    ReplyReceiver m_receiver;
    CUpgradeLog m_log;
    CRecoveryRecords m_recoveryRecords;
    ManualResetEvent m_stopEvent;
    mutable std::mutex m_spanLock;  // a stop and the entry into the erase span never both pass
    bool m_inEraseSpan = false;
    std::thread m_workerThread;
    std::atomic<bool> m_workerFinished{true};
    std::string m_portSetting;
    mutable std::mutex m_messageLock;
    mutable std::mutex m_recordLock;
    std::optional<RecoveryRecord> m_armedRecord;  // m_recordLock
    std::optional<RecoveryRecord> m_runRecord;    // written before this run's erase; m_recordLock
    std::string m_lastMessage;
    std::string m_openFailure;  // m_messageLock
    Confirmation m_confirmation;  // m_messageLock
    RadioCheck m_check;           // m_messageLock
};

// The worker procedure: one run from the start gate to its end sequence.
void UpgradeWorker(CUpgradeHub& hub);

}  // namespace kestro
