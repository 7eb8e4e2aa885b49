#include "tests/support/byte_writer.h"

#include <stdexcept>

namespace vexmor::testsupport {

void AppendU16(Bytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void AppendU32(Bytes& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void AppendU64(Bytes& out, std::uint64_t value) {
    for (int shift = 0; shift < 64; shift += 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void AppendBytes(Bytes& out, std::span<const std::uint8_t> bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}

void AppendText(Bytes& out, std::string_view text) {
    for (char c : text) out.push_back(static_cast<std::uint8_t>(c));
}

std::size_t EncIntSize(std::uint64_t value) {
    std::size_t size = 1;
    while (value >>= 7) ++size;
    return size;
}

void AppendEncInt(Bytes& out, std::uint64_t value) {
    const std::size_t size = EncIntSize(value);
    for (std::size_t i = size; i-- > 0;) {
        auto byte = static_cast<std::uint8_t>((value >> (7 * i)) & 0x7F);
        if (i != 0) byte |= 0x80;
        out.push_back(byte);
    }
}

void PutU32At(Bytes& out, std::size_t at, std::uint32_t value) {
    if (at > out.size() || out.size() - at < 4) throw std::out_of_range("PutU32At outside the buffer");
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void PutU64At(Bytes& out, std::size_t at, std::uint64_t value) {
    if (at > out.size() || out.size() - at < 8) throw std::out_of_range("PutU64At outside the buffer");
    for (int i = 0; i < 8; ++i) out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

Bytes ToBytes(std::string_view text) {
    Bytes out;
    AppendText(out, text);
    return out;
}

}  // namespace vexmor::testsupport
