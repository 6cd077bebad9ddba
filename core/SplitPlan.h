#pragma once

#include "core/CutState.h"
#include "core/SplitFields.h"

#include <string>

namespace quavera {

enum class PlanResult {
    Planned,  // PartSizes(0..LastPart) hold the plan; a cut may run
    Refused,  // no cut may run
    Overflow, // a size left the 32-bit range; the plan ended where it was
};

// Checks the two paths and the three size fields, compacts the fields, and plans up to three
// consecutive parts of `state.SourceSize` bytes. May rewrite the fields' texts.
[[nodiscard]] PlanResult BuildSplitPlan(const std::string& destText, const std::string& sourceText,
                                        SplitFields& fields, CutState& state);

} // namespace quavera
