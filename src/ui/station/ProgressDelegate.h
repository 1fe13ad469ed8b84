#pragma once
// Paints the station's progress column as the kit's two-colour bar, with the run's label.

#include <QStyledItemDelegate>

#include "ui/TwoColourBar.h"

namespace kestro::station {

class ProgressDelegate final : public QStyledItemDelegate {
    Q_OBJECT

  public:
    explicit ProgressDelegate(QObject* parent = nullptr);
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

  private:
    TwoColourBarColours m_colours;
};

}  // namespace kestro::station
