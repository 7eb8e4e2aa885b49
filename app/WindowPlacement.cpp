#include "app/WindowPlacement.h"

#include <QDir>
#include <QLockFile>

#include <algorithm>

namespace vexmor {

namespace {

// More windows than this share the numbers again.
constexpr int kMostSlots = 64;

// `offset` (from the area's start) moved on by `steps` cascade steps, coming
// back to the start past `room`, the free length left beside the frame.
int Cascade(int offset, int room, int steps) {
    if (room <= 0)
        return 0;
    return static_cast<int>((static_cast<long long>(offset) + static_cast<long long>(steps) * kCascadeStep) %
                            (static_cast<long long>(room) + 1));
}

}  // namespace

QPoint PlaceWindow(QPoint wanted, QSize frame, const QRect& available, int slot) {
    const int roomX = std::max(0, available.width() - frame.width());
    const int roomY = std::max(0, available.height() - frame.height());
    const int x = std::clamp(wanted.x() - available.x(), 0, roomX);
    const int y = std::clamp(wanted.y() - available.y(), 0, roomY);
    const int steps = std::max(0, slot);
    return {available.x() + Cascade(x, roomX, steps), available.y() + Cascade(y, roomY, steps)};
}

TWindowSlot::TWindowSlot(const QString& folder) {
    if (folder.isEmpty())
        return;
    const QDir dir(folder);
    for (int number = 0; number < kMostSlots; ++number) {
        auto lock = std::make_unique<QLockFile>(dir.filePath(QStringLiteral("vexmorchm-window-%1.lock").arg(number)));
        // Only the lock of a process that is gone is stale, however old.
        lock->setStaleLockTime(0);
        if (lock->tryLock(0)) {
            number_ = number;
            lock_ = std::move(lock);
            return;
        }
        if (lock->error() != QLockFile::LockFailedError)
            return;  // no lock files here at all: the usual place
    }
}

TWindowSlot::~TWindowSlot() = default;

}  // namespace vexmor
