// The main window while a long cut runs: the cut yields to the event loop before every block,
// so clicks, keys, timer ticks and a close all arrive in the middle of it.
#include "MainWindowFakes.h"
#include "fakes/GeneratedMp3.h"
#include "ui/MainWindow.h"
#include "ui/main/LongCut.h"
#include "ui/main/PressEveryCommand.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

using namespace quavera;
using namespace quavera::testing;

class MainWindowCutTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> sourceDir_;
    std::unique_ptr<QTemporaryDir> destDir_;
    std::unique_ptr<MainWindowRig> rig_;
    std::unique_ptr<MainWindow> window_;
    QByteArray source_;

    QPushButton* button(const char* name) const {
        return window_->findChild<QPushButton*>(QLatin1String(name));
    }
    QString labelText(const char* name) const {
        return window_->findChild<QLabel*>(QLatin1String(name))->text();
    }
    QString keptPart() const {
        return destDir_->filePath(QStringLiteral("[铃声]1") + QLatin1String(kLongSourceName));
    }

    // A window with a source chosen, a separate destination, and a start mark in frame 2,048;
    // the player stands in frame 18,432, so End cuts from 834 KB to 7,506 KB.
    void prepareCut() {
        rig_ = std::make_unique<MainWindowRig>();
        window_ = std::make_unique<MainWindow>(rig_->services());
        window_->show();
        window_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window_.get()));

        const QString source = sourceDir_->filePath(QLatin1String(kLongSourceName));
        QVERIFY(WriteFileBytes(source, source_));
        rig_->openDialog.answers.push_back(source.toStdString());
        QTest::mouseClick(button("cmdBrowseS"), Qt::LeftButton);
        rig_->folderPicker.answers.push_back(destDir_->path().toStdString());
        QTest::mouseClick(button("cmdBrowseD"), Qt::LeftButton);

        FakeMainPlayer& player = rig_->mainPlayer();
        player.durationSeconds = kLongDuration;
        player.positionSeconds = kLongStartSeconds;
        QTest::mouseClick(button("cmdQ"), Qt::LeftButton);
        player.positionSeconds = kLongEndSeconds;
        QCOMPARE(labelText("lbk"), QStringLiteral(" 54秒"));
    }

    // Runs `during` at the first yield of the cut that a click on End starts.
    void cutWith(const std::function<void()>& during) {
        bool ran = false;
        QTimer::singleShot(0, window_.get(), [&] {
            ran = true;
            during();
        });
        QTest::mouseClick(button("Command1"), Qt::LeftButton);
        QVERIFY2(ran, "the cut yielded to the event loop");
    }

    QStringList destinationFiles() const {
        return QDir(destDir_->path())
            .entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }

private slots:
    void initTestCase() { source_ = GeneratedMp3Bytes(kLongSourceBytes); }
    void init() {
        sourceDir_ = std::make_unique<QTemporaryDir>();
        destDir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(sourceDir_->isValid() && destDir_->isValid());
    }
    void cleanup() {
        window_.reset();
        rig_.reset();
        destDir_.reset();
        sourceDir_.reset();
    }

    void commandsDoNothingDuringACut() {
        prepareCut();
        const int dialogShows = rig_->openDialog.shows;
        const std::size_t pickers = rig_->folderPicker.prompts.size();
        const std::size_t urls = rig_->mainPlayer().urlsSet.size();
        Qt::CursorShape pointer = Qt::ArrowCursor;
        bool fieldsLocked = false;

        cutWith([&] {
            pointer = window_->cursor().shape();
            fieldsLocked =
                window_->findChild<QLineEdit*>(QStringLiteral("txtSplit1"))->isReadOnly();
            rig_->openDialog.answers.push_back("/elsewhere/other.mp3");
            rig_->folderPicker.answers.push_back("/elsewhere");
            rig_->mainPlayer().positionSeconds = 50.0;
            PressEveryCommand(*window_);
            QVERIFY(window_->marks().cutRunning());
        });

        QCOMPARE(pointer, Qt::WaitCursor);
        QVERIFY(fieldsLocked);
        QCOMPARE(window_->cursor().shape(), Qt::ArrowCursor);
        QVERIFY(!window_->findChild<QLineEdit*>(QStringLiteral("txtSplit1"))->isReadOnly());
        QCOMPARE(rig_->openDialog.shows, dialogShows);
        QCOMPARE(rig_->folderPicker.prompts.size(), pickers);
        QVERIFY(rig_->launcher.started.empty());
        QVERIFY(rig_->messages.shown.empty());
        QCOMPARE(rig_->mainPlayer().urlsSet.size(), urls);
        QVERIFY(TopLevel("FrmST") == nullptr);
        QVERIFY(TopLevel("FrmA") == nullptr);
        QCOMPARE(labelText("lbk"), QStringLiteral(" 54秒")); // Start did not take 50 s
        // The one cut ran to its end, from the marks it started with.
        QCOMPARE(labelText("lb"), QStringLiteral("剪切完成，请试听！"));
        QVERIFY(IsPieceOf(ReadFileBytes(keptPart()),
                          source_.mid(kLongCopyFrom, kLongCopyTo - kLongCopyFrom)));
        QCOMPARE(destinationFiles(), QStringList({QFileInfo(keptPart()).fileName()}));
    }

    void timerTicksDuringACut() {
        prepareCut();
        bool tickedDuringCut = false;
        rig_->mainPlayer().onDuration = [&] { tickedDuringCut |= window_->marks().cutRunning(); };
        cutWith([&] {
            rig_->mainPlayer().durationSeconds = 77.0;
            tickedDuringCut = false;
            // Let the next tick fall due while the cut goes on; the cut's own yields run it.
            std::this_thread::sleep_for(std::chrono::milliseconds(1100));
        });
        QVERIFY(tickedDuringCut);
        QCOMPARE(labelText("lbz"), QStringLiteral(" 77秒"));
    }

    void closingDuringACutAbandonsItAndCloses() {
        prepareCut();
        bool closedAtOnce = true;
        cutWith([&] { closedAtOnce = window_->close(); });

        QVERIFY(!closedAtOnce); // the window waited for the cut to stop
        QVERIFY(!window_->isVisible());
        QVERIFY(!QFile::exists(keptPart()));
        QCOMPARE(destinationFiles(), QStringList());
        QVERIFY(labelText("lb") != QStringLiteral("剪切完成，请试听！"));
        QVERIFY(rig_->messages.shown.empty());
        QCOMPARE(window_->cursor().shape(), Qt::ArrowCursor);
        QVERIFY(!window_->findChild<QLineEdit*>(QStringLiteral("txtSplit0"))->isReadOnly());
        QCOMPARE(ReadFileBytes(sourceDir_->filePath(QLatin1String(kLongSourceName))), source_);
    }
};

QTEST_MAIN(MainWindowCutTest)
#include "tst_MainWindowCut.moc"
