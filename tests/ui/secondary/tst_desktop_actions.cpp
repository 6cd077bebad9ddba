#include "SecondaryFakes.h"
#include "core/ProgramInfo.h"
#include "ui/DesktopActions.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

using namespace quavera;
using namespace quavera::testing;

class DesktopActionsTest : public QObject {
    Q_OBJECT

private slots:
    void openFolderPassesTheFolderAsOneArgument_data();
    void openFolderPassesTheFolderAsOneArgument();
    void openFolderWithEmptyTextOpensTheHomeFolder();
    void openFolderThatCannotBeOpenedSaysSo_data();
    void openFolderThatCannotBeOpenedSaysSo();

    void openAddressStartsTheBrowser_data();
    void openAddressStartsTheBrowser();
    void openAddressThatCannotBeOpenedSaysSo_data();
    void openAddressThatCannotBeOpenedSaysSo();

    void bundledPagesAreFoundInTheBuildTree_data();
    void bundledPagesAreFoundInTheBuildTree();
    void unknownPageFailsWithAMessageNamingItsAddress();

    void programIconIsA32PixelOpaquePicture();

private:
    QTemporaryDir scratch_;
};

void DesktopActionsTest::openFolderPassesTheFolderAsOneArgument_data() {
    QTest::addColumn<QString>("folderName");
    QTest::newRow("plain") << "out";
    QTest::newRow("blanks") << "my ring tones";
    QTest::newRow("shell characters") << "a;b $(touch x) 'c' \"d\" `e` & f";
    QTest::newRow("chinese") << "铃声 文件夹";
}

void DesktopActionsTest::openFolderPassesTheFolderAsOneArgument() {
    QFETCH(QString, folderName);
    QVERIFY(scratch_.isValid());
    const QString folder = scratch_.filePath(folderName);
    QVERIFY(QDir().mkpath(folder));
    const std::string folderText = (folder + "/").toStdString();

    RecordingLauncher launcher;
    AnsweringMessageBoxes messages;
    QVERIFY(OpenFolder(launcher, messages, folderText));

    QCOMPARE(launcher.starts.size(), 1u);
    QCOMPARE(launcher.starts[0].program, std::string("xdg-open"));
    QCOMPARE(launcher.starts[0].argument, folderText);
    QVERIFY(messages.shown.empty());
}

void DesktopActionsTest::openFolderWithEmptyTextOpensTheHomeFolder() {
    RecordingLauncher launcher;
    AnsweringMessageBoxes messages;
    QVERIFY(OpenFolder(launcher, messages, ""));
    QCOMPARE(launcher.starts.size(), 1u);
    QCOMPARE(launcher.starts[0].argument, QDir::homePath().toStdString());
    QVERIFY(messages.shown.empty());
}

void DesktopActionsTest::openFolderThatCannotBeOpenedSaysSo_data() {
    QTest::addColumn<QString>("folderName");
    QTest::addColumn<bool>("launcherWorks");
    QTest::addColumn<bool>("expectStart");
    QTest::newRow("launcher fails") << "exists" << false << true;
    QTest::newRow("folder is gone") << "never made" << true << false;
    QTest::newRow("a file, not a folder") << "plain.txt" << true << false;
}

void DesktopActionsTest::openFolderThatCannotBeOpenedSaysSo() {
    QFETCH(QString, folderName);
    QFETCH(bool, launcherWorks);
    QFETCH(bool, expectStart);
    QVERIFY(QDir().mkpath(scratch_.filePath("exists")));
    QFile file(scratch_.filePath("plain.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    const std::string folderText = scratch_.filePath(folderName).toStdString();

    RecordingLauncher launcher;
    launcher.succeeds = launcherWorks;
    AnsweringMessageBoxes messages;
    QVERIFY(!OpenFolder(launcher, messages, folderText));

    QCOMPARE(launcher.starts.size(), expectStart ? 1u : 0u);
    QCOMPARE(messages.shown.size(), 1u);
    QCOMPARE(messages.shown[0].text, "无法打开文件夹：" + folderText);
    QCOMPARE(messages.shown[0].title, std::string("错误"));
    QCOMPARE(messages.shown[0].icon, MessageIcon::Critical);
    QCOMPARE(messages.shown[0].buttons, MessageButtons::Ok);
}

void DesktopActionsTest::openAddressStartsTheBrowser_data() {
    QTest::addColumn<QString>("address");
    QTest::newRow("web") << "https://quavera.example.org/";
    QTest::newRow("bundled page") << QString::fromStdString(
        BundledPageAddress(info::kHelpPageFile));
}

void DesktopActionsTest::openAddressStartsTheBrowser() {
    QFETCH(QString, address);
    RecordingLauncher launcher;
    AnsweringMessageBoxes messages;
    QVERIFY(OpenAddress(launcher, messages, address.toStdString()));
    QCOMPARE(launcher.starts.size(), 1u);
    QCOMPARE(launcher.starts[0].program, std::string("xdg-open"));
    QCOMPARE(launcher.starts[0].argument, address.toStdString());
    QVERIFY(messages.shown.empty());
}

void DesktopActionsTest::openAddressThatCannotBeOpenedSaysSo_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("launcherWorks");
    QTest::addColumn<bool>("expectStart");
    QTest::newRow("launcher fails") << "https://quavera.example.org/" << false << true;
    QTest::newRow("local page missing") << "file:///nonexistent/quavera/help.html" << true << false;
    QTest::newRow("no address") << "" << true << false;
}

void DesktopActionsTest::openAddressThatCannotBeOpenedSaysSo() {
    QFETCH(QString, address);
    QFETCH(bool, launcherWorks);
    QFETCH(bool, expectStart);
    RecordingLauncher launcher;
    launcher.succeeds = launcherWorks;
    AnsweringMessageBoxes messages;
    QVERIFY(!OpenAddress(launcher, messages, address.toStdString()));
    QCOMPARE(launcher.starts.size(), expectStart ? 1u : 0u);
    QCOMPARE(messages.shown.size(), 1u);
    QCOMPARE(messages.shown[0].text, "无法打开网页：" + address.toStdString());
    QCOMPARE(messages.shown[0].title, std::string("错误"));
    QCOMPARE(messages.shown[0].icon, MessageIcon::Critical);
}

void DesktopActionsTest::bundledPagesAreFoundInTheBuildTree_data() {
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("heading");
    QTest::newRow("help") << info::kHelpPageFile << "Quavera 使用帮助";
    QTest::newRow("formats") << info::kFormatsPageFile << "如何剪切其他格式";
}

void DesktopActionsTest::bundledPagesAreFoundInTheBuildTree() {
    QFETCH(QString, fileName);
    QFETCH(QString, heading);
    const QUrl address(QString::fromStdString(BundledPageAddress(fileName.toStdString())));
    QVERIFY2(address.isLocalFile(), qPrintable(address.toString()));
    const QString path = address.toLocalFile();
    QCOMPARE(QFileInfo(path).fileName(), fileName);
    QVERIFY2(QFileInfo(path).absolutePath().endsWith("share/quavera/pages"), qPrintable(path));

    QFile page(path);
    QVERIFY2(page.open(QIODevice::ReadOnly), qPrintable(path));
    const QString html = QString::fromUtf8(page.readAll());
    QVERIFY(html.contains("<h1>" + heading + "</h1>"));
    // The pages must work offline: nothing may be fetched from elsewhere.
    QVERIFY(!html.contains("src=\"http"));
    QVERIFY(!html.contains("href=\"http"));
}

void DesktopActionsTest::unknownPageFailsWithAMessageNamingItsAddress() {
    const std::string address = BundledPageAddress("no-such-page.html");
    QVERIFY(QUrl(QString::fromStdString(address)).isLocalFile());
    QVERIFY(QString::fromStdString(address).endsWith("/quavera/pages/no-such-page.html"));

    RecordingLauncher launcher;
    AnsweringMessageBoxes messages;
    QVERIFY(!OpenAddress(launcher, messages, address));
    QVERIFY(launcher.starts.empty());
    QCOMPARE(messages.shown.size(), 1u);
    QCOMPARE(messages.shown[0].text, "无法打开网页：" + address);
}

void DesktopActionsTest::programIconIsA32PixelOpaquePicture() {
    const QIcon icon = ProgramIcon();
    QVERIFY(!icon.isNull());
    const QImage image(":/quavera/quavera.png");
    QCOMPARE(image.size(), QSize(32, 32));
    QVERIFY(!image.hasAlphaChannel());
    QFile png(":/quavera/quavera.png");
    QVERIFY(png.open(QIODevice::ReadOnly));
    const QByteArray header = png.read(26);
    QCOMPARE(header.size(), 26);
    QCOMPARE(int(header[24]), 8); // bits per channel
    QCOMPARE(int(header[25]), 2); // colour type: RGB, three channels, no alpha
    // Not a blank square: the note stands out from its tile.
    QVERIFY(image.pixel(12, 23) != image.pixel(6, 6));
}

QTEST_MAIN(DesktopActionsTest)
#include "tst_desktop_actions.moc"
