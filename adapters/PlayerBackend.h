#pragma once

#include <QObject>
#include <QString>
#include <cstdint>

namespace quavera {

// What the player's controller asks of the media engine underneath. Times are milliseconds.
// Every file loaded gets a number of its own, and the signals that tell of a file's fate carry
// it, so a late report of one file is never taken for the next.
class PlayerBackend : public QObject {
    Q_OBJECT
public:
    using Source = std::uint64_t;

    using QObject::QObject;

    // Opens `path` under a new number; empty text closes the file before this returns.
    virtual void load(const QString& path) = 0;
    // The number of the file loaded last; it is already set while load() runs.
    [[nodiscard]] virtual Source source() const = 0;
    virtual void play() = 0;
    virtual void pause() = 0;
    // Back to the start, not playing; the file stays open.
    virtual void stop() = 0;
    virtual void setPosition(qint64 milliseconds) = 0;

    [[nodiscard]] virtual qint64 position() const = 0;
    [[nodiscard]] virtual qint64 duration() const = 0;
    [[nodiscard]] virtual bool isPlaying() const = 0;

signals:
    void positionChanged(qint64 milliseconds);
    void durationChanged(qint64 milliseconds);
    void playingChanged(bool playing);
    // The file cannot be played.
    void failed(Source source);
    // Playback reached the end of the file.
    void ended(Source source);
};

} // namespace quavera
