#include "platform/storage/storage_error.h"

#include <cstdio>

namespace vexmor::storage {

namespace {

const char* TextForCode(std::uint32_t c) {
    switch (c) {
        case code::kFileNotFound: return "File or element not found";
        case code::kPathNotFound: return "Path not found";
        case code::kTooManyOpenFiles: return "Too many open files";
        case code::kAccessDenied: return "Access denied";
        case code::kInsufficientMemory: return "Not enough memory allowed";
        case code::kReadFault: return "Read fault: the file could not be read";
        case code::kInvalidHeader: return "Not a compiled HTML help file";
        case code::kInvalidName: return "Invalid name";
        case code::kChangedWhileRead: return "The help file changed while it was being read";
        case code::kDamaged: return "The help file is damaged";
        case code::kNotImplemented: return "Not supported";
        default: return nullptr;
    }
}

std::string Compose(std::uint32_t c, const std::string& detail) {
    std::string message = MessageForCode(c);
    if (!detail.empty()) message += ": " + detail;
    return message;
}

}  // namespace

std::string MessageForCode(std::uint32_t c) {
    if (const char* text = TextForCode(c)) return text;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "OLE error %.8X", static_cast<unsigned>(c));
    return buffer;
}

EStorageError::EStorageError(std::uint32_t c, const std::string& detail)
    : std::runtime_error(Compose(c, detail)), code_(c) {}

void ThrowDamaged(const std::string& detail) { throw EStorageError(code::kDamaged, detail); }

}  // namespace vexmor::storage
