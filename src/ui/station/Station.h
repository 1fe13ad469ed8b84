#pragma once
// The station's work, apart from its window: one row per radio port, one run-core run per row,
// started by the user or, when asked, by the cable's arrival once it has settled (the cable
// tracker adds and removes the rows as cables come and go). Reports reach the rows on the UI
// thread; the percent of every row is taken at most once per repaint tick.

#include <QObject>
#include <QTimer>
#include <deque>
#include <future>
#include <map>
#include <set>
#include <memory>
#include <string>
#include <vector>

#include "runcore/EarlierRun.h"
#include "runcore/RadioRun.h"
#include "ui/UiThreadBridge.h"
#include "ui/station/CableTracker.h"
#include "ui/station/RadioTally.h"
#include "ui/station/RowObserver.h"
#include "ui/station/StationModel.h"
#include "ui/station/StationOptions.h"

namespace kestro {
class HistoryPusher;
}

namespace kestro::station {

class Station final : public QObject {
    Q_OBJECT

  public:
    explicit Station(StationOptions options, QObject* parent = nullptr);
    ~Station() override;

    StationModel& Model() { return m_model; }
    const StationCounts& Counts() const { return m_tally.Counts(); }
    const RunSettings& Settings() const { return m_settings; }

    void SetAutoStart(bool on) { m_cables.SetAutoStart(on); }
    bool AutoStart() const { return m_cables.AutoStart(); }

    // Starts the row's run; a recovery run (straight to programming) with `recovery`. False when
    // the row is running or gone.
    bool Upgrade(int id, bool recovery = false);
    // Every idle row (a row that has ended keeps its result until its cable is unplugged); the
    // first starts now, the others one by one as the event loop goes on. Returns how many.
    int UpgradeAll();
    // A read-only check of the row's radio: what an upgrade would do, changing nothing. The row
    // stays idle with the verdict as its result (no count changes); its Upgrade is still there.
    bool Check(int id);
    // Checks every idle row, one start per pass of the event loop. Returns how many.
    int CheckAll();
    // What the row's own button offers now (StationRow::Action): its upgrade, or the recovery
    // run that finishes its radio. False when it offers nothing.
    bool Act(int id);
    // The recovery run that finishes the row's radio, where the row offers Finish (as its button
    // or beside Upgrade). False otherwise.
    bool Finish(int id);
    // Stops the row's run before its erase (or keeps it from starting). "" when it stops; why
    // not otherwise: between erase and boot swap it is left to finish.
    QString Stop(int id);
    // The row goes, unless its run goes on; a cable still plugged in keeps its row away until it
    // is plugged in again. False when it stays.
    bool Remove(int id);
    // Its run goes on, or is about to start.
    bool Running(int id) const;
    bool AnyRunning() const;
    // Some radio is between erase and boot swap: stopping now would leave it without firmware.
    bool AnyInEraseSpan() const;
    // The rows whose radio is between erase and boot swap now.
    std::vector<int> InEraseSpan() const;
    // Stops every run before its erase (and those about to start do not); false when one is
    // between erase and boot swap and was left to finish.
    bool StopBeforeErase();

    // A port the user names by hand (a device path); it stays whatever the cable scan finds.
    int AddPort(const std::string& device) { return m_cables.AddPort(device); }
    // Simulated cables: a new one plugged in with the next scenario of the plug list (or
    // `scenario`); the row's pulled out.
    int PlugSimulated(const std::string& scenario = {}) { return m_cables.PlugSimulated(scenario); }
    bool UnplugSimulated(int id) { return m_cables.UnplugSimulated(id); }
    // The simulated radio of row `id`, for tests that look at what it holds; null when none.
    SimulatedLine* SimulatedLineOf(int id) { return m_cables.LineOf(id).get(); }

    // Looks for cables now (done on each device event, or every scan interval without them).
    void Scan() { m_cables.Scan(); }

    // The shared history server runs are sent to ("" none): each run after its local commit, and
    // what is unsent every minute, from the pusher's own thread.
    void SetHistoryServer(const std::string& conninfo);
    // Runs of this PC's history the server has not taken yet (after the last push).
    int PendingRuns() const { return static_cast<int>(m_pending); }

  signals:
    void CountsChanged();
    void PendingChanged(int runs);
    // The server told a row's radio's latest run.
    void RowDetailChanged(int id);
    // The history of runs could not be read or written (once per reason).
    void HistoryProblem(const QString& text);

  private:
    struct Entry {
        std::unique_ptr<RowObserver> observer;
        std::unique_ptr<RadioRun> run;
        bool checking = false;  // the run is a read-only check
    };
    enum class RunMode { Upgrade, Recovery, Check };
    bool StartRun(int id, RunMode mode);
    // What any run's end tells of the radio: its time, serial number and firmware before.
    void TakeRunFacts(StationRow& row, const RadioSummary& summary);
    // A check's end: the verdict in the row, which waits again for its upgrade.
    void CheckEnded(StationRow& row, const RadioSummary& summary);

    // A row the cable tracker found, with its run's observer and what its records say.
    int AddRow(StationRow row);
    void RemoveRow(int id);
    // What the recovery records say of a real port's row that is not running: a radio an earlier
    // run left without firmware there keeps the row needing recovery until that radio is
    // finished, whatever plain runs end on the cable meanwhile.
    void ReadRecords(StationRow& row);
    void Apply(int id, const RowReport& report);
    void Ended(StationRow& row, Entry& entry, const RadioSummary& summary);
    // The radio's serial number was read: its latest earlier run from the history.
    void ReadEarlierRun(StationRow& row);
    void TellHistoryProblem(const QString& text);
    void TakeServerLookups();  // the server's answers that have come
    void NotePending();
    // Plugged in, and neither started nor ended: what Upgrade all starts.
    static bool Waits(const StationRow& row);
    // Starts the first row of m_startQueue and leaves the next for the next pass of the loop.
    void StartNextQueued();
    // Every tick: the latest percents, runs that ended, cables that have settled.
    void Tick();

    RunSettings m_settings;
    StationModel m_model;
    UiThreadBridge m_bridge;
    std::map<int, Entry> m_entries;
    std::deque<int> m_startQueue;  // the rows Upgrade all (or Check all) starts, in turn
    std::set<int> m_checkQueued;   // the queued rows that are to be checked
    RadioTally m_tally;
    std::map<QString, int> m_slots;  // each cable's slot for the session, by its stable name
    int m_nextSlot = 1;
    QString m_historyProblem;        // the last told
    QTimer m_tick;
    int m_ticks = 0;
    std::unique_ptr<HistoryPusher> m_pusher;
    QTimer m_pushTimer;
    std::size_t m_pending = 0;
    std::map<int, std::future<EarlierRuns>> m_serverLookups;  // by row
    CableTracker m_cables;  // declared last: made after, and gone before, the rows it adds and removes
};

}  // namespace kestro::station
