#include "platform/qt/WaveformReader.h"

#include <QAudioBuffer>
#include <QAudioDecoder>
#include <QUrl>
#include <cstdint>

namespace quavera {

namespace {

constexpr qint64 kAnnounceIntervalMs = 40;
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

} // namespace

WaveformReader::WaveformReader(QObject* parent) : QObject(parent) {
    sinceAnnounced_.start();
}

WaveformReader::~WaveformReader() {
    stop();
}

void WaveformReader::read(const QString& path) {
    stop();
    peaks_.reset();
    readSeconds_ = 0;
    state_ = State::Idle;
    if (!path.isEmpty()) {
        state_ = State::Reading;
        // A decoder of its own for every file: buffers the last one still announced go with it.
        decoder_ = std::make_unique<QAudioDecoder>();
        QAudioDecoder* decoder = decoder_.get();
        connect(decoder, &QAudioDecoder::bufferReady, this, &WaveformReader::takeBuffers);
        connect(decoder, &QAudioDecoder::durationChanged, this, [this](qint64 milliseconds) {
            useLength(static_cast<double>(milliseconds) / kMillisecondsPerSecond);
        });
        connect(decoder, &QAudioDecoder::finished, this, [this] { finish(State::Complete); });
        connect(decoder, qOverload<QAudioDecoder::Error>(&QAudioDecoder::error), this,
                [this](QAudioDecoder::Error) { finish(State::Failed); });
        decoder->setSource(QUrl::fromLocalFile(path));
        decoder->start();
    }
    announce(true);
}

void WaveformReader::stop() {
    // Putting the pipeline to rest closes the file before this returns.
    if (decoder_) {
        decoder_->stop();
        decoder_.reset();
    }
    if (state_ == State::Reading) {
        state_ = State::Idle;
    }
}

void WaveformReader::useLength(double seconds) {
    if (state_ != State::Reading || !(seconds > 0)) {
        return;
    }
    if (readSeconds_ == 0) {
        peaks_.reset(seconds); // nothing gathered yet: the slices fit the medium exactly
    } else {
        peaks_.coverAtLeast(seconds);
    }
}

void WaveformReader::setHeld(bool held) {
    held_ = held;
    if (!held_) {
        takeBuffers(); // the decoder announced those waiting while it was held
    }
}

void WaveformReader::takeBuffers() {
    // Asking for a buffer when none is waiting would upset the decoder's count of them.
    while (!held_ && state_ == State::Reading && decoder_ && decoder_->bufferAvailable()) {
        const QAudioBuffer buffer = decoder_->read();
        if (!buffer.isValid()) {
            break;
        }
        AddBuffer(peaks_, buffer);
        readSeconds_ =
            static_cast<double>(buffer.startTime() + buffer.duration()) / kMicrosecondsPerSecond;
    }
    announce(false);
}

void WaveformReader::finish(State state) {
    if (state_ != State::Reading) {
        return;
    }
    state_ = state;
    // Deleted later: this runs inside one of the decoder's own signals.
    decoder_->stop();
    QAudioDecoder* finished = decoder_.release();
    finished->disconnect(this);
    finished->setParent(this);
    finished->deleteLater();
    announce(true);
}

void WaveformReader::announce(bool now) {
    if (now || sinceAnnounced_.elapsed() >= kAnnounceIntervalMs) {
        sinceAnnounced_.restart();
        emit changed();
    }
}

void PreferInterleavedMp3Decoding() {
    if (qEnvironmentVariableIsEmpty("GST_PLUGIN_FEATURE_RANK")) {
        qputenv("GST_PLUGIN_FEATURE_RANK", "mpg123audiodec:MAX");
    }
}

} // namespace quavera
