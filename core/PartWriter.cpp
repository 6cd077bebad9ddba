#include "core/PartWriter.h"

#include "core/NumberText.h"
#include "core/PathText.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
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
// The source passes through one window of this size: read in large pieces and written to the
// part files from the same memory, so the cut moves each byte no more often than a plain copy.
// A fixed amount of memory, whatever the file's size.
constexpr std::size_t kWindowBytes = std::size_t{1} << 20;
constexpr int kTemporaryNameAttempts = 16;

std::string SystemReason(int errorNumber) {
    return std::generic_category().message(errorNumber);
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// A stdio stream without a buffer of its own: every read and write of the cut is already large.
class StreamFile {
public:
    StreamFile() = default;

    // Nothing when the file cannot be opened; errno tells why.
    static std::optional<StreamFile> Open(const fs::path& path, const char* mode) {
        StreamFile opened;
        opened.file_.reset(std::fopen(path.c_str(), mode));
        if (!opened.file_)
            return std::nullopt;
        std::setvbuf(opened.file_.get(), nullptr, _IONBF, 0);
        return opened;
    }

    [[nodiscard]] std::FILE* get() const { return file_.get(); }

    // Closes the file and reports whether everything written to it reached the system.
    [[nodiscard]] bool close(int& errorNumber) {
        if (!file_)
            return true;
        errno = 0;
        if (std::fclose(file_.release()) == 0)
            return true;
        errorNumber = errno;
        return false;
    }

private:
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
            if (auto file = StreamFile::Open(path, "wbx"))
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
        if (std::fwrite(bytes, 1, count, file_.get()) == count)
            return true;
        errorNumber = errno;
        return false;
    }
    [[nodiscard]] bool close(int& errorNumber) { return file_.close(errorNumber); }

    // Replaces whatever had the final name (atomically), so the result holds exactly the part.
    [[nodiscard]] bool keepAs(const std::string& finalName, std::error_code& error) {
        fs::rename(path_, PathFromText(finalName), error);
        if (!error)
            path_.clear();
        return !error;
    }

    // Closes and removes the temporary unless it has been kept; failures change nothing then.
    void discard() {
        int closeError = 0;
        (void)file_.close(closeError);
        if (!path_.empty()) {
            std::error_code removeError;
            fs::remove(path_, removeError);
            path_.clear();
        }
    }

private:
    TemporaryPart(fs::path path, StreamFile file)
        : path_(std::move(path)), file_(std::move(file)) {}

    fs::path path_;
    StreamFile file_;
};

CutReport Failure(CutOutcome outcome, std::string file, std::string reason = {}) {
    return CutReport{outcome, std::move(file), std::move(reason)};
}

// The source bytes on their way to the part files. Bytes [0, filled) of the window hold source
// bytes read ahead; [written, taken) have been handed to the current part but not yet written.
class SourceWindow {
public:
    SourceWindow(std::FILE* source, std::int64_t plannedBytes)
        : source_(source), unread_(plannedBytes), bytes_(kWindowBytes) {}

    enum class Take { Taken, WriteFailed, ReadFailed, SourceEnded };

    // Hands the next `count` source bytes (at most BLOCK_SIZE) to `part`. When that needs more
    // of the source, what the part holds so far is written first; errorNumber tells why a
    // write or read failed.
    [[nodiscard]] Take take(std::size_t count, TemporaryPart& part, int& errorNumber) {
        if (filled_ - taken_ < count) {
            if (!flush(part, errorNumber))
                return Take::WriteFailed;
            if (!refill(count, errorNumber))
                return std::ferror(source_) ? Take::ReadFailed : Take::SourceEnded;
        }
        taken_ += count;
        return Take::Taken;
    }

    // Writes what the part has been handed so far.
    [[nodiscard]] bool flush(TemporaryPart& part, int& errorNumber) {
        if (taken_ == written_)
            return true;
        const bool done = part.write(bytes_.data() + written_, taken_ - written_, errorNumber);
        written_ = taken_;
        return done;
    }

private:
    // Moves the bytes not yet handed out to the front and reads as much as fits, never beyond
    // the bytes the plan covers. False when `count` bytes are still not there.
    [[nodiscard]] bool refill(std::size_t count, int& errorNumber) {
        const std::size_t kept = filled_ - taken_;
        std::memmove(bytes_.data(), bytes_.data() + taken_, kept);
        filled_ = kept;
        taken_ = written_ = 0;
        const auto room = static_cast<std::int64_t>(bytes_.size() - filled_);
        const auto wanted = static_cast<std::size_t>(std::min(room, unread_));
        errno = 0;
        const std::size_t read = std::fread(bytes_.data() + filled_, 1, wanted, source_);
        errorNumber = errno;
        filled_ += read;
        unread_ -= static_cast<std::int64_t>(read);
        return filled_ >= count;
    }

    std::FILE* source_;
    std::int64_t unread_;
    std::vector<unsigned char> bytes_;
    std::size_t filled_ = 0;
    std::size_t taken_ = 0;
    std::size_t written_ = 0;
};

// Opens the source, copies every part into a temporary of its own in one sequential pass over
// the source, and closes the files.
class PartCopy {
public:
    PartCopy(const CutState& state, CutWindow& window) : state_(state), window_(window) {}

    [[nodiscard]] CutReport run() {
        if (auto refusal = refusePlan())
            return *refusal;

        auto source = StreamFile::Open(PathFromText(state_.SourcePath), "rb");
        if (!source)
            return Failure(CutOutcome::SourceUnreadable, state_.SourcePath, SystemReason(errno));
        source_ = std::move(*source);

        std::int64_t plannedBytes = 0;
        for (int index = 0; index < partCount(); ++index)
            plannedBytes += state_.PartSizes[static_cast<std::size_t>(index)];
        SourceWindow window(source_.get(), plannedBytes);
        for (int index = 0; index < partCount(); ++index) {
            if (auto failure = copyPart(index, window))
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

    // Whole blocks of BLOCK_SIZE, each after a yield to the window's events, then the rest.
    [[nodiscard]] std::optional<CutReport> copyPart(int index, SourceWindow& window) {
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
        auto take = [&](std::size_t count) -> std::optional<CutReport> {
            switch (window.take(count, part, errorNumber)) {
            case SourceWindow::Take::Taken:
                return std::nullopt;
            case SourceWindow::Take::WriteFailed:
                return Failure(CutOutcome::PartUnwritable, partName, SystemReason(errorNumber));
            case SourceWindow::Take::ReadFailed:
                return Failure(CutOutcome::SourceUnreadable, state_.SourcePath,
                               SystemReason(errorNumber));
            case SourceWindow::Take::SourceEnded:
                return Failure(CutOutcome::SourceTooShort, state_.SourcePath);
            }
            return std::nullopt;
        };
        for (std::int32_t blockIndex = 0; blockIndex < wholeBlocks; ++blockIndex) {
            if (!window_.yieldToEvents())
                return Failure(CutOutcome::Abandoned, {});
            if (auto failure = take(BLOCK_SIZE))
                return failure;
        }
        if (remainder != 0) {
            if (auto failure = take(static_cast<std::size_t>(remainder)))
                return failure;
        }
        if (!window.flush(part, errorNumber) || !part.close(errorNumber))
            return Failure(CutOutcome::PartUnwritable, partName, SystemReason(errorNumber));
        return std::nullopt;
    }

    const CutState& state_;
    CutWindow& window_;
    StreamFile source_;
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
