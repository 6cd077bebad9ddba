#pragma once

#include <QtGlobal>

namespace quavera::testing {

// A cut long enough to yield to the event loop thousands of times: 20,480 frames of 417 bytes
// (tests/fakes/GeneratedMp3.h), 535 s, with marks inside frames 2,048 and 18,432, whose offsets
// fall on whole KB (834 KB and 7,506 KB), so the size fields hold them exactly.
inline constexpr qsizetype kLongFrameBytes = 417;
inline constexpr double kLongFrameSeconds = 1152.0 / 44100.0;
inline constexpr qsizetype kLongSourceBytes = 20480 * kLongFrameBytes;
inline constexpr qsizetype kLongPieceFrom = 2048 * kLongFrameBytes;
inline constexpr qsizetype kLongPieceTo = 18432 * kLongFrameBytes;
inline constexpr double kLongDuration = 20480 * kLongFrameSeconds;
inline constexpr double kLongStartSeconds = 2048.5 * kLongFrameSeconds;
inline constexpr double kLongEndSeconds = 18432.5 * kLongFrameSeconds;
inline constexpr char kLongSourceName[] = "long source.mp3";
// What the cut copies after the piece's head: from the frame before the Start frame (whose
// overlap its first samples need) up to the frame that holds the End mark.
inline constexpr qsizetype kLongCopyFrom = kLongPieceFrom - kLongFrameBytes;
inline constexpr qsizetype kLongCopyTo = kLongPieceTo + kLongFrameBytes;

} // namespace quavera::testing
