// Shows a cursor over the whole application for the life of the guard, so
// that every way out of a command restores the normal cursor.
#pragma once

#include <QApplication>
#include <QCursor>

namespace vexmor {

template <Qt::CursorShape Shape>
class TOverrideCursor {
public:
    TOverrideCursor() { QApplication::setOverrideCursor(QCursor(Shape)); }
    ~TOverrideCursor() { QApplication::restoreOverrideCursor(); }
    TOverrideCursor(const TOverrideCursor&) = delete;
    TOverrideCursor& operator=(const TOverrideCursor&) = delete;
};

// The program cannot take input meanwhile.
using TWaitCursor = TOverrideCursor<Qt::WaitCursor>;
// The program works on, and the window still answers (an export on its worker).
using TBusyCursor = TOverrideCursor<Qt::BusyCursor>;

}  // namespace vexmor
