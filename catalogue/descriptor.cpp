#include "catalogue/descriptor.h"

#include <unistd.h>

namespace vexmor {

void Descriptor::Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

}  // namespace vexmor
