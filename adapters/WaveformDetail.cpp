#include "adapters/WaveformDetail.h"

#include <QTimer>
#include <algorithm>
#include <utility>

namespace quavera {

namespace {

// Frames decoded before the part and thrown away: a frame's audio may begin in the bytes of
// the frames before it (up to 511 bytes back, several frames at low bit rates), and the
// decoder's filter needs the frame before to finish the first one.
constexpr std::size_t kLeadFrames = 8;
// How often to look whether the frames of a new medium have been indexed (a 60-minute file
// takes some 20 ms).
constexpr int kIndexWaitMs = 10;

} // namespace

WaveformDetail::WaveformDetail(OutlineDecoderFactory makeDecoder, QObject* parent)
    : QObject(parent), reader_(new WaveformReader(std::move(makeDecoder), this)),
      indexWait_(new QTimer(this)) {
    reader_->setObjectName(QStringLiteral("detailReader"));
    indexWait_->setSingleShot(true);
    indexWait_->setInterval(kIndexWaitMs);
    connect(indexWait_, &QTimer::timeout, this, &WaveformDetail::readShownPart);
    connect(reader_, &WaveformReader::changed, this, &WaveformDetail::changed);
}

WaveformDetail::~WaveformDetail() {
    reader_->stop();
}

void WaveformDetail::setSource(const QString& path) {
    drop();
    path_ = path;
    frames_.Prepare(path.toStdString());
}

void WaveformDetail::show(double fromSeconds, double toSeconds, int columns,
                          double durationSeconds) {
    from_ = fromSeconds;
    to_ = toSeconds;
    columns_ = columns;
    duration_ = durationSeconds;
    readShownPart();
}

void WaveformDetail::setHeld(bool held) {
    reader_->setHeld(held);
}

const WaveformPeaks* WaveformDetail::peaks() const {
    const WaveformReader::State state = reader_->state();
    const bool outlined =
        state == WaveformReader::State::Reading || state == WaveformReader::State::Complete;
    return reading_ && outlined ? &reader_->peaks() : nullptr;
}

void WaveformDetail::readShownPart() {
    const double shown = to_ - from_;
    // The whole medium's outline serves while its slices are no wider than a column.
    const bool wanted = !path_.isEmpty() && columns_ > 0 && shown > 0 &&
                        duration_ / WaveformPeaks::kSlices > shown / columns_;
    if (!wanted) {
        drop();
        return;
    }
    // Up to half a screen more on either side, as far as the slices stay no wider than a
    // column: a small move along the medium then needs no new reading.
    const double part =
        shown * std::clamp(static_cast<double>(WaveformPeaks::kSlices) / columns_, 1.0, 2.0);
    const WaveformPeaks& read = reader_->peaks();
    if (reading_ && reader_->state() != WaveformReader::State::Failed &&
        read.fromSeconds() <= from_ && to_ <= read.toSeconds() &&
        read.spanSeconds() <= part * (1 + 1e-9)) {
        return;
    }
    const std::string path = path_.toStdString();
    const std::shared_ptr<const FrameIndex> index = frames_.tryGet(path);
    if (!index && frames_.reading(path)) {
        indexWait_->start();
        return;
    }
    if (!index || !index->hasAudio()) {
        drop();
        return;
    }
    const double partFrom =
        std::clamp((from_ + to_ - part) / 2, 0.0, std::max(duration_ - part, 0.0));
    const FrameIndex::Frames frames = index->FramesBetween(partFrom, partFrom + part, kLeadFrames);
    reading_ = true;
    reader_->readPart(OutlineSource{path_, frames.begin, frames.end, frames.startSeconds}, partFrom,
                      partFrom + part);
}

void WaveformDetail::drop() {
    indexWait_->stop();
    reader_->stop();
    if (std::exchange(reading_, false)) {
        emit changed();
    }
}

} // namespace quavera
