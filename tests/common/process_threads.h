// How many threads this process runs, to tell that workers were joined.
#pragma once

#include <cstddef>

namespace vexmor::test {

// The threads of this process now. A thread is started and joined first,
// once, so that a sanitizer's helper thread, which comes with the first
// thread started, is in every count.
std::size_t ProcessThreads();

}  // namespace vexmor::test
