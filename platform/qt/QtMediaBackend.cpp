#include "platform/qt/QtMediaBackend.h"

#include "platform/qt/WaveformReader.h"

#include <QAudioOutput>
#include <QMediaPlayer>
#include <QUrl>

namespace quavera {

namespace {

constexpr float kInitialVolume = 0.5f;

// The outline's decoder needs its choice made before GStreamer starts, which the first audio
// output already does.
QAudioOutput* makeAudioOutput(QObject* parent) {
    PreferInterleavedMp3Decoding();
    auto* output = new QAudioOutput(parent);
    output->setVolume(kInitialVolume);
    return output;
}

} // namespace

QtMediaBackend::QtMediaBackend(QObject* parent)
    : PlayerBackend(parent), audioOutput_(makeAudioOutput(this)) {}

QtMediaBackend::~QtMediaBackend() {
    // Let the pipeline go before the audio output it plays into.
    release();
}

void QtMediaBackend::load(const QString& path) {
    release();
    const Source source = ++source_;
    emit positionChanged(0);
    emit durationChanged(0);
    emit playingChanged(false);
    if (path.isEmpty()) {
        return;
    }
    player_ = new QMediaPlayer(this);
    player_->setAudioOutput(audioOutput_);
    connect(player_, &QMediaPlayer::positionChanged, this, &PlayerBackend::positionChanged);
    connect(player_, &QMediaPlayer::durationChanged, this, &PlayerBackend::durationChanged);
    connect(player_, &QMediaPlayer::playbackStateChanged, this,
            [this](QMediaPlayer::PlaybackState state) {
                emit playingChanged(state == QMediaPlayer::PlayingState);
            });
    connect(player_, &QMediaPlayer::errorOccurred, this, [this, source] { emit failed(source); });
    connect(player_, &QMediaPlayer::mediaStatusChanged, this,
            [this, source](QMediaPlayer::MediaStatus status) {
                if (status == QMediaPlayer::InvalidMedia) {
                    emit failed(source);
                } else if (status == QMediaPlayer::EndOfMedia) {
                    emit ended(source);
                }
            });
    player_->setSource(QUrl::fromLocalFile(path));
}

void QtMediaBackend::release() {
    if (player_ == nullptr) {
        return;
    }
    // An empty source closes the file now, so it can be deleted or rewritten right after; the
    // player itself goes later, as this may run inside one of its signals.
    player_->disconnect(this);
    player_->stop();
    player_->setSource(QUrl());
    player_->setAudioOutput(nullptr);
    player_->deleteLater();
    player_ = nullptr;
}

void QtMediaBackend::play() {
    if (player_ != nullptr) {
        player_->play();
    }
}

void QtMediaBackend::pause() {
    if (player_ != nullptr) {
        player_->pause();
    }
}

void QtMediaBackend::stop() {
    if (player_ != nullptr) {
        player_->stop();
    }
}

void QtMediaBackend::setPosition(qint64 milliseconds) {
    if (player_ != nullptr) {
        player_->setPosition(milliseconds);
    }
}

qint64 QtMediaBackend::position() const {
    return player_ != nullptr ? player_->position() : 0;
}

qint64 QtMediaBackend::duration() const {
    return player_ != nullptr ? player_->duration() : 0;
}

bool QtMediaBackend::isPlaying() const {
    return player_ != nullptr && player_->playbackState() == QMediaPlayer::PlayingState;
}

} // namespace quavera
