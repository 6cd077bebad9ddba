#include "platform/qt/QtPlayerView.h"

#include "fakes/GeneratedMp3.h"
#include "platform/qt/WaveformReader.h"
#include "platform/qt/WaveformView.h"

#include <QApplication>
#include <QAudioOutput>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLayout>
#include <QRegularExpression>
#include <QSlider>
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

        auto* output = view.findChild<QAudioOutput*>();
        QVERIFY(output != nullptr);
        QCOMPARE(output->volume(), 0.5f);
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

    void stepKeysMovePlaybackFromAnyControl_data() {
        QTest::addColumn<QString>("control");
        QTest::newRow("seek slider") << "seekSlider";
        QTest::newRow("play button") << "playPauseButton";
        QTest::newRow("stop button") << "stopButton";
        QTest::newRow("screen") << "screen";
    }
    void stepKeysMovePlaybackFromAnyControl() {
        QFETCH(QString, control);
        QtPlayerView view;
        view.setURL(mp3Path_.toStdString());
        QTRY_VERIFY(view.duration().value_or(0.0) > 0.0);
        view.pause();
        QTest::qWait(300);
        const double before = positionOf(view);
        auto* focused = view.findChild<QWidget*>(control);
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

    void clickAndDragOnTheScreenSeekAndKeepPlaying() {
        QtPlayerView view;
        view.resize(400, 200);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.setURL(mp3Path_.toStdString());
        QTRY_VERIFY(view.duration().value_or(0.0) > 0.0);
        auto* screen = view.findChild<QWidget*>(QStringLiteral("screen"));
        const double duration = *view.duration();
        const auto xAt = [&](double fraction) { return int(fraction * screen->width()); };
        const int y = screen->height() / 2;

        QTest::mouseClick(screen, Qt::LeftButton, {}, QPoint(xAt(0.7), y));
        QTRY_VERIFY(std::abs(positionOf(view) - 0.7 * duration) < 0.4);
        QTRY_VERIFY(positionOf(view) > 0.7 * duration + 0.5); // still playing

        view.pause();
        QTest::mousePress(screen, Qt::LeftButton, {}, QPoint(xAt(0.6), y));
        QMouseEvent drag(QEvent::MouseMove, QPointF(xAt(0.2), y),
                         screen->mapToGlobal(QPointF(xAt(0.2), y)), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(screen, &drag);
        QTest::mouseRelease(screen, Qt::LeftButton, {}, QPoint(xAt(0.2), y));
        QTRY_VERIFY(std::abs(positionOf(view) - 0.2 * duration) < 0.1);
        QTest::qWait(400);
        QVERIFY(std::abs(positionOf(view) - 0.2 * duration) < 0.1); // still paused
    }

    void enterActsOnTheFocusedControlOnly() {
        QWidget window;
        auto* view = new QtPlayerView(&window);
        int enterReachedTheWindow = 0;
        struct : QObject {
            int* count = nullptr;
            bool eventFilter(QObject*, QEvent* event) override {
                if (event->type() == QEvent::KeyPress) {
                    const int key = static_cast<QKeyEvent*>(event)->key();
                    *count += key == Qt::Key_Return || key == Qt::Key_Enter;
                }
                return false;
            }
        } windowKeys;
        windowKeys.count = &enterReachedTheWindow;
        window.installEventFilter(&windowKeys);
        window.show();
        view->setURL(mp3Path_.toStdString());
        QTRY_VERIFY(positionOf(*view) > 0.3);
        auto* playPause = view->findChild<QToolButton*>(QStringLiteral("playPauseButton"));

        QTest::keyClick(playPause, Qt::Key_Return);
        QTRY_COMPARE(playPause->toolTip(), QStringLiteral("播放")); // paused
        QTest::keyClick(playPause, Qt::Key_Enter, Qt::KeypadModifier);
        QTRY_COMPARE(playPause->toolTip(), QStringLiteral("暂停")); // playing again
        for (const char* other : {"seekSlider", "screen"}) {
            QTest::keyClick(view->findChild<QWidget*>(QLatin1String(other)), Qt::Key_Return);
        }
        QCOMPARE(playPause->toolTip(), QStringLiteral("暂停"));
        QTest::keyClick(view->findChild<QToolButton*>(QStringLiteral("stopButton")),
                        Qt::Key_Return);
        QTRY_COMPARE(positionOf(*view), 0.0);
        QCOMPARE(enterReachedTheWindow, 0);
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

    void controlsFitTheWindows_data() {
        QTest::addColumn<QSize>("size");
        QTest::newRow("main window") << QSize(432, 93);
        QTest::newRow("preview window") << QSize(312, 213);
    }
    void controlsFitTheWindows() {
        QFETCH(QSize, size);
        QWidget window;
        window.resize(size);
        auto* view = new QtPlayerView(&window);
        view->setGeometry(QRect(QPoint(0, 0), size));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        view->setURL(mp3Path_.toStdString());
        QTRY_VERIFY(view->duration().value_or(0.0) > 0.0);

        const QSize needed = view->layout()->minimumSize();
        QVERIFY2(
            needed.width() <= size.width() && needed.height() <= size.height(),
            qPrintable(QStringLiteral("needs %1x%2").arg(needed.width()).arg(needed.height())));

        const QList<QWidget*> controls = {
            view->findChild<QToolButton*>(QStringLiteral("playPauseButton")),
            view->findChild<QToolButton*>(QStringLiteral("stopButton")),
            view->findChild<QSlider*>(QStringLiteral("seekSlider")),
            view->findChild<QLabel*>(QStringLiteral("timeLabel")),
        };
        for (QWidget* control : controls) {
            QVERIFY(control != nullptr);
            QVERIFY(control->isVisible());
            const QRect place = control->geometry();
            QVERIFY2(view->rect().contains(place),
                     qPrintable(control->objectName() + QStringLiteral(" lies outside")));
            QVERIFY(place.width() >= control->minimumSizeHint().width());
            QVERIFY(place.height() >= control->minimumSizeHint().height());
            for (QWidget* other : controls) {
                QVERIFY2(other == control || !place.intersects(other->geometry()),
                         qPrintable(control->objectName() + QStringLiteral(" overlaps ") +
                                    other->objectName()));
            }
        }
        auto* time = view->findChild<QLabel*>(QStringLiteral("timeLabel"));
        QVERIFY(time->width() >= time->fontMetrics().horizontalAdvance(time->text()));
    }

private:
    std::unique_ptr<QTemporaryDir> folder_;
    QString mp3Path_;
};

QTEST_MAIN(QtPlayerViewTest)
#include "QtPlayerViewTest.moc"
