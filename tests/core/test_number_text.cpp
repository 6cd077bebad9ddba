#include "core/NumberText.h"

#include <QTest>
#include <limits>

using namespace quavera;

namespace {
QString Q(const std::string& text) {
    return QString::fromStdString(text);
}
} // namespace

class NumberTextTest : public QObject {
    Q_OBJECT

private slots:
    void numberText_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("expected");
        QTest::newRow("one third") << 1.0 / 3.0 << "0.333333333333333";
        QTest::newRow("whole") << 12.0 << "12";
        QTest::newRow("no trailing zeros") << 12.5 << "12.5";
        QTest::newRow("zero") << 0.0 << "0";
        QTest::newRow("minus zero") << -0.0 << "0";
        QTest::newRow("negative") << -30.25 << "-30.25";
        QTest::newRow("fifteen digits") << 1234.56789012345 << "1234.56789012345";
        QTest::newRow("rounded to fifteen") << 2.0 / 3.0 << "0.666666666666667";
        QTest::newRow("smallest plain") << 0.0001 << "0.0001";
        QTest::newRow("below 1E-04") << 0.00001 << "1E-05";
        QTest::newRow("small mantissa") << -0.000025 << "-2.5E-05";
        QTest::newRow("largest plain") << 999999999999999.0 << "999999999999999";
        QTest::newRow("rounds up to 1E+15") << 999999999999999.9 << "1E+15";
        QTest::newRow("large") << 1.5e15 << "1.5E+15";
        QTest::newRow("huge") << 1.0e300 << "1E+300";
        QTest::newRow("grouping never") << 1234567.0 << "1234567";
    }
    void numberText() {
        QFETCH(double, value);
        QFETCH(QString, expected);
        QCOMPARE(Q(NumberText(value)), expected);
    }

    void numberTextReadsBack_data() {
        QTest::addColumn<double>("value");
        QTest::newRow("third") << 1.0 / 3.0;
        QTest::newRow("small") << 3.0e-7;
        QTest::newRow("large") << -4.25e20;
    }
    // Marks are stored as text and read back: the text must be numeric.
    void numberTextReadsBack() {
        QFETCH(double, value);
        const std::string text = NumberText(value);
        QVERIFY2(IsNumericText(text), text.c_str());
        const auto back = ParseNumber(text);
        QVERIFY(back.has_value());
        QVERIFY(std::abs(*back - value) <= std::abs(value) * 1e-14);
    }

    void parseNumber_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("numeric");
        QTest::addColumn<double>("value");
        QTest::newRow("integer") << "30" << true << 30.0;
        QTest::newRow("fraction") << "29.3" << true << 29.3;
        QTest::newRow("blanks around") << "  7 " << true << 7.0;
        QTest::newRow("plus sign") << "+5" << true << 5.0;
        QTest::newRow("minus sign") << "-30.5" << true << -30.5;
        QTest::newRow("blank before sign") << " -2" << true << -2.0;
        QTest::newRow("point first") << ".5" << true << 0.5;
        QTest::newRow("point last") << "1." << true << 1.0;
        QTest::newRow("exponent") << "1.5E+3" << true << 1500.0;
        QTest::newRow("small exponent") << "25e-1" << true << 2.5;
        QTest::newRow("exponent without sign") << "2E2" << true << 200.0;
        QTest::newRow("leading zeros") << "007" << true << 7.0;
        QTest::newRow("zero point zero") << "0.0" << true << 0.0;
        QTest::newRow("underflow reads as zero") << "1e-400" << true << 0.0;
        QTest::newRow("tiny fraction underflows") << "0.000001e-320" << true << 0.0;
        QTest::newRow("empty") << "" << false << 0.0;
        QTest::newRow("blanks only") << "   " << false << 0.0;
        QTest::newRow("point only") << "." << false << 0.0;
        QTest::newRow("sign only") << "-" << false << 0.0;
        QTest::newRow("two signs") << "+-1" << false << 0.0;
        QTest::newRow("blank after sign") << "- 1" << false << 0.0;
        QTest::newRow("exponent without digits") << "1e" << false << 0.0;
        QTest::newRow("exponent without mantissa") << "e5" << false << 0.0;
        QTest::newRow("two points") << "1.2.3" << false << 0.0;
        QTest::newRow("grouping") << "1,000" << false << 0.0;
        QTest::newRow("decimal comma") << "1,5" << false << 0.0;
        QTest::newRow("hexadecimal") << "0x10" << false << 0.0;
        QTest::newRow("currency") << "$5" << false << 0.0;
        QTest::newRow("letters after") << "12abc" << false << 0.0;
        QTest::newRow("inner blank") << "1 2" << false << 0.0;
        QTest::newRow("infinity word") << "inf" << false << 0.0;
        QTest::newRow("nan word") << "nan" << false << 0.0;
        QTest::newRow("tab is no blank") << "\t1" << false << 0.0;
    }
    void parseNumber() {
        QFETCH(QString, text);
        QFETCH(bool, numeric);
        QFETCH(double, value);
        const std::string utf8 = text.toStdString();
        QCOMPARE(IsNumericText(utf8), numeric);
        const auto parsed = ParseNumber(utf8);
        QCOMPARE(parsed.has_value(), numeric);
        if (numeric)
            QCOMPARE(*parsed, value);
    }

    void parseNumberOutOfRange() {
        QVERIFY(IsNumericText("1e400"));
        QVERIFY(!ParseNumber("1e400").has_value());
        QVERIFY(!ParseNumber("-1e99999999999999999999").has_value());
        QCOMPARE(ParseNumber("-1e-99999999999999999999"), std::optional<double>(0.0));
    }

    void formatKB_data() {
        QTest::addColumn<int>("bytes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("30000") << 30000 << "29.3";
        QTest::newRow("1536") << 1536 << "1.5";
        QTest::newRow("1024 keeps the point") << 1024 << "1.";
        QTest::newRow("256 half away from zero") << 256 << "0.3";
        QTest::newRow("768 half away from zero") << 768 << "0.8";
        QTest::newRow("70960") << 70960 << "69.3";
        QTest::newRow("one byte") << 1 << "0.";
        QTest::newRow("zero") << 0 << "0.";
        QTest::newRow("just below a half tenth") << 51 << "0.";
        QTest::newRow("just above half a tenth") << 52 << "0.1";
        QTest::newRow("tenths carry into units") << 2047 << "2.";
        QTest::newRow("101680") << 101680 << "99.3";
        QTest::newRow("largest") << std::numeric_limits<std::int32_t>::max() << "2097152.";
        QTest::newRow("negative") << -1536 << "-1.5";
        QTest::newRow("negative half away from zero") << -256 << "-0.3";
        QTest::newRow("negative rounding to zero") << -1 << "0.";
        QTest::newRow("smallest") << std::numeric_limits<std::int32_t>::min() << "-2097152.";
    }
    void formatKB() {
        QFETCH(int, bytes);
        QFETCH(QString, expected);
        QCOMPARE(Q(FormatKB(bytes)), expected);
    }

    void wholeSeconds_data() {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<bool>("fits");
        QTest::addColumn<int>("expected");
        QTest::newRow("12.34") << 12.34 << true << 12;
        QTest::newRow("12.5 to even") << 12.5 << true << 12;
        QTest::newRow("13.5 to even") << 13.5 << true << 14;
        QTest::newRow("12.51") << 12.51 << true << 13;
        QTest::newRow("0.5 to even") << 0.5 << true << 0;
        QTest::newRow("-2.5 to even") << -2.5 << true << -2;
        QTest::newRow("-3.5 to even") << -3.5 << true << -4;
        QTest::newRow("largest") << 32767.4 << true << 32767;
        QTest::newRow("32767.5 rounds out of range") << 32767.5 << false << 0;
        QTest::newRow("far beyond") << 1e9 << false << 0;
        QTest::newRow("smallest") << -32768.5 << true << -32768;
        QTest::newRow("below smallest") << -32768.6 << false << 0;
        QTest::newRow("nan") << std::numeric_limits<double>::quiet_NaN() << false << 0;
        QTest::newRow("infinity") << std::numeric_limits<double>::infinity() << false << 0;
    }
    void wholeSeconds() {
        QFETCH(double, seconds);
        QFETCH(bool, fits);
        QFETCH(int, expected);
        const auto whole = WholeSeconds(seconds);
        QCOMPARE(whole.has_value(), fits);
        if (fits)
            QCOMPARE(int(*whole), expected);
    }

    void secondsText_data() {
        QTest::addColumn<int>("seconds");
        QTest::addColumn<QString>("expected");
        QTest::newRow("twelve") << 12 << " 12秒";
        QTest::newRow("zero") << 0 << " 0秒";
        QTest::newRow("negative") << -3 << "-3秒";
        QTest::newRow("largest") << 32767 << " 32767秒";
        QTest::newRow("smallest") << -32768 << "-32768秒";
    }
    void secondsText() {
        QFETCH(int, seconds);
        QFETCH(QString, expected);
        QCOMPARE(QString::fromUtf8(SecondsText(static_cast<std::int16_t>(seconds))), expected);
    }

    void fieldByteSize_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("fits");
        QTest::addColumn<qint64>("bytes");
        QTest::newRow("30") << "30" << true << qint64(30720);
        QTest::newRow("29.3") << "29.3" << true << qint64(30003);
        QTest::newRow("single precision") << "3456.789" << true << qint64(3539752);
        QTest::newRow("0.0 is zero bytes") << "0.0" << true << qint64(0);
        QTest::newRow("half byte to even (down)") << "0.00048828125" << true << qint64(0);
        QTest::newRow("one and a half bytes to even (up)") << "0.00146484375" << true << qint64(2);
        QTest::newRow("negative") << "-30" << true << qint64(-30720);
        QTest::newRow("blanks and exponent") << " 3E1 " << true << qint64(30720);
        QTest::newRow("largest field") << "2097151.9" << true << qint64(2147483520);
        QTest::newRow("2097152 overflows") << "2097152" << false << qint64(0);
        QTest::newRow("smallest field") << "-2097152" << true << qint64(-2147483648LL);
        QTest::newRow("below smallest overflows") << "-2097153" << false << qint64(0);
        QTest::newRow("beyond float") << "1e39" << false << qint64(0);
        QTest::newRow("below float reads as zero") << "1e-50" << true << qint64(0);
        QTest::newRow("not numeric") << "abc" << false << qint64(0);
        QTest::newRow("empty") << "" << false << qint64(0);
    }
    void fieldByteSize() {
        QFETCH(QString, text);
        QFETCH(bool, fits);
        QFETCH(qint64, bytes);
        const auto size = FieldByteSize(text.toStdString());
        QCOMPARE(size.has_value(), fits);
        if (fits)
            QCOMPARE(qint64(*size), bytes);
    }

    // The field is read in single precision before it is scaled: a double reading would give
    // other byte counts for these texts.
    void fieldByteSizeReadsSinglePrecision_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("bytes");
        QTest::newRow("float spacing of 1/8 KB") << "1048576.06" << qint64(1073741824);
        QTest::newRow("half a byte rounds to even") << "2047.99951171875" << qint64(2097152);
    }
    void fieldByteSizeReadsSinglePrecision() {
        QFETCH(QString, text);
        QFETCH(qint64, bytes);
        QCOMPARE(qint64(FieldByteSize(text.toStdString()).value_or(-1)), bytes);
    }
};

QTEST_APPLESS_MAIN(NumberTextTest)
#include "test_number_text.moc"
