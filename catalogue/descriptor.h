// An owned file descriptor, closed when the owner goes.
#pragma once

#include <utility>

namespace vexmor {

class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { Reset(); }
    Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        if (this != &other) {
            Reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int Get() const { return fd_; }
    bool IsOpen() const { return fd_ >= 0; }
    // Gives up ownership: the caller closes the descriptor.
    int Release() { return std::exchange(fd_, -1); }
    // Closes the descriptor, ignoring the result: nothing was written
    // through it that a failing close could lose.
    void Reset();

private:
    int fd_ = -1;
};

}  // namespace vexmor
