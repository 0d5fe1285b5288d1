#include "expr/Format.h"

#include <QLocale>

#include <charconv>
#include <cmath>

namespace qor {

std::string formatNumber(int decimals, double value)
{
    const double threshold = std::pow(10.0, -decimals) * 0.5;
    if (std::fabs(value) < threshold)
        value = 0.0;

    // A negative precision means the default of six places, as with "%.*f".
    const int precision = decimals < 0 ? 6 : decimals;
    // Room for every integer digit of the largest double: huge values are shown
    // whole instead of being cut to a wrong number.
    std::string text(std::size_t(precision) + 330, '\0');
    const auto res = std::to_chars(text.data(), text.data() + text.size(), value,
                                   std::chars_format::fixed, precision);
    text.resize(std::size_t(res.ptr - text.data()));

    if (text.find('.') != std::string::npos) {
        while (!text.empty() && text.back() == '0')
            text.pop_back();
        if (!text.empty() && text.back() == '.')
            text.pop_back();
    }
    if (text == "-0")
        text = "0";
    return text;
}

QString germanCount(std::uint64_t count)
{
    return QLocale(QLocale::German, QLocale::Germany).toString(qulonglong(count));
}

QString germanNumber(double value, int decimals)
{
    if (std::fabs(value) < 0.5 * std::pow(10.0, -decimals))
        value = 0.0;
    return QLocale(QLocale::German, QLocale::Germany).toString(value, 'f', decimals);
}

} // namespace qor
