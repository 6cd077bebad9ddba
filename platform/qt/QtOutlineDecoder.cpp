#include "platform/qt/WaveformReader.h"

#include <QAudioBuffer>
#include <QAudioDecoder>
#include <QUrl>
#include <cstdint>

namespace quavera {

namespace {

constexpr double kMicrosecondsPerSecond = 1e6;
constexpr double kMillisecondsPerSecond = 1e3;

void AddBuffer(WaveformPeaks& peaks, const QAudioBuffer& buffer) {
    const QAudioFormat format = buffer.format();
    const double start = static_cast<double>(buffer.startTime()) / kMicrosecondsPerSecond;
    const double rate = format.sampleRate();
    const int channels = format.channelCount();
    const auto frames = static_cast<std::size_t>(buffer.frameCount());
    switch (format.sampleFormat()) {
    case QAudioFormat::UInt8:
        peaks.add(start, rate, channels, buffer.constData<std::uint8_t>(), frames, 1.0f / 128,
                  128.0f);
        break;
    case QAudioFormat::Int16:
        peaks.add(start, rate, channels, buffer.constData<std::int16_t>(), frames, 1.0f / 32768);
        break;
    case QAudioFormat::Int32:
        peaks.add(start, rate, channels, buffer.constData<std::int32_t>(), frames,
                  1.0f / 2147483648.0f);
        break;
    case QAudioFormat::Float:
        peaks.add(start, rate, channels, buffer.constData<float>(), frames, 1.0f);
        break;
    default:
        break;
    }
}

class QtOutlineDecoder final : public OutlineDecoder {
public:
    QtOutlineDecoder() {
        connect(&decoder_, &QAudioDecoder::bufferReady, this, &OutlineDecoder::bufferReady);
        connect(&decoder_, &QAudioDecoder::durationChanged, this, [this](qint64 milliseconds) {
            emit lengthKnown(static_cast<double>(milliseconds) / kMillisecondsPerSecond);
        });
        connect(&decoder_, &QAudioDecoder::finished, this, &OutlineDecoder::finished);
        connect(&decoder_, qOverload<QAudioDecoder::Error>(&QAudioDecoder::error), this,
                [this](QAudioDecoder::Error) { emit failed(); });
    }

    void start(const QString& path) override {
        decoder_.setSource(QUrl::fromLocalFile(path));
        decoder_.start();
    }
    void stop() override { decoder_.stop(); }
    [[nodiscard]] bool bufferAvailable() const override { return decoder_.bufferAvailable(); }
    std::optional<double> takeBuffer(WaveformPeaks& peaks) override {
        const QAudioBuffer buffer = decoder_.read();
        if (!buffer.isValid()) {
            return std::nullopt;
        }
        AddBuffer(peaks, buffer);
        return static_cast<double>(buffer.startTime() + buffer.duration()) / kMicrosecondsPerSecond;
    }

private:
    QAudioDecoder decoder_;
};

} // namespace

OutlineDecoderFactory makeQtOutlineDecoderFactory() {
    return [] { return std::make_unique<QtOutlineDecoder>(); };
}

} // namespace quavera
