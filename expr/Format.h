#pragma once

#include <QString>

#include <cstdint>
#include <string>

namespace qor {

// The one number formatter for display: `decimals` fixed places, then trailing
// zeros and a trailing point removed; values below half a unit of the last place
// and "-0" show as "0". Always writes '.', whatever the process locale.
std::string formatNumber(int decimals, double value);

// A count for German texts, its thousands set off by dots: "4.004".
QString germanCount(std::uint64_t count);

// A measure for German texts: `decimals` fixed places after a decimal comma and
// thousands set off by dots, "-1.000,0"; a value that rounds to zero shows no sign.
QString germanNumber(double value, int decimals);

} // namespace qor
