// Reproducible content for the streams of hand-built files and for the data
// the tests copy: words of help pages, so that the LZX writer meets repeats
// near and far, and where asked stretches of noise, so that literals of every
// value occur too. The same arguments always give the same bytes.
#pragma once

#include <cstddef>
#include <string>

#include "tests/support/byte_writer.h"

namespace vexmor::testsupport {

struct Noise {
    unsigned oneIn = 0;      // after about one word in `oneIn`; 0: never
    std::size_t length = 0;  // random bytes in each stretch
};

Bytes SampleText(std::size_t size, unsigned seed, Noise noise = {});
// The same bytes as a string.
std::string SampleString(std::size_t size, unsigned seed, Noise noise = {});

}  // namespace vexmor::testsupport
