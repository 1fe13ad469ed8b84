#pragma once
// Paints the row's own button (Upgrade, or Finish on a radio that needs recovery) in the action
// column and tells when it is pressed: by a click on it, or by Space while its cell is current.
// What the button does is the station's; the delegate only says which row's button it was.

#include <QPersistentModelIndex>
#include <QStyledItemDelegate>

namespace kestro::station {

class ActionDelegate final : public QStyledItemDelegate {
    Q_OBJECT

  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    // As wide as the widest of the buttons, whichever a row shows now, so the column keeps its
    // width as rows change.
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

  signals:
    void Pressed(const QModelIndex& index);

  protected:
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;

  private:
    QSize ButtonSize(const QStyleOptionViewItem& option) const;
    // Where the button is drawn in the cell at option.rect.
    QRect ButtonRect(const QStyleOptionViewItem& option) const;

    // The button the mouse went down on: a click is a press and a release on the same button.
    QPersistentModelIndex m_down;
};

}  // namespace kestro::station
