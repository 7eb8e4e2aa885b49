#include "catalogue/refused_name.h"

#include <cerrno>
#include <cstring>

namespace vexmor {

namespace {

constexpr char kEscape = '%';

bool RefusedAnywhere(unsigned char byte) {
    return (byte >= 0x01 && byte <= 0x1F) || std::strchr("\"*:<>?\\|", byte) != nullptr;
}

// ENOENT too: every call names an entry of an open folder, and exfat-fuse
// answers so for a name with ':' (a folder removed meanwhile fails the
// substitute the same way, and that failure is reported).
bool MayMeanRefusedName(int errnum) {
    return errnum == EINVAL || errnum == EPERM || errnum == EILSEQ || errnum == ENOENT;
}

int HexValue(char digit) {
    if (digit >= '0' && digit <= '9') return digit - '0';
    if (digit >= 'A' && digit <= 'F') return digit - 'A' + 10;
    if (digit >= 'a' && digit <= 'f') return digit - 'a' + 10;
    return -1;
}

}  // namespace

std::string SubstituteName(const std::string& name) {
    // Where the trailing dots and spaces begin.
    std::size_t tail = name.size();
    while (tail > 0 && (name[tail - 1] == '.' || name[tail - 1] == ' ')) --tail;
    bool refused = tail < name.size();
    for (std::size_t i = 0; i < tail && !refused; ++i) refused = RefusedAnywhere(static_cast<unsigned char>(name[i]));
    if (!refused) return name;

    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string substitute;
    substitute.reserve(name.size() + 8);
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto byte = static_cast<unsigned char>(name[i]);
        if (i >= tail || byte == kEscape || RefusedAnywhere(byte)) {
            substitute += kEscape;
            substitute += kDigits[byte >> 4];
            substitute += kDigits[byte & 0x0F];
        } else {
            substitute += name[i];
        }
    }
    return substitute;
}

std::string ProbeNameFor(const std::string& stem, const std::string& name) {
    std::size_t tail = name.size();
    while (tail > 0 && (name[tail - 1] == '.' || name[tail - 1] == ' ')) --tail;
    std::string probe = stem;
    for (std::size_t i = 0; i < tail; ++i) {
        const auto byte = static_cast<unsigned char>(name[i]);
        if (RefusedAnywhere(byte) && probe.find(name[i], stem.size()) == std::string::npos) probe += name[i];
    }
    // A character before the tail, so that only its dots and spaces end the name.
    if (tail < name.size()) probe += 'x';
    return probe + name.substr(tail);
}

std::string OriginalName(const std::string& substitute) {
    std::string name;
    name.reserve(substitute.size());
    for (std::size_t i = 0; i < substitute.size(); ++i) {
        if (substitute[i] == kEscape && i + 2 < substitute.size()) {
            const int high = HexValue(substitute[i + 1]);
            const int low = HexValue(substitute[i + 2]);
            if (high >= 0 && low >= 0) {
                name += static_cast<char>(high * 16 + low);
                i += 2;
                continue;
            }
        }
        name += substitute[i];
    }
    return name;
}

NameOutcome TryNameThenSubstitute(const std::string& name, const std::function<int(const std::string&)>& attempt,
                                  const std::function<bool(const std::string&)>& stands) {
    const int errnum = attempt(name);
    if (errnum == 0 || !MayMeanRefusedName(errnum)) return {errnum, name};
    std::string substitute = SubstituteName(name);
    if (substitute == name || stands(name)) return {errnum, name};
    const int again = attempt(substitute);
    if (again == errnum) return {errnum, name};
    return {again, std::move(substitute)};
}

}  // namespace vexmor
