#include "TestFiles.h"
#include "core/PartWriter.h"
#include "fakes/FakeCutWindow.h"
#include "fakes/FakePlayer.h"

#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <filesystem>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace quavera;
using namespace quavera::testing;

using Sizes = QList<qint64>;

Q_DECLARE_METATYPE(CutOutcome)

namespace {

// Hidden names like the program's temporaries: the first two are what dead cuts leave, the
// others only look alike and must stay.
const QStringList kLeftovers = {".[铃声]0.00000000000a.tmp", ".[铃声]2.fedcba987654.tmp"};
const QStringList kLookAlikes = {".[铃声]1.0123456789ab.tmp.bak", ".[铃声]3.0123456789ab.tmp",
                                 ".[铃声]1.0123456789AB.tmp", "[铃声]1.0123456789ab.tmp",
                                 ".[铃声]1.0123456789a.tmp"};

// The names in `after` that are not in `before`.
QStringList Added(const QStringList& before, const QStringList& after) {
    QStringList added;
    for (const QString& name : after) {
        if (!before.contains(name))
            added << name;
    }
    return added;
}

QStringList Sorted(QStringList names) {
    names.sort();
    return names;
}

// A cut running in a child process, killed when the test is done with it.
struct ChildCut {
    pid_t pid = -1;
    ~ChildCut() { killAndWait(); }
    int killAndWait() {
        int status = 0;
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
        }
        pid = -1;
        return status;
    }
};

// A vfat file system in an image file, loop-mounted; needs root and vfat in the kernel.
struct VfatMount {
    QString point;
    bool mounted = false;
    VfatMount(const QString& image, const QString& folder) : point(folder) {
        mounted = QDir().mkpath(folder) && RunProgram("truncate", {"-s", "32M", image}) &&
                  RunProgram("mkfs.vfat", {image}) &&
                  RunProgram("mount", {"-o", "loop,utf8", image, folder});
    }
    ~VfatMount() {
        if (mounted)
            RunProgram("umount", {point});
    }
};

} // namespace

class PartWriterTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    Journal journal_;
    std::unique_ptr<FakeCutWindow> window_;
    std::unique_ptr<FakePlayer> player_;
    SplitFields fields_;
    CutState state_;
    QString source_;
    QString dest_;
    PieceStorage storage_;

    QString path(const QString& name) const { return dir_->filePath(name); }
    QString part(int index) const { return dest_ + "[铃声]" + QString::number(index) + "song.mp3"; }

    void plan(const Sizes& sizes) {
        state_.PartSizes.assign(sizes.begin(), sizes.end());
        state_.LastPart = static_cast<std::int16_t>(sizes.size() - 1);
    }

    CutReport cut(const std::string& endMark = "12.34") {
        return WriteParts(state_, CutPaths{Utf8(source_), Utf8(dest_)}, fields_, endMark, *window_,
                          *player_, storage_);
    }

    // What every cut that did not finish leaves: the window restored, no finished caption,
    // the player still playing, and the folder exactly as it was.
    void verifyNothingDone(const QStringList& entriesBefore) {
        QCOMPARE(FolderEntries(dest_), entriesBefore);
        QVERIFY(!window_->busy);
        QVERIFY(!fields_.locked());
        QCOMPARE(QString::fromStdString(window_->statusCaption), QString());
        QCOMPARE(QString::fromStdString(window_->endCaption), QString());
        QCOMPARE(player_->pauseCalls, 0);
        QCOMPARE(journal_.entries.back(), std::string("pointer:default"));
    }

private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        journal_ = {};
        window_ = std::make_unique<FakeCutWindow>(&journal_);
        player_ = std::make_unique<FakePlayer>(&journal_);
        player_->load("song.mp3", 100.0, 50.0);
        journal_.entries.clear();
        fields_ = SplitFields();
        fields_.changed = [this, locked = false]() mutable {
            if (fields_.locked() != locked)
                journal_.add(fields_.locked() ? "fields:locked" : "fields:unlocked");
            locked = fields_.locked();
        };
        state_ = CutState();
        storage_ = PieceStorage();
        source_ = path("song.mp3");
        dest_ = dir_->path() + "/";
        QVERIFY(WritePatternFile(source_, 101680));
    }

    // The piece's head goes first, then only the layout's range of the planned bytes (with a
    // chunk boundary inside it, also after a head longer than a chunk); a range the plan no
    // longer holds gets the plan's bytes, no head.
    void layoutShapesThePiece_data() {
        QTest::addColumn<qint64>("copyBegin");
        QTest::addColumn<qint64>("copyEnd");
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<bool>("used");
        QTest::newRow("inside the piece") << 30730LL << 1'100'000LL << QByteArray("head") << true;
        QTest::newRow("the whole piece") << 30720LL << 1'130'720LL << QByteArray("head") << true;
        QTest::newRow("head of a chunk and more")
            << 30730LL << 1'100'000LL << QByteArray(1'048'581, 'h') << true;
        QTest::newRow("begins before it") << 30000LL << 1'000'000LL << QByteArray("head") << false;
        QTest::newRow("ends after it") << 31000LL << 1'140'000LL << QByteArray("head") << false;
    }
    void layoutShapesThePiece() {
        QFETCH(qint64, copyBegin);
        QFETCH(qint64, copyEnd);
        QFETCH(QByteArray, head);
        QFETCH(bool, used);
        QVERIFY(WritePatternFile(source_, 1'200'000));
        plan({30720, 1'100'000, 69280});
        const PieceLayout layout{std::vector<std::uint8_t>(head.begin(), head.end()), copyBegin,
                                 copyEnd};

        const CutReport report = WriteParts(state_, CutPaths{Utf8(source_), Utf8(dest_)}, fields_,
                                            "1", *window_, *player_, storage_, layout);

        QVERIFY(report.ok());
        QCOMPARE(window_->yields, 27 + 980 + 61); // the plan's blocks, whatever is copied
        QCOMPARE(ReadFileBytes(part(1)), used ? head + PatternBytes(copyBegin, copyEnd - copyBegin)
                                              : PatternBytes(30720, 1'100'000));
    }

    // Head, piece and rest of a 101,680-byte source: 27 blocks and 426 bytes, 36 and 568, 26 and
    // 828.
    void threePartCut() {
        plan({30720, 40960, 30000});
        bool busyAndLockedThroughout = true;
        bool finalNameAbsentDuringCopy = true;
        window_->onYield = [&](int) {
            busyAndLockedThroughout = busyAndLockedThroughout && window_->busy && fields_.locked();
            finalNameAbsentDuringCopy = finalNameAbsentDuringCopy && !QFile::exists(part(1));
            return true;
        };

        const CutReport report = cut("12.34");

        QVERIFY(report.ok());
        QCOMPARE(window_->yields, 27 + 36 + 26);
        QVERIFY(busyAndLockedThroughout);
        QVERIFY(finalNameAbsentDuringCopy);
        QCOMPARE(FolderEntries(dest_), QStringList({"[铃声]1song.mp3", "song.mp3"}));
        QCOMPARE(ReadFileBytes(part(1)), PatternBytes(30720, 40960));
        QCOMPARE(ReadFileBytes(source_), PatternBytes(0, 101680));
        QCOMPARE(journal_.entries,
                 std::vector<std::string>({"pointer:busy", "fields:locked", "fields:unlocked",
                                           "pointer:default", "lb:剪切完成，请试听！",
                                           "player:pause", "lbj: 12秒"}));
        QVERIFY(!player_->playing);
        QCOMPARE(QString::fromStdString(state_.SourceName), QString("song.mp3"));
        QCOMPARE(QString::fromStdString(state_.SourcePath), source_);
        QCOMPARE(QString::fromStdString(state_.DestDir), dest_);
        QCOMPARE(int(state_.LastPart), 2);
        QCOMPARE(state_.PartSizes.size(), std::size_t{3});
    }

    // Part 1 of each size after a head of 100 bytes, reaching the end of the source.
    void blocksAndRemainder_data() {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("yields");
        QTest::newRow("empty part") << 0 << 0;
        QTest::newRow("remainder only") << 500 << 0;
        QTest::newRow("one byte short of a block") << 1121 << 0;
        QTest::newRow("one block") << 1122 << 1;
        QTest::newRow("two blocks, nothing after") << 2244 << 2;
        QTest::newRow("two blocks and a byte") << 2245 << 2;
    }
    void blocksAndRemainder() {
        QFETCH(int, size);
        QFETCH(int, yields);
        QVERIFY(WritePatternFile(source_, 100 + size));
        plan({100, size});
        QVERIFY(cut().ok());
        QCOMPARE(window_->yields, yields);
        QVERIFY(QFile::exists(part(1)));
        QCOMPARE(ReadFileBytes(part(1)), PatternBytes(100, size));
        QCOMPARE(FolderEntries(dest_), QStringList({"[铃声]1song.mp3", "song.mp3"}));
    }

    // Parts that start and end anywhere relative to the large reads underneath the blocks.
    void partsAcrossManyReads_data() {
        QTest::addColumn<qint64>("head");
        QTest::addColumn<qint64>("piece");
        QTest::newRow("odd offsets") << qint64(1000001) << qint64(1500000);
        QTest::newRow("empty head") << qint64(0) << qint64(2500000);
        QTest::newRow("head of one MiB") << qint64(1048576) << qint64(1048576 + 1122);
        QTest::newRow("piece of one byte") << qint64(2999998) << qint64(1);
    }
    void partsAcrossManyReads() {
        QFETCH(qint64, head);
        QFETCH(qint64, piece);
        const qint64 sourceSize = 3000000;
        QVERIFY(WritePatternFile(source_, sourceSize));
        const qint64 tail = sourceSize - head - piece;
        plan({head, piece, tail});
        QVERIFY(cut().ok());
        QCOMPARE(window_->yields, int(head / 1122 + piece / 1122 + tail / 1122));
        QCOMPARE(ReadFileBytes(part(1)), PatternBytes(head, piece));
    }

    void endCaption_data() {
        QTest::addColumn<QString>("endMark");
        QTest::addColumn<QString>("caption");
        QTest::newRow("12.34") << "12.34"
                               << " 12秒";
        QTest::newRow("no end mark") << ""
                                     << " 0秒";
        QTest::newRow("not a number") << "abc"
                                      << " 0秒";
        QTest::newRow("beyond whole seconds") << "32767.5"
                                              << " 0秒";
    }
    void endCaption() {
        QFETCH(QString, endMark);
        QFETCH(QString, caption);
        plan({30720, 40960, 30000});
        QVERIFY(cut(Utf8(endMark)).ok());
        QCOMPARE(QString::fromStdString(window_->endCaption), caption);
    }

    // Files the user had under the names of parts 0 and 2 are neither overwritten nor deleted;
    // the second part reaches the end of the source.
    void twoPartCutKeepsOtherFiles() {
        QVERIFY(WriteFileBytes(part(0), "mine, part zero"));
        QVERIFY(WriteFileBytes(part(2), "mine, part two"));
        plan({30720, 70960});
        QVERIFY(cut().ok());
        QCOMPARE(window_->yields, 27 + 63);
        QCOMPARE(ReadFileBytes(part(1)), PatternBytes(30720, 70960));
        QCOMPARE(ReadFileBytes(part(0)), QByteArray("mine, part zero"));
        QCOMPARE(ReadFileBytes(part(2)), QByteArray("mine, part two"));
        QCOMPARE(FolderEntries(dest_), QStringList({"[铃声]0song.mp3", "[铃声]1song.mp3",
                                                    "[铃声]2song.mp3", "song.mp3"}));
    }

    void longerPartFileEndsAtThePart() {
        QVERIFY(WriteFileBytes(part(1), QByteArray(200000, 'x')));
        plan({30720, 40960, 30000});
        QVERIFY(cut().ok());
        QCOMPARE(ReadFileBytes(part(1)), PatternBytes(30720, 40960));
    }

    void negativePartIsRefused() {
        const QStringList before = FolderEntries(dest_);
        plan({51200, -30720, 81200});
        const CutReport report = cut();
        QCOMPARE(report.outcome, CutOutcome::NegativePart);
        QCOMPARE(window_->yields, 0);
        verifyNothingDone(before);
    }

    void partFileThatIsTheSourceIsRefused_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<bool>("hardLink");
        QTest::newRow("symbolic link as part 1") << 1 << false;
        QTest::newRow("hard link as part 1") << 1 << true;
        QTest::newRow("symbolic link as part 2") << 2 << false;
    }
    void partFileThatIsTheSourceIsRefused() {
        QFETCH(int, index);
        QFETCH(bool, hardLink);
        namespace fs = std::filesystem;
        std::error_code error;
        if (hardLink)
            fs::create_hard_link(Utf8(source_), Utf8(part(index)), error);
        else
            fs::create_symlink("song.mp3", Utf8(part(index)), error);
        QVERIFY2(!error, error.message().c_str());
        const QStringList before = FolderEntries(dest_);

        plan({30720, 40960, 30000});
        const CutReport report = cut();

        QCOMPARE(report.outcome, CutOutcome::SourceIsPartFile);
        QCOMPARE(QString::fromStdString(report.file), part(index));
        QCOMPARE(window_->yields, 0);
        QCOMPARE(ReadFileBytes(source_), PatternBytes(0, 101680));
        verifyNothingDone(before);
    }

    // A cut that fails leaves the folder as it was, the user's files included.
    void failedCutLeavesNothing_data() {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<CutOutcome>("outcome");
        QTest::addColumn<QString>("failedFile");
        QTest::newRow("source missing")
            << "source missing" << CutOutcome::SourceUnreadable << "{dir}/gone.mp3";
        QTest::newRow("source is a folder")
            << "source folder" << CutOutcome::SourceUnreadable << "{dir}/folder.mp3";
        QTest::newRow("source shorter than the plan")
            << "source short" << CutOutcome::SourceTooShort << "{dir}/song.mp3";
        QTest::newRow("destination missing")
            << "destination missing" << CutOutcome::PartUnwritable << "{dir}/gone/[铃声]1song.mp3";
        QTest::newRow("part 1 name taken by a folder")
            << "part folder" << CutOutcome::PartUnwritable << "{dir}/[铃声]1song.mp3";
    }
    void failedCutLeavesNothing() {
        QFETCH(QString, failure);
        QFETCH(CutOutcome, outcome);
        QFETCH(QString, failedFile);
        QVERIFY(WriteFileBytes(part(0), "mine"));
        QVERIFY(WriteFileBytes(part(2), "mine too"));
        if (failure == "source missing")
            source_ = path("gone.mp3");
        if (failure == "source folder") {
            QVERIFY(QDir(dir_->path()).mkdir("folder.mp3"));
            source_ = path("folder.mp3");
        }
        if (failure == "source short")
            QVERIFY(WritePatternFile(source_, 50000));
        if (failure == "destination missing")
            dest_ = path("gone/");
        if (failure == "part folder")
            QVERIFY(QDir(dir_->path()).mkpath("[铃声]1song.mp3/inside"));
        const QString folder = dir_->path() + "/";
        const QStringList before = FolderEntries(folder);

        plan({30720, 40960, 30000});
        const CutReport report = cut();

        QCOMPARE(report.outcome, outcome);
        QCOMPARE(QString::fromStdString(report.file), failedFile.replace("{dir}", dir_->path()));
        QCOMPARE(FolderEntries(folder), before);
        QCOMPARE(ReadFileBytes(path("[铃声]0song.mp3")), QByteArray("mine"));
        QCOMPARE(ReadFileBytes(path("[铃声]2song.mp3")), QByteArray("mine too"));
        QVERIFY(!window_->busy);
        QVERIFY(!fields_.locked());
        QVERIFY(window_->statusCaption.empty());
        QCOMPARE(player_->pauseCalls, 0);
        if (outcome != CutOutcome::SourceTooShort)
            QVERIFY(!report.reason.empty());
    }

    // A full disk, played by a file size limit: the write fails and the report says why; on
    // both roads the piece's file goes.
    void writeFailureIsReported_data() { leftoversOfDeadCutsAreRemoved_data(); }
    void writeFailureIsReported() {
        QFETCH(bool, unnamed);
        storage_.unnamedTemporary = unnamed;
        rlimit saved{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = saved;
        small.rlim_cur = 20000;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        const QStringList before = FolderEntries(dest_);

        plan({30720, 40960, 30000});
        const CutReport report = cut();

        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previousHandler);
        QCOMPARE(report.outcome, CutOutcome::PartUnwritable);
        QCOMPARE(QString::fromStdString(report.file), part(1));
        QCOMPARE(QString::fromStdString(report.reason),
                 QString::fromStdString(std::generic_category().message(EFBIG)));
        verifyNothingDone(before);
    }

    // Closing the window mid-cut: the copy stops at once and its files go.
    void abandonedCutLeavesNothing_data() { leftoversOfDeadCutsAreRemoved_data(); }
    void abandonedCutLeavesNothing() {
        QFETCH(bool, unnamed);
        storage_.unnamedTemporary = unnamed;
        QVERIFY(WriteFileBytes(part(1), "an earlier ringtone"));
        const QStringList before = FolderEntries(dest_);
        window_->onYield = [](int yieldNumber) { return yieldNumber < 40; };
        plan({30720, 40960, 30000});

        const CutReport report = cut();

        QCOMPARE(report.outcome, CutOutcome::Abandoned);
        QCOMPARE(window_->yields, 40);
        QCOMPARE(ReadFileBytes(part(1)), QByteArray("an earlier ringtone"));
        verifyNothingDone(before);
    }

    // 32,768 whole blocks: more than a 16-bit counter can count.
    void partBeyondSixteenBitBlockCountIsWhole() {
        const qint64 largePart = 36765696;
        const qint64 sourceSize = 1000 + largePart + 1000;
        std::filesystem::resize_file(Utf8(source_), static_cast<std::uintmax_t>(sourceSize));
        QFile source(source_);
        QVERIFY(source.open(QIODevice::ReadWrite));
        for (const qint64 offset :
             {qint64(0), qint64(1000 + 32767 * 1122 - 2048), sourceSize - 4096}) {
            QVERIFY(source.seek(offset));
            QCOMPARE(source.write(PatternBytes(offset, 4096)), qint64(4096));
        }
        source.close();
        plan({1000, largePart, 1000});

        QVERIFY(cut().ok());

        QCOMPARE(window_->yields, 32768);
        QCOMPARE(QFileInfo(part(1)).size(), largePart);
        QVERIFY(ReadFileBytes(part(1)) == ReadFileBytes(source_).mid(1000, largePart));
    }

    // The source loses bytes while the cut runs, in each of the three parts: the parts that are
    // only passed over are checked as well as the piece.
    void sourceShortenedDuringCut_data() {
        QTest::addColumn<int>("atYield");
        QTest::addColumn<qint64>("shortenedTo");
        QTest::newRow("in the head") << 5 << qint64(20000);
        QTest::newRow("in the piece") << 40 << qint64(50000);
        QTest::newRow("in the tail") << 70 << qint64(90000);
    }
    void sourceShortenedDuringCut() {
        QFETCH(int, atYield);
        QFETCH(qint64, shortenedTo);
        const QStringList before = FolderEntries(dest_);
        window_->onYield = [&](int yieldNumber) {
            if (yieldNumber == atYield)
                std::filesystem::resize_file(Utf8(source_), std::uintmax_t(shortenedTo));
            return true;
        };
        plan({30720, 40960, 30000});

        const CutReport report = cut();

        QCOMPARE(report.outcome, CutOutcome::SourceTooShort);
        QCOMPARE(QString::fromStdString(report.file), source_);
        verifyNothingDone(before);
    }

    // With or without unnamed files, a cut removes what dead cuts left in its folder, and only
    // that, and the folder shows at most the piece's temporary while it runs.
    void leftoversOfDeadCutsAreRemoved_data() {
        QTest::addColumn<bool>("unnamed");
        QTest::newRow("unnamed file") << true;
        QTest::newRow("named temporary") << false;
    }
    void leftoversOfDeadCutsAreRemoved() {
        QFETCH(bool, unnamed);
        storage_.unnamedTemporary = unnamed;
        for (const QString& name : kLeftovers + kLookAlikes)
            QVERIFY(WriteFileBytes(path(name), "left"));
        QVERIFY(QDir(dir_->path()).mkdir(".[铃声]1.00000000000b.tmp"));
        const QStringList expected = Added(kLeftovers, FolderEntries(dest_)) << "[铃声]1song.mp3";
        QStringList addedDuringCut;
        window_->onYield = [&](int) {
            addedDuringCut = Added(expected, FolderEntries(dest_));
            return true;
        };
        plan({30720, 40960, 30000});

        QVERIFY(cut().ok());

        QCOMPARE(FolderEntries(dest_), Sorted(expected));
        QCOMPARE(ReadFileBytes(part(1)), PatternBytes(30720, 40960));
        QCOMPARE(addedDuringCut.size(), unnamed ? 0 : 1);
        if (!unnamed)
            QVERIFY(addedDuringCut.front().startsWith(".[铃声]1."));
    }

    // A cut killed in the middle of its piece, while another cut runs into the same folder, then
    // the next cut there.
    void killedCutLeavesNothing_data() { leftoversOfDeadCutsAreRemoved_data(); }
    void killedCutLeavesNothing() {
        QFETCH(bool, unnamed);
        storage_.unnamedTemporary = unnamed;
        const qint64 sourceSize = 64 << 20;
        std::filesystem::resize_file(Utf8(source_), std::uintmax_t(sourceSize));
        const QStringList before = FolderEntries(dest_);
        plan({16 << 20, 32 << 20, 16 << 20});
        int ready[2];
        QCOMPARE(::pipe(ready), 0);
        const int midPiece = (32 << 20) / 1122;
        window_->onYield = [&](int yieldNumber) {
            if (yieldNumber == midPiece) {
                (void)!::write(ready[1], "m", 1);
                for (;;)
                    ::pause();
            }
            return true;
        };

        ChildCut child;
        child.pid = ::fork();
        QVERIFY(child.pid >= 0);
        if (child.pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL); // never outlive a test run that dies
            (void)cut();
            ::_exit(1);
        }
        ::close(ready[1]);
        char mark = 0;
        QCOMPARE(::read(ready[0], &mark, 1), ssize_t(1));
        ::close(ready[0]);
        const QStringList during = Added(before, FolderEntries(dest_));
        QCOMPARE(during.size(), unnamed ? 0 : 1);

        window_->onYield = {};
        QVERIFY(cut().ok()); // the running cut's temporary is not a leftover
        QCOMPARE(Added(before, FolderEntries(dest_)), QStringList(during) << "[铃声]1song.mp3");
        QVERIFY(QFile::remove(part(1)));

        const int status = child.killAndWait();
        QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
        QCOMPARE(FolderEntries(dest_), Sorted(before + during));

        QVERIFY(cut().ok());
        QCOMPARE(Added(before, FolderEntries(dest_)), QStringList({"[铃声]1song.mp3"}));
    }

    // A real file system without unnamed files: the piece goes through a named temporary.
    void vfatFolder() {
        if (::geteuid() != 0)
            QSKIP("mounting a vfat image needs root");
        const VfatMount vfat(path("vfat.img"), path("card"));
        if (!vfat.mounted)
            QSKIP("no vfat here (mkfs.vfat, loop devices or the vfat driver missing)");
        dest_ = vfat.point + "/";
        QVERIFY(WriteFileBytes(dest_ + kLeftovers.front(), "left"));
        QVERIFY(WriteFileBytes(part(1), "an earlier ringtone"));
        bool temporarySeen = false;
        window_->onYield = [&](int) {
            temporarySeen = temporarySeen || FolderEntries(dest_).size() == 2;
            return true;
        };
        plan({30720, 40960, 30000});

        QVERIFY(cut().ok());

        QVERIFY(temporarySeen);
        QCOMPARE(FolderEntries(dest_), QStringList({"[铃声]1song.mp3"}));
        QCOMPARE(ReadFileBytes(part(1)), PatternBytes(30720, 40960));
    }

    void namesWithCJKAndBlanks() {
        QVERIFY(QDir(dir_->path()).mkpath("我的 音乐"));
        QVERIFY(QDir(dir_->path()).mkpath("铃声 文件夹"));
        source_ = path("我的 音乐/老 歌 1.mp3");
        dest_ = path("铃声 文件夹/");
        QVERIFY(WritePatternFile(source_, 101680));
        plan({30720, 40960, 30000});
        QVERIFY(cut().ok());
        QCOMPARE(QString::fromStdString(state_.SourceName), QString("老 歌 1.mp3"));
        QCOMPARE(FolderEntries(dest_), QStringList({"[铃声]1老 歌 1.mp3"}));
        QCOMPARE(ReadFileBytes(dest_ + "[铃声]1老 歌 1.mp3"), PatternBytes(30720, 40960));
    }
};

QTEST_GUILESS_MAIN(PartWriterTest)
#include "test_part_writer.moc"
