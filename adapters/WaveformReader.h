#pragma once

#include "core/WaveformPeaks.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace quavera {

// What an outline is read from: a whole file, or only some of its bytes (the frames of a part
// of the medium).
struct OutlineSource {
    QString path;
    qint64 firstByte = 0;
    qint64 endByte = -1; // below 0: to the end of the file
    // Where the first decoded sample plays on the player's clock.
    double startSeconds = 0;
};

// The decoding under the outline, one per file. It works on its own thread and announces a few
// small buffers at a time; the reader takes them when it is free to.
class OutlineDecoder : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual void start(const OutlineSource& source) = 0;
    // Puts the decoding to rest; the file is closed before this returns.
    virtual void stop() = 0;
    [[nodiscard]] virtual bool bufferAvailable() const = 0;
    // Adds the next waiting buffer to `peaks` and tells where it ends, in seconds of the medium;
    // nothing if no buffer could be taken.
    virtual std::optional<double> takeBuffer(WaveformPeaks& peaks) = 0;

signals:
    void bufferReady();
    void lengthKnown(double seconds);
    void finished();
    void failed();
};

using OutlineDecoderFactory = std::function<std::unique_ptr<OutlineDecoder>()>;

// Qt Multimedia's decoder, GStreamer underneath as for the player.
[[nodiscard]] OutlineDecoderFactory makeQtOutlineDecoderFactory();

// Reads a medium's loudness outline. The event loop only ever does a short scan per buffer, and
// the buffers are dropped at once.
class WaveformReader final : public QObject {
    Q_OBJECT
public:
    enum class State { Idle, Reading, Complete, Failed };

    explicit WaveformReader(QObject* parent = nullptr);
    WaveformReader(OutlineDecoderFactory makeDecoder, QObject* parent);
    ~WaveformReader() override;
    WaveformReader(const WaveformReader&) = delete;
    WaveformReader& operator=(const WaveformReader&) = delete;

    // Stops any reading before and starts on `path`; empty text only stops. Stopping closes the
    // file before this returns.
    void read(const QString& path);
    // Stops any reading before and reads the outline of the part of the medium from
    // `fromSeconds` to `toSeconds`, decoded from `source`.
    void readPart(const OutlineSource& source, double fromSeconds, double toSeconds);
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
    void start(const OutlineSource& source);
    void takeBuffers();
    void finish(State state);
    void announce(bool now);

    OutlineDecoderFactory makeDecoder_;
    std::unique_ptr<OutlineDecoder> decoder_;
    WaveformPeaks peaks_;
    State state_ = State::Idle;
    double readSeconds_ = 0;
    bool held_ = false;
    // The file ended while held: its last buffers still wait in the queue.
    bool endedWhileHeld_ = false;
    QElapsedTimer sinceAnnounced_;
};

// GStreamer's libav MP3 decoder hands out planar samples, which the Qt decoder's pipeline cannot
// take; mpg123 hands out interleaved ones. Must run before GStreamer starts; a rank the user
// set stays.
void PreferInterleavedMp3Decoding();

} // namespace quavera
