// Throughput and memory of a cut against a plain copy of the same bytes.
//
// For each source size (default 64 and 512 MB, or the sizes given as arguments) it writes a
// source into a temporary folder, then times WriteParts on a three-part plan (a quarter, a half,
// the rest) with a yield that does nothing, and a plain copy of the whole file in 1 MiB blocks.
// Each is run seven times, alternating, and the median counts. The last lines, one per size:
//   bench: size_mb=64 cut_mb_s=... copy_mb_s=... ratio=... peak_rss_mb=...
// 1 MB here is 1 MiB. Peak resident memory is the process's peak so far, so a figure that does
// not rise from the small size to the large one shows that memory does not grow with the file.

#include "core/PartWriter.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using quavera::CutPaths;
using quavera::CutState;
using quavera::CutWindow;
using quavera::MediaPlayer;
using quavera::SplitFields;

constexpr std::size_t kMiB = std::size_t{1} << 20;
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

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// Removes the temporary folder and everything in it, however the run ends.
class TemporaryFolder {
public:
    TemporaryFolder() {
        std::string pattern = (fs::temp_directory_path() / "quavera-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("cannot create a temporary folder");
        path_ = pattern;
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    ~TemporaryFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    [[nodiscard]] const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

void Require(bool condition, const std::string& what) {
    if (!condition)
        throw std::runtime_error(what);
}

void WriteSource(const fs::path& path, std::size_t sizeMiB) {
    FileHandle file(std::fopen(path.c_str(), "wb"));
    Require(file != nullptr, "cannot create the source");
    std::vector<unsigned char> block(kMiB);
    std::uint64_t state = 0x9E3779B97F4A7C15u;
    for (std::size_t mib = 0; mib < sizeMiB; ++mib) {
        for (auto& byte : block) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            byte = static_cast<unsigned char>(state);
        }
        Require(std::fwrite(block.data(), 1, block.size(), file.get()) == block.size(),
                "cannot write the source");
    }
    Require(std::fclose(file.release()) == 0, "cannot close the source");
}

double Seconds(std::chrono::steady_clock::duration elapsed) {
    return std::chrono::duration<double>(elapsed).count();
}

template <typename Work> double Timed(Work&& work) {
    sync(); // let earlier writes reach the disk first, so each run starts from the same state
    const auto start = std::chrono::steady_clock::now();
    work();
    return Seconds(std::chrono::steady_clock::now() - start);
}

void PlainCopy(const fs::path& from, const fs::path& to) {
    FileHandle source(std::fopen(from.c_str(), "rb"));
    FileHandle target(std::fopen(to.c_str(), "wb"));
    Require(source && target, "cannot open the plain copy's files");
    // Every read and write is a whole 1 MiB block straight from and to the system.
    std::setvbuf(source.get(), nullptr, _IONBF, 0);
    std::setvbuf(target.get(), nullptr, _IONBF, 0);
    std::vector<unsigned char> block(kMiB);
    std::size_t count = 0;
    while ((count = std::fread(block.data(), 1, block.size(), source.get())) > 0)
        Require(std::fwrite(block.data(), 1, count, target.get()) == count, "plain copy failed");
    Require(std::fclose(target.release()) == 0, "plain copy failed to close");
}

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

double Median(std::array<double, kRounds> values) {
    std::sort(values.begin(), values.end());
    return values[kRounds / 2];
}

double PeakResidentMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0; // ru_maxrss is in KiB
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
            for (int round = 0; round < kRounds; ++round) {
                copySeconds[round] = Timed([&] { PlainCopy(source, copy); });
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
