#pragma once

#include "adapters/PlayerBackend.h"

#include <functional>
#include <memory>

class QTimer;
struct _GstElement;

namespace quavera {

// The player's engine: GStreamer's playbin, driven directly, at half volume.
//
// Qt Multimedia's GStreamer backend seeks with the flush flag only. In an MP3 without an
// information frame GStreamer then guesses the byte position from the bit rate it has seen so
// far, and plays minutes away from the clock. Here every seek is also accurate: the parser walks
// the frames up to the target, so what plays is what the clock says on every file.
//
// Each file gets a pipeline and a number of its own; the bus of a pipeline that was let go is
// never read again, so a late report of one file is never taken for the next. Bus messages come
// from GStreamer's threads as a wake-up and are read on the thread the engine lives in.
class GstPlayerBackend final : public PlayerBackend {
    Q_OBJECT
public:
    // Makes the element the sound goes to, one for each file; the default is GStreamer's
    // automatic audio sink, which falls back to a silent sink that keeps the clock when there is
    // no sound device. Tests give a sink that records what is played.
    using AudioSinkFactory = std::function<_GstElement*()>;

    explicit GstPlayerBackend(QObject* parent = nullptr, AudioSinkFactory makeAudioSink = {});
    ~GstPlayerBackend() override;
    GstPlayerBackend(const GstPlayerBackend&) = delete;
    GstPlayerBackend& operator=(const GstPlayerBackend&) = delete;

    void load(const QString& path) override;
    [[nodiscard]] Source source() const override { return source_; }
    void play() override;
    void pause() override;
    void stop() override;
    void setPosition(qint64 milliseconds) override;

    [[nodiscard]] qint64 position() const override;
    [[nodiscard]] qint64 duration() const override;
    [[nodiscard]] bool isPlaying() const override;
    // Linear, 0 to 1; with nothing loaded, the volume the next file gets.
    [[nodiscard]] double volume() const;

private:
    struct BusWake;
    struct Playback;
    static constexpr double kVolume = 0.5;

    void release();
    void readBus(Source source);
    void prerolled();
    void seekNow(qint64 milliseconds);
    void useIndexLength(Source source, qint64 milliseconds);
    void updateDuration();
    void tick();
    void setPlaying(bool playing);

    AudioSinkFactory makeAudioSink_;
    std::unique_ptr<Playback> playback_;
    QTimer* ticker_;
    Source source_ = 0;
    qint64 durationMs_ = 0;
    qint64 lastPositionMs_ = 0;
};

} // namespace quavera
