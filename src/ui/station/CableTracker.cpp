// The station's cables: which are there, which came and went, and when a new one has settled.

#include "ui/station/CableTracker.h"

#include <algorithm>
#include <vector>

#include "serial/PortDiscovery.h"
#include "serial/PortNames.h"
#if KESTRO_HAVE_SIMULATION
#include "radio/posix/SimulatedLine.h"
#endif

namespace kestro::station {

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

// A row for a real port: its device and the cable's stable name.
StationRow PortRow(const std::string& device) {
    StationRow row;
    row.device = Q(device);
    row.byId = Q(SerialByIdName(device));
    return row;
}

}  // namespace

CableTracker::CableTracker(StationOptions options, StationModel& model, CableRows rows)
    : m_options(std::move(options)), m_model(model), m_rows(std::move(rows)), m_autoStart(m_options.autoStart) {
    if (m_options.sysfsRoot.empty()) m_options.sysfsRoot = DefaultSysfsRoot();
    if (m_options.plugScenarios.empty()) m_options.plugScenarios = {"normal"};
}

void CableTracker::Open() {
    if (m_options.simulation) {
        for (const std::string& scenario : m_options.simulated) PlugSimulated(scenario);
    } else {
        FollowCables();
        Scan();
    }
    m_opening = false;
}

// Udev's monitor tells of a plug or unplug at once. Its events describe the real device tree
// only, so a tree given for tests is looked at once a second, and so is the real one when there
// is no monitor: in a container udev often does not run at all, and a build may lack libudev.
// Reading the few sysfs entries of the tty class once a second costs next to nothing.
void CableTracker::FollowCables() {
    std::string reason;
    if (m_options.sysfsRoot == "/sys") m_monitor = TtyEventMonitor::Open(reason);
    if (m_monitor) {
        m_monitorNotifier = std::make_unique<QSocketNotifier>(m_monitor->Descriptor(), QSocketNotifier::Read);
        QObject::connect(m_monitorNotifier.get(), &QSocketNotifier::activated, m_monitorNotifier.get(), [this] {
            if (m_monitor->TakeEvents()) Scan();
        });
        return;
    }
    m_scan.setInterval(m_options.scanInterval);
    QObject::connect(&m_scan, &QTimer::timeout, &m_scan, [this] { Scan(); });
    m_scan.start();
}

int CableTracker::AddRow(StationRow row, std::shared_ptr<SimulatedLine> line) {
    const int id = m_rows.add(std::move(row));
    if (line) m_lines[id] = std::move(line);
    CableArrived(*m_model.Find(id));
    return id;
}

// Only a cable that arrives while the station is open starts by itself: one that was there
// before may hold a radio that is switched off, or one the user means to leave alone.
void CableTracker::CableArrived(StationRow& row) {
    row.present = true;
    if (m_autoStart && !m_opening && !row.needsRecovery) {
        row.state = RowState::Settling;
        row.settleUntil = std::chrono::steady_clock::now() + m_options.settle;
    } else if (row.state != RowState::Ended) {
        row.state = RowState::Idle;
    }
    m_model.Changed(row.id);
}

// A row whose run goes on, or whose radio it left needing recovery, stays to show that; any
// other goes with its cable.
void CableTracker::CableGone(int id) {
    StationRow* row = m_model.Find(id);
    if (row == nullptr) return;
    row->present = false;
    if (row->state == RowState::Running || row->needsRecovery) {
        m_model.Changed(id);
        return;
    }
    m_lines.erase(id);
    m_rows.remove(id);
}

void CableTracker::Scan() {
    if (m_options.simulation) return;
    const std::vector<std::string> cables = FindCablePortsIn(m_options.sysfsRoot);
    std::erase_if(m_dismissed, [&](const std::string& device) {
        return std::find(cables.begin(), cables.end(), device) == cables.end();
    });
    for (const std::string& device : cables) {
        if (m_dismissed.contains(device)) continue;
        const QString path = Q(device);
        const auto& rows = m_model.Rows();
        const auto it = std::find_if(rows.begin(), rows.end(), [&](const StationRow& r) { return r.device == path; });
        if (it == rows.end()) {
            AddRow(PortRow(device), nullptr);
        } else if (!it->present) {
            // The next radio on this cable: a new run, unless the last radio still needs its
            // recovery, which the user starts with Finish.
            StationRow& row = *m_model.Find(it->id);
            m_rows.readRecords(row);
            if (row.state == RowState::Ended && !row.needsRecovery) row.NextRadio();
            CableArrived(row);
        }
    }
    std::vector<int> gone;
    for (const StationRow& row : m_model.Rows()) {
        if (row.Simulated() || row.manual || !row.present) continue;
        if (std::find(cables.begin(), cables.end(), row.device.toStdString()) == cables.end()) gone.push_back(row.id);
    }
    for (int id : gone) CableGone(id);
}

int CableTracker::AddPort(const std::string& device) {
    for (const StationRow& row : m_model.Rows()) {
        if (row.device == Q(device)) return row.id;
    }
    StationRow row = PortRow(device);
    row.manual = true;
    return AddRow(std::move(row), nullptr);
}

int CableTracker::PlugSimulated(const std::string& scenario) {
#if KESTRO_HAVE_SIMULATION
    std::string chosen = scenario;
    if (chosen.empty()) chosen = m_options.plugScenarios[m_nextPlug++ % m_options.plugScenarios.size()];
    auto line = std::make_shared<SimulatedLine>();
    std::string error;
    StationRow row;
    row.scenario = Q(chosen);
    const bool started = line->Start(chosen, SimulatedSerial(m_simulatedCount++), error);
    row.device = Q(line->DevicePath());
    if (!started) {
        row.state = RowState::Ended;
        row.result = RowResult::Failed;
        row.resultText = QStringLiteral("not started");
        row.message = Q(error);
        row.present = false;
        return m_model.Add(std::move(row));
    }
    return AddRow(std::move(row), std::move(line));
#else
    (void)scenario;
    return 0;
#endif
}

bool CableTracker::UnplugSimulated(int id) {
#if KESTRO_HAVE_SIMULATION
    const std::shared_ptr<SimulatedLine> line = LineOf(id);
    if (!line) return false;
    line->Unplug();
    CableGone(id);
    return true;
#else
    (void)id;
    return false;
#endif
}

void CableTracker::Dismiss(int id) {
    const StationRow* row = m_model.Find(id);
    if (row == nullptr) return;
    if (!row->Simulated() && !row->manual && row->present) m_dismissed.insert(row->device.toStdString());
#if KESTRO_HAVE_SIMULATION
    if (const std::shared_ptr<SimulatedLine> line = LineOf(id); line && line->PluggedIn()) line->Unplug();
#endif
    m_lines.erase(id);
    m_rows.remove(id);
}

std::shared_ptr<SimulatedLine> CableTracker::LineOf(int id) const {
    const auto it = m_lines.find(id);
    return it == m_lines.end() ? nullptr : it->second;
}

bool CableTracker::LineUnplugged(int id) const {
#if KESTRO_HAVE_SIMULATION
    const std::shared_ptr<SimulatedLine> line = LineOf(id);
    return line && !line->PluggedIn();
#else
    (void)id;
    return false;
#endif
}

bool CableTracker::Settle(StationRow& row, std::chrono::steady_clock::time_point now) {
    if (row.state != RowState::Settling || now < row.settleUntil) return false;
    row.state = RowState::Idle;
    if (m_autoStart && row.present) m_rows.start(row.id);
    m_model.Changed(row.id);
    return true;
}

}  // namespace kestro::station
