#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QtEndian>
#include <cmath>
#include <cstdint>
#include <functional>
#include <numbers>

namespace quavera::testing {

// lame's options for 128 kbit/s CBR without an Info frame, so that copies of one file joined end
// to end make one longer stream.
inline const QStringList kJoinableCbr{QStringLiteral("-b"), QStringLiteral("128"),
                                      QStringLiteral("--cbr"), QStringLiteral("-t")};

// `frames` samples a channel at `rate` Hz in `channels` channels (1 or 2), each from
// `sampleAt`(frame, channel) (-1 to 1, asked in order), encoded by lame with `encoding` (for
// instance {"-V", "2"} for VBR with its information frame, "--ti", a picture for a cover).
inline bool EncodeMp3(const QString& path, qint64 frames, int rate, int channels,
                      const std::function<double(qint64, int)>& sampleAt,
                      const QStringList& encoding) {
    QProcess lame;
    QStringList arguments{
        QStringLiteral("--silent"),   QStringLiteral("-r"),
        QStringLiteral("-s"),         QString::number(rate / 1000.0),
        QStringLiteral("-m"),         channels == 1 ? QStringLiteral("m") : QStringLiteral("j"),
        QStringLiteral("--bitwidth"), QStringLiteral("16"),
        QStringLiteral("--signed"),   QStringLiteral("--little-endian")};
    arguments << encoding << QStringLiteral("-") << path;
    lame.start(QStringLiteral("lame"), arguments);
    if (!lame.waitForStarted()) {
        return false;
    }
    QByteArray block;
    for (qint64 frame = 0; frame < frames; ++frame) {
        for (int channel = 0; channel < channels; ++channel) {
            const auto sample =
                static_cast<std::int16_t>(std::lround(sampleAt(frame, channel) * 32767));
            const auto little = qToLittleEndian(sample);
            block.append(reinterpret_cast<const char*>(&little), sizeof little);
        }
        if (block.size() >= (1 << 16) || frame + 1 == frames) {
            if (lame.write(block) != block.size() || !lame.waitForBytesWritten(30000)) {
                return false;
            }
            block.clear();
        }
    }
    lame.closeWriteChannel();
    return lame.waitForFinished(120000) && lame.exitStatus() == QProcess::NormalExit &&
           lame.exitCode() == 0;
}

// `frames` samples in mono at 44.1 kHz, each from `sampleAt` (-1 to 1, asked in order), encoded by
// lame with `encoding`.
inline bool EncodeMonoMp3(const QString& path, qint64 frames,
                          const std::function<double(qint64)>& sampleAt,
                          const QStringList& encoding) {
    return EncodeMp3(
        path, frames, 44100, 1, [&](qint64 frame, int) { return sampleAt(frame); }, encoding);
}

// A sine tone at `amplitude` of full scale, encoded by lame in mono at 44.1 kHz with `encoding`
// (for instance {"-V", "2"} for VBR with its information frame, "--ti", a picture for a cover).
inline bool EncodeToneMp3(const QString& path, double seconds, double amplitude,
                          double hertz = 440.0, const QStringList& encoding = kJoinableCbr) {
    constexpr int kRate = 44100;
    return EncodeMonoMp3(
        path, static_cast<qint64>(seconds * kRate),
        [&](qint64 frame) {
            return amplitude * std::sin(2 * std::numbers::pi * hertz * double(frame) / kRate);
        },
        encoding);
}

} // namespace quavera::testing
