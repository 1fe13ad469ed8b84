#include "ui/station/Station.h"

#include <algorithm>

#include "runcore/PortChoice.h"
#include "runcore/PortRecords.h"
#include "runcore/TimeLeft.h"
#include "serial/PortDiscovery.h"
#include "serial/PortNames.h"
#include "serial/TtyEventMonitor.h"
#if KESTRO_HAVE_SIMULATION
#include "radio/posix/SimulatedLine.h"
#endif

namespace kestro::station {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kTick = 50ms;

QString Q(const std::string& text) { return QString::fromStdString(text); }

void AddNote(StationRow& row, const QString& note) {
    row.notes += (row.notes.isEmpty() ? QString() : QStringLiteral("\n")) + note;
}

// A note that says what the row's records say: once, however often they are read.
void AddNoteOnce(StationRow& row, const QString& note) {
    if (!row.notes.contains(note)) AddNote(row, note);
}

}  // namespace

Station::Station(StationOptions options, QObject* parent)
    : QObject(parent), m_options(std::move(options)), m_autoStart(m_options.autoStart) {
    if (m_options.sysfsRoot.empty()) m_options.sysfsRoot = DefaultSysfsRoot();
    if (m_options.plugScenarios.empty()) m_options.plugScenarios = {"normal"};
    m_tick.setInterval(kTick);
    connect(&m_tick, &QTimer::timeout, this, [this] { Tick(); });
    m_tick.start();
    if (m_options.simulation) {
        for (const std::string& scenario : m_options.simulated) PlugSimulated(scenario);
    } else {
        FollowCables();
        Scan();
    }
    m_opening = false;
}

Station::~Station() {
    m_tick.stop();
    m_scan.stop();
    m_bridge.Close();  // nothing more reaches the rows
    m_entries.clear();  // each run is stopped at its next wait and its threads joined
}

// Udev's monitor tells of a plug or unplug at once. Its events describe the real device tree
// only, so a tree given for tests is looked at once a second, and so is the real one when there
// is no monitor: in a container udev often does not run at all, and a build may lack libudev.
// Reading the few sysfs entries of the tty class once a second costs next to nothing.
void Station::FollowCables() {
    std::string reason;
    if (m_options.sysfsRoot == "/sys") m_monitor = TtyEventMonitor::Open(reason);
    if (m_monitor) {
        m_monitorNotifier = std::make_unique<QSocketNotifier>(m_monitor->Descriptor(), QSocketNotifier::Read);
        connect(m_monitorNotifier.get(), &QSocketNotifier::activated, this, [this] {
            if (m_monitor->TakeEvents()) Scan();
        });
        return;
    }
    m_scan.setInterval(m_options.scanInterval);
    connect(&m_scan, &QTimer::timeout, this, [this] { Scan(); });
    m_scan.start();
}

int Station::AddRow(StationRow row, std::shared_ptr<SimulatedLine> line) {
    const int id = m_model.Add(std::move(row));
    Entry& entry = m_entries[id];
    entry.line = std::move(line);
    entry.observer = std::make_unique<RowObserver>(id, m_bridge,
                                                   [this](int rowId, const RowReport& report) { Apply(rowId, report); });
    StationRow& added = *m_model.Find(id);
    ReadRecords(added);
    CableArrived(added);
    return id;
}

void Station::ReadRecords(StationRow& row) {
    if (row.Simulated() || Running(row.id)) return;  // simulated radios leave no records
    const std::string device = row.device.toStdString();
    std::string unused;
    const PortRecords found = RecordsOfPort(PortTargetFor(device, unused).value_or(PortTarget{0, device, device}));
    if (found.heldElsewhere) {
        AddNoteOnce(row, QStringLiteral("A run in another kit holds this port now: the recovery records of this port are that run's."));
        return;
    }
    if (!found.remembered.Any()) return;
    row.needsRecovery = true;
    AddNoteOnce(row, Q(RememberedText(found.remembered)));
}

void Station::RemoveRow(int id) {
    m_entries.erase(id);
    m_model.Remove(id);
}

// Only a cable that arrives while the station is open starts by itself: one that was there
// before may hold a radio that is switched off, or one the user means to leave alone.
void Station::CableArrived(StationRow& row) {
    row.present = true;
    if (m_autoStart && !m_opening && !row.needsRecovery) {
        row.state = RowState::Settling;
        row.settleUntil = Clock::now() + m_options.settle;
    } else if (row.state != RowState::Ended) {
        row.state = RowState::Idle;
    }
    m_model.Changed(row.id);
}

// A row whose run goes on, or whose radio it left needing recovery, stays to show that; any
// other goes with its cable.
void Station::CableGone(int id) {
    StationRow* row = m_model.Find(id);
    if (row == nullptr) return;
    row->present = false;
    if (row->state == RowState::Running || row->needsRecovery) {
        m_model.Changed(id);
        return;
    }
    RemoveRow(id);
}

void Station::Scan() {
    if (m_options.simulation) return;
    const std::vector<std::string> cables = FindCablePortsIn(m_options.sysfsRoot);
    for (const std::string& device : cables) {
        const QString path = Q(device);
        const auto& rows = m_model.Rows();
        const auto it = std::find_if(rows.begin(), rows.end(), [&](const StationRow& r) { return r.device == path; });
        if (it == rows.end()) {
            StationRow row;
            row.device = path;
            row.byId = Q(SerialByIdName(device));
            AddRow(std::move(row), nullptr);
        } else if (!it->present) {
            // The next radio on this cable: a new run, unless the last radio still needs its
            // recovery, which the user starts with Finish.
            StationRow& row = *m_model.Find(it->id);
            ReadRecords(row);
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

int Station::AddPort(const std::string& device) {
    for (const StationRow& row : m_model.Rows()) {
        if (row.device == Q(device)) return row.id;
    }
    StationRow row;
    row.device = Q(device);
    row.byId = Q(SerialByIdName(device));
    row.manual = true;
    return AddRow(std::move(row), nullptr);
}

int Station::PlugSimulated(const std::string& scenario) {
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

bool Station::UnplugSimulated(int id) {
#if KESTRO_HAVE_SIMULATION
    const auto it = m_entries.find(id);
    if (it == m_entries.end() || !it->second.line) return false;
    it->second.line->Unplug();
    CableGone(id);
    return true;
#else
    (void)id;
    return false;
#endif
}

SimulatedLine* Station::SimulatedLineOf(int id) {
    const auto it = m_entries.find(id);
    return it == m_entries.end() ? nullptr : it->second.line.get();
}

bool Station::Upgrade(int id, bool recovery) {
    StationRow* row = m_model.Find(id);
    const auto it = m_entries.find(id);
    if (row == nullptr || it == m_entries.end() || it->second.run) return false;
    Entry& entry = it->second;
    RadioTarget target;
    target.port = row->device.toStdString();
    target.line = entry.line;
    if (!entry.line) {
        std::string unused;
        target.chosen = PortTargetFor(target.port, unused).value_or(PortTarget{0, target.port, target.port});
    }
    RunSettings settings = m_options.settings;
    settings.recovery = recovery;
    settings.trace = false;
    row->ClearRun();
    row->state = RowState::Running;
    row->phase = recovery ? QStringLiteral("recovery: starting") : QStringLiteral("starting");
    m_model.Changed(id);
    entry.run = std::make_unique<RadioRun>(std::move(target), settings, *entry.observer);
    if (entry.run->Prepare()) entry.run->Start();
    // A run that did not start ends at the next tick, with its reason.
    return true;
}

// Starting a run (its firmware loaded, its port opened and its threads started) takes the UI
// thread a few milliseconds: one start per pass of the event loop keeps the window answering
// while many radios start at once.
int Station::UpgradeAll() {
    int queued = 0;
    for (const StationRow& row : m_model.Rows()) {
        if (!Waits(row) || Running(row.id)) continue;
        m_startQueue.push_back(row.id);
        ++queued;
    }
    StartNextQueued();
    return queued;
}

bool Station::Waits(const StationRow& row) {
    return (row.state == RowState::Idle || row.state == RowState::Settling) && row.present;
}

void Station::StartNextQueued() {
    if (m_startQueue.empty()) return;
    const int id = m_startQueue.front();
    m_startQueue.pop_front();
    // A row that started (or even ended) meanwhile, or whose cable went, is left as it is.
    const StationRow* row = m_model.Find(id);
    if (row != nullptr && Waits(*row)) Upgrade(id);
    if (!m_startQueue.empty()) QTimer::singleShot(0, this, [this] { StartNextQueued(); });
}

bool Station::Act(int id) {
    const StationRow* row = m_model.Find(id);
    if (row == nullptr) return false;
    switch (row->Action()) {
        case RowAction::Upgrade: return Upgrade(id);
        case RowAction::Finish: return Upgrade(id, true);
        case RowAction::None: break;
    }
    return false;
}

bool Station::Running(int id) const {
    const auto it = m_entries.find(id);
    return (it != m_entries.end() && it->second.run != nullptr) ||
           std::find(m_startQueue.begin(), m_startQueue.end(), id) != m_startQueue.end();
}

bool Station::AnyRunning() const {
    return !m_startQueue.empty() ||
           std::any_of(m_entries.begin(), m_entries.end(), [](const auto& e) { return e.second.run != nullptr; });
}

bool Station::AnyInEraseSpan() const {
    return std::any_of(m_entries.begin(), m_entries.end(),
                       [](const auto& e) { return e.second.run && e.second.run->InEraseSpan(); });
}

bool Station::StopBeforeErase() {
    m_startQueue.clear();
    bool allStopped = true;
    for (auto& [id, entry] : m_entries) {
        if (entry.run && entry.run->RequestStopBeforeErase()) allStopped = false;
    }
    return allStopped;
}

void Station::Tick() {
    const auto now = Clock::now();
    for (auto& [id, entry] : m_entries) {
        StationRow* row = m_model.Find(id);
        if (row == nullptr) continue;
        if (row->state == RowState::Settling && now >= row->settleUntil) {
            row->state = RowState::Idle;
            if (m_autoStart && row->present) {
                // Upgrade() changes m_entries' values only, never the map itself.
                Upgrade(id);
            }
            m_model.Changed(id);
            continue;
        }
        if (!entry.run) continue;
        if (const auto progress = entry.observer->TakeProgress()) {
            if (progress->percent < row->percent) row->firstPercent = -1;  // the next stretch
            row->percent = progress->percent;
            row->label = Q(progress->label);
            if (row->firstPercent < 0 && row->progressShown && progress->percent > 0) {
                row->firstPercent = progress->percent;
                row->firstAt = progress->at;
            }
            row->timeLeft = Q(TimeLeft(row->firstPercent, now - row->firstAt, row->percent));
            m_model.Changed(id, StationModel::Progress, StationModel::TimeLeft);
        }
        entry.run->Poll();  // once ended, its summary is posted to the row
    }
}

void Station::Apply(int id, const RowReport& report) {
    StationRow* row = m_model.Find(id);
    const auto it = m_entries.find(id);
    if (row == nullptr || it == m_entries.end()) return;
    switch (report.kind) {
        case RowReport::Kind::PortNamed: row->device = Q(report.text); break;
        case RowReport::Kind::Started: row->present = true; break;
        case RowReport::Kind::Status: row->phase = Q(report.text).trimmed(); break;
        case RowReport::Kind::Serial: row->serial = Q(report.text); break;
        case RowReport::Kind::FirmwareBefore: row->firmwareBefore = Q(report.text); break;
        case RowReport::Kind::ShowProgress:
            row->progressShown = report.flag;
            row->percent = 0;
            row->label.clear();
            row->firstPercent = -1;
            row->firstAt = Clock::now();
            row->timeLeft.clear();
            break;
        case RowReport::Kind::Message:
            row->message = Q(report.text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
            break;
        case RowReport::Kind::Note: AddNote(*row, Q(report.text)); break;
        case RowReport::Kind::Guide:
            if (report.guidance == RunGuidance::RadioMayHaveNoFirmware) {
                row->needsRecovery = true;
                AddNote(*row, QStringLiteral("The radio may now have no working firmware: Finish completes it."));
            } else {
                if (report.guidance == RunGuidance::NoRecoveryNeeded) row->needsRecovery = false;
                AddNote(*row, Q(report.text));
            }
            break;
        case RowReport::Kind::Records:
            if (report.flag) row->needsRecovery = true;
            if (!report.text.empty()) AddNoteOnce(*row, Q(report.text));
            break;
        case RowReport::Kind::Ended: Ended(*row, it->second, report.summary); break;
    }
    m_model.Changed(id);
}

void Station::Ended(StationRow& row, Entry& entry, const RadioSummary& summary) {
    entry.run.reset();
    entry.observer->TakeProgress();  // a percent left over from the run
    row.state = RowState::Ended;
    row.progressShown = false;
    row.timeLeft.clear();
    if (!summary.serial.empty()) row.serial = Q(summary.serial);
    if (!summary.firmwareBefore.empty()) row.firmwareBefore = Q(summary.firmwareBefore);
    row.needsRecovery = summary.NeedsRecovery();
    if (!row.needsRecovery) ReadRecords(row);
    row.resultText = Q(summary.result);
    const bool upgraded = summary.end.Upgraded();
    row.result = upgraded ? RowResult::Upgraded : RowResult::Failed;
    if (upgraded) {
        row.message.clear();
        ++m_counts.upgraded;
    } else {
        ++m_counts.failed;
        if (row.message.isEmpty()) row.message = row.resultText;
    }
    if (summary.NeedsRecovery()) ++m_counts.needingRecovery;
    emit CountsChanged();
#if KESTRO_HAVE_SIMULATION
    if (entry.line && !entry.line->PluggedIn()) row.present = false;
#endif
}

}  // namespace kestro::station
