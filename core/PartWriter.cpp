#include "core/PartWriter.h"

#include "core/Descriptor.h"
#include "core/NumberText.h"
#include "core/PathText.h"
#include "core/PieceFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <span>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>
#include <vector>

namespace quavera {

namespace {

namespace fs = std::filesystem;

constexpr auto kBlockBytes = static_cast<std::int32_t>(BLOCK_SIZE);
constexpr int kKeptIndex = 1;
// The piece is copied underneath the blocks in pieces of this size, so a cut costs about what a
// plain copy of the piece costs, and memory does not grow with the file.
constexpr std::int64_t kChunkBytes = std::int64_t{1} << 20;
constexpr std::size_t kPageBytes = 4096;

std::string SystemReason(int errorNumber) {
    return std::generic_category().message(errorNumber);
}

CutReport Failure(CutOutcome outcome, std::string file, std::string reason = {}) {
    return CutReport{outcome, std::move(file), std::move(reason)};
}

// Copies source bytes to the end of the piece through one buffer of at most kChunkBytes.
// copy_file_range was tried instead: on ext4 it copied a piece at 0.6 to 0.7 times the speed of
// this buffer, and sharing blocks (reflink) cannot apply to a piece that starts anywhere.
class PieceCopier {
public:
    PieceCopier(int source, int target, std::int64_t pieceBytes, bool startWriteBack)
        : source_(source), target_(target), startWriteBack_(startWriteBack),
          capacity_(static_cast<std::size_t>(std::clamp<std::int64_t>(pieceBytes, 1, kChunkBytes))),
          buffer_(capacity_ + 2 * kPageBytes) {}

    enum class Result { Copied, ReadFailed, WriteFailed, SourceEnded };

    // Writes bytes of our own at the end of the piece.
    [[nodiscard]] bool append(std::span<const std::uint8_t> bytes, int& errorNumber) {
        return writeAll(bytes.data(), bytes.size(), errorNumber);
    }

    [[nodiscard]] Result copy(std::int64_t from, std::int64_t count, int& errorNumber) {
        const std::int64_t start = written_;
        const Result result = copyBytes(from, count, errorNumber);
        if (startWriteBack_ && written_ > start) {
            // Sends each chunk to the disk as soon as it is copied and waits for the one
            // before: what waits for the disk stays about one chunk, so the final fsync, which
            // the window waits out without a turn, is short.
            if (start > waitedUpTo_)
                ::sync_file_range(target_, waitedUpTo_, start - waitedUpTo_,
                                  SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                                      SYNC_FILE_RANGE_WAIT_AFTER);
            waitedUpTo_ = start;
            ::sync_file_range(target_, start, written_ - start, SYNC_FILE_RANGE_WRITE);
        }
        return result;
    }

private:
    [[nodiscard]] Result copyBytes(std::int64_t from, std::int64_t count, int& errorNumber) {
        while (count > 0) {
            const auto wanted =
                static_cast<std::size_t>(std::min(count, static_cast<std::int64_t>(capacity_)));
            unsigned char* bytes = alignedAs(from);
            const ssize_t read = ::pread(source_, bytes, wanted, from);
            if (read < 0) {
                if (errno == EINTR)
                    continue;
                errorNumber = errno;
                return Result::ReadFailed;
            }
            if (read == 0)
                return Result::SourceEnded;
            if (!writeAll(bytes, static_cast<std::size_t>(read), errorNumber))
                return Result::WriteFailed;
            from += read;
            count -= read;
        }
        return Result::Copied;
    }

    [[nodiscard]] bool writeAll(const unsigned char* bytes, std::size_t count, int& errorNumber) {
        for (std::size_t done = 0; done < count;) {
            const ssize_t wrote = ::pwrite(target_, bytes + done, count - done, written_);
            if (wrote < 0) {
                if (errno == EINTR)
                    continue;
                errorNumber = errno;
                return false;
            }
            done += static_cast<std::size_t>(wrote);
            written_ += wrote;
        }
        return true;
    }

    // Where the bytes from source offset `offset` go: at the same place within a page of the
    // buffer as within a page of the file. The kernel's copy out of the page cache ran up to
    // seven times slower for some placements of the buffer against the file's offset (0.55 ms
    // per MiB instead of 0.08 for one 64 MB source), which made a cut cost twice its plain copy.
    [[nodiscard]] unsigned char* alignedAs(std::int64_t offset) {
        const auto address = reinterpret_cast<std::uintptr_t>(buffer_.data());
        const std::uintptr_t page = (address + kPageBytes - 1) / kPageBytes * kPageBytes;
        return buffer_.data() + (page - address) + static_cast<std::size_t>(offset) % kPageBytes;
    }

    int source_;
    int target_;
    bool startWriteBack_;
    std::size_t capacity_;
    std::vector<unsigned char> buffer_; // two pages more than capacity_, for the placement
    std::int64_t written_ = 0;
    std::int64_t waitedUpTo_ = 0; // the piece up to here has been written back
};

// Goes through the parts of the plan in one pass over the source and copies the piece into a
// file of its own in the destination folder.
class PartCopy {
public:
    PartCopy(const CutState& state, CutWindow& window, const PieceStorage& storage,
             const std::optional<PieceLayout>& layout)
        : state_(state), window_(window), storage_(storage), layout_(layoutInPiece(layout)) {}

    [[nodiscard]] CutReport run() {
        if (auto refusal = refusePlan())
            return *refusal;

        source_ = Descriptor(::open(PathFromText(state_.SourcePath).c_str(),
                                    O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        if (!source_)
            return Failure(CutOutcome::SourceUnreadable, state_.SourcePath, SystemReason(errno));
        struct stat status {};
        if (::fstat(source_.get(), &status) != 0 || S_ISDIR(status.st_mode))
            return Failure(CutOutcome::SourceUnreadable, state_.SourcePath,
                           SystemReason(S_ISDIR(status.st_mode) ? EISDIR : errno));

        if (partCount() > kKeptIndex) {
            if (auto failure = createPiece())
                return *failure;
        }

        std::int64_t planned = 0;
        for (int index = 0; index < partCount(); ++index)
            planned += state_.PartSizes[static_cast<std::size_t>(index)];
        if (!sourceReaches(planned))
            return Failure(CutOutcome::SourceTooShort, state_.SourcePath);

        std::int64_t offset = 0;
        for (int index = 0; index < partCount(); ++index) {
            if (auto failure = goThroughPart(index, offset))
                return *failure;
        }
        return CutReport{};
    }

    // Makes the piece's data reach the disk, while the window still shows the cut running.
    [[nodiscard]] CutReport syncPiece() {
        if (!piece_ || !storage_.syncToDisk || piece_->sync())
            return CutReport{};
        return Failure(CutOutcome::PartUnwritable, PartFileName(state_, kKeptIndex),
                       SystemReason(errno));
    }

    void closeSource() { source_.reset(); }

    // Gives the piece its final name and makes that name reach the disk too.
    [[nodiscard]] CutReport keepPiece() {
        if (!piece_)
            return CutReport{};
        const std::string finalName = PartFileName(state_, kKeptIndex);
        if (!piece_->keepAs(FileNameOf(finalName)))
            return Failure(CutOutcome::PartUnwritable, finalName, SystemReason(errno));
        // A folder that cannot be synced at all (EINVAL) has nothing to wait for.
        if (storage_.syncToDisk && ::fsync(folder_.get()) != 0 && errno != EINVAL)
            return Failure(CutOutcome::PartUnwritable, finalName, SystemReason(errno));
        return CutReport{};
    }

    // Closes the piece and removes it unless it was kept; closes the folder.
    void discardRest() {
        piece_.reset();
        folder_.reset();
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

    // Opens the piece's folder, sweeps it, and creates the file the piece is written into.
    [[nodiscard]] std::optional<CutReport> createPiece() {
        const std::string partName = PartFileName(state_, kKeptIndex);
        const std::string folderText = FolderOf(partName);
        folder_ = Descriptor(::open(PathFromText(folderText.empty() ? "." : folderText).c_str(),
                                    O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!folder_)
            return Failure(CutOutcome::PartUnwritable, partName, SystemReason(errno));
        RemoveLeftoverTemporaries(folder_.get());
        auto created = PieceFile::Create(folder_.get(), {.unnamed = storage_.unnamedTemporary});
        if (!created)
            return Failure(CutOutcome::PartUnwritable, partName, SystemReason(errno));
        piece_.emplace(std::move(*created));
        copier_.emplace(source_.get(), piece_->fd(),
                        state_.PartSizes[static_cast<std::size_t>(kKeptIndex)],
                        storage_.syncToDisk);
        int errorNumber = 0;
        if (layout_ && !copier_->append(layout_->head, errorNumber))
            return Failure(CutOutcome::PartUnwritable, partName, SystemReason(errorNumber));
        return std::nullopt;
    }

    // The layout when its copied range lies inside the planned piece; the plan's own bytes
    // otherwise (fields that no longer say what End wrote).
    [[nodiscard]] const PieceLayout* layoutInPiece(const std::optional<PieceLayout>& layout) const {
        if (!layout || state_.LastPart < kKeptIndex ||
            state_.PartSizes.size() <= static_cast<std::size_t>(kKeptIndex))
            return nullptr;
        const std::int64_t begin = state_.PartSizes[0];
        const std::int64_t end = begin + state_.PartSizes[static_cast<std::size_t>(kKeptIndex)];
        return layout->copyBegin >= begin && layout->copyEnd <= end &&
                       layout->copyBegin < layout->copyEnd
                   ? &*layout
                   : nullptr;
    }

    // The source offset that lines up with the piece's first byte, the head's bytes counted in:
    // the piece's chunks are counted from here, so every write after the first starts at a
    // whole chunk of the piece. The page cache holds a 1 MiB write there in one block (folio),
    // but one that starts elsewhere in nine smaller ones (ext4, Linux 6.18); with a head before
    // the copied frames, that made a cut cost up to 9 % more.
    [[nodiscard]] std::int64_t chunkOrigin(std::int64_t partStart) const {
        if (!layout_)
            return partStart;
        return layout_->copyBegin - static_cast<std::int64_t>(layout_->head.size());
    }

    // True when the source still holds at least `bytes` bytes.
    [[nodiscard]] bool sourceReaches(std::int64_t bytes) const {
        struct stat status {};
        return ::fstat(source_.get(), &status) == 0 && status.st_size >= bytes;
    }

    // Whole blocks of BLOCK_SIZE, each after a yield to the window's events, then the rest. The
    // piece's bytes are copied in chunks as its blocks are counted; another part's bytes are
    // passed over, and the source must still hold them.
    [[nodiscard]] std::optional<CutReport> goThroughPart(int index, std::int64_t& offset) {
        const bool kept = index == kKeptIndex;
        // The block counter is 32 bits wide: any part a 32-bit size allows is gone through whole.
        const std::int32_t size = state_.PartSizes[static_cast<std::size_t>(index)];
        const std::int32_t wholeBlocks = size / kBlockBytes;
        const std::int32_t remainder = size - wholeBlocks * kBlockBytes;
        // The source offset up to which the piece has its bytes (or, before its range, from
        // which its chunks are counted).
        std::int64_t copied = kept ? chunkOrigin(offset) : offset;
        auto copyCounted = [&](std::int64_t count) -> std::optional<CutReport> {
            int errorNumber = 0;
            // With a layout, only its range of the planned bytes is copied.
            const std::int64_t from = layout_ ? std::max(copied, layout_->copyBegin) : copied;
            const std::int64_t to =
                layout_ ? std::min(copied + count, layout_->copyEnd) : copied + count;
            const auto result = to > from ? copier_->copy(from, to - from, errorNumber)
                                          : PieceCopier::Result::Copied;
            switch (result) {
            case PieceCopier::Result::Copied:
                copied += count;
                return std::nullopt;
            case PieceCopier::Result::WriteFailed:
                return Failure(CutOutcome::PartUnwritable, PartFileName(state_, index),
                               SystemReason(errorNumber));
            case PieceCopier::Result::ReadFailed:
                return Failure(CutOutcome::SourceUnreadable, state_.SourcePath,
                               SystemReason(errorNumber));
            case PieceCopier::Result::SourceEnded:
                return Failure(CutOutcome::SourceTooShort, state_.SourcePath);
            }
            return std::nullopt;
        };
        for (std::int32_t blockIndex = 0; blockIndex < wholeBlocks; ++blockIndex) {
            if (!window_.yieldToEvents())
                return Failure(CutOutcome::Abandoned, {});
            offset += kBlockBytes;
            if (kept && offset - copied >= kChunkBytes) {
                if (auto failure = copyCounted(kChunkBytes))
                    return failure;
            }
        }
        offset += remainder;
        if (kept)
            return copyCounted(offset - copied);
        if (!sourceReaches(offset))
            return Failure(CutOutcome::SourceTooShort, state_.SourcePath);
        return std::nullopt;
    }

    const CutState& state_;
    CutWindow& window_;
    PieceStorage storage_;
    const PieceLayout* layout_;
    Descriptor source_;
    Descriptor folder_;
    std::optional<PieceFile> piece_;
    std::optional<PieceCopier> copier_;
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
                     const std::string& endMark, CutWindow& window, MediaPlayer& player,
                     const PieceStorage& storage, const std::optional<PieceLayout>& layout) {
    window.setBusyPointer(true);
    LockSplitFields(fields, true);
    WindowRestorer restorer(fields, window);

    state.SourceName = FileNameOf(paths.sourceText);
    state.SourcePath = paths.sourceText;
    state.DestDir = paths.destText;

    PartCopy copy(state, window, storage, layout);
    CutReport report = copy.run();
    if (report.ok())
        report = copy.syncPiece();
    copy.closeSource();
    restorer.restore();

    if (report.ok())
        report = copy.keepPiece();
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
