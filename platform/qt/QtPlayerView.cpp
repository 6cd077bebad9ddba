#include "platform/qt/QtPlayerView.h"

#include "platform/qt/WaveformReader.h"
#include "platform/qt/WaveformView.h"

#include <QAudioOutput>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMediaPlayer>
#include <QSlider>
#include <QStringList>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <limits>

namespace quavera {

namespace {

constexpr float kInitialVolume = 0.5f;
constexpr qint64 kMillisecondsPerSecond = 1000;
constexpr qint64 kSecondsPerMinute = 60;
constexpr qint64 kSecondsPerHour = 3600;
constexpr qint64 kMillisecondsPerTenth = 100;
constexpr qint64 kTenthsPerSecond = 10;
constexpr qint64 kFineStepMs = 100;
constexpr qint64 kCoarseStepMs = 5000;
// While playing, the clock changes ten times a second; a screen reader hears of it at most this
// often.
constexpr int kDescribeIntervalMs = 400;

// The icon theme's media icons follow the desktop's palette (they stay visible on a dark one);
// the style's own icons serve where the theme has none.
QIcon mediaIcon(const QWidget& widget, const char* themeName, QStyle::StandardPixmap fallback) {
    return QIcon::fromTheme(QLatin1String(themeName), widget.style()->standardIcon(fallback));
}

// "mm:ss.t", or "h:mm:ss.t" once the medium is an hour long. Tenths are cut, not rounded, so
// the time never runs ahead of what plays.
QString formatClock(qint64 milliseconds, bool withHours) {
    const qint64 tenths = std::max<qint64>(milliseconds, 0) / kMillisecondsPerTenth;
    const qint64 totalSeconds = tenths / kTenthsPerSecond;
    const QString seconds = QStringLiteral("%1.%2")
                                .arg(totalSeconds % kSecondsPerMinute, 2, 10, QLatin1Char('0'))
                                .arg(tenths % kTenthsPerSecond);
    if (withHours) {
        return QStringLiteral("%1:%2:%3")
            .arg(totalSeconds / kSecondsPerHour)
            .arg((totalSeconds % kSecondsPerHour) / kSecondsPerMinute, 2, 10, QLatin1Char('0'))
            .arg(seconds);
    }
    return QStringLiteral("%1:%2")
        .arg(totalSeconds / kSecondsPerMinute, 2, 10, QLatin1Char('0'))
        .arg(seconds);
}

double toSeconds(qint64 milliseconds) {
    return static_cast<double>(milliseconds) / static_cast<double>(kMillisecondsPerSecond);
}

qint64 toMilliseconds(double seconds) {
    return std::llround(seconds * kMillisecondsPerSecond);
}

QMediaPlayer* makeMediaPlayer(QObject* parent) {
    // The first player starts GStreamer; the outline's decoder needs its choice made before.
    PreferInterleavedMp3Decoding();
    return new QMediaPlayer(parent);
}

QToolButton* makeControlButton(QWidget* parent, const QString& objectName, const char* themeIcon,
                               QStyle::StandardPixmap icon, const QString& toolTip) {
    auto* button = new QToolButton(parent);
    button->setObjectName(objectName);
    button->setIcon(mediaIcon(*parent, themeIcon, icon));
    button->setToolTip(toolTip);
    button->setAccessibleName(toolTip);
    button->setAutoRaise(true);
    return button;
}

} // namespace

QtPlayerView::QtPlayerView(QWidget* parent)
    : PlayerView(parent), player_(makeMediaPlayer(this)), audioOutput_(new QAudioOutput(this)),
      screen_(new WaveformView(this)), waveform_(new WaveformReader(this)),
      seekSlider_(new QSlider(Qt::Horizontal, this)),
      playPauseButton_(makeControlButton(this, QStringLiteral("playPauseButton"),
                                         "media-playback-start", QStyle::SP_MediaPlay,
                                         QStringLiteral("播放"))),
      stopButton_(makeControlButton(this, QStringLiteral("stopButton"), "media-playback-stop",
                                    QStyle::SP_MediaStop, QStringLiteral("停止"))),
      timeLabel_(new QLabel(this)), describeTimer_(new QTimer(this)) {
    setContextMenuPolicy(Qt::NoContextMenu);
    audioOutput_->setVolume(kInitialVolume);
    player_->setAudioOutput(audioOutput_);

    // The screen above the controls shows the sound and names the file, or says it cannot play.
    screen_->setObjectName(QStringLiteral("screen"));
    screen_->setFocusPolicy(Qt::ClickFocus);
    screen_->setAccessibleName(QStringLiteral("波形"));
    describeTimer_->setSingleShot(true);
    describeTimer_->setInterval(kDescribeIntervalMs);
    connect(describeTimer_, &QTimer::timeout, this, &QtPlayerView::describeScreen);

    seekSlider_->setObjectName(QStringLiteral("seekSlider"));
    seekSlider_->setAccessibleName(QStringLiteral("播放进度"));
    seekSlider_->setRange(0, 0);
    seekSlider_->setSingleStep(static_cast<int>(kFineStepMs));
    seekSlider_->setPageStep(static_cast<int>(kCoarseStepMs));

    timeLabel_->setObjectName(QStringLiteral("timeLabel"));
    showTime();
    describeScreen();

    // One row of controls leaves the screen the rest of the height: in the main window the
    // player is only 93 pixels high.
    auto* controlsRow = new QHBoxLayout;
    controlsRow->setContentsMargins(0, 0, 0, 0);
    controlsRow->setSpacing(2);
    controlsRow->addWidget(playPauseButton_);
    controlsRow->addWidget(stopButton_);
    controlsRow->addWidget(seekSlider_, 1);
    controlsRow->addWidget(timeLabel_);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(2, 2, 2, 2);
    column->setSpacing(2);
    column->addWidget(screen_, 1);
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
    connect(screen_, &WaveformView::seekRequested, this,
            [this](double seconds) { seekTo(toMilliseconds(seconds)); });
    connect(waveform_, &WaveformReader::changed, this, &QtPlayerView::showScene);

    for (QWidget* control :
         {static_cast<QWidget*>(playPauseButton_), static_cast<QWidget*>(stopButton_),
          static_cast<QWidget*>(seekSlider_), static_cast<QWidget*>(screen_)}) {
        control->installEventFilter(this);
    }
}

QtPlayerView::~QtPlayerView() {
    waveform_->stop();
    // Let the pipeline go before the audio output it plays into.
    player_->stop();
    player_->setSource(QUrl());
}

bool QtPlayerView::setURL(const std::string& path) {
    url_ = path;
    restartedAfterLostStart_ = false;
    mediaFailed_ = false;
    // The outline of the file before is of no use any more; stopping its reading closes it.
    waveform_->stop();
    if (path.empty()) {
        player_->stop();
        // An empty source closes the file, so it can be deleted or rewritten right after.
        player_->setSource(QUrl());
        caption_.clear();
        waveform_->read(QString());
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
    waveform_->read(localPath);
    if (player_->duration() > 0) {
        waveform_->useLength(toSeconds(player_->duration()));
    }
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

void QtPlayerView::showMarks(std::optional<double> startSeconds, std::optional<double> endSeconds) {
    startMark_ = startSeconds;
    endMark_ = endSeconds;
    showScene();
}

void QtPlayerView::holdBackgroundWork(bool hold) {
    waveform_->setHeld(hold);
}

bool QtPlayerView::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress &&
        handleControlKey(watched, *static_cast<QKeyEvent*>(event))) {
        event->accept();
        return true;
    }
    return PlayerView::eventFilter(watched, event);
}

bool QtPlayerView::handleControlKey(QObject* control, const QKeyEvent& key) {
    const bool enter = key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter;
    if ((key.modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
        // Enter belongs to the focused control even with a modifier: passed on, it would reach
        // the window and its default button.
        return enter;
    }
    if (enter) {
        // A button does its own action; the slider and the screen have none.
        if (control == playPauseButton_) {
            togglePlayback();
        } else if (control == stopButton_) {
            player_->stop();
        }
        return true;
    }
    switch (key.key()) {
    case Qt::Key_Space:
        togglePlayback();
        return true;
    case Qt::Key_Left:
        stepBy(-kFineStepMs);
        return true;
    case Qt::Key_Right:
        stepBy(kFineStepMs);
        return true;
    case Qt::Key_PageUp:
        stepBy(kCoarseStepMs);
        return true;
    case Qt::Key_PageDown:
        stepBy(-kCoarseStepMs);
        return true;
    case Qt::Key_Home:
        seekTo(0);
        return true;
    default:
        return false;
    }
}

void QtPlayerView::stepBy(qint64 milliseconds) {
    seekTo(player_->position() + milliseconds);
}

void QtPlayerView::seekTo(qint64 milliseconds) {
    if (!hasUsableMedia()) {
        return;
    }
    const qint64 duration = player_->duration();
    const qint64 target = std::clamp<qint64>(milliseconds, 0, std::max<qint64>(duration, 0));
    // Only the place changes: playing goes on playing, paused stays paused.
    player_->setPosition(target);
    showPosition(target);
}

void QtPlayerView::showScene() {
    WaveformScene scene;
    const bool outlined = hasUsableMedia() && waveform_->state() != WaveformReader::State::Failed &&
                          waveform_->state() != WaveformReader::State::Idle;
    scene.peaks = outlined ? &waveform_->peaks() : nullptr;
    scene.durationSeconds = hasUsableMedia() ? toSeconds(player_->duration()) : 0.0;
    if (hasUsableMedia()) {
        scene.playheadSeconds = toSeconds(player_->position());
        scene.startSeconds = startMark_;
        scene.endSeconds = endMark_;
    }
    scene.caption = caption_;
    screen_->setScene(scene);
    describeScreen();
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
            if (waveform_->state() != WaveformReader::State::Reading &&
                waveform_->state() != WaveformReader::State::Complete) {
                waveform_->read(QString::fromStdString(url_));
            }
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
    waveform_->stop();
    // Told on the screen only: no dialog interrupts the user.
    caption_ = QStringLiteral("无法播放此文件");
    showScene();
}

void QtPlayerView::showFileName() {
    caption_ = QFileInfo(QString::fromStdString(url_)).fileName();
    showScene();
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
    playPauseButton_->setIcon(playing
                                  ? mediaIcon(*this, "media-playback-pause", QStyle::SP_MediaPause)
                                  : mediaIcon(*this, "media-playback-start", QStyle::SP_MediaPlay));
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
    showScene();
}

void QtPlayerView::showDuration(qint64 durationMs) {
    seekSlider_->setRange(
        0, static_cast<int>(std::clamp<qint64>(durationMs, 0, std::numeric_limits<int>::max())));
    if (durationMs > 0) {
        waveform_->useLength(toSeconds(durationMs));
    }
    showTime();
    showScene();
}

void QtPlayerView::showTime() {
    const qint64 durationMs = player_->duration();
    const bool withHours = clockWithHours();
    // At the end the pipeline may stand a little past the length it reported.
    const qint64 positionMs = std::min(player_->position(), std::max<qint64>(durationMs, 0));
    timeLabel_->setText(formatClock(positionMs, withHours) + QStringLiteral(" / ") +
                        formatClock(durationMs, withHours));
}

bool QtPlayerView::clockWithHours() const {
    return player_->duration() >= kSecondsPerHour * kMillisecondsPerSecond;
}

QString QtPlayerView::screenDescription() const {
    // What the screen shows, in words: the clock as it reads, the marks in the same form, and
    // the file's name or why it cannot play.
    QStringList parts{timeLabel_->text()};
    if (hasUsableMedia()) {
        const bool withHours = clockWithHours();
        if (startMark_) {
            parts << QStringLiteral("开始 ") + formatClock(toMilliseconds(*startMark_), withHours);
        }
        if (endMark_) {
            parts << QStringLiteral("结束 ") + formatClock(toMilliseconds(*endMark_), withHours);
        }
    }
    if (!caption_.isEmpty()) {
        parts << caption_;
    }
    return parts.join(QStringLiteral("，"));
}

void QtPlayerView::describeScreen() {
    // A change while the timer runs is told when it runs out, so the reader always ends up
    // with the latest state, without an update on every tenth of a second.
    if (describeTimer_->isActive()) {
        return;
    }
    const QString description = screenDescription();
    if (description != screen_->accessibleDescription()) {
        // QWidget sends the accessibility event (DescriptionChanged) itself.
        screen_->setAccessibleDescription(description);
        describeTimer_->start();
    }
}

PlayerFactory makeQtPlayerFactory() {
    return [](QWidget* parent) -> PlayerView* { return new QtPlayerView(parent); };
}

} // namespace quavera
