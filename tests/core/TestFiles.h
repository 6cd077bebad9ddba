#pragma once

// Files made by the core tests: sources with a position-dependent byte pattern, so a part that
// starts or ends one byte off never matches, and helpers to read and list what a cut left.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <string>

namespace quavera::testing {

// Byte of the generated source at `offset`; no short period, so shifted copies differ. Every 72
// bytes stands an MPEG-2.5 Layer III frame header (8 kHz, 8 kbit/s, mono), so the file is MP3
// audio of 72-byte frames that play 72 ms each: a thousand bytes a second.
inline constexpr std::int64_t kPatternFrameBytes = 72;
inline constexpr double kPatternFrameSeconds = 0.072;

inline char PatternByte(std::int64_t offset) {
    constexpr unsigned char kFrameHeader[] = {0xFF, 0xE3, 0x18, 0xC0};
    if (offset >= 0 && offset % kPatternFrameBytes < 4)
        return static_cast<char>(kFrameHeader[offset % kPatternFrameBytes]);
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

// Runs a program to its end: its standard output when it ran and succeeded, nothing otherwise.
inline std::optional<QByteArray> RunProgram(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return std::nullopt;
    return process.readAllStandardOutput();
}

} // namespace quavera::testing
