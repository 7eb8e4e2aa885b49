// The one exception of the storage layer: a 32-bit result code (the
// structured-storage family) and the message a user reads.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace vexmor::storage {

namespace code {
inline constexpr std::uint32_t kFileNotFound = 0x80030002;   // missing file or element
inline constexpr std::uint32_t kPathNotFound = 0x80030003;
inline constexpr std::uint32_t kTooManyOpenFiles = 0x80030004;
inline constexpr std::uint32_t kAccessDenied = 0x80030005;
inline constexpr std::uint32_t kInsufficientMemory = 0x80030008;  // more than the caller allows
inline constexpr std::uint32_t kReadFault = 0x8003001E;
inline constexpr std::uint32_t kInvalidHeader = 0x800300FB;  // not a help file
inline constexpr std::uint32_t kInvalidName = 0x800300FC;
inline constexpr std::uint32_t kChangedWhileRead = 0x80030101;  // written to since it was opened
inline constexpr std::uint32_t kDamaged = 0x80030109;
inline constexpr std::uint32_t kNotImplemented = 0x80004001;  // unsupported variant
}  // namespace code

// The layer's text for `code`, or "OLE error XXXXXXXX" for a code it has no
// text for. Never ends in a full stop or blank.
std::string MessageForCode(std::uint32_t code);

class EStorageError : public std::runtime_error {
public:
    // Message: the text for `code`, then ": detail" when a detail is given.
    explicit EStorageError(std::uint32_t code, const std::string& detail = {});
    std::uint32_t ErrorCode() const noexcept { return code_; }

private:
    std::uint32_t code_;
};

// Throws the damaged-file error with `detail`; the common case of every
// bound check on bytes read from a file.
[[noreturn]] void ThrowDamaged(const std::string& detail);

}  // namespace vexmor::storage
