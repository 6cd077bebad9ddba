#pragma once

#include "adapters/WaveformReader.h"
#include "core/SourceFrames.h"

#include <QObject>
#include <QString>

class QTimer;

namespace quavera {

// The outline of the part of the medium a zoomed screen shows, read from the audio itself at the
// screen's resolution wherever the whole medium's outline is coarser than a column of the screen.
// Only that part's frames are decoded: the medium's frames are indexed in the background as
// soon as it is given.
class WaveformDetail final : public QObject {
    Q_OBJECT
public:
    WaveformDetail(OutlineDecoderFactory makeDecoder, QObject* parent);
    ~WaveformDetail() override;
    WaveformDetail(const WaveformDetail&) = delete;
    WaveformDetail& operator=(const WaveformDetail&) = delete;

    // Another medium, or none (empty text): any reading stops and its file is closed.
    void setSource(const QString& path);
    // The screen shows the medium, `durationSeconds` long, from `fromSeconds` to `toSeconds`
    // across `columns` pixels of the device.
    void show(double fromSeconds, double toSeconds, int columns, double durationSeconds);
    // As for the whole medium's outline: held, nothing is decoded.
    void setHeld(bool held);
    // The finer outline, as far as it has been read; nothing while none is wanted.
    [[nodiscard]] const WaveformPeaks* peaks() const;

signals:
    void changed();

private:
    void readShownPart();
    void drop();

    WaveformReader* reader_;
    QTimer* indexWait_;
    SourceFrames frames_;
    QString path_;
    bool reading_ = false;
    double from_ = 0;
    double to_ = 0;
    double duration_ = 0;
    int columns_ = 0;
};

} // namespace quavera
