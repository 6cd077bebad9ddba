// Every bad input and file-system fault a user can meet around a cut, through the real main
// window: the source must stay as it was, no part file or hidden temporary may be left, the
// window must be usable again, and the user must be told what went wrong.
#include "FaultFixtures.h"
#include "fakes/GeneratedMp3.h"
#include "ui/MainWindow.h"
#include "ui/main/LongCut.h"
#include "ui/main/MainWindowFakes.h"
#include "ui/main/PressEveryCommand.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <cerrno>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <system_error>
#include <vector>

using namespace quavera;
using namespace quavera::testing;

namespace {

constexpr char kFinishedCaption[] = "剪切完成，请试听！";
constexpr char kChooseSourceText[] = "请选择要剪切的MP3文件！";
constexpr char kEndBeforeStartText[] = "结束点必须在开始点之后，请重新选择开始和结束！";
constexpr char kStartFirstText[] = "请先选择起点！";
constexpr char kHint[] = "提示";
constexpr char kError[] = "错误";
constexpr char kProgramTitle[] = "Quavera";

enum class Fault {
    None,
    StartAtTheBeginning,
    SizeFieldText, // the first size field holds the row's text when End is pressed
    EndBeforeStart,
    EndAtTheStart,
    EndWithoutStart,
    SourceDeleted,
    SourceUnreadable,
    SourceReplacedByFolder,
    SourceReplacedByFifo,
    SourceTruncated,
    DestinationReadOnly,
    DestinationDeleted,
    DestinationFull,
    PartFilesExistLonger,
    KeptPartLinksToSource,
    FirstPartLinksToSource,
    KeptPartHardLinkOfSource,
    ClicksDuringCut,
};

// The message a row expects; {source}, {part0}, {part1} and {reason} are filled in by the test.
struct ExpectedMessage {
    QString text;
    QString title;
    MessageIcon icon = MessageIcon::None;
};

} // namespace

// A failed check inside a helper returns from the helper only; this ends the caller as well.
#define CHECKED(call)                                                                              \
    do {                                                                                           \
        call;                                                                                      \
        if (QTest::currentTestFailed())                                                            \
            return;                                                                                \
    } while (false)

Q_DECLARE_METATYPE(Fault)
Q_DECLARE_METATYPE(ExpectedMessage)

class FaultMatrixTest : public QObject {
    Q_OBJECT

    QByteArray source_;
    std::unique_ptr<QTemporaryDir> base_;
    std::unique_ptr<MainWindowRig> rig_;
    std::unique_ptr<MainWindow> window_;
    std::optional<TmpfsMount> mount_;
    int expectedErrno_ = 0; // the system error the fault provokes, for the message's reason

    QPushButton* button(const char* name) const {
        return window_->findChild<QPushButton*>(QLatin1String(name));
    }
    QLineEdit* sizeField(int index) const {
        return window_->findChild<QLineEdit*>(QStringLiteral("txtSplit%1").arg(index));
    }
    QString statusCaption() const {
        return window_->findChild<QLabel*>(QStringLiteral("lb"))->text();
    }
    void click(const char* name) const { QTest::mouseClick(button(name), Qt::LeftButton); }

    QString folder(const QString& name) const { return base_->filePath(name); }
    QString sourcePath() const { return folder(QStringLiteral("src/")) + kLongSourceName; }
    QString destination() const { return folder(QStringLiteral("dest")); }
    QString partPath(int index) const {
        return destination() + QStringLiteral("/[铃声]%1").arg(index) + kLongSourceName;
    }

    void openWindow() {
        rig_ = std::make_unique<MainWindowRig>();
        window_ = std::make_unique<MainWindow>(rig_->services());
        window_->show();
        window_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window_.get()));
        rig_->mainPlayer().durationSeconds = kLongDuration;
    }

    // Writes a fresh source, chooses it and `destFolder` through the dialogs, and marks the
    // start at `startAt` unless that is nothing; the player is left at `endAt`.
    void chooseAndMarkStart(const QString& sourceFile, const QString& destFolder,
                            std::optional<double> startAt, double endAt) {
        QVERIFY(QDir().mkpath(QFileInfo(sourceFile).path()));
        QVERIFY(QDir().mkpath(destFolder));
        QVERIFY(WriteFileBytes(sourceFile, source_));
        rig_->openDialog.answers.push_back(sourceFile.toStdString());
        click("cmdBrowseS");
        rig_->folderPicker.answers.push_back(destFolder.toStdString());
        click("cmdBrowseD");
        QCOMPARE(QString::fromStdString(window_->marks().sourceText), sourceFile);
        if (startAt) {
            // As a user who listened first: the frames are read, and Start takes its offset.
            QTRY_VERIFY(window_->marks().sourceFramesRead());
            rig_->mainPlayer().positionSeconds = *startAt;
            click("cmdQ");
        }
        rig_->mainPlayer().positionSeconds = endAt;
    }

    // Replaces the first size field's text as typing into it would.
    void typeIntoSizeField(const QString& text) {
        QLineEdit* field = sizeField(0);
        field->selectAll();
        QTest::keyClick(field, Qt::Key_Delete);
        QTest::keyClicks(field, text);
        QCOMPARE(QString::fromStdString(window_->marks().splitFields.text(0)), text);
    }

    void verifyWindowIsRestored() const {
        QCOMPARE(window_->cursor().shape(), Qt::ArrowCursor);
        QVERIFY(!window_->marks().cutRunning());
        QVERIFY(!window_->marks().splitFields.locked());
        for (int index = 0; index < SplitFields::kCount; ++index) {
            QVERIFY2(!sizeField(index)->isReadOnly(), qPrintable(QString::number(index)));
        }
    }

    // A normal cut in the same window, from a fresh source into a fresh folder, must succeed.
    void verifyNextCutSucceeds() {
        const std::size_t messages = rig_->messages.shown.size();
        const QString nextSource = folder(QStringLiteral("next src/")) + kLongSourceName;
        const QString nextDestination = folder(QStringLiteral("next dest"));
        CHECKED(
            chooseAndMarkStart(nextSource, nextDestination, kLongStartSeconds, kLongEndSeconds));
        click("Command1");

        QCOMPARE(rig_->messages.shown.size(), messages);
        QCOMPARE(statusCaption(), QString::fromUtf8(kFinishedCaption));
        const QString kept = nextDestination + QStringLiteral("/[铃声]1") + kLongSourceName;
        QVERIFY(IsPieceOf(ReadFileBytes(kept),
                          source_.mid(kLongCopyFrom, kLongCopyTo - kLongCopyFrom)));
        QCOMPARE(SnapshotOf(nextDestination).keys(), QStringList{QFileInfo(kept).fileName()});
        QCOMPARE(ReadFileBytes(nextSource), source_);
        CHECKED(verifyWindowIsRestored());
    }

    QString filled(QString text) const {
        text.replace(QStringLiteral("{source}"), sourcePath());
        text.replace(QStringLiteral("{part0}"), partPath(0));
        text.replace(QStringLiteral("{part1}"), partPath(1));
        text.replace(QStringLiteral("{reason}"),
                     QString::fromStdString(std::generic_category().message(expectedErrno_)));
        return text;
    }

    // Why this machine cannot make the fault, if it cannot. A read-only destination for root
    // is mounted here, before the folder is chosen.
    std::optional<const char*> unmakeableFault(Fault fault) {
        if (fault == Fault::SourceUnreadable && RunningAsRoot()) {
            return "Running as root: permissions do not stop reading the source. The folder, "
                   "FIFO and truncation rows still cover a source that cannot be read.";
        }
        if (fault == Fault::DestinationReadOnly && RunningAsRoot()) {
            // Root writes through any permission bits; a read-only mount stops even root.
            QDir().mkpath(destination());
            mount_.emplace(destination(), "size=1m", true);
            if (!mount_->mounted()) {
                return "Running as root without the right to mount: no way to make the "
                       "destination read-only.";
            }
        }
        return std::nullopt;
    }

    // Sets the fault up after Start and before End.
    void applyFault(Fault fault, const QString& fieldText) {
        switch (fault) {
        case Fault::None:
        case Fault::ClicksDuringCut:
            return;
        case Fault::StartAtTheBeginning:
            rig_->mainPlayer().positionSeconds = 0.0;
            click("cmdQ");
            rig_->mainPlayer().positionSeconds = kLongEndSeconds;
            return;
        case Fault::SizeFieldText:
            CHECKED(typeIntoSizeField(fieldText));
            return;
        case Fault::EndBeforeStart:
            // Start again at the end mark; End then comes at the start mark.
            rig_->mainPlayer().positionSeconds = kLongEndSeconds;
            click("cmdQ");
            rig_->mainPlayer().positionSeconds = kLongStartSeconds;
            return;
        case Fault::EndAtTheStart: // the row's text: seconds after the start mark
            rig_->mainPlayer().positionSeconds = kLongStartSeconds + fieldText.toDouble();
            return;
        case Fault::EndWithoutStart:
            return; // the row never pressed Start
        case Fault::SourceDeleted:
            QVERIFY(QFile::remove(sourcePath()));
            return;
        case Fault::SourceUnreadable:
            QVERIFY(::chmod(QFile::encodeName(sourcePath()).constData(), 0) == 0);
            expectedErrno_ = EACCES;
            return;
        case Fault::SourceReplacedByFolder:
            QVERIFY(QFile::remove(sourcePath()));
            QVERIFY(QDir().mkdir(sourcePath()));
            return;
        case Fault::SourceReplacedByFifo:
            QVERIFY(QFile::remove(sourcePath()));
            QVERIFY(::mkfifo(QFile::encodeName(sourcePath()).constData(), 0600) == 0);
            return;
        case Fault::SourceTruncated:
            QVERIFY(QFile::resize(sourcePath(), kLongSourceBytes / 2));
            return;
        case Fault::DestinationReadOnly:
            if (mount_) {
                expectedErrno_ = EROFS; // mounted read-only by unmakeableFault
            } else {
                QVERIFY(QFile::setPermissions(destination(), QFile::ReadOwner | QFile::ExeOwner));
                expectedErrno_ = EACCES;
            }
            return;
        case Fault::DestinationDeleted:
            QVERIFY(QDir(destination()).removeRecursively());
            return;
        case Fault::DestinationFull:
            // A 2 MiB tmpfs holds the first part (1 MiB) and runs out in the middle of the
            // kept one. Without the right to mount, a 2 MiB file size limit fails the same
            // write (set around the End click, see endUnderFault).
            mount_.emplace(destination(), "size=2m", false);
            expectedErrno_ = mount_->mounted() ? ENOSPC : EFBIG;
            return;
        case Fault::PartFilesExistLonger:
            for (int index = 0; index < 3; ++index) {
                QVERIFY(WriteFileBytes(partPath(index), QByteArray(kLongSourceBytes + 1, 'x')));
            }
            return;
        case Fault::KeptPartLinksToSource:
            QVERIFY(QFile::link(sourcePath(), partPath(1)));
            return;
        case Fault::FirstPartLinksToSource:
            QVERIFY(QFile::link(sourcePath(), partPath(0)));
            return;
        case Fault::KeptPartHardLinkOfSource:
            QVERIFY(::link(QFile::encodeName(sourcePath()).constData(),
                           QFile::encodeName(partPath(1)).constData()) == 0);
            return;
        }
    }

    // Presses End; for a full disk without a tmpfs, under the file size limit.
    void endUnderFault(Fault fault) {
        std::optional<FileSizeLimit> limit;
        if (fault == Fault::DestinationFull && !mount_->mounted()) {
            limit.emplace(2 * 1024 * 1024);
            QVERIFY(limit->active());
        }
        if (fault != Fault::ClicksDuringCut) {
            click("Command1");
            return;
        }
        // Every button, the access keys and Enter while the cut runs: none of them may start
        // anything, and the cut must finish as if nothing had been pressed.
        bool ran = false;
        QTimer::singleShot(0, window_.get(), [&] {
            ran = true;
            rig_->openDialog.answers.push_back(sourcePath().toStdString());
            rig_->folderPicker.answers.push_back(folder(QStringLiteral("src")).toStdString());
            rig_->mainPlayer().positionSeconds = 50.0;
            PressEveryCommand(*window_);
            QVERIFY(window_->marks().cutRunning());
        });
        click("Command1");
        QVERIFY2(ran, "the cut yielded to the event loop");
        QCOMPARE(rig_->openDialog.answers.size(), std::size_t{1});
        QCOMPARE(rig_->folderPicker.answers.size(), std::size_t{1});
        QVERIFY(rig_->launcher.started.empty());
        QVERIFY(TopLevel("FrmST") == nullptr);
        QVERIFY(TopLevel("FrmA") == nullptr);
        rig_->openDialog.answers.clear();
        rig_->folderPicker.answers.clear();
    }

private slots:
    void initTestCase() { source_ = GeneratedMp3Bytes(kLongSourceBytes); }

    void init() {
        base_ = std::make_unique<QTemporaryDir>();
        QVERIFY(base_->isValid());
        expectedErrno_ = 0;
    }

    void cleanup() {
        window_.reset();
        CloseSecondaryWindows();
        rig_.reset();
        mount_.reset();
        // Give back what a row took away, so the folder can be removed.
        QFile::setPermissions(destination(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        ::chmod(QFile::encodeName(sourcePath()).constData(), 0600);
        base_.reset();
    }

    void faultyCut_data() {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<QString>("fieldText");
        QTest::addColumn<bool>("written");
        QTest::addColumn<ExpectedMessage>("message");

        const ExpectedMessage none{};
        const ExpectedMessage chooseSource{kChooseSourceText, kHint, MessageIcon::None};
        const ExpectedMessage endBeforeStart{kEndBeforeStartText, kHint, MessageIcon::None};
        const ExpectedMessage startFirst{kStartFirstText, kProgramTitle, MessageIcon::None};
        const ExpectedMessage unreadable{
            QStringLiteral("剪切失败，无法读取源文件：\n{source}\n{reason}"), kError,
            MessageIcon::Critical};
        const ExpectedMessage tooShort{
            QStringLiteral("剪切失败，源文件比选择时短，可能已被修改：\n{source}"), kError,
            MessageIcon::Critical};
        auto unwritable = [](const char* part) {
            return ExpectedMessage{QStringLiteral("剪切失败，无法写入铃声文件：\n") + part +
                                       QStringLiteral("\n{reason}"),
                                   kError, MessageIcon::Critical};
        };
        auto wouldOverwriteSource = [](const char* part) {
            return ExpectedMessage{QStringLiteral("铃声文件会覆盖源文件本身，未剪切：\n") + part +
                                       QStringLiteral("\n请选择其他存放的文件夹！"),
                                   kHint, MessageIcon::Warning};
        };
        auto row = [](const char* name, Fault fault, bool written, const ExpectedMessage& message,
                      const QString& fieldText = {}) {
            QTest::newRow(name) << fault << fieldText << written << message;
        };

        row("normal cut", Fault::None, true, none);
        row("start at the very beginning", Fault::StartAtTheBeginning, true, none);
        row("size field not a number", Fault::SizeFieldText, false, chooseSource, "abc");
        row("size field blank", Fault::SizeFieldText, false, chooseSource, " ");
        row("size field past 32 bits", Fault::SizeFieldText, false, chooseSource, "99999999");
        row("size field past float", Fault::SizeFieldText, false, chooseSource, "1E+39");
        row("size field negative", Fault::SizeFieldText, false, endBeforeStart, "-5");
        row("end before start", Fault::EndBeforeStart, false, endBeforeStart);
        row("end at the start mark", Fault::EndAtTheStart, false, endBeforeStart, "0");
        row("end two microseconds after the start, 0 bytes", Fault::EndAtTheStart, false,
            endBeforeStart, "0.000002");
        row("end without start", Fault::EndWithoutStart, false, startFirst);
        row("source deleted", Fault::SourceDeleted, false, chooseSource);
        row("source unreadable", Fault::SourceUnreadable, false, unreadable);
        row("source replaced by a folder", Fault::SourceReplacedByFolder, false, chooseSource);
        row("source replaced by a FIFO", Fault::SourceReplacedByFifo, false, chooseSource);
        row("source truncated", Fault::SourceTruncated, false, tooShort);
        row("destination read-only", Fault::DestinationReadOnly, false, unwritable("{part1}"));
        row("destination deleted", Fault::DestinationDeleted, false, chooseSource);
        row("destination full", Fault::DestinationFull, false, unwritable("{part1}"));
        row("part files exist and are longer", Fault::PartFilesExistLonger, true, none);
        row("kept part is a link to the source", Fault::KeptPartLinksToSource, false,
            wouldOverwriteSource("{part1}"));
        row("first part is a link to the source", Fault::FirstPartLinksToSource, false,
            wouldOverwriteSource("{part0}"));
        row("kept part is a hard link of the source", Fault::KeptPartHardLinkOfSource, false,
            wouldOverwriteSource("{part1}"));
        row("every button pressed during the cut", Fault::ClicksDuringCut, true, none);
    }

    void faultyCut() {
        QFETCH(Fault, fault);
        QFETCH(QString, fieldText);
        QFETCH(bool, written);
        QFETCH(ExpectedMessage, message);

        if (const auto reason = unmakeableFault(fault)) {
            QSKIP(*reason);
        }
        CHECKED(openWindow());
        const QString sourceFolder = folder(QStringLiteral("src"));
        const std::optional<double> startAt =
            fault == Fault::EndWithoutStart ? std::nullopt : std::optional(kLongStartSeconds);
        CHECKED(chooseAndMarkStart(sourcePath(), destination(), startAt, kLongEndSeconds));
        CHECKED(applyFault(fault, fieldText));

        const FolderSnapshot sourceBefore = SnapshotOf(sourceFolder);
        const FolderSnapshot destinationBefore = SnapshotOf(destination());
        const bool destinationExisted = QFileInfo::exists(destination());
        CHECKED(endUnderFault(fault));

        QCOMPARE(SnapshotOf(sourceFolder), sourceBefore);
        CHECKED(verifyWindowIsRestored());
        FolderSnapshot destinationAfter = SnapshotOf(destination());
        QCOMPARE(QFileInfo::exists(destination()), destinationExisted);
        if (written) {
            QCOMPARE(statusCaption(), QString::fromUtf8(kFinishedCaption));
            const qsizetype from = fault == Fault::StartAtTheBeginning ? 0 : kLongCopyFrom;
            QVERIFY(IsPieceOf(destinationAfter.take(QFileInfo(partPath(1)).fileName()),
                              source_.mid(from, kLongCopyTo - from)));
            // The user's own files under the other parts' names are left alone.
            FolderSnapshot othersBefore = destinationBefore;
            othersBefore.remove(QFileInfo(partPath(1)).fileName());
            QCOMPARE(destinationAfter, othersBefore);
            QVERIFY(rig_->messages.shown.empty());
        } else {
            QVERIFY(statusCaption() != QString::fromUtf8(kFinishedCaption));
            QCOMPARE(destinationAfter, destinationBefore);
            QCOMPARE(rig_->messages.shown.size(), std::size_t{1});
            const auto& shown = rig_->messages.shown.front();
            QCOMPARE(QString::fromStdString(shown.text), filled(message.text));
            QCOMPARE(QString::fromStdString(shown.title), message.title);
            QCOMPARE(shown.icon, message.icon);
            QCOMPARE(shown.buttons, MessageButtons::Ok);
        }

        mount_.reset();
        CHECKED(verifyNextCutSucceeds());
    }

    // After a good cut, a second End that does not finish: the screen must not keep the first
    // cut's success, and the preview must not reach the piece the first cut left, which the
    // user keeps. A source that is not MP3 audio, or one chosen without a new Start, is not
    // cut at all.
    void endThatDoesNotFinishAfterAGoodCut_data() {
        QTest::addColumn<QString>("second");
        QTest::addColumn<QByteArray>("newSource"); // empty: the first source stays chosen
        QTest::addColumn<bool>("playerPlaysIt");
        QTest::addColumn<bool>("pressStart");
        QTest::addColumn<QString>("endText");
        QTest::addColumn<QString>("endTitle");

        const QByteArray mp3 = GeneratedMp3Bytes(kLongSourceBytes);
        QByteArray jpeg("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00", 11);
        QByteArray wav("RIFF\x24\x00\x10\x00WAVEfmt ", 16);
        jpeg.append(mp3.mid(16, 4096));
        wav.append(mp3.mid(16, 4096));
        const QByteArray text("notes for the ringtone\n");
        const QString endBeforeStart = kEndBeforeStartText;
        const QString chooseSource = kChooseSourceText;
        auto row = [](const char* name, const char* second, const QByteArray& newSource, bool plays,
                      bool pressStart, const QString& text, const char* title) {
            QTest::newRow(name) << QString::fromLatin1(second) << newSource << plays << pressStart
                                << text << QString::fromUtf8(title);
        };
        row("end before start", "end before start", {}, true, true, endBeforeStart, kHint);
        row("end at the start mark", "end at start", {}, true, true, endBeforeStart, kHint);
        row("source truncated", "truncate", {}, true, true,
            QStringLiteral("剪切失败，源文件比选择时短，可能已被修改：\n{source}"), kError);
        row("new source without a new start", "", mp3, true, false, kStartFirstText, kProgramTitle);
        row("text file named .mp3", "", text, false, true, chooseSource, kHint);
        row("JPEG named .mp3", "", jpeg, false, true, chooseSource, kHint);
        row("WAV named .mp3, played", "", wav, true, true, chooseSource, kHint);
        row("MP3 the player cannot play", "", mp3, false, true, chooseSource, kHint);
    }
    void endThatDoesNotFinishAfterAGoodCut() {
        QFETCH(QString, second);
        QFETCH(QByteArray, newSource);
        QFETCH(bool, playerPlaysIt);
        QFETCH(bool, pressStart);
        QFETCH(QString, endText);
        QFETCH(QString, endTitle);

        CHECKED(openWindow());
        CHECKED(
            chooseAndMarkStart(sourcePath(), destination(), kLongStartSeconds, kLongEndSeconds));
        click("Command1");
        QCOMPARE(statusCaption(), QString::fromUtf8(kFinishedCaption));
        const FolderSnapshot keptBefore = SnapshotOf(destination());
        QCOMPARE(keptBefore.size(), 1);
        QVERIFY(rig_->messages.shown.empty());
        click("Command2"); // the preview stays open on the kept piece
        QCOMPARE(rig_->players.last()->url, partPath(1).toStdString());

        FakeMainPlayer& player = rig_->mainPlayer();
        if (!newSource.isEmpty()) {
            // Another file of the same name, so its piece would take the kept piece's name.
            const QString other = folder(QStringLiteral("other/")) + kLongSourceName;
            QVERIFY(QDir().mkpath(QFileInfo(other).path()));
            QVERIFY(WriteFileBytes(other, newSource));
            rig_->openDialog.answers.push_back(other.toStdString());
            click("cmdBrowseS");
            player.durationSeconds =
                playerPlaysIt ? std::optional<double>(kLongDuration) : std::nullopt;
        }
        const double startAt = second == "end before start" ? kLongEndSeconds : kLongStartSeconds;
        player.positionSeconds = startAt;
        if (pressStart) {
            QTRY_VERIFY(window_->marks().sourceFramesRead());
            click("cmdQ");
        }
        player.positionSeconds = second.startsWith("end") ? kLongStartSeconds : kLongEndSeconds;
        if (second == "truncate") {
            QVERIFY(QFile::resize(sourcePath(), kLongSourceBytes / 2));
        }
        click("Command1");

        QCOMPARE(statusCaption(), QString());
        QCOMPARE(window_->findChild<QLabel*>(QStringLiteral("lbj"))->text(), QString());
        QVERIFY(!rig_->messages.shown.empty());
        const auto& shown = rig_->messages.shown.back();
        QCOMPARE(QString::fromStdString(shown.text), filled(endText));
        QCOMPARE(QString::fromStdString(shown.title), endTitle);
        QCOMPARE(shown.icon, endTitle == kError ? MessageIcon::Critical : MessageIcon::None);
        if (!newSource.isEmpty() && pressStart) {
            // Start refused the file too, with its own title.
            QCOMPARE(rig_->messages.shown.size(), std::size_t{2});
            QCOMPARE(QString::fromStdString(rig_->messages.shown.front().text),
                     QString::fromUtf8(kChooseSourceText));
            QCOMPARE(QString::fromStdString(rig_->messages.shown.front().title),
                     QString::fromUtf8(kError));
        }
        QCOMPARE(SnapshotOf(destination()), keptBefore);

        // Neither the open preview's delete nor a new preview reaches the kept piece.
        for (int preview = 0; preview < 2; ++preview) {
            QWidget* window = TopLevel("FrmST");
            QVERIFY(window != nullptr);
            QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("Command2")),
                              Qt::LeftButton);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QCOMPARE(SnapshotOf(destination()), keptBefore);
            click("Command2");
            QCOMPARE(rig_->players.last()->url, std::string());
        }
        CHECKED(verifyWindowIsRestored());
    }

    // A preview left open on an earlier piece, then a finished cut of another source: the open
    // preview's delete reaches neither piece; a new preview reaches the new one only.
    void openPreviewAfterACutOfAnotherSource() {
        CHECKED(openWindow());
        CHECKED(
            chooseAndMarkStart(sourcePath(), destination(), kLongStartSeconds, kLongEndSeconds));
        click("Command1");
        click("Command2");
        const QString other = folder(QStringLiteral("src/其他 ")) + kLongSourceName;
        CHECKED(chooseAndMarkStart(other, destination(), kLongStartSeconds, kLongEndSeconds));
        click("Command1");
        QCOMPARE(statusCaption(), QString::fromUtf8(kFinishedCaption));
        const QStringList bothPieces = SnapshotOf(destination()).keys();
        QCOMPARE(bothPieces.size(), 2);

        QWidget* preview = TopLevel("FrmST");
        QVERIFY(preview != nullptr);
        QTest::mouseClick(preview->findChild<QPushButton*>(QStringLiteral("Command2")),
                          Qt::LeftButton);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(SnapshotOf(destination()).keys(), bothPieces);
        click("Command2");
        QTest::mouseClick(TopLevel("FrmST")->findChild<QPushButton*>(QStringLiteral("Command2")),
                          Qt::LeftButton);
        QCOMPARE(SnapshotOf(destination()).keys(), QStringList{QFileInfo(partPath(1)).fileName()});
        QCOMPARE(ReadFileBytes(sourcePath()), source_);
        CHECKED(verifyWindowIsRestored());
    }

    void marksWithoutAFile() {
        CHECKED(openWindow());
        click("cmdQ");
        click("Command1");
        QTest::keyClick(window_->windowHandle(), Qt::Key_Return);

        QCOMPARE(rig_->messages.shown.size(), std::size_t{3});
        const auto& start = rig_->messages.shown.at(0);
        QCOMPARE(QString::fromStdString(start.text), QString::fromUtf8(kChooseSourceText));
        QCOMPARE(QString::fromStdString(start.title), QString::fromUtf8(kError));
        QCOMPARE(start.icon, MessageIcon::Critical);
        for (std::size_t index : {std::size_t{1}, std::size_t{2}}) {
            const auto& end = rig_->messages.shown.at(index);
            QCOMPARE(QString::fromStdString(end.text), QStringLiteral("请先选择起点！"));
            QCOMPARE(QString::fromStdString(end.title), QStringLiteral("Quavera"));
            QCOMPARE(end.icon, MessageIcon::None);
        }
        QVERIFY(QDir(base_->path()).isEmpty());
        CHECKED(verifyWindowIsRestored());
        CHECKED(verifyNextCutSucceeds());
    }

    void closingDuringACutLeavesNothing() {
        CHECKED(openWindow());
        CHECKED(
            chooseAndMarkStart(sourcePath(), destination(), kLongStartSeconds, kLongEndSeconds));
        bool closedAtOnce = true;
        QTimer::singleShot(0, window_.get(), [&] { closedAtOnce = window_->close(); });
        click("Command1");

        QVERIFY(!closedAtOnce);
        QVERIFY(!window_->isVisible());
        QCOMPARE(ReadFileBytes(sourcePath()), source_);
        QCOMPARE(SnapshotOf(destination()), FolderSnapshot());
        QVERIFY(rig_->messages.shown.empty());
        QVERIFY(statusCaption() != QString::fromUtf8(kFinishedCaption));
        CHECKED(verifyWindowIsRestored());
    }
};

QTEST_MAIN(FaultMatrixTest)
#include "tst_fault_matrix.moc"
