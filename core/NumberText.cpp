#include "core/NumberText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <system_error>

namespace quavera {

namespace {

constexpr int kSignificantDigits = 15;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsBlank(char c) {
    return c == ' ';
}

// The pieces of a numeric text, as views into it.
struct NumericParts {
    bool negative = false;
    std::string_view integerDigits;
    std::string_view fractionDigits;
    bool exponentNegative = false;
    std::string_view exponentDigits;
    std::string_view unsignedBody; // digits, point and exponent without sign and blanks
};

std::optional<NumericParts> SplitNumeric(std::string_view text) {
    std::size_t pos = 0;
    const std::size_t end = text.size();
    auto takeDigits = [&]() {
        const std::size_t start = pos;
        while (pos < end && IsDigit(text[pos]))
            ++pos;
        return text.substr(start, pos - start);
    };

    while (pos < end && IsBlank(text[pos]))
        ++pos;
    NumericParts parts;
    if (pos < end && (text[pos] == '+' || text[pos] == '-')) {
        parts.negative = text[pos] == '-';
        ++pos;
    }
    const std::size_t bodyStart = pos;
    parts.integerDigits = takeDigits();
    if (pos < end && text[pos] == '.') {
        ++pos;
        parts.fractionDigits = takeDigits();
    }
    if (parts.integerDigits.empty() && parts.fractionDigits.empty())
        return std::nullopt;
    if (pos < end && (text[pos] == 'E' || text[pos] == 'e')) {
        ++pos;
        if (pos < end && (text[pos] == '+' || text[pos] == '-')) {
            parts.exponentNegative = text[pos] == '-';
            ++pos;
        }
        parts.exponentDigits = takeDigits();
        if (parts.exponentDigits.empty())
            return std::nullopt;
    }
    parts.unsignedBody = text.substr(bodyStart, pos - bodyStart);
    while (pos < end && IsBlank(text[pos]))
        ++pos;
    if (pos != end)
        return std::nullopt;
    return parts;
}

// Decimal exponent of the leading non-zero digit, used only to tell an underflow from an
// overflow when the conversion reports a value out of range. Saturates far beyond any double.
long DecimalMagnitude(const NumericParts& parts) {
    constexpr long kSaturation = 1'000'000;
    long exponent = 0;
    for (char c : parts.exponentDigits)
        exponent = std::min(kSaturation, exponent * 10 + (c - '0'));
    if (parts.exponentNegative)
        exponent = -exponent;

    long lead = 0;
    const auto firstInInteger = parts.integerDigits.find_first_not_of('0');
    if (firstInInteger != std::string_view::npos) {
        lead = static_cast<long>(parts.integerDigits.size() - firstInInteger) - 1;
    } else {
        const auto firstInFraction = parts.fractionDigits.find_first_not_of('0');
        lead =
            firstInFraction == std::string_view::npos ? 0 : -static_cast<long>(firstInFraction) - 1;
    }
    return lead + exponent;
}

// Reads a numeric text as a float or double, correctly rounded in that type. Values too small
// for the type read as zero; values too large for it give nothing.
template <typename Number> std::optional<Number> ParseAs(std::string_view text) {
    const auto parts = SplitNumeric(text);
    if (!parts)
        return std::nullopt;
    const std::string_view body = parts->unsignedBody;
    Number magnitude{};
    const auto [end, error] = std::from_chars(body.data(), body.data() + body.size(), magnitude);
    if (error == std::errc::result_out_of_range) {
        if (DecimalMagnitude(*parts) >= 0)
            return std::nullopt;
        magnitude = Number{0};
    } else if (error != std::errc{} || end != body.data() + body.size()) {
        return std::nullopt;
    }
    return parts->negative ? -magnitude : magnitude;
}

// Rounds to the nearest integer, halves to the even neighbour, whatever the FPU mode says.
double RoundHalfToEven(double value) {
    const double below = std::floor(value);
    const double fraction = value - below;
    if (fraction < 0.5)
        return below;
    if (fraction > 0.5)
        return below + 1.0;
    return std::fmod(below, 2.0) == 0.0 ? below : below + 1.0;
}

} // namespace

std::string NumberText(double value) {
    if (std::isnan(value))
        return "NaN";
    if (std::isinf(value))
        return value < 0 ? "-Infinity" : "Infinity";
    if (value == 0.0)
        return "0"; // also for -0.0

    // The "general" form switches to the exponent below 1E-04 and from 1E+15, after rounding
    // to 15 digits, and drops trailing zeros and a trailing point on its own.
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value,
                                      std::chars_format::general, kSignificantDigits);
    std::string text(buffer, result.ptr);
    if (const auto e = text.find('e'); e != std::string::npos)
        text[e] = 'E';
    return text;
}

bool IsNumericText(std::string_view text) {
    return SplitNumeric(text).has_value();
}

std::optional<double> ParseNumber(std::string_view text) {
    return ParseAs<double>(text);
}

std::string FormatKB(std::int32_t bytes) {
    // Tenths of a kilobyte, rounded halves away from zero: floor((|b| * 10 + 512) / 1024).
    const std::int64_t magnitude = std::llabs(static_cast<std::int64_t>(bytes));
    const std::int64_t tenths = (magnitude * 10 + 512) / 1024;
    std::string text = (bytes < 0 && tenths != 0) ? "-" : "";
    text += std::to_string(tenths / 10);
    text += '.';
    if (tenths % 10 != 0)
        text += static_cast<char>('0' + tenths % 10);
    return text;
}

std::optional<std::int16_t> WholeSeconds(double seconds) {
    if (!std::isfinite(seconds))
        return std::nullopt;
    const double rounded = RoundHalfToEven(seconds);
    if (rounded < std::numeric_limits<std::int16_t>::min() ||
        rounded > std::numeric_limits<std::int16_t>::max())
        return std::nullopt;
    return static_cast<std::int16_t>(rounded);
}

std::string SecondsText(std::int16_t seconds) {
    std::string text = seconds < 0 ? "-" : " ";
    text += std::to_string(std::abs(static_cast<int>(seconds)));
    text += "秒";
    return text;
}

std::optional<std::int32_t> FieldByteSize(std::string_view text) {
    const auto single = ParseAs<float>(text);
    if (!single)
        return std::nullopt;
    // A float times 1024 is exact in double, so the only rounding is the final one.
    const double bytes = RoundHalfToEven(static_cast<double>(*single) * 1024.0);
    if (bytes < std::numeric_limits<std::int32_t>::min() ||
        bytes > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(bytes);
}

} // namespace quavera
