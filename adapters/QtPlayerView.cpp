#include "adapters/QtPlayerView.h"

#include "adapters/GstPlayerBackend.h"
#include "adapters/PlayerControls.h"
#include "adapters/WaveformDetail.h"

#include <QFileInfo>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace quavera {

namespace {

constexpr double kMillisecondsPerSecond = 1000.0;

double toSeconds(qint64 milliseconds) {
    return static_cast<double>(milliseconds) / kMillisecondsPerSecond;
}

} // namespace

QtPlayerView::QtPlayerView(QWidget* parent)
    : QtPlayerView(std::make_unique<GstPlayerBackend>(), makeQtOutlineDecoderFactory(), parent) {}

QtPlayerView::QtPlayerView(std::unique_ptr<PlayerBackend> backend,
                           OutlineDecoderFactory outlineDecoders, QWidget* parent)
    : PlayerView(parent), backend_(backend.release()), controls_(new PlayerControls(this)),
      waveform_(new WaveformReader(outlineDecoders, this)),
      detail_(new WaveformDetail(std::move(outlineDecoders), this)) {
    backend_->setParent(this);
    setContextMenuPolicy(Qt::NoContextMenu);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(controls_);

    connect(controls_, &PlayerControls::playPauseRequested, this, &QtPlayerView::togglePlayback);
    connect(controls_, &PlayerControls::stopRequested, backend_, &PlayerBackend::stop);
    connect(controls_, &PlayerControls::seekRequested, this, &QtPlayerView::seekTo);
    connect(controls_, &PlayerControls::stepRequested, this, &QtPlayerView::stepBy);
    connect(backend_, &PlayerBackend::positionChanged, controls_, &PlayerControls::setPosition);
    connect(backend_, &PlayerBackend::durationChanged, this, &QtPlayerView::showDuration);
    connect(backend_, &PlayerBackend::playingChanged, controls_, &PlayerControls::setPlaying);
    connect(backend_, &PlayerBackend::failed, this, &QtPlayerView::showFailure);
    connect(backend_, &PlayerBackend::ended, this, &QtPlayerView::restartIfNothingWasPlayed);
    connect(waveform_, &WaveformReader::changed, this, &QtPlayerView::showOutline);
    connect(controls_, &PlayerControls::shownChanged, this, &QtPlayerView::showDetail);
    connect(detail_, &WaveformDetail::changed, this,
            [this] { controls_->setDetail(detail_->peaks()); });
    showOutline();
}

QtPlayerView::~QtPlayerView() {
    waveform_->stop();
    detail_->setSource(QString());
    backend_->load(QString());
}

bool QtPlayerView::setURL(const std::string& path) {
    url_ = path;
    restartedAfterLostStart_ = false;
    mediaFailed_ = false;
    // The outline of the file before is of no use any more; stopping its reading closes it.
    waveform_->stop();
    const QString localPath = QString::fromStdString(path);
    detail_->setSource(localPath);
    controls_->showWholeMedium();
    controls_->setCaption(path.empty() ? QString() : QFileInfo(localPath).fileName());
    controls_->setMediaUsable(hasUsableMedia());
    // Giving the same file again plays it again from its start: every file loads afresh.
    backend_->load(localPath);
    if (path.empty()) {
        waveform_->read(QString());
        return true;
    }
    backend_->play();
    if (!mediaFailed_) {
        waveform_->read(localPath);
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
    return toSeconds(backend_->duration());
}

std::optional<double> QtPlayerView::currentPosition() const {
    if (!hasUsableMedia()) {
        return std::nullopt;
    }
    return toSeconds(backend_->position());
}

bool QtPlayerView::pause() {
    if (!hasUsableMedia()) {
        return false;
    }
    backend_->pause();
    return true;
}

void QtPlayerView::showMarks(std::optional<double> startSeconds, std::optional<double> endSeconds) {
    controls_->setMarks(startSeconds, endSeconds);
}

void QtPlayerView::holdBackgroundWork(bool hold) {
    waveform_->setHeld(hold);
    detail_->setHeld(hold);
}

bool QtPlayerView::hasUsableMedia() const {
    return !url_.empty() && !mediaFailed_;
}

void QtPlayerView::togglePlayback() {
    if (backend_->isPlaying()) {
        backend_->pause();
    } else {
        backend_->play();
    }
}

void QtPlayerView::stepBy(qint64 milliseconds) {
    seekTo(backend_->position() + milliseconds);
}

void QtPlayerView::seekTo(qint64 milliseconds) {
    if (!hasUsableMedia()) {
        return;
    }
    const qint64 target =
        std::clamp<qint64>(milliseconds, 0, std::max<qint64>(backend_->duration(), 0));
    // Only the place changes: playing goes on playing, paused stays paused.
    backend_->setPosition(target);
    controls_->setPosition(target);
}

void QtPlayerView::showDuration(qint64 milliseconds) {
    if (milliseconds > 0) {
        waveform_->useLength(toSeconds(milliseconds));
    }
    controls_->setDuration(milliseconds);
}

void QtPlayerView::showOutline() {
    const WaveformReader::State state = waveform_->state();
    const bool outlined =
        state == WaveformReader::State::Reading || state == WaveformReader::State::Complete;
    controls_->setOutline(outlined ? &waveform_->peaks() : nullptr);
}

void QtPlayerView::showDetail() {
    detail_->show(controls_->shownFromSeconds(), controls_->shownToSeconds(),
                  controls_->shownColumns(), toSeconds(backend_->duration()));
}

void QtPlayerView::showFailure(PlayerBackend::Source source) {
    // A report of a file loaded before is no news about this one.
    if (source != backend_->source() || url_.empty()) {
        return;
    }
    mediaFailed_ = true;
    waveform_->stop();
    detail_->setSource(QString());
    // Told on the screen only: no dialog interrupts the user.
    controls_->setCaption(QStringLiteral("无法播放此文件"));
    controls_->setMediaUsable(false);
}

void QtPlayerView::restartIfNothingWasPlayed(PlayerBackend::Source source) {
    // A normal end stands at the end of the medium. One more try is enough: a file that really
    // holds nothing playable ends the same way again and stays ended.
    if (source != backend_->source() || backend_->position() > 0 || restartedAfterLostStart_) {
        return;
    }
    restartedAfterLostStart_ = true;
    backend_->play();
}

PlayerFactory makeQtPlayerFactory() {
    return [](QWidget* parent) -> PlayerView* { return new QtPlayerView(parent); };
}

} // namespace quavera
