#include "expr/Format.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
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

// Counts in German texts carry the thousands dot from four digits on, whatever the process
// locale says.
TEST(GermanCount, ThousandsSetOffByDots)
{
    const std::pair<std::uint64_t, const char*> cases[] = {
        {0, "0"},
        {7, "7"},
        {999, "999"},
        {1000, "1.000"},
        {1100, "1.100"},
        {46656, "46.656"},
        {320000, "320.000"},
        {1000001, "1.000.001"},
        {std::numeric_limits<std::uint64_t>::max(), "18.446.744.073.709.551.615"},
    };
    const QLocale before;
    QLocale::setDefault(QLocale::c());
    for (const auto& [count, text] : cases)
        EXPECT_EQ(qor::germanCount(count).toStdString(), text) << count;
    QLocale::setDefault(before);
}
