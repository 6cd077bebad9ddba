#include "TestFiles.h"
#include "core/MarkCommands.h"
#include "fakes/FakeCutWindow.h"
#include "fakes/FakeMessageBoxes.h"
#include "fakes/FakePlayer.h"
#include "fakes/ToneMp3.h"

#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <numbers>

using namespace quavera;
using namespace quavera::testing;

// The piece is judged by decoders we did not write: GStreamer, as both players use it, and
// ffmpeg. Its audio must be the source's from the Start mark to the End mark.

namespace {

constexpr double kSourceSeconds = 6.0;

// A tone with a click every 0.1 s: a piece placed a sample off, or whose first frames lack their
// reservoir, differs from the source at once.
bool EncodeClickTrack(const QString& path, int rate, int channels, const QStringList& encoding) {
    const auto click = [rate](qint64 frame, int channel) {
        const double t = double(frame) / rate;
        const double sinceClick = std::fmod(t, 0.1);
        double value = 0.25 * std::sin(2 * std::numbers::pi * 440 * t) +
                       0.15 * std::sin(2 * std::numbers::pi * 2750 * t);
        if (sinceClick < 0.004)
            value += 0.4 * std::exp(-sinceClick * 1500) *
                     std::sin(2 * std::numbers::pi * 1800 * sinceClick);
        return channel ? 0.7 * value : value;
    };
    return EncodeMp3(path, static_cast<qint64>(kSourceSeconds * rate), rate, channels, click,
                     encoding);
}

struct Decoded {
    int rate = 0;
    int channels = 0;
    QList<std::int16_t> samples; // interleaved
    [[nodiscard]] qsizetype frames() const { return channels ? samples.size() / channels : 0; }
};

Decoded ReadWav(const QByteArray& wav) {
    Decoded decoded;
    for (qsizetype at = 12; at + 8 <= wav.size();) {
        const QByteArray id = wav.mid(at, 4);
        const auto size = qFromLittleEndian<quint32>(wav.constData() + at + 4);
        if (id == "fmt ") {
            decoded.channels = qFromLittleEndian<quint16>(wav.constData() + at + 10);
            decoded.rate = static_cast<int>(qFromLittleEndian<quint32>(wav.constData() + at + 12));
        } else if (id == "data") {
            const qsizetype count = std::min<qsizetype>(size, wav.size() - at - 8) / 2;
            for (qsizetype i = 0; i < count; ++i)
                decoded.samples.append(
                    qFromLittleEndian<std::int16_t>(wav.constData() + at + 8 + 2 * i));
            break;
        }
        at += 8 + size + (size & 1);
    }
    return decoded;
}

// What a program prints; nothing when it fails.
QByteArray Output(const QString& program, const QStringList& arguments) {
    return RunProgram(program, arguments).value_or(QByteArray());
}

// GStreamer's decoding, with the gapless trimming its parser applies.
Decoded GStreamerDecode(const QString& mp3, const QString& wav) {
    RunProgram("gst-launch-1.0",
               {"-q", "filesrc", "location=" + mp3, "!", "decodebin", "!", "audioconvert", "!",
                "audio/x-raw,format=S16LE", "!", "wavenc", "!", "filesink", "location=" + wav});
    return ReadWav(ReadFileBytes(wav));
}

qsizetype FfmpegDecodedFrames(const QString& mp3, int channels) {
    return Output("ffmpeg", {"-v", "error", "-i", mp3, "-f", "s16le", "-"}).size() / 2 / channels;
}

// The worst window of 10 ms: the energy of the difference against the source's, in dB.
double WorstWindowDb(const Decoded& source, qsizetype sourceFrom, const Decoded& piece) {
    const qsizetype window = source.rate / 100 * source.channels;
    const qsizetype count =
        std::min(piece.samples.size(), source.samples.size() - sourceFrom * source.channels);
    double worst = -200;
    for (qsizetype begin = 0; begin + window <= count; begin += window) {
        double signal = 1e-9;
        double error = 1e-9;
        for (qsizetype i = begin; i < begin + window; ++i) {
            const double expected = source.samples[sourceFrom * source.channels + i];
            signal += expected * expected;
            error += (piece.samples[i] - expected) * (piece.samples[i] - expected);
        }
        worst = std::max(worst, 10 * std::log10(error / signal));
    }
    return worst;
}

// The sample that plays at `seconds`: the one whose time has begun.
qsizetype SampleAt(double seconds, int rate) {
    return static_cast<qsizetype>(std::floor(seconds * rate + 1e-6));
}

} // namespace

class PieceHeadTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    // Cuts `source` from `start` to `end` seconds of the player's clock through Start and End, and
    // returns the piece's path.
    QString cut(const QString& source, double start, double end) {
        ProgramState program;
        FakePlayer player;
        FakeMessageBoxes messages;
        FakeCutWindow window;
        MarkCommands commands(program, player, messages, window);
        commands.sourceText = Utf8(source);
        commands.destText = Utf8(dir_.path() + "/");
        commands.cut.SourceSize = static_cast<std::int32_t>(QFileInfo(source).size());
        player.load(Utf8(source), kSourceSeconds);
        commands.SourceChosen();
        player.position = start;
        commands.Start();
        player.position = end;
        commands.End();
        if (!messages.shown.empty())
            qWarning("End said: %s", messages.shown.front().text.c_str());
        return dir_.filePath("[铃声]1" + QFileInfo(source).fileName());
    }

    // The piece plays the source's samples from `start` to `end` (or the source's end).
    void verifyPiece(const QString& source, const QString& piece, double start, double end) {
        const Decoded original = GStreamerDecode(source, dir_.filePath("source.wav"));
        const Decoded cut = GStreamerDecode(piece, dir_.filePath("piece.wav"));
        QVERIFY(original.frames() > 0);
        QCOMPARE(cut.rate, original.rate);
        QCOMPARE(cut.channels, original.channels);
        const qsizetype from = SampleAt(start, original.rate);
        const qsizetype to = std::min<qsizetype>(SampleAt(end, original.rate), original.frames());
        const qsizetype twoMs = original.rate / 500;
        QVERIFY2(
            std::abs(cut.frames() - (to - from)) <= twoMs,
            qPrintable(
                QString("GStreamer plays %1 samples for %2").arg(cut.frames()).arg(to - from)));
        QVERIFY2(std::abs(FfmpegDecodedFrames(piece, cut.channels) - (to - from)) <= twoMs,
                 "ffmpeg plays another length");
        const double worst = WorstWindowDb(original, from, cut);
        QVERIFY2(worst < -20, qPrintable(QString("a window is off by %1 dB").arg(worst)));
        // Readers that do not decode take the length from the information frame's frame count,
        // which holds the frames the delay and padding cover: four at most, five of one granule;
        // or, for a CBR piece, from its size and the first frame's bit rate.
        const double length = double(to - from) / original.rate;
        const double frames = original.rate < 32000 ? 5 * 576.0 : 4 * 1152.0;
        const QList<QPair<QString, double>> listed{
            {"mediainfo",
             Output("mediainfo", {"--Inform=Audio;%Duration%", piece}).trimmed().toDouble() / 1000},
            {"exiftool",
             Output("exiftool", {"-n", "-s3", "-Duration", piece}).trimmed().toDouble()}};
        for (const auto& [reader, seconds] : listed)
            QVERIFY2(
                seconds > length - 0.03 && seconds < length + frames / original.rate + 0.03,
                qPrintable(QString("%1 lists %2 s for %3 s").arg(reader).arg(seconds).arg(length)));
    }

private slots:
    void initTestCase() {
        // GStreamer decodes as the program runs it (see WaveformReader).
        if (qEnvironmentVariableIsEmpty("GST_PLUGIN_FEATURE_RANK"))
            qputenv("GST_PLUGIN_FEATURE_RANK", "mpg123audiodec:MAX");
    }

    void pieceIsTheSourceBetweenTheMarks_data() {
        QTest::addColumn<QStringList>("encoding");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<double>("start");
        QTest::addColumn<double>("end");
        const QStringList cbr{"-b", "128"};
        QTest::newRow("CBR, mid-file") << cbr << 44100 << 1 << 1.234 << 3.9;
        QTest::newRow("CBR, from 0") << cbr << 44100 << 1 << 0.0 << 2.5;
        QTest::newRow("VBR joint stereo") << QStringList{"-V", "2"} << 44100 << 2 << 2.345 << 4.01;
        QTest::newRow("VBR, End past the last frame")
            << QStringList{"-V", "2"} << 44100 << 2 << 3.0 << 100.0;
        QTest::newRow("CRC-protected frames")
            << QStringList{"-p", "-b", "96"} << 44100 << 2 << 1.5 << 3.0;
        // lame writes no information frame here: the frame is too small for it.
        QTest::newRow("MPEG-2 mono, untagged")
            << QStringList{"-b", "32"} << 22050 << 1 << 1.7 << 100.0;
        QTest::newRow("MPEG-2 mono, untagged, from 0")
            << QStringList{"-b", "32"} << 22050 << 1 << 0.0 << 1.0;
        QTest::newRow("MPEG-2.5 8 kHz") << QStringList{"-V", "5"} << 8000 << 1 << 2.0 << 4.0;
        QTest::newRow("low bit rate, deep reservoir")
            << QStringList{"-b", "32"} << 44100 << 1 << 2.2 << 3.3;
    }
    void pieceIsTheSourceBetweenTheMarks() {
        QFETCH(QStringList, encoding);
        QFETCH(int, rate);
        QFETCH(int, channels);
        QFETCH(double, start);
        QFETCH(double, end);
        const QString source = dir_.filePath("source.mp3");
        QVERIFY(EncodeClickTrack(source, rate, channels, encoding));
        const QString piece = cut(source, start, end);
        verifyPiece(source, piece, start, end);
    }

    // The title is carried, also from a tag at the source's end; the cover picture is not.
    void tagKeepsTheTextOnly_data() {
        QTest::addColumn<QStringList>("tagging");
        QTest::newRow("ID3v2 with a cover") << QStringList{"--ti", dir_.filePath("cover.png")};
        QTest::newRow("ID3v1 only") << QStringList{"--id3v1-only"};
    }
    void tagKeepsTheTextOnly() {
        QFETCH(QStringList, tagging);
        const QString cover = dir_.filePath("cover.png");
        QByteArray png("\x89PNG\r\n\x1A\n", 8);
        png.append(QByteArray(20000, 'p'));
        QVERIFY(WriteFileBytes(cover, png));
        const QString source = dir_.filePath("titled.mp3");
        QVERIFY(EncodeClickTrack(source, 44100, 1,
                                 QStringList{"-b", "128", "--tt", "Bell", "--ta", "Quavera"} +
                                     tagging));
        const QString piece = cut(source, 1.0, 2.0);
        QCOMPARE(Output("ffprobe", {"-v", "error", "-show_entries", "format_tags=title,artist",
                                    "-of", "compact=p=0:nk=1", piece})
                     .trimmed(),
                 QByteArray("Bell|Quavera"));
        QVERIFY(!ReadFileBytes(piece).contains("APIC"));
        QVERIFY(QFileInfo(piece).size() < 20000);
        verifyPiece(source, piece, 1.0, 2.0);
    }

    // A free-format stream gets no head: its piece is the source's frames as they are, from the
    // frame before the one that plays at the Start mark.
    void freeFormatPieceIsTheFramesAlone() {
        const QString source = dir_.filePath("free.mp3");
        QVERIFY(EncodeClickTrack(source, 44100, 2, {"--freeformat", "-b", "400"}));
        // Whole frames, wherever the marks fall: the piece begins with a header and the source's
        // next frame begins where it ends. Behind 10 MB the size fields, in KB of at most eight
        // characters, no longer name every byte.
        const QByteArray id3v1 = QByteArray("TAG") + QByteArray(125, '\0');
        const QByteArray original = QByteArray(10'000'000, '\0') + ReadFileBytes(source) + id3v1;
        QVERIFY(WriteFileBytes(source, original));
        for (const double start : {1.5, 0.77, 2.21}) {
            const QByteArray kept = ReadFileBytes(cut(source, start, start + 1.0));
            QVERIFY(kept.size() > 1000);
            QCOMPARE(quint8(kept[0]), quint8(0xFF));
            QCOMPARE(quint8(kept[2]) >> 4, 0); // bit rate index 0: free format
            const qsizetype at = original.indexOf(kept);
            QVERIFY(at >= 0);
            QCOMPARE(quint8(original[at + kept.size()]), quint8(0xFF));
        }
        // To the end of the audio: its last frame whole, and no byte of the tag after it.
        const QByteArray last = ReadFileBytes(cut(source, 5.0, 100.0));
        QVERIFY(original.endsWith(last + id3v1));
        const QString piece = cut(source, 1.5, 3.0);
        const Decoded cut = GStreamerDecode(piece, dir_.filePath("piece.wav"));
        // One frame before the mark and the frame that holds the End mark at most.
        QVERIFY2(cut.frames() >= std::llround(1.5 * 44100) &&
                     cut.frames() <= std::llround(1.5 * 44100) + 3 * 1152,
                 qPrintable(QString::number(cut.frames())));
    }

    // LAME files joined end to end: the player plays the last one's padding, so an End past the
    // last frame keeps it too.
    void joinedFilesPieceToTheEnd() {
        const QString one = dir_.filePath("one.mp3");
        QVERIFY(EncodeClickTrack(one, 44100, 2, {"-b", "128"}));
        const QString joined = dir_.filePath("joined.mp3");
        QVERIFY(WriteFileBytes(joined, ReadFileBytes(one) + ReadFileBytes(one)));
        verifyPiece(joined, cut(joined, 7.0, 100.0), 7.0, 100.0);
    }

    // A piece chosen as a source is read by its own information frame: its piece is exact too.
    void pieceCutAgainIsExact() {
        const QString source = dir_.filePath("song.mp3");
        QVERIFY(EncodeClickTrack(source, 44100, 2, {"-V", "2"}));
        const QString first = dir_.filePath("first.mp3");
        QVERIFY(QFile::rename(cut(source, 1.111, 4.5), first));
        const QString again = cut(first, 0.5, 2.0);
        const Decoded original = GStreamerDecode(source, dir_.filePath("source.wav"));
        const Decoded twice = GStreamerDecode(again, dir_.filePath("piece.wav"));
        QVERIFY(std::abs(twice.frames() - std::llround(1.5 * 44100)) <= 88);
        QVERIFY(WorstWindowDb(original, SampleAt(1.611, 44100), twice) < -20);
    }
};

QTEST_GUILESS_MAIN(PieceHeadTest)
#include "test_piece_head.moc"
