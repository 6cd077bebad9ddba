#pragma once

#include "adapters/PlayerBackend.h"

#include <QStringList>

namespace quavera::testing {

// An engine the test drives by hand. Like the real one, loading a file gives it a new number and
// puts the clock back to zero, and a setter fires the change signal the real one would.
class FakePlayerBackend final : public PlayerBackend {
public:
    void load(const QString& path) override {
        loads << path;
        ++source_;
        playing_ = false;
        position_ = 0;
        duration_ = 0;
        emit positionChanged(0);
        emit durationChanged(0);
        emit playingChanged(false);
    }
    [[nodiscard]] Source source() const override { return source_; }
    void play() override {
        ++plays;
        setPlaying(true);
    }
    void pause() override { setPlaying(false); }
    void stop() override {
        setPlaying(false);
        setPosition(0);
    }
    void setPosition(qint64 milliseconds) override {
        position_ = milliseconds;
        emit positionChanged(milliseconds);
    }
    [[nodiscard]] qint64 position() const override { return position_; }
    [[nodiscard]] qint64 duration() const override { return duration_; }
    [[nodiscard]] bool isPlaying() const override { return playing_; }

    void setDuration(qint64 milliseconds) {
        duration_ = milliseconds;
        emit durationChanged(milliseconds);
    }
    void setPlaying(bool playing) {
        playing_ = playing;
        emit playingChanged(playing);
    }
    // Playback stops where it stands and the file of `source` reports its end.
    void end(Source source) {
        setPlaying(false);
        emit ended(source);
    }

    QStringList loads;
    int plays = 0;

private:
    Source source_ = 0;
    qint64 position_ = 0;
    qint64 duration_ = 0;
    bool playing_ = false;
};

} // namespace quavera::testing
