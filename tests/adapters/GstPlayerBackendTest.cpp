// What the engine plays after a seek, recorded at its sink and compared with the file decoded by
// GStreamer from its start, on a VBR file without an information frame: there GStreamer's own
// seek guesses the place from the bit rate and its length is an estimate.
#include "adapters/GstPlayerBackend.h"

#include "fakes/ToneMp3.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <gst/gst.h>
#include <mutex>
#include <vector>

using namespace quavera;

namespace {

constexpr int kRate = 44100;
constexpr qint64 kToleranceMs = 50;
constexpr qint64 kMaxLag = kToleranceMs * kRate / 1000;
constexpr std::size_t kCompared = 8192; // samples, about 0.19 s

struct Played {
    std::mutex lock;
    qint64 firstNanoseconds = -1;
    std::vector<float> samples;
};

// Mono float samples, handed to `played` as the sink renders them (on the clock when `sync`).
GstElement* MakeRecordingSink(Played* played, bool sync) {
    GstElement* bin = gst_parse_bin_from_description(
        sync ? "audioconvert ! audio/x-raw,format=F32LE,channels=1 ! fakesink name=tap sync=true"
             : "audioconvert ! audio/x-raw,format=F32LE,channels=1 ! fakesink name=tap sync=false",
        TRUE, nullptr);
    GstElement* tap = gst_bin_get_by_name(GST_BIN(bin), "tap");
    g_object_set(tap, "signal-handoffs", TRUE, nullptr);
    g_signal_connect(tap, "handoff",
                     G_CALLBACK(+[](GstElement*, GstBuffer* buffer, GstPad*, gpointer data) {
                         auto* played = static_cast<Played*>(data);
                         GstMapInfo map;
                         gst_buffer_map(buffer, &map, GST_MAP_READ);
                         const std::scoped_lock hold(played->lock);
                         if (played->firstNanoseconds < 0) {
                             played->firstNanoseconds = qint64(GST_BUFFER_PTS(buffer));
                         }
                         const auto* samples = reinterpret_cast<const float*>(map.data);
                         played->samples.insert(played->samples.end(), samples,
                                                samples + map.size / sizeof(float));
                         gst_buffer_unmap(buffer, &map);
                     }),
                     played);
    gst_object_unref(tap);
    return bin;
}

// The whole file as GStreamer decodes it from its start, the oracle of what plays when.
std::vector<float> DecodeFromStart(const QString& path) {
    Played decoded;
    GstElement* pipeline = gst_pipeline_new(nullptr);
    GstElement* decoder = gst_element_factory_make("uridecodebin", nullptr);
    GstElement* sink = MakeRecordingSink(&decoded, false);
    gchar* uri = gst_filename_to_uri(QFile::encodeName(path).constData(), nullptr);
    g_object_set(decoder, "uri", uri, nullptr);
    g_free(uri);
    gst_bin_add_many(GST_BIN(pipeline), decoder, sink, nullptr);
    g_signal_connect(decoder, "pad-added",
                     G_CALLBACK(+[](GstElement*, GstPad* pad, GstElement* to) {
                         GstPad* input = gst_element_get_static_pad(to, "sink");
                         gst_pad_link(pad, input);
                         gst_object_unref(input);
                     }),
                     sink);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* end = gst_bus_timed_pop_filtered(
        bus, 60 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    const bool whole = end != nullptr && GST_MESSAGE_TYPE(end) == GST_MESSAGE_EOS;
    if (end != nullptr) {
        gst_message_unref(end);
    }
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return whole ? std::move(decoded.samples) : std::vector<float>{};
}

// Where within kMaxLag samples of `at` the source holds `heard`, and how alike they are there.
std::pair<qint64, double> FindIn(const std::vector<float>& source, qint64 at,
                                 const std::vector<float>& heard) {
    std::pair<qint64, double> best{0, -1.0};
    for (qint64 lag = -kMaxLag; lag <= kMaxLag; ++lag) {
        if (at + lag < 0 || at + lag + qint64(heard.size()) > qint64(source.size())) {
            continue;
        }
        double both = 0, energyHeard = 0, energySource = 0;
        for (std::size_t i = 0; i < heard.size(); ++i) {
            const double meant = source[std::size_t(at + lag) + i];
            both += heard[i] * meant;
            energyHeard += double(heard[i]) * heard[i];
            energySource += meant * meant;
        }
        best = std::max(best, {lag, both / std::sqrt(energyHeard * energySource + 1e-30)},
                        [](const auto& a, const auto& b) { return a.second < b.second; });
    }
    return best;
}

} // namespace

class GstPlayerBackendTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(folder_.isValid());
        path_ = folder_.filePath(QStringLiteral("vbr without info.mp3"));
        // Loud noise first, a high bit rate from which GStreamer guesses the rest; then a soft
        // tone whose pitch changes every 0.1 s, so that every moment can be told from the others.
        quint32 random = 7;
        double hertz = 0, phase = 0;
        const auto sound = [&](qint64 frame) {
            random = random * 1664525u + 1013904223u;
            hertz = frame % (kRate / 10) == 0 ? 300.0 + random % 2700 : hertz;
            phase += 2 * std::numbers::pi * hertz / kRate;
            return frame < 20 * kRate ? 0.9 * (random % 2001 / 1000.0 - 1.0)
                                      : 0.05 * std::sin(phase);
        };
        QVERIFY(testing::EncodeMonoMp3(
            path_, 240 * kRate, sound,
            {QStringLiteral("-V"), QStringLiteral("4"), QStringLiteral("-t")}));
        GstPlayerBackend first; // starts GStreamer with the program's choice of decoder
        source_ = DecodeFromStart(path_);
        QVERIFY(source_.size() > 240u * kRate);
        lengthMs_ = qint64(std::llround(double(source_.size()) * 1000.0 / kRate));
    }

    void seekPlaysWhatTheClockSays_data() {
        QTest::addColumn<qint64>("targetMs");
        QTest::newRow("in the noise") << qint64{12'345};
        QTest::newRow("a minute in") << qint64{61'700};
        QTest::newRow("past GStreamer's guess of the end") << qint64{200'050};
    }
    void seekPlaysWhatTheClockSays() {
        QFETCH(qint64, targetMs);
        Played played;
        GstPlayerBackend engine(nullptr, [&] { return MakeRecordingSink(&played, true); });
        loadPaused(engine);
        played.samples.clear();
        engine.setPosition(targetMs);
        QCOMPARE(engine.position(), targetMs);
        engine.play();
        QTRY_VERIFY_WITH_TIMEOUT(playedCount(played) >= kCompared, 10000);
        engine.pause();

        const std::scoped_lock hold(played.lock);
        const qint64 firstMs = played.firstNanoseconds / 1'000'000;
        QVERIFY2(std::abs(firstMs - targetMs) <= kToleranceMs,
                 qPrintable(QString::number(firstMs)));
        const auto [lag, likeness] =
            FindIn(source_, std::llround(double(played.firstNanoseconds) * kRate / 1e9),
                   {played.samples.begin(), played.samples.begin() + kCompared});
        qInfo(
            "clock %lld ms: first buffer at %lld ms, %lld samples off the source, correlation %.4f",
            targetMs, firstMs, lag, likeness);
        QVERIFY2(likeness > 0.99, qPrintable(QString::number(likeness)));
    }

    void lengthIsTheFilesAndPlaybackReachesTheEnd() {
        Played played;
        GstPlayerBackend engine(nullptr, [&] { return MakeRecordingSink(&played, true); });
        QSignalSpy ended(&engine, &PlayerBackend::ended);
        loadPaused(engine);
        played.samples.clear();
        const qint64 fromMs = lengthMs_ - 1500;
        engine.setPosition(fromMs);
        engine.play();
        QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 1, 10000);
        QCOMPARE(ended.front().front().value<PlayerBackend::Source>(), engine.source());
        QVERIFY(!engine.isPlaying());

        const std::scoped_lock hold(played.lock);
        const auto heardMs = qint64(played.samples.size()) * 1000 / kRate;
        QVERIFY2(std::abs(heardMs - (lengthMs_ - fromMs)) <= kToleranceMs,
                 qPrintable(QString::number(heardMs)));
        const auto [lag, likeness] =
            FindIn(source_, qint64(source_.size() - kCompared),
                   {played.samples.end() - kCompared, played.samples.end()});
        QVERIFY2(likeness > 0.99 && lag == 0, qPrintable(QString::number(likeness)));
    }

private:
    // Loaded, paused where it started, showing the file's true length; nothing played yet.
    void loadPaused(GstPlayerBackend& engine) {
        engine.load(path_);
        engine.pause();
        QTRY_VERIFY2_WITH_TIMEOUT(std::abs(engine.duration() - lengthMs_) <= kToleranceMs,
                                  qPrintable(QString::number(engine.duration())), 10000);
        QTest::qWait(200);
    }
    static std::size_t playedCount(Played& played) {
        const std::scoped_lock hold(played.lock);
        return played.samples.size();
    }

    QTemporaryDir folder_;
    QString path_;
    std::vector<float> source_;
    qint64 lengthMs_ = 0;
};

QTEST_GUILESS_MAIN(GstPlayerBackendTest)
#include "GstPlayerBackendTest.moc"
