// Throughput and memory of a cut against a plain copy of the same bytes.
//
// For each source size (default 64 and 512 MB, or the sizes given as arguments) it writes a
// source into a temporary folder, then times WriteParts on a three-part plan (a quarter, a half,
// the rest) with a yield that does nothing, and a plain copy of the whole file in 1 MiB blocks.
// Each is run seven times, alternating, and the median counts. The last lines, one per size:
//   bench: size_mb=64 cut_mb_s=... copy_mb_s=... ratio=... peak_rss_mb=...
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
using quavera::SplitFields;

constexpr int kRounds = 7;

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

void Cut(const fs::path& folder, const fs::path& source, std::int32_t size) {
    CutState state;
    state.SourceSize = size;
    const std::int32_t head = size / 4;
    const std::int32_t piece = size / 2;
    state.PartSizes = {head, piece, size - head - piece};
    state.LastPart = 2;
    SplitFields fields;
    NoOpWindow window;
    IdlePlayer player;
    const auto report = quavera::WriteParts(state, CutPaths{source.string(), folder.string() + "/"},
                                            fields, "0", window, player);
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

            std::array<double, kRounds> cutSeconds{};
            std::array<double, kRounds> copySeconds{};
            PlainCopier copyPlainly;
            for (int round = 0; round < kRounds; ++round) {
                copySeconds[round] = Timed([&] { copyPlainly(source, copy); });
                fs::remove(copy);
                cutSeconds[round] = Timed(
                    [&] { Cut(folder.path(), source, static_cast<std::int32_t>(sizeMiB * kMiB)); });
                fs::remove(kept);
                std::printf("size_mb=%zu round=%d cut_s=%.3f copy_s=%.3f\n", sizeMiB, round + 1,
                            cutSeconds[round], copySeconds[round]);
            }
            fs::remove(source);

            const double mib = static_cast<double>(sizeMiB);
            const double cutRate = mib / Median(cutSeconds);
            const double copyRate = mib / Median(copySeconds);
            char line[200];
            std::snprintf(line, sizeof line,
                          "bench: size_mb=%zu cut_mb_s=%.1f copy_mb_s=%.1f ratio=%.3f "
                          "peak_rss_mb=%.1f",
                          sizeMiB, cutRate, copyRate, cutRate / copyRate, PeakResidentMiB());
            summaries.emplace_back(line);
        }
        for (const auto& summary : summaries)
            std::printf("%s\n", summary.c_str());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_cut: %s\n", error.what());
        return 1;
    }
    return 0;
}
