// The main window as the user meets it: controls, texts, fonts, focus, keys and the timer.
#include "MainWindowFakes.h"
#include "ui/MainWindow.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>
#include <memory>

using namespace quavera;
using namespace quavera::testing;

namespace {

constexpr char kNoFileText[] = "请选择要剪切的MP3文件！";
constexpr char kNoStartText[] = "请先选择起点！";

QWidget* Child(QWidget& window, const char* name) {
    return window.findChild<QWidget*>(QLatin1String(name));
}

} // namespace

class MainWindowLayoutTest : public QObject {
    Q_OBJECT

    std::unique_ptr<MainWindowRig> rig_;
    std::unique_ptr<MainWindow> window_;

    // A fresh window, shown and active, as the program opens it.
    bool openWindow() {
        rig_ = std::make_unique<MainWindowRig>();
        window_ = std::make_unique<MainWindow>(rig_->services());
        window_->show();
        window_->activateWindow();
        return QTest::qWaitForWindowActive(window_.get());
    }

    // Nothing the user could see or start has happened.
    void verifyNothingRan() const {
        QCOMPARE(rig_->openDialog.shows, 0);
        QVERIFY(rig_->folderPicker.prompts.empty());
        QVERIFY(rig_->launcher.started.empty());
        QVERIFY(rig_->messages.shown.empty());
        QVERIFY(TopLevel("FrmST") == nullptr);
        QVERIFY(TopLevel("FrmA") == nullptr);
    }

private slots:
    void cleanup() {
        window_.reset();
        CloseSecondaryWindows();
        rig_.reset();
    }

    void windowItself() {
        QVERIFY(openWindow());
        QCOMPARE(window_->objectName(), QStringLiteral("Frm"));
        QCOMPARE(window_->windowTitle(), QStringLiteral("QuaveraV" QUAVERA_VERSION));
        QCOMPARE(window_->size(), QSize(447, 234));
        QCOMPARE(window_->minimumSize(), QSize(447, 234));
        QCOMPARE(window_->maximumSize(), QSize(447, 234));
        const Qt::WindowFlags flags = window_->windowFlags();
        QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
        QCOMPARE(window_->windowType(), Qt::Window); // a normal window: it shows in the taskbar
        QVERIFY(!window_->windowIcon().isNull());
        const QPoint screenCentre = window_->screen()->availableGeometry().center();
        // Centred as a whole, with the frame the window system adds around it.
        const int frameAllowance = window_->frameGeometry().width() - window_->width() +
                                   window_->frameGeometry().height() - window_->height() + 2;
        QVERIFY2((window_->frameGeometry().center() - screenCentre).manhattanLength() <=
                     frameAllowance,
                 "the window opens in the centre of the screen");
    }

    void controls_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("parentName");
        QTest::addColumn<QString>("className");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QRect>("geometry");

        const auto row = [](const char* name, const char* parent, const char* className,
                            const char* text, QRect geometry) {
            QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(parent)
                                << QString::fromLatin1(className) << QString::fromUtf8(text)
                                << geometry;
        };
        // The labels are as tall as a line of the CJK face, and the status label and
        // 剪切其他格式？ as tall as their two lines, centred on their places.
        row("Frame2", "Frm", "QGroupBox", "", {8, 0, 433, 81});
        row("Label1", "Frame2", "QLabel", "请选择MP3文件：", {8, 24, 97, 18});
        row("txtSource", "Frame2", "QLineEdit", "", {96, 16, 249, 25});
        row("cmdBrowseS", "Frame2", "quavera::WrappingButton", "浏览", {352, 16, 73, 25});
        row("Line1", "Frame2", "QFrame", "", {0, 43, 432, 1});
        row("Label2", "Frame2", "QLabel", "请选择存放的文件夹：", {8, 56, 129, 18});
        row("txtDestdir", "Frame2", "QLineEdit", "", {128, 48, 161, 25});
        row("cmdBrowseD", "Frame2", "quavera::WrappingButton", "浏览", {296, 48, 57, 25});
        row("cmdO", "Frame2", "quavera::WrappingButton", "打开文件夹", {352, 48, 73, 25});
        row("MDplay", "Frm", "quavera::testing::FakeMainPlayer", "", {8, 80, 432, 93});
        row("cmdQ", "Frm", "quavera::WrappingButton", "开始(&S)", {8, 176, 73, 33});
        row("Command1", "Frm", "quavera::WrappingButton", "结束(&P)", {80, 176, 65, 33});
        row("lb", "Frm", "QLabel", "", {160, 172, 81, 42});
        row("Command2", "Frm", "quavera::WrappingButton", "试听(&T)", {264, 176, 57, 33});
        row("Command4", "Frm", "quavera::WrappingButton", "剪切其他格式？", {320, 176, 65, 38});
        row("Command3", "Frm", "quavera::WrappingButton", "关于(&A)", {384, 176, 57, 33});
        row("lbzdf", "Frm", "QLabel", "总时间：", {8, 216, 49, 18});
        row("lbz", "Frm", "QLabel", "", {64, 216, 73, 18});
        row("Label3", "Frm", "QLabel", "开始时间：", {144, 213, 60, 18});
        row("lbk", "Frm", "QLabel", "", {200, 216, 57, 18});
        row("Label5", "Frm", "QLabel", "结束时间：", {264, 216, 65, 25});
        row("lbj", "Frm", "QLabel", "", {328, 216, 57, 18});
        row("Frame1", "Frm", "QGroupBox", "源分割文件大小", {8, 248, 233, 57});
        row("txtSplit0", "Frame1", "QLineEdit", "0", {24, 24, 57, 25});
        row("txtSplit1", "Frame1", "QLineEdit", "0", {88, 24, 57, 25});
        row("txtSplit2", "Frame1", "QLineEdit", "0", {152, 24, 57, 25});
    }

    void controls() {
        QFETCH(QString, name);
        QFETCH(QString, parentName);
        QFETCH(QString, className);
        QFETCH(QString, text);
        QFETCH(QRect, geometry);
        QVERIFY(openWindow());

        QWidget* control = window_->findChild<QWidget*>(name);
        QVERIFY2(control != nullptr, qPrintable(name));
        QCOMPARE(QString::fromLatin1(control->metaObject()->className()), className);
        QCOMPARE(control->parentWidget()->objectName(), parentName);
        QCOMPARE(control->geometry(), geometry);
        if (auto* button = qobject_cast<QAbstractButton*>(control)) {
            QCOMPARE(button->text(), text);
        } else if (auto* label = qobject_cast<QLabel*>(control)) {
            QCOMPARE(label->text(), text);
        } else if (auto* box = qobject_cast<QLineEdit*>(control)) {
            QCOMPARE(box->text(), text);
        } else if (auto* frame = qobject_cast<QGroupBox*>(control)) {
            QCOMPARE(frame->title(), text);
        }
    }

    void separatorLineIsDrawnInItsColour() {
        QVERIFY(openWindow());
        QWidget* frame2 = Child(*window_, "Frame2");
        const QImage image = window_->grab().toImage();
        const QPoint onLine = frame2->mapTo(window_.get(), QPoint(200, 43));
        const QPoint belowLine = frame2->mapTo(window_.get(), QPoint(200, 44));
        const qreal ratio = image.devicePixelRatio();
        QCOMPARE(image.pixelColor(onLine * ratio), QColor(192, 192, 255));
        QVERIFY(image.pixelColor(belowLine * ratio) != QColor(192, 192, 255));
    }

    void fontsOfStatusAndAbout_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<qreal>("points");
        QTest::newRow("lb") << QStringLiteral("lb") << 10.5;
        QTest::newRow("Command3") << QStringLiteral("Command3") << 9.0;
    }

    void fontsOfStatusAndAbout() {
        QFETCH(QString, name);
        QFETCH(qreal, points);
        QVERIFY(openWindow());
        const QFont font = window_->findChild<QWidget*>(name)->font();
        QCOMPARE(font.families().value(0), QStringLiteral("宋体"));
        QVERIFY(font.bold());
        QCOMPARE(font.pointSizeF(), points);
        // Other texts keep the window's font.
        QVERIFY(!Child(*window_, "Command2")->font().bold());
    }

    void sizeFieldsNeverShow() {
        QVERIFY(openWindow());
        QWidget* frame1 = Child(*window_, "Frame1");
        QVERIFY(!frame1->isVisible());
        QVERIFY(frame1->geometry().top() >= window_->height());
        for (const char* name : {"txtSplit0", "txtSplit1", "txtSplit2"}) {
            QVERIFY(!Child(*window_, name)->isVisible());
        }
    }

    void sizeFieldsKeepEightCharacters() {
        QVERIFY(openWindow());
        auto* field = qobject_cast<QLineEdit*>(Child(*window_, "txtSplit2"));
        QCOMPARE(field->maxLength(), 8);
        field->selectAll();
        QTest::keyClicks(field, QStringLiteral("1234567890"));
        QCOMPARE(field->text(), QStringLiteral("12345678"));
        // What the user typed is what the cut reads.
        QCOMPARE(window_->marks().splitFields.text(2), std::string("12345678"));
    }

    void pathBoxesTakeNoTyping() {
        QVERIFY(openWindow());
        for (const char* name : {"txtSource", "txtDestdir"}) {
            auto* box = qobject_cast<QLineEdit*>(Child(*window_, name));
            QVERIFY(!box->isEnabled());
            QTest::mouseClick(box, Qt::LeftButton);
            QTest::keyClicks(box, QStringLiteral("abc"));
            QCOMPARE(box->text(), QString());
            QVERIFY(!box->hasFocus());
        }
    }

    void focusStartsOnSourceBrowseAndTabVisitsEveryButton() {
        QVERIFY(openWindow());
        QCOMPARE(QApplication::focusWidget(), Child(*window_, "cmdBrowseS"));
        QStringList visited;
        for (int press = 0; press < 9; ++press) {
            QTest::keyClick(window_->windowHandle(), Qt::Key_Tab);
            visited << QApplication::focusWidget()->objectName();
        }
        // As on screen: 剪切其他格式？ stands left of 关于.
        QCOMPARE(visited, QStringList({"cmdBrowseD", "cmdO", "MDplay", "cmdQ", "Command1",
                                       "Command2", "Command4", "Command3", "cmdBrowseS"}));
        QTest::keyClick(window_->windowHandle(), Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("Command3"));
    }

    void enterRightAfterOpeningChoosesTheSource() {
        QVERIFY(openWindow());
        QTest::keyClick(window_->windowHandle(), Qt::Key_Return);
        QCOMPARE(rig_->openDialog.shows, 1);
        QVERIFY(rig_->messages.shown.empty()); // End did not run
        // The default frame is drawn on the button Enter clicked, not on End.
        QVERIFY(window_->findChild<QPushButton*>("cmdBrowseS")->isDefault());
        QVERIFY(!window_->findChild<QPushButton*>("Command1")->isDefault());
    }

    void enterClicksTheFocusedButtonElseEnd_data() {
        QTest::addColumn<QString>("focused");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("expectedMessage");
        QTest::addColumn<int>("expectedPickers");
        // Start with no file says "no file"; End with no file says "no start".
        QTest::newRow("cmdQ") << "cmdQ" << int(Qt::Key_Return) << kNoFileText << 0;
        QTest::newRow("Command1") << "Command1" << int(Qt::Key_Return) << kNoStartText << 0;
        QTest::newRow("player") << "MDplay" << int(Qt::Key_Return) << kNoStartText << 0;
        QTest::newRow("keypad on player") << "MDplay" << int(Qt::Key_Enter) << kNoStartText << 0;
        QTest::newRow("cmdBrowseD") << "cmdBrowseD" << int(Qt::Key_Return) << "" << 1;
    }

    void enterClicksTheFocusedButtonElseEnd() {
        QFETCH(QString, focused);
        QFETCH(int, key);
        QFETCH(QString, expectedMessage);
        QFETCH(int, expectedPickers);
        QVERIFY(openWindow());
        QWidget* target = window_->findChild<QWidget*>(focused);
        target->setFocus(Qt::TabFocusReason);
        QCOMPARE(QApplication::focusWidget(), target);
        auto* enterTarget = qobject_cast<QPushButton*>(target);
        if (enterTarget == nullptr)
            enterTarget = window_->findChild<QPushButton*>("Command1");
        QVERIFY(enterTarget->isDefault());

        const Qt::KeyboardModifiers modifiers =
            key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier;
        QTest::keyClick(window_->windowHandle(), Qt::Key(key), modifiers);

        QCOMPARE(int(rig_->folderPicker.prompts.size()), expectedPickers);
        QCOMPARE(rig_->openDialog.shows, 0);
        if (expectedMessage.isEmpty()) {
            QVERIFY(rig_->messages.shown.empty());
        } else {
            QCOMPARE(int(rig_->messages.shown.size()), 1);
            QCOMPARE(QString::fromStdString(rig_->messages.shown.front().text), expectedMessage);
        }
    }

    void accessKeys_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("expectedMessage");
        QTest::addColumn<QString>("expectedWindow");
        QTest::newRow("Alt+S starts") << int(Qt::Key_S) << kNoFileText << "";
        QTest::newRow("Alt+P ends") << int(Qt::Key_P) << kNoStartText << "";
        QTest::newRow("Alt+T auditions") << int(Qt::Key_T) << ""
                                         << "FrmST";
        QTest::newRow("Alt+A shows About") << int(Qt::Key_A) << ""
                                           << "FrmA";
    }

    void accessKeys() {
        QFETCH(int, key);
        QFETCH(QString, expectedMessage);
        QFETCH(QString, expectedWindow);
        QVERIFY(openWindow());
        // An access key works wherever the focus is; the button clicks a moment later.
        Child(*window_, "cmdBrowseD")->setFocus();
        QTest::keyClick(window_->windowHandle(), Qt::Key(key), Qt::AltModifier);
        if (expectedMessage.isEmpty()) {
            QTRY_VERIFY(TopLevel(expectedWindow.toLatin1().constData()) != nullptr);
            QVERIFY(rig_->messages.shown.empty());
        } else {
            QTRY_COMPARE(int(rig_->messages.shown.size()), 1);
            QCOMPARE(QString::fromStdString(rig_->messages.shown.front().text), expectedMessage);
        }
        QCOMPARE(rig_->openDialog.shows, 0);
        QVERIFY(rig_->folderPicker.prompts.empty());
    }

    void noOtherAccessKeys() {
        QVERIFY(openWindow());
        for (int key = Qt::Key_A; key <= Qt::Key_Z; ++key) {
            if (key == Qt::Key_S || key == Qt::Key_P || key == Qt::Key_T || key == Qt::Key_A) {
                continue;
            }
            QTest::keyClick(window_->windowHandle(), Qt::Key(key), Qt::AltModifier);
        }
        // Alt+S last: once its click has come through, any other would have too.
        QTest::keyClick(window_->windowHandle(), Qt::Key_S, Qt::AltModifier);
        QTRY_COMPARE(int(rig_->messages.shown.size()), 1);
        QCOMPARE(QString::fromStdString(rig_->messages.shown.front().text),
                 QString::fromUtf8(kNoFileText));
        rig_->messages.shown.clear();
        verifyNothingRan();
    }

    void timerRefreshesTheTotalTimeEverySecond() {
        QVERIFY(openWindow());
        auto* timer = window_->findChild<QTimer*>(QStringLiteral("Timer1"));
        QVERIFY(timer != nullptr);
        QVERIFY(timer->isActive());
        QCOMPARE(timer->interval(), 1000);

        FakeMainPlayer& player = rig_->mainPlayer();
        player.url = "/music/song.mp3";
        player.durationSeconds = 65.4;
        auto* lbz = qobject_cast<QLabel*>(Child(*window_, "lbz"));
        QCOMPARE(lbz->text(), QString()); // nothing until the next tick
        QTRY_COMPARE(lbz->text(), QStringLiteral(" 65秒"));
        player.durationSeconds = 12.5;
        QTRY_COMPARE(lbz->text(), QStringLiteral(" 12秒"));
    }

    void closingStopsTheTimer() {
        QVERIFY(openWindow());
        auto* timer = window_->findChild<QTimer*>(QStringLiteral("Timer1"));
        QVERIFY(window_->close());
        QVERIFY(!window_->isVisible());
        QVERIFY(!timer->isActive());
    }
};

QTEST_MAIN(MainWindowLayoutTest)
#include "tst_MainWindowLayout.moc"
