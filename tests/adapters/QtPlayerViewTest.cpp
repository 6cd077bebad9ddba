#include "adapters/QtPlayerView.h"

#include "adapters/GstPlayerBackend.h"
#include "adapters/WaveformReader.h"
#include "adapters/WaveformView.h"
#include "fakes/GeneratedMp3.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

using namespace quavera;

namespace {

// 383 frames of 26.1 ms: ten seconds.
constexpr int kFixtureFrames = 383;
constexpr double kFixtureSeconds = kFixtureFrames * testing::kFrameSeconds;

// Whether this process holds a descriptor of the file, which would keep it from being released.
bool isOpenInThisProcess(const QString& path) {
    const QString target = QFileInfo(path).canonicalFilePath();
    const QFileInfoList descriptors = QDir(QStringLiteral("/proc/self/fd"))
                                          .entryInfoList(QDir::System | QDir::Files | QDir::Hidden);
    return std::any_of(descriptors.begin(), descriptors.end(), [&](const QFileInfo& descriptor) {
        return descriptor.symLinkTarget() == target;
    });
}

double positionOf(const QtPlayerView& view) {
    return view.currentPosition().value_or(-1.0);
}

} // namespace

class QtPlayerViewTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        folder_ = std::make_unique<QTemporaryDir>();
        QVERIFY(folder_->isValid());
        mp3Path_ = folder_->filePath(QStringLiteral("铃声 source.mp3"));
        QFile file(mp3Path_);
        QVERIFY(file.open(QIODevice::WriteOnly));
        const QByteArray bytes = testing::GeneratedMp3Frames(kFixtureFrames);
        QCOMPARE(file.write(bytes), bytes.size());
    }

    void nothingLoadedHasNoTimes() {
        QtPlayerView view;
        QCOMPARE(view.URL(), std::string());
        QCOMPARE(view.duration(), std::nullopt);
        QCOMPARE(view.currentPosition(), std::nullopt);
        QVERIFY(!view.pause());
    }

    void givenFilePlaysAtOnce() {
        QtPlayerView view;
        QVERIFY(view.setURL(mp3Path_.toStdString()));
        QCOMPARE(view.URL(), mp3Path_.toStdString());

        QTRY_VERIFY(std::abs(view.duration().value_or(0.0) - kFixtureSeconds) < 0.2);
        // Nothing calls play: the position moves by itself.
        QTRY_VERIFY(positionOf(view) > 0.3);
        const double earlier = positionOf(view);
        QTRY_VERIFY(positionOf(view) > earlier + 0.3);

        auto* engine = view.findChild<GstPlayerBackend*>();
        QVERIFY(engine != nullptr);
        QCOMPARE(engine->volume(), 0.5);
        auto* time = view.findChild<QLabel*>(QStringLiteral("timeLabel"));
        QVERIFY(time != nullptr);
        // Tenths, cut: the medium is 10.005 s long, which GStreamer reports a little short.
        const QRegularExpression tenths(QStringLiteral("^00:\\d\\d\\.\\d / 00:(09\\.9|10\\.0)$"));
        QTRY_VERIFY2(tenths.match(time->text()).hasMatch(), qPrintable(time->text()));
    }

    void pauseHoldsThePositionAndPlayResumes() {
        QtPlayerView view;
        view.setURL(mp3Path_.toStdString());
        QTRY_VERIFY(positionOf(view) > 0.3);

        QVERIFY(view.pause());
        QTest::qWait(300); // let the pipeline settle on its paused position
        const double paused = positionOf(view);
        QTest::qWait(700);
        QCOMPARE(positionOf(view), paused);
        QVERIFY(view.duration().has_value());

        // The user's own play button starts it again.
        auto* playPause = view.findChild<QToolButton*>(QStringLiteral("playPauseButton"));
        QVERIFY(playPause != nullptr);
        QCOMPARE(playPause->toolTip(), QStringLiteral("播放"));
        QTest::mouseClick(playPause, Qt::LeftButton);
        QTRY_VERIFY(positionOf(view) > paused + 0.3);
        QCOMPARE(playPause->toolTip(), QStringLiteral("暂停"));
    }

    void stopButtonGoesBackToTheStart() {
        QtPlayerView view;
        view.setURL(mp3Path_.toStdString());
        QTRY_VERIFY(positionOf(view) > 0.5);
        QTest::mouseClick(view.findChild<QToolButton*>(QStringLiteral("stopButton")),
                          Qt::LeftButton);
        QTRY_COMPARE(positionOf(view), 0.0);
        QTest::qWait(500);
        QCOMPARE(positionOf(view), 0.0);
        // Stopped is not unloaded.
        QCOMPARE(view.URL(), mp3Path_.toStdString());
        QVERIFY(view.duration().has_value());
    }

    // The keys from every control, Enter, the screen and the layout are checked against a fake
    // engine (QtPlayerViewWiringTest); here the seeks reach the real pipeline.
    void stepKeysMovePlayback() {
        QtPlayerView view;
        view.setURL(mp3Path_.toStdString());
        QTRY_VERIFY(view.duration().value_or(0.0) > 0.0);
        view.pause();
        QTest::qWait(300);
        const double before = positionOf(view);
        auto* focused = view.findChild<QWidget*>(QStringLiteral("seekSlider"));
        QVERIFY(focused != nullptr);

        const auto press = [&](Qt::Key key, double expected) {
            QTest::keyClick(focused, key);
            QTRY_VERIFY2(std::abs(positionOf(view) - expected) < 0.05,
                         qPrintable(QString::number(positionOf(view))));
        };
        // Pressed quickly, steps add up although the player has not yet reported the last one.
        QTest::keyClick(focused, Qt::Key_Right);
        press(Qt::Key_Right, before + 0.2);
        press(Qt::Key_PageUp, before + 5.2);
        press(Qt::Key_Left, before + 5.1);
        press(Qt::Key_PageDown, before + 0.1);
        press(Qt::Key_Home, 0.0);
        QTest::qWait(300);
        QCOMPARE(positionOf(view), 0.0); // still paused

        QTest::keyClick(focused, Qt::Key_Space);
        QTRY_VERIFY(positionOf(view) > 0.3);
        QTest::keyClick(focused, Qt::Key_Space);
        QTest::qWait(300);
        const double paused = positionOf(view);
        QTest::qWait(300);
        QCOMPARE(positionOf(view), paused);
    }

    void sameFileAgainPlaysFromTheStart() {
        QtPlayerView view;
        view.setURL(mp3Path_.toStdString());
        QTRY_VERIFY(positionOf(view) > 1.2);
        view.setURL(mp3Path_.toStdString());
        QTRY_VERIFY(positionOf(view) >= 0.0 && positionOf(view) < 0.8);
        QTRY_VERIFY(positionOf(view) > 0.9);
    }

    void emptyTextReleasesTheFile_data() {
        QTest::addColumn<QString>("stateBefore");
        QTest::newRow("playing") << "playing";
        QTest::newRow("paused") << "paused";
        QTest::newRow("stopped") << "stopped";
    }
    void emptyTextReleasesTheFile() {
        QFETCH(QString, stateBefore);
        QtPlayerView view;
        view.setURL(mp3Path_.toStdString());
        QTRY_VERIFY(positionOf(view) > 0.2);
        QVERIFY(isOpenInThisProcess(mp3Path_));
        if (stateBefore == "paused") {
            view.pause();
        } else if (stateBefore == "stopped") {
            QTest::mouseClick(view.findChild<QToolButton*>(QStringLiteral("stopButton")),
                              Qt::LeftButton);
        }

        QVERIFY(view.setURL(""));
        QCOMPARE(view.URL(), std::string());
        QCOMPARE(view.duration(), std::nullopt);
        QCOMPARE(view.currentPosition(), std::nullopt);
        QVERIFY(!view.pause());
        QTRY_VERIFY(!isOpenInThisProcess(mp3Path_));
        QVERIFY(QFile::remove(mp3Path_));
    }

    void emptyTextReleasesTheFileWhileItsOutlineIsRead() {
        // Twenty minutes: its outline takes seconds to read.
        const QString longPath = folder_->filePath(QStringLiteral("long.mp3"));
        QVERIFY(testing::WriteFileBytes(longPath, testing::GeneratedMp3Frames(46000)));
        QtPlayerView view;
        view.setURL(longPath.toStdString());
        auto* reader = view.findChild<WaveformReader*>();
        QTRY_VERIFY(reader->readSeconds() > 1.0);
        QCOMPARE(reader->state(), WaveformReader::State::Reading);

        view.setURL("");
        QCOMPARE(reader->state(), WaveformReader::State::Idle);
        QTRY_VERIFY(!isOpenInThisProcess(longPath));
        QVERIFY(QFile::remove(longPath));
        // Another file reads from the start; nothing of the first one is left over.
        view.setURL(mp3Path_.toStdString());
        QTRY_COMPARE(reader->state(), WaveformReader::State::Complete);
        QVERIFY(std::abs(reader->readSeconds() - kFixtureSeconds) < 0.1);
    }

    void unplayableSourceHasNoTimesAndNoDialog_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("missing file") << "absent.mp3" << QByteArray();
        QTest::newRow("not audio") << "text.mp3" << QByteArray("just some text\n").repeated(50);
        QTest::newRow("bare part name") << "[铃声]1" << QByteArray();
    }
    void unplayableSourceHasNoTimesAndNoDialog() {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QString path = name;
        if (!content.isEmpty()) {
            path = folder_->filePath(name);
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        QtPlayerView view;
        view.show();
        QVERIFY(view.setURL(path.toStdString()));
        QCOMPARE(view.URL(), path.toStdString());
        QVERIFY(QTest::qWaitFor([&view] { return !view.duration().has_value(); }));
        QCOMPARE(view.currentPosition(), std::nullopt);
        QVERIFY(!view.pause());
        QCOMPARE(QApplication::topLevelWidgets().size(), 1);
        auto* screen = view.findChild<WaveformView*>(QStringLiteral("screen"));
        QCOMPARE(screen->text(), QStringLiteral("无法播放此文件"));
        QCOMPARE(screen->scene().peaks, nullptr);

        // A good file plays normally, although the failed one's pipeline may still report its
        // failure after the switch.
        view.setURL(mp3Path_.toStdString());
        QTRY_VERIFY(positionOf(view) > 0.2);
        QCOMPARE(screen->text(), QStringLiteral("铃声 source.mp3"));
        QTRY_COMPARE(view.findChild<WaveformReader*>()->state(), WaveformReader::State::Complete);
        QVERIFY(screen->scene().peaks != nullptr);
    }

private:
    std::unique_ptr<QTemporaryDir> folder_;
    QString mp3Path_;
};

QTEST_MAIN(QtPlayerViewTest)
#include "QtPlayerViewTest.moc"
