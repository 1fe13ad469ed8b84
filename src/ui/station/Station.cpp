#include "ui/station/Station.h"

#include <algorithm>

#include "runcore/PortChoice.h"
#include "runcore/PortRecords.h"
#include "runcore/RunWords.h"
#include "runcore/TimeLeft.h"
#include "history/HistoryPush.h"
#include "runcore/EarlierRun.h"
#include "ui/station/StationTexts.h"

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

// "1:05": minutes and seconds.
QString Elapsed(Clock::duration taken) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(taken).count();
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

RadioOutcome OutcomeOf(const RunEnd& end) {
    if (end.Upgraded()) return RadioOutcome::Upgraded;
    return end.NeedsRecovery() ? RadioOutcome::NeedsRecovery : RadioOutcome::Failed;
}

}  // namespace

Station::Station(StationOptions options, QObject* parent)
    : QObject(parent),
      m_settings(options.settings),
      m_cables(std::move(options), m_model,
               CableRows{[this](StationRow row) { return AddRow(std::move(row)); },
                         [this](int id) { RemoveRow(id); },
                         [this](StationRow& row) { ReadRecords(row); },
                         [this](int id) { Upgrade(id); }}) {
    m_tick.setInterval(kTick);
    connect(&m_tick, &QTimer::timeout, this, [this] { Tick(); });
    m_tick.start();
    m_pushTimer.setInterval(std::chrono::minutes(1));
    connect(&m_pushTimer, &QTimer::timeout, this, [this] {
        if (m_pusher) m_pusher->Request();
    });
    if (!m_settings.historyServer.empty()) SetHistoryServer(m_settings.historyServer);
    m_cables.Open();
}

Station::~Station() {
    m_tick.stop();
    m_bridge.Close();  // nothing more reaches the rows
    m_entries.clear();  // each run is stopped at its next wait and its threads joined
}

int Station::AddRow(StationRow row) {
    // A real cable keeps its slot when it comes back; each simulated plug is a cable of its own.
    if (row.Simulated()) {
        row.slot = m_nextSlot++;
    } else {
        const QString cable = row.byId.isEmpty() ? row.device : row.byId;
        const auto [it, added] = m_slots.try_emplace(cable, m_nextSlot);
        if (added) ++m_nextSlot;
        row.slot = it->second;
    }
    const int id = m_model.Add(std::move(row));
    m_entries[id].observer = std::make_unique<RowObserver>(
        id, m_bridge, [this](int rowId, const RowReport& report) { Apply(rowId, report); });
    ReadRecords(*m_model.Find(id));
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

bool Station::Upgrade(int id, bool recovery) { return StartRun(id, recovery ? RunMode::Recovery : RunMode::Upgrade); }

bool Station::Check(int id) { return StartRun(id, RunMode::Check); }

int Station::CheckAll() {
    int queued = 0;
    for (const StationRow& row : m_model.Rows()) {
        if (!Waits(row) || Running(row.id)) continue;
        m_startQueue.push_back(row.id);
        m_checkQueued.insert(row.id);
        ++queued;
    }
    StartNextQueued();
    return queued;
}

bool Station::StartRun(int id, RunMode mode) {
    const bool recovery = mode == RunMode::Recovery;
    StationRow* row = m_model.Find(id);
    const auto it = m_entries.find(id);
    if (row == nullptr || it == m_entries.end() || it->second.run) return false;
    Entry& entry = it->second;
    RadioTarget target;
    target.port = row->device.toStdString();
    target.line = m_cables.LineOf(id);
    if (!target.line) {
        std::string unused;
        target.chosen = PortTargetFor(target.port, unused).value_or(PortTarget{0, target.port, target.port});
    }
    RunSettings settings = m_settings;
    settings.recovery = recovery;
    settings.trace = false;
    settings.checkOnly = mode == RunMode::Check;
    if (settings.checkOnly) settings.confirmWait = std::chrono::milliseconds(0);
    entry.checking = settings.checkOnly;
    row->ClearRun();
    row->state = RowState::Running;
    row->startedAt = Clock::now();
    row->elapsed = Elapsed({});
    row->phase = recovery ? QStringLiteral("recovery: starting")
                 : mode == RunMode::Check ? QStringLiteral("check: starting")
                                          : QStringLiteral("starting");
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
    const bool check = m_checkQueued.erase(id) > 0;
    if (row != nullptr && Waits(*row)) StartRun(id, check ? RunMode::Check : RunMode::Upgrade);
    if (!m_startQueue.empty()) QTimer::singleShot(0, this, [this] { StartNextQueued(); });
}

bool Station::Act(int id) {
    const StationRow* row = m_model.Find(id);
    if (row == nullptr) return false;
    switch (row->Action()) {
        case RowAction::Upgrade: return Upgrade(id);
        case RowAction::Finish: return Upgrade(id, true);
        case RowAction::Stop:  // Enter on a running row stops nothing: Stop is its own button
        case RowAction::None: break;
    }
    return false;
}

bool Station::Finish(int id) {
    const StationRow* row = m_model.Find(id);
    return row != nullptr && row->Offers(RowAction::Finish) && Upgrade(id, true);
}

QString Station::Stop(int id) {
    const auto queued = std::find(m_startQueue.begin(), m_startQueue.end(), id);
    if (queued != m_startQueue.end()) {
        m_startQueue.erase(queued);
        m_checkQueued.erase(id);
        return {};
    }
    const auto it = m_entries.find(id);
    if (it == m_entries.end() || !it->second.run) return {};
    if (it->second.run->RequestStopBeforeErase()) return QString::fromLatin1(stationtexts::kStopRefused);
    return {};
}

bool Station::Remove(int id) {
    if (m_model.Find(id) == nullptr || Running(id)) return false;
    m_cables.Dismiss(id);
    return true;
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

std::vector<int> Station::InEraseSpan() const {
    std::vector<int> ids;
    for (const auto& [id, entry] : m_entries) {
        if (entry.run && entry.run->InEraseSpan()) ids.push_back(id);
    }
    return ids;
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
    TakeServerLookups();
    if (++m_ticks % 25 == 0) NotePending();
    for (auto& [id, entry] : m_entries) {
        StationRow* row = m_model.Find(id);
        if (row == nullptr) continue;
        // A settled row's run may start here: Upgrade() changes m_entries' values only, never
        // the map itself.
        if (m_cables.Settle(*row, now)) continue;
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
        if (QString elapsed = Elapsed(now - row->startedAt); elapsed != row->elapsed) {
            row->elapsed = std::move(elapsed);
            m_model.Changed(id, StationModel::Elapsed, StationModel::Elapsed);
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
        case RowReport::Kind::Serial:
            row->serial = Q(report.text);
            ReadEarlierRun(*row);
            break;
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
        case RowReport::Kind::HistoryNotWritten: {
            const QString text = QStringLiteral("The history of runs was not written: ") + Q(report.text);
            AddNote(*row, text);
            TellHistoryProblem(text);
            break;
        }
        case RowReport::Kind::Ended: Ended(*row, it->second, report.summary); break;
    }
    m_model.Changed(id);
}

void Station::Ended(StationRow& row, Entry& entry, const RadioSummary& summary) {
    entry.run.reset();
    entry.observer->TakeProgress();  // a percent left over from the run
    if (entry.checking) {
        entry.checking = false;
        CheckEnded(row, summary);
        return;
    }
    row.state = RowState::Ended;
    TakeRunFacts(row, summary);
    row.firmwareAfter = Q(FirmwareAfter(summary));
    row.needsRecovery = summary.NeedsRecovery();
    if (!row.needsRecovery) ReadRecords(row);
    row.resultText = Q(summary.result);
    row.cause = Q(CauseInWords(summary));
    const bool upgraded = summary.end.Upgraded();
    row.result = upgraded ? RowResult::Upgraded : RowResult::Failed;
    if (upgraded) {
        row.message.clear();
    } else {
        if (row.message.isEmpty()) row.message = row.resultText;
        // Where it stopped, in place of the last step's own status line.
        std::string stage = StageInWords(row.phase.toStdString());
        if (stage.empty()) stage = summary.end.kind == RunEndKind::NoAnswer ? "Detecting the radio" : "Starting";
        row.phase = QStringLiteral("Stopped at: ") + Q(stage);
    }
    // A radio that answers nothing may be one that waits for its firmware: Finish is offered.
    row.silent = summary.end.kind == RunEndKind::NoAnswer;
    if (row.silent) AddNoteOnce(row, QString::fromLatin1(stationtexts::kSilentRadio));
    // A run that reached no radio counts none.
    if (summary.end.kind != RunEndKind::NotStarted) {
        m_tally.Record(row.id, row.radio, summary.serial.empty() ? row.serial.toStdString() : summary.serial,
                       OutcomeOf(summary.end));
    }
    emit CountsChanged();
    if (m_cables.LineUnplugged(row.id)) row.present = false;
}

void Station::TakeRunFacts(StationRow& row, const RadioSummary& summary) {
    row.progressShown = false;
    row.timeLeft.clear();
    row.elapsed = Elapsed(std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(summary.seconds)));
    if (!summary.serial.empty() && row.serial != Q(summary.serial)) {
        row.serial = Q(summary.serial);
        ReadEarlierRun(row);
    }
    if (!summary.firmwareBefore.empty()) row.firmwareBefore = Q(summary.firmwareBefore);
}

void Station::CheckEnded(StationRow& row, const RadioSummary& summary) {
    row.state = RowState::Idle;  // checked, not upgraded: it waits for its upgrade
    TakeRunFacts(row, summary);
    row.result = RowResult::None;  // a check counts nothing: no PASS, no FAIL
    row.resultText = Q(summary.result);
    row.cause = QStringLiteral("Check: ") + Q(summary.result);
    row.message = row.cause;
    row.phase = QStringLiteral("checked");
    row.silent = summary.end.kind == RunEndKind::NoAnswer;
    if (row.silent) AddNoteOnce(row, QString::fromLatin1(stationtexts::kSilentRadio));
    if (m_cables.LineUnplugged(row.id)) row.present = false;
}

void Station::ReadEarlierRun(StationRow& row) {
    // This PC's history at once (a local file); the shared server's answer comes later, from a
    // thread of its own, so that a slow or absent server never holds up the window.
    RunSettings here = m_settings;
    here.historyServer.clear();
    const std::string serial = row.serial.toStdString();
    const EarlierRuns earlier = LatestEarlierRuns(here, serial);
    row.lastRun = Q(earlier.here);
    if (!earlier.error.empty()) TellHistoryProblem(QStringLiteral("The history of runs could not be read: ") + Q(earlier.error));
    if (m_settings.historyServer.empty() || serial.empty()) return;
    RunSettings server = m_settings;
    server.historyFrontEnd.clear();  // the server alone
    m_serverLookups[row.id] = std::async(std::launch::async, [server, serial] { return LatestEarlierRuns(server, serial); });
}

void Station::TakeServerLookups() {
    for (auto it = m_serverLookups.begin(); it != m_serverLookups.end();) {
        if (it->second.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
            ++it;
            continue;
        }
        const EarlierRuns found = it->second.get();
        if (StationRow* row = m_model.Find(it->first)) {
            row->lastRunServer = Q(found.server);
            m_model.Changed(it->first);
            emit RowDetailChanged(it->first);
        }
        if (!found.error.empty()) TellHistoryProblem(QStringLiteral("The history server could not be read: ") + Q(found.error));
        it = m_serverLookups.erase(it);
    }
}

void Station::SetHistoryServer(const std::string& conninfo) {
    m_pusher.reset();  // finishes a push under way
    m_settings.historyServer = conninfo;
    m_pending = 0;
    if (conninfo.empty()) {
        m_settings.historyAdded = {};
        m_pushTimer.stop();
        emit PendingChanged(0);
        return;
    }
    m_pusher = std::make_unique<HistoryPusher>(m_settings.history.empty() ? DefaultHistoryPath() : m_settings.history, conninfo);
    // Each run is sent after its local commit, and what is unsent every minute.
    m_settings.historyAdded = [this] {
        if (m_pusher) m_pusher->Request();
    };
    m_pushTimer.start();
    m_pusher->Request();
}

void Station::NotePending() {
    if (!m_pusher) return;
    const std::size_t unsent = m_pusher->Last().unsent;
    if (unsent == m_pending) return;
    m_pending = unsent;
    emit PendingChanged(static_cast<int>(unsent));
}

void Station::TellHistoryProblem(const QString& text) {
    if (text == m_historyProblem) return;
    m_historyProblem = text;
    emit HistoryProblem(text);
}

}  // namespace kestro::station
