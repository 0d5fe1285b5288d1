#include "expr/Format.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>

using qor::formatNumber;

TEST(FormatNumber, DropsTrailingZerosAndPoint)
{
    EXPECT_EQ(formatNumber(2, 12.5), "12.5");
    EXPECT_EQ(formatNumber(2, 12.0), "12");
    EXPECT_EQ(formatNumber(2, 100.0), "100");
    EXPECT_EQ(formatNumber(4, 3.14159265), "3.1416");
    EXPECT_EQ(formatNumber(2, -1.5), "-1.5");
}

TEST(FormatNumber, TinyAndNegativeZero)
{
    EXPECT_EQ(formatNumber(4, 0.00004), "0");
    EXPECT_EQ(formatNumber(4, 0.00005), "0.0001");
    EXPECT_EQ(formatNumber(2, -0.004), "0");
    EXPECT_EQ(formatNumber(1, -0.05), "-0.1");
    EXPECT_EQ(formatNumber(0, -0.5), "0");
    EXPECT_EQ(formatNumber(2, -0.0), "0");
}

TEST(FormatNumber, RoundsTheExactBinaryValue)
{
    EXPECT_EQ(formatNumber(0, 2.5), "2");
    EXPECT_EQ(formatNumber(1, 2.25), "2.2");
    EXPECT_EQ(formatNumber(2, 1.005), "1");
    EXPECT_EQ(formatNumber(2, 7.999), "8");
}

TEST(FormatNumber, NonFinite)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(formatNumber(2, nan), "nan");
    EXPECT_EQ(formatNumber(2, std::copysign(nan, -1.0)), "-nan");
    EXPECT_EQ(formatNumber(2, inf), "inf");
    EXPECT_EQ(formatNumber(2, -inf), "-inf");
}

TEST(FormatNumber, HugeValuesKeepAllDigits)
{
    const std::string text = formatNumber(2, 1e70);
    EXPECT_EQ(text.size(), 71u);
    EXPECT_EQ(text.front(), '1');
    EXPECT_EQ(text.find('.'), std::string::npos);
    EXPECT_EQ(formatNumber(0, -1e300).size(), 302u);
}

TEST(FormatNumber, IgnoresGermanLocale)
{
    const char* old = std::setlocale(LC_ALL, nullptr);
    const std::string saved = old ? old : "C";
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr);
    EXPECT_EQ(formatNumber(2, 12.5), "12.5");
    EXPECT_EQ(formatNumber(4, 1234.56789), "1234.5679");
    std::setlocale(LC_ALL, saved.c_str());
}
