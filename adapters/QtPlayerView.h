#pragma once

#include "adapters/PlayerBackend.h"
#include "adapters/WaveformReader.h"
#include "ui/PlayerView.h"

#include <memory>
#include <optional>
#include <string>

namespace quavera {

class PlayerControls;
class WaveformDetail;

// The embedded player: wires the passive controls (PlayerControls) to the media engine
// (GstPlayerBackend, unless a test gives another) and to the readers of the loudness outline:
// the whole medium's, and a finer one of the part shown when the screen is zoomed.
// A path given to setURL plays at once; empty text stops and closes the file. Errors never show
// a dialog: the player simply has no duration or position.
//
// With no sound device at all (a headless build machine) GStreamer's automatic audio sink falls
// back to a silent sink that keeps the clock, so playback and the position still advance. Should
// a stream still be lost while it starts, so that playback "ends" at position 0, the view starts
// the file once more.
class QtPlayerView final : public PlayerView {
    Q_OBJECT
public:
    explicit QtPlayerView(QWidget* parent = nullptr);
    QtPlayerView(std::unique_ptr<PlayerBackend> backend, OutlineDecoderFactory outlineDecoders,
                 QWidget* parent);
    ~QtPlayerView() override;

    bool setURL(const std::string& path) override;
    [[nodiscard]] std::string URL() const override;
    [[nodiscard]] std::optional<double> duration() const override;
    [[nodiscard]] std::optional<double> currentPosition() const override;
    bool pause() override;
    void showMarks(std::optional<double> startSeconds, std::optional<double> endSeconds) override;
    void holdBackgroundWork(bool hold) override;

private:
    [[nodiscard]] bool hasUsableMedia() const;
    void togglePlayback();
    void stepBy(qint64 milliseconds);
    void seekTo(qint64 milliseconds);
    void showDuration(qint64 milliseconds);
    void showOutline();
    void showDetail();
    void showFailure(PlayerBackend::Source source);
    void restartIfNothingWasPlayed(PlayerBackend::Source source);

    PlayerBackend* backend_;
    PlayerControls* controls_;
    WaveformReader* waveform_;
    WaveformDetail* detail_;
    std::string url_;
    bool mediaFailed_ = false;
    bool restartedAfterLostStart_ = false;
};

// Makes the real player for a window.
[[nodiscard]] PlayerFactory makeQtPlayerFactory();

} // namespace quavera
