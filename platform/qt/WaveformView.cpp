#include "platform/qt/WaveformView.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace quavera {

namespace {

constexpr int kCaptionMargin = 3;

void DrawMark(QPainter& painter, const QSize& size, double seconds, double duration,
              const QColor& colour) {
    const int x = WaveformColumn(seconds, duration, size.width());
    painter.fillRect(QRect(x, 0, 1, size.height()), colour);
}

} // namespace

int WaveformColumn(double seconds, double durationSeconds, int width) {
    if (!(durationSeconds > 0) || width <= 0) {
        return 0;
    }
    const double x = std::floor(seconds / durationSeconds * width);
    return static_cast<int>(std::clamp(x, 0.0, static_cast<double>(width - 1)));
}

void PaintWaveform(QPainter& painter, const QSize& size, const WaveformScene& scene) {
    namespace colours = waveform_colours;
    painter.fillRect(QRect(QPoint(0, 0), size), colours::kBackground);
    const double duration = scene.durationSeconds;
    const bool timed = duration > 0;

    // The span between the marks, what a cut keeps, is shaded and its outline drawn brighter.
    int keptFrom = 0;
    int keptTo = size.width() - 1;
    if (timed && scene.startSeconds && scene.endSeconds) {
        keptFrom = WaveformColumn(std::min(*scene.startSeconds, *scene.endSeconds), duration,
                                  size.width());
        keptTo = WaveformColumn(std::max(*scene.startSeconds, *scene.endSeconds), duration,
                                size.width());
        painter.fillRect(QRect(keptFrom, 0, keptTo - keptFrom + 1, size.height()),
                         colours::kShaded);
    }

    if (timed && scene.peaks != nullptr) {
        const double middle = (size.height() - 1) / 2.0;
        for (int x = 0; x < size.width(); ++x) {
            const WaveformPeaks::Slice slice = scene.peaks->extremes(
                x * duration / size.width(), (x + 1) * duration / size.width());
            if (slice.empty()) {
                continue;
            }
            const int top = static_cast<int>(
                std::lround(middle - std::clamp(slice.high, -1.0f, 1.0f) * middle));
            const int bottom =
                static_cast<int>(std::lround(middle - std::clamp(slice.low, -1.0f, 1.0f) * middle));
            const bool kept = x >= keptFrom && x <= keptTo;
            painter.fillRect(QRect(x, top, 1, bottom - top + 1),
                             kept ? colours::kOutline : colours::kOutlineOutside);
        }
    }

    if (timed) {
        if (scene.startSeconds) {
            DrawMark(painter, size, *scene.startSeconds, duration, colours::kStartMark);
        }
        if (scene.endSeconds) {
            DrawMark(painter, size, *scene.endSeconds, duration, colours::kEndMark);
        }
        if (scene.playheadSeconds) {
            DrawMark(painter, size, *scene.playheadSeconds, duration, colours::kPlayhead);
        }
    }

    if (!scene.caption.isEmpty()) {
        // On a dark plate, so the name stays readable over a loud passage.
        const QFontMetrics metrics = painter.fontMetrics();
        const QString text =
            metrics.elidedText(scene.caption, Qt::ElideMiddle, size.width() - 4 * kCaptionMargin);
        const QRect plate(kCaptionMargin, kCaptionMargin,
                          metrics.horizontalAdvance(text) + 2 * kCaptionMargin, metrics.height());
        painter.fillRect(plate, QColor(0, 0, 0, 170));
        painter.setPen(colours::kCaption);
        painter.drawText(plate, Qt::AlignCenter, text);
    }
}

WaveformView::WaveformView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumHeight(0);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Expanding);
    setCursor(Qt::PointingHandCursor);
}

void WaveformView::setScene(const WaveformScene& scene) {
    scene_ = scene;
    update();
}

void WaveformView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    PaintWaveform(painter, size(), scene_);
}

void WaveformView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        seekTo(event->position().toPoint().x());
    }
}

void WaveformView::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() & Qt::LeftButton) {
        seekTo(event->position().toPoint().x());
    }
}

void WaveformView::seekTo(int x) {
    if (scene_.durationSeconds > 0 && width() > 0) {
        const double fraction = std::clamp((x + 0.5) / width(), 0.0, 1.0);
        emit seekRequested(fraction * scene_.durationSeconds);
    }
}

} // namespace quavera
