// The value type of the database layer: the kinds, what each reads as, and the text it is parsed
// from and written as.
#include "Failure.h"
#include "Variant.h"

#include <QTest>

#include <functional>

using olbra::DateValue;
using olbra::Failure;
using olbra::Kind;
using olbra::Variant;
namespace ErrorCode = olbra::ErrorCode;

Q_DECLARE_METATYPE(olbra::Variant)
Q_DECLARE_METATYPE(olbra::Kind)

namespace {

// What a read gives, as text, or the failure it raises as "#number description".
QString outcome(const std::function<QString()> &read)
{
    try {
        return read();
    } catch (const Failure &failure) {
        return QStringLiteral("#%1 %2").arg(failure.number()).arg(failure.description());
    }
}

QString failed(std::int32_t number, const QString &description)
{
    return QStringLiteral("#%1 %2").arg(number).arg(description);
}

QString readValueAs(const Variant &value, Kind kind)
{
    return outcome([&] {
        switch (kind) {
        case Kind::Byte: return QString::number(value.toByte());
        case Kind::Integer: return QString::number(value.toInteger());
        case Kind::Long: return QString::number(value.toLong());
        case Kind::Single: return olbra::numberText(value.toSingle());
        case Kind::Double: return olbra::numberText(value.toDouble());
        case Kind::Date: return value.toDate().toIso();
        case Kind::Text: return value.toText();
        case Kind::Boolean: return QString::number(value.toBoolean());
        default: return QStringLiteral("(no reader)");
        }
    });
}

Variant date(int year, int month, int day) { return Variant::ofDate(QDate(year, month, day)); }

} // namespace

class tst_Variant : public QObject {
    Q_OBJECT

private slots:
    void kinds_data();
    void kinds();
    void readAs_data();
    void readAs();
    void invalidDateIsRefused_data();
    void invalidDateIsRefused();
    void timeOfDayKeepsWholeSeconds();
    void parseDate_data();
    void parseDate();
    void parseNumber_data();
    void parseNumber();
    void numberText_data();
    void numberText();
};

void tst_Variant::kinds_data()
{
    QTest::addColumn<Variant>("value");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<bool>("isNull");
    QTest::addColumn<bool>("isEmpty");
    QTest::addColumn<bool>("isNumber");

    QTest::newRow("default is Empty") << Variant() << Kind::Empty << false << true << false;
    QTest::newRow("Null") << Variant::ofNull() << Kind::Null << true << false << false;
    QTest::newRow("Byte") << Variant::ofByte(200) << Kind::Byte << false << false << true;
    QTest::newRow("Integer") << Variant::ofInteger(98) << Kind::Integer << false << false << true;
    QTest::newRow("Long") << Variant::ofLong(40000) << Kind::Long << false << false << true;
    QTest::newRow("Single") << Variant::ofSingle(0.96f) << Kind::Single << false << false << true;
    QTest::newRow("Double") << Variant::ofDouble(0.2109375) << Kind::Double << false << false << true;
    QTest::newRow("Date") << date(2008, 1, 18) << Kind::Date << false << false << false;
    QTest::newRow("Text") << Variant::ofText(QStringLiteral("98")) << Kind::Text << false << false << false;
    QTest::newRow("empty Text is not Empty") << Variant::ofText(QString()) << Kind::Text << false << false << false;
    QTest::newRow("Boolean") << Variant::ofBoolean(true) << Kind::Boolean << false << false << true;
}

void tst_Variant::kinds()
{
    QFETCH(Variant, value);
    QFETCH(Kind, kind);
    QFETCH(bool, isNull);
    QFETCH(bool, isEmpty);
    QFETCH(bool, isNumber);

    QCOMPARE(value.kind(), kind);
    QCOMPARE(value.isNull(), isNull);
    QCOMPARE(value.isEmpty(), isEmpty);
    QCOMPARE(value.isNumber(), isNumber);
}

void tst_Variant::readAs_data()
{
    QTest::addColumn<Variant>("value");
    QTest::addColumn<Kind>("as");
    QTest::addColumn<QString>("expected");

    const auto mismatch = [](const char *from, const char *to) {
        return failed(ErrorCode::TypeMismatch, QStringLiteral("Type mismatch: %1 where %2 is needed").arg(QLatin1String(from), QLatin1String(to)));
    };
    const auto overflow = [](const char *number, const char *kind, const char *range) {
        return failed(ErrorCode::Overflow, QStringLiteral("Overflow: %1 is out of the range of %2 (%3)")
                                               .arg(QLatin1String(number), QLatin1String(kind), QLatin1String(range)));
    };
    const QString nullUse = failed(ErrorCode::InvalidUseOfNull, QStringLiteral("Invalid use of Null"));

    const Variant byte = Variant::ofByte(200);
    QTest::newRow("Byte as Byte") << byte << Kind::Byte << "200";
    QTest::newRow("Byte as Integer") << byte << Kind::Integer << "200";
    QTest::newRow("Byte as Long") << byte << Kind::Long << "200";
    QTest::newRow("Byte as Single") << byte << Kind::Single << "200";
    QTest::newRow("Byte as Double") << byte << Kind::Double << "200";
    QTest::newRow("Byte as Boolean") << byte << Kind::Boolean << mismatch("Byte", "Boolean");
    QTest::newRow("Byte as Text") << byte << Kind::Text << mismatch("Byte", "Text");
    QTest::newRow("Byte as Date") << byte << Kind::Date << mismatch("Byte", "Date");

    const Variant negative = Variant::ofInteger(-5);
    QTest::newRow("Integer -5 as Byte") << negative << Kind::Byte << overflow("-5", "Byte", "0 to 255");
    QTest::newRow("Integer -5 as Integer") << negative << Kind::Integer << "-5";
    QTest::newRow("Integer -5 as Long") << negative << Kind::Long << "-5";
    QTest::newRow("Integer -5 as Double") << negative << Kind::Double << "-5";
    QTest::newRow("Integer 98 as Byte") << Variant::ofInteger(98) << Kind::Byte << "98";

    const Variant large = Variant::ofLong(40000);
    QTest::newRow("Long 40000 as Byte") << large << Kind::Byte << overflow("40000", "Byte", "0 to 255");
    QTest::newRow("Long 40000 as Integer") << large << Kind::Integer << overflow("40000", "Integer", "-32768 to 32767");
    QTest::newRow("Long 40000 as Long") << large << Kind::Long << "40000";
    QTest::newRow("Long 40000 as Single") << large << Kind::Single << "40000";
    QTest::newRow("Long as Text") << large << Kind::Text << mismatch("Long", "Text");

    const Variant single = Variant::ofSingle(0.96f);
    QTest::newRow("Single as Single") << single << Kind::Single << "0.96";
    QTest::newRow("Single as Double is the single's exact value") << single << Kind::Double << "0.9599999785423279";
    QTest::newRow("Single as Long") << single << Kind::Long << mismatch("Single", "Long");
    QTest::newRow("Single as Text") << single << Kind::Text << mismatch("Single", "Text");

    const Variant dbl = Variant::ofDouble(0.2109375);
    QTest::newRow("Double as Double") << dbl << Kind::Double << "0.2109375";
    QTest::newRow("Double as Single") << dbl << Kind::Single << mismatch("Double", "Single");
    QTest::newRow("Double as Integer") << dbl << Kind::Integer << mismatch("Double", "Integer");
    QTest::newRow("Double as Boolean") << dbl << Kind::Boolean << mismatch("Double", "Boolean");

    const Variant day = Variant::ofDate(QDate(2008, 1, 18), QTime(13, 45, 7));
    QTest::newRow("Date as Date") << date(2008, 1, 18) << Kind::Date << "2008-01-18";
    QTest::newRow("Date with time as Date") << day << Kind::Date << "2008-01-18 13:45:07";
    QTest::newRow("Date as Text") << day << Kind::Text << mismatch("Date", "Text");
    QTest::newRow("Date as Double") << day << Kind::Double << mismatch("Date", "Double");

    const Variant text = Variant::ofText(QStringLiteral("98"));
    QTest::newRow("Text as Text") << text << Kind::Text << "98";
    QTest::newRow("Text of digits as Long") << text << Kind::Long << mismatch("Text", "Long");
    QTest::newRow("Text of digits as Double") << text << Kind::Double << mismatch("Text", "Double");
    QTest::newRow("Text of a date as Date") << Variant::ofText(QStringLiteral("2008-01-18")) << Kind::Date << mismatch("Text", "Date");

    const Variant yes = Variant::ofBoolean(true);
    const Variant no = Variant::ofBoolean(false);
    QTest::newRow("true as Boolean") << yes << Kind::Boolean << "-1";
    QTest::newRow("false as Boolean") << no << Kind::Boolean << "0";
    QTest::newRow("true as Integer") << yes << Kind::Integer << "-1";
    QTest::newRow("true as Long") << yes << Kind::Long << "-1";
    QTest::newRow("true as Double") << yes << Kind::Double << "-1";
    QTest::newRow("true as Single") << yes << Kind::Single << "-1";
    QTest::newRow("true as Byte") << yes << Kind::Byte << overflow("-1", "Byte", "0 to 255");
    QTest::newRow("false as Byte") << no << Kind::Byte << "0";
    QTest::newRow("true as Text") << yes << Kind::Text << mismatch("Boolean", "Text");

    for (Kind kind : {Kind::Byte, Kind::Integer, Kind::Long, Kind::Single, Kind::Double, Kind::Date, Kind::Text, Kind::Boolean}) {
        QTest::addRow("Null as %s", qPrintable(olbra::kindName(kind))) << Variant::ofNull() << kind << nullUse;
        QTest::addRow("Empty as %s", qPrintable(olbra::kindName(kind)))
            << Variant() << kind
            << failed(ErrorCode::TypeMismatch, QStringLiteral("Type mismatch: Empty where %1 is needed").arg(olbra::kindName(kind)));
    }
}

void tst_Variant::readAs()
{
    QFETCH(Variant, value);
    QFETCH(Kind, as);
    QFETCH(QString, expected);

    QCOMPARE(readValueAs(value, as), expected);
}

void tst_Variant::invalidDateIsRefused_data()
{
    QTest::addColumn<QDate>("day");
    QTest::addColumn<bool>("withTime");
    QTest::addColumn<QTime>("time");

    QTest::newRow("30 February") << QDate(2008, 2, 30) << false << QTime();
    QTest::newRow("no date") << QDate() << false << QTime();
    QTest::newRow("valid date, invalid time") << QDate(2008, 1, 18) << true << QTime(25, 0);
}

void tst_Variant::invalidDateIsRefused()
{
    QFETCH(QDate, day);
    QFETCH(bool, withTime);
    QFETCH(QTime, time);

    const QString result = outcome([&] {
        return (withTime ? Variant::ofDate(day, time) : Variant::ofDate(day)).toDate().toIso();
    });
    QCOMPARE(result, failed(ErrorCode::TypeMismatch, QStringLiteral("Type mismatch: not a valid date")));
}

void tst_Variant::timeOfDayKeepsWholeSeconds()
{
    const Variant value = Variant::ofDate(QDate(2008, 1, 18), QTime(13, 45, 7, 654));
    QCOMPARE(value.toDate().toIso(), QStringLiteral("2008-01-18 13:45:07"));
    QCOMPARE(value, Variant::ofDate(QDate(2008, 1, 18), QTime(13, 45, 7)));
    QVERIFY(Variant::ofDate(QDate(2008, 1, 18)) != Variant::ofDate(QDate(2008, 1, 18), QTime(0, 0)));
}

void tst_Variant::parseDate_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected"); // ISO text, or empty: not a date

    QTest::newRow("ISO date") << "2008-01-18" << "2008-01-18";
    QTest::newRow("ISO without leading zeros") << "2008-1-8" << "2008-01-08";
    QTest::newRow("ISO with time") << "2008-01-18 13:45:07" << "2008-01-18 13:45:07";
    QTest::newRow("ISO with T and minutes") << "2008-01-18T13:45" << "2008-01-18 13:45:00";
    QTest::newRow("ISO with blanks around") << "  2008-01-18 " << "2008-01-18";
    QTest::newRow("month/day/year") << "01/18/2008" << "2008-01-18";
    QTest::newRow("month/day/year short") << "1/8/2008" << "2008-01-08";
    QTest::newRow("month/day/year with time") << "01/18/2008 13:45:07" << "2008-01-18 13:45:07";
    QTest::newRow("PM") << "1/18/2008 1:05 PM" << "2008-01-18 13:05:00";
    QTest::newRow("12 AM is midnight") << "1/18/2008 12:00:30 am" << "2008-01-18 00:00:30";
    QTest::newRow("12 PM is noon") << "1/18/2008 12:00 pm" << "2008-01-18 12:00:00";
    QTest::newRow("leap day") << "02/29/2008" << "2008-02-29";

    QTest::newRow("day/month/year is not month/day/year") << "18/01/2008" << "";
    QTest::newRow("30 February") << "02/30/2008" << "";
    QTest::newRow("29 February of a common year") << "2007-02-29" << "";
    QTest::newRow("month 13") << "2008-13-01" << "";
    QTest::newRow("hour 24") << "2008-01-18 24:00" << "";
    QTest::newRow("minute 60") << "2008-01-18 13:60" << "";
    QTest::newRow("13 PM") << "1/18/2008 13:00 PM" << "";
    QTest::newRow("two-digit year") << "1/18/08" << "";
    QTest::newRow("words") << "January 18, 2008" << "";
    QTest::newRow("number") << "39465" << "";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("trailing text") << "2008-01-18x" << "";
}

void tst_Variant::parseDate()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);

    const std::optional<DateValue> parsed = olbra::parseDate(text);
    QCOMPARE(parsed ? parsed->toIso() : QString(), expected);
}

void tst_Variant::parseNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected"); // numberText of the result, or empty: not a number

    QTest::newRow("whole") << "98" << "98";
    QTest::newRow("negative") << "-4" << "-4";
    QTest::newRow("plus sign") << "+4" << "4";
    QTest::newRow("decimal") << "0.96" << "0.96";
    QTest::newRow("leading point") << ".5" << "0.5";
    QTest::newRow("negative leading point") << "-.5" << "-0.5";
    QTest::newRow("trailing point") << "5." << "5";
    QTest::newRow("exponent") << "1e3" << "1000";
    QTest::newRow("negative exponent") << "25E-2" << "0.25";
    QTest::newRow("blanks around") << "  98 \t" << "98";

    QTest::newRow("empty") << "" << "";
    QTest::newRow("blank") << "   " << "";
    QTest::newRow("sign only") << "-" << "";
    QTest::newRow("point only") << "." << "";
    QTest::newRow("two signs") << "+-5" << "";
    QTest::newRow("double minus") << "--5" << "";
    QTest::newRow("decimal comma") << "0,96" << "";
    QTest::newRow("hexadecimal") << "0x10" << "";
    QTest::newRow("trailing text") << "98%" << "";
    QTest::newRow("blank inside") << "9 8" << "";
    QTest::newRow("word") << "neg" << "";
    QTest::newRow("infinity") << "inf" << "";
    QTest::newRow("negative infinity") << "-inf" << "";
    QTest::newRow("not a number") << "nan" << "";
    QTest::newRow("too large") << "1e400" << "";
}

void tst_Variant::parseNumber()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);

    const std::optional<double> parsed = olbra::parseNumber(text);
    QCOMPARE(parsed ? olbra::numberText(*parsed) : QString(), expected);
}

void tst_Variant::numberText_data()
{
    QTest::addColumn<Variant>("value");
    QTest::addColumn<QString>("expected");

    QTest::newRow("single 0.96") << Variant::ofSingle(0.96f) << "0.96";
    QTest::newRow("double 0.96") << Variant::ofDouble(0.96) << "0.96";
    QTest::newRow("double of single 0.96") << Variant::ofDouble(static_cast<double>(0.96f)) << "0.9599999785423279";
    QTest::newRow("double 0.1") << Variant::ofDouble(0.1) << "0.1";
    QTest::newRow("whole double") << Variant::ofDouble(98.0) << "98";
    QTest::newRow("negative") << Variant::ofDouble(-2.5) << "-2.5";
    QTest::newRow("large") << Variant::ofDouble(1e20) << "1e+20";
}

void tst_Variant::numberText()
{
    QFETCH(Variant, value);
    QFETCH(QString, expected);

    const bool single = value.kind() == Kind::Single;
    const QString text = single ? olbra::numberText(value.toSingle()) : olbra::numberText(value.toDouble());
    QCOMPARE(text, expected);
    // The text reads back as the same number.
    const std::optional<double> back = olbra::parseNumber(text);
    QVERIFY(back);
    if (single)
        QCOMPARE(static_cast<float>(*back), value.toSingle());
    else
        QCOMPARE(*back, value.toDouble());
}

QTEST_GUILESS_MAIN(tst_Variant)
#include "tst_variant.moc"
