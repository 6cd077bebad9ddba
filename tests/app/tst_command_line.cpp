// The command line as desktops write it: Qt's own options beside ours, file:// addresses.
#include "app/CommandLine.h"

#include <QTemporaryFile>
#include <QtTest>
#include <cstdio>
#include <unistd.h>

using namespace quavera;

class CommandLineTest : public QObject {
    Q_OBJECT

    // Reads "quavera" + `arguments`; `errors` gets what it wrote on standard error.
    static CommandLineRequest Read(QStringList arguments, QByteArray& errors) {
        QTemporaryFile capture;
        if (!capture.open()) {
            return {};
        }
        const int saved = ::dup(STDERR_FILENO);
        ::dup2(capture.handle(), STDERR_FILENO);
        arguments.prepend("quavera");
        CommandLineRequest request = ReadCommandLine(arguments);
        std::fflush(stderr);
        ::dup2(saved, STDERR_FILENO);
        ::close(saved);
        capture.seek(0);
        errors = capture.readAll();
        return request;
    }

private slots:
    void qtOptionsAndFileAddressesAreTaken_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("refused");
        QTest::newRow("-style") << QStringList{"-style", "Fusion", "/a.mp3"} << "/a.mp3"
                                << "";
        QTest::newRow("--style=, -reverse after the file")
            << QStringList{"/a.mp3", "--style=Fusion", "-reverse"} << "/a.mp3"
            << "";
        QTest::newRow("-platform, -qwindowgeometry, -display, -session")
            << QStringList{"-platform", "xcb", "-qwindowgeometry", "300x200",
                           "-display",  ":1",  "-session",         "x"}
            << ""
            << "";
        QTest::newRow("file URL") << QStringList{"file:///tmp/%E9%9F%B3%E4%B9%90/%E6%AD%8C%201.mp3"}
                                  << "/tmp/音乐/歌 1.mp3"
                                  << "";
        QTest::newRow("web address") << QStringList{"https://x.org/a.mp3"} << ""
                                     << "https://x.org/a.mp3";
        QTest::newRow("another host's file") << QStringList{"file://nas/a.mp3"} << ""
                                             << "file://nas/a.mp3";
    }
    void qtOptionsAndFileAddressesAreTaken() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, file);
        QFETCH(QString, refused);
        QByteArray errors;
        const CommandLineRequest request = Read(arguments, errors);
        QVERIFY2(!request.exitCode, errors.constData());
        QCOMPARE(request.file, file);
        QCOMPARE(request.remoteAddress, refused);
    }

    void unknownOptionIsRefusedByName() {
        for (const QString& option : {QStringLiteral("-stile"), QStringLiteral("--stile")}) {
            QByteArray errors;
            QCOMPARE(Read({option, "Fusion"}, errors).exitCode, std::optional<int>(2));
            QVERIFY2(errors.contains("'stile'") && errors.contains("Usage:"), errors.constData());
        }
    }
};

QTEST_APPLESS_MAIN(CommandLineTest)
#include "tst_command_line.moc"
