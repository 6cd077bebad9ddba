#include "TestFiles.h"
#include "core/PieceFile.h"

#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

using namespace quavera;
using namespace quavera::testing;

namespace {

int OpenDescriptors() {
    return static_cast<int>(QDir("/proc/self/fd")
                                .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
                                .size());
}

// A kernel that refuses to copy between files, with the error of the moment.
int gRefusal = 0;
ssize_t RefusingCopy(int, loff_t*, int, loff_t*, std::size_t, unsigned int) {
    errno = gRefusal;
    return -1;
}

} // namespace

class PieceFileTest : public QObject {
    Q_OBJECT

private slots:
    // However the piece is made and named, the final name ends up holding exactly the piece and
    // nothing else is left in the folder. Without /proc the unnamed file cannot be linked: it is
    // copied into a named temporary instead of failing a cut whose piece is already written.
    void keptUnderItsName_data() {
        QTest::addColumn<bool>("unnamed");
        QTest::addColumn<bool>("nameTaken");
        QTest::addColumn<QString>("descriptorLinks");
        for (const bool unnamed : {true, false}) {
            for (const bool taken : {false, true}) {
                for (const char* links : {"/proc/self/fd", "/nonexistent/fd"}) {
                    const QString name = QStringLiteral("%1, name %2, links %3")
                                             .arg(unnamed ? "unnamed" : "named temporary",
                                                  taken ? "taken" : "free", links);
                    QTest::newRow(qPrintable(name)) << unnamed << taken << QString(links);
                }
            }
        }
    }
    void keptUnderItsName() {
        QFETCH(bool, unnamed);
        QFETCH(bool, nameTaken);
        QFETCH(QString, descriptorLinks);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        if (nameTaken)
            QVERIFY(WriteFileBytes(dir.filePath("[铃声]1a.mp3"), QByteArray(300000, 'o')));
        const int descriptorsBefore = OpenDescriptors();
        const QByteArray piece = PatternBytes(100, 70000);
        {
            const Descriptor folder(
                ::open(QFile::encodeName(dir.path()).constData(), O_RDONLY | O_DIRECTORY));
            QVERIFY(folder);
            RemoveLeftoverTemporaries(folder.get());
            auto file = PieceFile::Create(folder.get(), {unnamed, descriptorLinks.toStdString()});
            QVERIFY(file.has_value());
            QCOMPARE(::write(file->fd(), piece.constData(), piece.size()), ssize_t(piece.size()));
            QVERIFY(file->sync());
            QVERIFY(file->keepAs("[铃声]1a.mp3"));
        }
        QCOMPARE(FolderEntries(dir.path()), QStringList{"[铃声]1a.mp3"});
        QCOMPARE(ReadFileBytes(dir.filePath("[铃声]1a.mp3")), piece);
        QCOMPARE(OpenDescriptors(), descriptorsBefore);
    }

    // Without /proc the piece is copied; where the kernel cannot copy between the files, it is
    // copied by reading and writing instead of being lost.
    void copiedWhereTheKernelRefuses_data() {
        QTest::addColumn<int>("refusal");
        QTest::newRow("ENOSYS") << ENOSYS;
        QTest::newRow("EXDEV") << EXDEV;
        QTest::newRow("EOPNOTSUPP") << EOPNOTSUPP;
        QTest::newRow("EINVAL") << EINVAL;
    }
    void copiedWhereTheKernelRefuses() {
        QFETCH(int, refusal);
        gRefusal = refusal;
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QByteArray piece = PatternBytes(7, 3'000'000); // more than one block
        const Descriptor folder(
            ::open(QFile::encodeName(dir.path()).constData(), O_RDONLY | O_DIRECTORY));
        QVERIFY(folder);
        auto file = PieceFile::Create(folder.get(), {true, "/nonexistent/fd", &RefusingCopy});
        QVERIFY(file.has_value());
        QCOMPARE(::write(file->fd(), piece.constData(), piece.size()), ssize_t(piece.size()));
        QVERIFY(file->keepAs("[铃声]1a.mp3"));
        QCOMPARE(FolderEntries(dir.path()), QStringList{"[铃声]1a.mp3"});
        QCOMPARE(ReadFileBytes(dir.filePath("[铃声]1a.mp3")), piece);
    }
};

QTEST_GUILESS_MAIN(PieceFileTest)
#include "test_piece_file.moc"
