#pragma once

#include <QtGlobal>

namespace quavera::testing {

// A cut long enough to yield to the event loop thousands of times: 8192 KB over 128 s, with
// marks at 16 s and 112 s that fall on whole KB, at 1 MiB and 7 MiB.
inline constexpr qsizetype kLongSourceBytes = 8 * 1024 * 1024;
inline constexpr qsizetype kLongPieceFrom = 1024 * 1024;
inline constexpr qsizetype kLongPieceTo = 7 * 1024 * 1024;
inline constexpr double kLongDuration = 128.0;
inline constexpr double kLongStartSeconds = 16.0;
inline constexpr double kLongEndSeconds = 112.0;
inline constexpr char kLongSourceName[] = "long source.mp3";

} // namespace quavera::testing
