#pragma once

#include "platform/qt/PlayerBackend.h"

class QAudioOutput;
class QMediaPlayer;

namespace quavera {

// Qt Multimedia through the GStreamer backend (the program sets QT_MEDIA_BACKEND=gstreamer
// before the first player exists), at half volume.
//
// Each file gets a QMediaPlayer of its own: a pipeline that is let go may still report an error
// of its file after the next one is loaded, and QMediaPlayer::error() keeps an earlier file's
// error. A player per file ties every report to the file it belongs to.
class QtMediaBackend final : public PlayerBackend {
    Q_OBJECT
public:
    explicit QtMediaBackend(QObject* parent = nullptr);
    ~QtMediaBackend() override;
    QtMediaBackend(const QtMediaBackend&) = delete;
    QtMediaBackend& operator=(const QtMediaBackend&) = delete;

    void load(const QString& path) override;
    [[nodiscard]] Source source() const override { return source_; }
    void play() override;
    void pause() override;
    void stop() override;
    void setPosition(qint64 milliseconds) override;

    [[nodiscard]] qint64 position() const override;
    [[nodiscard]] qint64 duration() const override;
    [[nodiscard]] bool isPlaying() const override;

private:
    void release();

    QAudioOutput* audioOutput_;
    QMediaPlayer* player_ = nullptr;
    Source source_ = 0;
};

} // namespace quavera
