#include "platform/qt/QtPlayerView.h"

#include "fakes/GeneratedMp3.h"

#include <QApplication>
#include <QAudioOutput>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLayout>
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
        QTRY_VERIFY2(time->text().endsWith(QStringLiteral(" / 00:09")), qPrintable(time->text()));
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

    void seekSliderMovesPlayback() {
        QtPlayerView view;
        view.setURL(mp3Path_.toStdString());
        QTRY_VERIFY(view.duration().value_or(0.0) > 0.0);
        view.pause();
        QTest::qWait(300);
        const double before = positionOf(view);

        auto* slider = view.findChild<QSlider*>(QStringLiteral("seekSlider"));
        QVERIFY(slider != nullptr);
        QTest::keyClick(slider, Qt::Key_Right);
        QTest::keyClick(slider, Qt::Key_Right);
        QTest::keyClick(slider, Qt::Key_Right);
        QTRY_VERIFY(std::abs(positionOf(view) - (before + 3.0)) < 0.3);
        QTest::keyClick(slider, Qt::Key_Home);
        QTRY_VERIFY(positionOf(view) < 0.3);
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
        QCOMPARE(view.findChild<QLabel*>(QStringLiteral("screen"))->text(),
                 QStringLiteral("无法播放此文件"));

        // A good file plays normally, although the failed one's pipeline may still report its
        // failure after the switch.
        view.setURL(mp3Path_.toStdString());
        QTRY_VERIFY(positionOf(view) > 0.2);
        QCOMPARE(view.findChild<QLabel*>(QStringLiteral("screen"))->text(),
                 QStringLiteral("铃声 source.mp3"));
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
