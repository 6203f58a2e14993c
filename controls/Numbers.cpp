// SPDX-License-Identifier: GPL-3.0-or-later
// Number reading and rounding.
#include "controls/Numbers.h"

#include <cfenv>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>

namespace pulsewerk {
namespace {

template <typename Int> Int roundSaturated(double value)
{
    if (std::isnan(value))
        return 0;
    // nearbyint rounds in the current mode, which is to-nearest with ties to even.
    const double rounded = std::nearbyint(value);
    if (rounded >= static_cast<double>(std::numeric_limits<Int>::max()))
        return std::numeric_limits<Int>::max();
    if (rounded <= static_cast<double>(std::numeric_limits<Int>::min()))
        return std::numeric_limits<Int>::min();
    return static_cast<Int>(rounded);
}

} // namespace

double val(const QString &text)
{
    std::string number;
    bool seenPoint = false;
    for (const QChar c : text) {
        if (c == u' ' || c == u'\t' || c == u'\n')
            continue;
        if (c >= u'0' && c <= u'9') {
            number += static_cast<char>(c.unicode());
        } else if (c == u'.' && !seenPoint) {
            seenPoint = true;
            number += '.';
        } else {
            break;
        }
    }
    if (number.empty() || number == ".")
        return 0.0;
    // from_chars ignores the locale, which the application sets from the environment.
    double value = 0.0;
    const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
    if (result.ec == std::errc::result_out_of_range)
        return std::numeric_limits<double>::max();
    return value;
}

std::int32_t roundToInt32(double value)
{
    std::fesetround(FE_TONEAREST);
    return roundSaturated<std::int32_t>(value);
}

std::int16_t roundToInt16(double value)
{
    std::fesetround(FE_TONEAREST);
    return roundSaturated<std::int16_t>(value);
}

std::int16_t addSaturated16(std::int16_t value, int delta)
{
    const long sum = static_cast<long>(value) + delta;
    if (sum > std::numeric_limits<std::int16_t>::max())
        return std::numeric_limits<std::int16_t>::max();
    if (sum < std::numeric_limits<std::int16_t>::min())
        return std::numeric_limits<std::int16_t>::min();
    return static_cast<std::int16_t>(sum);
}

} // namespace pulsewerk
