#include "SecondaryFakes.h"
#include "core/CutState.h"
#include "ui/PreviewWindow.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QKeySequence>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <memory>

using namespace quavera;
using namespace quavera::testing;

namespace {

bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class PreviewWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void windowIsAResizableToolWindowWithCloseOnly();
    void controlsSitWhereTheLayoutPutsThem_data();
    void controlsSitWhereTheLayoutPutsThem();
    void controlsStayPutWhenTheWindowIsResized();

    void keepingLeavesTheFileAndEndsThePlayer_data();
    void keepingLeavesTheFileAndEndsThePlayer();
    void deletingReleasesThePlayerBeforeTheFileGoes();
    void deletingAFileThatIsAlreadyGoneStillCloses();
    void deletingNeverTouchesAPathRelativeToTheWorkingFolder();
    void deletingRefusesAPieceReplacedSinceTheCut_data();
    void deletingRefusesAPieceReplacedSinceTheCut();

    void openFolderReadsTheDestinationAtTheClick();
    void openFolderThatFailsSaysSoAndStaysOpen();
    void enterPressesTheFocusedButtonOnly();

private:
    PreviewWindow* makeWindow();
    // The preview shown on a piece the last cut wrote, as 试听 opens it.
    PreviewWindow* showWrittenPiece(const QString& piece);
    QPushButton* button(const char* name) const;
    void clickAndSettle(const char* name);

    std::unique_ptr<QTemporaryDir> scratch_;
    std::unique_ptr<RecordingPlayerFactory> players_;
    RecordingLauncher launcher_;
    AnsweringMessageBoxes messages_;
    ProgramState program_;
    std::string destination_;
    QPointer<PreviewWindow> window_;
};

void PreviewWindowTest::init() {
    scratch_ = std::make_unique<QTemporaryDir>();
    QVERIFY(scratch_->isValid());
    players_ = std::make_unique<RecordingPlayerFactory>();
    launcher_ = RecordingLauncher();
    messages_ = AnsweringMessageBoxes();
    program_ = ProgramState();
    destination_ = scratch_->path().toStdString() + "/";
}

void PreviewWindowTest::cleanup() {
    delete window_.data();
    // The players log into the factory; let closed windows finish dying while it still exists.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    players_.reset();
    scratch_.reset();
}

PreviewWindow* PreviewWindowTest::makeWindow() {
    window_ = new PreviewWindow(players_->factory(), launcher_, messages_, program_,
                                [this] { return destination_; });
    return window_;
}

PreviewWindow* PreviewWindowTest::showWrittenPiece(const QString& piece) {
    PreviewWindow* window = makeWindow();
    window->show();
    window->MDst().setURL(piece.toStdString());
    program_.PreviewFile = piece.toStdString();
    program_.PreviewIdentity = IdentityOf(piece.toStdString());
    return window;
}

QPushButton* PreviewWindowTest::button(const char* name) const {
    return window_->findChild<QPushButton*>(QString::fromLatin1(name));
}

void PreviewWindowTest::clickAndSettle(const char* name) {
    QPushButton* target = button(name);
    QVERIFY(target != nullptr);
    QTest::mouseClick(target, Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void PreviewWindowTest::windowIsAResizableToolWindowWithCloseOnly() {
    PreviewWindow* window = makeWindow();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));

    QCOMPARE(window->objectName(), QString("FrmST"));
    QCOMPARE(window->windowTitle(), QString("试听--Quavera"));
    QCOMPARE(window->size(), QSize(312, 250));
    QVERIFY(window->isWindow());
    QVERIFY(window->parentWidget() == nullptr);
    QCOMPARE(window->windowType(), Qt::Tool);
    const Qt::WindowFlags flags = window->windowFlags();
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(flags.testFlag(Qt::CustomizeWindowHint));
    QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(window->minimumSize() != window->maximumSize());
    QVERIFY(window->testAttribute(Qt::WA_DeleteOnClose));
    QVERIFY(window->testAttribute(Qt::WA_QuitOnClose));
    QVERIFY(!window->windowIcon().isNull());

    // Centred on the screen, give or take the window frame, which is not known before showing.
    const QPoint offCentre =
        window->frameGeometry().center() - window->screen()->availableGeometry().center();
    QVERIFY2(offCentre.manhattanLength() <= 8,
             qPrintable(QString::number(offCentre.x()) + "," + QString::number(offCentre.y())));
}

void PreviewWindowTest::controlsSitWhereTheLayoutPutsThem_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("place");
    QTest::addColumn<QString>("text");
    QTest::newRow("MDst") << "MDst" << QRect(0, 0, 312, 213) << QString();
    QTest::newRow("Command1") << "Command1" << QRect(8, 216, 105, 33) << "满意！关闭";
    QTest::newRow("Command2") << "Command2" << QRect(112, 216, 113, 33) << "不满意，删除！";
    QTest::newRow("Command3") << "Command3" << QRect(224, 216, 81, 33) << "打开文件夹";
}

void PreviewWindowTest::controlsSitWhereTheLayoutPutsThem() {
    QFETCH(QString, name);
    QFETCH(QRect, place);
    QFETCH(QString, text);
    PreviewWindow* window = makeWindow();
    auto* control = window->findChild<QWidget*>(name);
    QVERIFY(control != nullptr);
    QCOMPARE(control->parentWidget(), window);
    QCOMPARE(control->geometry(), place);
    if (auto* asButton = qobject_cast<QPushButton*>(control)) {
        QCOMPARE(asButton->text(), text);
        QVERIFY(QKeySequence::mnemonic(asButton->text()).isEmpty()); // no access key
    } else {
        QCOMPARE(control, players_->last);
    }
}

void PreviewWindowTest::controlsStayPutWhenTheWindowIsResized() {
    PreviewWindow* window = makeWindow();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    const QList<QWidget*> controls =
        window->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    QCOMPARE(controls.size(), 4);
    QList<QRect> before;
    for (QWidget* control : controls) {
        before.append(control->geometry());
    }
    for (const QSize size : {QSize(600, 450), QSize(150, 100)}) {
        window->resize(size);
        QCoreApplication::processEvents();
        for (int i = 0; i < controls.size(); ++i) {
            QCOMPARE(controls[i]->geometry(), before[i]);
        }
    }
}

void PreviewWindowTest::keepingLeavesTheFileAndEndsThePlayer_data() {
    QTest::addColumn<bool>("byTitleBar");
    QTest::newRow("满意！关闭") << false;
    QTest::newRow("close button of the title bar") << true;
}

void PreviewWindowTest::keepingLeavesTheFileAndEndsThePlayer() {
    QFETCH(bool, byTitleBar);
    const QString piece = scratch_->filePath("[铃声]1song.mp3");
    QVERIFY(WriteFile(piece, "piece"));
    PreviewWindow* window = makeWindow();
    window->show();
    window->MDst().setURL(piece.toStdString());
    program_.PreviewFile = piece.toStdString();

    if (byTitleBar) {
        QVERIFY(window->close());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    } else {
        clickAndSettle("Command1");
    }

    QVERIFY(window_.isNull());
    QVERIFY(QFile::exists(piece));
    const EventLog expected{"playing " + piece, "player destroyed"};
    QCOMPARE(players_->log, expected);
    QCOMPARE(program_.PreviewFile, piece.toStdString());
    QVERIFY(messages_.shown.empty());
}

void PreviewWindowTest::deletingReleasesThePlayerBeforeTheFileGoes() {
    const QString piece = scratch_->filePath("[铃声]1my song.mp3");
    QVERIFY(WriteFile(piece, QByteArray(4096, '\x55')));
    showWrittenPiece(piece);

    clickAndSettle("Command2");

    QVERIFY(!QFile::exists(piece));
    QVERIFY(window_.isNull());
    const EventLog expected{"playing " + piece, "released existing file", "player destroyed"};
    QCOMPARE(players_->log, expected);
    QCOMPARE(program_.PreviewFile, piece.toStdString());
    QVERIFY(messages_.shown.empty());
    QVERIFY(launcher_.starts.empty());
}

void PreviewWindowTest::deletingAFileThatIsAlreadyGoneStillCloses() {
    const QString piece = scratch_->filePath("[铃声]1gone.mp3");
    QVERIFY(WriteFile(piece, "x"));
    PreviewWindow* window = makeWindow();
    window->show();
    window->MDst().setURL(piece.toStdString());
    program_.PreviewFile = piece.toStdString();
    QVERIFY(QFile::remove(piece));

    clickAndSettle("Command2");

    QVERIFY(window_.isNull());
    QVERIFY(messages_.shown.empty());
    QCOMPARE(players_->log.value(1), QString("released nothing"));
}

void PreviewWindowTest::deletingNeverTouchesAPathRelativeToTheWorkingFolder() {
    // Before any cut the piece's name has no folder; a file of that name in whatever folder the
    // program was started from is not ours to delete.
    const QString bareName = "[铃声]1";
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(scratch_->path()));
    QVERIFY(WriteFile(bareName, "someone else's file"));
    PreviewWindow* window = makeWindow();
    window->show();
    window->MDst().setURL(bareName.toStdString());
    program_.PreviewFile = bareName.toStdString();

    clickAndSettle("Command2");

    const bool survived = QFile::exists(scratch_->filePath(bareName));
    QVERIFY(QDir::setCurrent(previous));
    QVERIFY(survived);
    QVERIFY(window_.isNull());
    QVERIFY(messages_.shown.empty());
}

void PreviewWindowTest::deletingRefusesAPieceReplacedSinceTheCut_data() {
    QTest::addColumn<bool>("renamedOver"); // a new file put in its place, or the old one rewritten
    QTest::newRow("another cut renamed a new piece onto the name") << true;
    QTest::newRow("the piece rewritten in place") << false;
}

void PreviewWindowTest::deletingRefusesAPieceReplacedSinceTheCut() {
    QFETCH(bool, renamedOver);
    const QString piece = scratch_->filePath("[铃声]1歌.mp3");
    QVERIFY(WriteFile(piece, QByteArray(4096, '\x55')));
    showWrittenPiece(piece);

    const QByteArray newPiece(4000, '\x66');
    if (renamedOver) {
        const QString other = scratch_->filePath("new.tmp");
        QVERIFY(WriteFile(other, newPiece));
        QVERIFY(::rename(QFile::encodeName(other).constData(),
                         QFile::encodeName(piece).constData()) == 0);
    } else {
        QVERIFY(WriteFile(piece, newPiece));
    }
    clickAndSettle("Command2");

    QFile kept(piece);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), newPiece);
    QVERIFY(window_.isNull());
    QCOMPARE(messages_.shown.size(), 1u);
    QCOMPARE(messages_.shown[0].text,
             "铃声文件在剪切之后已被替换或修改，未删除：\n" + piece.toStdString());
    QCOMPARE(messages_.shown[0].icon, MessageIcon::Warning);
}

void PreviewWindowTest::openFolderReadsTheDestinationAtTheClick() {
    const QString first = scratch_->filePath("first");
    const QString second = scratch_->filePath("second folder");
    QVERIFY(QDir().mkpath(first) && QDir().mkpath(second));
    PreviewWindow* window = makeWindow();
    window->show();
    window->MDst().setURL("/somewhere/[铃声]1a.mp3");

    destination_ = first.toStdString() + "/";
    clickAndSettle("Command3");
    destination_ = second.toStdString() + "/";
    clickAndSettle("Command3");
    destination_.clear(); // the main window is gone
    clickAndSettle("Command3");

    QCOMPARE(launcher_.starts.size(), 3u);
    QCOMPARE(launcher_.starts[0].program, std::string("xdg-open"));
    QCOMPARE(launcher_.starts[0].argument, first.toStdString() + "/");
    QCOMPARE(launcher_.starts[1].argument, second.toStdString() + "/");
    QCOMPARE(launcher_.starts[2].argument, QDir::homePath().toStdString());
    QVERIFY(!window_.isNull());
    QVERIFY(window->isVisible());
    // Playback goes on: the player was never told to let go.
    QCOMPARE(players_->log, EventLog{"playing /somewhere/[铃声]1a.mp3"});
    QVERIFY(messages_.shown.empty());
}

void PreviewWindowTest::openFolderThatFailsSaysSoAndStaysOpen() {
    launcher_.succeeds = false;
    PreviewWindow* window = makeWindow();
    window->show();
    clickAndSettle("Command3");
    QCOMPARE(launcher_.starts.size(), 1u);
    QCOMPARE(messages_.shown.size(), 1u);
    QCOMPARE(messages_.shown[0].text, "无法打开文件夹：" + destination_);
    QCOMPARE(messages_.shown[0].title, std::string("错误"));
    QVERIFY(!window_.isNull());
    QVERIFY(window->isVisible());
}

void PreviewWindowTest::enterPressesTheFocusedButtonOnly() {
    PreviewWindow* window = makeWindow();
    window->show();
    QApplication::setActiveWindow(window);
    QVERIFY(QTest::qWaitForWindowActive(window));

    // Without a focused button Enter does nothing: the window has no default button.
    if (QWidget* focused = window->focusWidget()) {
        focused->clearFocus();
    }
    QTest::keyClick(window, Qt::Key_Return);
    QVERIFY(launcher_.starts.empty());
    QVERIFY(window->isVisible());

    button("Command3")->setFocus();
    QTest::keyClick(button("Command3"), Qt::Key_Return);
    QCOMPARE(launcher_.starts.size(), 1u);
    QVERIFY(window->isVisible());
}

QTEST_MAIN(PreviewWindowTest)
#include "tst_preview_window.moc"
