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
    QStyleOptionButton button;
    button.fontMetrics = option.fontMetrics;
    QSize widest;
    for (RowAction action : {RowAction::Upgrade, RowAction::Finish}) {
        const QSize text =
            option.fontMetrics.size(Qt::TextShowMnemonic, StationModel::ButtonText(action));
        widest = widest.expandedTo(
            StyleOf(option)->sizeFromContents(QStyle::CT_PushButton, &button, text, option.widget));
    }
    return widest;
}

QRect ActionDelegate::ButtonRect(const QStyleOptionViewItem& option) const {
    const QRect cell = option.rect.adjusted(kMargin, kMargin, -kMargin, -kMargin);
    return {cell.topLeft(),
            QSize(std::min(ButtonSize(option).width(), cell.width()), cell.height())};
}

QSize ActionDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    return ButtonSize(option)
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
    const QString text = index.data(Qt::DisplayRole).toString();
    if (text.isEmpty()) return;
    QStyleOptionButton button;
    button.initFrom(option.widget);
    button.rect = ButtonRect(option);
    button.text = text;
    button.state = QStyle::State_Enabled | QStyle::State_Raised;
    if (option.state & QStyle::State_HasFocus) button.state |= QStyle::State_HasFocus;
    StyleOf(option)->drawControl(QStyle::CE_PushButton, &button, painter, option.widget);
}

bool ActionDelegate::editorEvent(QEvent* event, QAbstractItemModel* model,
                                 const QStyleOptionViewItem& option, const QModelIndex& index) {
    const bool shown = !index.data(Qt::DisplayRole).toString().isEmpty();
    switch (event->type()) {
        case QEvent::MouseButtonPress: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (shown && mouse->button() == Qt::LeftButton &&
                ButtonRect(option).contains(mouse->position().toPoint())) {
                m_down = index;
            }
            return false;  // the view still makes the row current
        }
        case QEvent::MouseButtonRelease: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            const bool pressed = m_down == index && shown &&
                                 ButtonRect(option).contains(mouse->position().toPoint());
            m_down = QPersistentModelIndex();
            if (pressed) emit Pressed(index);
            return pressed;
        }
        case QEvent::KeyPress: {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (!shown || (key != Qt::Key_Space && key != Qt::Key_Select)) break;
            emit Pressed(index);
            return true;
        }
        default:
            break;
    }
    return QStyledItemDelegate::editorEvent(event, model, option, index);
}

}  // namespace kestro::station
