#include "app/Splitter.h"

#include <QKeyEvent>
#include <QMouseEvent>

#include <algorithm>
#include <cmath>

namespace vexmor {

int SnapLowerPaneHeight(int requested, int available) {
    int height = std::min(requested, available - kUpperPaneMinHeight);
    if (height <= kLowerPaneCollapseHeight)
        return 0;
    return height;
}

TSplitter::TSplitter(QWidget* parent) : QSplitter(Qt::Vertical, parent) {
    setOpaqueResize(false);
}

QSplitterHandle* TSplitter::createHandle() {
    return new TSplitterHandle(orientation(), this);
}

int TSplitter::AvailableHeight() const {
    const QList<int> all = sizes();
    int total = 0;
    for (int size : all)
        total += size;
    return total;
}

int TSplitter::LowerPaneHeight() const {
    const QList<int> all = sizes();
    return all.size() < 2 ? 0 : all.at(1);
}

void TSplitter::SetLowerPaneHeight(int requested) {
    const int available = AvailableHeight();
    const int lower = SnapLowerPaneHeight(requested, available);
    setSizes({available - lower, lower});
}

void TSplitter::ShowDragLine(int upperHeight) {
    setRubberBand(contentsRect().top() + upperHeight);
}

void TSplitter::HideDragLine() {
    setRubberBand(-1);
}

TSplitterHandle::TSplitterHandle(Qt::Orientation orientation, TSplitter* parent)
    : QSplitterHandle(orientation, parent) {
    setCursor(Qt::SizeVerCursor);
}

TSplitter* TSplitterHandle::Owner() const {
    return static_cast<TSplitter*>(splitter());
}

int TSplitterHandle::RequestedHeight(const QMouseEvent* event) const {
    // Dragging down shrinks the lower pane.
    const double moved = event->globalPosition().y() - pressY_;
    return startLowerHeight_ - static_cast<int>(std::lround(moved));
}

void TSplitterHandle::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    dragging_ = true;
    pressY_ = event->globalPosition().y();
    startLowerHeight_ = Owner()->LowerPaneHeight();
    grabKeyboard();
    Owner()->ShowDragLine(Owner()->AvailableHeight() - startLowerHeight_);
}

void TSplitterHandle::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_)
        return;
    const int available = Owner()->AvailableHeight();
    Owner()->ShowDragLine(available - SnapLowerPaneHeight(RequestedHeight(event), available));
}

void TSplitterHandle::mouseReleaseEvent(QMouseEvent* event) {
    if (!dragging_ || event->button() != Qt::LeftButton)
        return;
    const int requested = RequestedHeight(event);
    EndDrag();
    Owner()->SetLowerPaneHeight(requested);
}

void TSplitterHandle::keyPressEvent(QKeyEvent* event) {
    if (dragging_ && event->key() == Qt::Key_Escape) {
        EndDrag();
        return;
    }
    QSplitterHandle::keyPressEvent(event);
}

void TSplitterHandle::EndDrag() {
    dragging_ = false;
    releaseKeyboard();
    Owner()->HideDragLine();
}

}  // namespace vexmor
