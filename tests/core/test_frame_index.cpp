#include "TestFiles.h"
#include "core/FrameIndex.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace quavera;
using namespace quavera::testing;

namespace {

// One frame: its header and `length` bytes in all, the rest of it filled with a pattern that
// holds no 0xFF, so no stray header hides in it.
QByteArray Frame(const char (&header)[5], int length) {
    QByteArray frame(header, 4);
    for (int i = 4; i < length; ++i)
        frame.append(static_cast<char>(0x11 + i % 0x60));
    return frame;
}
QByteArray Frames(const char (&header)[5], int length, int count) {
    return Frame(header, length).repeated(count);
}

// MPEG-1 Layer III, 128 kbit/s, 44.1 kHz, stereo: 417 bytes, 1152 samples.
constexpr char kMpeg1[] = "\xFF\xFB\x90\x00";
constexpr int kMpeg1Bytes = 417;
constexpr double kMpeg1Seconds = 1152.0 / 44100;

QByteArray Id3v2(int bodyBytes, bool footer = false) {
    QByteArray tag("ID3\x04\x00", 5);
    tag.append(footer ? '\x10' : '\x00');
    for (int shift : {21, 14, 7, 0})
        tag.append(static_cast<char>((bodyBytes >> shift) & 0x7F));
    tag.append(QByteArray(bodyBytes, 'P'));
    if (footer)
        tag.append("3DI" + tag.mid(3, 7));
    return tag;
}

QByteArray Id3v1() {
    return QByteArray("TAG") + QByteArray(125, 't');
}

QByteArray ApeTag() {
    const QByteArray items(40, 'a');
    auto frame = [&](bool header) {
        QByteArray bytes("APETAGEX");
        for (quint32 value :
             {2000u, quint32(items.size() + 32), 1u, header ? 0xA0000000u : 0x80000000u, 0u, 0u})
            for (int shift : {0, 8, 16, 24})
                bytes.append(static_cast<char>((value >> shift) & 0xFF));
        return bytes;
    };
    return frame(true) + items + frame(false);
}

QByteArray Lyrics3v2() {
    const QByteArray body = "LYRICSBEGININD00003110";
    return body + QByteArray::number(body.size()).rightJustified(6, '0') + "LYRICS200";
}

// LAME's information frame, declaring 100 frames, an encoder delay of 576 and a padding of 1000
// samples.
QByteArray LameInfoFrame() {
    QByteArray frame = Frame(kMpeg1, kMpeg1Bytes);
    QByteArray info("Info\x00\x00\x00\x0F\x00\x00\x00\x64", 12);
    info.append(QByteArray(4 + 100 + 4, '\x01'));
    QByteArray lame("LAME3.100");
    lame.append(QByteArray(12, '\x02'));
    lame.append("\x24\x03\xE8", 3); // 576 << 12 | 1000
    info.append(lame);
    frame.replace(36, info.size(), info);
    return frame;
}

// A tone of `seconds` as a WAV file, for the encoders.
bool Tone(const QString& path, double seconds, int rate, int channels) {
    return RunProgram("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i",
                                 QString("sine=f=440:d=%1:r=%2").arg(seconds).arg(rate), "-ac",
                                 QString::number(channels), path})
        .has_value();
}

bool Lame(const QString& wav, const QString& mp3, const QStringList& options) {
    return RunProgram("lame", QStringList{"--silent"} + options + QStringList{wav, mp3})
        .has_value();
}

struct PlayedFrame {
    qint64 offset = 0;
    double seconds = 0;
    double duration = 0;
};

double ClockSeconds(const QString& text) {
    const QStringList parts = text.split(':');
    return parts.at(0).toDouble() * 3600 + parts.at(1).toDouble() * 60 + parts.at(2).toDouble();
}

// The MPEG audio frames GStreamer plays from a file, as its parser hands them to the decoder,
// through parsebin as the player builds it (tags at either end demuxed). Information frames,
// which the decoder drops, are left out.
std::optional<QList<PlayedFrame>> GStreamerFrames(const QString& path) {
    QProcess gst;
    gst.setProcessChannelMode(QProcess::MergedChannels);
    gst.start("gst-launch-1.0", {"-v", "filesrc", "location=" + path, "!", "parsebin", "!",
                                 "fakesink", "silent=false"});
    if (!gst.waitForFinished(60000) || gst.exitCode() != 0)
        return std::nullopt;
    const QString output = QString::fromUtf8(gst.readAll());
    QList<PlayedFrame> frames;
    if (!output.contains("GstMpegAudioParse"))
        return frames; // played as another format, or not at all
    static const QRegularExpression kBuffer(
        R"(chain .*pts: ([0-9:.]+), duration: ([0-9:.]+), offset: (\d+),.*flags: [0-9a-f]+ ([^,]*),)");
    for (const QString& line : output.split('\n')) {
        const auto match = kBuffer.match(line);
        if (match.hasMatch() && !match.captured(4).contains("droppable"))
            frames.append({match.captured(3).toLongLong(), ClockSeconds(match.captured(1)),
                           ClockSeconds(match.captured(2))});
    }
    return frames;
}

} // namespace

class FrameIndexTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    FrameIndex indexOf(const QByteArray& bytes) {
        const QString path = dir_.filePath("source.mp3");
        if (!WriteFileBytes(path, bytes))
            qFatal("cannot write the test file");
        return FrameIndex::Read(Utf8(path));
    }

private slots:
    // Where the audio lies in files made the ways real ones come, and which frame plays at a
    // moment in the 11th frame (or past the end, for a file of fewer).
    void audioIsFound_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("frames");
        QTest::addColumn<qint64>("begin");
        QTest::addColumn<qint64>("end");
        QTest::addColumn<qint64>("eleventhFrame");
        const QByteArray plain = Frames(kMpeg1, kMpeg1Bytes, 20);
        const qint64 tenFrames = 10 * kMpeg1Bytes;
        const qint64 plainEnd = plain.size();
        QTest::newRow("plain") << plain << 20 << 0LL << plainEnd << tenFrames;
        QTest::newRow("picture tag in front")
            << Id3v2(760000) + plain << 20 << 760010LL << 760010 + plainEnd << 760010 + tenFrames;
        QTest::newRow("two tags in front, one with a footer")
            << Id3v2(300, true) + Id3v2(50) + plain << 20 << 380LL << 380 + plainEnd
            << 380 + tenFrames;
        QTest::newRow("junk in front") << QByteArray(2000, '\0') + plain << 20 << 2000LL
                                       << 2000 + plainEnd << 2000 + tenFrames;
        // A lone header in the junk is no stream: four frames in a row are.
        QTest::newRow("false header in the junk")
            << QByteArray("\x00\xFF\xFB\x90\x00junk", 9) + QByteArray(500, 'j') + plain << 20
            << 509LL << 509 + plainEnd << 509 + tenFrames;
        // Sync sought in unknown bytes takes three headers of one kind in a row, as GStreamer's
        // parser does: two are junk, three are audio.
        const QByteArray gap(1000, '\0');
        QTest::newRow("two frames in junk")
            << QByteArray(100, '\0') + Frames(kMpeg1, kMpeg1Bytes, 2) + gap + plain << 20 << 1934LL
            << 1934 + plainEnd << 1934 + tenFrames;
        QTest::newRow("three frames in junk")
            << QByteArray(100, '\0') + Frames(kMpeg1, kMpeg1Bytes, 3) + gap + plain << 23 << 100LL
            << 2351 + plainEnd << 2351 + 7 * qint64(kMpeg1Bytes);
        QTest::newRow("a re-cut piece begins inside a frame")
            << plain.mid(100) << 19 << qint64(kMpeg1Bytes - 100) << plainEnd - 100
            << tenFrames + kMpeg1Bytes - 100;
        QTest::newRow("tags at the end")
            << plain + Lyrics3v2() + ApeTag() + Id3v1() << 20 << 0LL << plainEnd << tenFrames;
        QTest::newRow("appended tag with a footer")
            << plain + Id3v2(64, true) << 20 << 0LL << plainEnd << tenFrames;
        // The player drops a frame cut off by the end of the file, or by a tag after it.
        QTest::newRow("cut-off last frame")
            << plain + Frame(kMpeg1, kMpeg1Bytes).left(100) << 20 << 0LL << plainEnd << tenFrames;
        QTest::newRow("cut-off last frame before a tag")
            << plain + Frame(kMpeg1, kMpeg1Bytes).left(100) + Id3v1() << 20 << 0LL << plainEnd
            << tenFrames;
        QTest::newRow("full Lyrics3v1 tag")
            << plain + "LYRICSBEGIN" + QByteArray(5100, 'l') + "LYRICSEND" + Id3v1() << 20 << 0LL
            << plainEnd << tenFrames;
        // A free-format stream's frame length is the distance to the next header of its kind.
        QTest::newRow("free format")
            << Frames("\xFF\xFB\x00\x00", 417, 20) << 20 << 0LL << plainEnd << tenFrames;
        QTest::newRow("damaged frame in the middle")
            << plain.left(5 * kMpeg1Bytes) + QByteArray(300, '\0') + plain.mid(5 * kMpeg1Bytes)
            << 20 << 0LL << plainEnd + 300 << tenFrames + 300;
        QTest::newRow("junk after the audio")
            << plain + QByteArray(3000, 'z') << 20 << 0LL << plainEnd << tenFrames;
        // 576 samples at 8 kHz: 72 ms a frame, so the moment lies in frame 3.
        QTest::newRow("MPEG-2.5 mono")
            << Frames("\xFF\xE3\x18\xC0", 72, 30) << 30 << 0LL << 2160LL << qint64(3 * 72);
        // 576 samples at 22.05 kHz last as long as 1152 at 44.1; 104 bytes at 32 kbit/s.
        QTest::newRow("MPEG-2 mono")
            << Frames("\xFF\xF3\x40\xC0", 104, 30) << 30 << 0LL << 3120LL << qint64(10 * 104);
        QTest::newRow("Layer II") << Frames("\xFF\xFD\x80\x00", 417, 20) << 20 << 0LL << plainEnd
                                  << tenFrames;
        // 384 samples a frame: three play in the time of one of Layer III.
        QTest::newRow("Layer I") << Frames("\xFF\xFF\x40\x00", 136, 40) << 40 << 0LL
                                 << qint64(40 * 136) << qint64(31 * 136);
        QTest::newRow("two frames only") << plain.left(2 * kMpeg1Bytes) << 2 << 0LL
                                         << qint64(2 * kMpeg1Bytes) << qint64(2 * kMpeg1Bytes);
    }
    void audioIsFound() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, frames);
        QFETCH(qint64, begin);
        QFETCH(qint64, end);
        QFETCH(qint64, eleventhFrame);
        const FrameIndex index = indexOf(bytes);
        QVERIFY(index.hasAudio());
        QVERIFY(index.complete());
        QCOMPARE(index.frameCount(), std::size_t(frames));
        QCOMPARE(index.audioBegin(), begin);
        QCOMPARE(index.audioEnd(), end);
        QCOMPARE(index.OffsetAt(10.5 * kMpeg1Seconds), eleventhFrame);
        QCOMPARE(index.OffsetAt(-1.0), begin);
        QCOMPARE(index.OffsetAt(1e6), end);
        QCOMPARE(index.identity().size, qint64(bytes.size()));
    }

    void noAudio_data() {
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray plain = Frames(kMpeg1, kMpeg1Bytes, 20);
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("text") << QByteArray("notes for the ringtone\n").repeated(100);
        QTest::newRow("tag only") << Id3v2(5000);
        QTest::newRow("one header in noise") << QByteArray(kMpeg1, 4) + QByteArray(900, 'n');
        QTest::newRow("WAV holding MPEG frames")
            << QByteArray("RIFF\x24\x00\x10\x00WAVE", 12) + plain;
        QTest::newRow("JPEG") << QByteArray("\xFF\xD8\xFF\xE0", 4) + plain;
        QTest::newRow("Ogg") << QByteArray("OggS") + plain;
        QTest::newRow("MP4") << QByteArray("\x00\x00\x00\x18"
                                           "ftypM4A ",
                                           12) +
                                    plain;
    }
    void noAudio() {
        QFETCH(QByteArray, bytes);
        QVERIFY(!indexOf(bytes).hasAudio());
    }

    // With LAME's information frame the player's clock leaves out the encoder delay and the
    // decoder's 529 samples: its second 1 plays in frame 39, not 38. The frame itself is no audio.
    void lameDelayShiftsTheClock() {
        const QByteArray audio = Frames(kMpeg1, kMpeg1Bytes, 100);
        const FrameIndex withInfo = indexOf(LameInfoFrame() + audio);
        QCOMPARE(withInfo.frameCount(), std::size_t(100));
        QCOMPARE(withInfo.audioBegin(), qint64(kMpeg1Bytes));
        QCOMPARE(withInfo.OffsetAt(1.0), qint64(kMpeg1Bytes + 39 * kMpeg1Bytes));
        QCOMPARE(withInfo.durationSeconds(), (100 * 1152 - 576 - 1000) / 44100.0);

        const FrameIndex without = indexOf(audio);
        QCOMPARE(without.OffsetAt(1.0), qint64(38 * kMpeg1Bytes));
        QCOMPARE(without.durationSeconds(), 100 * kMpeg1Seconds);
    }

    // The index agrees with GStreamer's parser frame for frame, offsets and times, on files made
    // by the encoders people use and joined the ways files get joined.
    void agreesWithGStreamer_data() {
        QTest::addColumn<QStringList>("parts");
        QTest::addColumn<QByteArray>("junk");
        const QStringList cbrFile{"lame", "44100", "2", "-b", "128", "-t"};
        QTest::newRow("lame with CRC") << QStringList{"lame", "44100", "2", "-p"} << QByteArray();
        QTest::newRow("lame VBR") << QStringList{"lame", "44100", "2", "-V", "2"} << QByteArray();
        QTest::newRow("lame VBR without tag")
            << QStringList{"lame", "44100", "2", "-V", "4", "-t"} << QByteArray();
        QTest::newRow("ffmpeg") << QStringList{"ffmpeg", "44100", "2"} << QByteArray();
        QTest::newRow("ffmpeg MPEG-2 mono") << QStringList{"ffmpeg", "22050", "1"} << QByteArray();
        QTest::newRow("MPEG-2.5 mono")
            << QStringList{"lame", "8000", "1", "-b", "32", "-m", "m"} << QByteArray();
        QTest::newRow("free format")
            << QStringList{"lame", "44100", "2", "--freeformat", "-b", "400"} << QByteArray();
        QTest::newRow("two lame files joined")
            << QStringList{"lame", "44100", "2", "-V", "2", "+", "lame", "44100", "2", "-p"}
            << QByteArray();
        QTest::newRow("44.1 kHz and 48 kHz joined")
            << QStringList{"lame", "44100", "2", "+", "lame", "48000", "2", "-t"} << QByteArray();
        QTest::newRow("VBRI frame") << (cbrFile + QStringList{"+", "vbri"}) << QByteArray();
        // Two frames of one kind in junk are no stream to the parser; three would be.
        QTest::newRow("junk in front")
            << cbrFile
            << QByteArray(300, '\0') + Frames(kMpeg1, kMpeg1Bytes, 2) + QByteArray(700, '\0');
        QTest::newRow("AAC named .mp3") << QStringList{"aac", "44100", "2"} << QByteArray();
    }
    void agreesWithGStreamer() {
        QFETCH(QStringList, parts);
        QFETCH(QByteArray, junk);
        // Each part: encoder, rate, channels, options; "+" joins the next part on.
        QByteArray bytes = junk;
        int number = 0;
        for (const QString& part : parts.join(' ').split(" + ")) {
            const QStringList words = part.split(' ');
            if (words.at(0) == "vbri") { // Fraunhofer's tag in the first frame's audio bytes
                QVERIFY(bytes.size() > 36 + 26);
                bytes.replace(36, 26, QByteArray("VBRI\x00\x01", 6) + QByteArray(20, '\x11'));
                continue;
            }
            const QString wav =
                dir_.filePath(QString("tone%1x%2.wav").arg(words.at(1), words.at(2)));
            const QString mp3 = dir_.filePath(QString("part%1.mp3").arg(number++));
            QVERIFY(QFile::exists(wav) || Tone(wav, 6, words.at(1).toInt(), words.at(2).toInt()));
            if (words.at(0) == "lame") {
                QVERIFY(Lame(wav, mp3, words.mid(3)));
            } else {
                const QStringList codec = words.at(0) == "aac"
                                              ? QStringList{"-c:a", "aac", "-f", "adts"}
                                              : QStringList{"-id3v2_version", "0"};
                QVERIFY(RunProgram("ffmpeg", QStringList{"-v", "error", "-y", "-i", wav} + codec +
                                                 QStringList{mp3}));
            }
            bytes += ReadFileBytes(mp3);
        }
        const QString path = dir_.filePath("joined.mp3");
        QVERIFY(WriteFileBytes(path, bytes));

        const auto played = GStreamerFrames(path);
        QVERIFY2(played, "gst-launch-1.0 failed");
        const FrameIndex index = FrameIndex::Read(Utf8(path));
        QVERIFY(index.complete());
        QCOMPARE(index.frameCount(), std::size_t(played->size()));
        for (std::size_t i = 0; i < index.frameCount(); ++i) {
            const PlayedFrame& frame = played->at(qsizetype(i));
            QCOMPARE(index.frameOffset(i), frame.offset);
            QVERIFY2(std::abs(index.frameSeconds(i) - frame.seconds) < 1e-5,
                     qPrintable(QString("frame %1 at %2 s").arg(i).arg(frame.seconds)));
            if (frame.duration > 0)
                QCOMPARE(index.OffsetAt(frame.seconds + frame.duration / 2), frame.offset);
        }
        if (!played->isEmpty()) {
            const double end = played->back().seconds + played->back().duration;
            QVERIFY2(std::abs(index.durationSeconds() - end) < 1e-5,
                     qPrintable(QString::number(index.durationSeconds())));
            QCOMPARE(index.OffsetAt(end + 1e-5), index.audioEnd());
        }
    }

    // The bytes a decoder needs for a part: eight frames of run-up before the frame that plays
    // at its start, up to the end of the frame that plays at its end; and where the first of
    // them starts on the player's clock (the information frame's delay left out).
    void framesOfAPart_data() {
        QTest::addColumn<bool>("info");
        QTest::addColumn<double>("from");
        QTest::addColumn<double>("to");
        QTest::addColumn<int>("firstFrame");
        QTest::addColumn<int>("endFrame");
        QTest::newRow("middle") << false << 1.0 << 1.5 << 30 << 58;
        QTest::newRow("middle, delay left out") << true << 1.0 << 1.5 << 31 << 59;
        QTest::newRow("at the start") << false << 0.0 << 0.1 << 0 << 4;
        QTest::newRow("past the end") << false << 2.5 << 5.0 << 87 << 100;
    }
    void framesOfAPart() {
        QFETCH(bool, info);
        QFETCH(double, from);
        QFETCH(double, to);
        QFETCH(int, firstFrame);
        QFETCH(int, endFrame);
        const QByteArray audio = Frames(kMpeg1, kMpeg1Bytes, 100);
        const FrameIndex index = indexOf(info ? LameInfoFrame() + audio : audio);
        const qint64 audioBegin = info ? kMpeg1Bytes : 0;
        const FrameIndex::Frames frames = index.FramesBetween(from, to, 8);
        QCOMPARE(frames.begin, audioBegin + firstFrame * kMpeg1Bytes);
        QCOMPARE(frames.end, audioBegin + endFrame * kMpeg1Bytes);
        QCOMPARE(frames.startSeconds, (firstFrame * 1152 - (info ? 576 + 529 : 0)) / 44100.0);
    }

    void specialFilesAreNotRead() {
        QVERIFY(!FrameIndex::Read(Utf8(dir_.path())).hasAudio());
        QVERIFY(!FrameIndex::Read(Utf8(dir_.filePath("missing.mp3"))).hasAudio());
        QVERIFY(!IdentityOf(Utf8(dir_.path())).has_value());
    }

    // A stop request ends the reading: the index is incomplete and holds no audio.
    void stoppedReadingIsIncomplete() {
        const QString path = dir_.filePath("long.mp3");
        QVERIFY(WriteFileBytes(path, Frames(kMpeg1, kMpeg1Bytes, 100)));
        std::stop_source stop;
        stop.request_stop();
        const FrameIndex index = FrameIndex::Read(Utf8(path), stop.get_token());
        QVERIFY(!index.complete());
        QVERIFY(!index.hasAudio());
    }
};

QTEST_GUILESS_MAIN(FrameIndexTest)
#include "test_frame_index.moc"
