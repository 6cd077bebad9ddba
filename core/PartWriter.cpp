#include "core/PartWriter.h"

#include "core/Descriptor.h"
#include "core/NumberText.h"
#include "core/PathText.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <random>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
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
constexpr int kTemporaryNameAttempts = 16;
constexpr std::size_t kPageBytes = 4096;
constexpr std::string_view kTemporarySuffix = ".tmp";
constexpr std::size_t kTagDigits = 12;

std::string SystemReason(int errorNumber) {
    return std::generic_category().message(errorNumber);
}

CutReport Failure(CutOutcome outcome, std::string file, std::string reason = {}) {
    return CutReport{outcome, std::move(file), std::move(reason)};
}

std::string RandomTag() {
    static std::mt19937_64 generator{std::random_device{}()};
    static constexpr char kHex[] = "0123456789abcdef";
    std::uint64_t bits = generator();
    std::string tag(kTagDigits, '0');
    for (char& digit : tag) {
        digit = kHex[bits & 0xF];
        bits >>= 4;
    }
    return tag;
}

std::string TemporaryPrefix() {
    return std::string(".") + kPartNamePrefix;
}

std::string TemporaryName(int index) {
    return TemporaryPrefix() + std::to_string(index) + "." + RandomTag() +
           std::string(kTemporarySuffix);
}

// Exactly the names TemporaryName makes, for any of the three parts (earlier versions of the
// program wrote all three).
bool IsTemporaryName(std::string_view name) {
    const std::string prefix = TemporaryPrefix();
    if (name.size() != prefix.size() + 2 + kTagDigits + kTemporarySuffix.size() ||
        !name.starts_with(prefix) || !name.ends_with(kTemporarySuffix))
        return false;
    const std::string_view rest = name.substr(prefix.size());
    const auto isHex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); };
    return rest[0] >= '0' && rest[0] <= '2' && rest[1] == '.' &&
           std::all_of(rest.begin() + 2, rest.begin() + 2 + kTagDigits, isHex);
}

// Takes a flock without waiting forever: only a sweep holds a folder's exclusive lock, and only
// for as long as it looks at the folder's names.
bool LockBriefly(int fd, int operation) {
    using namespace std::chrono_literals;
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (::flock(fd, operation | LOCK_NB) == 0)
            return true;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

// Removes `name` from the folder when it is a regular file that nobody holds locked.
void RemoveIfAbandoned(int folder, const std::string& name) {
    const Descriptor file(
        ::openat(folder, name.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat opened {};
    if (!file || ::fstat(file.get(), &opened) != 0 || !S_ISREG(opened.st_mode))
        return;
    if (::flock(file.get(), LOCK_EX | LOCK_NB) != 0)
        return; // a running cut is writing it
    struct stat named {};
    if (::fstatat(folder, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        named.st_dev == opened.st_dev && named.st_ino == opened.st_ino)
        ::unlinkat(folder, name.c_str(), 0);
}

void RemoveLeftoverTemporaries(int folder) {
    if (::flock(folder, LOCK_EX | LOCK_NB) != 0)
        return; // another cut is creating its temporary here, or the folder cannot be locked
    std::vector<std::string> names;
    if (DIR* listing = ::fdopendir(::dup(folder))) {
        while (const dirent* entry = ::readdir(listing)) {
            if (IsTemporaryName(entry->d_name))
                names.emplace_back(entry->d_name);
        }
        ::closedir(listing);
    }
    for (const auto& name : names)
        RemoveIfAbandoned(folder, name);
    ::flock(folder, LOCK_UN);
}

// The kept piece on its way into its folder: an unnamed file where the file system offers one,
// else a hidden temporary. Locked from before it has a name (see WriteParts).
class PieceFile {
public:
    // errno tells why it failed.
    static std::optional<PieceFile> Create(int folder, bool unnamed) {
        if (unnamed) {
            Descriptor file(::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
            if (file) {
                ::flock(file.get(), LOCK_EX | LOCK_NB);
                return PieceFile(folder, std::move(file), {});
            }
            // No unnamed files here: fall back to a named temporary, which tells the real
            // failure when there is one.
        }
        const bool folderLocked = LockBriefly(folder, LOCK_SH);
        int failure = EEXIST;
        std::optional<PieceFile> created;
        for (int attempt = 0; attempt < kTemporaryNameAttempts && failure == EEXIST; ++attempt) {
            std::string name = TemporaryName(kKeptIndex);
            Descriptor file(::openat(folder, name.c_str(),
                                     O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666));
            if (file) {
                ::flock(file.get(), LOCK_EX | LOCK_NB);
                created.emplace(PieceFile(folder, std::move(file), std::move(name)));
                break;
            }
            failure = errno;
        }
        if (folderLocked)
            ::flock(folder, LOCK_UN);
        errno = failure;
        return created;
    }

    PieceFile(PieceFile&& other) noexcept
        : folder_(other.folder_), file_(std::move(other.file_)),
          temporary_(std::exchange(other.temporary_, {})) {}
    PieceFile& operator=(PieceFile&&) = delete;
    ~PieceFile() { discard(); }

    [[nodiscard]] int fd() const { return file_.get(); }

    // Makes the piece's data reach the disk; errno tells why it did not.
    [[nodiscard]] bool sync() const { return ::fsync(file_.get()) == 0; }

    // Gives the piece `finalName` in its folder, replacing whatever had it (atomically, so the
    // result holds exactly the piece); errno tells why it failed.
    [[nodiscard]] bool keepAs(const std::string& finalName) {
        if (temporary_.empty()) {
            // An unnamed file: linked straight to the final name when that is free; linkat
            // cannot replace a file, so otherwise through a temporary name and a rename.
            if (link(finalName))
                return true;
            if (errno != EEXIST)
                return false;
            for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
                std::string name = TemporaryName(kKeptIndex);
                if (link(name)) {
                    temporary_ = std::move(name);
                    break;
                }
                if (errno != EEXIST)
                    return false;
            }
            if (temporary_.empty())
                return false;
        }
        if (::renameat(folder_, temporary_.c_str(), folder_, finalName.c_str()) != 0)
            return false;
        temporary_.clear();
        return true;
    }

    // Closes the piece and removes its temporary name unless it has been kept.
    void discard() {
        file_.reset();
        if (!temporary_.empty()) {
            ::unlinkat(folder_, temporary_.c_str(), 0);
            temporary_.clear();
        }
    }

private:
    PieceFile(int folder, Descriptor file, std::string temporary)
        : folder_(folder), file_(std::move(file)), temporary_(std::move(temporary)) {}

    // The unnamed file gets `name` through its /proc link, which needs no privilege.
    [[nodiscard]] bool link(const std::string& name) const {
        const std::string self = "/proc/self/fd/" + std::to_string(file_.get());
        return ::linkat(AT_FDCWD, self.c_str(), folder_, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
    }

    int folder_;
    Descriptor file_;
    std::string temporary_; // the piece's name in the folder until it is kept; empty if unnamed
};

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
    PartCopy(const CutState& state, CutWindow& window, const PieceStorage& storage)
        : state_(state), window_(window), storage_(storage) {}

    [[nodiscard]] CutReport run() {
        if (auto refusal = refusePlan())
            return *refusal;

        source_ = Descriptor(
            ::open(state_.SourcePath.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
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
        folder_ = Descriptor(::open(folderText.empty() ? "." : folderText.c_str(),
                                    O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!folder_)
            return Failure(CutOutcome::PartUnwritable, partName, SystemReason(errno));
        RemoveLeftoverTemporaries(folder_.get());
        auto created = PieceFile::Create(folder_.get(), storage_.unnamedTemporary);
        if (!created)
            return Failure(CutOutcome::PartUnwritable, partName, SystemReason(errno));
        piece_.emplace(std::move(*created));
        copier_.emplace(source_.get(), piece_->fd(),
                        state_.PartSizes[static_cast<std::size_t>(kKeptIndex)],
                        storage_.syncToDisk);
        return std::nullopt;
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
        std::int64_t copied = offset; // the source offset up to which the piece has its bytes
        auto copyCounted = [&](std::int64_t count) -> std::optional<CutReport> {
            int errorNumber = 0;
            switch (copier_->copy(copied, count, errorNumber)) {
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
                     const PieceStorage& storage) {
    window.setBusyPointer(true);
    LockSplitFields(fields, true);
    WindowRestorer restorer(fields, window);

    state.SourceName = FileNameOf(paths.sourceText);
    state.SourcePath = paths.sourceText;
    state.DestDir = paths.destText;

    PartCopy copy(state, window, storage);
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
