// Holds an export's worker at a point of the test's choosing: the worker
// calls Pass(), which waits until the test has opened the gate.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

class WorkerGate {
public:
    // Worker side. Gives up after a while, so that a failed test cannot hang.
    void Pass() {
        std::unique_lock<std::mutex> lock(mutex_);
        ++arrivals_;
        opened_.wait_for(lock, std::chrono::seconds(20), [this] { return open_; });
    }
    // Test side.
    int Arrivals() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return arrivals_;
    }
    void Open() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            open_ = true;
        }
        opened_.notify_all();
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable opened_;
    int arrivals_ = 0;
    bool open_ = false;
};
