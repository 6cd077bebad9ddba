#pragma once

#include "core/FileIdentity.h"

#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace quavera {

// Where the MPEG audio of a file lies, frame by frame, and which frame plays at a given moment
// of the player's clock. Tags at either end, junk before the first frame and the encoder's
// information frames are not audio.
//
// GStreamer's own parser finds these offsets too, but only inside its pipeline and only while it
// plays; the cut needs them for a file the player has merely opened, so we walk the headers here
// the way that parser does: the same frames, offsets and times.
class FrameIndex {
public:
    // Reads a regular file once and indexes it; the index is empty (no audio) for anything that
    // is not a regular file, cannot be read, holds no MPEG audio frames, or begins as another
    // format the player would take for its own (WAV, Ogg, MP4, pictures). A file that holds no
    // audio is a complete answer like any other; only a stop request or a failed read leaves the
    // index incomplete.
    [[nodiscard]] static FrameIndex Read(const std::string& pathText, std::stop_token stop = {});

    [[nodiscard]] bool hasAudio() const { return !frameOffsets_.empty(); }
    [[nodiscard]] bool complete() const { return complete_; }
    [[nodiscard]] const FileIdentity& identity() const { return identity_; }
    [[nodiscard]] std::size_t frameCount() const { return frameOffsets_.size(); }
    [[nodiscard]] std::int64_t frameOffset(std::size_t frame) const {
        return frameOffsets_.at(frame);
    }
    [[nodiscard]] std::int64_t audioBegin() const;
    // Where the last whole frame ends; tags, junk and a cut-off frame after it are left out.
    [[nodiscard]] std::int64_t audioEnd() const { return audioEnd_; }
    // The length the player's clock runs to: with a LAME tag the player leaves out the encoder
    // delay and padding it declares.
    [[nodiscard]] double durationSeconds() const;
    // When frame `frame` begins to play on the player's clock.
    [[nodiscard]] double frameSeconds(std::size_t frame) const;

    struct Position {
        std::size_t frame = 0;    // frameCount() past the end of the audio
        std::uint32_t sample = 0; // of all the frame's decoded samples (clipped ones counted)
    };
    // The frame that plays at `seconds` on the player's clock, and the sample within it.
    [[nodiscard]] Position FrameAt(double seconds) const;
    // The byte offset of the frame that plays at `seconds` on the player's clock; at or past the
    // end of the audio, audioEnd().
    [[nodiscard]] std::int64_t OffsetAt(double seconds) const;

    // Decoded samples the player leaves out at the start (the encoder's delay declared in LAME's
    // tag plus the decoder's 529) and at the end (the tag's padding); 0 without that tag.
    [[nodiscard]] std::uint32_t skipSamples() const { return skipSamples_; }
    [[nodiscard]] std::uint32_t paddingSamples() const { return paddingSamples_; }
    // Of the first frame's stream; 0 without audio.
    [[nodiscard]] std::uint32_t samplesPerFrame() const;
    [[nodiscard]] std::uint32_t sampleRate() const;

    // The frames that play from `fromSeconds` to `toSeconds` on the player's clock, and
    // `leadFrames` frames before them: a decoder given only these bytes needs the frames before
    // (the bit reservoir, the filter's overlap) to decode the first ones whole.
    struct Frames {
        std::int64_t begin = 0;
        std::int64_t end = 0;
        // When the first of them starts on the player's clock; below 0 for the encoder's delay.
        double startSeconds = 0;
    };
    // Needs audio.
    [[nodiscard]] Frames FramesBetween(double fromSeconds, double toSeconds,
                                       std::size_t leadFrames) const;

    // Frames of one length in time in a row. A stream of another sampling rate or layer starts a
    // new run with its second frame: the player times the first by the stream before.
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

    // How far the player moves frame `frame` back from its place in the decoded stream.
    [[nodiscard]] double shiftSeconds(std::size_t frame) const;

    FileIdentity identity_;
    bool complete_ = false;
    // Offsets fit 32 bits: sources of 2 GiB or more are never cut.
    std::vector<std::uint32_t> frameOffsets_;
    std::vector<Run> runs_;
    std::int64_t audioEnd_ = 0;
    std::uint32_t skipSamples_ = 0;
    std::uint32_t paddingSamples_ = 0;
    // Frames the LAME tag declares; frames beyond them (files joined end to end) follow the
    // declared end without its padding.
    std::uint32_t declaredFrames_ = 0;
};

} // namespace quavera
