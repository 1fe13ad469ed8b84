#pragma once
// Paints the row's own buttons in the action column (Upgrade, Finish on a radio that needs
// recovery, Stop while it runs, and Finish beside Upgrade where no radio answered) and tells when
// one is pressed: by a click on it, or (the first) by Space while its cell is current. What a
// button does is the station's; the delegate only says which row's button it was.

#include <QFont>
#include <QPersistentModelIndex>
#include <QStyledItemDelegate>
#include <utility>

namespace kestro::station {

class ActionDelegate final : public QStyledItemDelegate {
    Q_OBJECT

  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    // As wide as two of the widest button, whichever a row shows now, so the column keeps its
    // width as rows change.
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // Where the first (or the second) button is drawn in the cell at option.rect.
    QRect ButtonRect(const QStyleOptionViewItem& option, const QModelIndex& index, bool second = false) const;

  signals:
    // `second`: the button beside the first.
    void Pressed(const QModelIndex& index, bool second);

  protected:
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;

  private:
    QSize ButtonSize(const QStyleOptionViewItem& option) const;
    // The shown button at `point`: 0 none, 1 the first, 2 the second.
    int ButtonAt(const QStyleOptionViewItem& option, const QModelIndex& index, QPoint point) const;

    // The button the mouse went down on: a click is a press and a release on the same button.
    QPersistentModelIndex m_down;
    int m_downButton = 0;
    // The widest button's size, for the style and font it was measured with.
    mutable std::pair<const QStyle*, QFont> m_sizeFor{nullptr, QFont()};
    mutable QSize m_size;
};

}  // namespace kestro::station
