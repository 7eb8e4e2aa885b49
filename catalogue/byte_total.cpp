#include "catalogue/byte_total.h"

namespace vexmor {

std::string ByteTotalText(const ByteTotal& total) {
    return (total.saturated ? "more than " : "") + std::to_string(total.value);
}

}  // namespace vexmor
