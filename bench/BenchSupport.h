#pragma once
// What both benchmarks need: a scratch folder, a source of pseudo-random bytes, a plain copy to
// compare with, medians and the process's peak memory. 1 MB here is 1 MiB.

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace quavera::bench {

namespace fs = std::filesystem;

inline constexpr std::size_t kMiB = std::size_t{1} << 20;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

inline void Require(bool condition, const std::string& what) {
    if (!condition)
        throw std::runtime_error(what);
}

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

inline void WriteSource(const fs::path& path, std::size_t sizeMiB) {
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

inline double Seconds(std::chrono::steady_clock::duration elapsed) {
    return std::chrono::duration<double>(elapsed).count();
}

template <typename Work> double Timed(Work&& work) {
    sync(); // let earlier writes reach the disk first, so each run starts from the same state
    const auto start = std::chrono::steady_clock::now();
    work();
    return Seconds(std::chrono::steady_clock::now() - start);
}

// The copy a cut is measured against: whole 1 MiB blocks straight from and to the system,
// through one buffer kept from copy to copy. A buffer allocated afresh for every copy would
// make each copy fault its pages in again, which costs a 5 MB copy a good part of its time.
// Copies the whole file, or `length` bytes from `offset` when a length is given.
class PlainCopier {
public:
    void operator()(const fs::path& from, const fs::path& to, long offset = 0, long length = -1) {
        FileHandle source(std::fopen(from.c_str(), "rb"));
        FileHandle target(std::fopen(to.c_str(), "wb"));
        Require(source && target, "cannot open the plain copy's files");
        std::setvbuf(source.get(), nullptr, _IONBF, 0);
        std::setvbuf(target.get(), nullptr, _IONBF, 0);
        Require(std::fseek(source.get(), offset, SEEK_SET) == 0, "plain copy cannot seek");
        std::size_t left = length < 0 ? SIZE_MAX : static_cast<std::size_t>(length);
        std::size_t count = 0;
        while (left > 0 && (count = std::fread(block_.data(), 1, std::min(left, block_.size()),
                                               source.get())) > 0) {
            Require(std::fwrite(block_.data(), 1, count, target.get()) == count,
                    "plain copy failed");
            left -= count;
        }
        Require(std::fclose(target.release()) == 0, "plain copy failed to close");
    }

private:
    std::vector<unsigned char> block_ = std::vector<unsigned char>(kMiB);
};

// Of a fixed array or a vector of at least one value.
template <typename Values> double Median(Values values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

inline double PeakResidentMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0; // ru_maxrss is in KiB
}

} // namespace quavera::bench
