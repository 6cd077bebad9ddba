#pragma once

#include "core/CutState.h"
#include "core/CutWindow.h"
#include "core/SplitFields.h"
#include "platform/api/MediaPlayer.h"

#include <cstddef>
#include <string>

namespace quavera {

inline constexpr std::size_t BLOCK_SIZE = 1122;

inline constexpr char kCutFinishedCaption[] = "剪切完成，请试听！";

enum class CutOutcome {
    Written,          // part 1 is in place, parts 0 and 2 are gone
    NegativePart,     // a planned part has a negative size (end before start); nothing written
    SourceIsPartFile, // a part file would be the source itself; nothing written
    SourceUnreadable, // the source could not be opened or read
    SourceTooShort,   // the source ended before the plan did
    PartUnwritable,   // a part file could not be created, written or put in place
    Abandoned,        // the window asked to stop (it is closing); the cut's files are removed
};

struct CutReport {
    CutOutcome outcome = CutOutcome::Written;
    std::string file;   // the file that failed, when one did
    std::string reason; // the system's description of the failure, when there is one
    [[nodiscard]] bool ok() const { return outcome == CutOutcome::Written; }
};

// The texts of txtSource and txtDestdir as the cut reads them at its start.
struct CutPaths {
    std::string sourceText;
    std::string destText;
};

// Copies every planned part of the source into its part file, keeps part 1 only, and reports
// completion on the window. Each part is written under a hidden temporary name in its folder;
// part 1 then replaces PartFileName(1) and the others are removed, so files the user already
// had under the names of parts 0 and 2 are never touched. Refuses a negative part or a part
// file that is the source itself before opening anything. On any failure the files this cut
// made are removed, the fields are unlocked and the pointer restored, the finished caption,
// pause and end caption are left out, and the report names the cause.
[[nodiscard]] CutReport WriteParts(CutState& state, const CutPaths& paths, SplitFields& fields,
                                   const std::string& endMark, CutWindow& window,
                                   MediaPlayer& player);

} // namespace quavera
