#include "TestFiles.h"
#include "core/SplitPlan.h"

#include <QTemporaryDir>
#include <QTest>

using namespace quavera;
using namespace quavera::testing;

using Sizes = QList<qint64>;

namespace {

void SetFields(SplitFields& fields, const QStringList& texts) {
    for (int i = 0; i < SplitFields::kCount; ++i)
        fields.setText(i, Utf8(texts.at(i)));
}

QStringList FieldTexts(const SplitFields& fields) {
    QStringList texts;
    for (int i = 0; i < SplitFields::kCount; ++i)
        texts << QString::fromStdString(fields.text(i));
    return texts;
}

Sizes PlannedSizes(const CutState& state) {
    return Sizes(state.PartSizes.begin(), state.PartSizes.end());
}

} // namespace

Q_DECLARE_METATYPE(PlanResult)

class SplitPlanTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString source_;

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        source_ = dir_.filePath("song.mp3");
        QVERIFY(WritePatternFile(source_, 100));
    }

    void plan_data() {
        QTest::addColumn<qint64>("sourceSize");
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<PlanResult>("result");
        QTest::addColumn<Sizes>("parts");
        QTest::addColumn<QStringList>("after");

        const qint64 example = 101680;
        // A source of 101,680 bytes: a head, a piece and the rest of the file, field by field.
        QTest::newRow("head, piece, remainder")
            << example << QStringList{"30", "40", "0"} << PlanResult::Planned
            << Sizes{30720, 40960, 30000} << QStringList{"30", "40", "29.3"};
        QTest::newRow("piece reaches the end")
            << example << QStringList{"30", "200", "0"} << PlanResult::Planned
            << Sizes{30720, 70960} << QStringList{"30", "69.3", "0"};
        QTest::newRow("three fields, no remainder")
            << example << QStringList{"10", "20", "30"} << PlanResult::Planned
            << Sizes{10240, 20480, 30720} << QStringList{"10", "20", "30"};
        QTest::newRow("empty first field moves up")
            << example << QStringList{"0", "30", "0"} << PlanResult::Planned << Sizes{30720, 70960}
            << QStringList{"30", "69.3", "0"};
        QTest::newRow("first field too large")
            << example << QStringList{"120", "5", "0"} << PlanResult::Refused << Sizes{}
            << QStringList{"120", "5", "0"};

        // Compaction is one pass.
        QTest::newRow("0 5 7") << example << QStringList{"0", "5", "7"} << PlanResult::Planned
                               << Sizes{5120, 7168, 89392} << QStringList{"5", "7", "87.3"};
        QTest::newRow("5 0 7") << example << QStringList{"5", "0", "7"} << PlanResult::Planned
                               << Sizes{5120, 7168, 89392} << QStringList{"5", "7", "87.3"};
        QTest::newRow("0 0 7 one pass only")
            << example << QStringList{"0", "0", "7"} << PlanResult::Refused << Sizes{}
            << QStringList{"0", "7", "0"};
        QTest::newRow("all empty") << example << QStringList{"0", "0", "0"} << PlanResult::Refused
                                   << Sizes{} << QStringList{"0", "0", "0"};

        // Only the exact text "0" is empty.
        QTest::newRow("0.0 is a part of 0 bytes")
            << example << QStringList{"0.0", "30", "0"} << PlanResult::Planned
            << Sizes{0, 30720, 70960} << QStringList{"0.0", "30", "69.3"};
        QTest::newRow("00 is a part of 0 bytes")
            << example << QStringList{"00", "0", "0"} << PlanResult::Planned << Sizes{0, example}
            << QStringList{"00", "99.3", "0"};

        // Boundaries against the source size.
        QTest::newRow("first field equals the source")
            << qint64(102400) << QStringList{"100", "5", "0"} << PlanResult::Refused << Sizes{}
            << QStringList{"100", "5", "0"};
        QTest::newRow("first field one byte short")
            << qint64(102401) << QStringList{"100", "5", "0"} << PlanResult::Planned
            << Sizes{102400, 1} << QStringList{"100", "0.", "0"};
        QTest::newRow("empty source")
            << qint64(0) << QStringList{"30", "40", "0"} << PlanResult::Refused << Sizes{}
            << QStringList{"30", "40", "0"};
        QTest::newRow("earlier remainder below what remains is a third part")
            << example << QStringList{"30", "40", "29"} << PlanResult::Planned
            << Sizes{30720, 40960, 29696} << QStringList{"30", "40", "29"};
        QTest::newRow("earlier remainder rounded up is replaced")
            << example << QStringList{"30", "40", "29.3"} << PlanResult::Planned
            << Sizes{30720, 40960, 30000} << QStringList{"30", "40", "29.3"};
        QTest::newRow("remainder replaces the stopping field")
            << example << QStringList{"30", "40", "500"} << PlanResult::Planned
            << Sizes{30720, 40960, 30000} << QStringList{"30", "40", "29.3"};

        // A negative field passes and enlarges what remains.
        QTest::newRow("end before start")
            << example << QStringList{"50", "-30", "0"} << PlanResult::Planned
            << Sizes{51200, -30720, 81200} << QStringList{"50", "-30", "79.3"};

        // The field keeps eight characters of the remainder; the plan keeps every byte.
        QTest::newRow("remainder loses its tenths in the field")
            << qint64(1073743155) << QStringList{"1", "0", "0"} << PlanResult::Planned
            << Sizes{1024, 1073742131} << QStringList{"1", "1048576.", "0"};
    }
    void plan() {
        QFETCH(qint64, sourceSize);
        QFETCH(QStringList, before);
        QFETCH(PlanResult, result);
        QFETCH(Sizes, parts);
        QFETCH(QStringList, after);

        SplitFields fields;
        SetFields(fields, before);
        CutState state;
        state.SourceSize = static_cast<std::int32_t>(sourceSize);
        state.PartSizes = {7, 7, 7, 7};
        state.LastPart = 3;

        QCOMPARE(BuildSplitPlan(Utf8(dir_.path() + "/"), Utf8(source_), fields, state), result);
        QCOMPARE(PlannedSizes(state), parts);
        QCOMPARE(int(state.LastPart), int(parts.size()) - 1);
        QCOMPARE(FieldTexts(fields), after);
    }

    // An overflow ends the plan where it stands: what was planned stays, nothing is added.
    void overflow_data() {
        QTest::addColumn<qint64>("sourceSize");
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<Sizes>("parts");
        QTest::addColumn<QStringList>("after");
        QTest::newRow("field of 2097152 KB") << qint64(101680) << QStringList{"2097152", "0", "0"}
                                             << Sizes{} << QStringList{"2097152", "0", "0"};
        QTest::newRow("later field beyond float")
            << qint64(101680) << QStringList{"0", "30", "1e39"} << Sizes{30720}
            << QStringList{"30", "1e39", "0"};
        QTest::newRow("remaining size leaves the range")
            << qint64(2147483647) << QStringList{"1", "-2097152", "5"} << Sizes{1024, -2147483648LL}
            << QStringList{"1", "-2097152", "5"};
    }
    void overflow() {
        QFETCH(qint64, sourceSize);
        QFETCH(QStringList, before);
        QFETCH(Sizes, parts);
        QFETCH(QStringList, after);
        SplitFields fields;
        SetFields(fields, before);
        CutState state;
        state.SourceSize = static_cast<std::int32_t>(sourceSize);
        QCOMPARE(BuildSplitPlan(Utf8(dir_.path()), Utf8(source_), fields, state),
                 PlanResult::Overflow);
        QCOMPARE(PlannedSizes(state), parts);
        QCOMPARE(int(state.LastPart), int(parts.size()) - 1);
        QCOMPARE(FieldTexts(fields), after);
    }

    // Input checks that fail change nothing: not the fields, not the earlier plan.
    void inputChecks_data() {
        QTest::addColumn<QString>("dest");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<bool>("passes");
        const QStringList valid{"0", "30", "0"};
        QTest::newRow("folder with separator") << "{dir}/"
                                               << "{dir}/song.mp3" << valid << true;
        QTest::newRow("folder without separator") << "{dir}"
                                                  << "{dir}/song.mp3" << valid << true;
        QTest::newRow("CJK and blanks") << "{dir}/我的 铃声/"
                                        << "{dir}/我的 铃声/老 歌.mp3" << valid << true;
        QTest::newRow("star as a name character") << "{dir}/"
                                                  << "{dir}/star*.mp3" << valid << true;
        QTest::newRow("pattern matches nothing literally") << "{dir}/"
                                                           << "{dir}/*.mp3" << valid << false;
        QTest::newRow("question mark pattern") << "{dir}/"
                                               << "{dir}/son?.mp3" << valid << false;
        QTest::newRow("folder pattern") << "{dir}/*"
                                        << "{dir}/song.mp3" << valid << false;
        QTest::newRow("empty destination") << ""
                                           << "{dir}/song.mp3" << valid << false;
        QTest::newRow("empty source") << "{dir}/"
                                      << "" << valid << false;
        QTest::newRow("missing folder") << "{dir}/gone/"
                                        << "{dir}/song.mp3" << valid << false;
        QTest::newRow("destination is a file") << "{dir}/song.mp3"
                                               << "{dir}/song.mp3" << valid << false;
        QTest::newRow("source is a folder") << "{dir}/"
                                            << "{dir}/我的 铃声" << valid << false;
        QTest::newRow("missing source") << "{dir}/"
                                        << "{dir}/gone.mp3" << valid << false;
        QTest::newRow("field not numeric")
            << "{dir}/"
            << "{dir}/song.mp3" << QStringList{"0", "30", "abc"} << false;
        QTest::newRow("field empty text") << "{dir}/"
                                          << "{dir}/song.mp3" << QStringList{"0", "", "0"} << false;
        QTest::newRow("field with grouping")
            << "{dir}/"
            << "{dir}/song.mp3" << QStringList{"1,000", "0", "0"} << false;
    }
    void inputChecks() {
        QFETCH(QString, dest);
        QFETCH(QString, source);
        QFETCH(QStringList, fields);
        QFETCH(bool, passes);
        QVERIFY(QDir(dir_.path()).mkpath("我的 铃声"));
        QVERIFY(WritePatternFile(dir_.filePath("我的 铃声/老 歌.mp3"), 10));
        QVERIFY(WritePatternFile(dir_.filePath("star*.mp3"), 10));
        QVERIFY(WritePatternFile(dir_.filePath("a.mp3"), 10));

        SplitFields splitFields;
        SetFields(splitFields, fields);
        CutState state;
        state.SourceSize = 101680;
        state.PartSizes = {1, 2};
        state.LastPart = 1;
        const auto result =
            BuildSplitPlan(Utf8(dest.replace("{dir}", dir_.path())),
                           Utf8(source.replace("{dir}", dir_.path())), splitFields, state);
        if (passes) {
            QCOMPARE(result, PlanResult::Planned);
            QCOMPARE(PlannedSizes(state), Sizes({30720, 70960}));
        } else {
            QCOMPARE(result, PlanResult::Refused);
            QCOMPARE(PlannedSizes(state), Sizes({1, 2}));
            QCOMPARE(int(state.LastPart), 1);
            QCOMPARE(FieldTexts(splitFields), fields);
        }
    }
};

QTEST_APPLESS_MAIN(SplitPlanTest)
#include "test_split_plan.moc"
