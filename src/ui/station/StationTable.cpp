#include "ui/station/StationTable.h"

#include <QAccessible>
#include <QHeaderView>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>
#include <algorithm>
#include <numeric>

#include "ui/station/StationModel.h"
#include "ui/station/TableAccessible.h"

namespace kestro::station {

namespace {

constexpr int kBarCharacters = 26;          // "Firmware Writing 100%" and its margins
constexpr int kStretchCharacters = 12;      // the least a stretch column keeps
constexpr int kStretchWantCharacters = 40;  // a stretch column's long text, before content columns give way for it
constexpr int kComfortCharacters = 20;      // what a content column keeps for a stretch column's sake
constexpr int kContentFloorCharacters = 6;  // the least a content column gives way to
constexpr int kRefitDelayMs = 200;

}  // namespace

StationTable::StationTable(QWidget* parent) : QTableView(parent) {
    TableAccessible::InstallFactory();
    setWordWrap(false);  // a long text elides on one line; the tool tip has it whole
    setTextElideMode(Qt::ElideRight);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_fit.setSingleShot(true);
    m_fit.setInterval(kRefitDelayMs);
    connect(&m_fit, &QTimer::timeout, this, &StationTable::FitColumns);
}

void StationTable::SetColumnSizing(std::vector<ColumnSizing> sizing) {
    m_sizing = std::move(sizing);
    FitColumns();
}

ColumnSizing StationTable::SizingOf(int column) const {
    return column >= 0 && column < static_cast<int>(m_sizing.size())
               ? m_sizing[static_cast<std::size_t>(column)]
               : ColumnSizing::Content;
}

int StationTable::ContentWidth(int column) const {
    return std::max(sizeHintForColumn(column), horizontalHeader()->sectionSizeHint(column));
}

int StationTable::GiveWayFloor(int column) const {
    // The header's longest word whole, with the section's own margins: a header that gives way
    // wraps at its blanks ("Firmware / before"), and none is cut inside a word.
    const QHeaderView* header = horizontalHeader();
    const QString text = model()->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
    const QFontMetrics metrics(header->font());
    int word = 0;
    for (const QString& part : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        word = std::max(word, metrics.horizontalAdvance(part));
    }
    const int margins = std::max(0, header->sectionSizeHint(column) - metrics.horizontalAdvance(text));
    int buttons = 0;
    if (SizingOf(column) == ColumnSizing::Buttons) {
        // Room for both where a row shows two, else for one.
        bool pair = false;
        for (int row = 0; row < model()->rowCount() && !pair; ++row) {
            pair = !model()->index(row, column).data(StationModel::SecondActionRole).toString().isEmpty();
        }
        buttons = pair ? sizeHintForColumn(column) : (sizeHintForColumn(column) + 1) / 2;
    }
    return std::max({fontMetrics().averageCharWidth() * kContentFloorCharacters, word + margins, buttons});
}

void StationTable::FitHeaderHeight(const std::vector<int>& width) {
    // One line while every header has its width; two where one gives way and wraps.
    QHeaderView* header = horizontalHeader();
    bool wraps = false;
    for (int c = 0; c < static_cast<int>(width.size()); ++c) {
        if (!isColumnHidden(c) && width[static_cast<std::size_t>(c)] < header->sectionSizeHint(c)) wraps = true;
    }
    const int oneLine = header->sizeHint().height();
    const int wanted = wraps ? oneLine + QFontMetrics(header->font()).lineSpacing() : oneLine;
    if (header->height() != wanted) header->setFixedHeight(wanted);
}

void StationTable::FitColumns() {
    if (model() == nullptr) return;
    const int columns = model()->columnCount();
    const int available = viewport()->width();
    if (columns == 0 || available <= 0) return;
    const int character = fontMetrics().averageCharWidth();
    std::vector<int> width(static_cast<std::size_t>(columns), 0);
    std::vector<int> stretch;
    std::vector<int> content;
    for (int c = 0; c < columns; ++c) {
        if (isColumnHidden(c)) continue;
        int& w = width[static_cast<std::size_t>(c)];
        switch (SizingOf(c)) {
            case ColumnSizing::Content:
                w = ContentWidth(c);
                content.push_back(c);
                break;
            case ColumnSizing::Buttons:
                w = ContentWidth(c);
                content.push_back(c);
                break;
            case ColumnSizing::Bar:
                w = std::max(character * kBarCharacters, horizontalHeader()->sectionSizeHint(c));
                break;
            case ColumnSizing::Stretch:
                w = std::max(character * kStretchCharacters,
                             horizontalHeader()->sectionSizeHint(c));
                stretch.push_back(c);
                break;
        }
    }
    int total = std::accumulate(width.begin(), width.end(), 0);
    // What the stretch columns would take beyond their least to show their longest text (up to a
    // limit), which the content columns make room for while they keep a comfortable width.
    int wantedExtra = 0;
    for (int c : stretch) {
        const int least = width[static_cast<std::size_t>(c)];
        wantedExtra += std::max(least, std::min(sizeHintForColumn(c), character * kStretchWantCharacters)) - least;
    }
    if (total + wantedExtra > available && !content.empty()) {
        // The widest content columns give way to one width, each not below its floor: first
        // for the long texts, each keeping its values up to a comfortable width (only its header
        // wraps); then, where that is not enough for the least, down to the header's longest
        // word, so that no scroll bar shows.
        std::vector<int> floor(static_cast<std::size_t>(columns), 0);
        std::vector<int> keep(static_cast<std::size_t>(columns), 0);
        for (int c : content) {
            floor[static_cast<std::size_t>(c)] = GiveWayFloor(c);
            keep[static_cast<std::size_t>(c)] = std::max(
                floor[static_cast<std::size_t>(c)], std::min(sizeHintForColumn(c), character * kComfortCharacters));
        }
        const auto narrowed = [&](int c, int level, const std::vector<int>& least) {
            const int w = width[static_cast<std::size_t>(c)];
            return std::min(w, std::max(level, least[static_cast<std::size_t>(c)]));
        };
        const auto fitted = [&](int level, const std::vector<int>& least) {
            int sum = total;
            for (int c : content) sum -= width[static_cast<std::size_t>(c)] - narrowed(c, level, least);
            return sum;
        };
        // The highest width that brings the columns within `room`; 0 when none does.
        const auto highest = [&](int room, const std::vector<int>& least) {
            int low = 0;
            int high = *std::max_element(width.begin(), width.end());
            while (low < high) {
                const int mid = (low + high + 1) / 2;
                if (fitted(mid, least) <= room) {
                    low = mid;
                } else {
                    high = mid - 1;
                }
            }
            return low;
        };
        const std::vector<int>* least = &keep;
        int level = highest(available - wantedExtra, keep);
        if (fitted(level, keep) > available) {
            least = &floor;
            level = highest(available, floor);
        }
        for (int c : content) width[static_cast<std::size_t>(c)] = narrowed(c, level, *least);
    }
    // The stretch columns share what is left (after any give-way, the pixels it left over), the
    // last one the remainder.
    total = std::accumulate(width.begin(), width.end(), 0);
    if (total < available && !stretch.empty()) {
        const int extra = available - total;
        const int share = extra / static_cast<int>(stretch.size());
        for (int c : stretch) width[static_cast<std::size_t>(c)] += share;
        width[static_cast<std::size_t>(stretch.back())] +=
            extra - share * static_cast<int>(stretch.size());
    }
    for (int c = 0; c < columns; ++c) {
        if (!isColumnHidden(c) && columnWidth(c) != width[static_cast<std::size_t>(c)]) {
            setColumnWidth(c, width[static_cast<std::size_t>(c)]);
        }
    }
    FitHeaderHeight(width);
}

void StationTable::FitSoon() {
    if (!m_fit.isActive()) m_fit.start();
}

void StationTable::resizeEvent(QResizeEvent* event) {
    QTableView::resizeEvent(event);
    FitColumns();
}

void StationTable::rowsInserted(const QModelIndex& parent, int start, int end) {
    QTableView::rowsInserted(parent, start, end);
    FitSoon();
}

void StationTable::dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                               const QList<int>& roles) {
    QTableView::dataChanged(topLeft, bottomRight, roles);
    const bool progress =
        m_progressColumn >= topLeft.column() && m_progressColumn <= bottomRight.column();
    if (!progress || topLeft.column() != bottomRight.column()) FitSoon();
    if (!progress || !QAccessible::isActive()) return;
    QAccessibleInterface* table = QAccessible::queryAccessibleInterface(this);
    QAccessibleTableInterface* cells = table != nullptr ? table->tableInterface() : nullptr;
    if (cells == nullptr) return;
    for (int row = topLeft.row(); row <= bottomRight.row(); ++row) {
        QAccessibleInterface* cell = cells->cellAt(row, m_progressColumn);
        if (cell == nullptr || cell->valueInterface() == nullptr) continue;
        QAccessibleValueChangeEvent changed(cell, cell->valueInterface()->currentValue());
        QAccessible::updateAccessibility(&changed);
    }
}

bool StationTable::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        // A text cut short by its column shows whole in its tool tip, where the model has none.
        auto* help = static_cast<QHelpEvent*>(event);
        const QModelIndex index = indexAt(help->pos());
        if (index.isValid() && index.data(Qt::ToolTipRole).toString().isEmpty()) {
            const QString text = index.data(Qt::DisplayRole).toString();
            QStyleOptionViewItem option;
            initViewItemOption(&option);
            const QRect cell = visualRect(index);
            option.rect = cell;
            const int needed = itemDelegateForIndex(index)->sizeHint(option, index).width();
            if (!text.isEmpty() && needed > cell.width()) {
                QToolTip::showText(help->globalPos(), text, viewport(), cell);
            } else {
                QToolTip::hideText();
            }
            return true;
        }
    }
    return QTableView::viewportEvent(event);
}

void StationTable::paintEvent(QPaintEvent* event) {
    QTableView::paintEvent(event);
    const QModelIndex current = currentIndex();
    if (!hasFocus() || !current.isValid()) return;
    // Where the keyboard is: a dark ring with a light one inside, seen on a selected row as on
    // any other.
    const QRect cell = visualRect(current);
    if (!cell.isValid()) return;
    QPainter painter(viewport());
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(palette().color(QPalette::Text), 2));
    painter.drawRect(cell.adjusted(1, 1, -1, -1));
    painter.setPen(QPen(palette().color(QPalette::Base), 1));
    painter.drawRect(cell.adjusted(2, 2, -3, -3));
}

}  // namespace kestro::station
