#include "cli/output.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "catalogue/in_out_error.h"

namespace vexmor::cli {

void Message(const std::string& text) { std::fprintf(stderr, "%s: %s\n", kProgramName, text.c_str()); }

void WriteStdout(const void* data, std::size_t count) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (count > 0) {
        const ssize_t written = ::write(STDOUT_FILENO, bytes, count);
        if (written < 0) {
            if (errno == EINTR) continue;
            throw InOutErrorFromErrno(errno);
        }
        if (written == 0) throw EInOutError(io_code::kDiskFull, InOutMessage(io_code::kDiskFull));
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
}

}  // namespace vexmor::cli
