#include "ui/station/StationModel.h"

#include <QBrush>
#include <QColor>
#include <QFont>
#include <algorithm>

#include "ui/station/StationTexts.h"

namespace kestro::station {

void StationRow::ClearRun() {
    result = RowResult::None;
    resultText.clear();
    cause.clear();
    message.clear();
    notes.clear();
    phase.clear();
    progressShown = false;
    timeLeft.clear();
    elapsed.clear();
    firmwareAfter.clear();
    silent = false;
}

void StationRow::NextRadio() {
    ClearRun();
    state = RowState::Idle;
    ++radio;
    serial.clear();
    firmwareBefore.clear();
    lastRun.clear();
    lastRunServer.clear();
}

QString StationRow::PortText() const {
    if (Simulated()) return QStringLiteral("simulated %1 (%2)").arg(scenario, device);
    if (byId.isEmpty()) return device;
    return QStringLiteral("%1 (%2)").arg(device, byId);
}

QString StationRow::PhaseText() const {
    if (state == RowState::Settling) return QStringLiteral("plugged in: starting");
    if (!present && state != RowState::Running) return QStringLiteral("unplugged");
    return phase;
}

QString StationRow::ResultCell() const {
    switch (result) {
        case RowResult::Upgraded: return QStringLiteral("PASS: ") + (cause.isEmpty() ? resultText : cause);
        case RowResult::Failed: return QStringLiteral("FAIL: ") + (cause.isEmpty() ? resultText : cause);
        case RowResult::None: break;
    }
    return cause;  // a check's verdict, or nothing yet
}

QString StationRow::AccessibleText() const {
    QString shown = ResultCell().isEmpty() ? QStringLiteral("no result") : ResultCell();
    if (needsRecovery) shown += QStringLiteral(", needs recovery");
    const QString phaseShown = PhaseText();
    return QStringLiteral("%1, %2, %3").arg(PortText(), phaseShown.isEmpty() ? QStringLiteral("idle") : phaseShown, shown);
}

RowAction StationRow::Action() const {
    if (state == RowState::Running) return RowAction::Stop;
    if (needsRecovery) return RowAction::Finish;
    return present ? RowAction::Upgrade : RowAction::None;
}

RowAction StationRow::SecondAction() const {
    return silent && present && Action() == RowAction::Upgrade ? RowAction::Finish : RowAction::None;
}

QString StationRow::ActionText() const {
    QString text;
    switch (Action()) {
        case RowAction::Upgrade: text = QStringLiteral("Upgrade the radio on %1").arg(PortText()); break;
        case RowAction::Finish:
            text = QStringLiteral("Finish the interrupted upgrade of the radio on %1").arg(PortText());
            break;
        case RowAction::Stop: text = QStringLiteral("Stop the run on %1 before its erase").arg(PortText()); break;
        case RowAction::None: return AccessibleText();
    }
    if (SecondAction() == RowAction::Finish) {
        text += QStringLiteral(", or Finish: program a radio left without firmware directly");
    }
    return text;
}

int StationModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int StationModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QString StationModel::CellName(const StationRow& row, Column column) {
    if (column == Action) return row.ActionText();
    QString value;
    switch (column) {
        case Port: value = row.PortText(); break;
        case Serial: value = row.serial; break;
        case FirmwareBefore: value = row.firmwareBefore; break;
        case FirmwareAfter: value = row.firmwareAfter; break;
        case Phase: value = row.PhaseText(); break;
        case Progress: value = row.progressShown ? QStringLiteral("%1%").arg(row.percent) : QString(); break;
        case TimeLeft: value = row.timeLeft; break;
        case Elapsed: value = row.elapsed; break;
        case Result: value = row.ResultCell(); break;
        case Recovery: value = row.needsRecovery ? QStringLiteral("needs recovery") : QString(); break;
        case Action:
        case ColumnCount: break;
    }
    return QStringLiteral("%1: %2").arg(HeaderText(column), value.isEmpty() ? QStringLiteral("none") : value);
}

QVariant StationModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const StationRow& row = m_rows[static_cast<std::size_t>(index.row())];
    const auto column = static_cast<Column>(index.column());
    if (role == Qt::AccessibleTextRole) return CellName(row, column);
    if (column == Action && role == Qt::ToolTipRole) return row.ActionText();
    if (column == Action && role == SecondActionRole) return ButtonText(row.SecondAction());
    if (column == Progress && role == PercentRole) return row.progressShown ? row.percent : -1;
    if (column == Progress && role == LabelRole) return row.label;
    if (role == Qt::ToolTipRole) {
        QString tip;
        if (column == Result || column == Recovery) tip = row.message;
        if (column == Result && row.silent) tip += QStringLiteral("\n\n") + QString::fromLatin1(stationtexts::kSilentRadio);
        if (column == Phase) tip = row.PhaseText();
        // The port's whole name, however narrow its column.
        if (column == Port) tip = row.PortText();
        if ((column == Port || column == Serial) && !row.lastRun.isEmpty()) {
            tip += QStringLiteral("\nLatest earlier run: ") + row.lastRun;
        }
        if ((column == Port || column == Serial) && !row.lastRunServer.isEmpty()) {
            tip += QStringLiteral("\nLatest run in the shared history: ") + row.lastRunServer;
        }
        return tip.trimmed().isEmpty() ? QVariant() : QVariant(tip.trimmed());
    }
    // PASS and FAIL at a glance: the whole cell coloured, its text saying the same.
    if (role == Qt::BackgroundRole && column == Result) {
        if (row.result == RowResult::Upgraded) return QBrush(QColor(0xc8, 0xf0, 0xc8));
        if (row.result == RowResult::Failed) return QBrush(QColor(0xf8, 0xcc, 0xcc));
    }
    if (role == Qt::ForegroundRole && column == Result) {
        if (row.result == RowResult::Upgraded) return QBrush(QColor(0x0c, 0x4a, 0x0c));
        if (row.result == RowResult::Failed) return QBrush(QColor(0x70, 0x00, 0x00));
    }
    if (role == Qt::ForegroundRole && column == Recovery) return QBrush(QColor(0xb0, 0x50, 0x00));
    if (role == Qt::FontRole && column == Recovery) {
        QFont bold;
        bold.setBold(true);
        return bold;
    }
    if (role != Qt::DisplayRole) return {};
    switch (column) {
        case Port: return row.PortText();
        case Serial: return row.serial;
        case FirmwareBefore: return row.firmwareBefore;
        case FirmwareAfter: return row.firmwareAfter;
        case Phase: return row.PhaseText();
        case Progress: return row.progressShown ? QStringLiteral("%1%").arg(row.percent) : QString();
        case TimeLeft: return row.timeLeft;
        case Elapsed: return row.elapsed;
        case Result: return row.ResultCell();
        case Recovery: return row.needsRecovery ? QStringLiteral("needs recovery") : QString();
        case Action: return ButtonText(row.Action());
        case ColumnCount: break;
    }
    return {};
}

QString StationModel::ButtonText(RowAction action) {
    switch (action) {
        case RowAction::Upgrade: return QStringLiteral("Upgrade");
        case RowAction::Finish: return QStringLiteral("Finish");
        case RowAction::Stop: return QStringLiteral("Stop");
        case RowAction::None: break;
    }
    return {};
}

QString StationModel::HeaderText(Column column) {
    switch (column) {
        case Port: return QStringLiteral("Port");
        case Serial: return QStringLiteral("Serial number");
        case FirmwareBefore: return QStringLiteral("Firmware before");
        case FirmwareAfter: return QStringLiteral("Firmware after");
        case Phase: return QStringLiteral("Phase");
        case Progress: return QStringLiteral("Progress");
        case TimeLeft: return QStringLiteral("Time left");
        case Elapsed: return QStringLiteral("Time taken");
        case Result: return QStringLiteral("Result");
        case Recovery: return QStringLiteral("Recovery");
        case Action: return QStringLiteral("Action");
        case ColumnCount: break;
    }
    return {};
}

QVariant StationModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Vertical) {
        if (section < 0 || section >= rowCount()) return {};
        const StationRow& row = m_rows[static_cast<std::size_t>(section)];
        // The cable's slot, which stays with the cable for the session.
        if (role == Qt::DisplayRole) return row.slot > 0 ? row.slot : section + 1;
        if (role == Qt::AccessibleTextRole) return QStringLiteral("Slot %1: %2").arg(row.slot).arg(row.AccessibleText());
        if (role == Qt::ToolTipRole) return row.PortText();
        return {};
    }
    if (section < 0 || section >= ColumnCount) return {};
    // A header wraps at its blanks where its column gives way in a narrow window.
    if (role == Qt::TextAlignmentRole) return static_cast<int>(Qt::AlignCenter | Qt::TextWordWrap);
    if (role != Qt::DisplayRole) return {};
    return HeaderText(static_cast<Column>(section));
}

int StationModel::Add(StationRow row) {
    row.id = m_nextId++;
    const int at = rowCount();
    beginInsertRows({}, at, at);
    m_rows.push_back(std::move(row));
    endInsertRows();
    return m_rows.back().id;
}

void StationModel::Remove(int id) {
    const int at = RowOf(id);
    if (at < 0) return;
    beginRemoveRows({}, at, at);
    m_rows.erase(m_rows.begin() + at);
    endRemoveRows();
}

int StationModel::RowOf(int id) const {
    const auto it = std::find_if(m_rows.begin(), m_rows.end(), [id](const StationRow& r) { return r.id == id; });
    return it == m_rows.end() ? -1 : static_cast<int>(it - m_rows.begin());
}

int StationModel::IdAt(int row) const {
    return row >= 0 && row < rowCount() ? m_rows[static_cast<std::size_t>(row)].id : 0;
}

StationRow* StationModel::Find(int id) {
    const int at = RowOf(id);
    return at < 0 ? nullptr : &m_rows[static_cast<std::size_t>(at)];
}

const StationRow* StationModel::Find(int id) const {
    const int at = RowOf(id);
    return at < 0 ? nullptr : &m_rows[static_cast<std::size_t>(at)];
}

void StationModel::Changed(int id, Column first, Column last) {
    const int at = RowOf(id);
    if (at < 0) return;
    emit dataChanged(index(at, first), index(at, last));
}

}  // namespace kestro::station
