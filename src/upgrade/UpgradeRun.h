#pragma once
// One run of the upgrade worker: its phases, its two log texts and its end sequences. Private to
// the upgrade folder; front ends start runs through CUpgradeHub::OnUpgrade.

#include <optional>
#include <string>

#include "protocol/Transactions.h"
#include "upgrade/Reporter.h"
#include "upgrade/UpgradeHub.h"

namespace kestro {

struct ProgrammingStep;

class UpgradeRun {
public:
    explicit UpgradeRun(CUpgradeHub& hub);
    void Execute();

private:
    enum class End { StatusReset, NoReset };

    // Each phase returns true to go on; false once it has ended the run.
    bool Detection();
    bool PreChecks();
    bool Codeplug();
    bool ResetMode();
    void Programming();
    // After the end of programming: the radio restarts and is asked who it is and what it runs.
    void Confirm();
    bool RunStep(const ProgrammingStep& step);
    bool StepFailed(const ProgrammingStep& step, bool nak);
    bool WriteApplicationRows(const ProgrammingStep& step);
    bool WriteBootRows(const ProgrammingStep& step);
    // The recovery record, before the erase; false once the run has ended without it.
    bool WriteRecoveryRecord();
    bool RecordNotWritten(const std::string& error);
    // After the serial number is read: records on this port that name other radios stay.
    void TellOfOtherRadiosRecords();

    // Shows `message` (when given), records the failure with the last message shown and leaves
    // by the end named.
    bool Fail(const char* message, TitleKind title, Icon icon, End end);
    // A transaction ended because the run was asked to stop: our own message, the step's effect
    // on the recovery flag, the step's end.
    bool Interrupt(End end, bool leavesRadioNeedingRecovery);
    void Box(const char* message, TitleKind title, Icon icon);
    void LogLine(const std::string& result);
    void EndRun(End end);

    CUpgradeHub& m_hub;
    IReporter& m_reporter;
    CTransactions& m_tx;
    LinkState& m_link;
    std::string m_versionColumn;
    std::string m_runRecord;
    std::string m_lastBox;  // the last message box of this run
    bool m_recoveryRun = false;  // the run began in recovery mode, at the programming entry
    std::optional<RecoveryRecord> m_armedBy;  // the record that armed a recovery run
    std::string m_serialBefore;  // the serial number the radio told before programming
};

// "%2d%%": at least two characters, then a percent sign.
std::string FormatPercent(int percent);
// The application stretch's percentage for table position p; the single-row case shows 100.
int ApplicationPercent(int position, int appStartRow, int rowCount);

}  // namespace kestro
