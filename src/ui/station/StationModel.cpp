#include "ui/station/StationModel.h"

#include <QBrush>
#include <QColor>
#include <QFont>
#include <algorithm>

namespace kestro::station {

void StationRow::ClearRun() {
    result = RowResult::None;
    resultText.clear();
    message.clear();
    notes.clear();
    phase.clear();
    progressShown = false;
    timeLeft.clear();
}

void StationRow::NextRadio() {
    ClearRun();
    state = RowState::Idle;
    serial.clear();
    firmwareBefore.clear();
}

QString StationRow::PortText() const {
    if (Simulated()) return QStringLiteral("simulated %1 (%2)").arg(scenario, device);
    if (byId.isEmpty()) return device;
    return QStringLiteral("%1 (%2)").arg(device, byId);
}

QString StationRow::AccessibleText() const {
    QString result = resultText.isEmpty() ? QStringLiteral("no result") : resultText;
    if (needsRecovery) result += QStringLiteral(", needs recovery");
    return QStringLiteral("%1, %2, %3").arg(PortText(), phase.isEmpty() ? QStringLiteral("idle") : phase, result);
}

RowAction StationRow::Action() const {
    if (state == RowState::Running) return RowAction::None;
    if (needsRecovery) return RowAction::Finish;
    return present ? RowAction::Upgrade : RowAction::None;
}

QString StationRow::ActionText() const {
    switch (Action()) {
        case RowAction::Upgrade: return QStringLiteral("Upgrade the radio on %1").arg(PortText());
        case RowAction::Finish: return QStringLiteral("Finish the interrupted upgrade of the radio on %1").arg(PortText());
        case RowAction::None: break;
    }
    return AccessibleText();
}

int StationModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int StationModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant StationModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const StationRow& row = m_rows[static_cast<std::size_t>(index.row())];
    const auto column = static_cast<Column>(index.column());
    if (column == Action && (role == Qt::AccessibleTextRole || role == Qt::ToolTipRole)) return row.ActionText();
    if (role == Qt::AccessibleTextRole) return row.AccessibleText();
    if (column == Progress && role == PercentRole) return row.progressShown ? row.percent : -1;
    if (column == Progress && role == LabelRole) return row.label;
    if (role == Qt::ToolTipRole && (column == Result || column == Recovery)) {
        return row.message.isEmpty() ? QVariant() : QVariant(row.message);
    }
    if (role == Qt::ForegroundRole && column == Result) {
        if (row.result == RowResult::Upgraded) return QBrush(QColor(0x1b, 0x7a, 0x1b));
        if (row.result == RowResult::Failed) return QBrush(QColor(0xb0, 0x10, 0x10));
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
        case Phase:
            if (row.state == RowState::Settling) return QStringLiteral("plugged in: starting");
            if (!row.present && row.state != RowState::Running) return QStringLiteral("unplugged");
            return row.phase;
        case Progress: return row.progressShown ? QStringLiteral("%1%").arg(row.percent) : QString();
        case TimeLeft: return row.timeLeft;
        case Result: return row.resultText;
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
        case RowAction::None: break;
    }
    return {};
}

QVariant StationModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Vertical) {
        if (section < 0 || section >= rowCount()) return {};
        const StationRow& row = m_rows[static_cast<std::size_t>(section)];
        if (role == Qt::DisplayRole) return section + 1;
        if (role == Qt::AccessibleTextRole || role == Qt::ToolTipRole) return row.PortText();
        return {};
    }
    if (role != Qt::DisplayRole) return {};
    switch (static_cast<Column>(section)) {
        case Port: return QStringLiteral("Port");
        case Serial: return QStringLiteral("Serial number");
        case FirmwareBefore: return QStringLiteral("Firmware before");
        case Phase: return QStringLiteral("Phase");
        case Progress: return QStringLiteral("Progress");
        case TimeLeft: return QStringLiteral("Time left");
        case Result: return QStringLiteral("Result");
        case Recovery: return QStringLiteral("Recovery");
        case Action: return QStringLiteral("Action");
        case ColumnCount: break;
    }
    return {};
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
