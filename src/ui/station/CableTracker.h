#pragma once
// Follows the station's programming cables: udev's device events or a periodic look at sysfs
// (and simulated cables plugged in and out by hand) make rows appear, come back for the next
// radio and go. A cable that arrives while the station is open settles before its run starts
// by itself. The station drives it and owns the rows' runs; the tracker asks it, through
// CableRows, to add and remove rows, read their recovery records and start settled runs.

#include <QSocketNotifier>
#include <QTimer>
#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "serial/TtyEventMonitor.h"
#include "ui/station/StationModel.h"
#include "ui/station/StationOptions.h"

namespace kestro::station {

// What the tracker needs of the rows' owner.
struct CableRows {
    std::function<int(StationRow)> add;        // adds the row, ready for runs; returns its id
    std::function<void(int)> remove;           // the row and its run's state go
    std::function<void(StationRow&)> readRecords;  // what the recovery records say of the row
    std::function<void(int)> start;            // starts the run of a row whose cable settled
};

class CableTracker final {
  public:
    CableTracker(StationOptions options, StationModel& model, CableRows rows);

    // Finds the cables there are now (they wait for the user) and from then on follows them.
    void Open();

    void SetAutoStart(bool on) { m_autoStart = on; }
    bool AutoStart() const { return m_autoStart; }

    // Looks for cables now (done on each device event, or every scan interval without them).
    void Scan();
    // A port the user names by hand (a device path); it stays whatever the cable scan finds.
    int AddPort(const std::string& device);
    // Simulated cables: a new one plugged in with the next scenario of the plug list (or
    // `scenario`); the row's pulled out.
    int PlugSimulated(const std::string& scenario = {});
    bool UnplugSimulated(int id);
    // The user removes the row: a simulated cable goes with it, and a real one still plugged in
    // gets no row until it is plugged in again.
    void Dismiss(int id);
    // The simulated cable of row `id`; empty when it has none.
    std::shared_ptr<SimulatedLine> LineOf(int id) const;
    // The row has a simulated cable and it is pulled out.
    bool LineUnplugged(int id) const;

    // A settling row whose time has come is idle again, and its run started when auto start
    // is on: true then (the row is done with for this tick).
    bool Settle(StationRow& row, std::chrono::steady_clock::time_point now);

  private:
    // Rescans on each device event, or once a scan interval where there are none.
    void FollowCables();
    int AddRow(StationRow row, std::shared_ptr<SimulatedLine> line);
    void CableArrived(StationRow& row);
    void CableGone(int id);

    StationOptions m_options;
    StationModel& m_model;
    CableRows m_rows;
    std::map<int, std::shared_ptr<SimulatedLine>> m_lines;  // the simulated cables, by row
    std::set<std::string> m_dismissed;  // plugged-in cables whose rows the user removed
    bool m_autoStart = false;
    bool m_opening = true;  // the cables found now were there before the station: they wait for the user
    std::size_t m_nextPlug = 0;
    int m_simulatedCount = 0;
    QTimer m_scan;
    std::unique_ptr<TtyEventMonitor> m_monitor;
    std::unique_ptr<QSocketNotifier> m_monitorNotifier;  // on m_monitor's descriptor: goes first
};

}  // namespace kestro::station
