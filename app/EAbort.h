// The silent-abort exception: a handler throws it to end a command without
// a message. The application-wide handler drops it without a row.
#pragma once

#include <exception>

namespace vexmor {

class EAbort : public std::exception {
public:
    const char* what() const noexcept override { return "Operation aborted"; }
};

}  // namespace vexmor
