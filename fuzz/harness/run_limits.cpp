#include "fuzz/harness/run_limits.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace vexmor::fuzz {

namespace {

using Clock = std::chrono::steady_clock;

// One watcher thread for the process, started by the first watched run:
// starting a thread for each run would cost more than most runs take.
struct Watcher {
    std::mutex mutex;
    std::condition_variable changed;
    bool watching = false;
    std::uint64_t run = 0;  // counts watched runs, so that an old deadline never fires on a new run
    Clock::time_point deadline;
    unsigned seconds = 0;
    const char* what = "";

    Watcher() { std::thread([this] { Watch(); }).detach(); }

    void Watch() {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [this] { return watching; });
            const std::uint64_t watched = run;
            if (changed.wait_until(lock, deadline, [&] { return !watching || run != watched; })) continue;
            Broken(std::string(what) + ": a run took more than " + std::to_string(seconds) +
                   " s, it blocked (on a FIFO?)");
        }
    }
};

// Never destroyed: the detached thread waits on it until the process ends.
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
    {
        const std::lock_guard lock(watcher.mutex);
        watcher.watching = true;
        ++watcher.run;
        watcher.deadline = Clock::now() + std::chrono::seconds(seconds);
        watcher.seconds = seconds;
        watcher.what = what;
    }
    watcher.changed.notify_one();
}

RunWatch::~RunWatch() {
    Watcher& watcher = TheWatcher();
    {
        const std::lock_guard lock(watcher.mutex);
        watcher.watching = false;
    }
    watcher.changed.notify_one();
}

}  // namespace vexmor::fuzz
