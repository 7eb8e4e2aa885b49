#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/huffman_code.h"
#include "tests/support/lzx_probe.h"

namespace vexmor::testsupport {
namespace {

TEST(HuffmanCode, LengthsStayCompleteAndWithinTheLimit) {
    struct Case {
        const char* what;
        std::vector<std::uint64_t> counts;
        unsigned limit;
    };
    std::vector<std::uint64_t> fibonacci(40);
    fibonacci[0] = fibonacci[1] = 1;
    for (std::size_t i = 2; i < fibonacci.size(); ++i) fibonacci[i] = fibonacci[i - 1] + fibonacci[i - 2];
    std::vector<std::uint64_t> sparse(512, 0);
    sparse[3] = 1000;
    sparse[300] = 1;
    sparse[511] = 1;
    const Case cases[] = {
        {"skewed counts that want depth 39", fibonacci, 16},
        {"pretree limit", std::vector<std::uint64_t>(fibonacci.begin(), fibonacci.begin() + 20), 15},
        {"aligned tree limit", {1, 1, 2, 3, 5, 8, 13, 21}, 7},
        {"few of many symbols used", sparse, 16},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto lengths = BuildCodeLengths(c.counts, c.limit);
        EXPECT_LE(*std::max_element(lengths.begin(), lengths.end()), c.limit);
        EXPECT_EQ(KraftSum(lengths), 65536u);
        for (std::size_t s = 0; s < c.counts.size(); ++s) EXPECT_EQ(c.counts[s] != 0, lengths[s] != 0) << s;
    }
}

TEST(HuffmanCode, LoneSymbolGetsAPartnerAndUnusedTreeStaysEmpty) {
    const std::vector<std::uint64_t> lone = {0, 0, 7, 0};
    EXPECT_EQ(BuildCodeLengths(lone, 16), (std::vector<std::uint8_t>{1, 0, 1, 0}));
    const std::vector<std::uint64_t> none(249, 0);
    const auto lengths = BuildCodeLengths(none, 16);
    EXPECT_TRUE(std::all_of(lengths.begin(), lengths.end(), [](auto l) { return l == 0; }));
}

TEST(HuffmanCode, CanonicalCodesFollowLengthThenSymbol) {
    // Lengths 2,1,3,3: symbol 1 = 0, symbol 0 = 10, symbols 2 and 3 = 110, 111.
    const std::vector<std::uint8_t> lengths = {2, 1, 3, 3};
    EXPECT_EQ(CanonicalCodes(lengths), (std::vector<std::uint16_t>{0b10, 0b0, 0b110, 0b111}));
}

}  // namespace
}  // namespace vexmor::testsupport
