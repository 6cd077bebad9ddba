#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

namespace quavera {

// The loudness outline of a medium: a fixed number of slices over its length, each holding the
// lowest and highest sample seen in it (full scale is -1 to 1). The samples themselves are never
// kept, so memory stays the same for a medium of any length.
//
// The length may be unknown, or only estimated, while the first samples arrive: the slices then
// cover a provisional span that widens, merging neighbouring slices, as soon as a sample or the
// medium's known length falls beyond it.
//
// The slices may instead cover a fixed part of the medium (a zoomed view's detail): samples
// outside it are left out. Times are always seconds of the whole medium.
class WaveformPeaks {
public:
    static constexpr int kSlices = 2048;

    struct Slice {
        float low = 1.0f; // low > high: nothing heard in this slice yet
        float high = -1.0f;
        [[nodiscard]] bool empty() const { return low > high; }
    };

    // Forgets everything; the slices then cover `spanSeconds` (a guess when the length is unknown).
    void reset(double spanSeconds = kProvisionalSpanSeconds);
    // Forgets everything; the slices then cover exactly the time from `fromSeconds` to
    // `toSeconds`, and samples outside it are left out.
    void resetToPart(double fromSeconds, double toSeconds);
    // Widens the span to at least `seconds`, keeping what was gathered; a part stays as it is.
    void coverAtLeast(double seconds);

    // Adds `frames` frames of interleaved samples starting at `startSeconds`. A frame's value is
    // its channels' extremes, each sample scaled by `scale` after subtracting `offset`.
    template <typename Sample>
    void add(double startSeconds, double frameRate, int channels, const Sample* samples,
             std::size_t frames, float scale, float offset = 0.0f);

    [[nodiscard]] double spanSeconds() const { return span_; }
    [[nodiscard]] bool isPart() const { return part_; }
    [[nodiscard]] double fromSeconds() const { return from_; }
    [[nodiscard]] double toSeconds() const { return from_ + span_; }
    // Where the latest sample added so far ends; fromSeconds() before the first.
    [[nodiscard]] double heardToSeconds() const { return heardTo_; }
    [[nodiscard]] const Slice& slice(int index) const { return slices_.at(index); }
    // The extremes over the time from `fromSeconds` up to `toSeconds`; empty if nothing was heard.
    [[nodiscard]] Slice extremes(double fromSeconds, double toSeconds) const;

private:
    // Short, so the slices are fine while they wait for the length: widening only merges them.
    static constexpr double kProvisionalSpanSeconds = 1.0;
    static constexpr double kGrowth = 1.25;

    [[nodiscard]] double sliceSeconds() const { return span_ / kSlices; }

    std::array<Slice, kSlices> slices_{};
    double from_ = 0;
    double span_ = kProvisionalSpanSeconds;
    double heardTo_ = 0;
    bool part_ = false;
};

template <typename Sample>
void WaveformPeaks::add(double startSeconds, double frameRate, int channels, const Sample* samples,
                        std::size_t frames, float scale, float offset) {
    if (frames == 0 || channels <= 0 || frameRate <= 0 || !std::isfinite(startSeconds)) {
        return;
    }
    const auto stride = static_cast<std::size_t>(channels);
    if (startSeconds < from_) {
        // Before the slices begin: the decoder's run-up to a part, or nothing at all.
        const auto early = static_cast<std::size_t>(std::ceil((from_ - startSeconds) * frameRate));
        if (early >= frames) {
            return;
        }
        samples += early * stride;
        frames -= early;
        startSeconds += static_cast<double>(early) / frameRate;
    }
    if (part_) {
        const double room = std::floor((toSeconds() - startSeconds) * frameRate);
        if (room < 1) {
            return;
        }
        frames = std::min(frames, static_cast<std::size_t>(room));
    }
    const double endSeconds = startSeconds + static_cast<double>(frames) / frameRate;
    if (endSeconds > toSeconds()) {
        // In steps of a quarter: a few merges more, but at most a fifth of the slices unused.
        coverAtLeast(std::max(endSeconds, toSeconds() * kGrowth));
    }
    heardTo_ = std::max(heardTo_, endSeconds);
    std::size_t frame = 0;
    while (frame < frames) {
        const double at = startSeconds - from_ + static_cast<double>(frame) / frameRate;
        const int index = std::min(static_cast<int>(at / sliceSeconds()), kSlices - 1);
        // The frames up to the next slice's start go into this slice in one run.
        const double sliceEnd = from_ + (index + 1) * sliceSeconds();
        std::size_t runEnd = frames;
        if (index < kSlices - 1) {
            const double framesLeft = std::ceil((sliceEnd - startSeconds) * frameRate);
            runEnd = std::clamp<std::size_t>(static_cast<std::size_t>(std::max(framesLeft, 0.0)),
                                             frame + 1, frames);
        }
        Sample low = samples[frame * stride];
        Sample high = low;
        for (const Sample* sample = samples + frame * stride; sample < samples + runEnd * stride;
             ++sample) {
            low = std::min(low, *sample);
            high = std::max(high, *sample);
        }
        Slice& slice = slices_.at(index);
        slice.low = std::min(slice.low, (static_cast<float>(low) - offset) * scale);
        slice.high = std::max(slice.high, (static_cast<float>(high) - offset) * scale);
        frame = runEnd;
    }
}

} // namespace quavera
