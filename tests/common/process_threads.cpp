#include "tests/common/process_threads.h"

#include <filesystem>
#include <iterator>
#include <thread>

namespace vexmor::test {

std::size_t ProcessThreads() {
    static const bool warmedUp = [] {
        std::thread([] {}).join();
        return true;
    }();
    (void)warmedUp;
    namespace fs = std::filesystem;
    return static_cast<std::size_t>(std::distance(fs::directory_iterator("/proc/self/task"), fs::directory_iterator()));
}

}  // namespace vexmor::test
