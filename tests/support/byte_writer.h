// Little-endian and ENCINT appenders for building help-file structures.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace vexmor::testsupport {

using Bytes = std::vector<std::uint8_t>;

void AppendU16(Bytes& out, std::uint16_t value);
void AppendU32(Bytes& out, std::uint32_t value);
void AppendU64(Bytes& out, std::uint64_t value);
void AppendBytes(Bytes& out, std::span<const std::uint8_t> bytes);
void AppendText(Bytes& out, std::string_view text);  // bytes as given, no terminator

// Big-endian base-128, high bit set on every byte but the last.
void AppendEncInt(Bytes& out, std::uint64_t value);
std::size_t EncIntSize(std::uint64_t value);

// Overwrite in place; `at` + width must lie inside `out`.
void PutU32At(Bytes& out, std::size_t at, std::uint32_t value);
void PutU64At(Bytes& out, std::size_t at, std::uint64_t value);

Bytes ToBytes(std::string_view text);

}  // namespace vexmor::testsupport
