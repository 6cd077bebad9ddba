#include "platform/qt/QtPlayerView.h"

#include <QAudioOutput>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMediaPlayer>
#include <QSlider>
#include <QStyle>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <limits>

namespace quavera {

namespace {

constexpr float kInitialVolume = 0.5f;
constexpr qint64 kMillisecondsPerSecond = 1000;
constexpr qint64 kSecondsPerMinute = 60;
constexpr qint64 kSecondsPerHour = 3600;

// "mm:ss", or "h:mm:ss" once the medium is an hour long.
QString formatClock(qint64 milliseconds, bool withHours) {
    const qint64 totalSeconds = std::max<qint64>(milliseconds, 0) / kMillisecondsPerSecond;
    const qint64 seconds = totalSeconds % kSecondsPerMinute;
    if (withHours) {
        return QStringLiteral("%1:%2:%3")
            .arg(totalSeconds / kSecondsPerHour)
            .arg((totalSeconds % kSecondsPerHour) / kSecondsPerMinute, 2, 10, QLatin1Char('0'))
            .arg(seconds, 2, 10, QLatin1Char('0'));
    }
    return QStringLiteral("%1:%2")
        .arg(totalSeconds / kSecondsPerMinute, 2, 10, QLatin1Char('0'))
        .arg(seconds, 2, 10, QLatin1Char('0'));
}

double toSeconds(qint64 milliseconds) {
    return static_cast<double>(milliseconds) / static_cast<double>(kMillisecondsPerSecond);
}

QToolButton* makeControlButton(QWidget* parent, const QString& objectName,
                               QStyle::StandardPixmap icon, const QString& toolTip) {
    auto* button = new QToolButton(parent);
    button->setObjectName(objectName);
    button->setIcon(parent->style()->standardIcon(icon));
    button->setToolTip(toolTip);
    button->setAccessibleName(toolTip);
    button->setAutoRaise(true);
    return button;
}

} // namespace

QtPlayerView::QtPlayerView(QWidget* parent)
    : PlayerView(parent), player_(new QMediaPlayer(this)), audioOutput_(new QAudioOutput(this)),
      screen_(new QLabel(this)), seekSlider_(new QSlider(Qt::Horizontal, this)),
      playPauseButton_(makeControlButton(this, QStringLiteral("playPauseButton"),
                                         QStyle::SP_MediaPlay, QStringLiteral("播放"))),
      stopButton_(makeControlButton(this, QStringLiteral("stopButton"), QStyle::SP_MediaStop,
                                    QStringLiteral("停止"))),
      timeLabel_(new QLabel(this)) {
    setContextMenuPolicy(Qt::NoContextMenu);
    audioOutput_->setVolume(kInitialVolume);
    player_->setAudioOutput(audioOutput_);

    // A dark screen above the controls names the file being played, or says it cannot be.
    screen_->setObjectName(QStringLiteral("screen"));
    screen_->setAutoFillBackground(true);
    QPalette screenColours = screen_->palette();
    screenColours.setColor(QPalette::Window, Qt::black);
    screenColours.setColor(QPalette::WindowText, QColor(0x9c, 0xd4, 0xff));
    screen_->setPalette(screenColours);
    screen_->setAlignment(Qt::AlignCenter);
    screen_->setMinimumHeight(0);
    screen_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Expanding);

    seekSlider_->setObjectName(QStringLiteral("seekSlider"));
    seekSlider_->setAccessibleName(QStringLiteral("播放进度"));
    seekSlider_->setRange(0, 0);
    seekSlider_->setSingleStep(1000);
    seekSlider_->setPageStep(10000);

    timeLabel_->setObjectName(QStringLiteral("timeLabel"));
    showTime();

    auto* controlsRow = new QHBoxLayout;
    controlsRow->setContentsMargins(0, 0, 0, 0);
    controlsRow->setSpacing(2);
    controlsRow->addWidget(playPauseButton_);
    controlsRow->addWidget(stopButton_);
    controlsRow->addStretch(1);
    controlsRow->addWidget(timeLabel_);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(2, 2, 2, 2);
    column->setSpacing(2);
    column->addWidget(screen_, 1);
    column->addWidget(seekSlider_);
    column->addLayout(controlsRow);

    connect(playPauseButton_, &QToolButton::clicked, this, &QtPlayerView::togglePlayback);
    connect(stopButton_, &QToolButton::clicked, player_, &QMediaPlayer::stop);
    // Dragging, clicking the groove and the keys all end up here; the slider already shows the
    // new place when this runs.
    connect(seekSlider_, &QSlider::actionTriggered, this,
            [this](int) { player_->setPosition(seekSlider_->sliderPosition()); });
    connect(player_, &QMediaPlayer::positionChanged, this, &QtPlayerView::showPosition);
    connect(player_, &QMediaPlayer::durationChanged, this, &QtPlayerView::showDuration);
    connect(player_, &QMediaPlayer::playbackStateChanged, this, &QtPlayerView::showPlaybackState);
    connect(player_, &QMediaPlayer::mediaStatusChanged, this, &QtPlayerView::followMediaStatus);
    connect(player_, &QMediaPlayer::errorOccurred, this, &QtPlayerView::showFailure);
}

QtPlayerView::~QtPlayerView() {
    // Let the pipeline go before the audio output it plays into.
    player_->stop();
    player_->setSource(QUrl());
}

bool QtPlayerView::setURL(const std::string& path) {
    url_ = path;
    restartedAfterLostStart_ = false;
    mediaFailed_ = false;
    if (path.empty()) {
        player_->stop();
        // An empty source closes the file, so it can be deleted or rewritten right after.
        player_->setSource(QUrl());
        screen_->clear();
        return true;
    }

    const QString localPath = QString::fromStdString(path);
    const QUrl source = QUrl::fromLocalFile(localPath);
    if (player_->source() == source) {
        // Giving the same file again plays it again from its start.
        player_->stop();
    } else {
        player_->setSource(source);
    }
    showFileName();
    player_->play();
    return true;
}

std::string QtPlayerView::URL() const {
    return url_;
}

std::optional<double> QtPlayerView::duration() const {
    if (!hasUsableMedia()) {
        return std::nullopt;
    }
    return toSeconds(player_->duration());
}

std::optional<double> QtPlayerView::currentPosition() const {
    if (!hasUsableMedia()) {
        return std::nullopt;
    }
    return toSeconds(player_->position());
}

bool QtPlayerView::pause() {
    if (!hasUsableMedia()) {
        return false;
    }
    player_->pause();
    return true;
}

bool QtPlayerView::hasUsableMedia() const {
    // QMediaPlayer::error() is no guide: it keeps the error of an earlier file after the next
    // one has loaded.
    return !url_.empty() && !mediaFailed_;
}

void QtPlayerView::followMediaStatus(QMediaPlayer::MediaStatus status) {
    switch (status) {
    case QMediaPlayer::InvalidMedia:
        showFailure();
        break;
    case QMediaPlayer::LoadedMedia:
    case QMediaPlayer::BufferingMedia:
    case QMediaPlayer::BufferedMedia:
        // The pipeline of the file before may report its failure late; what loads now is fine.
        if (mediaFailed_ && !url_.empty()) {
            mediaFailed_ = false;
            showFileName();
        }
        break;
    case QMediaPlayer::EndOfMedia:
        restartIfNothingWasPlayed();
        break;
    default:
        break;
    }
}

void QtPlayerView::showFailure() {
    mediaFailed_ = true;
    // Told on the screen only: no dialog interrupts the user.
    screen_->setText(QStringLiteral("无法播放此文件"));
}

void QtPlayerView::showFileName() {
    screen_->setText(QFileInfo(QString::fromStdString(url_)).fileName());
}

void QtPlayerView::restartIfNothingWasPlayed() {
    // A normal end stands at the end of the medium. One more try is enough: a file that really
    // holds nothing playable ends the same way again and stays ended.
    if (player_->position() > 0 || restartedAfterLostStart_) {
        return;
    }
    restartedAfterLostStart_ = true;
    player_->play();
}

void QtPlayerView::togglePlayback() {
    if (player_->playbackState() == QMediaPlayer::PlayingState) {
        player_->pause();
    } else {
        player_->play();
    }
}

void QtPlayerView::showPlaybackState() {
    const bool playing = player_->playbackState() == QMediaPlayer::PlayingState;
    playPauseButton_->setIcon(
        style()->standardIcon(playing ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
    const QString action = playing ? QStringLiteral("暂停") : QStringLiteral("播放");
    playPauseButton_->setToolTip(action);
    playPauseButton_->setAccessibleName(action);
}

void QtPlayerView::showPosition(qint64 positionMs) {
    // While the user holds the handle, the handle shows where the user is going.
    if (!seekSlider_->isSliderDown()) {
        seekSlider_->setValue(
            static_cast<int>(std::min<qint64>(positionMs, seekSlider_->maximum())));
    }
    showTime();
}

void QtPlayerView::showDuration(qint64 durationMs) {
    seekSlider_->setRange(
        0, static_cast<int>(std::clamp<qint64>(durationMs, 0, std::numeric_limits<int>::max())));
    showTime();
}

void QtPlayerView::showTime() {
    const qint64 durationMs = player_->duration();
    const bool withHours = durationMs >= kSecondsPerHour * kMillisecondsPerSecond;
    timeLabel_->setText(formatClock(player_->position(), withHours) + QStringLiteral(" / ") +
                        formatClock(durationMs, withHours));
}

PlayerFactory makeQtPlayerFactory() {
    return [](QWidget* parent) -> PlayerView* { return new QtPlayerView(parent); };
}

} // namespace quavera
