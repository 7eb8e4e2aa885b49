#include "app/ItemListDelegates.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QToolTip>

namespace vexmor {

TInnerPathTipDelegate::TInnerPathTipDelegate(std::function<QString(int row)> fullText, QObject* parent)
    : QStyledItemDelegate(parent), fullText_(std::move(fullText)) {}

bool TInnerPathTipDelegate::TextIsCut(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    // The width the text needs against the cell's, both as the style lays
    // out the cell (margins and all).
    return sizeHint(option, index).width() > option.rect.width();
}

bool TInnerPathTipDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view,
                                      const QStyleOptionViewItem& option, const QModelIndex& index) {
    if (event == nullptr || view == nullptr || event->type() != QEvent::ToolTip)
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    if (!index.isValid() || !TextIsCut(option, index)) {
        QToolTip::hideText();
        event->ignore();
        return false;
    }
    QToolTip::showText(event->globalPos(), fullText_(index.row()), view->viewport(), option.rect);
    return true;
}

}  // namespace vexmor
