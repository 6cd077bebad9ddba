#include "SecondaryFakes.h"
#include "core/CutState.h"
#include "ui/AboutWindow.h"
#include "ui/PreviewWindow.h"

#include <QApplication>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <functional>

using namespace quavera;
using namespace quavera::testing;

// The program ends when its last window closes, whichever window that is. The preview and About
// windows are tool windows, which Qt by default leaves out of that count.
class LastWindowTest : public QObject {
    Q_OBJECT

private slots:
    void secondaryWindowOutlivesTheMainWindow_data();
    void secondaryWindowOutlivesTheMainWindow();
};

void LastWindowTest::secondaryWindowOutlivesTheMainWindow_data() {
    QTest::addColumn<QString>("which");
    QTest::newRow("preview") << "preview";
    QTest::newRow("about") << "about";
}

void LastWindowTest::secondaryWindowOutlivesTheMainWindow() {
    QFETCH(QString, which);
    RecordingPlayerFactory players;
    RecordingLauncher launcher;
    AnsweringMessageBoxes messages;
    ProgramState program;

    auto* mainWindow = new QWidget;
    mainWindow->setAttribute(Qt::WA_DeleteOnClose);
    mainWindow->show();
    QPointer<QWidget> secondary;
    if (which == "preview") {
        secondary = new PreviewWindow(players.factory(), launcher, messages, program,
                                      [] { return std::string(); });
    } else {
        secondary = new AboutWindow(launcher, messages);
    }
    secondary->show();
    QVERIFY(QTest::qWaitForWindowExposed(secondary));

    QSignalSpy lastClosed(qApp, &QGuiApplication::lastWindowClosed);
    QSignalSpy aboutToQuit(qApp, &QCoreApplication::aboutToQuit);
    bool secondaryOpenAfterMainClosed = false;
    qsizetype lastClosedWhileSecondaryOpen = -1;
    qsizetype quitWhileSecondaryOpen = -1;

    // Close the main window from inside the running program, look a moment later, then close
    // the secondary window. A program that ended with the main window never gets to look.
    QTimer::singleShot(0, mainWindow, [mainWindow] { mainWindow->close(); });
    QTimer::singleShot(100, qApp, [&] {
        secondaryOpenAfterMainClosed = !secondary.isNull() && secondary->isVisible();
        lastClosedWhileSecondaryOpen = lastClosed.count();
        quitWhileSecondaryOpen = aboutToQuit.count();
        if (secondary) {
            secondary->close();
        }
    });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, qApp, [] { QCoreApplication::exit(2); });
    watchdog.start(10000);

    const int exitCode = QApplication::exec();
    watchdog.stop();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    QCOMPARE(exitCode, 0); // ended by closing the last window, not by the watchdog
    QVERIFY(secondaryOpenAfterMainClosed);
    QCOMPARE(lastClosedWhileSecondaryOpen, 0);
    QCOMPARE(quitWhileSecondaryOpen, 0);
    QCOMPARE(lastClosed.count(), 1);
    QCOMPARE(aboutToQuit.count(), 1);
    QVERIFY(secondary.isNull()); // deleted on close
}

QTEST_MAIN(LastWindowTest)
#include "tst_last_window.moc"
