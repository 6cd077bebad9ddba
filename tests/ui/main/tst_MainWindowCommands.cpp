// The main window's commands driven through its buttons, with every outside service faked.
#include "MainWindowFakes.h"
#include "fakes/GeneratedMp3.h"
#include "ui/MainWindow.h"
#include "ui/main/PressEveryCommand.h"

#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

using namespace quavera;
using namespace quavera::testing;

namespace {

constexpr char kNoCaption[] = "源分割文件大小";

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

bool MakeSparseFile(const QString& path, qint64 size) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.resize(size);
}

} // namespace

class MainWindowCommandsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<MainWindowRig> rig_;
    std::unique_ptr<MainWindow> window_;

    void openWindow() {
        window_ = std::make_unique<MainWindow>(rig_->services());
        window_->show();
    }
    void click(const char* name) {
        auto* button = window_->findChild<QPushButton*>(QLatin1String(name));
        QVERIFY2(button != nullptr, name);
        QTest::mouseClick(button, Qt::LeftButton);
    }
    QString text(const char* name) const {
        QWidget* widget = window_->findChild<QWidget*>(QLatin1String(name));
        if (auto* box = qobject_cast<QLineEdit*>(widget)) {
            return box->text();
        }
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            return label->text();
        }
        return qobject_cast<QGroupBox*>(widget)->title();
    }
    QString file(const QString& name) const { return dir_->filePath(name); }
    // Chooses `path` through the source dialog.
    void chooseSource(const QString& path) {
        rig_->openDialog.answers.push_back(path.toStdString());
        click("cmdBrowseS");
    }

private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        rig_ = std::make_unique<MainWindowRig>();
    }
    void cleanup() {
        window_.reset();
        CloseSecondaryWindows();
        rig_.reset();
        dir_.reset();
    }

    void loadSetsTheFilterAndMakesTheOfferBeforeShowing() {
        bool windowWasShown = true;
        rig_->firstRunOffer = [this, &windowWasShown] {
            ++rig_->firstRunOffers;
            windowWasShown = TopLevel("Frm") != nullptr;
        };
        openWindow();
        QCOMPARE(rig_->openDialog.filter, std::string("MP3音频文件|*.mp3"));
        QCOMPARE(rig_->firstRunOffers, 1);
        QVERIFY(!windowWasShown);
    }

    void chooseSourceFillsTheWindow() {
        const QString source = file(QStringLiteral("我的 歌.mp3"));
        QVERIFY(WriteFileBytes(source, GeneratedMp3Bytes(1536)));
        openWindow();
        FakeMainPlayer& player = rig_->mainPlayer();
        player.durationSeconds = 42.0;
        window_->setStartCaption(" 3秒");
        window_->setEndCaption(" 9秒");

        chooseSource(source);

        QCOMPARE(text("txtSource"), source);
        QCOMPARE(text("txtDestdir"), dir_->path() + '/');
        QCOMPARE(text("Frame1"), QStringLiteral("源分割文件大小（1.5 KB）"));
        QCOMPARE(window_->marks().cut.SourceSize, 1536);
        QCOMPARE(player.urlsSet, std::vector<std::string>{source.toStdString()});
        QCOMPARE(text("lbz"), QStringLiteral(" 42秒")); // refreshed at once, not at the next tick
        QCOMPARE(text("lbk"), QString());
        QCOMPARE(text("lbj"), QString());
        QVERIFY(rig_->messages.shown.empty());
    }

    void sizeCaption_data() {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("caption");
        QTest::newRow("1536") << qint64(1536) << QStringLiteral("源分割文件大小（1.5 KB）");
        QTest::newRow("1024") << qint64(1024) << QStringLiteral("源分割文件大小（1. KB）");
        QTest::newRow("100") << qint64(100) << QStringLiteral("源分割文件大小（0.1 KB）");
        QTest::newRow("empty") << qint64(0) << QStringLiteral("源分割文件大小（0. KB）");
        QTest::newRow("largest") << qint64(2147483647)
                                 << QStringLiteral("源分割文件大小（2097152. KB）");
    }

    void sizeCaption() {
        QFETCH(qint64, bytes);
        QFETCH(QString, caption);
        const QString source = file(QStringLiteral("a.mp3"));
        QVERIFY(MakeSparseFile(source, bytes));
        openWindow();
        chooseSource(source);
        QCOMPARE(text("Frame1"), caption);
        QCOMPARE(qint64(window_->marks().cut.SourceSize), bytes);
    }

    // A source the cut cannot take is refused whole, by any road: the earlier choice stands.
    void sourceThatCannotBeCutIsRefused_data() {
        QTest::addColumn<bool>("folder");
        QTest::addColumn<QString>("says");
        QTest::newRow("2 GiB, from the dialog") << false << QStringLiteral("2 GB");
        QTest::newRow("a folder, from the command line") << true << "请选择要剪切的MP3文件！";
    }
    void sourceThatCannotBeCutIsRefused() {
        QFETCH(bool, folder);
        QFETCH(QString, says);
        const QString first = file(QStringLiteral("first.mp3"));
        const QString refused = file(QStringLiteral("refused.mp3"));
        QVERIFY(WriteFileBytes(first, GeneratedMp3Bytes(1024)));
        QVERIFY(folder ? QDir().mkpath(refused) : MakeSparseFile(refused, qint64(1) << 31));
        openWindow();
        chooseSource(first);
        window_->setStartCaption(" 3秒");

        if (folder)
            window_->openSource(refused.toStdString());
        else
            chooseSource(refused);

        QCOMPARE(int(rig_->messages.shown.size()), 1);
        const FakeMessageBoxes::Shown& message = rig_->messages.shown.front();
        QVERIFY(Text(message.text).contains(says));
        QCOMPARE(Text(message.text).contains(refused), !folder);
        QCOMPARE(message.title, std::string("错误"));
        QCOMPARE(message.icon, MessageIcon::Critical);
        QCOMPARE(text("txtSource"), first);
        QCOMPARE(text("Frame1"), QStringLiteral("源分割文件大小（1. KB）"));
        QCOMPARE(window_->marks().cut.SourceSize, 1024);
        QCOMPARE(rig_->mainPlayer().urlsSet, std::vector<std::string>{first.toStdString()});
        QCOMPARE(text("lbk"), QStringLiteral(" 3秒"));
    }

    void cancelBeforeAnyChoiceChangesNothing() {
        openWindow();
        window_->setStartCaption(" 3秒");
        click("cmdBrowseS"); // the dialog is cancelled
        QCOMPARE(rig_->openDialog.shows, 1);
        QCOMPARE(text("txtSource"), QString());
        QCOMPARE(text("txtDestdir"), QString());
        QCOMPARE(text("Frame1"), QString::fromUtf8(kNoCaption));
        QVERIFY(rig_->mainPlayer().urlsSet.empty());
        QCOMPARE(text("lbk"), QStringLiteral(" 3秒"));
    }

    void cancelAfterAChoiceRepeatsNothing() {
        const QString source = file(QStringLiteral("a.mp3"));
        QVERIFY(WriteFileBytes(source, GeneratedMp3Bytes(2048)));
        openWindow();
        chooseSource(source);
        window_->setStartCaption(" 3秒");
        window_->setEndCaption(" 9秒");

        click("cmdBrowseS"); // cancelled

        QCOMPARE(text("txtSource"), source);
        QCOMPARE(rig_->mainPlayer().urlsSet.size(), std::size_t(1)); // playback not restarted
        QCOMPARE(text("lbk"), QStringLiteral(" 3秒"));
        QCOMPARE(text("lbj"), QStringLiteral(" 9秒"));
    }

    void destinationIsFilledOnlyWhileEmpty() {
        QVERIFY(QDir(dir_->path()).mkpath(QStringLiteral("one")));
        QVERIFY(QDir(dir_->path()).mkpath(QStringLiteral("two")));
        const QString first = file(QStringLiteral("one/a.mp3"));
        const QString second = file(QStringLiteral("two/b.mp3"));
        QVERIFY(WriteFileBytes(first, GeneratedMp3Bytes(100)));
        QVERIFY(WriteFileBytes(second, GeneratedMp3Bytes(100)));
        openWindow();
        chooseSource(first);
        chooseSource(second);
        QCOMPARE(text("txtSource"), second);
        QCOMPARE(text("txtDestdir"), dir_->path() + QStringLiteral("/one/"));
    }

    void unreadableSourceKeepsTheSize() {
        const QString first = file(QStringLiteral("a.mp3"));
        const QString missing = file(QStringLiteral("gone.mp3"));
        QVERIFY(WriteFileBytes(first, GeneratedMp3Bytes(1536)));
        openWindow();
        chooseSource(first);
        window_->setStartCaption(" 3秒");

        chooseSource(missing);

        QCOMPARE(text("txtSource"), missing);
        QCOMPARE(text("Frame1"), QStringLiteral("源分割文件大小（1.5 KB）"));
        QCOMPARE(window_->marks().cut.SourceSize, 1536);
        QCOMPARE(rig_->mainPlayer().url, missing.toStdString()); // left to the player
        QCOMPARE(text("lbk"), QString());
    }

    void droppedFileIsChosen_data() {
        QTest::addColumn<QStringList>("dropped"); // names in the temporary folder, or addresses
        QTest::addColumn<bool>("accepted");
        QTest::newRow("one file") << QStringList{"a.mp3"} << true;
        QTest::newRow("several: the first") << QStringList{"a.mp3", "b.mp3"} << true;
        QTest::newRow("a file that cannot be read") << QStringList{"gone.mp3"} << true;
        QTest::newRow("a folder") << QStringList{"music.mp3"} << false;
        QTest::newRow("web address") << QStringList{"https://quavera.example.org/a.mp3"} << false;
        QTest::newRow("web address first")
            << QStringList{"https://x.example/a.mp3", "a.mp3"} << false;
    }

    void droppedFileIsChosen() {
        QFETCH(QStringList, dropped);
        QFETCH(bool, accepted);
        QVERIFY(WriteFileBytes(file(QStringLiteral("a.mp3")), GeneratedMp3Bytes(1536)));
        QVERIFY(WriteFileBytes(file(QStringLiteral("b.mp3")), GeneratedMp3Bytes(1024)));
        QVERIFY(QDir(dir_->path()).mkpath(QStringLiteral("music.mp3")));
        QList<QUrl> urls;
        for (const QString& name : dropped) {
            urls.append(name.contains(':') ? QUrl(name) : QUrl::fromLocalFile(file(name)));
        }
        openWindow();
        QVERIFY(window_->acceptDrops());
        window_->setEndCaption(" 9秒");

        // Dropped on the source box, the drop reaches the window.
        auto* box = window_->findChild<QLineEdit*>(QStringLiteral("txtSource"));
        QCOMPARE(DropUrls(*box, urls), accepted);

        const QString loaded = accepted ? file(dropped.first()) : QString();
        QCOMPARE(text("txtSource"), loaded);
        QCOMPARE(text("txtDestdir"), accepted ? dir_->path() + '/' : QString());
        const bool readable = accepted && QFileInfo::exists(loaded);
        QCOMPARE(text("Frame1"), readable ? QStringLiteral("源分割文件大小（1.5 KB）")
                                          : QString::fromUtf8(kNoCaption));
        QCOMPARE(rig_->mainPlayer().urlsSet.size(), accepted ? 1U : 0U);
        QCOMPARE(text("lbj"), accepted ? QString() : QStringLiteral(" 9秒"));
        QCOMPARE(rig_->openDialog.shows, 0);
    }

    void chooseDestination_data() {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("answer"); // empty: cancelled
        QTest::addColumn<QString>("after");
        QTest::newRow("slash appended") << ""
                                        << "/srv/out"
                                        << "/srv/out/";
        QTest::newRow("root kept") << ""
                                   << "/"
                                   << "/";
        QTest::newRow("slash kept") << ""
                                    << "/srv/a b/"
                                    << "/srv/a b/";
        QTest::newRow("replaces") << "/old"
                                  << "/new dir"
                                  << "/new dir/";
        QTest::newRow("cancel keeps") << "/old"
                                      << ""
                                      << "/old/";
        QTest::newRow("cancel on empty") << ""
                                         << ""
                                         << "";
    }

    void chooseDestination() {
        QFETCH(QString, before);
        QFETCH(QString, answer);
        QFETCH(QString, after);
        openWindow();
        if (!before.isEmpty()) {
            rig_->folderPicker.answers.push_back(before.toStdString());
            click("cmdBrowseD");
        }
        rig_->folderPicker.answers.push_back(
            answer.isEmpty() ? std::nullopt : std::optional(answer.toStdString()));
        click("cmdBrowseD");
        QCOMPARE(text("txtDestdir"), after);
        QCOMPARE(rig_->folderPicker.prompts.back(), std::string("请选择一个目录来存放分割文件："));
    }

    void openFolderOpensTheDestination() {
        // Blanks and shell characters reach the file manager as one plain argument.
        const QString folder = file(QStringLiteral("my music;$(x)"));
        QVERIFY(QDir().mkpath(folder));
        openWindow();
        rig_->folderPicker.answers.push_back(folder.toStdString());
        click("cmdBrowseD");
        click("cmdO");
        QCOMPARE(rig_->launcher.started.size(), std::size_t(1));
        QCOMPARE(rig_->launcher.started.front().program, std::string("xdg-open"));
        QCOMPARE(Text(rig_->launcher.started.front().argument), folder + '/');
        QVERIFY(rig_->messages.shown.empty());
    }

    void otherFormatsOpensTheBundledPage() {
        openWindow();
        click("Command4");
        QCOMPARE(rig_->launcher.started.size(), std::size_t(1));
        const QString address = Text(rig_->launcher.started.front().argument);
        QVERIFY2(address.startsWith(QStringLiteral("file://")), qPrintable(address));
        QVERIFY2(address.endsWith(QStringLiteral("/formats.html")), qPrintable(address));
    }

    // The marks fall in the middle of frames of 417 bytes; the piece copies the frames from the
    // one before the frame playing at Start (its overlap) up to the one playing at End, whatever
    // length the player reports.
    void startAndEndCutThePiece_data() {
        QTest::addColumn<int>("frames");
        QTest::addColumn<double>("duration");
        QTest::addColumn<double>("startFrame");
        QTest::addColumn<double>("endFrame");
        QTest::addColumn<qint64>("pieceFrom");
        QTest::addColumn<qint64>("pieceTo");
        QTest::addColumn<QString>("startField");
        QTest::newRow("frames 100 to 400")
            << 1000 << 26.1 << 100.5 << 400.5 << qint64(41283) << qint64(167217) << "40.31542";
        // A VBR file without an information frame: the player's guess at the length is off.
        QTest::newRow("player's length far off")
            << 1000 << 100.0 << 100.5 << 400.5 << qint64(41283) << qint64(167217) << "40.31542";
        QTest::newRow("end past the last frame")
            << 1000 << 26.1 << 900.5 << 1200.0 << qint64(374883) << qint64(417000) << "366.0966";
        // Eight characters hold 12,216.79 KB: the fields begin seven bytes before the frame.
        QTest::newRow("far in") << 40000 << 1044.9 << 30001.5 << 30101.5 << qint64(12510000)
                                << qint64(12552534) << "12216.79";
    }

    void startAndEndCutThePiece() {
        QFETCH(int, frames);
        QFETCH(double, duration);
        QFETCH(double, startFrame);
        QFETCH(double, endFrame);
        QFETCH(qint64, pieceFrom);
        QFETCH(qint64, pieceTo);
        QFETCH(QString, startField);
        const QString source = file(QStringLiteral("铃 声 源.mp3"));
        const QByteArray bytes = GeneratedMp3Frames(frames);
        QVERIFY(WriteFileBytes(source, bytes));
        const double start = startFrame * kFrameSeconds;
        const double end = endFrame * kFrameSeconds;
        openWindow();
        chooseSource(source);
        FakeMainPlayer& player = rig_->mainPlayer();
        player.durationSeconds = duration;

        player.positionSeconds = start;
        // The frames are read by now for a user who listened first; without them End writes
        // the field.
        QTRY_VERIFY(window_->marks().sourceFramesRead());
        click("cmdQ");
        QCOMPARE(text("txtSplit0"), startField);
        QCOMPARE(text("lb"), QStringLiteral("开始。。。"));
        player.positionSeconds = end;
        click("Command1");

        QVERIFY(rig_->messages.shown.empty());
        const QString kept = file(QStringLiteral("[铃声]1铃 声 源.mp3"));
        QVERIFY(IsPieceOf(ReadFileBytes(kept), bytes.mid(pieceFrom, pieceTo - pieceFrom)));
        QVERIFY(!QFile::exists(file(QStringLiteral("[铃声]0铃 声 源.mp3"))));
        QVERIFY(!QFile::exists(file(QStringLiteral("[铃声]2铃 声 源.mp3"))));
        QCOMPARE(ReadFileBytes(source), bytes);
        QCOMPARE(text("lb"), QStringLiteral("剪切完成，请试听！"));
        QCOMPARE(text("lbj"), QStringLiteral(" %1秒").arg(qRound(end)));
        QCOMPARE(player.pauses, 1);
        QVERIFY(!qobject_cast<QLineEdit*>(window_->findChild<QWidget*>("txtSplit0"))->isReadOnly());
        QCOMPARE(window_->cursor().shape(), Qt::ArrowCursor);
    }

    void auditionPlaysTheKeptPiece() {
        const QString source = file(QStringLiteral("a.mp3"));
        QVERIFY(WriteFileBytes(source, GeneratedMp3Frames(1000)));
        openWindow();
        // Before any cut the preview gets the bare part name and plays nothing.
        click("Command2");
        QWidget* preview = TopLevel("FrmST");
        QVERIFY(preview != nullptr);
        FakeMainPlayer* previewPlayer = rig_->players.last();
        QCOMPARE(previewPlayer->parentWidget()->window(), preview);
        QCOMPARE(previewPlayer->url, std::string("[铃声]1"));
        QCOMPARE(rig_->program.PreviewFile, std::string("[铃声]1"));

        chooseSource(source);
        FakeMainPlayer& player = rig_->mainPlayer();
        player.durationSeconds = 100.0;
        player.positionSeconds = 10.0;
        click("cmdQ");
        player.positionSeconds = 20.0;
        click("Command1");
        click("Command2");

        const std::string kept = file(QStringLiteral("[铃声]1a.mp3")).toStdString();
        QCOMPARE(TopLevel("FrmST"), preview); // shown again, not made anew
        QCOMPARE(previewPlayer->url, kept);
        QCOMPARE(rig_->program.PreviewFile, kept);

        // Choosing another destination does not change what was cut.
        rig_->folderPicker.answers.push_back("/elsewhere");
        click("cmdBrowseD");
        click("Command2");
        QCOMPARE(previewPlayer->url, kept);

        preview->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(TopLevel("FrmST") == nullptr);
        click("Command2");
        QVERIFY(TopLevel("FrmST") != nullptr);
        QCOMPARE(rig_->players.last()->url, kept);
    }

    void previewReadsTheDestinationOnlyWhileTheWindowExists() {
        openWindow();
        rig_->folderPicker.answers.push_back(dir_->path().toStdString());
        click("cmdBrowseD");
        click("Command2");
        QWidget* preview = TopLevel("FrmST");
        QVERIFY(preview != nullptr);
        auto* openFolder = preview->findChild<QPushButton*>(QStringLiteral("Command3"));
        QVERIFY(openFolder != nullptr);

        QTest::mouseClick(openFolder, Qt::LeftButton);
        window_.reset();
        QTest::mouseClick(openFolder, Qt::LeftButton);

        QCOMPARE(rig_->launcher.started.size(), std::size_t(2));
        QCOMPARE(Text(rig_->launcher.started.at(0).argument), dir_->path() + '/');
        QCOMPARE(rig_->launcher.started.at(1).argument, QDir::homePath().toStdString());
    }

    void aboutShowsOneWindow() {
        openWindow();
        click("Command3");
        QWidget* about = TopLevel("FrmA");
        QVERIFY(about != nullptr);
        click("Command3");
        int aboutWindows = 0;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            aboutWindows += widget->objectName() == QLatin1String("FrmA") ? 1 : 0;
        }
        QCOMPARE(aboutWindows, 1);
        about->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        click("Command3");
        QVERIFY(TopLevel("FrmA") != nullptr);
    }
};

QTEST_MAIN(MainWindowCommandsTest)
#include "tst_MainWindowCommands.moc"
