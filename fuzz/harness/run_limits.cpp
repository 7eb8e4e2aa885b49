#include "fuzz/harness/run_limits.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace vexmor::fuzz {

namespace {

std::int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// One watcher thread for the process, started by the first watched run,
// looking a few times a second. A run only stores its deadline: no lock and
// no wake-up, as a hand-over to a thread that a busy machine schedules late
// would cost the run more than its work.
struct Watcher {
    std::atomic<std::int64_t> deadline{0};  // steady clock nanoseconds; 0 while no run is watched
    std::atomic<unsigned> seconds{0};
    std::atomic<const char*> what{""};

    Watcher() { std::thread([this] { Watch(); }).detach(); }

    [[noreturn]] void Watch() {
        for (;;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
            const std::int64_t due = deadline.load();
            if (due != 0 && NowNs() > due)
                Broken(std::string(what.load()) + ": a run took more than " + std::to_string(seconds.load()) +
                       " s, it blocked (on a FIFO?)");
        }
    }
};

// Never destroyed: the detached thread reads it until the process ends.
Watcher& TheWatcher() {
    static Watcher* const watcher = new Watcher;
    return *watcher;
}

}  // namespace

void Broken(const std::string& what) {
    std::fprintf(stderr, "guarantee broken: %s\n", what.c_str());
    std::abort();
}

RunWatch::RunWatch(const char* what, unsigned seconds) {
    Watcher& watcher = TheWatcher();
    watcher.what = what;
    watcher.seconds = seconds;
    watcher.deadline = NowNs() + std::int64_t{seconds} * 1000000000;
}

RunWatch::~RunWatch() { TheWatcher().deadline = 0; }

}  // namespace vexmor::fuzz
