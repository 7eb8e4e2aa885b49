// Readable test names for the cases of parameterised tests, instead of
// gtest's index or byte dump.
#pragma once

#include <cctype>
#include <cstdio>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

namespace vexmor::test {

// `text` with every character that a test name cannot hold made '_'.
inline std::string TestNameOf(std::string_view text) {
    std::string name(text);
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

// `text` spelled out byte for byte, for names whose dots, separators and NUL
// bytes are the point of the case: "a/.." is "aSlashDotDot"; empty is "Empty".
inline std::string SpelledName(std::string_view text) {
    if (text.empty()) return "Empty";
    std::string name;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte)) {
            name += c;
        } else if (c == '.') {
            name += "Dot";
        } else if (c == '/') {
            name += "Slash";
        } else if (c == '\0') {
            name += "Nul";
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "x%02X", byte);
            name += hex;
        }
    }
    return name;
}

// The case's `what`, as TestNameOf makes it.
template <class Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& param) {
    return TestNameOf(param.param.what);
}

}  // namespace vexmor::test
