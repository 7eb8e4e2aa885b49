// The file layer's message for each errno value it meets.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "catalogue/in_out_error.h"

namespace vexmor {
namespace {

struct ErrnoCase {
    int errnum;
    int code;
    const char* message;
};

class InOutErrorTest : public ::testing::TestWithParam<ErrnoCase> {};

TEST_P(InOutErrorTest, MapsErrnoOntoTheMessageTable) {
    const EInOutError error = InOutErrorFromErrno(GetParam().errnum);
    EXPECT_EQ(error.ErrorCode, GetParam().code);
    EXPECT_STREQ(error.what(), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Errnos, InOutErrorTest,
    ::testing::Values(ErrnoCase{ENOENT, 2, "File not found"}, ErrnoCase{ENOTDIR, 3, "Invalid filename"},
                      ErrnoCase{ENAMETOOLONG, 3, "Invalid filename"}, ErrnoCase{EINVAL, 3, "Invalid filename"},
                      ErrnoCase{ELOOP, 3, "Invalid filename"}, ErrnoCase{EMFILE, 4, "Too many open files"},
                      ErrnoCase{ENFILE, 4, "Too many open files"}, ErrnoCase{EACCES, 5, "File access denied"},
                      ErrnoCase{EPERM, 5, "File access denied"}, ErrnoCase{EROFS, 5, "File access denied"},
                      ErrnoCase{EISDIR, 5, "File access denied"}, ErrnoCase{ENOSPC, 101, "Disk full"},
                      ErrnoCase{EDQUOT, 101, "Disk full"},
                      // Unmapped values keep their own number, even where it equals a table code.
                      ErrnoCase{EIO, EIO, "I/O error 5"}, ErrnoCase{EINTR, EINTR, "I/O error 4"},
                      ErrnoCase{ETXTBSY, ETXTBSY, "I/O error 26"}),
    [](const ::testing::TestParamInfo<ErrnoCase>& param) { return std::string(::strerrorname_np(param.param.errnum)); });

TEST(InOutMessage, CoversTheWholeTable) {
    EXPECT_EQ(InOutMessage(100), "Read beyond end of file");
    EXPECT_EQ(InOutMessage(106), "Invalid numeric input");
    EXPECT_EQ(InOutMessage(32), "I/O error 32");
}

}  // namespace
}  // namespace vexmor
