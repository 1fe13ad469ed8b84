#pragma once
// What a screen reader sees of the station's table: a table of cells, each named by its own
// column (the model's accessible text, else "header: value"), the progress cell a progress bar
// with its percent as the value, the button cell a button that presses the row's action, and
// the headers as header cells. Children are numbered as Qt's item views number them in their
// own accessibility events: row 0 the column headers, column 0 the row headers, 0 the corner.

#include <QAccessibleWidget>
#include <QHash>
#include <QPersistentModelIndex>
#include <QPointer>

class QTableView;

namespace kestro::station {

class StationTable;

class TableAccessible final : public QAccessibleWidget, public QAccessibleTableInterface {
  public:
    explicit TableAccessible(StationTable* table);
    ~TableAccessible() override;

    // Put in place once, before the first table is asked for.
    static void InstallFactory();

    void* interface_cast(QAccessible::InterfaceType type) override;
    QAccessible::Role role() const override { return QAccessible::Table; }
    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;

    // QAccessibleTableInterface
    QAccessibleInterface* caption() const override { return nullptr; }
    QAccessibleInterface* summary() const override { return nullptr; }
    QAccessibleInterface* cellAt(int row, int column) const override;
    int selectedCellCount() const override;
    QList<QAccessibleInterface*> selectedCells() const override;
    QString columnDescription(int column) const override;
    QString rowDescription(int row) const override;
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override;
    int columnCount() const override;
    int rowCount() const override;
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override;
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int row) const override;
    bool selectRow(int row) override;
    bool selectColumn(int) override { return false; }
    bool unselectRow(int row) override;
    bool unselectColumn(int) override { return false; }
    void modelChange(QAccessibleTableModelChangeEvent* event) override;

    QTableView* View() const;
    // The header cell of `section` (-1: the corner).
    QAccessibleInterface* HeaderCell(int section, Qt::Orientation orientation) const;

  private:
    // Cells and headers are made once and kept (screen readers hold on to their ids) until the
    // rows change.
    void Forget();

    mutable QHash<int, QAccessible::Id> m_children;  // by child index
};

}  // namespace kestro::station
