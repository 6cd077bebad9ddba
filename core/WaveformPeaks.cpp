#include "core/WaveformPeaks.h"

namespace quavera {

void WaveformPeaks::reset(double spanSeconds) {
    slices_.fill(Slice{});
    from_ = 0;
    span_ = spanSeconds > 0 ? spanSeconds : kProvisionalSpanSeconds;
    heardTo_ = 0;
    part_ = false;
}

void WaveformPeaks::resetToPart(double fromSeconds, double toSeconds) {
    reset(toSeconds - fromSeconds);
    from_ = std::max(fromSeconds, 0.0);
    heardTo_ = from_;
    part_ = true;
}

void WaveformPeaks::coverAtLeast(double seconds) {
    if (part_ || !(seconds > span_)) {
        return;
    }
    // Each old slice goes into the new slice that holds its middle; a new slice is wider than
    // an old one, so no old slice is split.
    std::array<Slice, kSlices> wider{};
    const double ratio = span_ / seconds;
    for (int index = 0; index < kSlices; ++index) {
        const Slice& old = slices_.at(index);
        if (old.empty()) {
            continue;
        }
        const int target = std::min(static_cast<int>((index + 0.5) * ratio), kSlices - 1);
        Slice& merged = wider.at(target);
        merged.low = std::min(merged.low, old.low);
        merged.high = std::max(merged.high, old.high);
    }
    slices_ = wider;
    span_ = seconds;
}

WaveformPeaks::Slice WaveformPeaks::extremes(double fromSeconds, double toSeconds) const {
    Slice result;
    const double from = fromSeconds - from_;
    const double to = toSeconds - from_;
    const int first = std::clamp(static_cast<int>(from / sliceSeconds()), 0, kSlices - 1);
    const int last =
        std::clamp(static_cast<int>(std::ceil(to / sliceSeconds())) - 1, first, kSlices - 1);
    for (int index = first; index <= last; ++index) {
        const Slice& slice = slices_.at(index);
        result.low = std::min(result.low, slice.low);
        result.high = std::max(result.high, slice.high);
    }
    return result;
}

} // namespace quavera
