#include "tests/catalogue/unprivileged.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace vexmor::test {

namespace {

constexpr uid_t kNobody = 65534;
constexpr char kCouldNotDrop = '\x01';

void WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace

std::optional<std::string> RunUnprivileged(const std::function<std::string()>& body) {
    if (::geteuid() != 0) return body();
    return RunInChild(body, true);
}

std::optional<std::string> RunInChild(const std::function<std::string()>& body, bool dropRights) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return std::nullopt;
    const pid_t child = ::fork();
    if (child < 0) return std::nullopt;
    if (child == 0) {
        ::close(pipeFds[0]);
        std::string result;
        if (dropRights && ::geteuid() == 0 &&
            (::setresgid(kNobody, kNobody, kNobody) != 0 || ::setresuid(kNobody, kNobody, kNobody) != 0)) {
            result = std::string(1, kCouldNotDrop);
        } else {
            try {
                result = body();
            } catch (...) {
                result = "unexpected exception in the unprivileged body";
            }
        }
        WriteAll(pipeFds[1], result);
        ::_exit(0);  // no exit handlers, no test framework teardown in the child
    }
    ::close(pipeFds[1]);
    std::string result;
    char buffer[256];
    for (;;) {
        const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        result.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipeFds[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (result == std::string(1, kCouldNotDrop)) return std::nullopt;
    return result;
}

}  // namespace vexmor::test
