#include "ui/station/ActionDelegate.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <algorithm>

#include "ui/station/StationModel.h"

namespace kestro::station {

namespace {

constexpr int kMargin = 2;

QStyle* StyleOf(const QStyleOptionViewItem& option) {
    return option.widget != nullptr ? option.widget->style() : QApplication::style();
}

}  // namespace

QSize ActionDelegate::ButtonSize(const QStyleOptionViewItem& option) const {
    // Asked several times for each cell painted: the style is asked once per font and style.
    const QStyle* style = StyleOf(option);
    if (m_sizeFor.first == style && m_sizeFor.second == option.font && m_size.isValid()) return m_size;
    QStyleOptionButton button;
    button.fontMetrics = option.fontMetrics;
    QSize widest;
    for (RowAction action : {RowAction::Upgrade, RowAction::Finish, RowAction::Stop}) {
        const QSize text =
            option.fontMetrics.size(Qt::TextShowMnemonic, StationModel::ButtonText(action));
        widest = widest.expandedTo(
            StyleOf(option)->sizeFromContents(QStyle::CT_PushButton, &button, text, option.widget));
    }
    m_sizeFor = {style, option.font};
    m_size = widest;
    return widest;
}

QRect ActionDelegate::ButtonRect(const QStyleOptionViewItem& option, const QModelIndex& index, bool second) const {
    QRect cell = option.rect.adjusted(kMargin, kMargin, -kMargin, -kMargin);
    // One button stands in the middle of its cell, as wide as the cell allows; two stand side by
    // side there, each in its half.
    const bool pair = !index.data(StationModel::SecondActionRole).toString().isEmpty();
    const int width = std::min(ButtonSize(option).width(), pair ? (cell.width() - kMargin) / 2 : cell.width());
    const int left = cell.center().x() + 1 - (pair ? width + kMargin / 2 : width / 2);
    return {QPoint(second ? left + width + kMargin : left, cell.top()), QSize(width, cell.height())};
}

int ActionDelegate::ButtonAt(const QStyleOptionViewItem& option, const QModelIndex& index, QPoint point) const {
    if (!index.data(Qt::DisplayRole).toString().isEmpty() && ButtonRect(option, index).contains(point)) return 1;
    if (!index.data(StationModel::SecondActionRole).toString().isEmpty() && ButtonRect(option, index, true).contains(point)) {
        return 2;
    }
    return 0;
}

QSize ActionDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const QSize one = ButtonSize(option);
    return QSize(2 * one.width() + kMargin, one.height())
        .grownBy(QMargins(kMargin, kMargin, kMargin, kMargin))
        .expandedTo(QStyledItemDelegate::sizeHint(option, QModelIndex(index)));
}

void ActionDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                           const QModelIndex& index) const {
    // The cell as any other (selection, focus), without its text: the button shows that.
    QStyleOptionViewItem cell(option);
    initStyleOption(&cell, index);
    cell.text.clear();
    StyleOf(option)->drawControl(QStyle::CE_ItemViewItem, &cell, painter, option.widget);
    for (const bool second : {false, true}) {
        const QString text = index.data(second ? StationModel::SecondActionRole : Qt::DisplayRole).toString();
        if (text.isEmpty()) continue;
        QStyleOptionButton button;
        button.initFrom(option.widget);
        button.rect = ButtonRect(option, index, second);
        button.text = text;
        button.state = QStyle::State_Enabled | QStyle::State_Raised;
        if (!second && (option.state & QStyle::State_HasFocus)) button.state |= QStyle::State_HasFocus;
        StyleOf(option)->drawControl(QStyle::CE_PushButton, &button, painter, option.widget);
    }
}

bool ActionDelegate::editorEvent(QEvent* event, QAbstractItemModel* model,
                                 const QStyleOptionViewItem& option, const QModelIndex& index) {
    const bool shown = !index.data(Qt::DisplayRole).toString().isEmpty();
    switch (event->type()) {
        case QEvent::MouseButtonPress: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            const int button = ButtonAt(option, index, mouse->position().toPoint());
            if (mouse->button() == Qt::LeftButton && button != 0) {
                m_down = index;
                m_downButton = button;
            }
            return false;  // the view still makes the row current
        }
        case QEvent::MouseButtonRelease: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            const int button = ButtonAt(option, index, mouse->position().toPoint());
            const bool pressed = m_down == index && button != 0 && button == m_downButton;
            m_down = QPersistentModelIndex();
            m_downButton = 0;
            if (pressed) emit Pressed(index, button == 2);
            return pressed;
        }
        case QEvent::KeyPress: {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (!shown || (key != Qt::Key_Space && key != Qt::Key_Select)) break;
            emit Pressed(index, false);
            return true;
        }
        default:
            break;
    }
    return QStyledItemDelegate::editorEvent(event, model, option, index);
}

}  // namespace kestro::station
