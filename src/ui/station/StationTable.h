#pragma once
// The station's table view. Its columns fit the view's width by what each one holds: a
// content column is as wide as its widest value, a bar column a fixed number of characters, and
// the stretch columns (long texts) share what is left and elide, with the whole text in their
// tool tip; when content columns alone overflow, the widest give way first, their headers
// wrapped onto a second line, so no horizontal scroll bar shows while the columns can still be
// read; the row's buttons give way to one button's width. The current cell has a frame that shows
// as the keyboard moves, and screen readers get the progress cell's value as it changes.

#include <QTableView>
#include <QTimer>
#include <vector>

namespace kestro::station {

enum class ColumnSizing {
    Content,  // its widest value; gives way (to its header's longest word) when they overflow
    Buttons,  // two buttons side by side; gives way to one's width while no row shows two
    Bar,      // a progress bar: a fixed width in characters
    Stretch,  // a share of the width left; elides
};

class StationTable final : public QTableView {
    Q_OBJECT

  public:
    explicit StationTable(QWidget* parent = nullptr);

    // How each column is sized (columns beyond the list are content columns).
    void SetColumnSizing(std::vector<ColumnSizing> sizing);
    ColumnSizing SizingOf(int column) const;
    // The column whose percent (StationModel::PercentRole) screen readers hear as a value.
    void SetProgressColumn(int column) { m_progressColumn = column; }
    // Lays the columns out for the width now.
    void FitColumns();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                     const QList<int>& roles = QList<int>()) override;
    void rowsInserted(const QModelIndex& parent, int start, int end) override;

  private:
    // What a column would take to show its widest value and its header whole.
    int ContentWidth(int column) const;
    // The least a content column gives way to.
    int GiveWayFloor(int column) const;
    // The header's height for the columns' widths: a second line where a header wraps.
    void FitHeaderHeight(const std::vector<int>& width);
    // A refit soon, once for many changes.
    void FitSoon();

    std::vector<ColumnSizing> m_sizing;
    int m_progressColumn = -1;
    QTimer m_fit;
};

}  // namespace kestro::station
