#include "ui/station/ProgressDelegate.h"

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
    PaintTwoColourBar(*painter, option.rect.adjusted(2, 2, -2, -2), m_colours, percent / 100.0, label);
}

}  // namespace kestro::station
