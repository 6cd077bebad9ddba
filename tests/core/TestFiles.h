#pragma once

// Files made by the core tests: sources with a position-dependent byte pattern, so a part that
// starts or ends one byte off never matches, and helpers to read and list what a cut left.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <cstdint>
#include <string>

namespace quavera::testing {

// Byte of the generated source at `offset`; no short period, so shifted copies differ. The
// first four bytes are an MPEG audio frame header, so the file is taken for MP3 audio.
inline char PatternByte(std::int64_t offset) {
    constexpr unsigned char kFrameHeader[] = {0xFF, 0xFB, 0x90, 0x00};
    if (offset >= 0 && offset < 4)
        return static_cast<char>(kFrameHeader[offset]);
    const auto mixed = static_cast<std::uint32_t>(offset) * 2654435761u;
    return static_cast<char>(mixed >> 24);
}

inline QByteArray PatternBytes(std::int64_t offset, std::int64_t count) {
    QByteArray bytes(static_cast<qsizetype>(count), Qt::Uninitialized);
    for (std::int64_t i = 0; i < count; ++i)
        bytes[static_cast<qsizetype>(i)] = PatternByte(offset + i);
    return bytes;
}

inline bool WriteFileBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

inline bool WritePatternFile(const QString& path, std::int64_t size) {
    return WriteFileBytes(path, PatternBytes(0, size));
}

inline QByteArray ReadFileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every entry of a folder, hidden ones included, sorted.
inline QStringList FolderEntries(const QString& folder) {
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

inline std::string Utf8(const QString& text) {
    return text.toStdString();
}

} // namespace quavera::testing
