#include "app/ItemListDelegates.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QToolTip>

namespace vexmor {

TCutTextTipDelegate::TCutTextTipDelegate(std::function<QString(int row)> fullText, QObject* parent)
    : QStyledItemDelegate(parent), fullText_(std::move(fullText)) {}

bool TCutTextTipDelegate::TextIsCut(const QStyleOptionViewItem& option, const QModelIndex& index,
                                    const QAbstractItemView& view) const {
    // The width the text needs against the cell's, both as the style lays
    // out the cell (margins and all). A list as wide as its longest row
    // scrolls rather than cuts: there only the part in view counts.
    const QRect shown = option.rect.intersected(view.viewport()->rect());
    return sizeHint(option, index).width() > shown.width();
}

bool TCutTextTipDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view,
                                      const QStyleOptionViewItem& option, const QModelIndex& index) {
    if (event == nullptr || view == nullptr || event->type() != QEvent::ToolTip)
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    if (!index.isValid() || !TextIsCut(option, index, *view)) {
        QToolTip::hideText();
        event->ignore();
        return false;
    }
    QToolTip::showText(event->globalPos(), fullText_(index.row()), view->viewport(), option.rect);
    return true;
}

}  // namespace vexmor
