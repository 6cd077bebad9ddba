#pragma once

#include "platform/qt/PlayerView.h"

#include <QMediaPlayer>
#include <QString>

class QAudioOutput;
class QLabel;
class QSlider;
class QToolButton;

namespace quavera {

// The embedded player: Qt Multimedia playing through the GStreamer backend (the program sets
// QT_MEDIA_BACKEND=gstreamer before the first player exists), with its own controls: play/pause,
// stop, a seek slider and the time. A path given to setURL plays at once; empty text stops and
// closes the file. Errors never show a dialog: the player simply has no duration or position.
//
// With no sound device at all (a headless build machine) GStreamer's automatic audio sink falls
// back to a silent sink that keeps the clock, so playback and the position still advance. That
// sink is swapped while a stream starts, and now and then the swap loses the whole stream: playback
// "ends" at position 0. The view then starts the file once more, which recovers it.
class QtPlayerView final : public PlayerView {
    Q_OBJECT
public:
    explicit QtPlayerView(QWidget* parent = nullptr);
    ~QtPlayerView() override;

    bool setURL(const std::string& path) override;
    [[nodiscard]] std::string URL() const override;
    [[nodiscard]] std::optional<double> duration() const override;
    [[nodiscard]] std::optional<double> currentPosition() const override;
    bool pause() override;

private:
    [[nodiscard]] bool hasUsableMedia() const;
    void togglePlayback();
    void showPlaybackState();
    void showPosition(qint64 positionMs);
    void showDuration(qint64 durationMs);
    void showTime();
    void followMediaStatus(QMediaPlayer::MediaStatus status);
    void showFailure();
    void showFileName();
    void restartIfNothingWasPlayed();

    QMediaPlayer* player_;
    QAudioOutput* audioOutput_;
    QLabel* screen_;
    QSlider* seekSlider_;
    QToolButton* playPauseButton_;
    QToolButton* stopButton_;
    QLabel* timeLabel_;
    std::string url_;
    bool restartedAfterLostStart_ = false;
    bool mediaFailed_ = false;
};

// Makes the real player for a window.
[[nodiscard]] PlayerFactory makeQtPlayerFactory();

} // namespace quavera
