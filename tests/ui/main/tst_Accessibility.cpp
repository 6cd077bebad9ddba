// What a screen reader finds in the three windows: a name for every control that can take the
// focus, nothing of the hidden size fields, and a player screen that reads the clock and marks.
#include "RealPlayerMainWindow.h"
#include "fakes/GeneratedMp3.h"

#include <QAccessible>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

using namespace quavera;
using namespace quavera::testing;

namespace {

constexpr int kSourceFrames = 766; // 20 s

QString AccessibleText(QWidget* widget, QAccessible::Text kind) {
    return QAccessible::queryAccessibleInterface(widget)->text(kind);
}

// What a screen reader is told to announce: the names of the notifications as they show.
// (Each show is the accessibility event ObjectShow, which the AT-SPI bridge passes on.)
class AnnouncementRecorder : public QObject {
public:
    QStringList announced;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && watched->isWidgetType()) {
            auto* widget = static_cast<QWidget*>(watched);
            QAccessibleInterface* reader = QAccessible::queryAccessibleInterface(widget);
            if (reader != nullptr && reader->role() == QAccessible::Notification) {
                announced << reader->text(QAccessible::Name);
            }
        }
        return false;
    }
};

} // namespace

class AccessibilityTest : public QObject {
    Q_OBJECT

    std::unique_ptr<RealPlayerMainWindow> main_;
    QTemporaryDir folder_;

    QPushButton* button(const char* name) const {
        return main_->window->findChild<QPushButton*>(QLatin1String(name));
    }
    PlayerView* mainPlayer() const {
        return main_->window->findChild<PlayerView*>(QStringLiteral("MDplay"));
    }
    QWidget* mainPlayerPart(const char* name) const {
        return mainPlayer()->findChild<QWidget*>(QLatin1String(name));
    }
    // Chooses a generated 20 s source, "歌.mp3", with 浏览; true once it plays.
    bool playSource() {
        const QString source = folder_.filePath(QStringLiteral("歌.mp3"));
        if (!folder_.isValid() || !WriteFileBytes(source, GeneratedMp3Frames(kSourceFrames))) {
            return false;
        }
        main_->rig.openDialog.answers.push_back(source.toStdString());
        QTest::mouseClick(button("cmdBrowseS"), Qt::LeftButton);
        return QTest::qWaitFor([this] {
            return mainPlayer()->duration().value_or(0.0) > 0.0 &&
                   mainPlayer()->currentPosition().value_or(0.0) > 0.5;
        });
    }

private slots:
    void init() {
        main_ = std::make_unique<RealPlayerMainWindow>();
        QVERIFY(QTest::qWaitForWindowExposed(main_->window.get()));
    }
    void cleanup() { main_.reset(); }

    void everyFocusableControlHasAName_data() {
        QTest::addColumn<QByteArray>("opener"); // the main window's button that opens it
        QTest::addColumn<QByteArray>("windowName");
        QTest::addColumn<int>("focusable"); // the controls that show and can take the focus
        QTest::addColumn<int>("role");      // a frame or a dialog, never Qt's "filler"
        // Buttons, both path boxes, and the player's play/pause, stop, seek slider and screen.
        QTest::newRow("主窗口") << QByteArray() << QByteArray("Frm") << 14
                                << int(QAccessible::Window);
        QTest::newRow("试听") << QByteArray("Command2") << QByteArray("FrmST") << 7
                              << int(QAccessible::Window);
        QTest::newRow("关于") << QByteArray("Command3") << QByteArray("FrmA") << 2
                              << int(QAccessible::Dialog);
    }
    void everyFocusableControlHasAName() {
        QFETCH(QByteArray, opener);
        QFETCH(QByteArray, windowName);
        QFETCH(int, focusable);
        QFETCH(int, role);
        if (!opener.isEmpty()) {
            QTest::mouseClick(button(opener.constData()), Qt::LeftButton);
        }
        QWidget* window = TopLevel(windowName.constData());
        QVERIFY(window != nullptr);
        QCOMPARE(int(QAccessible::queryAccessibleInterface(window)->role()), role);
        QCOMPARE(AccessibleText(window, QAccessible::Name), window->windowTitle());
        int named = 0;
        for (QWidget* widget : window->findChildren<QWidget*>()) {
            const QByteArray name = widget->objectName().toUtf8();
            if (!widget->isVisible()) { // the size fields and their frame: passed over
                QVERIFY2(QAccessible::queryAccessibleInterface(widget)->state().invisible,
                         name.constData());
            } else if (widget->focusPolicy() != Qt::NoFocus) {
                QVERIFY2(!AccessibleText(widget, QAccessible::Name).trimmed().isEmpty(),
                         name.constData());
                ++named;
            }
        }
        QCOMPARE(named, focusable);
    }

    void sliderReadsTheTimeAndStartAndCutAreAnnounced() {
        QVERIFY(playSource());
        QTest::mouseClick(mainPlayerPart("playPauseButton"), Qt::LeftButton);
        QWidget* slider = mainPlayerPart("seekSlider");
        QTest::keyClick(slider, Qt::Key_Home);
        QTest::keyClick(slider, Qt::Key_PageUp);
        QAccessibleInterface* reader = QAccessible::queryAccessibleInterface(slider);
        QTRY_COMPARE(reader->text(QAccessible::Value), QStringLiteral("00:05.0"));
        QVERIFY(reader->valueInterface() != nullptr);
        QCOMPARE(reader->valueInterface()->currentValue().toDouble(), 5.0);
        QCOMPARE(reader->valueInterface()->maximumValue().toDouble(),
                 mainPlayer()->duration().value_or(0.0));

        AnnouncementRecorder recorder;
        QStringList& announced = recorder.announced;
        qApp->installEventFilter(&recorder);
        QTest::mouseClick(button("cmdQ"), Qt::LeftButton);
        QCOMPARE(announced, QStringList{QStringLiteral("开始时间：5秒")});
        QTest::keyClick(slider, Qt::Key_PageUp);
        QTRY_COMPARE(reader->text(QAccessible::Value), QStringLiteral("00:10.0"));
        QTest::mouseClick(button("Command1"), Qt::LeftButton);
        QTRY_COMPARE(announced.value(1), QStringLiteral("剪切完成，请试听！"));
        qApp->removeEventFilter(&recorder);
    }

    void screenReadsTheClockAndTheMarks() {
        QVERIFY(playSource());
        QWidget* screen = mainPlayerPart("screen");
        auto* clock = qobject_cast<QLabel*>(mainPlayerPart("timeLabel"));
        QVERIFY(screen != nullptr && clock != nullptr);
        QCOMPARE(AccessibleText(screen, QAccessible::Name), QStringLiteral("波形"));

        // Paused, Home and Page Up on the slider put playback at 5 s.
        QTest::mouseClick(mainPlayerPart("playPauseButton"), Qt::LeftButton);
        QWidget* slider = mainPlayerPart("seekSlider");
        QTest::keyClick(slider, Qt::Key_Home);
        QTRY_COMPARE(mainPlayer()->currentPosition(), 0.0);
        QTest::keyClick(slider, Qt::Key_PageUp);
        QTRY_VERIFY2(clock->text().startsWith(QStringLiteral("00:05.0 / ")),
                     qPrintable(clock->text()));
        const QString caption = QStringLiteral("，歌.mp3");
        QTRY_COMPARE(AccessibleText(screen, QAccessible::Description), clock->text() + caption);

        QTest::mouseClick(button("cmdQ"), Qt::LeftButton);
        QTRY_COMPARE(AccessibleText(screen, QAccessible::Description),
                     clock->text() + QStringLiteral("，开始 00:05.0") + caption);

        // Playing, the clock moves ten times a second; the description only a few times.
        const QString paused = clock->text();
        QTest::mouseClick(mainPlayerPart("playPauseButton"), Qt::LeftButton);
        QTRY_VERIFY(clock->text() != paused); // a busy machine may take a while to start
        QStringList told;
        QElapsedTimer watch;
        watch.start();
        while (watch.elapsed() < 2000) {
            const QString description = AccessibleText(screen, QAccessible::Description);
            if (told.isEmpty() || told.constLast() != description) {
                told << description;
            }
            QTest::qWait(20);
        }
        QVERIFY2(told.size() >= 3 && told.size() <= 7, qPrintable(told.join(QLatin1Char('|'))));
    }
};

QTEST_MAIN(AccessibilityTest)
#include "tst_Accessibility.moc"
