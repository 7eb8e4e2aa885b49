#include "catalogue/part_file_guard.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

namespace vexmor {

namespace {

// A slot is free, being filled, noted (the handler may remove its file), or
// taken by the handler (never freed again: the process is ending).
enum SlotState : int { kFree, kFilling, kNoted, kRemoving };

struct Slot {
    std::atomic<int> state{kFree};
    int folder = -1;
    char name[96] = {};
};

static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free state");

constexpr std::size_t kSlots = 8;
std::array<Slot, kSlots> slots;

constexpr std::array<int, 3> kStoppingSignals = {SIGINT, SIGTERM, SIGHUP};

// Only async-signal-safe calls: atomics, unlinkat, sigaction, raise.
void RemoveAndDie(int signal) {
    const int savedErrno = errno;
    for (Slot& slot : slots) {
        int expected = kNoted;
        if (slot.state.compare_exchange_strong(expected, kRemoving)) ::unlinkat(slot.folder, slot.name, 0);
    }
    // SA_RESETHAND has restored the default action, and SA_NODEFER lets it
    // take effect at once.
    errno = savedErrno;
    ::raise(signal);
}

}  // namespace

PartFileGuard::PartFileGuard(int folder, const char* name) : slot_(-1) {
    if (std::strlen(name) >= sizeof(Slot::name)) return;
    for (std::size_t i = 0; i < kSlots; ++i) {
        int expected = kFree;
        if (!slots[i].state.compare_exchange_strong(expected, kFilling)) continue;
        slots[i].folder = folder;
        std::strcpy(slots[i].name, name);
        slots[i].state.store(kNoted);
        slot_ = static_cast<int>(i);
        return;
    }
}

PartFileGuard::~PartFileGuard() {
    if (slot_ < 0) return;
    // Left as it is when the handler has taken it.
    int expected = kNoted;
    slots[static_cast<std::size_t>(slot_)].state.compare_exchange_strong(expected, kFree);
}

void RemovePartFilesOnSignals() {
    for (const int signal : kStoppingSignals) {
        struct sigaction current {};
        if (::sigaction(signal, nullptr, &current) != 0) continue;
        if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL) continue;
        struct sigaction action {};
        action.sa_handler = RemoveAndDie;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND | SA_NODEFER;
        ::sigaction(signal, &action, nullptr);
    }
}

}  // namespace vexmor
