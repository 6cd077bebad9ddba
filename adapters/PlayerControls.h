#pragma once

#include <QString>
#include <QWidget>
#include <optional>

class QKeyEvent;
class QLabel;
class QSlider;
class QTimer;
class QToolButton;

namespace quavera {

class WaveformPeaks;
class WaveformView;

// The player's face: a screen with the medium's loudness outline, the playhead, the marks and a
// caption, and below it play/pause, stop, a seek slider and the time in tenths of a second. It
// never touches the media engine: what it shows comes in through the setters, what the user
// does leaves as signals.
//
// With a control focused: Left/Right step 0.1 s, Page Up/Page Down 5 s, Space plays or pauses,
// Home goes to the start, + (or =) and - zoom the screen in and out around the playhead, 0 shows
// the whole medium again, and Enter acts on the focused button (or does nothing), so it never
// reaches the window's default button.
//
// For a screen reader the screen is "波形", and its description reads the clock, the marks, the
// part shown when zoomed and the caption, e.g.
// "01:05.3 / 03:20.0，开始 00:10.0，显示 01:00.0–01:10.0，歌.mp3".
class PlayerControls final : public QWidget {
    Q_OBJECT
public:
    explicit PlayerControls(QWidget* parent = nullptr);

    void setPlaying(bool playing);
    void setPosition(qint64 milliseconds);
    void setDuration(qint64 milliseconds);
    // The file's name, or why it cannot be played.
    void setCaption(const QString& caption);
    // Without usable media the screen shows no outline, playhead or marks.
    void setMediaUsable(bool usable);
    // Nothing: no outline. The peaks must live until the next call.
    void setOutline(const WaveformPeaks* peaks);
    void setMarks(std::optional<double> startSeconds, std::optional<double> endSeconds);
    // A finer outline of a part of the medium, drawn where it covers the screen. The peaks must
    // live until the next call.
    void setDetail(const WaveformPeaks* peaks);
    void showWholeMedium();
    // The part of the medium on the screen and the device's pixels across it.
    [[nodiscard]] double shownFromSeconds() const;
    [[nodiscard]] double shownToSeconds() const;
    [[nodiscard]] int shownColumns() const;

signals:
    void playPauseRequested();
    void stopRequested();
    void seekRequested(qint64 milliseconds);
    void stepRequested(qint64 milliseconds);
    void shownChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    [[nodiscard]] bool handleControlKey(QObject* control, const QKeyEvent& key);
    [[nodiscard]] bool handleZoomKey(const QKeyEvent& key);
    void showScene();
    void showTime();
    [[nodiscard]] bool clockWithHours() const;
    [[nodiscard]] QString screenDescription() const;
    void describeScreen();

    WaveformView* screen_;
    QSlider* seekSlider_;
    QToolButton* playPauseButton_;
    QToolButton* stopButton_;
    QLabel* timeLabel_;
    QTimer* describeTimer_;
    qint64 positionMs_ = 0;
    qint64 durationMs_ = 0;
    bool usable_ = false;
    const WaveformPeaks* outline_ = nullptr;
    const WaveformPeaks* detail_ = nullptr;
    QString caption_;
    std::optional<double> startMark_;
    std::optional<double> endMark_;
};

} // namespace quavera
