#pragma once
// The station's work, apart from its window: one row per radio port, following the programming
// cables present (and simulated cables), one run-core run per row, started by the user or, when
// asked, by the cable's arrival once it has settled. Reports reach the rows on the UI thread;
// the percent of every row is taken at most once per repaint tick.

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <chrono>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "runcore/RadioRun.h"
#include "serial/TtyEventMonitor.h"
#include "ui/UiThreadBridge.h"
#include "ui/station/RowObserver.h"
#include "ui/station/StationModel.h"
#include "ui/station/StationOptions.h"

namespace kestro::station {

struct StationCounts {
    int upgraded = 0;
    int failed = 0;
    int needingRecovery = 0;
};

class Station final : public QObject {
    Q_OBJECT

  public:
    explicit Station(StationOptions options, QObject* parent = nullptr);
    ~Station() override;

    StationModel& Model() { return m_model; }
    const StationCounts& Counts() const { return m_counts; }

    void SetAutoStart(bool on) { m_autoStart = on; }
    bool AutoStart() const { return m_autoStart; }

    // Starts the row's run; a recovery run (straight to programming) with `recovery`. False when
    // the row is running or gone.
    bool Upgrade(int id, bool recovery = false);
    // Every idle row (a row that has ended keeps its result until its cable is unplugged); the
    // first starts now, the others one by one as the event loop goes on. Returns how many.
    int UpgradeAll();
    // What the row's own button offers now (StationRow::Action): its upgrade, or the recovery
    // run that finishes its radio. False when it offers nothing.
    bool Act(int id);
    // Its run goes on, or is about to start.
    bool Running(int id) const;
    bool AnyRunning() const;
    // Some radio is between erase and boot swap: stopping now would leave it without firmware.
    bool AnyInEraseSpan() const;
    // Stops every run before its erase (and those about to start do not); false when one is
    // between erase and boot swap and was left to finish.
    bool StopBeforeErase();

    // A port the user names by hand (a device path); it stays whatever the cable scan finds.
    int AddPort(const std::string& device);
    // Simulated cables: a new one plugged in with the next scenario of the plug list (or
    // `scenario`); the row's pulled out.
    int PlugSimulated(const std::string& scenario = {});
    bool UnplugSimulated(int id);
    // The simulated radio of row `id`, for tests that look at what it holds; null when none.
    SimulatedLine* SimulatedLineOf(int id);

    // Looks for cables now (done on each device event, or every scan interval without them).
    void Scan();

  signals:
    void CountsChanged();

  private:
    struct Entry {
        std::unique_ptr<RowObserver> observer;
        std::unique_ptr<RadioRun> run;
        std::shared_ptr<SimulatedLine> line;
    };

    // Rescans on each device event, or once a scan interval where there are none.
    void FollowCables();
    int AddRow(StationRow row, std::shared_ptr<SimulatedLine> line);
    void RemoveRow(int id);
    void CableArrived(StationRow& row);
    void CableGone(int id);
    // What the recovery records say of a real port's row that is not running: a radio an earlier
    // run left without firmware there keeps the row needing recovery until that radio is
    // finished, whatever plain runs end on the cable meanwhile.
    void ReadRecords(StationRow& row);
    void Apply(int id, const RowReport& report);
    void Ended(StationRow& row, Entry& entry, const RadioSummary& summary);
    // Plugged in, and neither started nor ended: what Upgrade all starts.
    static bool Waits(const StationRow& row);
    // Starts the first row of m_startQueue and leaves the next for the next pass of the loop.
    void StartNextQueued();
    // Every tick: the latest percents, runs that ended, cables that have settled.
    void Tick();

    StationOptions m_options;
    StationModel m_model;
    UiThreadBridge m_bridge;
    std::map<int, Entry> m_entries;
    std::deque<int> m_startQueue;  // the rows Upgrade all starts, in turn
    StationCounts m_counts;
    bool m_autoStart = false;
    bool m_opening = true;  // the cables found now were there before the station: they wait for the user
    std::size_t m_nextPlug = 0;
    int m_simulatedCount = 0;
    QTimer m_tick;
    QTimer m_scan;
    std::unique_ptr<TtyEventMonitor> m_monitor;
    std::unique_ptr<QSocketNotifier> m_monitorNotifier;  // on m_monitor's descriptor: goes first
};

}  // namespace kestro::station
