#include "core/RegistryStrings.h"

#include "ScriptedKeyValueStore.h"
#include "adapters/FileKeyValueStore.h"
#include "app/FirstRunOffer.h"
#include "core/ProgramInfo.h"
#include "fakes/FakeMessageBoxes.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace quavera;
using quavera::testing::FakeMessageBoxes;
using quavera::testing::ScriptedKeyValueStore;

namespace {

using Bytes = std::vector<std::uint8_t>;

const std::string kMarkerKey = "SOFTWARE\\Microsoft";
const std::string kStartPageKey = "Software\\Microsoft\\Internet Explorer\\Main";
const std::string kOfferTitle = "Quavera-提示";
const std::string kOfferText =
    "本提示是在您第一次启动本软件的时候提示，以后将不再提示！是否将114r上网"
    "导航设置为您浏览器的首页?支持我们，请点确定。谢谢！";

QByteArray asBytes(const std::string& text) {
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

// The raw bytes the store holds for a value, or "<missing>".
QByteArray storedBytes(KeyValueStore& store, StoreRoot root, const std::string& keyPath,
                       const std::string& name) {
    KeyValueStore::Handle handle = 0;
    if (store.openKey(root, keyPath, handle) != store_code::Success) {
        return "<missing>";
    }
    Bytes area(4096);
    std::uint32_t size = 0;
    const std::int32_t code = store.queryValue(handle, name, area, size);
    store.closeKey(handle);
    return code == store_code::Success
               ? QByteArray(reinterpret_cast<const char*>(area.data()), size)
               : QByteArray("<missing>");
}

void storeBytes(KeyValueStore& store, StoreRoot root, const std::string& keyPath,
                const std::string& name, const QByteArray& bytes) {
    KeyValueStore::Handle handle = 0;
    QCOMPARE(store.openKey(root, keyPath, handle), store_code::Success);
    QCOMPARE(store.setValue(handle, name, Bytes(bytes.begin(), bytes.end())), store_code::Success);
    QCOMPARE(store.closeKey(handle), store_code::Success);
}

} // namespace

class RegistryStringsTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        folder_ = std::make_unique<QTemporaryDir>();
        QVERIFY(folder_->isValid());
        store_ = std::make_unique<FileKeyValueStore>(folder_->path());
    }

    void writtenTextIsStoredWithOneNul_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("stored");
        QTest::newRow("empty text: no bytes at all") << "" << QByteArray();
        QTest::newRow("marker") << "mp" << QByteArray("mp\0", 3);
        QTest::newRow("one letter") << "a" << QByteArray("a\0", 2);
        QTest::newRow("two bytes per character") << "é£" << QByteArray("\xC3\xA9\xC2\xA3\0", 5);
        QTest::newRow("three bytes per character")
            << "铃声" << QByteArray("\xE9\x93\x83\xE5\xA3\xB0\0", 7);
        QTest::newRow("address") << "https://quavera.example.org/a b?c=1"
                                 << QByteArray("https://quavera.example.org/a b?c=1\0", 36);
    }
    void writtenTextIsStoredWithOneNul() {
        QFETCH(QString, text);
        QFETCH(QByteArray, stored);
        RegistryStrings registry(*store_);
        registry.RegWriteString(StoreRoot::LocalMachine, kMarkerKey, "v", text.toStdString());
        QCOMPARE(registry.LastRegError(), store_code::Success);
        QCOMPARE(storedBytes(*store_, StoreRoot::LocalMachine, kMarkerKey, "v"), stored);

        // And it reads back whole, multi-byte characters included.
        QCOMPARE(QString::fromStdString(
                     registry.RegReadString(StoreRoot::LocalMachine, kMarkerKey, "V")),
                 text);
        QCOMPARE(registry.LastRegError(), store_code::Success);
    }

    void storedBytesReadBackLessTheirLastByte_data() {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QByteArray>("read");
        QTest::newRow("no bytes") << QByteArray() << QByteArray();
        QTest::newRow("only the NUL") << QByteArray(1, '\0') << QByteArray();
        QTest::newRow("one byte without NUL") << QByteArray("z") << QByteArray();
        QTest::newRow("a and b") << QByteArray("ab\0", 3) << QByteArray("ab");
        QTest::newRow("four bytes fit the first query")
            << QByteArray("abc\0", 4) << QByteArray("abc");
        QTest::newRow("five bytes need the second query")
            << QByteArray("abcd\0", 5) << QByteArray("abcd");
        QTest::newRow("no NUL: the last byte goes") << QByteArray("abc") << QByteArray("ab");
        QTest::newRow("NUL inside is kept") << QByteArray("a\0b\0", 4) << QByteArray("a\0b", 3);
        QTest::newRow("long text") << QByteArray(3000, 'q') + '\0' << QByteArray(3000, 'q');
    }
    void storedBytesReadBackLessTheirLastByte() {
        QFETCH(QByteArray, stored);
        QFETCH(QByteArray, read);
        storeBytes(*store_, StoreRoot::CurrentUser, kStartPageKey, "Start Page", stored);
        RegistryStrings registry(*store_);
        QCOMPARE(
            asBytes(registry.RegReadString(StoreRoot::CurrentUser, kStartPageKey, "start page")),
            read);
        QCOMPARE(registry.LastRegError(), store_code::Success);
    }

    void emptyKeyPathTouchesNothing() {
        ScriptedKeyValueStore scripted;
        scripted.value = Bytes{'x', 0};
        RegistryStrings registry(scripted);
        QCOMPARE(registry.RegReadString(StoreRoot::LocalMachine, "", "mp"), std::string());
        QCOMPARE(registry.LastRegError(), kEmptyKeyPathError);
        registry.RegWriteString(StoreRoot::LocalMachine, "", "mp", "y");
        QCOMPARE(registry.LastRegError(), kEmptyKeyPathError);
        QCOMPARE(scripted.calls, 0);

        // The next call starts again from success.
        QCOMPARE(registry.RegReadString(StoreRoot::LocalMachine, kMarkerKey, "mp"), "x");
        QCOMPARE(registry.LastRegError(), store_code::Success);
    }

    void missingKeyReadsEmptyAndGetsNothingWritten() {
        RegistryStrings registry(*store_);
        QCOMPARE(registry.RegReadString(StoreRoot::LocalMachine, "SOFTWARE\\Quavera", "mp"),
                 std::string());
        QCOMPARE(registry.LastRegError(), store_code::FileNotFound);

        registry.RegWriteString(StoreRoot::LocalMachine, "SOFTWARE\\Quavera", "mp", "x");
        QCOMPARE(registry.LastRegError(), store_code::FileNotFound);
        QCOMPARE(storedBytes(*store_, StoreRoot::LocalMachine, "SOFTWARE\\Quavera", "mp"),
                 QByteArray("<missing>"));
        QVERIFY(!QFile::exists(store_->storeFilePath(StoreRoot::LocalMachine)));
    }

    void missingValueReadsEmptyWithTheCloseResult() {
        RegistryStrings registry(*store_);
        QCOMPARE(registry.RegReadString(StoreRoot::LocalMachine, kMarkerKey, "absent"),
                 std::string());
        QCOMPARE(registry.LastRegError(), store_code::Success);
    }

    void statusEndsAsTheCloseResult_data() {
        QTest::addColumn<int>("setResult");
        QTest::addColumn<int>("closeResult");
        QTest::newRow("write refused, close fine")
            << store_code::AccessDenied << store_code::Success;
        QTest::newRow("write fault, close fine") << store_code::WriteFault << store_code::Success;
        QTest::newRow("all fine, close fails") << store_code::Success << store_code::InvalidHandle;
        QTest::newRow("both fail") << store_code::WriteFault << store_code::InvalidHandle;
    }
    void statusEndsAsTheCloseResult() {
        QFETCH(int, setResult);
        QFETCH(int, closeResult);
        ScriptedKeyValueStore scripted;
        scripted.setResult = setResult;
        scripted.closeResult = closeResult;
        RegistryStrings registry(scripted);

        registry.RegWriteString(StoreRoot::LocalMachine, kMarkerKey, "mp", "mp");
        QCOMPARE(registry.LastRegError(), closeResult);
        QCOMPARE(scripted.openHandles, 0);

        scripted.value = Bytes{'o', 'k', 0};
        QCOMPARE(registry.RegReadString(StoreRoot::LocalMachine, kMarkerKey, "mp"), "ok");
        QCOMPARE(registry.LastRegError(), closeResult);
        QCOMPARE(scripted.openHandles, 0);
    }

    void failedOpenLeavesNothingToClose() {
        ScriptedKeyValueStore scripted;
        scripted.openResult = store_code::AccessDenied;
        RegistryStrings registry(scripted);
        registry.RegWriteString(StoreRoot::LocalMachine, kMarkerKey, "mp", "mp");
        QCOMPARE(registry.LastRegError(), store_code::AccessDenied);
        QCOMPARE(registry.RegReadString(StoreRoot::LocalMachine, kMarkerKey, "mp"), std::string());
        QCOMPARE(registry.LastRegError(), store_code::AccessDenied);
        QCOMPARE(scripted.calls, 2); // the two opens, no close
    }

    void fixedLocations() {
        RegistryStrings registry(*store_);
        registry.WriteFirstRunMarker("x");
        QCOMPARE(registry.LastRegError(), store_code::Success);
        // Written under "MP", read under "mp": one and the same value.
        QCOMPARE(storedBytes(*store_, StoreRoot::LocalMachine, kMarkerKey, "mp"),
                 QByteArray("x\0", 2));
        QCOMPARE(registry.ReadFirstRunMarker(), "x");

        registry.SetBrowserStartPage("https://example.org/");
        QCOMPARE(registry.LastRegError(), store_code::Success);
        QCOMPARE(storedBytes(*store_, StoreRoot::CurrentUser, kStartPageKey, "Start Page"),
                 QByteArray("https://example.org/\0", 21));
        QCOMPARE(storedBytes(*store_, StoreRoot::LocalMachine, kMarkerKey, "Start Page"),
                 QByteArray("<missing>"));
    }

    void firstStartAnsweredCancel() {
        {
            RegistryStrings registry(*store_);
            FakeMessageBoxes boxes;
            boxes.answer = MessageAnswer::Cancel;
            RunFirstRunOffer(registry, boxes);
            QCOMPARE(boxes.shown.size(), 1u);
            QCOMPARE(boxes.shown[0].title, kOfferTitle);
            QCOMPARE(boxes.shown[0].text, kOfferText);
            QCOMPARE(boxes.shown[0].icon, MessageIcon::None);
            QCOMPARE(boxes.shown[0].buttons, MessageButtons::OkCancel);
            QCOMPARE(registry.ReadFirstRunMarker(), "mp");
            QCOMPARE(storedBytes(*store_, StoreRoot::CurrentUser, kStartPageKey, "Start Page"),
                     QByteArray("<missing>"));
        }
        // The next start, with a new store over the same files, asks nothing.
        FileKeyValueStore nextStore(folder_->path());
        RegistryStrings nextRegistry(nextStore);
        FakeMessageBoxes nextBoxes;
        RunFirstRunOffer(nextRegistry, nextBoxes);
        QVERIFY(nextBoxes.shown.empty());
        QCOMPARE(storedBytes(nextStore, StoreRoot::CurrentUser, kStartPageKey, "Start Page"),
                 QByteArray("<missing>"));
    }

    void firstStartAnsweredOk() {
        RegistryStrings registry(*store_);
        FakeMessageBoxes boxes;
        RunFirstRunOffer(registry, boxes);
        QCOMPARE(boxes.shown.size(), 1u);
        QCOMPARE(registry.RegReadString(StoreRoot::CurrentUser, kStartPageKey, "Start Page"),
                 std::string(info::kHomePageAddress));
        QCOMPARE(registry.ReadFirstRunMarker(), "mp");
    }

    void anyMarkerTextMeansAskedBefore() {
        storeBytes(*store_, StoreRoot::LocalMachine, kMarkerKey, "Mp", QByteArray("x\0", 2));
        RegistryStrings registry(*store_);
        FakeMessageBoxes boxes;
        RunFirstRunOffer(registry, boxes);
        QVERIFY(boxes.shown.empty());
        QCOMPARE(storedBytes(*store_, StoreRoot::LocalMachine, kMarkerKey, "mp"),
                 QByteArray("mp\0", 3));
        QCOMPARE(storedBytes(*store_, StoreRoot::CurrentUser, kStartPageKey, "Start Page"),
                 QByteArray("<missing>"));
    }

    void markerThatCannotBeWrittenAsksAgain() {
        // The configuration folder's name is taken by a file: nothing can be saved.
        const QString blocked = folder_->filePath("blocked");
        QFile file(blocked);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        FileKeyValueStore store(blocked);
        for (int start = 0; start < 2; ++start) {
            RegistryStrings registry(store);
            FakeMessageBoxes boxes;
            boxes.answer = MessageAnswer::Cancel;
            RunFirstRunOffer(registry, boxes);
            QCOMPARE(boxes.shown.size(), 1u);
        }
    }

private:
    std::unique_ptr<QTemporaryDir> folder_;
    std::unique_ptr<FileKeyValueStore> store_;
};

QTEST_GUILESS_MAIN(RegistryStringsTest)
#include "RegistryStringsTest.moc"
