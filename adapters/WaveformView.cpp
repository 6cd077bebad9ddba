#include "adapters/WaveformView.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace quavera {

namespace {

constexpr int kCaptionMargin = 3;
// One notch of the wheel: Ctrl zooms by a factor of √2, so two notches halve the span; alone it
// moves the view a tenth of its width.
constexpr double kWheelNotch = 120.0;
constexpr double kZoomPerNotch = 1.4142135623730951;
constexpr double kPanPerNotch = 0.1;

struct Shown {
    double from = 0;
    double to = 0;
};

Shown ShownPart(const WaveformScene& scene) {
    if (scene.shownToSeconds > scene.shownFromSeconds) {
        return {scene.shownFromSeconds, scene.shownToSeconds};
    }
    return {0.0, scene.durationSeconds};
}

void DrawMark(QPainter& painter, const QSize& pixels, const Shown& shown, double seconds,
              int thickness, const QColor& colour) {
    if (seconds < shown.from || seconds > shown.to) {
        return;
    }
    const int x = WaveformColumn(seconds, shown.from, shown.to, pixels.width());
    painter.fillRect(QRect(x, 0, std::min(thickness, pixels.width() - x), pixels.height()), colour);
}

// The outline in one column: the finer one where it has been read, else the whole medium's.
WaveformPeaks::Slice ColumnExtremes(const WaveformScene& scene, double from, double to) {
    const WaveformPeaks* detail = scene.detail;
    if (detail != nullptr && from >= detail->fromSeconds() && to <= detail->toSeconds() &&
        from < detail->heardToSeconds()) {
        return detail->extremes(from, to);
    }
    return scene.peaks->extremes(from, to);
}

} // namespace

int WaveformColumn(double seconds, double fromSeconds, double toSeconds, int width) {
    if (!(toSeconds > fromSeconds) || width <= 0) {
        return 0;
    }
    const double x = std::floor((seconds - fromSeconds) / (toSeconds - fromSeconds) * width);
    return static_cast<int>(std::clamp(x, 0.0, static_cast<double>(width - 1)));
}

void PaintWaveform(QPainter& painter, const QSize& size, const WaveformScene& scene) {
    namespace colours = waveform_colours;
    painter.fillRect(QRect(QPoint(0, 0), size), colours::kBackground);
    const Shown shown = ShownPart(scene);
    const bool timed = scene.durationSeconds > 0 && shown.to > shown.from;

    // The outline and the lines are drawn in the device's own pixels: on a screen at scale 2 a
    // column of the outline is half a unit wide.
    const qreal ratio = painter.device() != nullptr ? painter.device()->devicePixelRatioF() : 1.0;
    const QSize pixels(static_cast<int>(std::lround(size.width() * ratio)),
                       static_cast<int>(std::lround(size.height() * ratio)));
    const int thickness = std::max(1, static_cast<int>(std::floor(ratio)));
    painter.save();
    painter.scale(1 / ratio, 1 / ratio);

    // The span between the marks, what a cut keeps, is shaded and its outline drawn brighter.
    int keptFrom = 0;
    int keptTo = pixels.width() - 1;
    if (timed && scene.startSeconds && scene.endSeconds) {
        const double first = std::min(*scene.startSeconds, *scene.endSeconds);
        const double last = std::max(*scene.startSeconds, *scene.endSeconds);
        if (last < shown.from || first > shown.to) {
            keptFrom = pixels.width(); // the whole part shown lies outside the piece
            keptTo = -1;
        } else {
            keptFrom = WaveformColumn(first, shown.from, shown.to, pixels.width());
            keptTo = WaveformColumn(last, shown.from, shown.to, pixels.width());
            painter.fillRect(QRect(keptFrom, 0, keptTo - keptFrom + 1, pixels.height()),
                             colours::kShaded);
        }
    }

    if (timed && scene.peaks != nullptr) {
        const double middle = (pixels.height() - 1) / 2.0;
        const double columnSeconds = (shown.to - shown.from) / pixels.width();
        for (int x = 0; x < pixels.width(); ++x) {
            const double from = shown.from + x * columnSeconds;
            const WaveformPeaks::Slice slice = ColumnExtremes(scene, from, from + columnSeconds);
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
            DrawMark(painter, pixels, shown, *scene.startSeconds, thickness, colours::kStartMark);
        }
        if (scene.endSeconds) {
            DrawMark(painter, pixels, shown, *scene.endSeconds, thickness, colours::kEndMark);
        }
        if (scene.playheadSeconds) {
            DrawMark(painter, pixels, shown, *scene.playheadSeconds, thickness, colours::kPlayhead);
        }
    }
    painter.restore();

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
    const std::optional<double> playheadBefore = scene_.playheadSeconds;
    const double durationBefore = scene_.durationSeconds;
    scene_ = scene;
    scene_.shownFromSeconds = shownFrom_;
    scene_.shownToSeconds = shownFrom_ + shownSeconds_;
    show(shownFrom_, shownSeconds_);
    followPlayhead(playheadBefore);
    if (scene_.durationSeconds != durationBefore) {
        emit shownChanged(); // the whole medium is another length now
    }
    update();
}

void WaveformView::zoom(double factor, double seconds, double atFraction) {
    const double duration = scene_.durationSeconds;
    if (!(duration > 0) || !(factor > 0)) {
        return;
    }
    const Shown shown = ShownPart(scene_);
    const double span = std::clamp((shown.to - shown.from) / factor,
                                   std::min(kShortestShownSeconds, duration), duration);
    show(seconds - atFraction * span, span < duration ? span : 0.0);
}

void WaveformView::zoomAtPlayhead(double factor) {
    const Shown shown = ShownPart(scene_);
    const double playhead = scene_.playheadSeconds.value_or((shown.from + shown.to) / 2);
    const bool onScreen = playhead >= shown.from && playhead <= shown.to && shown.to > shown.from;
    zoom(factor, playhead, onScreen ? (playhead - shown.from) / (shown.to - shown.from) : 0.5);
}

void WaveformView::showWhole() {
    show(0, 0);
}

double WaveformView::secondsAt(double x) const {
    const Shown shown = ShownPart(scene_);
    if (width() <= 0) {
        return shown.from;
    }
    return shown.from + std::clamp(x / width(), 0.0, 1.0) * (shown.to - shown.from);
}

int WaveformView::deviceColumns() const {
    return static_cast<int>(std::lround(width() * devicePixelRatioF()));
}

void WaveformView::show(double fromSeconds, double seconds) {
    const Shown before = ShownPart(scene_);
    const double duration = scene_.durationSeconds;
    if (!(seconds > 0) || !(duration > seconds)) {
        shownFrom_ = 0;
        shownSeconds_ = 0;
    } else {
        shownSeconds_ = seconds;
        shownFrom_ = std::clamp(fromSeconds, 0.0, duration - seconds);
    }
    scene_.shownFromSeconds = shownFrom_;
    scene_.shownToSeconds = shownFrom_ + shownSeconds_;
    const Shown after = ShownPart(scene_);
    if (after.from != before.from || after.to != before.to) {
        update();
        emit shownChanged();
    }
}

void WaveformView::followPlayhead(std::optional<double> before) {
    const Shown shown = ShownPart(scene_);
    const std::optional<double> now = scene_.playheadSeconds;
    const auto onScreen = [&](double seconds) {
        return seconds >= shown.from && seconds < shown.to;
    };
    // Only a playhead that was in view is followed: a view moved away from it stays.
    if (!zoomed() || !before || !now || !onScreen(*before) || onScreen(*now)) {
        return;
    }
    const double span = shown.to - shown.from;
    const bool nextPage = *now >= shown.to && *now < shown.to + span;
    show(nextPage ? shown.to : *now - span / 2, span);
}

void WaveformView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    PaintWaveform(painter, size(), scene_);
    if (hasFocus()) {
        // Drawn here rather than by the style: a style's focus frame is made for light
        // backgrounds and can vanish on the screen's black.
        constexpr int kFrameWidth = 2;
        painter.setPen(QPen(waveform_colours::kFocusFrame, kFrameWidth));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRectF(rect()).adjusted(kFrameWidth / 2.0, kFrameWidth / 2.0,
                                                 -kFrameWidth / 2.0, -kFrameWidth / 2.0));
    }
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

void WaveformView::wheelEvent(QWheelEvent* event) {
    const QPoint delta = event->angleDelta();
    const double notches = (delta.y() != 0 ? delta.y() : delta.x()) / kWheelNotch;
    if (event->modifiers() & Qt::ControlModifier) {
        const double x = event->position().x();
        zoom(std::pow(kZoomPerNotch, notches), secondsAt(x), width() > 0 ? x / width() : 0.5);
        event->accept();
    } else if (zoomed()) {
        show(shownFrom_ - notches * kPanPerNotch * shownSeconds_, shownSeconds_);
        event->accept();
    } else {
        event->ignore();
    }
}

void WaveformView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    emit shownChanged();
}

void WaveformView::seekTo(int x) {
    const Shown shown = ShownPart(scene_);
    if (scene_.durationSeconds > 0 && width() > 0) {
        const double fraction = std::clamp((x + 0.5) / width(), 0.0, 1.0);
        emit seekRequested(shown.from + fraction * (shown.to - shown.from));
    }
}

} // namespace quavera
