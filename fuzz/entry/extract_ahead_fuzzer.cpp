// libFuzzer entry point of the extract_ahead target (fuzz/harness/fuzz_targets.h).
#include "fuzz/harness/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vexmor::fuzz::RunExtractReadingAhead(data, size);
    return 0;
}
