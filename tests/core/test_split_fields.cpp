#include "core/SplitFields.h"

#include <QTest>

using namespace quavera;

class SplitFieldsTest : public QObject {
    Q_OBJECT

private slots:
    void startAsZero() {
        const SplitFields fields;
        for (int i = 0; i < SplitFields::kCount; ++i)
            QCOMPARE(QString::fromStdString(fields.text(i)), QString("0"));
        QVERIFY(!fields.locked());
    }

    void keepsEightCharacters_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("kept");
        QTest::newRow("short") << "29.3"
                               << "29.3";
        QTest::newRow("exactly eight") << "12345678"
                                       << "12345678";
        QTest::newRow("number text of an offset") << "1234.56789012345"
                                                  << "1234.567";
        QTest::newRow("remainder of a large file") << "1048576.3"
                                                   << "1048576.";
        QTest::newRow("empty") << ""
                               << "";
        // Characters, not bytes: eight CJK characters are 24 bytes and all of them stay.
        QTest::newRow("CJK characters") << "铃声铃声铃声铃声铃声"
                                        << "铃声铃声铃声铃声";
        QTest::newRow("mixed") << "12铃声345678"
                               << "12铃声3456";
    }
    void keepsEightCharacters() {
        QFETCH(QString, text);
        QFETCH(QString, kept);
        SplitFields fields;
        fields.setText(1, text.toStdString());
        QCOMPARE(QString::fromStdString(fields.text(1)), kept);
        QCOMPARE(QString::fromStdString(fields.text(0)), QString("0"));
        QCOMPARE(QString::fromStdString(fields.text(2)), QString("0"));
    }

    void changedFiresAfterEachChange() {
        SplitFields fields;
        QStringList seen;
        fields.changed = [&] {
            seen << QString("%1|%2|%3|%4")
                        .arg(QString::fromStdString(fields.text(0)),
                             QString::fromStdString(fields.text(1)),
                             QString::fromStdString(fields.text(2)))
                        .arg(fields.locked());
        };
        fields.setText(0, "30");
        fields.setText(0, "30"); // no change, no call
        fields.setText(2, "123456789");
        LockSplitFields(fields, true);
        LockSplitFields(fields, true);
        LockSplitFields(fields, false);
        QCOMPARE(seen, QStringList(
                           {"30|0|0|0", "30|0|12345678|0", "30|0|12345678|1", "30|0|12345678|0"}));
    }
};

QTEST_APPLESS_MAIN(SplitFieldsTest)
#include "test_split_fields.moc"
