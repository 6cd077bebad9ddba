#include "adapters/XdgProcessLauncher.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace quavera;

class XdgProcessLauncherTest : public QObject {
    Q_OBJECT

private slots:
    void argumentReachesTheProgramUnchanged_data() {
        QTest::addColumn<QString>("fileName");
        QTest::newRow("blanks and shell characters") << "a b;$(touch x)'c\"&|*`y`";
        QTest::newRow("Chinese and a leading dash") << "-[铃声]1 我的歌.mp3";
        QTest::newRow("redirection") << "> out < in";
    }
    void argumentReachesTheProgramUnchanged() {
        QFETCH(QString, fileName);
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        // touch makes exactly one file per argument it gets; a shell would have made others.
        const QString path = folder.filePath(fileName);
        XdgProcessLauncher launcher;
        QVERIFY(launcher.start("/usr/bin/touch", path.toStdString()));
        QTRY_VERIFY(QFile::exists(path));
        QTest::qWait(200); // anything a shell might have started besides has had its chance
        QCOMPARE(
            QDir(folder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
            QStringList{fileName});
    }

    void programThatCannotStartReportsFailure_data() {
        QTest::addColumn<QString>("program");
        QTest::newRow("no such path") << "/nonexistent/quavera-opener";
        QTest::newRow("not on the search path") << "quavera-no-such-opener";
        QTest::newRow("not executable") << QString(); // filled in below
    }
    void programThatCannotStartReportsFailure() {
        QFETCH(QString, program);
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        if (program.isEmpty()) {
            program = folder.filePath("plain.txt");
            QFile file(program);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("#!/bin/sh\ntouch ran\n");
            file.close();
            QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
        }
        XdgProcessLauncher launcher;
        QVERIFY(!launcher.start(program.toStdString(), folder.path().toStdString()));
    }
};

QTEST_GUILESS_MAIN(XdgProcessLauncherTest)
#include "XdgProcessLauncherTest.moc"
