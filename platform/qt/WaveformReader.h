#pragma once

#include "core/WaveformPeaks.h"

#include <QAudioDecoder>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <memory>

namespace quavera {

// Reads a medium's loudness outline with Qt Multimedia's decoder (GStreamer underneath, as the
// player). The decoder works on its own thread and hands over a few small buffers at a time, so
// the event loop only ever does a short scan per buffer; the buffers are dropped at once.
class WaveformReader final : public QObject {
    Q_OBJECT
public:
    enum class State { Idle, Reading, Complete, Failed };

    explicit WaveformReader(QObject* parent = nullptr);
    ~WaveformReader() override;
    WaveformReader(const WaveformReader&) = delete;
    WaveformReader& operator=(const WaveformReader&) = delete;

    // Stops any reading before and starts on `path`; empty text only stops. Stopping closes the
    // file before this returns.
    void read(const QString& path);
    void stop();
    // The medium's length, from the player or the decoder, whichever knows it first; the
    // outline never covers less than it.
    void useLength(double seconds);
    // While held, no buffer is taken: the decoder's queue fills and its thread waits, leaving
    // the processor to others. The file stays open; stop() still closes it at once.
    void setHeld(bool held);

    [[nodiscard]] State state() const { return state_; }
    [[nodiscard]] const WaveformPeaks& peaks() const { return peaks_; }
    // How far the reading has come, in seconds of the medium.
    [[nodiscard]] double readSeconds() const { return readSeconds_; }

signals:
    // More of the outline is there (at most every few dozen milliseconds), or the state changed.
    void changed();

private:
    void takeBuffers();
    void finish(State state);
    void announce(bool now);

    std::unique_ptr<QAudioDecoder> decoder_;
    WaveformPeaks peaks_;
    State state_ = State::Idle;
    double readSeconds_ = 0;
    bool held_ = false;
    QElapsedTimer sinceAnnounced_;
};

// GStreamer's libav MP3 decoder hands out planar samples, which the Qt decoder's pipeline cannot
// take; mpg123 hands out interleaved ones. Must run before GStreamer starts; a rank the user
// set stays.
void PreferInterleavedMp3Decoding();

} // namespace quavera
