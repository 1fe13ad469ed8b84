#include "ui/station/TableAccessible.h"

#include <QAbstractButton>
#include <QHeaderView>
#include <QTableView>

#include "ui/station/StationModel.h"
#include "ui/station/StationTable.h"

namespace kestro::station {

namespace {

QString HeaderText(const QTableView* view, int section, Qt::Orientation orientation) {
    return view->model()->headerData(section, orientation, Qt::DisplayRole).toString();
}

QRect GlobalRect(const QWidget* widget, const QRect& local) {
    return local.isValid() ? QRect(widget->mapToGlobal(local.topLeft()), local.size()) : QRect();
}

// One cell of the table. The progress cell is a progress bar whose value is the percent; the
// button cell is a button.
class CellAccessible final : public QAccessibleInterface,
                             public QAccessibleTableCellInterface,
                             public QAccessibleValueInterface,
                             public QAccessibleActionInterface {
  public:
    CellAccessible(QTableView* view, const QModelIndex& index) : m_view(view), m_index(index) {}

    bool isValid() const override { return m_view && m_index.isValid(); }
    QObject* object() const override { return nullptr; }
    QAccessibleInterface* parent() const override {
        return QAccessible::queryAccessibleInterface(m_view);
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    void setText(QAccessible::Text, const QString&) override {}
    QAccessibleInterface* focusChild() const override { return nullptr; }

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TableCellInterface)
            return static_cast<QAccessibleTableCellInterface*>(this);
        if (type == QAccessible::ValueInterface && IsProgress())
            return static_cast<QAccessibleValueInterface*>(this);
        if (type == QAccessible::ActionInterface)
            return static_cast<QAccessibleActionInterface*>(this);
        return nullptr;
    }

    QAccessible::Role role() const override {
        if (IsProgress()) return QAccessible::ProgressBar;
        if (m_index.column() == StationModel::Action) return QAccessible::Button;
        return QAccessible::Cell;
    }

    QString text(QAccessible::Text t) const override {
        if (!isValid()) return {};
        const QString own = OwnText();
        const QString named = m_index.data(Qt::AccessibleTextRole).toString();
        switch (t) {
            case QAccessible::Name:
                return named.isEmpty() ? own : named;
            case QAccessible::Description: {
                // The column's own value where the model's name is another text.
                const QString description = m_index.data(Qt::AccessibleDescriptionRole).toString();
                if (!description.isEmpty()) return description;
                return named.isEmpty() || named == own ? QString() : own;
            }
            case QAccessible::Value:
                return m_index.data(Qt::DisplayRole).toString();
            default:
                return {};
        }
    }

    QAccessible::State state() const override {
        QAccessible::State s;
        if (!isValid()) {
            s.invalid = true;
            return s;
        }
        s.selectable = true;
        s.focusable = true;
        s.selected = isSelected();
        s.focused = m_view->hasFocus() && m_view->currentIndex() == QModelIndex(m_index);
        const QRect cell = m_view->visualRect(m_index);
        s.invisible = !cell.intersects(m_view->viewport()->rect());
        s.offscreen = s.invisible;
        return s;
    }

    QRect rect() const override {
        return isValid() ? GlobalRect(m_view->viewport(), m_view->visualRect(m_index)) : QRect();
    }

    QWindow* window() const override { return m_view ? m_view->window()->windowHandle() : nullptr; }

    // QAccessibleTableCellInterface
    bool isSelected() const override {
        return isValid() && m_view->selectionModel() != nullptr &&
               m_view->selectionModel()->isSelected(m_index);
    }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    int columnIndex() const override { return m_index.column(); }
    int rowIndex() const override { return m_index.row(); }
    QList<QAccessibleInterface*> columnHeaderCells() const override {
        return Headers(m_index.column(), Qt::Horizontal);
    }
    QList<QAccessibleInterface*> rowHeaderCells() const override {
        return Headers(m_index.row(), Qt::Vertical);
    }
    QAccessibleInterface* table() const override { return parent(); }

    // QAccessibleValueInterface: the progress cell's percent.
    QVariant currentValue() const override {
        const int percent = m_index.data(StationModel::PercentRole).toInt();
        return std::max(percent, 0);
    }
    void setCurrentValue(const QVariant&) override {}
    QVariant maximumValue() const override { return 100; }
    QVariant minimumValue() const override { return 0; }
    QVariant minimumStepSize() const override { return 1; }

    // QAccessibleActionInterface: the button presses the row's action; any cell can take the
    // focus.
    QStringList actionNames() const override {
        if (m_index.column() == StationModel::Action && !m_index.data().toString().isEmpty())
            return {pressAction()};
        return {setFocusAction()};
    }
    void doAction(const QString& name) override {
        if (!isValid()) return;
        if (name == setFocusAction() || name == pressAction()) {
            m_view->setCurrentIndex(m_index);
            m_view->setFocus();
        }
        if (name == pressAction() && m_index.column() == StationModel::Action)
            emit m_view->activated(m_index);
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

  private:
    bool IsProgress() const { return m_index.column() == StationModel::Progress; }
    // "header: value", the value as shown; the progress cell's, its percent when it shows.
    QString OwnText() const {
        QString value = m_index.data(Qt::DisplayRole).toString();
        if (IsProgress()) {
            const QString label = m_index.data(StationModel::LabelRole).toString();
            if (!label.isEmpty() && !value.isEmpty())
                value = QStringLiteral("%1 (%2)").arg(value, label);
        }
        const QString header = HeaderText(m_view, m_index.column(), Qt::Horizontal);
        return value.isEmpty() ? header : QStringLiteral("%1: %2").arg(header, value);
    }
    QList<QAccessibleInterface*> Headers(int section, Qt::Orientation orientation) const {
        auto* table = dynamic_cast<TableAccessible*>(parent());
        QAccessibleInterface* header =
            table != nullptr ? table->HeaderCell(section, orientation) : nullptr;
        return header != nullptr ? QList<QAccessibleInterface*>{header}
                                 : QList<QAccessibleInterface*>{};
    }

    QPointer<QTableView> m_view;
    QPersistentModelIndex m_index;
};

class HeaderAccessible final : public QAccessibleInterface {
  public:
    HeaderAccessible(QTableView* view, int section, Qt::Orientation orientation)
        : m_view(view), m_section(section), m_orientation(orientation) {}

    bool isValid() const override { return m_view && m_section >= 0; }
    QObject* object() const override { return nullptr; }
    QAccessibleInterface* parent() const override {
        return QAccessible::queryAccessibleInterface(m_view);
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    void setText(QAccessible::Text, const QString&) override {}
    QAccessible::Role role() const override {
        return m_orientation == Qt::Horizontal ? QAccessible::ColumnHeader : QAccessible::RowHeader;
    }
    QString text(QAccessible::Text t) const override {
        if (!isValid()) return {};
        if (t == QAccessible::Name) {
            const QString named = m_view->model()
                                      ->headerData(m_section, m_orientation, Qt::AccessibleTextRole)
                                      .toString();
            return named.isEmpty() ? HeaderText(m_view, m_section, m_orientation) : named;
        }
        return {};
    }
    QAccessible::State state() const override {
        QAccessible::State s;
        const QHeaderView* header = Header();
        s.invisible = header == nullptr || !header->isVisible();
        s.invalid = !isValid();
        return s;
    }
    QRect rect() const override {
        const QHeaderView* header = Header();
        if (!isValid() || header == nullptr) return {};
        const int at = header->sectionViewportPosition(m_section);
        const int size = header->sectionSize(m_section);
        const QRect local = m_orientation == Qt::Horizontal ? QRect(at, 0, size, header->height())
                                                            : QRect(0, at, header->width(), size);
        return GlobalRect(header->viewport(), local);
    }
    QWindow* window() const override { return m_view ? m_view->window()->windowHandle() : nullptr; }

  private:
    QHeaderView* Header() const {
        if (!m_view) return nullptr;
        return m_orientation == Qt::Horizontal ? m_view->horizontalHeader()
                                               : m_view->verticalHeader();
    }

    QPointer<QTableView> m_view;
    int m_section;
    Qt::Orientation m_orientation;
};

QAccessibleInterface* Factory(const QString& key, QObject* object) {
    if (key != QLatin1String(StationTable::staticMetaObject.className())) return nullptr;
    auto* table = qobject_cast<StationTable*>(object);
    return table != nullptr ? new TableAccessible(table) : nullptr;
}

}  // namespace

TableAccessible::TableAccessible(StationTable* table)
    : QAccessibleWidget(table, QAccessible::Table) {}

TableAccessible::~TableAccessible() { Forget(); }

void TableAccessible::InstallFactory() {
    static const bool installed = [] {
        QAccessible::installFactory(Factory);
        return true;
    }();
    (void)installed;
}

QTableView* TableAccessible::View() const { return qobject_cast<QTableView*>(object()); }

void* TableAccessible::interface_cast(QAccessible::InterfaceType type) {
    if (type == QAccessible::TableInterface) return static_cast<QAccessibleTableInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
}

int TableAccessible::rowCount() const {
    return View() != nullptr ? View()->model()->rowCount() : 0;
}
int TableAccessible::columnCount() const {
    return View() != nullptr ? View()->model()->columnCount() : 0;
}

int TableAccessible::childCount() const { return (rowCount() + 1) * (columnCount() + 1); }

QAccessibleInterface* TableAccessible::child(int index) const {
    QTableView* view = View();
    if (view == nullptr || index < 0 || index >= childCount()) return nullptr;
    const int columns = columnCount() + 1;
    const int row = index / columns - 1;
    const int column = index % columns - 1;
    if (const auto it = m_children.constFind(index); it != m_children.constEnd()) {
        // A cell follows its row when rows come or go (and the view says so only to an active
        // screen reader): one that is no longer at this index is made again.
        QAccessibleInterface* kept = QAccessible::accessibleInterface(*it);
        QAccessibleTableCellInterface* cell =
            kept != nullptr ? kept->tableCellInterface() : nullptr;
        if (kept != nullptr && kept->isValid() &&
            (cell == nullptr || (cell->rowIndex() == row && cell->columnIndex() == column))) {
            return kept;
        }
        QAccessible::deleteAccessibleInterface(*it);
        m_children.remove(index);
    }
    QAccessibleInterface* made = nullptr;
    if (row < 0 && column < 0) {
        auto* corner = view->findChild<QAbstractButton*>(QString(), Qt::FindDirectChildrenOnly);
        return corner != nullptr ? QAccessible::queryAccessibleInterface(corner) : nullptr;
    }
    if (row < 0) {
        made = new HeaderAccessible(view, column, Qt::Horizontal);
    } else if (column < 0) {
        made = new HeaderAccessible(view, row, Qt::Vertical);
    } else {
        made = new CellAccessible(view, view->model()->index(row, column, view->rootIndex()));
    }
    m_children.insert(index, QAccessible::registerAccessibleInterface(made));
    return made;
}

int TableAccessible::indexOfChild(const QAccessibleInterface* child) const {
    if (child == nullptr) return -1;
    const int columns = columnCount() + 1;
    if (QAccessibleTableCellInterface* cell =
            const_cast<QAccessibleInterface*>(child)->tableCellInterface()) {
        return (cell->rowIndex() + 1) * columns + cell->columnIndex() + 1;
    }
    for (auto it = m_children.constBegin(); it != m_children.constEnd(); ++it) {
        if (QAccessible::accessibleInterface(it.value()) == child) return it.key();
    }
    return -1;
}

QAccessibleInterface* TableAccessible::childAt(int x, int y) const {
    QTableView* view = View();
    if (view == nullptr) return nullptr;
    const QPoint local = view->viewport()->mapFromGlobal(QPoint(x, y));
    const QModelIndex index = view->indexAt(local);
    return index.isValid() ? cellAt(index.row(), index.column()) : nullptr;
}

QAccessibleInterface* TableAccessible::cellAt(int row, int column) const {
    if (row < 0 || column < 0 || row >= rowCount() || column >= columnCount()) return nullptr;
    return child((row + 1) * (columnCount() + 1) + column + 1);
}

QAccessibleInterface* TableAccessible::HeaderCell(int section, Qt::Orientation orientation) const {
    if (section < 0) return nullptr;
    return orientation == Qt::Horizontal ? child(section + 1)
                                         : child((section + 1) * (columnCount() + 1));
}

QString TableAccessible::columnDescription(int column) const {
    return View() != nullptr ? HeaderText(View(), column, Qt::Horizontal) : QString();
}

QString TableAccessible::rowDescription(int row) const {
    return View() != nullptr
               ? View()->model()->headerData(row, Qt::Vertical, Qt::AccessibleTextRole).toString()
               : QString();
}

QList<int> TableAccessible::selectedRows() const {
    QList<int> rows;
    if (View() == nullptr || View()->selectionModel() == nullptr) return rows;
    for (const QModelIndex& index : View()->selectionModel()->selectedRows()) rows << index.row();
    return rows;
}

int TableAccessible::selectedRowCount() const { return static_cast<int>(selectedRows().size()); }

bool TableAccessible::isRowSelected(int row) const { return selectedRows().contains(row); }

int TableAccessible::selectedCellCount() const { return selectedRowCount() * columnCount(); }

QList<QAccessibleInterface*> TableAccessible::selectedCells() const {
    QList<QAccessibleInterface*> cells;
    for (int row : selectedRows()) {
        for (int column = 0; column < columnCount(); ++column) cells << cellAt(row, column);
    }
    return cells;
}

bool TableAccessible::selectRow(int row) {
    if (View() == nullptr || row < 0 || row >= rowCount()) return false;
    View()->selectRow(row);
    return true;
}

bool TableAccessible::unselectRow(int row) {
    if (View() == nullptr || View()->selectionModel() == nullptr) return false;
    View()->selectionModel()->select(View()->model()->index(row, 0),
                                     QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
    return true;
}

void TableAccessible::modelChange(QAccessibleTableModelChangeEvent* event) {
    // A changed value is read afresh from the model; rows that come or go renumber the cells.
    if (event->modelChangeType() != QAccessibleTableModelChangeEvent::DataChanged) Forget();
}

void TableAccessible::Forget() {
    for (QAccessible::Id id : std::as_const(m_children)) QAccessible::deleteAccessibleInterface(id);
    m_children.clear();
}

}  // namespace kestro::station
