#pragma once

#include "core/WaveformPeaks.h"

#include <QColor>
#include <QString>
#include <QWidget>
#include <optional>

class QPainter;

namespace quavera {

// What the player's screen shows: the outline of the medium, or of the part of it that is zoomed
// into, the marks with the span between them shaded, the playhead, and a caption (the file name,
// or why there is nothing to play).
struct WaveformScene {
    const WaveformPeaks* peaks = nullptr; // none: no outline
    // A finer outline of a part of the medium; where it has been read, it stands for `peaks`.
    const WaveformPeaks* detail = nullptr;
    double durationSeconds = 0;
    // The part of the medium on the screen; an empty one (to not after from): all of it.
    double shownFromSeconds = 0;
    double shownToSeconds = 0;
    std::optional<double> playheadSeconds;
    std::optional<double> startSeconds;
    std::optional<double> endSeconds;
    QString caption;
};

namespace waveform_colours {
inline const QColor kBackground{0, 0, 0};
inline const QColor kShaded{0x2a, 0x3f, 0x2a};
inline const QColor kOutline{0x9c, 0xd4, 0xff};
inline const QColor kOutlineOutside{0x4e, 0x6a, 0x80}; // beyond the marks, when both are set
inline const QColor kPlayhead{0xff, 0xff, 0xff};
inline const QColor kStartMark{0x4c, 0xe0, 0x4c};
inline const QColor kEndMark{0xff, 0x70, 0x50};
inline const QColor kCaption{0xff, 0xff, 0xff};
// Around the screen when Tab has brought the keyboard to it: apart from every mark's colour.
inline const QColor kFocusFrame{0xff, 0xd8, 0x4a};
} // namespace waveform_colours

// Draws the scene on a canvas of `size` (in the painter's units), one column of the outline per
// pixel of the device, however many of them a unit holds. Depends on nothing else, so it can be
// checked on an image.
void PaintWaveform(QPainter& painter, const QSize& size, const WaveformScene& scene);

// The column of `seconds` on a canvas `width` pixels wide showing the medium from `fromSeconds`
// to `toSeconds`; a moment outside them goes to the nearer edge.
[[nodiscard]] int WaveformColumn(double seconds, double fromSeconds, double toSeconds, int width);

// The player's screen. A click or drag on it asks to move playback there. Ctrl + wheel zooms
// around the pointer, from the whole medium down to two seconds across; the wheel alone moves a
// zoomed view along the medium. When the playhead runs off the part shown, the view turns the
// page after it.
class WaveformView final : public QWidget {
    Q_OBJECT
public:
    static constexpr double kShortestShownSeconds = 2.0;

    explicit WaveformView(QWidget* parent = nullptr);

    // The scene's own shown part is ignored: the view keeps its own.
    void setScene(const WaveformScene& scene);
    [[nodiscard]] const WaveformScene& scene() const { return scene_; }
    [[nodiscard]] QString text() const { return scene_.caption; }

    // The shown part becomes `factor` times shorter (longer below 1), with `seconds` at
    // `atFraction` of the width, as far as the medium's ends allow.
    void zoom(double factor, double seconds, double atFraction);
    // Zooms around the playhead, keeping it where it stands on the screen.
    void zoomAtPlayhead(double factor);
    void showWhole();
    [[nodiscard]] bool zoomed() const { return shownSeconds_ > 0; }
    // The moment at `x` pixels from the left edge.
    [[nodiscard]] double secondsAt(double x) const;
    // Pixels of the device across the screen: how finely the outline can be drawn.
    [[nodiscard]] int deviceColumns() const;

signals:
    void seekRequested(double seconds);
    // The part shown, or the number of columns it is drawn in, changed.
    void shownChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void seekTo(int x);
    void show(double fromSeconds, double seconds);
    void followPlayhead(std::optional<double> before);

    WaveformScene scene_;
    // What is shown when zoomed; 0 seconds: the whole medium.
    double shownFrom_ = 0;
    double shownSeconds_ = 0;
};

} // namespace quavera
