#include "adapters/GstPlayerBackend.h"

#include "adapters/WaveformReader.h"
#include "core/FrameIndex.h"

#include <QFile>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <gst/gst.h>
#include <optional>
#include <stop_token>
#include <thread>
#include <utility>

namespace quavera {

namespace {

constexpr qint64 kNanosecondsPerMillisecond = 1'000'000;
constexpr int kTickMs = 40;
// A seek has landed when the clock shows its target to within this.
constexpr qint64 kLandedToleranceMs = 5;
// playbin's GstPlayFlags, which no installed header declares: audio only, with playbin's own
// volume element.
constexpr guint kPlayAudio = 1u << 1;
constexpr guint kPlaySoftVolume = 1u << 4;

void EnsureGStreamer() {
    // The outline's decoder needs its choice of MP3 decoder made before GStreamer first starts.
    PreferInterleavedMp3Decoding();
    gst_init(nullptr, nullptr);
}

GstElement* MakeDefaultAudioSink() {
    if (GstElement* sink = gst_element_factory_make("autoaudiosink", nullptr)) {
        return sink;
    }
    // Without the automatic sink's plugin, a silent sink that keeps time as a sound card would.
    GstElement* sink = gst_element_factory_make("fakesink", nullptr);
    if (sink != nullptr) {
        g_object_set(sink, "sync", TRUE, nullptr);
    }
    return sink;
}

} // namespace

// What a pipeline's bus handler, on GStreamer's threads, needs to wake the engine.
struct GstPlayerBackend::BusWake {
    GstPlayerBackend* backend;
    Source source;
};

struct GstPlayerBackend::Playback {
    Source source = 0;
    GstElement* pipeline = nullptr;
    GstBus* bus = nullptr;
    bool prerolled = false;
    bool failed = false;
    bool atEnd = false;
    bool playing = false;
    // Where the clock stands while a seek is on its way; a seek asked for before the pipeline
    // has prerolled is sent once it has.
    std::optional<qint64> seekTarget;
    bool seekWaitsForPreroll = false;
    int seeksInFlight = 0;
    qint64 indexLengthMs = 0;
    std::jthread indexReader;

    ~Playback() {
        // The reader stops early when asked; its answer then goes nowhere.
        indexReader = {};
        if (pipeline != nullptr) {
            // Back to NULL closes the file before this returns and stops every streaming thread,
            // so no message is posted after the handler goes.
            gst_element_set_state(pipeline, GST_STATE_NULL);
            gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
            gst_object_unref(bus);
            gst_object_unref(pipeline);
        }
    }
};

GstPlayerBackend::GstPlayerBackend(QObject* parent, AudioSinkFactory makeAudioSink)
    : PlayerBackend(parent), makeAudioSink_(std::move(makeAudioSink)), ticker_(new QTimer(this)) {
    EnsureGStreamer();
    if (!makeAudioSink_) {
        makeAudioSink_ = MakeDefaultAudioSink;
    }
    ticker_->setInterval(kTickMs);
    connect(ticker_, &QTimer::timeout, this, &GstPlayerBackend::tick);
}

GstPlayerBackend::~GstPlayerBackend() {
    release();
}

void GstPlayerBackend::load(const QString& path) {
    release();
    const Source source = ++source_;
    durationMs_ = 0;
    lastPositionMs_ = 0;
    emit positionChanged(0);
    emit durationChanged(0);
    emit playingChanged(false);
    if (path.isEmpty()) {
        return;
    }
    auto playback = std::make_unique<Playback>();
    playback->source = source;
    playback->pipeline = gst_element_factory_make("playbin", nullptr);
    if (playback->pipeline == nullptr) {
        playback_ = std::move(playback);
        playback_->failed = true;
        emit failed(source);
        return;
    }
    gst_object_ref_sink(playback->pipeline);
    const QByteArray localPath = QFile::encodeName(path);
    gchar* uri = gst_filename_to_uri(localPath.constData(), nullptr);
    g_object_set(playback->pipeline, "uri", uri, "flags", kPlayAudio | kPlaySoftVolume, "volume",
                 kVolume, nullptr);
    g_free(uri);
    if (GstElement* sink = makeAudioSink_()) {
        g_object_set(playback->pipeline, "audio-sink", sink, nullptr);
    }
    playback->bus = gst_element_get_bus(playback->pipeline);
    gst_bus_set_sync_handler(
        playback->bus,
        [](GstBus*, GstMessage*, gpointer data) {
            // Only a wake-up: the message waits on the bus until the engine's thread reads it.
            const auto* wake = static_cast<const BusWake*>(data);
            QMetaObject::invokeMethod(
                wake->backend, [wake = *wake] { wake.backend->readBus(wake.source); },
                Qt::QueuedConnection);
            return GST_BUS_PASS;
        },
        new BusWake{this, source}, [](gpointer data) { delete static_cast<BusWake*>(data); });

    // GStreamer's length of an MP3 without an information frame is a guess from the bit rate it
    // has read so far, off by minutes where the rate changes; the index counts every frame.
    playback->indexReader =
        std::jthread([this, source, file = path.toStdString()](std::stop_token stop) {
            const FrameIndex index = FrameIndex::Read(file, stop);
            if (stop.stop_requested() || !index.hasAudio() || !index.complete()) {
                return;
            }
            const auto milliseconds = std::llround(index.durationSeconds() * 1000.0);
            QMetaObject::invokeMethod(
                this, [this, source, milliseconds] { useIndexLength(source, milliseconds); },
                Qt::QueuedConnection);
        });
    playback_ = std::move(playback);
    gst_element_set_state(playback_->pipeline, GST_STATE_PAUSED);
    ticker_->start();
}

void GstPlayerBackend::release() {
    ticker_->stop();
    playback_.reset();
}

void GstPlayerBackend::play() {
    if (!playback_ || playback_->failed) {
        return;
    }
    if (playback_->atEnd) {
        // Played to its end, it starts again from the beginning.
        playback_->atEnd = false;
        setPosition(0);
    }
    gst_element_set_state(playback_->pipeline, GST_STATE_PLAYING);
    setPlaying(true);
}

void GstPlayerBackend::pause() {
    if (!playback_ || playback_->failed) {
        return;
    }
    gst_element_set_state(playback_->pipeline, GST_STATE_PAUSED);
    setPlaying(false);
}

void GstPlayerBackend::stop() {
    if (!playback_ || playback_->failed) {
        return;
    }
    gst_element_set_state(playback_->pipeline, GST_STATE_PAUSED);
    setPlaying(false);
    playback_->atEnd = false;
    setPosition(0);
}

void GstPlayerBackend::setPosition(qint64 milliseconds) {
    if (!playback_ || playback_->failed) {
        return;
    }
    milliseconds = std::max<qint64>(milliseconds, 0);
    playback_->seekTarget = milliseconds;
    playback_->atEnd = false;
    lastPositionMs_ = milliseconds;
    if (playback_->prerolled) {
        seekNow(milliseconds);
    } else {
        playback_->seekWaitsForPreroll = true;
    }
    emit positionChanged(milliseconds);
}

void GstPlayerBackend::seekNow(qint64 milliseconds) {
    // Accurate: the parser finds the frame by walking to it, not by the estimated bit rate. No
    // stop: playback goes on to the last frame, wherever GStreamer guesses the end to be.
    const auto flags = static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE);
    if (gst_element_seek(playback_->pipeline, 1.0, GST_FORMAT_TIME, flags, GST_SEEK_TYPE_SET,
                         milliseconds * kNanosecondsPerMillisecond, GST_SEEK_TYPE_NONE,
                         GST_CLOCK_TIME_NONE)) {
        ++playback_->seeksInFlight;
    } else {
        playback_->seekTarget.reset();
    }
}

qint64 GstPlayerBackend::position() const {
    if (!playback_ || playback_->failed) {
        return 0;
    }
    if (playback_->seekTarget) {
        return *playback_->seekTarget;
    }
    gint64 nanoseconds = 0;
    if (playback_->prerolled &&
        gst_element_query_position(playback_->pipeline, GST_FORMAT_TIME, &nanoseconds) &&
        nanoseconds >= 0) {
        return nanoseconds / kNanosecondsPerMillisecond;
    }
    return lastPositionMs_;
}

double GstPlayerBackend::volume() const {
    gdouble volume = kVolume;
    if (playback_ && playback_->pipeline != nullptr) {
        g_object_get(playback_->pipeline, "volume", &volume, nullptr);
    }
    return volume;
}

qint64 GstPlayerBackend::duration() const {
    return durationMs_;
}

bool GstPlayerBackend::isPlaying() const {
    return playback_ && playback_->playing;
}

void GstPlayerBackend::setPlaying(bool playing) {
    if (playback_->playing != playing) {
        playback_->playing = playing;
        emit playingChanged(playing);
    }
}

void GstPlayerBackend::readBus(Source source) {
    // Each message may end in a signal whose receiver loads another file: check before each.
    while (playback_ && playback_->source == source) {
        GstMessage* message = gst_bus_pop(playback_->bus);
        if (message == nullptr) {
            return;
        }
        const bool fromPipeline = GST_MESSAGE_SRC(message) == GST_OBJECT(playback_->pipeline);
        const GstMessageType type = GST_MESSAGE_TYPE(message);
        gst_message_unref(message);
        switch (type) {
        case GST_MESSAGE_ERROR:
            if (!playback_->failed) {
                playback_->failed = true;
                ticker_->stop();
                gst_element_set_state(playback_->pipeline, GST_STATE_NULL);
                emit failed(source);
            }
            break;
        case GST_MESSAGE_EOS:
            playback_->atEnd = true;
            playback_->seekTarget.reset();
            // Paused, so a seek from here shows its place without playing on by itself.
            gst_element_set_state(playback_->pipeline, GST_STATE_PAUSED);
            tick();
            setPlaying(false);
            emit ended(source);
            break;
        case GST_MESSAGE_ASYNC_DONE:
            if (fromPipeline) {
                prerolled();
            }
            break;
        case GST_MESSAGE_DURATION_CHANGED:
            updateDuration();
            break;
        default:
            break;
        }
    }
}

void GstPlayerBackend::prerolled() {
    Playback& playback = *playback_;
    if (!playback.prerolled) {
        playback.prerolled = true;
        if (std::exchange(playback.seekWaitsForPreroll, false) && playback.seekTarget) {
            seekNow(*playback.seekTarget);
        }
    } else if (playback.seeksInFlight > 0) {
        --playback.seeksInFlight;
    }
    if (playback.seekTarget) {
        // Seeks sent close together may come back as one: the clock at the target also ends it.
        gint64 nanoseconds = -1;
        const bool landed =
            gst_element_query_position(playback.pipeline, GST_FORMAT_TIME, &nanoseconds) &&
            std::abs(nanoseconds / kNanosecondsPerMillisecond - *playback.seekTarget) <=
                kLandedToleranceMs;
        if (landed || playback.seeksInFlight == 0) {
            playback.seekTarget.reset();
        }
    }
    updateDuration();
    tick();
}

void GstPlayerBackend::useIndexLength(Source source, qint64 milliseconds) {
    if (!playback_ || playback_->source != source || playback_->failed) {
        return;
    }
    playback_->indexLengthMs = milliseconds;
    updateDuration();
}

void GstPlayerBackend::updateDuration() {
    if (!playback_ || playback_->failed) {
        return;
    }
    qint64 milliseconds = playback_->indexLengthMs;
    gint64 nanoseconds = -1;
    if (milliseconds == 0 && playback_->prerolled &&
        gst_element_query_duration(playback_->pipeline, GST_FORMAT_TIME, &nanoseconds) &&
        nanoseconds > 0) {
        milliseconds = nanoseconds / kNanosecondsPerMillisecond;
    }
    if (milliseconds != durationMs_ && milliseconds > 0) {
        durationMs_ = milliseconds;
        emit durationChanged(milliseconds);
    }
}

void GstPlayerBackend::tick() {
    if (!playback_ || playback_->failed) {
        return;
    }
    if (playback_->indexLengthMs == 0) {
        updateDuration(); // GStreamer's own estimate moves as it reads
    }
    const qint64 now = position();
    if (now != lastPositionMs_) {
        lastPositionMs_ = now;
        emit positionChanged(now);
    }
}

} // namespace quavera
