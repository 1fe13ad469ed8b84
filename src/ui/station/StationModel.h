#pragma once
// The station's table: one row per radio port, numbered by its cable's slot, with its port,
// serial number, firmware before and after, phase, progress, time left, time taken, result,
// recovery mark and the row's own buttons. It only shows
// rows; the station changes them on the UI thread and says which columns changed.

#include <QAbstractTableModel>
#include <vector>

#include "ui/station/StationRow.h"

namespace kestro::station {

class StationModel final : public QAbstractTableModel {
    Q_OBJECT

  public:
    // The columns, in order; HeaderText names each.
    enum Column {
        Port,
        Serial,
        FirmwareBefore,
        FirmwareAfter,
        Phase,
        Progress,
        TimeLeft,
        Elapsed,
        Result,
        Recovery,
        Action,
        ColumnCount
    };
    // The progress column's percent (int, -1 when no bar shows) and label.
    static constexpr int PercentRole = Qt::UserRole + 1;
    static constexpr int LabelRole = Qt::UserRole + 2;
    // The action column's second button ("Finish" beside "Upgrade"), "" when none.
    static constexpr int SecondActionRole = Qt::UserRole + 3;

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Adds a row and returns its id.
    int Add(StationRow row);
    void Remove(int id);
    // The row with `id`, or null; valid until rows are added or removed.
    StationRow* Find(int id);
    const StationRow* Find(int id) const;
    int RowOf(int id) const;  // -1 when gone
    int IdAt(int row) const;  // 0 when there is no such row
    const std::vector<StationRow>& Rows() const { return m_rows; }
    // Columns `first` to `last` of row `id` have changed.
    void Changed(int id, Column first = Port, Column last = Action);
    // The label of the button that does `action`; "" for none.
    static QString ButtonText(RowAction action);
    static QString HeaderText(Column column);
    // What the cell shows, as a screen reader hears it: "Serial number: KS24001735".
    static QString CellName(const StationRow& row, Column column);

  private:
    std::vector<StationRow> m_rows;
    int m_nextId = 1;
};

}  // namespace kestro::station
