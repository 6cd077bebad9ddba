#include "core/CutState.h"

#include <QTest>

using namespace quavera;

class CutStateTest : public QObject {
    Q_OBJECT

private slots:
    void partFileName_data() {
        QTest::addColumn<QString>("destDir");
        QTest::addColumn<QString>("sourceName");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("expected");
        QTest::newRow("part 1") << "/music/"
                                << "song.mp3" << 1 << "/music/[铃声]1song.mp3";
        QTest::newRow("part 0") << "/music/"
                                << "song.mp3" << 0 << "/music/[铃声]0song.mp3";
        QTest::newRow("part 2") << "/music/"
                                << "song.mp3" << 2 << "/music/[铃声]2song.mp3";
        QTest::newRow("before the first cut") << ""
                                              << "" << 1 << "[铃声]1";
        QTest::newRow("CJK and blanks unchanged")
            << "/home/用户/我的 音乐/"
            << "老 歌.mp3" << 1 << "/home/用户/我的 音乐/[铃声]1老 歌.mp3";
    }
    void partFileName() {
        QFETCH(QString, destDir);
        QFETCH(QString, sourceName);
        QFETCH(int, index);
        QFETCH(QString, expected);
        CutState state;
        state.DestDir = destDir.toStdString();
        state.SourceName = sourceName.toStdString();
        QCOMPARE(QString::fromStdString(PartFileName(state, index)), expected);
    }

    void fileNameAndFolder_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("folder");
        QTest::newRow("absolute") << "/music/song.mp3"
                                  << "song.mp3"
                                  << "/music/";
        QTest::newRow("no separator") << "song.mp3"
                                      << "song.mp3"
                                      << "";
        QTest::newRow("last separator counts") << "/a/b.c/d e.mp3"
                                               << "d e.mp3"
                                               << "/a/b.c/";
        QTest::newRow("ends in separator") << "/music/"
                                           << ""
                                           << "/music/";
        QTest::newRow("backslash is a name character") << "/m/a\\b.mp3"
                                                       << "a\\b.mp3"
                                                       << "/m/";
        QTest::newRow("CJK") << "/音乐/铃声 一.mp3"
                             << "铃声 一.mp3"
                             << "/音乐/";
        QTest::newRow("empty") << ""
                               << ""
                               << "";
    }
    void fileNameAndFolder() {
        QFETCH(QString, path);
        QFETCH(QString, name);
        QFETCH(QString, folder);
        QCOMPARE(QString::fromStdString(FileNameOf(path.toStdString())), name);
        QCOMPARE(QString::fromStdString(FolderOf(path.toStdString())), folder);
    }
};

QTEST_APPLESS_MAIN(CutStateTest)
#include "test_cut_state.moc"
