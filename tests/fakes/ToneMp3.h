#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QtEndian>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace quavera::testing {

// lame's options for 128 kbit/s CBR without an Info frame, so that copies of one file joined end
// to end make one longer stream.
inline const QStringList kJoinableCbr{QStringLiteral("-b"), QStringLiteral("128"),
                                      QStringLiteral("--cbr"), QStringLiteral("-t")};

// 16-bit samples (interleaved when `channels` is 2) at `rate` Hz, encoded by lame with `encoding`
// (for instance {"-V", "2"} for VBR with its information frame, "--ti", a picture for a cover).
inline bool EncodeSamplesMp3(const QString& path, const QList<std::int16_t>& samples, int rate,
                             int channels, const QStringList& encoding) {
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
    for (qsizetype i = 0; i < samples.size(); ++i) {
        const auto little = qToLittleEndian(samples[i]);
        block.append(reinterpret_cast<const char*>(&little), sizeof little);
        if (block.size() >= (1 << 16) || i + 1 == samples.size()) {
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

// A sine tone at `amplitude` of full scale, encoded by lame in mono at 44.1 kHz with `encoding`.
inline bool EncodeToneMp3(const QString& path, double seconds, double amplitude,
                          double hertz = 440.0, const QStringList& encoding = kJoinableCbr) {
    constexpr int kRate = 44100;
    const auto frames = static_cast<qsizetype>(seconds * kRate);
    QList<std::int16_t> samples(frames);
    for (qsizetype frame = 0; frame < frames; ++frame) {
        const double value = amplitude * std::sin(2 * std::numbers::pi * hertz * frame / kRate);
        samples[frame] = static_cast<std::int16_t>(std::lround(value * 32767));
    }
    return EncodeSamplesMp3(path, samples, kRate, 1, encoding);
}

} // namespace quavera::testing
