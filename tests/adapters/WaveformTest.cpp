// The player's loudness outline: read from real files through the decoder, and drawn on an image.
#include "adapters/WaveformDetail.h"
#include "adapters/WaveformReader.h"
#include "adapters/WaveformView.h"
#include "fakes/GeneratedMp3.h"
#include "fakes/ToneMp3.h"

#include <QImage>
#include <QPainter>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <vector>

using namespace quavera;

namespace {

constexpr double kToneSeconds = 4.0;
constexpr int kWidth = 200;
constexpr int kHeight = 41; // the middle row is row 20

// The rows of column `x` that hold `colour`.
std::vector<int> RowsOf(const QImage& image, int x, const QColor& colour) {
    std::vector<int> rows;
    for (int y = 0; y < image.height(); ++y) {
        if (image.pixelColor(x, y) == colour) {
            rows.push_back(y);
        }
    }
    return rows;
}

} // namespace

class WaveformTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        PreferInterleavedMp3Decoding();
        QVERIFY(folder_.isValid());
    }

    void readsTheLoudnessOfAFile_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<double>("loudness");
        QTest::newRow("tone at half scale") << "tone" << 0.5;
        QTest::newRow("tone at a tenth") << "tone" << 0.1;
        QTest::newRow("silence") << "silence" << 0.0;
    }
    void readsTheLoudnessOfAFile() {
        QFETCH(QString, kind);
        QFETCH(double, loudness);
        const QString path = folder_.filePath(kind + QString::number(loudness) + ".mp3");
        if (kind == "tone") {
            QVERIFY(testing::EncodeToneMp3(path, kToneSeconds, loudness));
        } else {
            QVERIFY(testing::WriteFileBytes(path, testing::GeneratedMp3Frames(153)));
        }

        WaveformReader reader;
        reader.read(path);
        QCOMPARE(reader.state(), WaveformReader::State::Reading);
        QTRY_COMPARE(reader.state(), WaveformReader::State::Complete);
        QVERIFY(std::abs(reader.readSeconds() - kToneSeconds) < 0.1);

        // The slices cover the medium finely, none empty, none louder than the tone ...
        const WaveformPeaks& peaks = reader.peaks();
        const double sliceSeconds = peaks.spanSeconds() / WaveformPeaks::kSlices;
        const int covering = static_cast<int>(kToneSeconds / sliceSeconds);
        QVERIFY2(covering > WaveformPeaks::kSlices / 2, qPrintable(QString::number(covering)));
        for (int index = 0; index < covering; ++index) {
            const WaveformPeaks::Slice& slice = peaks.slice(index);
            QVERIFY2(
                !slice.empty() && slice.high <= 1.2 * loudness + 0.01 &&
                    slice.low >= -1.2 * loudness - 0.01,
                qPrintable(
                    QStringLiteral("slice %1: %2..%3").arg(index).arg(slice.low).arg(slice.high)));
        }
        // ... and every 10 ms (a few periods) reach its peak, give or take the encoder's ripple;
        // the encoder fades in and out at the ends.
        for (double from = 0.25; from < kToneSeconds - 0.25; from += 0.01) {
            const WaveformPeaks::Slice heard = peaks.extremes(from, from + 0.01);
            QVERIFY2(
                std::abs(heard.high - loudness) < 0.2 * loudness + 0.01 &&
                    std::abs(heard.low + loudness) < 0.2 * loudness + 0.01,
                qPrintable(
                    QStringLiteral("at %1 s: %2..%3").arg(from).arg(heard.low).arg(heard.high)));
        }
    }

    void aFileThatCannotBeDecodedFails() {
        const QString path = folder_.filePath(QStringLiteral("notes.mp3"));
        QVERIFY(testing::WriteFileBytes(path, QByteArray("just some text\n").repeated(200)));
        WaveformReader reader;
        reader.read(path);
        QTRY_COMPARE(reader.state(), WaveformReader::State::Failed);
    }

    void zoomedDetailSeparatesClicksTheWholeOutlineBlurs() {
        // Two clicks 40 ms apart in two minutes of near silence, with LAME's information frame:
        // the player's clock leaves out the encoder's delay, and so must the detail.
        constexpr double kSeconds = 120.0;
        constexpr double kFirst = 60.0;
        constexpr double kSecond = 60.04;
        const QString path = folder_.filePath(QStringLiteral("clicks.mp3"));
        constexpr int kRate = 44100;
        const auto clicks = [&](qint64 frame) {
            const double at = static_cast<double>(frame) / kRate;
            const bool click =
                (at >= kFirst && at < kFirst + 0.001) || (at >= kSecond && at < kSecond + 0.001);
            return click ? 0.8 : 0.0;
        };
        QVERIFY(testing::EncodeMonoMp3(path, static_cast<qint64>(kSeconds * kRate), clicks,
                                       {QStringLiteral("-b"), "128"}));

        WaveformReader whole;
        whole.read(path);
        QTRY_COMPARE_WITH_TIMEOUT(whole.state(), WaveformReader::State::Complete, 20000);
        const auto loudness = [](const WaveformPeaks& peaks, double from, double to) {
            const WaveformPeaks::Slice slice = peaks.extremes(from, to);
            return slice.empty() ? 0.0f : std::max(slice.high, -slice.low);
        };
        // Between the clicks the whole outline is as loud as the clicks: one slice holds both.
        QVERIFY(loudness(whole.peaks(), kFirst + 0.018, kFirst + 0.022) > 0.3f);

        // Two seconds across 432 pixels.
        WaveformDetail detail(makeQtOutlineDecoderFactory(), nullptr);
        detail.setSource(path);
        detail.show(kFirst - 1, kFirst + 1, 432, kSeconds);
        QTRY_VERIFY(detail.peaks() != nullptr);
        auto* reader = detail.findChild<WaveformReader*>();
        QTRY_COMPARE_WITH_TIMEOUT(reader->state(), WaveformReader::State::Complete, 20000);
        const WaveformPeaks& fine = *detail.peaks();
        QVERIFY(fine.fromSeconds() <= kFirst - 1 && fine.toSeconds() >= kFirst + 1);
        for (const double click : {kFirst, kSecond}) {
            QVERIFY2(loudness(fine, click - 0.004, click + 0.005) > 0.3f,
                     qPrintable(QString::number(click)));
        }
        for (const double quiet : {kFirst - 0.5, kFirst + 0.018, kSecond + 0.5}) {
            QVERIFY2(loudness(fine, quiet, quiet + 0.004) < 0.1f,
                     qPrintable(QStringLiteral("%1: %2").arg(quiet).arg(
                         loudness(fine, quiet, quiet + 0.004))));
        }
    }

    void drawsTheOutlineMarksAndPlayhead() {
        // Ten seconds: loud (±0.5) for the first five, silent for the rest.
        WaveformPeaks peaks;
        peaks.reset(10.0);
        std::vector<float> samples(441000);
        for (std::size_t index = 0; index < samples.size() / 2; ++index) {
            samples[index] = index % 2 == 0 ? 0.5f : -0.5f;
        }
        peaks.add(0.0, 44100.0, 1, samples.data(), samples.size(), 1.0f);

        WaveformScene scene;
        scene.peaks = &peaks;
        scene.durationSeconds = 10.0;
        scene.startSeconds = 2.0;
        scene.endSeconds = 7.0;
        scene.playheadSeconds = 9.0;
        QImage image(kWidth, kHeight, QImage::Format_RGB32);
        {
            QPainter painter(&image);
            PaintWaveform(painter, image.size(), scene);
        }
        namespace colours = waveform_colours;
        // Loud: from a quarter above the middle to a quarter below it. Silent: the middle row.
        // Brighter between the marks.
        for (int x : {45, 90}) {
            QCOMPARE(RowsOf(image, x, colours::kOutline).front(), 10);
            QCOMPARE(RowsOf(image, x, colours::kOutline).back(), 30);
        }
        QCOMPARE(RowsOf(image, 10, colours::kOutlineOutside).front(), 10);
        QCOMPARE(RowsOf(image, 10, colours::kOutlineOutside).back(), 30);
        QCOMPARE(RowsOf(image, 110, colours::kOutline), std::vector<int>{20});
        for (int x : {150, 199}) {
            QCOMPARE(RowsOf(image, x, colours::kOutlineOutside), std::vector<int>{20});
        }
        // Marks and playhead at their columns, top to bottom; shaded only between the marks.
        QCOMPARE(RowsOf(image, 40, colours::kStartMark).size(), std::size_t{kHeight});
        QCOMPARE(RowsOf(image, 140, colours::kEndMark).size(), std::size_t{kHeight});
        QCOMPARE(RowsOf(image, 180, colours::kPlayhead).size(), std::size_t{kHeight});
        for (int x : {41, 90, 139}) {
            QCOMPARE(image.pixelColor(x, 35), colours::kShaded);
        }
        for (int x : {39, 141, 170}) {
            QCOMPARE(image.pixelColor(x, 35), colours::kBackground);
        }
    }

    void zoomedSceneDrawsItsPartAtTheDevicesResolution() {
        // The whole outline of ten seconds is silent; the detail of 4 to 6 s holds one blip a
        // quarter of a millisecond long at 4.5025 s. Shown: 4 to 6 s on 200 units at scale 2,
        // 400 device columns of 5 ms each, so the blip is in device column 100 alone.
        WaveformPeaks whole;
        whole.reset(10.0);
        const std::vector<float> silence(441000, 0.0f);
        whole.add(0.0, 44100.0, 1, silence.data(), silence.size(), 1.0f);
        WaveformPeaks detail;
        detail.resetToPart(4.0, 6.0);
        std::vector<float> blip(88200, 0.0f);
        std::fill(blip.begin() + 22155, blip.begin() + 22166, 0.5f);
        detail.add(4.0, 44100.0, 1, blip.data(), blip.size(), 1.0f);

        WaveformScene scene;
        scene.peaks = &whole;
        scene.detail = &detail;
        scene.durationSeconds = 10.0;
        scene.shownFromSeconds = 4.0;
        scene.shownToSeconds = 6.0;
        scene.startSeconds = 4.75;
        scene.endSeconds = 8.0;      // off the screen
        scene.playheadSeconds = 3.0; // off the screen
        QImage image(2 * kWidth, 2 * kHeight, QImage::Format_RGB32);
        image.setDevicePixelRatio(2);
        {
            QPainter painter(&image);
            PaintWaveform(painter, QSize(kWidth, kHeight), scene);
        }
        namespace colours = waveform_colours;
        // Before the piece, so drawn darker; from the middle up to half-way to the top.
        QCOMPARE(RowsOf(image, 100, colours::kOutlineOutside).size(), std::size_t{22});
        for (int x : {99, 101}) {
            QCOMPARE(RowsOf(image, x, colours::kOutlineOutside).size(), std::size_t{1});
        }
        // The start mark at 4.75 s, two device columns wide at scale 2; the piece shaded from
        // there to the right edge; neither the end nor the playhead anywhere.
        QVERIFY(RowsOf(image, 149, colours::kStartMark).empty());
        for (int x : {150, 151}) {
            QCOMPARE(RowsOf(image, x, colours::kStartMark).size(), std::size_t{2 * kHeight});
        }
        QCOMPARE(image.pixelColor(149, 75), colours::kBackground);
        QCOMPARE(image.pixelColor(399, 75), colours::kShaded);
        for (int x = 0; x < image.width(); ++x) {
            QVERIFY(RowsOf(image, x, colours::kEndMark).empty());
            QVERIFY(RowsOf(image, x, colours::kPlayhead).empty());
        }
    }

    void drawsNothingBeyondWhatWasRead() {
        WaveformPeaks peaks;
        peaks.reset(10.0);
        const std::vector<float> loud(44100, 0.9f);
        peaks.add(0.0, 44100.0, 1, loud.data(), loud.size(), 1.0f); // the first second only
        WaveformScene scene;
        scene.peaks = &peaks;
        scene.durationSeconds = 10.0;
        QImage image(kWidth, kHeight, QImage::Format_RGB32);
        {
            QPainter painter(&image);
            PaintWaveform(painter, image.size(), scene);
        }
        QVERIFY(!RowsOf(image, 5, waveform_colours::kOutline).empty());
        QVERIFY(RowsOf(image, 100, waveform_colours::kOutline).empty());
    }

    // Tab brings the keyboard to the screen: it must show it has it, and show nothing else.
    void showsWhenItHasTheKeyboard() {
        QWidget window;
        auto* before = new QWidget(&window);
        before->setFocusPolicy(Qt::StrongFocus);
        auto* view = new WaveformView(&window);
        view->setFocusPolicy(Qt::StrongFocus);
        view->setGeometry(0, 20, kWidth, kHeight);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        const QPoint edge(0, kHeight / 2);
        before->setFocus();
        QCOMPARE(view->grab().toImage().pixelColor(edge), waveform_colours::kBackground);
        view->setFocus();
        QVERIFY(view->hasFocus());
        QCOMPARE(view->grab().toImage().pixelColor(edge), waveform_colours::kFocusFrame);
    }

private:
    QTemporaryDir folder_;
};

QTEST_MAIN(WaveformTest)
#include "WaveformTest.moc"
