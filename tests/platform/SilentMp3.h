#pragma once

#include <QByteArray>

namespace quavera::testing {

// One MPEG-1 Layer III frame at 128 kbit/s, 44.1 kHz, stereo, no CRC, no padding: the header and
// all-zero side information and main data, which decodes as silence.
inline constexpr int kSilentFrameBytes = 417;
inline constexpr double kSilentFrameSeconds = 1152.0 / 44100.0;

inline QByteArray silentMp3(int frameCount) {
    QByteArray frame(kSilentFrameBytes, '\0');
    frame[0] = static_cast<char>(0xFF);
    frame[1] = static_cast<char>(0xFB);
    frame[2] = static_cast<char>(0x90);
    return frame.repeated(frameCount);
}

} // namespace quavera::testing
