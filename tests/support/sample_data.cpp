#include "tests/support/sample_data.h"

#include <iterator>
#include <random>
#include <string_view>

namespace vexmor::testsupport {

Bytes SampleText(std::size_t size, unsigned seed, Noise noise) {
    static constexpr std::string_view kWords[] = {"<p>",     "help ",     "topic ", "index ",  "</p>\r\n", "VexmorChm ",
                                                  "stream ", "storage ",  "the ",   "window ", "frame ",   "block "};
    std::mt19937 random(seed);
    Bytes out;
    out.reserve(size);
    while (out.size() < size) {
        AppendText(out, kWords[random() % std::size(kWords)]);
        if (noise.oneIn != 0 && random() % noise.oneIn == 0) {
            for (std::size_t i = 0; i < noise.length; ++i) out.push_back(static_cast<std::uint8_t>(random()));
        }
    }
    out.resize(size);
    return out;
}

std::string SampleString(std::size_t size, unsigned seed, Noise noise) {
    const Bytes bytes = SampleText(size, seed, noise);
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace vexmor::testsupport
