// The command line as desktops and users write it: Qt's own options beside ours, file:// addresses
// for files, and refusals that name what was refused.
#include "app/CommandLine.h"

#include <QDir>
#include <QTemporaryFile>
#include <QtTest>
#include <cstdio>
#include <unistd.h>

using namespace quavera;

namespace {

// What ReadCommandLine wrote on standard error while it read `arguments`.
CommandLineRequest ReadCapturingErrors(const QStringList& arguments, QByteArray& errors) {
    QTemporaryFile capture;
    if (!capture.open()) {
        return ReadCommandLine(arguments);
    }
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(capture.handle(), STDERR_FILENO);
    CommandLineRequest request = ReadCommandLine(arguments);
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    capture.seek(0);
    errors = capture.readAll();
    return request;
}

} // namespace

class CommandLineTest : public QObject {
    Q_OBJECT

private slots:
    void qtOptionsAndAddressesAreTaken_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("remoteAddress");
        const QString here = QDir::currentPath();
        QTest::newRow("-style") << QStringList{"-style", "Fusion", "/tmp/a.mp3"} << "/tmp/a.mp3"
                                << QString();
        QTest::newRow("--style=") << QStringList{"--style=Fusion", "/tmp/a.mp3"} << "/tmp/a.mp3"
                                  << QString();
        QTest::newRow("file before the options")
            << QStringList{"/tmp/a.mp3", "-platform", "offscreen", "-reverse"} << "/tmp/a.mp3"
            << QString();
        QTest::newRow("geometry, display, session, no file")
            << QStringList{"-qwindowgeometry", "300x200+0+0", "-display", ":1", "-session", "x"}
            << QString() << QString();
        QTest::newRow("after --, an option is a file name")
            << QStringList{"--", "-style"} << here + "/-style" << QString();
        QTest::newRow("relative path") << QStringList{"歌.mp3"} << here + "/歌.mp3" << QString();
        QTest::newRow("file URL, percent-encoded")
            << QStringList{"file:///tmp/%E9%9F%B3%E4%B9%90/%E6%AD%8C%201.mp3"}
            << QString("/tmp/音乐/歌 1.mp3") << QString();
        QTest::newRow("file URL of localhost")
            << QStringList{"file://localhost/tmp/a.mp3"} << "/tmp/a.mp3" << QString();
        QTest::newRow("web address")
            << QStringList{"https://example.org/a.mp3"} << QString() << "https://example.org/a.mp3";
        QTest::newRow("file URL of another host")
            << QStringList{"file://nas/music/a.mp3"} << QString() << "file://nas/music/a.mp3";
        QTest::newRow("network share")
            << QStringList{"smb://nas/music/a.mp3"} << QString() << "smb://nas/music/a.mp3";
    }
    void qtOptionsAndAddressesAreTaken() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, file);
        QFETCH(QString, remoteAddress);
        arguments.prepend("quavera");
        QByteArray errors;
        const CommandLineRequest request = ReadCapturingErrors(arguments, errors);
        QVERIFY2(!request.exitCode, errors.constData());
        QCOMPARE(request.file, file);
        QCOMPARE(request.remoteAddress, remoteAddress);
    }

    void unknownOptionsAreRefusedByName_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("named");
        QTest::newRow("single dash") << QStringList{"-stile", "Fusion"} << "'stile'";
        QTest::newRow("double dash") << QStringList{"--no-such-option"} << "'no-such-option'";
        QTest::newRow("two files") << QStringList{"a.mp3", "b.mp3"} << "Only one file";
    }
    void unknownOptionsAreRefusedByName() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, named);
        arguments.prepend("quavera");
        QByteArray errors;
        const CommandLineRequest request = ReadCapturingErrors(arguments, errors);
        QCOMPARE(request.exitCode, std::optional<int>(2));
        QVERIFY2(QString::fromUtf8(errors).contains(named), errors.constData());
        QVERIFY(errors.contains("Usage:"));
    }
};

QTEST_APPLESS_MAIN(CommandLineTest)
#include "tst_command_line.moc"
