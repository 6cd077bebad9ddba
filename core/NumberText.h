#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quavera {

// Decimal text of a double: up to 15 significant digits, "." as the decimal point, no trailing
// zeros or point, no grouping. Below 1E-04 or from 1E+15 in magnitude the exponent form takes
// over, written as mantissa, "E", sign and at least two digits (1E-05, 1.5E+15). Minus zero
// gives "0"; values that are not finite give "NaN", "Infinity" or "-Infinity", which are not
// numeric text. Independent of the process locale.
[[nodiscard]] std::string NumberText(double value);

// Optional blanks (spaces), optional sign, digits with an optional point and fraction (at least one
// digit in all), an optional exponent (E or e, optional sign, digits), optional blanks.
[[nodiscard]] bool IsNumericText(std::string_view text);

// The number a numeric text stands for; nothing when the text is not numeric or its value
// lies outside the range of a double. A value too small for a double reads as 0.
[[nodiscard]] std::optional<double> ParseNumber(std::string_view text);

// bytes / 1024 with the pattern "0.#": one decimal, halves away from zero, the point always
// written, the tenths digit only when it is not 0 (1536 -> "1.5", 1024 -> "1."). A negative
// count that rounds to zero gives "0.".
[[nodiscard]] std::string FormatKB(std::int32_t bytes);

// Seconds rounded to an integer, halves to even; nothing when the result leaves int16 or the
// value is not a number.
[[nodiscard]] std::optional<std::int16_t> WholeSeconds(double seconds);

// " 12秒" for 12, "-3秒" for -3.
[[nodiscard]] std::string SecondsText(std::int16_t seconds);

// A size field's text read as a single-precision number, times 1024, rounded halves to even,
// as int32. Nothing when the text is not numeric, or the value leaves float or int32 range.
[[nodiscard]] std::optional<std::int32_t> FieldByteSize(std::string_view text);

} // namespace quavera
