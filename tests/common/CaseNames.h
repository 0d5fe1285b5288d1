#pragma once

// The name a parameterized test case shows: its description with every
// character a test name may not hold turned into '_'.

#include <cctype>
#include <string>

namespace qor::test {

inline std::string caseName(const std::string& description)
{
    std::string name;
    for (const char c : description)
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

} // namespace qor::test
