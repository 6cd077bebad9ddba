#pragma once

#include "ui/PlayerView.h"

#include <QMediaPlayer>
#include <QString>
#include <optional>

class QKeyEvent;

class QAudioOutput;
class QLabel;
class QSlider;
class QTimer;
class QToolButton;

namespace quavera {

class WaveformReader;
class WaveformView;

// The embedded player: Qt Multimedia playing through the GStreamer backend (the program sets
// QT_MEDIA_BACKEND=gstreamer before the first player exists), with its own controls: play/pause,
// stop, a seek slider and the time in tenths of a second, above them a screen with the medium's
// loudness outline, the playhead and the marks; a click or drag on it moves playback there.
// A path given to setURL plays at once; empty text stops and closes the file. Errors never show
// a dialog: the player simply has no duration or position.
//
// With a control of the player focused: Left/Right step 0.1 s, Page Up/Page Down 5 s, Space
// plays or pauses, Home goes to the start, and Enter acts on the focused button (or does
// nothing), so it never reaches the window's default button.
//
// For a screen reader the screen is "波形", and its description reads the clock, the marks and
// the caption, e.g. "01:05.3 / 03:20.0，开始 00:10.0，歌.mp3".
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
    void showMarks(std::optional<double> startSeconds, std::optional<double> endSeconds) override;
    void holdBackgroundWork(bool hold) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    [[nodiscard]] bool hasUsableMedia() const;
    void togglePlayback();
    void stepBy(qint64 milliseconds);
    void seekTo(qint64 milliseconds);
    [[nodiscard]] bool handleControlKey(QObject* control, const QKeyEvent& key);
    void showScene();
    void showPlaybackState();
    void showPosition(qint64 positionMs);
    void showDuration(qint64 durationMs);
    void showTime();
    [[nodiscard]] bool clockWithHours() const;
    [[nodiscard]] QString screenDescription() const;
    void describeScreen();
    void followMediaStatus(QMediaPlayer::MediaStatus status);
    void showFailure();
    void showFileName();
    void restartIfNothingWasPlayed();

    QMediaPlayer* player_;
    QAudioOutput* audioOutput_;
    WaveformView* screen_;
    WaveformReader* waveform_;
    QSlider* seekSlider_;
    QToolButton* playPauseButton_;
    QToolButton* stopButton_;
    QLabel* timeLabel_;
    QTimer* describeTimer_;
    std::string url_;
    QString caption_;
    std::optional<double> startMark_;
    std::optional<double> endMark_;
    bool restartedAfterLostStart_ = false;
    bool mediaFailed_ = false;
};

// Makes the real player for a window.
[[nodiscard]] PlayerFactory makeQtPlayerFactory();

} // namespace quavera
