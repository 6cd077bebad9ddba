#include "core/PieceFile.h"

#include "core/CutState.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace quavera {

namespace {

constexpr int kKeptIndex = 1;
constexpr int kTemporaryNameAttempts = 16;
constexpr std::string_view kTemporarySuffix = ".tmp";
constexpr std::size_t kTagDigits = 12;

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

// A hidden temporary of the kept part, created under a shared lock on its folder and locked
// before that lock is let go, so the sweep never meets it unlocked. Nothing when it cannot be
// created or locked; errno tells why.
std::optional<std::pair<Descriptor, std::string>> CreateNamedTemporary(int folder) {
    const bool folderLocked = LockBriefly(folder, LOCK_SH);
    int failure = EEXIST;
    std::optional<std::pair<Descriptor, std::string>> created;
    for (int attempt = 0; attempt < kTemporaryNameAttempts && failure == EEXIST; ++attempt) {
        std::string name = TemporaryName(kKeptIndex);
        Descriptor file(
            ::openat(folder, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666));
        if (!file) {
            failure = errno;
            continue;
        }
        if (::flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
            failure = errno;
            ::unlinkat(folder, name.c_str(), 0);
            break;
        }
        created.emplace(std::move(file), std::move(name));
        break;
    }
    if (folderLocked)
        ::flock(folder, LOCK_UN);
    errno = failure;
    return created;
}

// Copies the rest of `from` into `to` by plain reads and writes, from the offsets given.
bool CopyByReading(int from, loff_t fromOffset, int to, loff_t toOffset) {
    std::vector<char> buffer(std::size_t{1} << 20);
    for (;;) {
        const ssize_t got = ::pread(from, buffer.data(), buffer.size(), fromOffset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return got == 0;
        fromOffset += got;
        for (ssize_t written = 0; written < got;) {
            const ssize_t put = ::pwrite(to, buffer.data() + written,
                                         static_cast<std::size_t>(got - written), toOffset);
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0)
                return false;
            written += put;
            toOffset += put;
        }
    }
}

// Copies every byte of `from` into `to` from their starts, in the kernel where it can; errno
// tells why it failed. A kernel or file system that cannot copy between these files (old
// kernels, some network and FUSE file systems) leaves the copy to plain reads and writes.
bool CopyWhole(PieceFile::KernelCopy kernelCopy, int from, int to) {
    loff_t fromOffset = 0;
    loff_t toOffset = 0;
    for (;;) {
        const ssize_t copied =
            kernelCopy(from, &fromOffset, to, &toOffset, std::size_t{1} << 30, 0);
        if (copied < 0 && errno == EINTR)
            continue;
        if (copied < 0 &&
            (errno == ENOSYS || errno == EXDEV || errno == EOPNOTSUPP || errno == EINVAL))
            return CopyByReading(from, fromOffset, to, toOffset);
        if (copied <= 0)
            return copied == 0;
    }
}

} // namespace

std::optional<PieceFile> PieceFile::Create(int folder, const Options& options) {
    if (options.unnamed) {
        Descriptor file(::openat(folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666));
        if (file) {
            if (::flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
                const int failure = errno;
                file.reset();
                errno = failure;
                return std::nullopt;
            }
            return PieceFile(folder, std::move(file), {}, options);
        }
        // No unnamed files here: fall back to a named temporary, which tells the real failure
        // when there is one.
    }
    auto created = CreateNamedTemporary(folder);
    if (!created)
        return std::nullopt;
    return PieceFile(folder, std::move(created->first), std::move(created->second), options);
}

PieceFile::PieceFile(int folder, Descriptor file, std::string temporary, const Options& options)
    : folder_(folder), file_(std::move(file)), temporary_(std::move(temporary)),
      descriptorLinks_(options.descriptorLinks), kernelCopy_(options.kernelCopy) {}

PieceFile::PieceFile(PieceFile&& other) noexcept
    : folder_(other.folder_), file_(std::move(other.file_)),
      temporary_(std::exchange(other.temporary_, {})),
      descriptorLinks_(std::move(other.descriptorLinks_)), kernelCopy_(other.kernelCopy_) {}

bool PieceFile::sync() const {
    return ::fsync(file_.get()) == 0;
}

bool PieceFile::keepAs(const std::string& finalName) {
    if (temporary_.empty()) {
        // An unnamed file: linked straight to the final name when that is free.
        if (link(finalName))
            return true;
        if (!nameTheUnnamed())
            return false;
    }
    if (::renameat(folder_, temporary_.c_str(), folder_, finalName.c_str()) != 0)
        return false;
    temporary_.clear();
    return true;
}

void PieceFile::discard() {
    file_.reset();
    if (!temporary_.empty()) {
        ::unlinkat(folder_, temporary_.c_str(), 0);
        temporary_.clear();
    }
}

// The unnamed file gets `name` through its link among the descriptors, which needs no privilege.
bool PieceFile::link(const std::string& name) const {
    const std::string self = descriptorLinks_ + "/" + std::to_string(file_.get());
    return ::linkat(AT_FDCWD, self.c_str(), folder_, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

// Gives the unnamed file a temporary name for the rename that replaces the final one: linkat
// cannot replace a file. Where it cannot be linked at all (no /proc, a file system that refuses),
// the piece is copied into a named temporary instead.
bool PieceFile::nameTheUnnamed() {
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        std::string name = TemporaryName(kKeptIndex);
        if (link(name)) {
            temporary_ = std::move(name);
            return true;
        }
        if (errno != EEXIST)
            return copyIntoNamedTemporary();
    }
    return false;
}

bool PieceFile::copyIntoNamedTemporary() {
    auto created = CreateNamedTemporary(folder_);
    if (!created)
        return false;
    auto& [file, name] = *created;
    if (!CopyWhole(kernelCopy_, file_.get(), file.get()) || ::fsync(file.get()) != 0) {
        const int failure = errno;
        ::unlinkat(folder_, name.c_str(), 0);
        errno = failure;
        return false;
    }
    file_ = std::move(file);
    temporary_ = std::move(name);
    return true;
}

void RemoveLeftoverTemporaries(int folder) {
    if (::flock(folder, LOCK_EX | LOCK_NB) != 0)
        return; // another cut is creating its temporary here, or the folder cannot be locked
    std::vector<std::string> names;
    // A descriptor of its own for the listing, which closedir closes; not passed to programs
    // started meanwhile.
    const int listingFd = ::fcntl(folder, F_DUPFD_CLOEXEC, 0);
    if (DIR* listing = listingFd >= 0 ? ::fdopendir(listingFd) : nullptr) {
        while (const dirent* entry = ::readdir(listing)) {
            if (IsTemporaryName(entry->d_name))
                names.emplace_back(entry->d_name);
        }
        ::closedir(listing);
    } else if (listingFd >= 0) {
        ::close(listingFd);
    }
    for (const auto& name : names)
        RemoveIfAbandoned(folder, name);
    ::flock(folder, LOCK_UN);
}

} // namespace quavera
