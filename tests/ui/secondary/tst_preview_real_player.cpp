#include "SecondaryFakes.h"
#include "adapters/QtPlayerView.h"
#include "core/CutState.h"
#include "fakes/GeneratedMp3.h"
#include "ui/PreviewWindow.h"

#include <QFile>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace quavera;
using namespace quavera::testing;

// The preview window with the real player, playing a piece we make here: the buttons must work
// while GStreamer holds the file, and the window must come down cleanly in the middle of playing.
class PreviewRealPlayerTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void buttonsWorkWhilePlaying_data();
    void buttonsWorkWhilePlaying();

private:
    QTemporaryDir scratch_;
    RecordingLauncher launcher_;
    AnsweringMessageBoxes messages_;
    ProgramState program_;
    QPointer<PreviewWindow> window_;
};

void PreviewRealPlayerTest::init() {
    QVERIFY(scratch_.isValid());
    program_ = ProgramState();
}

void PreviewRealPlayerTest::cleanup() {
    delete window_.data();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void PreviewRealPlayerTest::buttonsWorkWhilePlaying_data() {
    QTest::addColumn<QString>("buttonName");
    QTest::addColumn<bool>("fileKept");
    QTest::newRow("满意！关闭") << "Command1" << true;
    QTest::newRow("不满意，删除！") << "Command2" << false;
}

void PreviewRealPlayerTest::buttonsWorkWhilePlaying() {
    QFETCH(QString, buttonName);
    QFETCH(bool, fileKept);
    const QString piece = scratch_.filePath("[铃声]1" + buttonName + " tone.mp3");
    {
        QFile file(piece);
        QVERIFY(file.open(QIODevice::WriteOnly));
        const int tenSeconds = 10 * 44100 / 1152;
        QVERIFY(file.write(GeneratedMp3Frames(tenSeconds)) > 0);
    }
    window_ = new PreviewWindow(makeQtPlayerFactory(), launcher_, messages_, program_,
                                [] { return std::string(); });
    window_->show();
    QVERIFY(window_->MDst().setURL(piece.toStdString()));
    program_.PreviewFile = piece.toStdString();
    program_.PreviewIdentity = IdentityOf(piece.toStdString());
    QTRY_VERIFY_WITH_TIMEOUT(window_->MDst().currentPosition().value_or(0.0) > 0.0, 10000);

    QTest::mouseClick(window_->findChild<QPushButton*>(buttonName), Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    QVERIFY(window_.isNull());
    QCOMPARE(QFile::exists(piece), fileKept);
    QVERIFY(messages_.shown.empty());
}

QTEST_MAIN(PreviewRealPlayerTest)
#include "tst_preview_real_player.moc"
