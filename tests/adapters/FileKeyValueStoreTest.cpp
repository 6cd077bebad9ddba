#include "adapters/FileKeyValueStore.h"

#include "faults/FaultFixtures.h"

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>
#include <thread>

using namespace quavera;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(const QByteArray& text) {
    return Bytes(text.begin(), text.end());
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

// Opens, sets and closes, as one call of the store's user would.
std::int32_t storeValue(KeyValueStore& store, StoreRoot root, const std::string& keyPath,
                        const std::string& name, const Bytes& data) {
    KeyValueStore::Handle handle = 0;
    if (const std::int32_t opened = store.openKey(root, keyPath, handle);
        opened != store_code::Success) {
        return opened;
    }
    const std::int32_t written = store.setValue(handle, name, data);
    store.closeKey(handle);
    return written;
}

// Stands for a missing key or value in comparisons, so a failure prints readably.
const QByteArray kMissing("<missing>");

// The value's bytes, or kMissing.
QByteArray fetchValue(KeyValueStore& store, StoreRoot root, const std::string& keyPath,
                      const std::string& name) {
    KeyValueStore::Handle handle = 0;
    if (store.openKey(root, keyPath, handle) != store_code::Success) {
        return kMissing;
    }
    Bytes data(1 << 16);
    std::uint32_t size = 0;
    const std::int32_t code = store.queryValue(handle, name, data, size);
    store.closeKey(handle);
    if (code != store_code::Success) {
        return kMissing;
    }
    return QByteArray(reinterpret_cast<const char*>(data.data()), size);
}

QStringList filesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden,
                                  QDir::Name);
}

const std::string kMarkerKey = "SOFTWARE\\Microsoft";
const std::string kStartPageKey = "Software\\Microsoft\\Internet Explorer\\Main";

} // namespace

Q_DECLARE_METATYPE(StoreRoot)

class FileKeyValueStoreTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        temporaryFolder_ = std::make_unique<QTemporaryDir>();
        QVERIFY(temporaryFolder_->isValid());
    }

    void opensOnlyExistingKeys_data() {
        QTest::addColumn<StoreRoot>("root");
        QTest::addColumn<QString>("keyPath");
        QTest::addColumn<int>("expected");
        const auto machine = StoreRoot::LocalMachine;
        const auto user = StoreRoot::CurrentUser;
        QTest::newRow("marker key") << machine << "SOFTWARE\\Microsoft" << store_code::Success;
        QTest::newRow("marker key, other case")
            << machine << "software\\MICROSOFT" << store_code::Success;
        QTest::newRow("start page key")
            << user << QString::fromStdString(kStartPageKey) << store_code::Success;
        QTest::newRow("start page key, other case")
            << user << "SOFTWARE\\microsoft\\internet explorer\\MAIN" << store_code::Success;
        QTest::newRow("parent of a key") << user << "Software\\Microsoft" << store_code::Success;
        QTest::newRow("the root itself") << machine << "" << store_code::Success;
        QTest::newRow("key of the other root")
            << machine << QString::fromStdString(kStartPageKey) << store_code::FileNotFound;
        QTest::newRow("missing key") << machine << "SOFTWARE\\Quavera" << store_code::FileNotFound;
        QTest::newRow("name prefix, not a parent")
            << machine << "SOFTWARE\\Micro" << store_code::FileNotFound;
        QTest::newRow("below an existing key")
            << machine << "SOFTWARE\\Microsoft\\Windows" << store_code::FileNotFound;
        QTest::newRow("final separator")
            << machine << "SOFTWARE\\Microsoft\\" << store_code::FileNotFound;
        QTest::newRow("leading separator")
            << machine << "\\SOFTWARE\\Microsoft" << store_code::FileNotFound;
        QTest::newRow("doubled separator")
            << machine << "SOFTWARE\\\\Microsoft" << store_code::FileNotFound;
        QTest::newRow("slash is no separator")
            << machine << "SOFTWARE/Microsoft" << store_code::FileNotFound;
    }
    void opensOnlyExistingKeys() {
        QFETCH(StoreRoot, root);
        QFETCH(QString, keyPath);
        QFETCH(int, expected);
        FileKeyValueStore store(folder());
        KeyValueStore::Handle handle = 0;
        QCOMPARE(store.openKey(root, keyPath.toStdString(), handle), expected);
        if (expected == store_code::Success) {
            QVERIFY(handle != 0);
            QCOMPARE(store.closeKey(handle), store_code::Success);
        }
        // Opening never creates anything.
        QCOMPARE(filesIn(folder()), QStringList());
    }

    void queryReportsSizeAndCopiesWhenThereIsRoom_data() {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<int>("room");
        QTest::addColumn<int>("expectedCode");
        QTest::newRow("empty value, no room") << QByteArray() << 0 << store_code::Success;
        QTest::newRow("one NUL, no room") << QByteArray(1, '\0') << 0 << store_code::MoreData;
        QTest::newRow("three bytes, room for four")
            << QByteArray("mp", 3) << 4 << store_code::Success;
        QTest::newRow("five bytes, room for four")
            << QByteArray("abcd", 5) << 4 << store_code::MoreData;
        QTest::newRow("exact room") << QByteArray("abcd", 5) << 5 << store_code::Success;
    }
    void queryReportsSizeAndCopiesWhenThereIsRoom() {
        QFETCH(QByteArray, stored);
        QFETCH(int, room);
        QFETCH(int, expectedCode);
        FileKeyValueStore store(folder());
        QCOMPARE(storeValue(store, StoreRoot::LocalMachine, kMarkerKey, "v", bytesOf(stored)),
                 store_code::Success);

        KeyValueStore::Handle handle = 0;
        QCOMPARE(store.openKey(StoreRoot::LocalMachine, kMarkerKey, handle), store_code::Success);
        Bytes area(static_cast<std::size_t>(room), ' ');
        std::uint32_t size = 12345;
        QCOMPARE(store.queryValue(handle, "v", area, size), expectedCode);
        QCOMPARE(size, static_cast<std::uint32_t>(stored.size()));
        if (expectedCode == store_code::Success) {
            const Bytes copied(area.begin(), area.begin() + stored.size());
            QCOMPARE(copied, bytesOf(stored));
            // Room beyond the data is left alone.
            QVERIFY(std::all_of(area.begin() + stored.size(), area.end(),
                                [](std::uint8_t byte) { return byte == ' '; }));
        } else {
            QVERIFY(std::all_of(area.begin(), area.end(),
                                [](std::uint8_t byte) { return byte == ' '; }));
        }
        QCOMPARE(store.closeKey(handle), store_code::Success);
    }

    void missingValueLeavesSizeUnchanged() {
        FileKeyValueStore store(folder());
        KeyValueStore::Handle handle = 0;
        QCOMPARE(store.openKey(StoreRoot::CurrentUser, kStartPageKey, handle), store_code::Success);
        Bytes area(4);
        std::uint32_t size = 77;
        QCOMPARE(store.queryValue(handle, "Start Page", area, size), store_code::FileNotFound);
        QCOMPARE(size, 77u);
        QCOMPARE(store.closeKey(handle), store_code::Success);
    }

    void valueNamesIgnoreCaseAndKeepTheirFirstSpelling() {
        FileKeyValueStore store(folder());
        QCOMPARE(storeValue(store, StoreRoot::LocalMachine, kMarkerKey, "Mp", bytesOf("x")),
                 store_code::Success);
        QCOMPARE(storeValue(store, StoreRoot::LocalMachine, "software\\microsoft", "MP",
                            bytesOf("second")),
                 store_code::Success);
        QCOMPARE(fetchValue(store, StoreRoot::LocalMachine, kMarkerKey, "mp"),
                 QByteArray("second"));
        QCOMPARE(fetchValue(store, StoreRoot::LocalMachine, kMarkerKey, "m"), kMissing);

        const QByteArray file = readFile(store.storeFilePath(StoreRoot::LocalMachine));
        QVERIFY2(file.contains("value Mp "), file.constData());
        QVERIFY(!file.contains("value MP "));
        QVERIFY(file.contains("key SOFTWARE%5CMicrosoft\n"));
        QCOMPARE(file.count("value "), 1);
    }

    void nonAsciiNamesIgnoreCase() {
        FileKeyValueStore store(folder());
        QCOMPARE(storeValue(store, StoreRoot::LocalMachine, kMarkerKey, "Ÿ名称", bytesOf("1")),
                 store_code::Success);
        QCOMPARE(fetchValue(store, StoreRoot::LocalMachine, kMarkerKey, "ÿ名称"), QByteArray("1"));
    }

    void everyByteSurvivesAnotherInstance() {
        QByteArray everyByte;
        for (int byte = 0; byte < 256; ++byte) {
            everyByte.append(static_cast<char>(byte));
        }
        std::string oddName = "a b\n%25\\=";
        oddName += '\0';
        oddName += "\xFF";
        {
            FileKeyValueStore writer(folder());
            QCOMPARE(storeValue(writer, StoreRoot::CurrentUser, kStartPageKey, oddName,
                                bytesOf(everyByte)),
                     store_code::Success);
            QCOMPARE(storeValue(writer, StoreRoot::CurrentUser, kStartPageKey, "", Bytes()),
                     store_code::Success);
        }
        FileKeyValueStore reader(folder());
        QCOMPARE(fetchValue(reader, StoreRoot::CurrentUser, kStartPageKey, oddName), everyByte);
        QCOMPARE(fetchValue(reader, StoreRoot::CurrentUser, kStartPageKey, ""), QByteArray());
        // The other root is a file of its own and still fresh.
        QVERIFY(!QFile::exists(reader.storeFilePath(StoreRoot::LocalMachine)));
        QCOMPARE(fetchValue(reader, StoreRoot::LocalMachine, kMarkerKey, oddName), kMissing);
    }

    void instancesSeeEachOthersWrites() {
        FileKeyValueStore first(folder());
        FileKeyValueStore second(folder());
        QCOMPARE(storeValue(first, StoreRoot::LocalMachine, kMarkerKey, "a", bytesOf("1")),
                 store_code::Success);
        QCOMPARE(storeValue(second, StoreRoot::LocalMachine, kMarkerKey, "b", bytesOf("2")),
                 store_code::Success);
        // The second write started from the file, so the first one is still there.
        QCOMPARE(fetchValue(first, StoreRoot::LocalMachine, kMarkerKey, "a"), QByteArray("1"));
        QCOMPARE(fetchValue(first, StoreRoot::LocalMachine, kMarkerKey, "b"), QByteArray("2"));
    }

    void valueInParentKeyCreatesIt() {
        FileKeyValueStore store(folder());
        QCOMPARE(storeValue(store, StoreRoot::CurrentUser, "Software", "v", bytesOf("p")),
                 store_code::Success);
        QCOMPARE(fetchValue(store, StoreRoot::CurrentUser, "SOFTWARE", "V"), QByteArray("p"));
        // The child it was implied by is still there.
        QCOMPARE(fetchValue(store, StoreRoot::CurrentUser, kStartPageKey, "v"), kMissing);
        KeyValueStore::Handle handle = 0;
        QCOMPARE(store.openKey(StoreRoot::CurrentUser, kStartPageKey, handle), store_code::Success);
    }

    void writeReplacesTheFileInOneStep() {
        FileKeyValueStore store(folder());
        QCOMPARE(storeValue(store, StoreRoot::LocalMachine, kMarkerKey, "mp", bytesOf("1")),
                 store_code::Success);
        const QString path = store.storeFilePath(StoreRoot::LocalMachine);
        struct stat before {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &before), 0);

        QCOMPARE(storeValue(store, StoreRoot::LocalMachine, kMarkerKey, "mp", bytesOf("2")),
                 store_code::Success);
        struct stat after {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &after), 0);
        // A new file took the old one's place by rename: a reader never sees a partial file.
        QVERIFY(before.st_ino != after.st_ino);
        QCOMPARE(filesIn(folder()), QStringList{"HKEY_LOCAL_MACHINE.store"});
    }

    void failedWriteIsReported() {
        // The folder's name is taken by a file, so nothing can be saved in it.
        const QString blocked = inFolder("config");
        writeFile(blocked, "not a folder");
        FileKeyValueStore store(blocked);
        QCOMPARE(storeValue(store, StoreRoot::LocalMachine, kMarkerKey, "mp", bytesOf("x")),
                 store_code::WriteFault);
        QCOMPARE(fetchValue(store, StoreRoot::LocalMachine, kMarkerKey, "mp"), kMissing);
        QCOMPARE(readFile(blocked), QByteArray("not a folder"));
    }

    void handlesAreReleasedOnce() {
        FileKeyValueStore store(folder());
        KeyValueStore::Handle first = 0;
        KeyValueStore::Handle second = 0;
        QCOMPARE(store.openKey(StoreRoot::LocalMachine, kMarkerKey, first), store_code::Success);
        QCOMPARE(store.openKey(StoreRoot::LocalMachine, kMarkerKey, second), store_code::Success);
        QVERIFY(first != second);

        QCOMPARE(store.closeKey(first), store_code::Success);
        QCOMPARE(store.closeKey(first), store_code::InvalidHandle);
        Bytes area(4);
        std::uint32_t size = 0;
        QCOMPARE(store.queryValue(first, "mp", area, size), store_code::InvalidHandle);
        QCOMPARE(store.setValue(first, "mp", bytesOf("x")), store_code::InvalidHandle);
        QCOMPARE(store.closeKey(0), store_code::InvalidHandle);
        // The other handle is unaffected.
        QCOMPARE(store.setValue(second, "mp", bytesOf("x")), store_code::Success);
        QCOMPARE(store.closeKey(second), store_code::Success);
    }

    void unreadableFileIsKeptAsideAndTheRootStartsFresh_data() {
        QTest::addColumn<QByteArray>("content");
        const QByteArray header("QuaveraKeyValueStore 1\n");
        QTest::newRow("empty file") << QByteArray();
        QTest::newRow("other program's text") << QByteArray("[Settings]\nmp=1\n");
        QTest::newRow("later format") << QByteArray("QuaveraKeyValueStore 2\n");
        QTest::newRow("cut short") << header + "key SOFTWARE%5CMicrosoft";
        QTest::newRow("value before any key") << header + "value mp mp%00\n";
        QTest::newRow("broken escape") << header + "key SOFTWARE%5\n";
        QTest::newRow("blank in a field") << header + "key SOFTWARE Microsoft\n";
        QTest::newRow("empty path segment") << header + "key SOFTWARE%5C%5CMicrosoft\n";
        QTest::newRow("binary junk") << QByteArray("\x00\xff\x13\x37\n", 5);
    }
    void unreadableFileIsKeptAsideAndTheRootStartsFresh() {
        QFETCH(QByteArray, content);
        FileKeyValueStore store(folder());
        const QString path = store.storeFilePath(StoreRoot::LocalMachine);
        writeFile(path, content);

        // Reads as a fresh root: the program's key is there, without values.
        KeyValueStore::Handle handle = 0;
        QCOMPARE(store.openKey(StoreRoot::LocalMachine, kMarkerKey, handle), store_code::Success);
        Bytes area(4);
        std::uint32_t size = 0;
        QCOMPARE(store.queryValue(handle, "mp", area, size), store_code::FileNotFound);
        QCOMPARE(store.setValue(handle, "mp", bytesOf("new")), store_code::Success);
        QCOMPARE(store.closeKey(handle), store_code::Success);

        const QStringList aside =
            QDir(folder()).entryList({"HKEY_LOCAL_MACHINE.store.unreadable-*"}, QDir::Files);
        QCOMPARE(aside.size(), 1);
        QCOMPARE(readFile(inFolder(aside.front())), content);
        QCOMPARE(fetchValue(store, StoreRoot::LocalMachine, kMarkerKey, "mp"), QByteArray("new"));
    }

    // Anything but a regular file under the store's name is kept aside like a damaged file;
    // a FIFO must not block the start and a device must not feed it.
    void specialFileIsKeptAside_data() {
        QTest::addColumn<QString>("kind");
        for (const char* kind : {"fifo", "folder", "device", "dangling link", "link loop"}) {
            QTest::newRow(kind) << kind;
        }
    }
    void specialFileIsKeptAside() {
        QFETCH(QString, kind);
        FileKeyValueStore store(folder());
        const QString path = store.storeFilePath(StoreRoot::LocalMachine);
        const QByteArray name = QFile::encodeName(path);
        if (kind == "fifo") {
            QCOMPARE(::mkfifo(name.constData(), 0600), 0);
        } else if (kind == "folder") {
            QVERIFY(QDir().mkdir(path));
        } else if (kind == "device") {
            QVERIFY(QFile::link("/dev/zero", path));
        } else if (kind == "dangling link") {
            QVERIFY(QFile::link(inFolder("gone"), path));
        } else {
            QVERIFY(QFile::link(path, path));
        }

        QCOMPARE(fetchValue(store, StoreRoot::LocalMachine, kMarkerKey, "mp"), kMissing);
        QCOMPARE(storeValue(store, StoreRoot::LocalMachine, kMarkerKey, "mp", bytesOf("mp")),
                 store_code::Success);
        QCOMPARE(fetchValue(store, StoreRoot::LocalMachine, kMarkerKey, "mp"), QByteArray("mp"));
        QCOMPARE(QDir(folder())
                     .entryList({"HKEY_LOCAL_MACHINE.store.unreadable-*"},
                                QDir::System | QDir::AllEntries)
                     .size(),
                 1);
    }

    void missingProgramKeyComesBack() {
        FileKeyValueStore store(folder());
        const QString path = store.storeFilePath(StoreRoot::LocalMachine);
        writeFile(path, "QuaveraKeyValueStore 1\nkey Other\nvalue v 1\n");
        QCOMPARE(storeValue(store, StoreRoot::LocalMachine, kMarkerKey, "mp", bytesOf("mp")),
                 store_code::Success);
        QCOMPARE(fetchValue(store, StoreRoot::LocalMachine, kMarkerKey, "mp"), QByteArray("mp"));
        QCOMPARE(fetchValue(store, StoreRoot::LocalMachine, "Other", "v"), QByteArray("1"));
    }

    // A write that does not reach the file whole (a full disk) leaves the old file as it was.
    void shortWriteKeepsTheOldFile() {
        FileKeyValueStore store(folder());
        QCOMPARE(storeValue(store, StoreRoot::LocalMachine, kMarkerKey, "big", Bytes(4000, 'x')),
                 store_code::Success);
        const QString path = store.storeFilePath(StoreRoot::LocalMachine);
        const QByteArray before = readFile(path);
        {
            const testing::FileSizeLimit limit(1024);
            QVERIFY(limit.active());
            QCOMPARE(storeValue(store, StoreRoot::LocalMachine, kMarkerKey, "mp", bytesOf("mp")),
                     store_code::WriteFault);
        }
        QCOMPARE(readFile(path), before);
        QCOMPARE(filesIn(folder()), QStringList{"HKEY_LOCAL_MACHINE.store"});
    }

    // Two instances changing one root at the same time keep both their changes.
    void concurrentInstancesLoseNothing() {
        constexpr int kWrites = 40;
        auto writeMany = [this](const std::string& prefix) {
            FileKeyValueStore store(folder());
            for (int index = 0; index < kWrites; ++index) {
                storeValue(store, StoreRoot::LocalMachine, kMarkerKey,
                           prefix + std::to_string(index), bytesOf("1"));
            }
        };
        std::thread first(writeMany, "a");
        std::thread second(writeMany, "b");
        first.join();
        second.join();
        FileKeyValueStore reader(folder());
        for (int index = 0; index < kWrites; ++index) {
            for (const std::string prefix : {"a", "b"}) {
                const std::string name = prefix + std::to_string(index);
                QVERIFY2(fetchValue(reader, StoreRoot::LocalMachine, kMarkerKey, name) == "1",
                         name.c_str());
            }
        }
    }

    // The lock of a process that has died is broken; a live one makes the write give up after
    // a short wait, leaving the file alone.
    void locksOfOtherProcesses() {
        FileKeyValueStore store(folder());
        const QString path = store.storeFilePath(StoreRoot::LocalMachine);
        QProcess finished;
        finished.start(QStringLiteral("true"), {});
        QVERIFY(finished.waitForStarted());
        const qint64 deadProcess = finished.processId();
        QVERIFY(finished.waitForFinished());
        writeFile(path + ".lock", QByteArray::number(deadProcess) + "\ntrue\n" +
                                      QSysInfo::machineHostName().toUtf8() + "\n");
        QCOMPARE(storeValue(store, StoreRoot::LocalMachine, kMarkerKey, "mp", bytesOf("1")),
                 store_code::Success);
        QVERIFY(!QFile::exists(path + ".lock"));

        QLockFile live(path + ".lock");
        QVERIFY(live.lock());
        QCOMPARE(storeValue(store, StoreRoot::LocalMachine, kMarkerKey, "mp", bytesOf("2")),
                 store_code::WriteFault);
        QCOMPARE(fetchValue(store, StoreRoot::LocalMachine, kMarkerKey, "mp"), QByteArray("1"));
    }

private:
    std::unique_ptr<QTemporaryDir> temporaryFolder_;

    [[nodiscard]] QString folder() const { return temporaryFolder_->path(); }
    [[nodiscard]] QString inFolder(const QString& name) const {
        return temporaryFolder_->filePath(name);
    }
};

QTEST_GUILESS_MAIN(FileKeyValueStoreTest)
#include "FileKeyValueStoreTest.moc"
