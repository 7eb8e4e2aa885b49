// Bounded little-endian reading from bytes that came out of a file. Every
// read checks its own bound and reports an overrun as damage, naming the
// structure being read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/storage/storage_error.h"

namespace vexmor::storage {

class ByteView {
public:
    ByteView(const std::uint8_t* data, std::size_t size, const char* what) : data_(data), size_(size), what_(what) {}

    std::size_t Position() const noexcept { return pos_; }
    std::size_t Remaining() const noexcept { return size_ - pos_; }

    void Seek(std::size_t pos) {
        if (pos > size_) Overrun();
        pos_ = pos;
    }

    const std::uint8_t* Take(std::size_t n) {
        if (n > Remaining()) Overrun();
        const std::uint8_t* p = data_ + pos_;
        pos_ += n;
        return p;
    }

    std::uint32_t U32() {
        const std::uint8_t* p = Take(4);
        return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
               static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
    }

    std::int32_t I32() { return static_cast<std::int32_t>(U32()); }

    std::uint64_t U64() {
        const std::uint64_t low = U32();
        return low | static_cast<std::uint64_t>(U32()) << 32;
    }

    // Big-endian base-128 number, seven bits a byte, high bit set on all
    // bytes but the last.
    std::uint64_t EncInt() {
        std::uint64_t value = 0;
        for (;;) {
            const std::uint8_t b = *Take(1);
            if (value > (UINT64_MAX >> 7)) Fail("a number in it is too large");
            value = (value << 7) | (b & 0x7Fu);
            if ((b & 0x80u) == 0) return value;
        }
    }

    bool Matches(std::string_view signature) {
        if (signature.size() > Remaining()) return false;
        return std::memcmp(data_ + pos_, signature.data(), signature.size()) == 0;
    }

    [[noreturn]] void Fail(const std::string& why) const { ThrowDamaged(std::string(what_) + ": " + why); }

private:
    [[noreturn]] void Overrun() const { Fail("it ends too early"); }

    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
    const char* what_;
};

}  // namespace vexmor::storage
