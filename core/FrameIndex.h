#pragma once

#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace quavera {

// What tells one state of a file from another: a file replaced, rewritten or truncated after it
// was indexed differs in one of these.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedNanoseconds = 0;
    bool operator==(const FileIdentity&) const = default;
};

// The identity of a regular file; nothing for anything else or a path that cannot be read.
[[nodiscard]] std::optional<FileIdentity> IdentityOf(const std::string& pathText);

// Where the MPEG audio of a file lies, frame by frame, and which frame plays at a given moment
// of the player's clock. Tags at either end, junk before the first frame and the encoder's
// information frame are not audio.
//
// GStreamer's own parser finds these offsets too, but only inside its pipeline and only while it
// plays; the cut needs them for a file the player has merely opened, so we walk the headers here.
class FrameIndex {
public:
    // Reads a regular file once and indexes it; the index is empty (no audio) for anything that
    // is not a regular file, cannot be read, holds no MPEG audio frames, or begins as another
    // format the player would take for its own (WAV, Ogg, MP4, pictures). A stop request ends
    // the reading early and leaves the index incomplete.
    [[nodiscard]] static FrameIndex Read(const std::string& pathText, std::stop_token stop = {});

    [[nodiscard]] bool hasAudio() const { return !frameOffsets_.empty(); }
    [[nodiscard]] bool complete() const { return complete_; }
    [[nodiscard]] const FileIdentity& identity() const { return identity_; }
    [[nodiscard]] std::size_t frameCount() const { return frameOffsets_.size(); }
    [[nodiscard]] std::int64_t audioBegin() const;
    // Where the last frame ends; tags and junk after it are left out.
    [[nodiscard]] std::int64_t audioEnd() const { return audioEnd_; }
    // The length the player's clock runs to: with a LAME information frame the player leaves out
    // the encoder delay and padding it declares.
    [[nodiscard]] double durationSeconds() const;
    // The byte offset of the frame that plays at `seconds` on the player's clock; past the last
    // frame, audioEnd(). Needs audio.
    [[nodiscard]] std::int64_t OffsetAt(double seconds) const;

    // Where frame `frame` begins in the file; frame < frameCount().
    [[nodiscard]] std::int64_t frameOffset(std::size_t frame) const { return frameOffsets_[frame]; }
    // Samples the player leaves out at the start (encoder delay and the decoder's 529), and the
    // encoder's padding at the end, as the LAME information frame declares them; 0 without one.
    [[nodiscard]] std::uint32_t skipSamples() const { return skipSamples_; }
    [[nodiscard]] std::uint32_t paddingSamples() const { return paddingSamples_; }

    // A decoded sample: the frame whose output holds it, and its place in that output.
    struct SamplePosition {
        std::size_t frame = 0;
        std::uint32_t sample = 0;
    };
    // The decoded sample that plays at `seconds` on the player's clock, counted from the first
    // decoded sample as the skip at the start puts it; past the last frame, frameCount() and 0.
    // Needs audio.
    [[nodiscard]] SamplePosition FrameAt(double seconds) const;

    // Frames of one kind in a row; a stream that changes its sampling rate or layer after lost
    // sync starts a new run.
    struct Run {
        std::uint32_t firstFrame = 0;
        std::uint32_t samplesPerFrame = 0;
        std::uint32_t sampleRate = 0;
        double startSeconds = 0; // from the first decoded sample, before any skip

        // Where frame `frame` of the run, or the run's end at that frame, begins.
        [[nodiscard]] double secondsAt(std::size_t frame) const {
            return startSeconds + double(frame - firstFrame) * samplesPerFrame / sampleRate;
        }
    };
    // The run that frame `frame` belongs to; frame < frameCount().
    [[nodiscard]] const Run& runOf(std::size_t frame) const;

private:
    friend class FrameWalker;

    FileIdentity identity_;
    bool complete_ = false;
    // Offsets fit 32 bits: sources of 2 GiB or more are never cut.
    std::vector<std::uint32_t> frameOffsets_;
    std::vector<Run> runs_;
    std::int64_t audioEnd_ = 0;
    std::uint32_t skipSamples_ = 0; // left out at the start by the player (gapless playback)
    std::uint32_t paddingSamples_ = 0;
};

} // namespace quavera
