// Shows the wait cursor over the whole application for the life of the
// guard, so that every way out of a command restores the normal cursor.
#pragma once

#include <QApplication>
#include <QCursor>

class TWaitCursor {
public:
    TWaitCursor() { QApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }
    ~TWaitCursor() { QApplication::restoreOverrideCursor(); }
    TWaitCursor(const TWaitCursor&) = delete;
    TWaitCursor& operator=(const TWaitCursor&) = delete;
};
