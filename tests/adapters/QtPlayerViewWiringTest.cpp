// The player's own logic, driven through a hand-worked engine and decoder: which file a failure
// belongs to, the restart after a lost start, the outline, the keys and the screen. Nothing waits.
#include "adapters/QtPlayerView.h"
#include "adapters/WaveformView.h"
#include "fakes/FakeOutlineDecoder.h"
#include "fakes/FakePlayerBackend.h"

#include <QLabel>
#include <QLayout>
#include <QSlider>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>
#include <utility>

using namespace quavera;
using testing::FakeOutlineDecoder;
using testing::FakePlayerBackend;

namespace {

constexpr qint64 kDurationMs = 10000;

} // namespace

class QtPlayerViewWiringTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        decoders_ = {};
        auto backend = std::make_unique<FakePlayerBackend>();
        backend_ = backend.get();
        view_ = std::make_unique<QtPlayerView>(std::move(backend),
                                               FakeOutlineDecoder::factory(&decoders_), nullptr);
    }
    void cleanup() { view_.reset(); }

    void lateErrorOfThePreviousFileLeavesTheNewOnePlayable() {
        view_->setURL("/music/a.mp3");
        const PlayerBackend::Source first = backend_->source();
        view_->setURL("/music/b.mp3");
        backend_->setDuration(kDurationMs);
        emit backend_->failed(first);

        QCOMPARE(view_->duration(), 10.0);
        QVERIFY(view_->pause());
        QCOMPARE(screen()->text(), QStringLiteral("b.mp3"));
        QCOMPARE(reader()->state(), WaveformReader::State::Reading);
        QCOMPARE(decoders_.started.back(), QStringLiteral("/music/b.mp3"));
    }

    void failureOfTheFileShowsOnTheScreenUntilAnotherIsGiven() {
        view_->setURL("/music/a.mp3");
        backend_->setDuration(kDurationMs);
        emit backend_->failed(backend_->source());
        QCOMPARE(view_->URL(), std::string("/music/a.mp3"));
        QCOMPARE(view_->duration(), std::nullopt);
        QCOMPARE(view_->currentPosition(), std::nullopt);
        QVERIFY(!view_->pause());
        QCOMPARE(screen()->text(), QStringLiteral("无法播放此文件"));
        QCOMPARE(screen()->scene().peaks, nullptr);
        QCOMPARE(decoders_.current, nullptr); // its outline is no longer read

        view_->setURL("/music/b.mp3");
        QCOMPARE(view_->currentPosition(), 0.0);
        QCOMPARE(screen()->text(), QStringLiteral("b.mp3"));
        QVERIFY(screen()->scene().peaks != nullptr);
    }

    void aLostStartIsPlayedOnceMore_data() {
        QTest::addColumn<qint64>("endsAt");
        QTest::addColumn<int>("ends");
        QTest::addColumn<bool>("earlierFile");
        QTest::addColumn<int>("plays");
        QTest::newRow("lost start") << qint64{0} << 1 << false << 2;
        QTest::newRow("lost again") << qint64{0} << 2 << false << 2;
        QTest::newRow("normal end") << kDurationMs << 1 << false << 1;
        QTest::newRow("earlier file") << qint64{0} << 1 << true << 1;
    }
    void aLostStartIsPlayedOnceMore() {
        QFETCH(qint64, endsAt);
        QFETCH(int, ends);
        QFETCH(bool, earlierFile);
        QFETCH(int, plays);
        view_->setURL("/music/a.mp3");
        const PlayerBackend::Source source = backend_->source() - (earlierFile ? 1 : 0);
        backend_->setDuration(kDurationMs);
        backend_->setPosition(endsAt);
        for (int end = 0; end < ends; ++end) {
            backend_->end(source);
        }
        QCOMPARE(backend_->plays, plays);
    }

    void keysMovePlaybackFromAnyControl_data() {
        QTest::addColumn<QString>("control");
        QTest::newRow("seek slider") << "seekSlider";
        QTest::newRow("play button") << "playPauseButton";
        QTest::newRow("stop button") << "stopButton";
        QTest::newRow("screen") << "screen";
    }
    void keysMovePlaybackFromAnyControl() {
        QFETCH(QString, control);
        loadPaused();
        auto* focused = view_->findChild<QWidget*>(control);
        QVERIFY(focused != nullptr);
        const auto press = [&](Qt::Key key, qint64 expected) {
            QTest::keyClick(focused, key);
            QCOMPARE(backend_->position(), expected);
        };
        press(Qt::Key_Right, 100);
        press(Qt::Key_Right, 200);
        press(Qt::Key_PageUp, 5200);
        press(Qt::Key_Left, 5100);
        press(Qt::Key_PageDown, 100);
        press(Qt::Key_PageDown, 0);
        backend_->setPosition(8000);
        press(Qt::Key_PageUp, kDurationMs);
        press(Qt::Key_Home, 0);
        QVERIFY(!backend_->isPlaying());
        QTest::keyClick(focused, Qt::Key_Space);
        QVERIFY(backend_->isPlaying());
        QTest::keyClick(focused, Qt::Key_Space);
        QVERIFY(!backend_->isPlaying());
    }

    void enterActsOnTheFocusedControlOnly() {
        QWidget window;
        view_->setParent(&window);
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
        view_->setURL("/music/a.mp3");
        backend_->setDuration(kDurationMs);
        backend_->setPosition(3000);
        auto* playPause = view_->findChild<QToolButton*>(QStringLiteral("playPauseButton"));

        QTest::keyClick(playPause, Qt::Key_Return);
        QCOMPARE(playPause->toolTip(), QStringLiteral("播放")); // paused
        QTest::keyClick(playPause, Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(playPause->toolTip(), QStringLiteral("暂停")); // playing again
        for (const char* other : {"seekSlider", "screen"}) {
            QTest::keyClick(view_->findChild<QWidget*>(QLatin1String(other)), Qt::Key_Return);
            QTest::keyClick(view_->findChild<QWidget*>(QLatin1String(other)), Qt::Key_Return,
                            Qt::ShiftModifier);
        }
        QVERIFY(backend_->isPlaying());
        QCOMPARE(backend_->position(), 3000);
        QTest::keyClick(view_->findChild<QToolButton*>(QStringLiteral("stopButton")),
                        Qt::Key_Return);
        QCOMPARE(backend_->position(), 0);
        QVERIFY(!backend_->isPlaying());
        QCOMPARE(enterReachedTheWindow, 0);
        view_->setParent(nullptr);
    }

    void clickAndDragOnTheScreenSeek() {
        view_->resize(400, 200);
        view_->show();
        QVERIFY(QTest::qWaitForWindowExposed(view_.get()));
        loadPaused();
        const auto xAt = [&](double fraction) { return int(fraction * screen()->width()); };
        const int y = screen()->height() / 2;

        QTest::mouseClick(screen(), Qt::LeftButton, {}, QPoint(xAt(0.7), y));
        QVERIFY(std::abs(backend_->position() - 7000) < 100);
        QTest::mousePress(screen(), Qt::LeftButton, {}, QPoint(xAt(0.6), y));
        QMouseEvent drag(QEvent::MouseMove, QPointF(xAt(0.2), y),
                         screen()->mapToGlobal(QPointF(xAt(0.2), y)), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(screen(), &drag);
        QTest::mouseRelease(screen(), Qt::LeftButton, {}, QPoint(xAt(0.2), y));
        QVERIFY(std::abs(backend_->position() - 2000) < 100);
        QVERIFY(!backend_->isPlaying());
    }

    void zoomKeepsThePointUnderThePointerAndClicksSeekWithinTheView() {
        view_->resize(400, 200);
        view_->show();
        QVERIFY(QTest::qWaitForWindowExposed(view_.get()));
        loadPaused();
        WaveformView* s = screen();
        const double x = 0.7 * s->width(); // 7 s of 10 before zooming
        const double under = s->secondsAt(x);
        wheel(x, 2 * 120, Qt::ControlModifier); // two notches: half the span
        QVERIFY2(shownIs(3.5, 8.5), shownText());
        QVERIFY(std::abs(s->secondsAt(x) - under) < 1e-9);
        wheel(x, 20 * 120, Qt::ControlModifier); // no closer than two seconds across
        QVERIFY(std::abs(shown().second - shown().first - 2.0) < 1e-9);
        QVERIFY(std::abs(s->secondsAt(x) - under) < 1e-9);

        const int y = s->height() / 2;
        const int column = s->width() / 4;
        const double expected =
            shown().first + (column + 0.5) / s->width() * (shown().second - shown().first);
        QTest::mouseClick(s, Qt::LeftButton, {}, QPoint(column, y));
        QVERIFY(std::abs(backend_->position() - expected * 1000) < 1);

        // The wheel alone moves the view a tenth of its width a notch; Ctrl and the wheel back
        // show the whole file.
        const double from = shown().first;
        wheel(x, -120, Qt::NoModifier);
        QVERIFY(std::abs(shown().first - (from + 0.2)) < 1e-9);
        wheel(x, -40 * 120, Qt::ControlModifier);
        QVERIFY(!s->zoomed());
        QVERIFY2(shownIs(0.0, 10.0), shownText());
    }

    void keysZoomAroundThePlayhead() {
        loadPaused();
        backend_->setPosition(6000);
        auto* slider = view_->findChild<QWidget*>(QStringLiteral("seekSlider"));
        QTest::keyClick(slider, Qt::Key_Plus, Qt::ShiftModifier);
        QVERIFY2(shownIs(3.0, 8.0), shownText()); // the playhead stays at 60 % of the width
        QTRY_VERIFY(screen()->accessibleDescription().contains(
            QStringLiteral("，显示 00:03.0–00:08.0，a.mp3")));
        QTest::keyClick(slider, Qt::Key_Equal);
        QVERIFY2(shownIs(4.5, 7.0), shownText());
        QTest::keyClick(slider, Qt::Key_Plus, Qt::KeypadModifier);
        QVERIFY2(shownIs(4.8, 6.8), shownText());
        QTest::keyClick(slider, Qt::Key_Minus);
        QVERIFY2(shownIs(3.6, 7.6), shownText());
        QCOMPARE(backend_->position(), 6000); // zooming never moves playback
        QTest::keyClick(slider, Qt::Key_0);
        QVERIFY(!screen()->zoomed());
        QTRY_VERIFY(!screen()->accessibleDescription().contains(QStringLiteral("显示")));
    }

    void zoomedViewFollowsThePlayheadUntilAnotherFileIsGiven() {
        loadPaused();
        backend_->setPosition(1000);
        for (int press = 0; press < 3; ++press) {
            QTest::keyClick(screen(), Qt::Key_Plus);
        }
        QVERIFY2(shownIs(0.8, 2.8), shownText());
        backend_->setPosition(2900); // played on past the right edge: the next page
        QVERIFY2(shownIs(2.8, 4.8), shownText());
        backend_->setPosition(9500); // sought far away: around the playhead
        QVERIFY2(shownIs(8.0, 10.0), shownText());
        view_->setURL("/music/b.mp3");
        backend_->setDuration(kDurationMs);
        QVERIFY(!screen()->zoomed());
    }

    void outlineIsHeldDuringACutAndKeepsTheEndOfTheFile() {
        view_->setURL("/music/a.mp3");
        backend_->setDuration(kDurationMs);
        QCOMPARE(reader()->peaks().spanSeconds(), 10.0);
        view_->holdBackgroundWork(true);
        decoders_.current->decode(0.5f);
        emit decoders_.current->finished();
        QCOMPARE(reader()->readSeconds(), 0.0);

        view_->holdBackgroundWork(false);
        QCOMPARE(reader()->state(), WaveformReader::State::Complete);
        QCOMPARE(reader()->readSeconds(), 1.0);
        QCOMPARE(screen()->scene().peaks, &reader()->peaks());
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
        view_->setParent(&window);
        view_->setGeometry(QRect(QPoint(0, 0), size));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        loadPaused();

        const QSize needed = view_->layout()->minimumSize();
        QVERIFY2(
            needed.width() <= size.width() && needed.height() <= size.height(),
            qPrintable(QStringLiteral("needs %1x%2").arg(needed.width()).arg(needed.height())));
        const QList<QWidget*> controls = {
            view_->findChild<QToolButton*>(QStringLiteral("playPauseButton")),
            view_->findChild<QToolButton*>(QStringLiteral("stopButton")),
            view_->findChild<QSlider*>(QStringLiteral("seekSlider")),
            view_->findChild<QLabel*>(QStringLiteral("timeLabel")),
        };
        for (QWidget* control : controls) {
            QVERIFY(control != nullptr);
            QVERIFY(control->isVisible());
            const QRect place(control->mapTo(view_.get(), QPoint(0, 0)), control->size());
            QVERIFY2(view_->rect().contains(place),
                     qPrintable(control->objectName() + QStringLiteral(" lies outside")));
            QVERIFY(place.width() >= control->minimumSizeHint().width());
            QVERIFY(place.height() >= control->minimumSizeHint().height());
            for (QWidget* other : controls) {
                QVERIFY2(other == control || !control->geometry().intersects(other->geometry()),
                         qPrintable(control->objectName() + QStringLiteral(" overlaps ") +
                                    other->objectName()));
            }
        }
        auto* time = view_->findChild<QLabel*>(QStringLiteral("timeLabel"));
        QVERIFY(time->width() >= time->fontMetrics().horizontalAdvance(time->text()));
        view_->setParent(nullptr);
    }

private:
    // A ten-second file, paused at its start.
    void loadPaused() {
        view_->setURL("/music/a.mp3");
        backend_->setDuration(kDurationMs);
        QVERIFY(view_->pause());
    }
    [[nodiscard]] WaveformView* screen() const {
        return view_->findChild<WaveformView*>(QStringLiteral("screen"));
    }
    [[nodiscard]] WaveformReader* reader() const { return view_->findChild<WaveformReader*>(); }
    [[nodiscard]] std::pair<double, double> shown() const {
        const WaveformScene& scene = screen()->scene();
        return screen()->zoomed() ? std::pair{scene.shownFromSeconds, scene.shownToSeconds}
                                  : std::pair{0.0, scene.durationSeconds};
    }
    [[nodiscard]] bool shownIs(double from, double to) const {
        return std::abs(shown().first - from) < 1e-6 && std::abs(shown().second - to) < 1e-6;
    }
    [[nodiscard]] const char* shownText() {
        shownText_ = QStringLiteral("shown %1 to %2").arg(shown().first).arg(shown().second);
        return qPrintable(shownText_);
    }
    void wheel(double x, int angle, Qt::KeyboardModifiers modifiers) {
        const QPointF at(x, screen()->height() / 2.0);
        QWheelEvent event(at, screen()->mapToGlobal(at), QPoint(), QPoint(0, angle), Qt::NoButton,
                          modifiers, Qt::NoScrollPhase, false);
        QApplication::sendEvent(screen(), &event);
    }

    QString shownText_;
    FakeOutlineDecoder::Log decoders_;
    FakePlayerBackend* backend_ = nullptr;
    std::unique_ptr<QtPlayerView> view_;
};

QTEST_MAIN(QtPlayerViewWiringTest)
#include "QtPlayerViewWiringTest.moc"
