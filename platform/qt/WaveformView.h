#pragma once

#include "core/WaveformPeaks.h"

#include <QColor>
#include <QString>
#include <QWidget>
#include <optional>

class QPainter;

namespace quavera {

// What the player's screen shows: the outline of the medium over its whole length, the marks
// with the span between them shaded, the playhead, and a caption (the file name, or why there
// is nothing to play).
struct WaveformScene {
    const WaveformPeaks* peaks = nullptr; // none: no outline
    double durationSeconds = 0;
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
} // namespace waveform_colours

// Draws the scene on a canvas of `size`; depends on nothing else, so it can be checked on an image.
void PaintWaveform(QPainter& painter, const QSize& size, const WaveformScene& scene);

// The column of `seconds` on a canvas `width` pixels wide showing `durationSeconds`.
[[nodiscard]] int WaveformColumn(double seconds, double durationSeconds, int width);

// The player's screen. A click or drag on it asks to move playback there.
class WaveformView final : public QWidget {
    Q_OBJECT
public:
    explicit WaveformView(QWidget* parent = nullptr);

    void setScene(const WaveformScene& scene);
    [[nodiscard]] const WaveformScene& scene() const { return scene_; }
    [[nodiscard]] QString text() const { return scene_.caption; }

signals:
    void seekRequested(double seconds);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    void seekTo(int x);

    WaveformScene scene_;
};

} // namespace quavera
