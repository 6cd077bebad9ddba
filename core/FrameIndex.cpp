#include "core/FrameIndex.h"

#include "core/Descriptor.h"
#include "core/MpegHeader.h"
#include "core/PathText.h"

#include <algorithm>
#include <array>
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

// Headers in a row that make a stream when sync has to be found in unknown bytes, as GStreamer's
// parser asks: one valid header in junk or a picture is common, three in a row of one kind are
// not. Layer I frames are short enough for three false ones to turn up in junk, which the parser
// then plays as noise; we ask one more of them.
constexpr int kSyncHeaders = 3;
constexpr int kLayerOneSyncHeaders = 4;
// The decoder's own delay, which the player leaves out together with the encoder's.
constexpr std::uint32_t kDecoderDelaySamples = 529;
constexpr std::size_t kReadBytes = 1 << 18;
// Far enough to find the next header of any free-format frame the parser accepts.
constexpr std::size_t kFreeFormatSearchBytes = 20000;

// A sliding window over the file, refilled by large reads as the walk moves on. A refill keeps
// the bytes it already holds, so a walk from the front to the back reads each byte once.
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
        if (!holds(offset, count) && !fill(offset, count))
            return {};
        return {buffer_.data() + (offset - start_), count};
    }
    // Whatever the window holds from `offset` on, after one refill when it holds nothing there.
    std::span<const std::uint8_t> from(std::int64_t offset) {
        if (offset < 0 || offset >= size_)
            return {};
        if (!holds(offset, 1) && !fill(offset, kReadBytes))
            return {};
        return {buffer_.data() + (offset - start_),
                static_cast<std::size_t>(start_ + static_cast<std::int64_t>(filled_) - offset)};
    }
    [[nodiscard]] bool failed() const { return failed_; }

private:
    [[nodiscard]] bool holds(std::int64_t offset, std::size_t count) const {
        return offset >= start_ && offset + static_cast<std::int64_t>(count) <=
                                       start_ + static_cast<std::int64_t>(filled_);
    }

    bool fill(std::int64_t offset, std::size_t count) {
        if (failed_ || stop_.stop_requested()) {
            failed_ = true;
            return false;
        }
        count = static_cast<std::size_t>(std::min<std::int64_t>(
            static_cast<std::int64_t>(std::max(count, kReadBytes)), size_ - offset));
        std::size_t kept = 0;
        if (offset >= start_ && offset < start_ + static_cast<std::int64_t>(filled_)) {
            kept = filled_ - static_cast<std::size_t>(offset - start_);
            std::memmove(buffer_.data(), buffer_.data() + (offset - start_), kept);
        }
        buffer_.resize(std::max(buffer_.size(), count));
        start_ = offset;
        filled_ = kept + ReadFully(fd_, buffer_.data() + kept, count - kept,
                                   offset + static_cast<std::int64_t>(kept));
        // Short: an error, or the file became shorter while it was read.
        failed_ = filled_ < count;
        return !failed_;
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

// Walks one file's frames from the tags in front to the tags at the end, taking and leaving
// frames as GStreamer's MPEG audio parser does.
class FrameWalker {
public:
    FrameWalker(FileWindow& window, FrameIndex& index) : window_(window), index_(index) {}

    void walk() {
        if (!BeginsAsOtherFormat(window_.at(0, 12))) {
            const std::int64_t begin = afterLeadingTags();
            limit_ = beforeTrailingTags(begin);
            walkFrames(begin);
        }
        // "No audio" is an answer too; only a read that did not finish leaves none.
        index_.complete_ = !window_.failed();
    }

private:
    struct Found {
        std::int64_t position;
        FrameHeader header;
        std::uint32_t length;
    };
    enum class Check { Valid, Invalid, OutOfData };

    void walkFrames(std::int64_t position) {
        bool inSync = false;
        while (position + 4 <= limit_) {
            if (inSync) {
                const auto header = ParseHeader(window_.at(position, 4));
                if (header && SameStream(*header, *stream_)) {
                    if (header->bitrate == 0 && freeRate_ == 0)
                        freeRate_ = findFreeRate(position, *header);
                    const std::uint32_t length =
                        FrameLength(*header, header->bitrate != 0 ? header->bitrate : freeRate_);
                    if (length != 0) {
                        if (!take(position, *header, length))
                            return;
                        position += length;
                        continue;
                    }
                }
            }
            // Lost sync (junk or a damaged frame), or a new stream begins right here: a change
            // of sampling rate, layer or channels.
            const auto found = findStream(position, !inSync);
            if (!found)
                return;
            stream_ = found->header;
            inSync = true;
            if (!take(found->position, found->header, found->length))
                return;
            position = found->position + found->length;
        }
    }

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

    // Lyrics3 version 1 holds no size: its start is the last "LYRICSBEGIN" before at most 5,100
    // bytes of lyrics.
    std::int64_t lyricsVersion1Start(std::int64_t limit) {
        constexpr std::int64_t kBeginBytes = 11;
        constexpr std::int64_t kEndBytes = 9;
        constexpr std::int64_t kMostLyrics = 5100;
        const std::int64_t from =
            std::max<std::int64_t>(0, limit - kEndBytes - kMostLyrics - kBeginBytes);
        const auto bytes = window_.at(from, static_cast<std::size_t>(limit - kEndBytes - from));
        const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        const auto found = text.rfind("LYRICSBEGIN");
        return found == std::string_view::npos ? limit : from + static_cast<std::int64_t>(found);
    }

    // The first offset from `from` on where a stream begins. Candidates need the headers that
    // follow them to agree; where the audio ends before they can, a candidate counts unless it
    // changes the stream after lost sync. `lostAtFrom`: sync was lost before `from` already.
    std::optional<Found> findStream(std::int64_t from, bool lostAtFrom) {
        for (std::int64_t position = from; position + 4 <= limit_;) {
            const auto bytes = window_.from(position);
            if (bytes.empty())
                return std::nullopt;
            const std::size_t span = static_cast<std::size_t>(
                std::min<std::int64_t>(static_cast<std::int64_t>(bytes.size()), limit_ - position));
            const auto* found =
                static_cast<const std::uint8_t*>(std::memchr(bytes.data(), 0xFF, span));
            if (!found) {
                position += static_cast<std::int64_t>(span);
                continue;
            }
            position += found - bytes.data();
            const auto header = ParseHeader(window_.at(position, 4));
            if (!header) {
                ++position;
                continue;
            }
            const bool lost = lostAtFrom || position != from;
            if (lost)
                freeRate_ = 0;
            if (header->bitrate == 0 && freeRate_ == 0)
                freeRate_ = findFreeRate(position, *header);
            const std::uint32_t length =
                FrameLength(*header, header->bitrate != 0 ? header->bitrate : freeRate_);
            if (length == 0) {
                ++position;
                continue;
            }
            const bool newStream = !stream_ || !SameStream(*header, *stream_);
            if (lost || newStream) {
                const Check check = followers(position, *header, length);
                // The parser passes over the byte after a refused candidate too.
                if (check == Check::Invalid ||
                    (check == Check::OutOfData && lost && newStream && stream_)) {
                    position += 2;
                    continue;
                }
            }
            return Found{position, *header, length};
        }
        return std::nullopt;
    }

    // Whether the headers after the frame at `position` agree with it.
    Check followers(std::int64_t position, const FrameHeader& first, std::uint32_t length) {
        const int needed = first.layer == 1 ? kLayerOneSyncHeaders : kSyncHeaders;
        std::int64_t next = position + length;
        for (int count = 1; count < needed; ++count) {
            if (next + 4 > limit_)
                return Check::OutOfData;
            const auto header = ParseHeader(window_.at(next, 4));
            if (!header || !SameKind(*header, first))
                return Check::Invalid;
            const std::uint32_t nextLength =
                FrameLength(*header, header->bitrate != 0 ? header->bitrate : freeRate_);
            if (nextLength == 0)
                return Check::Invalid;
            next += nextLength;
        }
        return Check::Valid;
    }

    // A free-format stream's bit rate, from the distance to the next header of its kind, rounded
    // down to whole kbit/s as GStreamer's parser does; 0 when there is none in reach.
    std::uint32_t findFreeRate(std::int64_t position, const FrameHeader& header) {
        const auto bytes = window_.at(position, kFreeFormatSearchBytes);
        const bool lowRate = header.version != 3;
        const std::uint32_t padding = header.padding ? 1 : 0;
        for (std::size_t offset = 4; offset + 4 <= bytes.size() &&
                                     position + static_cast<std::int64_t>(offset) + 4 <= limit_;
             ++offset) {
            const auto next = ParseHeader(bytes.subspan(offset, 4));
            const bool valid = next && SameKind(*next, header);
            const std::uint64_t rate =
                header.layer == 1
                    ? std::uint64_t{header.sampleRate} * (offset - 4 * padding + 4) / 48000
                    : std::uint64_t{header.sampleRate} * (offset - padding + 1) /
                          (lowRate ? 72 : 144) / 1000;
            if (valid) {
                if (rate < 8)
                    continue;
                if (header.layer == 3 && rate > 640)
                    return 0;
                return static_cast<std::uint32_t>(rate * 1000);
            }
            if (rate > 1000)
                return 0;
        }
        return 0;
    }

    // Takes the frame at `position` into the index, unless it is cut off by the end of the audio
    // (the player drops it, and nothing follows) or is an encoder's information frame.
    bool take(std::int64_t position, const FrameHeader& header, std::uint32_t length) {
        if (position + length > limit_ || position > std::numeric_limits<std::uint32_t>::max())
            return false;
        const bool first = !handled_;
        const bool newStream = handled_ && !SameStream(header, *handled_);
        handled_ = header;
        if (isInformationFrame(position, header, length, first))
            return true;
        auto& runs = index_.runs_;
        const auto frameNumber = static_cast<std::uint32_t>(index_.frameOffsets_.size());
        // The parser times the frame on which the stream changes by the stream before it.
        const bool timedAsBefore = newStream && !runs.empty();
        if (!timedAsBefore && (runs.empty() || runs.back().samplesPerFrame != header.samples ||
                               runs.back().sampleRate != header.sampleRate)) {
            const double start = runs.empty() ? 0.0 : runs.back().secondsAt(frameNumber);
            runs.push_back({frameNumber, header.samples, header.sampleRate, start});
        }
        index_.frameOffsets_.push_back(static_cast<std::uint32_t>(position));
        index_.audioEnd_ = position + length;
        return true;
    }

    // A Xing or Info frame: the encoder's summary, decoded by nobody, wherever it stands (files
    // joined end to end hold several). The first frame's may carry LAME's tag, which declares
    // the encoder delay and padding that the player leaves out. A VBRI frame is audio to the
    // player, and so to us.
    bool isInformationFrame(std::int64_t position, const FrameHeader& header, std::uint32_t length,
                            bool first) {
        // Like the parser, read on past a frame too short to hold the whole tag.
        constexpr std::size_t kLongestTagBytes = 256;
        const auto frame = window_.at(position, std::max<std::size_t>(length, kLongestTagBytes));
        const std::size_t tag = InformationTagOffset(header);
        if (!StartsWith(frame, "Xing", tag) && !StartsWith(frame, "Info", tag))
            return false;
        if (!first || frame.size() < tag + 8)
            return true;
        const std::uint32_t flags = BigEndian32(frame, tag + 4);
        std::size_t lame = tag + 8;
        lame += (flags & 0x1 ? 4 : 0) + (flags & 0x2 ? 4 : 0) + (flags & 0x4 ? 100 : 0) +
                (flags & 0x8 ? 4 : 0);
        const std::uint32_t frames =
            (flags & 0x1) != 0 && frame.size() >= tag + 12 ? BigEndian32(frame, tag + 8) : 0;
        // Only a tag named "LAME" counts: the player trims no other encoder's delay.
        if (frames != 0 && frame.size() >= lame + 36 && StartsWith(frame, "LAME", lame)) {
            const std::uint32_t delay =
                (std::uint32_t{frame[lame + 21]} << 4) | (frame[lame + 22] >> 4);
            const std::uint32_t padding =
                ((std::uint32_t{frame[lame + 22]} & 0xF) << 8) | frame[lame + 23];
            index_.skipSamples_ = delay + kDecoderDelaySamples;
            index_.paddingSamples_ = padding;
            index_.declaredFrames_ = frames;
        }
        return true;
    }

    FileWindow& window_;
    std::int64_t limit_ = 0;
    FrameIndex& index_;
    std::optional<FrameHeader> stream_;  // the stream of the last frame taken
    std::uint32_t freeRate_ = 0;         // bit rate of the free-format stream in sync
    std::optional<FrameHeader> handled_; // the last frame taken or dropped
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

std::uint32_t FrameIndex::samplesPerFrame() const {
    return runs_.empty() ? 0 : runs_.front().samplesPerFrame;
}

std::uint32_t FrameIndex::sampleRate() const {
    return runs_.empty() ? 0 : runs_.front().sampleRate;
}

const FrameIndex::Run& FrameIndex::runOf(std::size_t frame) const {
    return *std::prev(
        std::upper_bound(runs_.begin(), runs_.end(), frame,
                         [](std::size_t each, const Run& run) { return each < run.firstFrame; }));
}

// GStreamer's parser moves every frame back by the skip. It numbers frames by their time at the
// present rate; frames past the number LAME's tag declares (another file joined on) follow on
// from the declared end, so they move back by the padding too, and the declared frames that lie
// wholly in the padding all sit at the declared end.
double FrameIndex::shiftSeconds(std::size_t frame) const {
    if (skipSamples_ == 0)
        return 0;
    const Run& first = runs_.front();
    const Run& run = runOf(frame);
    const double rawSeconds = run.secondsAt(frame);
    const auto number =
        static_cast<std::int64_t>(rawSeconds * run.sampleRate / run.samplesPerFrame + 1e-6);
    const std::int64_t samplePosition = number * run.samplesPerFrame;
    const std::int64_t sampleEnd = samplePosition + run.samplesPerFrame;
    const std::int64_t skip = skipSamples_;
    const std::int64_t declared = std::int64_t{declaredFrames_} * first.samplesPerFrame;
    const std::int64_t audioEnd = declared + kDecoderDelaySamples - paddingSamples_;
    double shift = double(skip) / first.sampleRate;
    if (samplePosition > skip && sampleEnd < audioEnd)
        return shift;
    if (number >= std::int64_t{declaredFrames_})
        shift += double(declared - audioEnd) / first.sampleRate;
    else if (sampleEnd > skip && samplePosition > skip && samplePosition >= audioEnd)
        shift += double(samplePosition - audioEnd) / run.sampleRate;
    return shift;
}

double FrameIndex::frameSeconds(std::size_t frame) const {
    return std::max(0.0, runOf(frame).secondsAt(frame) - shiftSeconds(frame));
}

double FrameIndex::durationSeconds() const {
    if (runs_.empty())
        return 0;
    const std::size_t last = frameOffsets_.size() - 1;
    const double rawEnd = runs_.back().secondsAt(frameOffsets_.size());
    if (skipSamples_ == 0)
        return rawEnd;
    const Run& first = runs_.front();
    const Run& run = runOf(last);
    const auto number = static_cast<std::int64_t>(
        run.secondsAt(last) * run.sampleRate / run.samplesPerFrame + 1e-6);
    if (number >= std::int64_t{declaredFrames_})
        return std::max(0.0, rawEnd - shiftSeconds(last));
    // The declared audio ends before the padding.
    const double audioEnd = double(std::int64_t{declaredFrames_} * first.samplesPerFrame +
                                   kDecoderDelaySamples - paddingSamples_) /
                            first.sampleRate;
    return std::max(0.0, std::min(rawEnd, audioEnd) - double(skipSamples_) / first.sampleRate);
}

FrameIndex::Position FrameIndex::FrameAt(double seconds) const {
    if (runs_.empty() || !(seconds < durationSeconds()))
        return {frameOffsets_.size(), 0};
    // A hair over, so that a moment on a frame's first sample is not taken for the frame before.
    const double moment = std::max(seconds, 0.0) + 1e-9;
    std::size_t low = 1;
    std::size_t high = frameOffsets_.size();
    while (low < high) { // the first frame that begins after the moment
        const std::size_t middle = low + (high - low) / 2;
        if (frameSeconds(middle) > moment)
            high = middle;
        else
            low = middle + 1;
    }
    const std::size_t frame = low - 1;
    const Run& run = runOf(frame);
    const double intoFrame =
        (std::max(seconds, 0.0) + shiftSeconds(frame) - run.secondsAt(frame)) * run.sampleRate;
    const double sample =
        std::clamp(std::floor(intoFrame + 1e-6), 0.0, double(run.samplesPerFrame - 1));
    return {frame, static_cast<std::uint32_t>(sample)};
}

std::int64_t FrameIndex::OffsetAt(double seconds) const {
    const Position position = FrameAt(seconds);
    return position.frame < frameOffsets_.size() ? frameOffsets_[position.frame] : audioEnd_;
}

FrameIndex::Frames FrameIndex::FramesBetween(double fromSeconds, double toSeconds,
                                             std::size_t leadFrames) const {
    if (runs_.empty())
        return {};
    const std::size_t last = frameOffsets_.size() - 1;
    const std::size_t first = std::min(FrameAt(fromSeconds).frame, last);
    const std::size_t begin = first - std::min(first, leadFrames);
    // The frame that plays at `toSeconds` is wanted whole.
    const std::size_t end = std::max(FrameAt(toSeconds).frame + 1, begin + 1);
    return {frameOffsets_[begin], end < frameOffsets_.size() ? frameOffsets_[end] : audioEnd_,
            runOf(begin).secondsAt(begin) - shiftSeconds(begin)};
}

} // namespace quavera
