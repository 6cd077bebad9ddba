#include "core/PartWriter.h"

#include "core/NumberText.h"
#include "core/PathText.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <system_error>
#include <utility>
#include <vector>

namespace quavera {

namespace {

namespace fs = std::filesystem;

constexpr auto kBlockBytes = static_cast<std::int32_t>(BLOCK_SIZE);
// Stream buffers of the source and the part files: large reads and writes underneath the
// small blocks, and a fixed amount of memory whatever the file's size.
constexpr std::size_t kStreamBufferBytes = std::size_t{1} << 20;
constexpr int kTemporaryNameAttempts = 16;

std::string SystemReason(int errorNumber) {
    return std::generic_category().message(errorNumber);
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// A stdio stream with a large buffer of its own, which outlives the stream.
class BufferedFile {
public:
    BufferedFile() = default;

    // Nothing when the file cannot be opened; errno tells why.
    static std::optional<BufferedFile> Open(const fs::path& path, const char* mode) {
        BufferedFile opened;
        opened.file_.reset(std::fopen(path.c_str(), mode));
        if (!opened.file_)
            return std::nullopt;
        opened.buffer_ = std::make_unique<char[]>(kStreamBufferBytes);
        std::setvbuf(opened.file_.get(), opened.buffer_.get(), _IOFBF, kStreamBufferBytes);
        return opened;
    }

    [[nodiscard]] std::FILE* get() const { return file_.get(); }

    // Closes the file and reports whether everything written to it reached the system.
    [[nodiscard]] bool close(int& errorNumber) {
        if (!file_)
            return true;
        errno = 0;
        const bool closed = std::fclose(file_.release()) == 0;
        errorNumber = errno;
        buffer_.reset();
        return closed;
    }

private:
    std::unique_ptr<char[]> buffer_; // declared first, so the stream is closed before it goes
    std::unique_ptr<std::FILE, FileCloser> file_;
};

std::string RandomTag() {
    static std::mt19937_64 generator{std::random_device{}()};
    static constexpr char kHex[] = "0123456789abcdef";
    std::uint64_t bits = generator();
    std::string tag(12, '0');
    for (char& digit : tag) {
        digit = kHex[bits & 0xF];
        bits >>= 4;
    }
    return tag;
}

// A part file written under a hidden temporary name in its final folder. It takes its final
// name only when the whole cut succeeded, so a failed or abandoned cut never truncates or
// deletes a file the user already had, and removing the temporary leaves nothing behind.
class TemporaryPart {
public:
    // Creates a new, empty file that did not exist before; errno tells why it failed.
    static std::optional<TemporaryPart> Create(const std::string& finalName, int index) {
        for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
            const std::string name = FolderOf(finalName) + "." + kPartNamePrefix +
                                     std::to_string(index) + "." + RandomTag() + ".tmp";
            const fs::path path = PathFromText(name);
            if (auto file = BufferedFile::Open(path, "wbx"))
                return TemporaryPart(path, std::move(*file));
            if (errno != EEXIST)
                return std::nullopt;
        }
        errno = EEXIST;
        return std::nullopt;
    }

    TemporaryPart(TemporaryPart&& other) noexcept
        : path_(std::exchange(other.path_, {})), file_(std::move(other.file_)) {}
    TemporaryPart& operator=(TemporaryPart&&) = delete;
    ~TemporaryPart() { discard(); }

    [[nodiscard]] bool write(const unsigned char* bytes, std::size_t count, int& errorNumber) {
        errno = 0;
        const bool written = std::fwrite(bytes, 1, count, file_.get()) == count;
        errorNumber = errno;
        return written;
    }
    [[nodiscard]] bool close(int& errorNumber) { return file_.close(errorNumber); }

    // Replaces whatever had the final name (atomically), so the result holds exactly the part.
    [[nodiscard]] bool keepAs(const std::string& finalName, std::error_code& error) {
        fs::rename(path_, PathFromText(finalName), error);
        if (!error)
            path_.clear();
        return !error;
    }

    void discard() {
        int ignored = 0;
        (void)file_.close(ignored);
        if (!path_.empty()) {
            std::error_code ignored;
            fs::remove(path_, ignored);
            path_.clear();
        }
    }

private:
    TemporaryPart(fs::path path, BufferedFile file)
        : path_(std::move(path)), file_(std::move(file)) {}

    fs::path path_;
    BufferedFile file_;
};

CutReport Failure(CutOutcome outcome, std::string file, std::string reason = {}) {
    return CutReport{outcome, std::move(file), std::move(reason)};
}

// Opens the source, copies every part into a temporary of its own in one sequential pass over
// the source, and closes the files.
class PartCopy {
public:
    PartCopy(const CutState& state, CutWindow& window) : state_(state), window_(window) {}

    [[nodiscard]] CutReport run() {
        if (auto refusal = refusePlan())
            return *refusal;

        auto source = BufferedFile::Open(PathFromText(state_.SourcePath), "rb");
        if (!source)
            return Failure(CutOutcome::SourceUnreadable, state_.SourcePath, SystemReason(errno));
        source_ = std::move(*source);

        std::vector<unsigned char> block(BLOCK_SIZE); // reused for every block of every part
        for (int index = 0; index < partCount(); ++index) {
            if (auto failure = copyPart(index, block))
                return *failure;
        }
        return CutReport{};
    }

    // Closes the source and any part file still open; the failure, if any, is already known.
    void closeFiles() {
        int ignored = 0;
        (void)source_.close(ignored);
        for (auto& part : parts_)
            (void)part.close(ignored);
    }

    // Gives part 1 its final name; the other temporaries are removed by discardRest().
    [[nodiscard]] CutReport keepMiddlePart() {
        constexpr int kKeptIndex = 1;
        if (partCount() <= kKeptIndex)
            return CutReport{};
        std::error_code error;
        const std::string finalName = PartFileName(state_, kKeptIndex);
        if (!parts_.at(kKeptIndex).keepAs(finalName, error))
            return Failure(CutOutcome::PartUnwritable, finalName, error.message());
        return CutReport{};
    }

    void discardRest() {
        for (auto& part : parts_)
            part.discard();
    }

private:
    // The parts the plan holds: indices 0 to LastPart, never beyond the planned sizes.
    [[nodiscard]] int partCount() const {
        const int planned = std::max(0, state_.LastPart + 1);
        return std::min(planned, static_cast<int>(state_.PartSizes.size()));
    }

    // A negative part (end before start) has no bytes to copy, and a part file that is the
    // source itself would destroy it: both stop the cut before any file is opened.
    [[nodiscard]] std::optional<CutReport> refusePlan() const {
        for (int index = 0; index < partCount(); ++index) {
            if (state_.PartSizes[static_cast<std::size_t>(index)] < 0)
                return Failure(CutOutcome::NegativePart, PartFileName(state_, index));
        }
        const fs::path source = PathFromText(state_.SourcePath);
        for (int index = 0; index < partCount(); ++index) {
            const std::string partName = PartFileName(state_, index);
            std::error_code error; // a part file that does not exist yet is not the source
            if (fs::equivalent(source, PathFromText(partName), error))
                return Failure(CutOutcome::SourceIsPartFile, partName);
        }
        return std::nullopt;
    }

    [[nodiscard]] std::optional<CutReport> copyPart(int index, std::vector<unsigned char>& block) {
        const std::string partName = PartFileName(state_, index);
        auto created = TemporaryPart::Create(partName, index);
        if (!created)
            return Failure(CutOutcome::PartUnwritable, partName, SystemReason(errno));
        parts_.push_back(std::move(*created));
        TemporaryPart& part = parts_.back();

        // The block counter is 32 bits wide: any part a 32-bit size allows is written whole.
        const std::int32_t size = state_.PartSizes[static_cast<std::size_t>(index)];
        const std::int32_t wholeBlocks = size / kBlockBytes;
        const std::int32_t remainder = size - wholeBlocks * kBlockBytes;
        int errorNumber = 0;
        for (std::int32_t blockIndex = 0; blockIndex < wholeBlocks; ++blockIndex) {
            if (!window_.yieldToEvents())
                return Failure(CutOutcome::Abandoned, {});
            if (auto failure = readSource(block.data(), BLOCK_SIZE))
                return failure;
            if (!part.write(block.data(), BLOCK_SIZE, errorNumber))
                return Failure(CutOutcome::PartUnwritable, partName, SystemReason(errorNumber));
        }
        if (remainder != 0) {
            std::vector<unsigned char> rest(static_cast<std::size_t>(remainder));
            if (auto failure = readSource(rest.data(), rest.size()))
                return failure;
            if (!part.write(rest.data(), rest.size(), errorNumber))
                return Failure(CutOutcome::PartUnwritable, partName, SystemReason(errorNumber));
        }
        if (!part.close(errorNumber))
            return Failure(CutOutcome::PartUnwritable, partName, SystemReason(errorNumber));
        return std::nullopt;
    }

    [[nodiscard]] std::optional<CutReport> readSource(unsigned char* bytes, std::size_t count) {
        errno = 0;
        if (std::fread(bytes, 1, count, source_.get()) == count)
            return std::nullopt;
        if (std::ferror(source_.get()))
            return Failure(CutOutcome::SourceUnreadable, state_.SourcePath, SystemReason(errno));
        return Failure(CutOutcome::SourceTooShort, state_.SourcePath);
    }

    const CutState& state_;
    CutWindow& window_;
    BufferedFile source_;
    std::vector<TemporaryPart> parts_;
};

// Puts the window back (fields editable, default pointer) when the cut ends, also when it
// ends by an exception thrown out of the event loop.
class WindowRestorer {
public:
    WindowRestorer(SplitFields& fields, CutWindow& window) : fields_(fields), window_(window) {}
    WindowRestorer(const WindowRestorer&) = delete;
    WindowRestorer& operator=(const WindowRestorer&) = delete;
    ~WindowRestorer() { restore(); }

    void restore() {
        if (restored_)
            return;
        restored_ = true;
        LockSplitFields(fields_, false);
        window_.setBusyPointer(false);
    }

private:
    SplitFields& fields_;
    CutWindow& window_;
    bool restored_ = false;
};

} // namespace

CutReport WriteParts(CutState& state, const CutPaths& paths, SplitFields& fields,
                     const std::string& endMark, CutWindow& window, MediaPlayer& player) {
    window.setBusyPointer(true);
    LockSplitFields(fields, true);
    WindowRestorer restorer(fields, window);

    state.SourceName = FileNameOf(paths.sourceText);
    state.SourcePath = paths.sourceText;
    state.DestDir = paths.destText;

    PartCopy copy(state, window);
    CutReport report = copy.run();
    copy.closeFiles();
    restorer.restore();

    if (report.ok())
        report = copy.keepMiddlePart();
    copy.discardRest();
    if (!report.ok())
        return report;

    window.setStatusCaption(kCutFinishedCaption);
    (void)player.pause(); // a player that cannot pause leaves the cut as good as done
    const auto endMarkSeconds = ParseNumber(endMark);
    const auto endSeconds = endMarkSeconds ? WholeSeconds(*endMarkSeconds) : std::nullopt;
    window.setEndCaption(SecondsText(endSeconds.value_or(0)));
    return report;
}

} // namespace quavera
