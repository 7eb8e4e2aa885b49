// The progress line of an export: byte totals that a help file can push past
// 2^64 with a few claimed sizes.
#include <gtest/gtest.h>

#include <cstdint>

#include "catalogue/byte_total.h"
#include "cli/progress.h"

namespace vexmor::cli {
namespace {

TEST(Progress, TotalsPastTheLargestNumberSayMoreThanIt) {
    ByteTotal total;
    for (int i = 0; i < 3; ++i) total += UINT64_MAX;
    ByteTotal done;
    done += UINT64_MAX;
    EXPECT_EQ(ProgressLine(1, 3, done, total),
              "1/3 items, 18446744073709551615/more than 18446744073709551615 bytes");
    done += 1;
    EXPECT_EQ(ProgressLine(2, 3, done, total),
              "2/3 items, more than 18446744073709551615/more than 18446744073709551615 bytes");
}

TEST(Progress, ExactlyTheLargestNumberIsNoMoreThanIt) {
    ByteTotal total;
    total += UINT64_MAX - 5;
    total += 5;
    total += 0;
    EXPECT_FALSE(total.saturated);
    EXPECT_EQ(ByteTotalText(total), "18446744073709551615");
    EXPECT_EQ(ProgressLine(0, 2, ByteTotal{}, total), "0/2 items, 0/18446744073709551615 bytes");
}

}  // namespace
}  // namespace vexmor::cli
