// The number and text conversions: the documented cases as one table per operation, and the
// rounding of number_to_fixed_text against decimal arithmetic over whole ranges of values.
#include <QTest>

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>

#include "text/conversions.h"

using namespace quorvel;

namespace {

QByteArray bytes(const std::string& text) { return QByteArray(text.data(), qsizetype(text.size())); }
std::string text(const QByteArray& bytes) { return std::string(bytes.constData(), size_t(bytes.size())); }

// "magnitude / 10^decimals" written out with integer arithmetic only. A negative value keeps its
// sign even when it rounds to zero, as printf shows -0.
std::string decimal_text(bool negative, long long magnitude, int decimals)
{
    long long unit = 1;
    for (int i = 0; i < decimals; ++i) unit *= 10;
    // Appended piece by piece: GCC 12 at -O2 misreads "a" + b concatenations here (-Wrestrict).
    std::string result = negative ? "-" : "";
    result.append(std::to_string(magnitude / unit));
    if (decimals > 0) {
        const std::string fraction = std::to_string(magnitude % unit);
        result.push_back('.');
        result.append(size_t(decimals) - fraction.size(), '0');
        result.append(fraction);
    }
    return result;
}

// The magnitude of `numerator / 10^shift` rounded half away from zero, exactly.
long long rounded_magnitude(long long numerator, int shift)
{
    long long divisor = 1;
    for (int i = 0; i < shift; ++i) divisor *= 10;
    return (std::llabs(numerator) * 2 + divisor) / (divisor * 2);
}

}  // namespace

class test_conversions : public QObject {
    Q_OBJECT

private slots:
    void int_to_text_data();
    void int_to_text();
    void number_to_fixed_text_data();
    void number_to_fixed_text();
    void rounding_matches_decimal_arithmetic_data();
    void rounding_matches_decimal_arithmetic();
    void rounding_follows_each_step();
    void text_to_int_data();
    void text_to_int();
    void truncate_to_int_data();
    void truncate_to_int();
    void trim_text_data();
    void trim_text();
    void compare_texts_data();
    void compare_texts();
    void join_texts();
};

void test_conversions::int_to_text_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("zero") << 0 << QByteArray("0");
    QTest::newRow("minus one") << -1 << QByteArray("-1");
    QTest::newRow("largest") << 2147483647 << QByteArray("2147483647");
    QTest::newRow("smallest") << std::numeric_limits<int>::min() << QByteArray("-2147483648");
    QTest::newRow("no grouping") << 1234567 << QByteArray("1234567");
}

void test_conversions::int_to_text()
{
    QFETCH(int, value);
    QFETCH(QByteArray, expected);
    QCOMPARE(bytes(quorvel::int_to_text(value)), expected);
}

void test_conversions::number_to_fixed_text_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("100/3") << 100.0 / 3 << 2 << QByteArray("33.33");
    QTest::newRow("200/3") << 200.0 / 3 << 2 << QByteArray("66.67");
    QTest::newRow("50") << 50.0 << 2 << QByteArray("50.00");
    QTest::newRow("0") << 0.0 << 2 << QByteArray("0.00");
    QTest::newRow("100") << 100.0 << 2 << QByteArray("100.00");
    QTest::newRow("1.005") << 1.005 << 2 << QByteArray("1.01");
    QTest::newRow("2.675") << 2.675 << 2 << QByteArray("2.68");
    QTest::newRow("0.004") << 0.004 << 2 << QByteArray("0.00");
    QTest::newRow("0.005") << 0.005 << 2 << QByteArray("0.01");
    QTest::newRow("99.995") << 99.995 << 2 << QByteArray("100.00");
    QTest::newRow("0.1234") << 0.1234 << 2 << QByteArray("0.12");
    QTest::newRow("12.5 no decimals") << 12.5 << 0 << QByteArray("13");
    QTest::newRow("2.5 away from zero, not to even") << 2.5 << 0 << QByteArray("3");
    QTest::newRow("123.456 no decimals") << 123.456 << 0 << QByteArray("123");
    QTest::newRow("-2.5") << -2.5 << 0 << QByteArray("-3");
    QTest::newRow("one decimal padded") << 1.5 << 2 << QByteArray("1.50");
    QTest::newRow("three decimals") << 0.0625 << 3 << QByteArray("0.063");
    QTest::newRow("negative with decimals") << -1.005 << 2 << QByteArray("-1.01");
    // "%.13g" keeps 13 digits; padding then only appends, it never removes.
    QTest::newRow("13 significant digits") << 123456789012.34 << 2 << QByteArray("123456789012.30");
    QTest::newRow("no grouping") << 1234567.0 << 0 << QByteArray("1234567");
}

void test_conversions::number_to_fixed_text()
{
    QFETCH(double, value);
    QFETCH(int, decimals);
    QFETCH(QByteArray, expected);
    QCOMPARE(bytes(quorvel::number_to_fixed_text(value, decimals)), expected);
}

void test_conversions::rounding_matches_decimal_arithmetic_data()
{
    QTest::addColumn<int>("decimals");
    QTest::addColumn<int>("extra_digits");
    QTest::addColumn<long long>("limit");
    // Percentages to two decimals from values with three and four decimals, and durations and
    // means to whole numbers from values with one decimal: in these ranges the 1e-12 nudge makes
    // every decimal half go up although most of them are a hair below it as doubles.
    QTest::newRow("0 to 100, 3 decimals, to 2") << 2 << 1 << 100'000LL;
    QTest::newRow("0 to 100, 4 decimals, to 2") << 2 << 2 << 1'000'000LL;
    QTest::newRow("0 to 100000, 1 decimal, to 0") << 0 << 1 << 1'000'000LL;
}

void test_conversions::rounding_matches_decimal_arithmetic()
{
    QFETCH(int, decimals);
    QFETCH(int, extra_digits);
    QFETCH(long long, limit);
    const double divisor = std::pow(10.0, decimals + extra_digits);
    for (long long n = -limit / 10; n <= limit; ++n) {
        const double value = double(n) / divisor;
        const std::string expected = decimal_text(n < 0, rounded_magnitude(n, extra_digits), decimals);
        const std::string actual = quorvel::number_to_fixed_text(value, decimals);
        if (actual != expected)
            QFAIL(qPrintable(QString("%1 with %2 decimals gave %3, expected %4")
                                 .arg(n).arg(decimals).arg(actual.c_str(), expected.c_str())));
    }
}

// The steps spelled out one by one, for values of every size and sign.
void test_conversions::rounding_follows_each_step()
{
    std::mt19937_64 random(12345);
    std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
    std::uniform_int_distribution<int> exponent(-6, 12);
    std::uniform_int_distribution<int> decimals_of(0, 4);
    for (int round = 0; round < 200'000; ++round) {
        const double value = mantissa(random) * std::pow(10.0, exponent(random));
        const int decimals = decimals_of(random);
        double rounded = 0.0;
        if (value != 0.0) {
            const double scale = decimals == 0 ? 1.0 : std::pow(10.0, decimals);
            const double g = std::fabs(value) * scale + 1e-12;
            double integer_part = 0.0;
            const double fraction = std::modf(g, &integer_part);
            if (fraction >= 0.5) integer_part += 1;
            rounded = std::copysign(integer_part / scale, value);
        }
        char formatted[64];
        std::snprintf(formatted, sizeof formatted, "%.13g", rounded);
        std::string expected = formatted;
        if (decimals > 0) {
            if (expected.find('.') == std::string::npos) expected += '.';
            while (expected.size() - expected.find('.') - 1 < size_t(decimals)) expected += '0';
        }
        const std::string actual = quorvel::number_to_fixed_text(value, decimals);
        if (actual != expected)
            QFAIL(qPrintable(QString("%1 with %2 decimals gave %3, expected %4")
                                 .arg(value, 0, 'g', 17).arg(decimals).arg(actual.c_str(), expected.c_str())));
    }
}

void test_conversions::text_to_int_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("expected");
    QTest::newRow("500") << QByteArray("500") << 500;
    QTest::newRow("two spaces, 500") << QByteArray("  500") << 500;
    QTest::newRow("tab, 5") << QByteArray("\t5") << 5;
    QTest::newRow("all C white space") << QByteArray(" \t\n\v\f\r9") << 9;
    QTest::newRow("+7") << QByteArray("+7") << 7;
    QTest::newRow("-20") << QByteArray("-20") << -20;
    QTest::newRow("12 and letters") << QByteArray("12abc") << 12;
    QTest::newRow("12.9") << QByteArray("12.9") << 12;
    QTest::newRow("1 000") << QByteArray("1 000") << 1;
    QTest::newRow("hexadecimal") << QByteArray("0x1F") << 0;
    QTest::newRow("letters") << QByteArray("abc") << 0;
    QTest::newRow("empty") << QByteArray() << 0;
    QTest::newRow("full-width 500") << QByteArray("５００") << 500;
    QTest::newRow("ideographic space, full-width 80") << QByteArray("\xE3\x80\x80８０") << 80;
    QTest::newRow("full-width signs") << QByteArray("－１２") << -12;
    QTest::newRow("full-width plus") << QByteArray("＋３") << 3;
    QTest::newRow("mixed widths") << QByteArray("1２3") << 123;
    QTest::newRow("minus, space, 5") << QByteArray("- 5") << 0;
    QTest::newRow("two minus signs") << QByteArray("--5") << 0;
    QTest::newRow("2^31 wraps") << QByteArray("2147483648") << std::numeric_limits<int>::min();
    QTest::newRow("2^32 + 1 wraps") << QByteArray("4294967297") << 1;
    QTest::newRow("eleven nines") << QByteArray("99999999999") << 1215752191;
    QTest::newRow("minus eleven nines") << QByteArray("-99999999999") << -1215752191;
    // Characters that look like spaces or digits but are none.
    QTest::newRow("no-break space is not white space") << QByteArray("\xC2\xA0" "5") << 0;
    QTest::newRow("invalid byte is not white space") << QByteArray("\xA0" "5") << 0;
    QTest::newRow("broken ideographic space") << QByteArray("\xE3\x80 5") << 0;
    QTest::newRow("star") << QByteArray("★5") << 0;
    QTest::newRow("unfinished character at the end") << QByteArray("42\xEF\xBC") << 42;
}

void test_conversions::text_to_int()
{
    QFETCH(QByteArray, input);
    QFETCH(int, expected);
    QCOMPARE(quorvel::text_to_int(text(input)), expected);
}

void test_conversions::truncate_to_int_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<qint64>("expected");
    QTest::newRow("12.9") << 12.9 << qint64(12);
    QTest::newRow("-12.9") << -12.9 << qint64(-12);
    QTest::newRow("0.99") << 0.99 << qint64(0);
    QTest::newRow("beyond 32 bits") << 8589934592.75 << qint64(8589934592);
    QTest::newRow("not a number") << std::nan("") << qint64(0);
    QTest::newRow("too large") << 1e300 << std::numeric_limits<qint64>::max();
    QTest::newRow("too small") << -1e300 << std::numeric_limits<qint64>::min();
}

void test_conversions::truncate_to_int()
{
    QFETCH(double, value);
    QFETCH(qint64, expected);
    QCOMPARE(qint64(quorvel::truncate_to_int(value)), expected);
}

void test_conversions::trim_text_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");
    const QByteArray wide_space("\xE3\x80\x80");
    QTest::newRow("spaces around") << QByteArray("  192.168.0.1  ") << QByteArray("192.168.0.1");
    QTest::newRow("ideographic spaces around")
        << wide_space + "192.168.0.1" + wide_space + wide_space << QByteArray("192.168.0.1");
    QTest::newRow("mixed runs") << " " + wide_space + " a b " + wide_space + " " << QByteArray("a b");
    QTest::newRow("tab stays") << QByteArray("\t192.168.0.1") << QByteArray("\t192.168.0.1");
    QTest::newRow("line ends stay") << QByteArray(" a\r\n ") << QByteArray("a\r\n");
    QTest::newRow("spaces only") << QByteArray("   ") << QByteArray();
    QTest::newRow("ideographic spaces only") << wide_space + wide_space << QByteArray();
    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("other wide characters stay") << QByteArray(" 网关 ") << QByteArray("网关");
    QTest::newRow("unfinished character dropped, spaces before it stay")
        << QByteArray(" ab  \xE3\x80") << QByteArray("ab  ");
    QTest::newRow("broken ideographic space is no space")
        << QByteArray(" \xE3\x80 ") << QByteArray("\xE3\x80");
    QTest::newRow("stray byte is no space") << QByteArray(" \xA1 ") << QByteArray("\xA1");
}

void test_conversions::trim_text()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    QCOMPARE(bytes(quorvel::trim_text(text(input))), expected);
}

void test_conversions::compare_texts_data()
{
    QTest::addColumn<QByteArray>("a");
    QTest::addColumn<QByteArray>("b");
    QTest::addColumn<int>("expected");
    QTest::newRow("absent and empty") << QByteArray() << QByteArray("") << 0;
    QTest::newRow("equal") << QByteArray("abc") << QByteArray("abc") << 0;
    QTest::newRow("less") << QByteArray("abc") << QByteArray("abd") << -1;
    QTest::newRow("greater") << QByteArray("b") << QByteArray("abc") << 1;
    QTest::newRow("prefix first") << QByteArray("ab") << QByteArray("abc") << -1;
    QTest::newRow("longer last") << QByteArray("abc") << QByteArray("") << 1;
    QTest::newRow("bytes are unsigned") << QByteArray("\xE7") << QByteArray("z") << 1;
}

void test_conversions::compare_texts()
{
    QFETCH(QByteArray, a);
    QFETCH(QByteArray, b);
    QFETCH(int, expected);
    QCOMPARE(quorvel::compare_texts(text(a), text(b)), expected);
}

void test_conversions::join_texts()
{
    QCOMPARE(bytes(quorvel::join_texts({"网关 ", "", "12", " ms"})), QByteArray("网关 12 ms"));
    QCOMPARE(bytes(quorvel::join_texts({})), QByteArray());
}

QTEST_APPLESS_MAIN(test_conversions)
#include "test_conversions.moc"
