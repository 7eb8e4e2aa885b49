#include "catalogue/inner_name.h"

#include <string_view>

#include "catalogue/path_delim.h"

namespace vexmor {

namespace {

bool IsSafeLevel(std::string_view level) {
    return !level.empty() && level != "." && level != ".." && level.find('\0') == std::string_view::npos;
}

}  // namespace

std::string InnerPathAndName(const std::string& path, const std::string& name) {
    return path.empty() ? name : path + kPathDelim + name;
}

bool IsSafeInnerName(const std::string& path, const std::string& name) {
    if (!IsSafeLevel(name) || name.find(kPathDelim) != std::string::npos) return false;
    std::string_view rest = path;
    while (!rest.empty()) {
        const auto end = rest.find(kPathDelim);
        if (!IsSafeLevel(rest.substr(0, end))) return false;
        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + 1);
        if (rest.empty()) return false;  // a trailing separator: an empty last level
    }
    return true;
}

}  // namespace vexmor
