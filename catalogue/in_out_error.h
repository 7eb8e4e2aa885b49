// Failures of the file layer (creating folders and writing exported files).
#pragma once

#include <stdexcept>
#include <string>

namespace vexmor {

// Codes of the file layer's message table.
namespace io_code {
inline constexpr int kFileNotFound = 2;
inline constexpr int kInvalidFilename = 3;
inline constexpr int kTooManyOpenFiles = 4;
inline constexpr int kAccessDenied = 5;
inline constexpr int kReadBeyondEnd = 100;
inline constexpr int kDiskFull = 101;
inline constexpr int kInvalidNumericInput = 106;
}  // namespace io_code

// A failure of the file layer: the code and the message the user reads.
class EInOutError : public std::runtime_error {
public:
    EInOutError(int code, const std::string& message) : std::runtime_error(message), ErrorCode(code) {}
    int ErrorCode;
};

// The table text for a file-layer code, or "I/O error %d" for any other.
std::string InOutMessage(int code);

// The error for a failed system call that set `errnum`. Known errno values
// are first mapped onto the table's codes; any other keeps its own number and
// is reported as "I/O error <errno>" (so EIO, which is 5, never reads as
// "File access denied").
EInOutError InOutErrorFromErrno(int errnum);

}  // namespace vexmor
