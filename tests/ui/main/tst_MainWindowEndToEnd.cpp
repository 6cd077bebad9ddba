// From source to ringtone with the real player: choose a generated MP3 and a destination, mark
// the start and the end while it plays, audition the piece and delete it.
#include "RealPlayerMainWindow.h"
#include "adapters/PlayerBackend.h"
#include "adapters/WaveformView.h"
#include "core/FrameIndex.h"
#include "core/NumberText.h"
#include "fakes/GeneratedMp3.h"
#include "fakes/ToneMp3.h"

#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace quavera;
using namespace quavera::testing;

namespace {
constexpr int kSourceFrames = 766; // 20 s
} // namespace

class MainWindowEndToEndTest : public QObject {
    Q_OBJECT

    std::unique_ptr<RealPlayerMainWindow> shown_;
    MainWindowRig* rig_ = nullptr; // shown_'s
    MainWindow* window_ = nullptr; // shown_'s

    QPushButton* button(const char* name) const {
        return window_->findChild<QPushButton*>(QLatin1String(name));
    }
    QString text(const char* name) const {
        QWidget* widget = window_->findChild<QWidget*>(QLatin1String(name));
        if (auto* box = qobject_cast<QLineEdit*>(widget)) {
            return box->text();
        }
        return qobject_cast<QLabel*>(widget)->text();
    }

private slots:
    void init() {
        shown_ = std::make_unique<RealPlayerMainWindow>();
        rig_ = &shown_->rig;
        window_ = shown_->window.get();
        QVERIFY(QTest::qWaitForWindowActive(window_));
    }
    void cleanup() { shown_.reset(); }

    void tabPassesThroughThePlayersOwnControls() {
        button("cmdO")->setFocus();
        // As on screen: the player's screen, then its controls from left to right.
        QStringList visited;
        for (int press = 0; press < 5; ++press) {
            QTest::keyClick(window_->windowHandle(), Qt::Key_Tab);
            visited << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(visited,
                 QStringList({"screen", "playPauseButton", "stopButton", "seekSlider", "cmdQ"}));
    }

    // "Open with" or a drop of a FIFO named .mp3: opening it for reading would wait for a writer.
    void fifoSourceNeverFreezesTheWindow() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString fifo = dir.filePath(QStringLiteral("管道 歌.mp3"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        // Should anything open it, a writer comes along again and again: the test then fails
        // instead of hanging.
        std::atomic<bool> openedForReading = false;
        std::atomic<bool> done = false;
        std::thread writer([&] {
            while (!done) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                const int end = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
                if (end >= 0) { // only succeeds while a reader waits
                    openedForReading = true;
                    ::close(end);
                }
            }
        });
        window_->openSource(fifo.toStdString());
        QTest::qWait(500);
        done = true;
        writer.join();
        QVERIFY(!openedForReading);
        QCOMPARE(text("txtSource"), fifo);
        QTest::mouseClick(button("cmdQ"), Qt::LeftButton);
        QCOMPARE(rig_->messages.shown.size(), std::size_t{1});
        QCOMPARE(rig_->messages.shown.front().text, std::string("请选择要剪切的MP3文件！"));
        QVERIFY(rig_->program.StartMark.empty());
    }

    // Loads a generated source of `frames` frames and the destination; returns the source's path.
    QString loadSource(const QTemporaryDir& folder, const QString& name, int frames) {
        const QString source = folder.filePath(name);
        if (!WriteFileBytes(source, GeneratedMp3Frames(frames))) {
            return {};
        }
        rig_->openDialog.answers.push_back(source.toStdString());
        QTest::mouseClick(button("cmdBrowseS"), Qt::LeftButton);
        rig_->folderPicker.answers.push_back(folder.path().toStdString());
        QTest::mouseClick(button("cmdBrowseD"), Qt::LeftButton);
        return source;
    }

    void enterOnThePlayersControlsNeverEnds_data() {
        QTest::addColumn<QString>("control");
        QTest::newRow("play/pause") << "playPauseButton";
        QTest::newRow("stop") << "stopButton";
        QTest::newRow("seek slider") << "seekSlider";
        QTest::newRow("screen") << "screen";
    }
    void enterOnThePlayersControlsNeverEnds() {
        QFETCH(QString, control);
        QTemporaryDir folder;
        QVERIFY(!loadSource(folder, QStringLiteral("歌.mp3"), kSourceFrames).isEmpty());
        auto* player = window_->findChild<PlayerView*>(QStringLiteral("MDplay"));
        QTRY_VERIFY(player->currentPosition().value_or(0.0) > 0.5);
        QTest::mouseClick(button("cmdQ"), Qt::LeftButton); // with a start, End would cut
        auto* target = player->findChild<QWidget*>(control);
        QVERIFY(target != nullptr);
        target->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(QApplication::focusWidget() == target);

        QTest::keyClick(window_->windowHandle(), Qt::Key_Return);
        QTest::keyClick(window_->windowHandle(), Qt::Key_Enter, Qt::KeypadModifier);
        QTest::qWait(200);
        QVERIFY(rig_->messages.shown.empty());
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList{QStringLiteral("歌.mp3")});
        QCOMPARE(text("lb"), QStringLiteral("开始。。。"));
        QCOMPARE(text("lbj"), QString());
    }

    void theMarksFollowStartEndAndTheSource() {
        QTemporaryDir folder;
        QVERIFY(!loadSource(folder, QStringLiteral("a.mp3"), kSourceFrames).isEmpty());
        auto* player = window_->findChild<PlayerView*>(QStringLiteral("MDplay"));
        auto* screen = player->findChild<WaveformView*>(QStringLiteral("screen"));
        QVERIFY(screen != nullptr);
        QCOMPARE(screen->scene().startSeconds, std::nullopt);

        QTRY_VERIFY(player->currentPosition().value_or(0.0) > 0.5);
        QTest::mouseClick(button("cmdQ"), Qt::LeftButton);
        QCOMPARE(screen->scene().startSeconds, ParseNumber(rig_->program.StartMark));
        QCOMPARE(screen->scene().endSeconds, std::nullopt);
        QTRY_VERIFY(player->currentPosition().value_or(0.0) > *screen->scene().startSeconds + 0.5);
        QTest::mouseClick(button("Command1"), Qt::LeftButton);
        QVERIFY(screen->scene().endSeconds.has_value());
        QCOMPARE(screen->scene().endSeconds, ParseNumber(rig_->program.EndMark));
        QCOMPARE(screen->scene().startSeconds, ParseNumber(rig_->program.StartMark));

        // Another source: its marks are still to be taken.
        QVERIFY(!loadSource(folder, QStringLiteral("b.mp3"), kSourceFrames).isEmpty());
        QCOMPARE(screen->scene().startSeconds, std::nullopt);
        QCOMPARE(screen->scene().endSeconds, std::nullopt);
        QTRY_VERIFY(player->currentPosition().value_or(0.0) > 0.3);
        // The player may play for a moment before it knows the new file's length; a Start
        // before that is refused and shows no mark, not the previous file's.
        QTRY_VERIFY(player->duration().value_or(0.0) > 0.0);
        QTest::mouseClick(button("cmdQ"), Qt::LeftButton);
        QCOMPARE(screen->scene().startSeconds, ParseNumber(rig_->program.StartMark));
        QCOMPARE(screen->scene().endSeconds, std::nullopt);
    }

    // A VBR file with LAME's information frame behind a large cover picture, marked on the paused
    // player's clock: the piece copies from the frame before the one that plays at the start
    // mark, far from where the share of the file's size would put it, and lasts from mark to mark.
    void marksLandOnTheFramesPlayingThen() {
        QTemporaryDir folder;
        QImage noise(1000, 1000, QImage::Format_RGB32);
        for (int y = 0; y < noise.height(); ++y) {
            for (int x = 0; x < noise.width(); ++x) {
                noise.setPixel(x, y, QRandomGenerator::global()->generate());
            }
        }
        const QString cover = folder.filePath(QStringLiteral("cover.jpg"));
        QVERIFY(noise.save(cover, "JPEG", 95));
        const QString source = folder.filePath(QStringLiteral("vbr.mp3"));
        QVERIFY(EncodeToneMp3(
            source, 40.0, 0.5, 440.0,
            {QStringLiteral("-V"), QStringLiteral("2"), QStringLiteral("--ti"), cover}));
        rig_->openDialog.answers.push_back(source.toStdString());
        QTest::mouseClick(button("cmdBrowseS"), Qt::LeftButton);
        rig_->folderPicker.answers.push_back(folder.path().toStdString());
        QTest::mouseClick(button("cmdBrowseD"), Qt::LeftButton);
        auto* player = window_->findChild<PlayerView*>(QStringLiteral("MDplay"));
        QTRY_VERIFY(player->duration().value_or(0.0) > 39.0);
        QVERIFY(player->pause());
        auto* media = player->findChild<PlayerBackend*>();
        for (const auto& [seconds, command] :
             {std::pair(10.0, "cmdQ"), std::pair(20.0, "Command1")}) {
            // A seek sent while GStreamer still takes the pause can be lost: it is sent again
            // every half second until the clock shows it.
            bool there = false;
            for (int attempt = 0; attempt < 20 && !there; ++attempt) {
                media->setPosition(qint64(seconds * 1000));
                for (int wait = 0; wait < 10 && !there; ++wait) {
                    QTest::qWait(50);
                    there = qAbs(player->currentPosition().value_or(-1.0) - seconds) < 0.002;
                }
            }
            QVERIFY(there);
            QTest::mouseClick(button(command), Qt::LeftButton);
        }
        QVERIFY(rig_->messages.shown.empty());
        QCOMPARE(text("lb"), QStringLiteral("剪切完成，请试听！"));

        const QString kept = folder.filePath(QStringLiteral("[铃声]1vbr.mp3"));
        const QByteArray sourceBytes = ReadFileBytes(source);
        const QByteArray keptBytes = ReadFileBytes(kept);
        const qsizetype from = FieldByteSize(text("txtSplit0").toStdString()).value_or(-1);
        const FrameIndex sourceFrames = FrameIndex::Read(source.toStdString());
        const FrameIndex pieceFrames = FrameIndex::Read(kept.toStdString());
        const double start = *ParseNumber(rig_->program.StartMark);
        const double end = *ParseNumber(rig_->program.EndMark);
        QVERIFY(sourceFrames.audioBegin() > 1'000'000); // behind the picture
        QVERIFY(qAbs(from - start / 40.0 * sourceBytes.size()) > 200'000);
        // The piece copies the source from the frame before the one that plays at the start mark
        // (the field holds its offset to within rounding), after a small head of its own.
        std::size_t playing = 0;
        while (sourceFrames.frameOffset(playing) < sourceFrames.OffsetAt(start))
            ++playing;
        QVERIFY(playing > 0);
        const qsizetype copyFrom = sourceFrames.frameOffset(playing - 1);
        QVERIFY2(copyFrom >= from && copyFrom < from + 16, qPrintable(QString::number(from)));
        const qsizetype head = keptBytes.indexOf(sourceBytes.mid(copyFrom, 4096));
        QVERIFY2(head > 0 && head < 4096, qPrintable(QString::number(head)));
        QCOMPARE(keptBytes.mid(head), sourceBytes.mid(copyFrom, keptBytes.size() - head));
        // Its information frame makes it last from mark to mark.
        QVERIFY2(qAbs(pieceFrames.durationSeconds() - (end - start)) <= 0.001,
                 qPrintable(QString::number(pieceFrames.durationSeconds())));
    }

    void ringtoneFromSourceToPreview() {
        QTemporaryDir sourceDir;
        QTemporaryDir destDir;
        QVERIFY(sourceDir.isValid() && destDir.isValid());
        const QString source = sourceDir.filePath(QStringLiteral("我的 歌.mp3"));
        const QByteArray sourceBytes = GeneratedMp3Bytes(kSourceFrames * kFrameBytes);
        QVERIFY(WriteFileBytes(source, sourceBytes));
        auto* player = window_->findChild<PlayerView*>(QStringLiteral("MDplay"));

        rig_->openDialog.answers.push_back(source.toStdString());
        QTest::mouseClick(button("cmdBrowseS"), Qt::LeftButton);
        rig_->folderPicker.answers.push_back(destDir.path().toStdString());
        QTest::mouseClick(button("cmdBrowseD"), Qt::LeftButton);
        QTRY_COMPARE(text("lbz"), QStringLiteral(" 20秒"));

        // It plays by itself; mark about a second in, and end about two seconds later.
        QTRY_VERIFY(player->currentPosition().value_or(0.0) > 1.0);
        QTest::mouseClick(button("cmdQ"), Qt::LeftButton);
        const double start = ParseNumber(rig_->program.StartMark).value_or(-1.0);
        QVERIFY(start > 1.0);
        QTRY_VERIFY(player->currentPosition().value_or(0.0) > start + 2.0);
        QTest::mouseClick(button("Command1"), Qt::LeftButton);

        QVERIFY(rig_->messages.shown.empty());
        QCOMPARE(text("lb"), QStringLiteral("剪切完成，请试听！"));
        const QString kept = destDir.filePath(QStringLiteral("[铃声]1我的 歌.mp3"));
        const QByteArray keptBytes = ReadFileBytes(kept);
        // The piece is its head and then the whole frames of the slice of the source that the
        // two size fields describe ...
        const qsizetype from = FieldByteSize(text("txtSplit0").toStdString()).value_or(-1);
        const qsizetype size = FieldByteSize(text("txtSplit1").toStdString()).value_or(-1);
        const qsizetype copyFrom = (from + kFrameBytes - 1) / kFrameBytes * kFrameBytes;
        const qsizetype copyTo = (from + size) / kFrameBytes * kFrameBytes;
        QVERIFY(IsPieceOf(keptBytes, sourceBytes.mid(copyFrom, copyTo - copyFrom)));
        // ... and starts where the start mark was taken, to within rounding.
        const double seconds = double(from) / kFrameBytes * kFrameSeconds;
        QVERIFY2(qAbs(seconds - start) < 2 * kFrameSeconds, qPrintable(QString::number(seconds)));
        const double paused = player->currentPosition().value_or(-1.0);
        QTest::qWait(300);
        QCOMPARE(player->currentPosition().value_or(-1.0), paused);

        QTest::mouseClick(button("Command2"), Qt::LeftButton);
        QWidget* preview = TopLevel("FrmST");
        QVERIFY(preview != nullptr);
        auto* previewPlayer = preview->findChild<PlayerView*>(QStringLiteral("MDst"));
        QCOMPARE(previewPlayer->URL(), kept.toStdString());
        QCOMPARE(rig_->program.PreviewFile, kept.toStdString());
        QTRY_VERIFY(previewPlayer->duration().value_or(0.0) > 1.5);

        QTest::mouseClick(preview->findChild<QPushButton*>(QStringLiteral("Command2")),
                          Qt::LeftButton);
        QVERIFY(!QFile::exists(kept));
        QTRY_VERIFY(TopLevel("FrmST") == nullptr);
        QCOMPARE(ReadFileBytes(source), sourceBytes);
    }
};

QTEST_MAIN(MainWindowEndToEndTest)
#include "tst_MainWindowEndToEnd.moc"
