// A readable test name for a case of a parameterised test: the case's
// `what`, with every character that a test name cannot hold made '_'.
#pragma once

#include <cctype>
#include <string>

#include <gtest/gtest.h>

namespace vexmor::test {

template <class Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& param) {
    std::string name = param.param.what;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

}  // namespace vexmor::test
