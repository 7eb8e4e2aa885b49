// What each fuzz target does with one input. The libFuzzer entry points and
// the replay of the regression corpus under ctest call the same functions,
// so a committed reproducer exercises exactly the code that failed.
//
// A run returns normally when the input was handled: read, or refused with
// one of the program's own exceptions. Any other exception escapes, and a
// broken guarantee (a file outside the target folder, a changed input)
// aborts with a message.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vexmor::fuzz {

// Opens the bytes as a help file, walks every storage, reads every stream.
void RunReader(const std::uint8_t* data, std::size_t size);

// Decodes the bytes as one LZX span. The first byte picks the window size,
// the next three the span length (up to 1 MiB).
void RunLzx(const std::uint8_t* data, std::size_t size);

// Opens the bytes as a help file through the catalogue and extracts every
// item into a fresh folder, then checks that nothing appeared outside it and
// that the input file is unchanged.
void RunExtract(const std::uint8_t* data, std::size_t size);

}  // namespace vexmor::fuzz
