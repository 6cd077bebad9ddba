#pragma once

#include "core/CutState.h"
#include "core/CutWindow.h"
#include "core/PieceHead.h"
#include "core/SplitFields.h"
#include "interfaces/MediaPlayer.h"

#include <cstddef>
#include <optional>
#include <string>

namespace quavera {

inline constexpr std::size_t BLOCK_SIZE = 1122;

inline constexpr char kCutFinishedCaption[] = "剪切完成，请试听！";

enum class CutOutcome {
    Written,          // part 1 is in place; nothing else was written
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

// How the kept piece reaches the disk. The program runs with the defaults; the tests take the
// road of a file system without unnamed files, and the benchmark measures the cut without sync.
struct PieceStorage {
    bool unnamedTemporary = true; // false: act as if the file system offered no O_TMPFILE
    bool syncToDisk = true;       // false: leave the piece to the system's own write-back
};

// Carries out the cut: goes through every planned part of the source block by block, yielding
// to the window before each whole block, and writes only part 1, the piece, which it keeps.
// Parts 0 and 2 are never written: their bytes are only counted, and a source shorter than the
// plan still fails the cut. Refuses a negative part or a part file that is the source itself
// before opening anything. On any failure the files this cut made are removed, the fields are
// unlocked and the pointer restored, the finished caption, pause and end caption are left out,
// and the report names the cause.
//
// The piece goes into an unnamed file (O_TMPFILE) in its folder where the file system offers
// one, so a cut that dies leaves nothing. Elsewhere (vfat, exfat, some network file systems) it
// goes into a hidden temporary ".[铃声]1.<12 hex digits>.tmp". Either way its data reaches the
// disk (fsync) before it takes the name PartFileName(1), replacing what had that name, and the
// folder is synced after that, before the finished caption shows; files the user had under the
// names of parts 0 and 2 are never touched.
//
// With a layout whose copied range lies inside part 1, the piece is the layout's head followed
// by the source's bytes of that range only: whole frames, without the stray bytes that the size
// fields' kilobytes take in at either end. The plan's parts are gone through as without it.
//
// Leftovers: every cut first removes from its folder the regular files named exactly like this
// program's temporaries (".[铃声]" + part digit + "." + 12 hex digits + ".tmp") that no running
// cut holds. A cut holds an exclusive flock on its temporary from before the name appears until
// the name is gone, and the system drops that lock when the process ends, however it ends. A
// named temporary is created under a shared flock on its folder and the sweep runs only under
// the exclusive one, so it never meets a temporary whose lock is not taken yet. Where the folder
// cannot be locked (some network file systems), nothing is removed.
[[nodiscard]] CutReport WriteParts(CutState& state, const CutPaths& paths, SplitFields& fields,
                                   const std::string& endMark, CutWindow& window,
                                   MediaPlayer& player, const PieceStorage& storage = {},
                                   const std::optional<PieceLayout>& layout = std::nullopt);

} // namespace quavera
