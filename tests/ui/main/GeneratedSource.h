#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

namespace quavera::testing {

// CBR MPEG-1 Layer III frames (128 kbit/s, 44.1 kHz, no padding: 417 bytes each) whose payload
// bytes depend on their position in the file, so a wrongly placed slice shows.
inline QByteArray GeneratedMp3Bytes(qsizetype size) {
    constexpr qsizetype kFrameBytes = 417;
    constexpr unsigned char kHeader[] = {0xFF, 0xFB, 0x90, 0x00};
    QByteArray bytes(size, '\0');
    for (qsizetype offset = 0; offset < size; ++offset) {
        const qsizetype inFrame = offset % kFrameBytes;
        bytes[offset] = inFrame < 4 ? static_cast<char>(kHeader[inFrame])
                                    : static_cast<char>((offset * 7 + offset / 251) & 0xFF);
    }
    return bytes;
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
