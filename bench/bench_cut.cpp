// The cost of a cut against the cost of producing its piece.
//
// For each source size (default 64 and 512 MB, or the sizes given as arguments) it writes a
// source into a temporary folder, and for a piece of 10 % and of 80 % of the file, in the middle
// of a three-part plan, times in the same process: WriteParts with a yield that does nothing and
// a head of 2 KB before whole frames (without and with the sync to disk), a plain copy of the
// piece alone (its bytes read and written in 1 MiB blocks: the physical limit for producing it)
// and a plain copy of the whole file. Each is run five times, alternating, and the median counts.
// The last lines, one per case:
//   bench: size_mb=64 piece_pct=10 cut_ms=... piece_copy_ms=... whole_copy_ms=...
//          ratio_to_piece=... peak_rss_mb=... cut_fsync_ms=...
// (on one line) where ratio_to_piece is the piece copy's time over the cut's (without sync, as
// the plain copies have none), and cut_fsync_ms the same cut as the program runs it, synced.
// With NAMED set in the environment the cut writes a named temporary file instead of an unnamed
// one, as it does where the folder's file system has no O_TMPFILE.
// 1 MB here is 1 MiB. Peak resident memory is the process's peak so far, so a figure that does
// not rise from the small size to the large one shows that memory does not grow with the file.

#include "bench/BenchSupport.h"
#include "core/PartWriter.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace quavera::bench;
using quavera::CutPaths;
using quavera::CutState;
using quavera::CutWindow;
using quavera::MediaPlayer;
using quavera::PieceStorage;
using quavera::SplitFields;

constexpr int kRounds = 5;

class NoOpWindow : public CutWindow {
public:
    void setBusyPointer(bool) override {}
    void setStatusCaption(const std::string&) override {}
    void setStartCaption(const std::string&) override {}
    void setEndCaption(const std::string&) override {}
    void setTotalCaption(const std::string&) override {}
    bool yieldToEvents() override { return true; }
};

class IdlePlayer : public MediaPlayer {
public:
    bool setURL(const std::string&) override { return true; }
    [[nodiscard]] std::string URL() const override { return {}; }
    [[nodiscard]] std::optional<double> duration() const override { return std::nullopt; }
    [[nodiscard]] std::optional<double> currentPosition() const override { return std::nullopt; }
    bool pause() override { return true; }
};

struct Plan {
    std::int32_t head;
    std::int32_t piece;
    std::int32_t tail;
};

// The piece in the middle: as much before it as after it.
Plan MiddlePiece(std::int32_t size, int piecePercent) {
    const auto piece = static_cast<std::int32_t>(std::int64_t{size} * piecePercent / 100);
    const std::int32_t head = (size - piece) / 2;
    return Plan{head, piece, size - head - piece};
}

// A piece's head as the cut writes it: a text tag, an information frame and a silent frame with
// the reservoir; its copy starts and ends on whole frames inside the planned bytes.
constexpr std::size_t kHeadBytes = 2048;
constexpr std::int32_t kFrameBytes = 417;

void Cut(const fs::path& folder, const fs::path& source, const Plan& plan, bool sync) {
    CutState state;
    state.SourceSize = plan.head + plan.piece + plan.tail;
    state.PartSizes = {plan.head, plan.piece, plan.tail};
    state.LastPart = 2;
    SplitFields fields;
    NoOpWindow window;
    IdlePlayer player;
    PieceStorage storage;
    storage.syncToDisk = sync;
    storage.unnamedTemporary = std::getenv("NAMED") == nullptr;
    const quavera::PieceLayout layout{std::vector<std::uint8_t>(kHeadBytes, 0),
                                      plan.head + kFrameBytes,
                                      plan.head + plan.piece - kFrameBytes};
    const auto report = quavera::WriteParts(state, CutPaths{source.string(), folder.string() + "/"},
                                            fields, "0", window, player, storage, layout);
    Require(report.ok(), "the cut failed: " + report.file + " " + report.reason);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::size_t> sizesMiB;
    for (int i = 1; i < argc; ++i)
        sizesMiB.push_back(std::strtoull(argv[i], nullptr, 10));
    if (sizesMiB.empty())
        sizesMiB = {64, 512};

    try {
        const TemporaryFolder folder;
        std::vector<std::string> summaries;
        for (const std::size_t sizeMiB : sizesMiB) {
            Require(sizeMiB > 0 && sizeMiB * kMiB <= 0x7FFFFFFFu,
                    "a source must hold 1 byte to 2 GiB - 1 bytes");
            const fs::path source = folder.path() / "source.mp3";
            const fs::path copy = folder.path() / "copy.mp3";
            const fs::path kept = folder.path() / "[铃声]1source.mp3";
            WriteSource(source, sizeMiB);
            const auto size = static_cast<std::int32_t>(sizeMiB * kMiB);

            for (const int piecePercent : {10, 80}) {
                const Plan plan = MiddlePiece(size, piecePercent);
                std::array<double, kRounds> cutSeconds{};
                std::array<double, kRounds> syncedSeconds{};
                std::array<double, kRounds> pieceSeconds{};
                std::array<double, kRounds> wholeSeconds{};
                PlainCopier copyPlainly;
                for (int round = 0; round < kRounds; ++round) {
                    wholeSeconds[round] = Timed([&] { copyPlainly(source, copy); });
                    fs::remove(copy);
                    pieceSeconds[round] =
                        Timed([&] { copyPlainly(source, copy, plan.head, plan.piece); });
                    fs::remove(copy);
                    cutSeconds[round] = Timed([&] { Cut(folder.path(), source, plan, false); });
                    fs::remove(kept);
                    syncedSeconds[round] = Timed([&] { Cut(folder.path(), source, plan, true); });
                    fs::remove(kept);
                    std::printf("size_mb=%zu piece_pct=%d round=%d cut_s=%.3f cut_fsync_s=%.3f "
                                "piece_copy_s=%.3f whole_copy_s=%.3f\n",
                                sizeMiB, piecePercent, round + 1, cutSeconds[round],
                                syncedSeconds[round], pieceSeconds[round], wholeSeconds[round]);
                }
                const double cutMs = Median(cutSeconds) * 1000.0;
                const double pieceMs = Median(pieceSeconds) * 1000.0;
                char line[300];
                std::snprintf(line, sizeof line,
                              "bench: size_mb=%zu piece_pct=%d cut_ms=%.1f piece_copy_ms=%.1f "
                              "whole_copy_ms=%.1f ratio_to_piece=%.3f peak_rss_mb=%.1f "
                              "cut_fsync_ms=%.1f",
                              sizeMiB, piecePercent, cutMs, pieceMs, Median(wholeSeconds) * 1000.0,
                              pieceMs / cutMs, PeakResidentMiB(), Median(syncedSeconds) * 1000.0);
                summaries.emplace_back(line);
            }
            fs::remove(source);
        }
        for (const auto& summary : summaries)
            std::printf("%s\n", summary.c_str());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_cut: %s\n", error.what());
        return 1;
    }
    return 0;
}
