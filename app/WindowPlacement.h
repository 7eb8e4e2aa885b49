// Where a main window goes on the screen: its usual place when it fits,
// inside the screen's free area when it does not (high scaling, small
// screens), and a step further on for each other window of the program, so
// that two windows never lie exactly on top of each other.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <memory>

class QLockFile;

namespace vexmor {

// Offset from one window of the program to the next.
constexpr int kCascadeStep = 24;

// Top-left corner of a window frame of `frame` size that would like to be
// at `wanted`, on a screen whose free area is `available`, `slot` windows
// after the first. The frame stays inside `available` where it can; a frame
// larger than the area keeps its top-left corner (title bar) inside.
QPoint PlaceWindow(QPoint wanted, QSize frame, const QRect& available, int slot);

// The place of this window among the program's open windows, in every
// process of the user: the lowest number that no other window holds, held
// until the object goes. Lock files in `folder` (the user's runtime folder)
// carry the numbers; those of a process that ended are taken over.
class TWindowSlot {
public:
    explicit TWindowSlot(const QString& folder);
    ~TWindowSlot();
    TWindowSlot(const TWindowSlot&) = delete;
    TWindowSlot& operator=(const TWindowSlot&) = delete;

    int Number() const { return number_; }

private:
    int number_ = 0;
    std::unique_ptr<QLockFile> lock_;
};

}  // namespace vexmor
