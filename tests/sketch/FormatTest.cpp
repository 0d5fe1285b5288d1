#include "expr/Format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using qor::formatNumber;

TEST(FormatNumber, RoundsTheExactBinaryValueAndTrims)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        int decimals;
        double value;
        const char* text;
    };
    const Case cases[] = {
        {2, 12.5, "12.5"},
        {2, 12.0, "12"},
        {2, 100.0, "100"},
        {4, 3.14159265, "3.1416"},
        {2, -1.5, "-1.5"},
        {4, 0.00004, "0"},
        {4, 0.00005, "0.0001"},
        {2, -0.004, "0"},
        {1, -0.05, "-0.1"},
        {0, -0.5, "0"},
        {2, -0.0, "0"},
        {0, 2.5, "2"},
        {1, 2.25, "2.2"},
        {2, 1.005, "1"},
        {2, 7.999, "8"},
        {2, nan, "nan"},
        {2, std::copysign(nan, -1.0), "-nan"},
        {2, inf, "inf"},
        {2, -inf, "-inf"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(formatNumber(c.decimals, c.value), c.text) << c.value;

    // Huge values keep all their digits.
    const std::string text = formatNumber(2, 1e70);
    EXPECT_EQ(text.size(), 71u);
    EXPECT_EQ(text.front(), '1');
    EXPECT_EQ(formatNumber(0, -1e300).size(), 302u);
}
