#include "ui/station/ProgressDelegate.h"

#include <QApplication>
#include <QPainter>

#include "ui/station/StationModel.h"

namespace kestro::station {

ProgressDelegate::ProgressDelegate(QObject* parent)
    : QStyledItemDelegate(parent), m_colours(TwoColourBarColours::FromPalette()) {}

void ProgressDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const int percent = index.data(StationModel::PercentRole).toInt();
    if (percent < 0) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QString label = index.data(StationModel::LabelRole).toString();
    if (label.isEmpty()) label = QStringLiteral("%1%").arg(percent);
    const QRect bar = option.rect.adjusted(3, 3, -3, -3);
    if (option.state & QStyle::State_Selected) {
        // The row's selection around the bar, and a ring in the bar's own background colour
        // between them: the fill, in the selection's colour too, still shows where the bar ends.
        QStyleOptionViewItem selected = option;
        initStyleOption(&selected, index);
        selected.text.clear();
        const QWidget* widget = option.widget;
        QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
        style->drawPrimitive(QStyle::PE_PanelItemViewItem, &selected, painter, widget);
        painter->save();
        painter->setPen(QPen(m_colours.back, 2));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(bar.adjusted(-1, -1, 0, 0));
        painter->restore();
    }
    PaintTwoColourBar(*painter, bar, m_colours, percent / 100.0, label);
}

}  // namespace kestro::station
