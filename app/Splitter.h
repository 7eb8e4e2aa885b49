// A vertical splitter between an upper pane that keeps a minimum height and
// a lower pane that snaps shut when dragged small. While dragging, a line
// follows the mouse; the new sizes apply when the button is released, and
// Esc cancels the drag.
#pragma once

#include <QSplitter>
#include <QSplitterHandle>

namespace vexmor {

// The upper pane keeps at least this height.
inline constexpr int kUpperPaneMinHeight = 30;
// A lower pane dragged to this height or less collapses to nothing.
inline constexpr int kLowerPaneCollapseHeight = 30;

// Height of the lower pane after a drag that asked for `requested`, when the
// two panes share `available` pixels.
int SnapLowerPaneHeight(int requested, int available);

class TSplitter : public QSplitter {
public:
    explicit TSplitter(QWidget* parent = nullptr);

    // Height of the lower pane; 0 when collapsed.
    int LowerPaneHeight() const;
    // Sets the lower pane's height, snapped as a drag would be.
    void SetLowerPaneHeight(int requested);
    int AvailableHeight() const;
    void ShowDragLine(int upperHeight);
    void HideDragLine();

protected:
    QSplitterHandle* createHandle() override;
};

class TSplitterHandle : public QSplitterHandle {
public:
    TSplitterHandle(Qt::Orientation orientation, TSplitter* parent);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    TSplitter* Owner() const;
    int RequestedHeight(const QMouseEvent* event) const;
    void EndDrag();

    bool dragging_ = false;
    double pressY_ = 0;  // global position of the press
    int startLowerHeight_ = 0;
};

}  // namespace vexmor
