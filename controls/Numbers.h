// SPDX-License-Identifier: GPL-3.0-or-later
// Numbers typed into text boxes: the leading number of a text, rounded half to even,
// saturated into the integer width of the field that takes it.
#pragma once

#include <QString>

#include <cstdint>

namespace pulsewerk {

// The leading number of `text`: blanks, tabs and line feeds are skipped, digits with
// at most one decimal point are taken, and reading stops at the first character
// that cannot continue the number. A text with no leading number reads as 0.
double val(const QString &text);

// `value` rounded to the nearest integer, halves to the even neighbour (2.5 -> 2,
// 3.5 -> 4), saturated at the ends of the 32-bit or 16-bit range.
std::int32_t roundToInt32(double value);
std::int16_t roundToInt16(double value);

// Saturating 16-bit step: `value + delta` held within the 16-bit range.
std::int16_t addSaturated16(std::int16_t value, int delta);

// `value` as plain decimal text, with a minus sign for negatives.
inline QString str(long long value) { return QString::number(value); }

} // namespace pulsewerk
