#include "adapters/WaveformReader.h"

#include <QAudioBuffer>
#include <QAudioDecoder>
#include <QFile>
#include <QIODevice>
#include <QUrl>
#include <algorithm>
#include <cstdint>
#include <memory>

namespace quavera {

namespace {

constexpr double kMicrosecondsPerSecond = 1e6;
constexpr double kMillisecondsPerSecond = 1e3;

void AddBuffer(WaveformPeaks& peaks, const QAudioBuffer& buffer, double offsetSeconds) {
    const QAudioFormat format = buffer.format();
    const double start =
        offsetSeconds + static_cast<double>(buffer.startTime()) / kMicrosecondsPerSecond;
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

// Some bytes of a file as a device of their own, read from the file as the decoder asks for
// them, so that a part's reading holds no more of the file than the decoder's few blocks.
//
// Qt 6.4's QAudioDecoder cannot seek, and decoding from the file's start up to a moment an hour
// in takes seconds. The frames that play in the part (and a few before, for the bit reservoir)
// decode alone: GStreamer finds an MP3 stream in frames without the tag or the information frame
// in front, and times the first of them at 0.
class FilePart final : public QIODevice {
public:
    FilePart(const QString& path, qint64 firstByte, qint64 endByte)
        : file_(path), first_(firstByte), end_(endByte) {}

    bool open(OpenMode mode) override {
        if (!file_.open(QIODevice::ReadOnly) || !file_.seek(first_)) {
            return false;
        }
        if (end_ < 0 || end_ > file_.size()) {
            end_ = file_.size();
        }
        return QIODevice::open(mode | QIODevice::Unbuffered);
    }
    void close() override {
        file_.close();
        QIODevice::close();
    }
    [[nodiscard]] qint64 size() const override { return std::max<qint64>(end_ - first_, 0); }
    bool seek(qint64 position) override {
        return QIODevice::seek(position) && file_.seek(first_ + position);
    }

protected:
    qint64 readData(char* data, qint64 maxSize) override {
        const qint64 left = end_ - file_.pos();
        return left <= 0 ? 0 : file_.read(data, std::min(maxSize, left));
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QFile file_;
    qint64 first_;
    qint64 end_;
};

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

    void start(const OutlineSource& source) override {
        offsetSeconds_ = source.startSeconds;
        if (source.firstByte == 0 && source.endByte < 0) {
            decoder_.setSource(QUrl::fromLocalFile(source.path));
        } else {
            part_ = std::make_unique<FilePart>(source.path, source.firstByte, source.endByte);
            if (!part_->open(QIODevice::ReadOnly)) {
                // Told once the caller is connected, like the decoder's own failures.
                QMetaObject::invokeMethod(this, &OutlineDecoder::failed, Qt::QueuedConnection);
                return;
            }
            decoder_.setSourceDevice(part_.get());
        }
        decoder_.start();
    }
    void stop() override { decoder_.stop(); }
    [[nodiscard]] bool bufferAvailable() const override { return decoder_.bufferAvailable(); }
    std::optional<double> takeBuffer(WaveformPeaks& peaks) override {
        const QAudioBuffer buffer = decoder_.read();
        if (!buffer.isValid()) {
            return std::nullopt;
        }
        AddBuffer(peaks, buffer, offsetSeconds_);
        return offsetSeconds_ +
               static_cast<double>(buffer.startTime() + buffer.duration()) / kMicrosecondsPerSecond;
    }

private:
    // Declared before the decoder, which reads it until the decoder is gone.
    std::unique_ptr<FilePart> part_;
    QAudioDecoder decoder_;
    double offsetSeconds_ = 0;
};

} // namespace

OutlineDecoderFactory makeQtOutlineDecoderFactory() {
    return [] { return std::make_unique<QtOutlineDecoder>(); };
}

} // namespace quavera
