// What the engine plays after a seek, recorded at its sink and compared with the file decoded by
// GStreamer from its start, on a VBR file without an information frame: there GStreamer's own
// seek guesses the place from the bit rate and its length is an estimate.
#include "platform/qt/GstPlayerBackend.h"

#include "fakes/ToneMp3.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <cstdint>
#include <gst/gst.h>
#include <mutex>
#include <vector>

using namespace quavera;

namespace {

constexpr int kRate = 44100;
constexpr double kSeconds = 240.0;
constexpr double kNoisySeconds = 20.0;
constexpr qint64 kToleranceMs = 50;
constexpr qint64 kCompared = 8192; // samples, about 0.19 s

// The sound: loud noise first (a high bit rate, from which GStreamer guesses the rest), then a
// soft tone whose pitch changes every 0.1 s, so that every moment can be told from the others.
class Signal {
public:
    double operator()(qint64 frame) {
        if (frame % (kRate / 10) == 0) {
            hertz_ = 300.0 + static_cast<double>(next() % 2700);
        }
        phase_ += 2 * std::numbers::pi * hertz_ / kRate;
        if (static_cast<double>(frame) < kNoisySeconds * kRate) {
            return 0.9 * (static_cast<double>(next() % 2001) / 1000.0 - 1.0);
        }
        return 0.05 * std::sin(phase_);
    }

private:
    std::uint32_t next() { return state_ = state_ * 1664525u + 1013904223u; }
    std::uint32_t state_ = 7;
    double hertz_ = 0;
    double phase_ = 0;
};

struct Played {
    std::mutex lock;
    qint64 firstNanoseconds = -1;
    std::vector<float> samples;
};

void Record(GstElement*, GstBuffer* buffer, GstPad*, gpointer data) {
    auto* played = static_cast<Played*>(data);
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        return;
    }
    const std::scoped_lock hold(played->lock);
    if (played->firstNanoseconds < 0) {
        played->firstNanoseconds = static_cast<qint64>(GST_BUFFER_PTS(buffer));
    }
    const auto* samples = reinterpret_cast<const float*>(map.data);
    played->samples.insert(played->samples.end(), samples, samples + map.size / sizeof(float));
    gst_buffer_unmap(buffer, &map);
}

// Mono float samples, handed to `played` as the sink renders them, on the clock.
GstElement* MakeRecordingSink(Played* played, bool sync) {
    const QByteArray description =
        QByteArray("audioconvert ! audio/x-raw,format=F32LE,channels=1 ! fakesink name=tap "
                   "signal-handoffs=true sync=") +
        (sync ? "true" : "false");
    GstElement* bin = gst_parse_bin_from_description(description.constData(), TRUE, nullptr);
    GstElement* tap = gst_bin_get_by_name(GST_BIN(bin), "tap");
    g_signal_connect(tap, "handoff", G_CALLBACK(Record), played);
    gst_object_unref(tap);
    return bin;
}

// The whole file as GStreamer decodes it from its start, the oracle of what plays when.
std::vector<float> DecodeFromStart(const QString& path) {
    Played decoded;
    GstElement* pipeline = gst_pipeline_new(nullptr);
    GstElement* source = gst_element_factory_make("filesrc", nullptr);
    GstElement* decoder = gst_element_factory_make("decodebin", nullptr);
    GstElement* sink = MakeRecordingSink(&decoded, false);
    g_object_set(source, "location", QFile::encodeName(path).constData(), nullptr);
    gst_bin_add_many(GST_BIN(pipeline), source, decoder, sink, nullptr);
    gst_element_link(source, decoder);
    g_signal_connect(decoder, "pad-added", G_CALLBACK(+[](GstElement*, GstPad* pad, gpointer to) {
                         GstPad* input = gst_element_get_static_pad(GST_ELEMENT(to), "sink");
                         gst_pad_link(pad, input);
                         gst_object_unref(input);
                     }),
                     sink);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* end = gst_bus_timed_pop_filtered(
        bus, 60 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    const bool whole = end != nullptr && GST_MESSAGE_TYPE(end) == GST_MESSAGE_EOS;
    if (end != nullptr) {
        gst_message_unref(end);
    }
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return whole ? std::move(decoded.samples) : std::vector<float>{};
}

struct Match {
    qint64 lagSamples = 0;
    double correlation = -1;
};

// Where within `maxLag` samples of `at` the source holds `played`, by normalised correlation.
Match FindIn(const std::vector<float>& source, qint64 at, const std::vector<float>& played,
             qint64 maxLag) {
    Match best;
    const auto length = static_cast<qint64>(played.size());
    for (qint64 lag = -maxLag; lag <= maxLag; ++lag) {
        const qint64 from = at + lag;
        if (from < 0 || from + length > static_cast<qint64>(source.size())) {
            continue;
        }
        double both = 0, heard = 0, meant = 0;
        for (qint64 i = 0; i < length; ++i) {
            const double x = played[i];
            const double y = source[from + i];
            both += x * y;
            heard += x * x;
            meant += y * y;
        }
        const double correlation = both / std::sqrt(heard * meant + 1e-30);
        if (correlation > best.correlation) {
            best = {lag, correlation};
        }
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
        Signal signal;
        QVERIFY(testing::EncodeMonoMp3(
            path_, qint64(kSeconds * kRate), signal,
            {QStringLiteral("-V"), QStringLiteral("4"), QStringLiteral("-t")}));
        GstPlayerBackend first; // starts GStreamer with the program's choice of decoder
        source_ = DecodeFromStart(path_);
        QVERIFY(source_.size() > std::size_t(kSeconds * kRate));
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
        if (QTest::currentTestFailed()) {
            return;
        }
        {
            const std::scoped_lock hold(played.lock);
            played.firstNanoseconds = -1;
            played.samples.clear();
        }
        engine.setPosition(targetMs);
        QCOMPARE(engine.position(), targetMs);
        engine.play();
        QTRY_VERIFY_WITH_TIMEOUT(playedCount(played) >= kCompared, 10000);
        engine.pause();

        const std::scoped_lock hold(played.lock);
        const qint64 firstMs = played.firstNanoseconds / 1'000'000;
        QVERIFY2(std::abs(firstMs - targetMs) <= kToleranceMs,
                 qPrintable(QString::number(firstMs)));
        const std::vector<float> heard(played.samples.begin(), played.samples.begin() + kCompared);
        const qint64 at = std::llround(double(played.firstNanoseconds) * kRate / 1e9);
        const Match match = FindIn(source_, at, heard, kToleranceMs * kRate / 1000);
        qInfo(
            "clock %lld ms: first buffer at %lld ms, %lld samples off the source, correlation %.4f",
            targetMs, firstMs, match.lagSamples, match.correlation);
        QVERIFY2(match.correlation > 0.99 &&
                     std::abs(match.lagSamples) * 1000 / kRate <= kToleranceMs,
                 qPrintable(QStringLiteral("heard %1 samples off, correlation %2")
                                .arg(match.lagSamples)
                                .arg(match.correlation)));
    }

    void lengthIsTheFilesAndPlaybackReachesTheEnd() {
        Played played;
        GstPlayerBackend engine(nullptr, [&] { return MakeRecordingSink(&played, true); });
        QSignalSpy ended(&engine, &PlayerBackend::ended);
        loadPaused(engine);
        if (QTest::currentTestFailed()) {
            return;
        }

        {
            const std::scoped_lock hold(played.lock);
            played.samples.clear();
        }
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
        const std::vector<float> tail(played.samples.end() - kCompared, played.samples.end());
        const Match match =
            FindIn(source_, qint64(source_.size()) - kCompared, tail, kToleranceMs * kRate / 1000);
        QVERIFY2(match.correlation > 0.99 && match.lagSamples == 0,
                 qPrintable(QString::number(match.correlation)));
    }

private:
    // Loaded, paused where it started, showing the file's true length.
    void loadPaused(GstPlayerBackend& engine) {
        engine.load(path_);
        engine.pause();
        QTRY_VERIFY2_WITH_TIMEOUT(
            std::abs(engine.duration() - lengthMs_) <= kToleranceMs,
            qPrintable(QStringLiteral("%1 ms, not %2").arg(engine.duration()).arg(lengthMs_)),
            10000);
        QTest::qWait(200);
    }
    static qint64 playedCount(Played& played) {
        const std::scoped_lock hold(played.lock);
        return qint64(played.samples.size());
    }

    QTemporaryDir folder_;
    QString path_;
    std::vector<float> source_;
    qint64 lengthMs_ = 0;
};

QTEST_GUILESS_MAIN(GstPlayerBackendTest)
#include "GstPlayerBackendTest.moc"
