#include "TestFiles.h"
#include "core/MarkCommands.h"
#include "core/NumberText.h"
#include "fakes/FakeCutWindow.h"
#include "fakes/FakeMessageBoxes.h"
#include "fakes/FakePlayer.h"
#include "fakes/PieceBytes.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <chrono>
#include <future>
#include <thread>

using namespace quavera;
using namespace quavera::testing;

Q_DECLARE_METATYPE(MessageIcon)

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

QStringList FieldTexts(const SplitFields& fields) {
    return {Q(fields.text(0)), Q(fields.text(1)), Q(fields.text(2))};
}

} // namespace

class MarkCommandsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    ProgramState program_;
    std::unique_ptr<FakePlayer> player_;
    std::unique_ptr<FakeMessageBoxes> messages_;
    std::unique_ptr<FakeCutWindow> window_;
    std::unique_ptr<MarkCommands> commands_;
    QString source_;

    // A source of 101,680 bytes (99.3 KB) chosen, playing a medium of 100 seconds.
    void chooseSource(qint64 size = 101680) {
        source_ = dir_->filePath("song.mp3");
        QVERIFY(WritePatternFile(source_, size));
        commands_->sourceText = Utf8(source_);
        commands_->destText = Utf8(dir_->path() + "/");
        commands_->cut.SourceSize = static_cast<std::int32_t>(size);
        player_->load(Utf8(source_), 100.0);
    }

    void verifyOneMessage(const QString& text, const QString& title, MessageIcon icon) {
        QCOMPARE(messages_->shown.size(), std::size_t{1});
        const auto& shown = messages_->shown.front();
        QCOMPARE(Q(shown.text), text);
        QCOMPARE(Q(shown.title), title);
        QCOMPARE(shown.icon, icon);
        QCOMPARE(shown.buttons, MessageButtons::Ok);
    }

    QString keptPart() const { return dir_->filePath("[铃声]1song.mp3"); }

    // The kept piece: a head of its own, then exactly `audio`.
    void verifyPiece(const QByteArray& audio) const {
        const QByteArray kept = ReadFileBytes(keptPart());
        QVERIFY2(IsPieceOf(kept, audio),
                 qPrintable(QString("%1 bytes kept for %2").arg(kept.size()).arg(audio.size())));
    }

private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        program_ = ProgramState();
        player_ = std::make_unique<FakePlayer>();
        messages_ = std::make_unique<FakeMessageBoxes>();
        window_ = std::make_unique<FakeCutWindow>();
        commands_ = std::make_unique<MarkCommands>(program_, *player_, *messages_, *window_);
    }

    // The offset of the 72-byte frame two before the one that plays at the mark (their overlap
    // makes its first samples whole), whatever the player's length.
    void startMark_data() {
        QTest::addColumn<qint64>("sourceSize");
        QTest::addColumn<double>("duration");
        QTest::addColumn<double>("position");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<double>("sizeKB");
        QTest::newRow("12.5 s to even") << qint64(102400) << 100.0 << 12.5 << "12.02343"
                                        << " 12秒" << 100.0;
        QTest::newRow("13.5 s to even") << qint64(102400) << 100.0 << 13.5 << "13.00781"
                                        << " 14秒" << 100.0;
        // A bare "0" would be dropped as an empty field and shift the piece out of its place.
        QTest::newRow("at the start") << qint64(102400) << 100.0 << 0.0 << "0.0"
                                      << " 0秒" << 100.0;
        QTest::newRow("size rounded to 99.3 KB") << qint64(101680) << 100.0 << 30.0 << "29.10937"
                                                 << " 30秒" << 99.3;
        // 256 bytes hold three whole frames and a cut-off one, which is no audio.
        QTest::newRow("256 bytes are 0.3 KB, past the last frame")
            << qint64(256) << 3.0 << 1.0 << "0.210937"
            << " 1秒" << 0.3;
        QTest::newRow("1024 bytes are 1 KB")
            << qint64(1024) << 1.0 << 1234.56789012345 << "0.984375"
            << " 1235秒" << 1.0;
        QTest::newRow("far beyond whole seconds")
            << qint64(102400) << 40000.0 << 32767.5 << "99.98437"
            << " 0秒" << 100.0;
    }
    void startMark() {
        QFETCH(qint64, sourceSize);
        QFETCH(double, duration);
        QFETCH(double, position);
        QFETCH(QString, field);
        QFETCH(QString, caption);
        QFETCH(double, sizeKB);
        chooseSource(sourceSize);
        player_->mediaDuration = duration;
        player_->position = position;

        commands_->Start();

        QCOMPARE(FieldTexts(commands_->splitFields), QStringList({field, "0", "0"}));
        QCOMPARE(Q(program_.StartMark), Q(NumberText(position)));
        QCOMPARE(program_.MediaDuration, duration);
        QCOMPARE(program_.SourceSizeKB, sizeKB);
        QCOMPARE(Q(window_->startCaption), caption);
        QCOMPARE(Q(window_->statusCaption), QString("开始。。。"));
        QVERIFY(messages_->shown.empty());
        QVERIFY(player_->playing);
    }

    void startWithoutFile() {
        commands_->splitFields.setText(0, "7");
        program_.StartMark = "3";
        commands_->Start();
        verifyOneMessage("请选择要剪切的MP3文件！", "错误", MessageIcon::Critical);
        QCOMPARE(Q(program_.StartMark), QString("3"));
        QCOMPARE(Q(commands_->splitFields.text(0)), QString("7"));
        QVERIFY(window_->statusCaption.empty() && window_->startCaption.empty());
    }

    // Failing steps are skipped with their assignments; the later steps still run.
    void startSkipsFailingSteps() {
        chooseSource();
        commands_->splitFields.setText(0, "7");
        program_.StartMark = "20";
        program_.MediaDuration = 50.0;

        player_->mediaDuration = 50.0;
        player_->position.reset(); // no position: the old mark (20 s) stays
        commands_->Start();
        QCOMPARE(Q(commands_->splitFields.text(0)), QString("19.33593")); // frame 275 of 72 bytes
        QCOMPARE(Q(window_->startCaption), QString(" 20秒"));

        QCOMPARE(Q(window_->statusCaption), QString("开始。。。"));
        QVERIFY(messages_->shown.empty());
    }

    // A player that reports a length of 0 is still loading the file: a mark taken then maps to
    // no bytes, and the fields would still hold the previous source's sizes.
    void marksRefusedWhileTheLengthIsZero() {
        chooseSource();
        commands_->splitFields.setText(0, "7");
        program_.StartMark = "20";
        player_->mediaDuration = 0.0;
        player_->position = 10.0;
        commands_->Start();
        verifyOneMessage("请选择要剪切的MP3文件！", "错误", MessageIcon::Critical);
        QCOMPARE(Q(program_.StartMark), QString("20"));
        QCOMPARE(Q(commands_->splitFields.text(0)), QString("7"));
        messages_->shown.clear();
        commands_->End();
        verifyOneMessage("请选择要剪切的MP3文件！", "提示", MessageIcon::None);
        QCOMPARE(window_->yields, 0);
    }

    void refreshLength_data() {
        QTest::addColumn<bool>("reports");
        QTest::addColumn<double>("duration");
        QTest::addColumn<double>("expectedDuration");
        QTest::addColumn<QString>("caption");
        QTest::newRow("whole") << true << 215.0 << 215.0 << " 215秒";
        QTest::newRow("half to even") << true << 12.5 << 12.5 << " 12秒";
        QTest::newRow("too long for whole seconds") << true << 32767.5 << 32767.5 << " 0秒";
        QTest::newRow("no length keeps the last") << false << 0.0 << 61.0 << " 61秒";
    }
    void refreshLength() {
        QFETCH(bool, reports);
        QFETCH(double, duration);
        QFETCH(double, expectedDuration);
        QFETCH(QString, caption);
        program_.MediaDuration = 61.0;
        player_->load("song.mp3", duration);
        if (!reports)
            player_->mediaDuration.reset();
        commands_->RefreshLength();
        QCOMPARE(program_.MediaDuration, expectedDuration);
        QCOMPARE(Q(window_->totalCaption), caption);
    }

    // Start at 30 s and End at 70 s: frames 416 to 972 play, 414 and 415 go before them.
    void endCutsThePiece() {
        chooseSource();
        player_->position = 30.0;
        commands_->Start();
        player_->position = 70.0;
        commands_->End();

        QVERIFY(messages_->shown.empty());
        QCOMPARE(Q(program_.EndMark), QString("70"));
        QCOMPARE(FieldTexts(commands_->splitFields), QStringList({"29.10937", "39.30469", "30.9"}));
        const qint64 start = 414 * kPatternFrameBytes;
        const qint64 length = (973 - 414) * kPatternFrameBytes;
        QCOMPARE(QList<qint64>(commands_->cut.PartSizes.begin(), commands_->cut.PartSizes.end()),
                 QList<qint64>({start, length, 101680 - start - length}));
        verifyPiece(PatternBytes(start, length));
        QCOMPARE(FolderEntries(dir_->path()), QStringList({"[铃声]1song.mp3", "song.mp3"}));
        QCOMPARE(Q(window_->statusCaption), QString("剪切完成，请试听！"));
        QCOMPARE(Q(window_->endCaption), QString(" 70秒"));
        QVERIFY(!player_->playing);
        QVERIFY(!commands_->cutRunning());
    }

    // The frames of a long file on a slow card are still being read when Start comes: Start
    // takes its mark without waiting (or it would wait out the reader's 5 s here), and End finds
    // the start's offset once they are in.
    void startDoesNotWaitForTheFrames() {
        std::promise<void> release;
        const std::shared_future<void> released = release.get_future().share();
        commands_ = std::make_unique<MarkCommands>(
            program_, *player_, *messages_, *window_,
            [released](const std::string& path, std::stop_token stop) {
                released.wait_for(std::chrono::seconds(5));
                return FrameIndex::Read(path, std::move(stop));
            });
        chooseSource();
        commands_->SourceChosen();
        commands_->splitFields.setText(0, "7");
        player_->position = 30.0;
        commands_->Start();

        QCOMPARE(Q(commands_->splitFields.text(0)), QString("7"));
        QCOMPARE(Q(program_.StartMark), QString("30"));
        QCOMPARE(Q(window_->startCaption), QString(" 30秒"));
        QVERIFY(messages_->shown.empty());
        release.set_value();
        player_->position = 70.0;
        commands_->End();
        QVERIFY(messages_->shown.empty());
        QCOMPARE(FieldTexts(commands_->splitFields), QStringList({"29.10937", "39.30469", "30.9"}));
        verifyPiece(PatternBytes(414 * kPatternFrameBytes, 40248));
    }

    // A file the player plays that holds no MPEG audio (AAC named .mp3): Start and End refuse it
    // and never read it on the window's thread. The answer is kept; only a change on disk has the
    // file read again, on the index's thread.
    void noAudioIsReadOffTheWindowThread() {
        std::atomic<int> reads{0};
        std::atomic<int> onWindowThread{0};
        const auto windowThread = std::this_thread::get_id();
        commands_ = std::make_unique<MarkCommands>(
            program_, *player_, *messages_, *window_,
            [&](const std::string& path, std::stop_token stop) {
                ++reads;
                onWindowThread += std::this_thread::get_id() == windowThread ? 1 : 0;
                return FrameIndex::Read(path, std::move(stop));
            });
        chooseSource();
        QProcess ffmpeg;
        ffmpeg.start("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i", "sine=d=20", "-c:a",
                                "aac", "-f", "adts", source_});
        QVERIFY(ffmpeg.waitForFinished(60000) && ffmpeg.exitCode() == 0);
        commands_->SourceChosen();
        for (int round = 0; round < 2; ++round) {
            for (int press = 0; press < 2; ++press) {
                // End first: it waits for the reading, which Start does only briefly.
                messages_->shown.clear();
                commands_->End();
                verifyOneMessage("请选择要剪切的MP3文件！", "提示", MessageIcon::None);
                messages_->shown.clear();
                commands_->Start();
                verifyOneMessage("请选择要剪切的MP3文件！", "错误", MessageIcon::Critical);
            }
            QCOMPARE(reads.load(), round + 1);
            QFile file(source_); // touched: another file to the index
            QVERIFY(file.open(QIODevice::Append) && file.write("x", 1) == 1);
        }
        QCOMPARE(onWindowThread.load(), 0);
    }

    // The file changed on disk between Start and End (a tag was written in front of the audio):
    // End indexes it again and moves the start with it, instead of cutting with the old offsets.
    void endAfterTheFileChangedUsesItsNewFrames() {
        chooseSource();
        player_->position = 30.0;
        commands_->Start();
        QCOMPARE(Q(commands_->splitFields.text(0)), QString("29.10937"));
        const QByteArray tag = QByteArray("ID3\x04\x00\x00\x00\x00\x07\x76", 10) +
                               QByteArray(1014, 'T'); // 1 KB in all
        const QByteArray changed = tag + PatternBytes(0, 101680);
        QVERIFY(WriteFileBytes(source_, changed));
        player_->position = 70.0;
        commands_->End();

        QVERIFY(messages_->shown.empty());
        QCOMPARE(Q(commands_->splitFields.text(0)), QString("30.10937"));
        verifyPiece(changed.mid(1024 + 29808, 40248));
    }

    // End past the last frame keeps the audio up to its end and none of the ID3v1 tag after it,
    // also where eight characters of KB cannot hold the end exactly (files of 10 MB or more).
    void pieceToTheEndStopsBeforeTheTags() {
        chooseSource();
        const qint64 audioBytes = 10'500'001;
        const QByteArray tagged = PatternBytes(0, audioBytes) + "TAG" + QByteArray(125, 't');
        QVERIFY(WriteFileBytes(source_, tagged));
        commands_->cut.SourceSize = static_cast<std::int32_t>(tagged.size());
        player_->position = 10.0;
        commands_->Start();
        player_->position = 20000.0;
        commands_->End();

        QVERIFY(messages_->shown.empty());
        const qint64 start = 136 * kPatternFrameBytes;
        const qint64 audioEnd =
            audioBytes / kPatternFrameBytes * kPatternFrameBytes; // whole frames
        verifyPiece(tagged.mid(start, audioEnd - start));
    }

    // The checks come in this order, each ending the command with its own message; the marks
    // and the plan are taken first in any case.
    void endChecks_data() {
        QTest::addColumn<bool>("fileLoaded");
        QTest::addColumn<bool>("destChosen");
        QTest::addColumn<bool>("planFits");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("title");
        QTest::newRow("no file") << false << false << false << "请先选择起点！"
                                 << "Quavera";
        QTest::newRow("no file, rest fine") << false << true << true << "请先选择起点！"
                                            << "Quavera";
        QTest::newRow("no folder") << true << false << false << "请选择要存放的文件夹！"
                                   << "提示";
        QTest::newRow("no plan") << true << true << false << "请选择要剪切的MP3文件！"
                                 << "提示";
    }
    void endChecks() {
        QFETCH(bool, fileLoaded);
        QFETCH(bool, destChosen);
        QFETCH(bool, planFits);
        QFETCH(QString, text);
        QFETCH(QString, title);
        chooseSource();
        program_.StartMark = "30";
        player_->position = 70.0;
        commands_->splitFields.setText(0, planFits ? "0" : "500");
        commands_->splitFields.setText(2, "0");
        if (!fileLoaded)
            player_->setURL("");
        if (!destChosen)
            commands_->destText.clear();

        commands_->End();

        verifyOneMessage(text, title, MessageIcon::None);
        QCOMPARE(FolderEntries(dir_->path()), QStringList({"song.mp3"}));
        QVERIFY(window_->statusCaption.empty());
        QCOMPARE(window_->yields, 0);
        if (fileLoaded) {
            QCOMPARE(Q(program_.EndMark), QString("70"));
            QCOMPARE(Q(commands_->splitFields.text(1)), QString("39.30469"));
        }
    }

    // With no file loaded the plan is still built: its compaction shows in the fields.
    void endWithoutFileStillPlans() {
        chooseSource();
        player_->setURL("");
        commands_->splitFields.setText(0, "0");
        commands_->splitFields.setText(1, "30");
        commands_->End();
        QCOMPARE(FieldTexts(commands_->splitFields), QStringList({"30", "69.3", "0"}));
        QCOMPARE(messages_->shown.size(), std::size_t{1});
    }

    // No Start yet: the piece's field keeps its text and the plan uses the fields as they are.
    void endBeforeAnyStartKeepsThePieceField() {
        chooseSource();
        commands_->splitFields.setText(0, "10");
        commands_->splitFields.setText(1, "12");
        commands_->splitFields.setText(2, "5");
        player_->position = 70.0;
        commands_->End();
        QCOMPARE(Q(program_.EndMark), QString("70"));
        QCOMPARE(FieldTexts(commands_->splitFields), QStringList({"10", "12", "5"}));
        QCOMPARE(ReadFileBytes(keptPart()), PatternBytes(10240, 12288));
    }

    void overflowingPlanIsAFailedPlan() {
        chooseSource();
        commands_->splitFields.setText(0, "2097152");
        program_.StartMark = "30";
        player_->position = 70.0;
        commands_->End();
        verifyOneMessage("请选择要剪切的MP3文件！", "提示", MessageIcon::None);
    }

    void endBeforeStartWritesNothing() {
        chooseSource();
        player_->position = 70.0;
        commands_->Start();
        player_->position = 30.0;
        commands_->End();
        QCOMPARE(Q(commands_->splitFields.text(1)), QString("-39.0937"));
        verifyOneMessage("结束点必须在开始点之后，请重新选择开始和结束！", "提示",
                         MessageIcon::None);
        QCOMPARE(FolderEntries(dir_->path()), QStringList({"song.mp3"}));
        QVERIFY(window_->statusCaption != kCutFinishedCaption);
    }

    void failedCutIsReported_data() {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("textStart");
        QTest::addColumn<QString>("title");
        QTest::addColumn<MessageIcon>("icon");
        QTest::newRow("part cannot be put in place")
            << "folder"
            << "剪切失败，无法写入铃声文件：\n{dir}/[铃声]1song.mp3\n"
            << "错误" << MessageIcon::Critical;
        QTest::newRow("source shrank")
            << "short"
            << "剪切失败，源文件比选择时短，可能已被修改：\n{dir}/song.mp3"
            << "错误" << MessageIcon::Critical;
        QTest::newRow("part would be the source")
            << "link"
            << "铃声文件会覆盖源文件本身，未剪切：\n{dir}/[铃声]1song.mp3\n"
            << "提示" << MessageIcon::Warning;
    }
    void failedCutIsReported() {
        QFETCH(QString, failure);
        QFETCH(QString, textStart);
        QFETCH(QString, title);
        QFETCH(MessageIcon, icon);
        chooseSource();
        if (failure == "folder")
            QVERIFY(QDir(dir_->path()).mkpath("[铃声]1song.mp3/inside"));
        if (failure == "short")
            QVERIFY(WritePatternFile(source_, 50000)); // SourceSize still says 101,680
        if (failure == "link")
            QVERIFY(QFile::link("song.mp3", keptPart()));
        player_->position = 30.0;
        commands_->Start();
        player_->position = 70.0;
        commands_->End();

        QCOMPARE(messages_->shown.size(), std::size_t{1});
        const auto& shown = messages_->shown.front();
        QVERIFY2(Q(shown.text).startsWith(textStart.replace("{dir}", dir_->path())),
                 shown.text.c_str());
        QCOMPARE(Q(shown.title), title);
        QCOMPARE(shown.icon, icon);
        QVERIFY(window_->statusCaption != kCutFinishedCaption);
        QVERIFY(!window_->busy);
        QVERIFY(!commands_->splitFields.locked());
        QVERIFY(!commands_->cutRunning());
    }

    // While the cut yields, Start and End are let through by the event loop: they must not
    // touch the marks, the fields or start a second cut. The length refresh goes on.
    void commandsWaitForTheRunningCut() {
        chooseSource();
        player_->position = 30.0;
        commands_->Start();
        player_->position = 70.0;
        bool runningSeen = false;
        window_->onYield = [&](int yieldNumber) {
            if (yieldNumber == 5) {
                runningSeen = commands_->cutRunning();
                player_->position = 90.0;
                player_->mediaDuration = 120.0;
                commands_->Start();
                commands_->End();
                commands_->RefreshLength();
            }
            return true;
        };
        const std::string startCaption = window_->startCaption;

        commands_->End();

        QVERIFY(runningSeen);
        QVERIFY(!commands_->cutRunning());
        QCOMPARE(window_->yields, 26 + 35 + 28); // whole blocks of 1122 bytes in each part
        QCOMPARE(Q(program_.StartMark), QString("30"));
        QCOMPARE(Q(program_.EndMark), QString("70"));
        QCOMPARE(Q(window_->startCaption), Q(startCaption));
        QCOMPARE(Q(window_->totalCaption), QString(" 120秒"));
        QCOMPARE(program_.MediaDuration, 120.0);
        QVERIFY(messages_->shown.empty());
        verifyPiece(PatternBytes(414 * kPatternFrameBytes, 40248));
    }

    void abandonedCutShowsNothing() {
        chooseSource();
        player_->position = 30.0;
        commands_->Start();
        player_->position = 70.0;
        window_->onYield = [](int yieldNumber) { return yieldNumber < 3; };
        commands_->End();
        QVERIFY(messages_->shown.empty());
        QCOMPARE(FolderEntries(dir_->path()), QStringList({"song.mp3"}));
        QVERIFY(!commands_->cutRunning());
        QVERIFY(player_->playing);
    }
};

QTEST_GUILESS_MAIN(MarkCommandsTest)
#include "test_mark_commands.moc"
