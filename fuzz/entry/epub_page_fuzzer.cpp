// libFuzzer entry point of the e-book page target (fuzz/harness/fuzz_targets.h).
#include "fuzz/harness/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vexmor::fuzz::RunEpubPage(data, size);
    return 0;
}
