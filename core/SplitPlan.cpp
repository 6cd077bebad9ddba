#include "core/SplitPlan.h"

#include "core/NumberText.h"
#include "core/PathText.h"

#include <cstdint>
#include <limits>
#include <optional>

namespace quavera {

namespace {

// A field holding exactly "0" counts as empty; "0.0", "00" or " 0" do not.
bool IsEmptyField(const std::string& text) {
    return text == "0";
}

std::optional<std::int32_t> CheckedDifference(std::int32_t left, std::int32_t right) {
    const std::int64_t difference = std::int64_t{left} - std::int64_t{right};
    if (difference < std::numeric_limits<std::int32_t>::min() ||
        difference > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(difference);
}

// One pass: an empty field is dropped and the later ones move up, with "0" filling the last
// place. A "0" that moves into the current place is not looked at again.
void CompactFields(SplitFields& fields) {
    for (int j = 0; j < SplitFields::kCount; ++j) {
        if (!IsEmptyField(fields.text(j)))
            continue;
        for (int k = j; k < SplitFields::kCount - 1; ++k)
            fields.setText(k, fields.text(k + 1));
        fields.setText(SplitFields::kCount - 1, "0");
    }
}

} // namespace

PlanResult BuildSplitPlan(const std::string& destText, const std::string& sourceText,
                          SplitFields& fields, CutState& state) {
    if (!IsExistingFolder(destText) || !IsExistingFile(sourceText))
        return PlanResult::Refused;
    for (int i = 0; i < SplitFields::kCount; ++i) {
        if (!IsNumericText(fields.text(i)))
            return PlanResult::Refused;
    }

    CompactFields(fields);

    std::int32_t remaining = state.SourceSize;
    state.LastPart = -1;
    state.PartSizes.clear();
    int stopField = 0;
    for (; stopField < SplitFields::kCount; ++stopField) {
        const std::string& text = fields.text(stopField);
        const auto size = FieldByteSize(text);
        if (!size)
            return PlanResult::Overflow;
        if (*size >= remaining || IsEmptyField(text))
            break;
        ++state.LastPart;
        state.PartSizes.push_back(*size);
        const auto rest = CheckedDifference(remaining, *size);
        if (!rest)
            return PlanResult::Overflow;
        remaining = *rest;
    }
    // Three fields became three parts: whatever follows them belongs to no part.
    if (stopField == SplitFields::kCount)
        return PlanResult::Planned;

    if (remaining < 1 || state.LastPart == -1)
        return state.LastPart != -1 ? PlanResult::Planned : PlanResult::Refused;

    ++state.LastPart;
    state.PartSizes.push_back(remaining);
    fields.setText(stopField, FormatKB(remaining));
    for (int later = stopField + 1; later < SplitFields::kCount; ++later)
        fields.setText(later, "0");
    return PlanResult::Planned;
}

} // namespace quavera
