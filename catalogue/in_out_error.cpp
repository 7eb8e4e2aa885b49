#include "catalogue/in_out_error.h"

#include <cerrno>

namespace vexmor {

namespace {

// The table code for `errnum`, or 0 when the table has none.
int TableCodeForErrno(int errnum) {
    switch (errnum) {
        case ENOENT: return io_code::kFileNotFound;
        case ENOTDIR:
        case ENAMETOOLONG:
        case EINVAL:
        case ELOOP: return io_code::kInvalidFilename;
        case EMFILE:
        case ENFILE: return io_code::kTooManyOpenFiles;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR: return io_code::kAccessDenied;
        case ENOSPC:
        case EDQUOT: return io_code::kDiskFull;
        default: return 0;
    }
}

std::string OtherCodeMessage(int code) { return "I/O error " + std::to_string(code); }

}  // namespace

std::string InOutMessage(int code) {
    switch (code) {
        case io_code::kFileNotFound: return "File not found";
        case io_code::kInvalidFilename: return "Invalid filename";
        case io_code::kTooManyOpenFiles: return "Too many open files";
        case io_code::kAccessDenied: return "File access denied";
        case io_code::kReadBeyondEnd: return "Read beyond end of file";
        case io_code::kDiskFull: return "Disk full";
        case io_code::kInvalidNumericInput: return "Invalid numeric input";
        default: return OtherCodeMessage(code);
    }
}

EInOutError InOutErrorFromErrno(int errnum) {
    if (const int code = TableCodeForErrno(errnum); code != 0) return EInOutError(code, InOutMessage(code));
    return EInOutError(errnum, OtherCodeMessage(errnum));
}

}  // namespace vexmor
