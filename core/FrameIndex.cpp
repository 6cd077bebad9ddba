#include "core/FrameIndex.h"

#include "core/Descriptor.h"
#include "core/MpegHeader.h"
#include "core/PathText.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <span>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace quavera {

using namespace mpeg;

namespace {

// Consecutive frames that make a stream when sync has to be found in unknown bytes: one valid
// header in junk or a picture is common, four in a row of one kind are not.
constexpr int kSyncFrames = 4;
// The decoder's own delay, which the player leaves out together with the encoder's.
constexpr std::uint32_t kDecoderDelaySamples = 529;
constexpr std::size_t kReadBytes = 1 << 18;

// A sliding window over the file, refilled by large reads as the walk moves on.
class FileWindow {
public:
    FileWindow(int fd, std::int64_t size, std::stop_token stop)
        : fd_(fd), size_(size), stop_(std::move(stop)) {}

    // The bytes from `offset` on, at most `count` of them; fewer at the end of the file, none
    // when reading fails or a stop is requested.
    std::span<const std::uint8_t> at(std::int64_t offset, std::size_t count) {
        if (offset < 0 || offset >= size_)
            return {};
        count = static_cast<std::size_t>(
            std::min<std::int64_t>(static_cast<std::int64_t>(count), size_ - offset));
        if (offset < start_ || offset + static_cast<std::int64_t>(count) >
                                   start_ + static_cast<std::int64_t>(filled_)) {
            if (!fill(offset, std::max(count, kReadBytes)))
                return {};
        }
        return {buffer_.data() + (offset - start_), count};
    }
    [[nodiscard]] bool failed() const { return failed_; }

private:
    bool fill(std::int64_t offset, std::size_t count) {
        if (failed_ || stop_.stop_requested()) {
            failed_ = true;
            return false;
        }
        count = static_cast<std::size_t>(
            std::min<std::int64_t>(static_cast<std::int64_t>(count), size_ - offset));
        buffer_.resize(std::max(buffer_.size(), count));
        start_ = offset;
        filled_ = 0;
        while (filled_ < count) {
            const ssize_t got = ::pread(fd_, buffer_.data() + filled_, count - filled_,
                                        offset + static_cast<std::int64_t>(filled_));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) { // an error, or the file became shorter while it was read
                failed_ = true;
                return false;
            }
            filled_ += static_cast<std::size_t>(got);
        }
        return true;
    }

    int fd_;
    std::int64_t size_;
    std::stop_token stop_;
    std::vector<std::uint8_t> buffer_;
    std::int64_t start_ = 0;
    std::size_t filled_ = 0;
    bool failed_ = false;
};

} // namespace

// Walks one file's frames from the tags in front to the tags at the end.
class FrameWalker {
public:
    FrameWalker(FileWindow& window, FrameIndex& index) : window_(window), index_(index) {}

    void walk() {
        if (BeginsAsOtherFormat(window_.at(0, 12)))
            return;
        const std::int64_t begin = afterLeadingTags();
        limit_ = beforeTrailingTags(begin);
        std::optional<std::int64_t> position = findStream(begin, true);
        if (!position)
            return;
        const auto first = ParseHeader(window_.at(*position, 4));
        if (isInformationFrame(*position, *first))
            *position += first->length;
        stream_ = *first;

        while (*position + 4 <= limit_) {
            const auto header = ParseHeader(window_.at(*position, 4));
            if (header && SameStream(*header, stream_)) {
                if (!add(*position, *header))
                    return;
                *position += header->length;
                continue;
            }
            // Lost sync: junk or a damaged frame in the middle, or whatever follows the audio.
            position = findStream(*position + 1, false);
            if (!position)
                break;
            stream_ = *ParseHeader(window_.at(*position, 4));
        }
        index_.complete_ = !window_.failed();
    }

private:
    // ID3v2 tags in front, one after another, of any size, with or without a footer.
    std::int64_t afterLeadingTags() {
        std::int64_t position = 0;
        for (;;) {
            const auto tag = window_.at(position, 10);
            if (tag.size() < 10 || !StartsWith(tag, "ID3") || tag[3] == 0xFF || tag[4] == 0xFF)
                return position;
            const auto size = SyncSafe(tag, 6);
            if (!size)
                return position;
            const bool footer = (tag[5] & 0x10) != 0;
            position += 10 + *size + (footer ? 10 : 0);
        }
    }

    // ID3v1, APEv2, Lyrics3 and an appended ID3v2 tag at the end, in any order.
    std::int64_t beforeTrailingTags(std::int64_t begin) {
        std::int64_t limit = index_.identity_.size;
        for (bool stripped = true; stripped;) {
            stripped = false;
            const std::int64_t before = stripTag(limit);
            if (before < limit && before >= begin) {
                limit = before;
                stripped = true;
            }
        }
        return limit;
    }

    // Where the tag that ends at `limit` begins; `limit` when none does.
    std::int64_t stripTag(std::int64_t limit) {
        if (limit >= 128 && StartsWith(window_.at(limit - 128, 3), "TAG"))
            return limit - 128;
        if (limit >= 32) {
            const auto ape = window_.at(limit - 32, 32);
            if (ape.size() == 32 && StartsWith(ape, "APETAGEX")) {
                const bool hasHeader = (LittleEndian32(ape, 20) & 0x80000000u) != 0;
                return limit - LittleEndian32(ape, 12) - (hasHeader ? 32 : 0);
            }
        }
        if (limit >= 15) {
            const auto lyrics = window_.at(limit - 15, 15);
            if (lyrics.size() == 15 && StartsWith(lyrics, "LYRICS200", 6)) {
                std::int64_t size = 0;
                for (std::size_t i = 0; i < 6; ++i) {
                    if (lyrics[i] < '0' || lyrics[i] > '9')
                        return limit;
                    size = size * 10 + (lyrics[i] - '0');
                }
                const std::int64_t start = limit - 15 - size;
                return StartsWith(window_.at(start, 11), "LYRICSBEGIN") ? start : limit;
            }
            if (lyrics.size() == 15 && StartsWith(lyrics, "LYRICSEND", 6))
                return lyricsVersion1Start(limit);
        }
        if (limit >= 10) {
            const auto footer = window_.at(limit - 10, 10);
            if (footer.size() == 10 && StartsWith(footer, "3DI")) {
                if (const auto size = SyncSafe(footer, 6))
                    return limit - 20 - *size;
            }
        }
        return limit;
    }

    // Lyrics3 version 1 holds no size: its start is the last "LYRICSBEGIN" within 5,100 bytes.
    std::int64_t lyricsVersion1Start(std::int64_t limit) {
        const std::int64_t from = std::max<std::int64_t>(0, limit - 9 - 5100);
        const auto bytes = window_.at(from, static_cast<std::size_t>(limit - 9 - from));
        const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        const auto found = text.rfind("LYRICSBEGIN");
        return found == std::string_view::npos ? limit : from + static_cast<std::int64_t>(found);
    }

    // The first offset from `from` on where frames of one kind follow each other. A stream that
    // runs into the end of the audio counts with fewer frames; right after the tags in front
    // (`atStart`) even one frame does.
    std::optional<std::int64_t> findStream(std::int64_t from, bool atStart) {
        for (std::int64_t position = from; position + 4 <= limit_;) {
            const auto bytes = window_.at(position, kReadBytes);
            if (bytes.empty())
                return std::nullopt;
            const auto* found =
                static_cast<const std::uint8_t*>(std::memchr(bytes.data(), 0xFF, bytes.size()));
            if (!found) {
                position += static_cast<std::int64_t>(bytes.size());
                continue;
            }
            position += found - bytes.data();
            if (isStreamAt(position, atStart && position == from))
                return position;
            ++position;
        }
        return std::nullopt;
    }

    bool isStreamAt(std::int64_t position, bool lenient) {
        const auto first = ParseHeader(window_.at(position, 4));
        if (!first)
            return false;
        int count = 1;
        for (std::int64_t next = position + first->length;; ++count) {
            if (next + 4 > limit_)
                return next >= limit_ - 3 && (lenient || count >= 2);
            if (count == kSyncFrames)
                return true;
            const auto header = ParseHeader(window_.at(next, 4));
            if (!header || !SameStream(*header, *first))
                return false;
            next += header->length;
        }
    }

    // A Xing, Info or VBRI frame: the encoder's summary, decoded by nobody. LAME's extension of
    // it declares the encoder delay and padding that the player leaves out.
    bool isInformationFrame(std::int64_t position, const FrameHeader& header) {
        const auto frame = window_.at(position, header.length);
        if (StartsWith(frame, "VBRI", 36))
            return true;
        if (header.layer != 3)
            return false;
        // Where LAME and GStreamer put it, whatever the CRC bit.
        const std::size_t xing = 4 + SideInfoBytes(header);
        if (!StartsWith(frame, "Xing", xing) && !StartsWith(frame, "Info", xing))
            return false;
        if (frame.size() < xing + 8)
            return true;
        const std::uint32_t flags = BigEndian32(frame, xing + 4);
        std::size_t lame = xing + 8;
        lame += (flags & 0x1 ? 4 : 0) + (flags & 0x2 ? 4 : 0) + (flags & 0x4 ? 100 : 0) +
                (flags & 0x8 ? 4 : 0);
        if (frame.size() >= lame + 24 &&
            (StartsWith(frame, "LAME", lame) || StartsWith(frame, "Lavc", lame) ||
             StartsWith(frame, "Lavf", lame))) {
            const std::uint32_t delay =
                (std::uint32_t{frame[lame + 21]} << 4) | (frame[lame + 22] >> 4);
            const std::uint32_t padding =
                ((std::uint32_t{frame[lame + 22]} & 0xF) << 8) | frame[lame + 23];
            index_.skipSamples_ = delay + kDecoderDelaySamples;
            index_.paddingSamples_ = padding;
        }
        return true;
    }

    bool add(std::int64_t position, const FrameHeader& header) {
        if (position > std::numeric_limits<std::uint32_t>::max())
            return false;
        auto& runs = index_.runs_;
        const auto frameNumber = static_cast<std::uint32_t>(index_.frameOffsets_.size());
        if (runs.empty() || runs.back().samplesPerFrame != header.samples ||
            runs.back().sampleRate != header.sampleRate) {
            const double start = runs.empty() ? 0.0 : runs.back().secondsAt(frameNumber);
            runs.push_back({frameNumber, header.samples, header.sampleRate, start});
        }
        index_.frameOffsets_.push_back(static_cast<std::uint32_t>(position));
        index_.audioEnd_ = std::min(position + header.length, limit_);
        return true;
    }

    FileWindow& window_;
    std::int64_t limit_ = 0;
    FrameIndex& index_;
    FrameHeader stream_;
};

namespace {

FileIdentity IdentityFrom(const struct stat& status) {
    return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino),
            status.st_size, status.st_mtim.tv_sec * 1'000'000'000LL + status.st_mtim.tv_nsec};
}

} // namespace

std::optional<FileIdentity> IdentityOf(const std::string& pathText) {
    struct stat status {};
    if (pathText.empty() || ::stat(PathFromText(pathText).c_str(), &status) != 0 ||
        !S_ISREG(status.st_mode))
        return std::nullopt;
    return IdentityFrom(status);
}

FrameIndex FrameIndex::Read(const std::string& pathText, std::stop_token stop) {
    FrameIndex index;
    if (pathText.empty())
        return index;
    // Non-blocking, so that a FIFO put in the file's place cannot hold the open.
    const Descriptor file(
        ::open(PathFromText(pathText).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat status {};
    if (!file || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode))
        return index;
    index.identity_ = IdentityFrom(status);
    FileWindow window(file.get(), status.st_size, std::move(stop));
    FrameWalker(window, index).walk();
    if (!index.complete_) {
        index.frameOffsets_.clear();
        index.runs_.clear();
    }
    index.frameOffsets_.shrink_to_fit();
    return index;
}

std::int64_t FrameIndex::audioBegin() const {
    return frameOffsets_.empty() ? 0 : frameOffsets_.front();
}

double FrameIndex::durationSeconds() const {
    if (runs_.empty())
        return 0;
    const Run& last = runs_.back();
    const double raw = last.secondsAt(frameOffsets_.size());
    const std::uint32_t trimmed =
        skipSamples_ == 0 ? 0 : skipSamples_ - kDecoderDelaySamples + paddingSamples_;
    return std::max(0.0, raw - double(trimmed) / runs_.front().sampleRate);
}

std::int64_t FrameIndex::OffsetAt(double seconds) const {
    if (runs_.empty())
        return 0;
    const double raw = std::max(seconds, 0.0) + double(skipSamples_) / runs_.front().sampleRate;
    const auto run = std::prev(
        std::upper_bound(runs_.begin(), runs_.end(), raw,
                         [](double time, const Run& each) { return time < each.startSeconds; }));
    const std::size_t runEnd =
        std::next(run) == runs_.end() ? frameOffsets_.size() : std::next(run)->firstFrame;
    // A hair over, so that a moment on a frame's first sample is not taken for the frame before.
    const double frames =
        std::floor((raw - run->startSeconds) * run->sampleRate / run->samplesPerFrame + 1e-9);
    if (!(frames < double(runEnd - run->firstFrame)))
        return runEnd < frameOffsets_.size() ? frameOffsets_[runEnd] : audioEnd_;
    return frameOffsets_[run->firstFrame + static_cast<std::size_t>(frames)];
}

FrameIndex::SamplePosition FrameIndex::FrameAt(double seconds) const {
    if (runs_.empty())
        return {};
    const double rate = runs_.front().sampleRate;
    const double sample = std::round(std::max(seconds, 0.0) * rate) + skipSamples_;
    for (auto run = runs_.begin(); run != runs_.end(); ++run) {
        const std::size_t runEnd =
            std::next(run) == runs_.end() ? frameOffsets_.size() : std::next(run)->firstFrame;
        const double runStart = std::round(run->startSeconds * rate);
        const double runSamples = double(runEnd - run->firstFrame) * run->samplesPerFrame;
        if (sample < runStart + runSamples) {
            const double inRun = std::max(0.0, sample - runStart);
            const auto frames = static_cast<std::size_t>(inRun / run->samplesPerFrame);
            return {run->firstFrame + frames,
                    static_cast<std::uint32_t>(inRun - double(frames) * run->samplesPerFrame)};
        }
    }
    return {frameOffsets_.size(), 0};
}

const FrameIndex::Run& FrameIndex::runOf(std::size_t frame) const {
    return *std::prev(
        std::upper_bound(runs_.begin(), runs_.end(), frame,
                         [](std::size_t each, const Run& run) { return each < run.firstFrame; }));
}

} // namespace quavera
