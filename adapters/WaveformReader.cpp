#include "adapters/WaveformReader.h"

#include <utility>

namespace quavera {

namespace {

constexpr qint64 kAnnounceIntervalMs = 40;

} // namespace

WaveformReader::WaveformReader(QObject* parent)
    : WaveformReader(makeQtOutlineDecoderFactory(), parent) {}

WaveformReader::WaveformReader(OutlineDecoderFactory makeDecoder, QObject* parent)
    : QObject(parent), makeDecoder_(std::move(makeDecoder)) {
    sinceAnnounced_.start();
}

WaveformReader::~WaveformReader() {
    stop();
}

void WaveformReader::read(const QString& path) {
    stop();
    peaks_.reset();
    start(OutlineSource{path});
}

void WaveformReader::readPart(const OutlineSource& source, double fromSeconds, double toSeconds) {
    stop();
    peaks_.resetToPart(fromSeconds, toSeconds);
    start(source);
}

void WaveformReader::start(const OutlineSource& source) {
    readSeconds_ = 0;
    state_ = State::Idle;
    if (!source.path.isEmpty()) {
        state_ = State::Reading;
        // A decoder of its own for every file: buffers the last one still announced go with it.
        decoder_ = makeDecoder_();
        OutlineDecoder* decoder = decoder_.get();
        connect(decoder, &OutlineDecoder::bufferReady, this, &WaveformReader::takeBuffers);
        connect(decoder, &OutlineDecoder::lengthKnown, this, &WaveformReader::useLength);
        connect(decoder, &OutlineDecoder::finished, this, [this] { finish(State::Complete); });
        connect(decoder, &OutlineDecoder::failed, this, [this] { finish(State::Failed); });
        decoder->start(source);
    }
    announce(true);
}

void WaveformReader::stop() {
    endedWhileHeld_ = false;
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
    if (peaks_.isPart()) {
        return; // the length of the bytes given, not of the medium
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
        if (std::exchange(endedWhileHeld_, false)) {
            finish(State::Complete);
        }
    }
}

void WaveformReader::takeBuffers() {
    // Asking for a buffer when none is waiting would upset the decoder's count of them.
    while (!held_ && state_ == State::Reading && decoder_ && decoder_->bufferAvailable()) {
        const std::optional<double> end = decoder_->takeBuffer(peaks_);
        if (!end) {
            break;
        }
        readSeconds_ = *end;
    }
    announce(false);
}

void WaveformReader::finish(State state) {
    if (state_ != State::Reading) {
        return;
    }
    if (state == State::Complete) {
        // The end of the file may come with its last buffers still queued; they are part of it.
        if (held_) {
            endedWhileHeld_ = true;
            return;
        }
        takeBuffers();
    }
    state_ = state;
    // Deleted later: this may run inside one of the decoder's own signals.
    decoder_->stop();
    OutlineDecoder* finished = decoder_.release();
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
