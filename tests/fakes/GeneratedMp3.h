#pragma once

#include "fakes/PieceBytes.h"

#include <QByteArray>
#include <QFile>
#include <QString>

namespace quavera::testing {

// CBR MPEG-1 Layer III frames (128 kbit/s, 44.1 kHz, stereo, no padding: 417 bytes each).
// Their side information is all zero, so every frame decodes as silence and the rest of the
// frame is ancillary data that decoders skip; that data depends on its position in the file, so
// a wrongly placed slice shows.
inline constexpr qsizetype kFrameBytes = 417;
inline constexpr double kFrameSeconds = 1152.0 / 44100.0;

inline QByteArray GeneratedMp3Bytes(qsizetype size) {
    constexpr qsizetype kHeaderAndSideInfoBytes = 4 + 32;
    constexpr unsigned char kHeader[] = {0xFF, 0xFB, 0x90, 0x00};
    QByteArray bytes(size, '\0');
    for (qsizetype offset = 0; offset < size; ++offset) {
        const qsizetype inFrame = offset % kFrameBytes;
        if (inFrame < 4) {
            bytes[offset] = static_cast<char>(kHeader[inFrame]);
        } else if (inFrame >= kHeaderAndSideInfoBytes) {
            bytes[offset] = static_cast<char>((offset * 7 + offset / 251) & 0xFF);
        }
    }
    return bytes;
}

// `frameCount` whole frames of the same.
inline QByteArray GeneratedMp3Frames(int frameCount) {
    return GeneratedMp3Bytes(kFrameBytes * frameCount);
}

inline bool WriteFileBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

inline QByteArray ReadFileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace quavera::testing
