// Recordsets against real SQLite files: each kind written to and read from every declared column
// type, saving exactly the current row, new rows with the table's defaults, BOF, EOF and MoveLast,
// use after Close, read-only results and names that need quoting. What reached the file is always
// read back through a connection of the test's own.
#include "DataConnection.h"
#include "Failure.h"
#include "Recordset.h"
#include "TestDatabase.h"
#include "Variant.h"

#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <functional>
#include <limits>

using olbra::Failure;
using olbra::Kind;
using olbra::Recordset;
using olbra::Ref;
using olbra::Variant;
namespace ErrorCode = olbra::ErrorCode;

Q_DECLARE_METATYPE(olbra::Variant)
Q_DECLARE_METATYPE(olbra::Kind)

namespace olbra {
// How QCOMPARE shows a value: its kind and its content.
char *toString(const Variant &value)
{
    QString content;
    switch (value.kind()) {
    case Kind::Empty:
    case Kind::Null: break;
    case Kind::Byte:
    case Kind::Integer:
    case Kind::Long: content = QString::number(value.toLong()); break;
    case Kind::Single: content = numberText(value.toSingle()); break;
    case Kind::Double: content = numberText(value.toDouble()); break;
    case Kind::Date: content = value.toDate().toIso(); break;
    case Kind::Text: content = QLatin1Char('"') + value.toText() + QLatin1Char('"'); break;
    case Kind::Boolean: content = QString::number(value.toBoolean()); break;
    }
    return qstrdup(qPrintable(QStringLiteral("%1(%2)").arg(kindName(value.kind()), content)));
}
} // namespace olbra

namespace {

// The failure an action raises as "#number description", or the empty text when it raises none.
QString failureOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const Failure &failure) {
        return QStringLiteral("#%1 %2").arg(failure.number()).arg(failure.description());
    }
    return {};
}

QString failed(std::int32_t number, const QString &description)
{
    return QStringLiteral("#%1 %2").arg(number).arg(description);
}

// A value as the file holds it: "null", "number 98" (integer or real), "text 98", "blob".
QString stored(const TestDatabase &db, const QString &sql)
{
    const QString storage = db.storageClass(sql);
    if (storage == QLatin1String("null"))
        return QStringLiteral("null");
    if (storage == QLatin1String("integer") || storage == QLatin1String("real"))
        return QStringLiteral("number ") + olbra::numberText(db.scalar(sql).toDouble());
    if (storage == QLatin1String("text"))
        return QStringLiteral("text ") + db.scalar(sql).toString();
    return storage;
}

QString number(double value) { return QStringLiteral("number ") + olbra::numberText(value); }
QString text(const QString &value) { return QStringLiteral("text ") + value; }

/// A database made from SQL in a folder of its own, and the program's connection to it.
struct Fixture {
    explicit Fixture(const QString &sql) : db(dir.filePath(QStringLiteral("OLBRAData.mdb")), sql)
    {
        connection.setDataFile(db.path());
        connection.OpenConnection();
    }

    QTemporaryDir dir;
    TestDatabase db;
    olbra::DataConnection connection;
};

const QString ClosedRecordset = QStringLiteral("Operation is not allowed when the recordset is closed");
const QString ReleasedRecordset = QStringLiteral("Operation is not allowed: the recordset was released");
const QString NoCurrentRow = QStringLiteral("Either BOF or EOF is True: there is no current row");
const QString NoRows = QStringLiteral("Either BOF or EOF is True: the recordset has no rows");
const QString NotUpdatable = QStringLiteral("The recordset cannot be changed: its rows are not rows of one table that can be saved");

// The declared types of the column-type table, with the kind each stands for.
struct ColumnType {
    const char *declared;
    Kind kind;
};
const ColumnType ColumnTypes[] = {
    {"BYTE", Kind::Byte},         {"TINYINT", Kind::Byte},
    {"SHORT", Kind::Integer},     {"SMALLINT", Kind::Integer},     {"INTEGER2", Kind::Integer},
    {"LONG", Kind::Long},         {"INT", Kind::Long},             {"INTEGER", Kind::Long},
    {"INTEGER4", Kind::Long},     {"COUNTER", Kind::Long},         {"\"AUTOINCREMENT\"", Kind::Long},
    {"SINGLE", Kind::Single},     {"REAL", Kind::Single},          {"FLOAT4", Kind::Single},
    {"DOUBLE", Kind::Double},     {"FLOAT", Kind::Double},         {"FLOAT8", Kind::Double},
    {"NUMBER", Kind::Double},     {"DATE", Kind::Date},            {"DATETIME", Kind::Date},
    {"TIME", Kind::Date},         {"TIMESTAMP", Kind::Date},       {"TEXT", Kind::Text},
    {"CHAR(10)", Kind::Text},     {"VARCHAR(60)", Kind::Text},     {"MEMO", Kind::Text},
    {"LONGTEXT", Kind::Text},     {"BIT", Kind::Boolean},          {"YESNO", Kind::Boolean},
    {"LOGICAL", Kind::Boolean},   {"BOOLEAN", Kind::Boolean},      {"", Kind::Empty},
    {"DECIMAL(10,2)", Kind::Empty},
};

// What writing one value to a column gives: the value in the file and read back, or a refusal.
struct Outcome {
    QString stored;
    Variant read;
    QString failure;
};
Outcome saved(const QString &inFile, const Variant &read) { return {inFile, read, {}}; }
Outcome refused(std::int32_t number, const QString &description)
{
    return {QStringLiteral("null"), Variant::ofNull(), failed(number, description + QStringLiteral(" (field 'v')"))};
}
Outcome overflow(const char *value, const char *kind, const char *range)
{
    return refused(ErrorCode::Overflow, QStringLiteral("Overflow: %1 is out of the range of %2 (%3)").arg(QLatin1String(value), QLatin1String(kind), QLatin1String(range)));
}
Outcome cannot(const char *from, const char *to)
{
    return refused(ErrorCode::TypeMismatch, QStringLiteral("Type mismatch: %1 cannot be stored as %2").arg(QLatin1String(from), QLatin1String(to)));
}
Outcome notA(const char *what, const char *textValue, const char *to)
{
    return refused(ErrorCode::TypeMismatch, QStringLiteral("Type mismatch: Text \"%1\" is not a %2 and cannot be stored as %3")
                                                .arg(QLatin1String(textValue), QLatin1String(what), QLatin1String(to)));
}
const Outcome Nothing = saved(QStringLiteral("null"), Variant::ofNull());

// The values written to each column type, one of each kind and the two texts that convert.
struct Input {
    const char *name;
    Variant value;
};
QList<Input> inputs()
{
    return {
        {"Byte 7", Variant::ofByte(7)},
        {"Integer 98", Variant::ofInteger(98)},
        {"Long 70000", Variant::ofLong(70000)},
        {"Single 0.96", Variant::ofSingle(0.96f)},
        {"Double 2.5", Variant::ofDouble(2.5)},
        {"Text 98", Variant::ofText(QStringLiteral("98"))},
        {"Text 01/18/2008", Variant::ofText(QStringLiteral("01/18/2008"))},
        {"Date 2008-01-18", Variant::ofDate(QDate(2008, 1, 18))},
        {"Date and time", Variant::ofDate(QDate(2008, 1, 18), QTime(13, 45, 7))},
        {"Boolean true", Variant::ofBoolean(true)},
        {"Boolean false", Variant::ofBoolean(false)},
        {"Null", Variant::ofNull()},
        {"Empty", Variant()},
    };
}

// The outcome of each input, in the order of inputs(), for a column of the kind.
QList<Outcome> outcomes(Kind kind, const QString &declared)
{
    const double single096 = static_cast<double>(0.96f);
    const Variant day = Variant::ofDate(QDate(2008, 1, 18));
    const Variant dayAndTime = Variant::ofDate(QDate(2008, 1, 18), QTime(13, 45, 7));
    switch (kind) {
    case Kind::Byte:
        return {saved(number(7), Variant::ofByte(7)), saved(number(98), Variant::ofByte(98)), overflow("70000", "Byte", "0 to 255"),
                saved(number(1), Variant::ofByte(1)), saved(number(2), Variant::ofByte(2)), saved(number(98), Variant::ofByte(98)),
                notA("number", "01/18/2008", "Byte"), cannot("Date", "Byte"), cannot("Date", "Byte"), overflow("-1", "Byte", "0 to 255"),
                saved(number(0), Variant::ofByte(0)), Nothing, Nothing};
    case Kind::Integer:
        return {saved(number(7), Variant::ofInteger(7)), saved(number(98), Variant::ofInteger(98)), overflow("70000", "Integer", "-32768 to 32767"),
                saved(number(1), Variant::ofInteger(1)), saved(number(2), Variant::ofInteger(2)), saved(number(98), Variant::ofInteger(98)),
                notA("number", "01/18/2008", "Integer"), cannot("Date", "Integer"), cannot("Date", "Integer"),
                saved(number(-1), Variant::ofInteger(-1)), saved(number(0), Variant::ofInteger(0)), Nothing, Nothing};
    case Kind::Long:
        return {saved(number(7), Variant::ofLong(7)), saved(number(98), Variant::ofLong(98)), saved(number(70000), Variant::ofLong(70000)),
                saved(number(1), Variant::ofLong(1)), saved(number(2), Variant::ofLong(2)), saved(number(98), Variant::ofLong(98)),
                notA("number", "01/18/2008", "Long"), cannot("Date", "Long"), cannot("Date", "Long"),
                saved(number(-1), Variant::ofLong(-1)), saved(number(0), Variant::ofLong(0)), Nothing, Nothing};
    case Kind::Single:
        return {saved(number(7), Variant::ofSingle(7)), saved(number(98), Variant::ofSingle(98)), saved(number(70000), Variant::ofSingle(70000)),
                saved(number(single096), Variant::ofSingle(0.96f)), saved(number(2.5), Variant::ofSingle(2.5f)),
                saved(number(98), Variant::ofSingle(98)), notA("number", "01/18/2008", "Single"), cannot("Date", "Single"),
                cannot("Date", "Single"), saved(number(-1), Variant::ofSingle(-1)), saved(number(0), Variant::ofSingle(0)), Nothing, Nothing};
    case Kind::Double:
        return {saved(number(7), Variant::ofDouble(7)), saved(number(98), Variant::ofDouble(98)), saved(number(70000), Variant::ofDouble(70000)),
                saved(number(single096), Variant::ofDouble(single096)), saved(number(2.5), Variant::ofDouble(2.5)),
                saved(number(98), Variant::ofDouble(98)), notA("number", "01/18/2008", "Double"), cannot("Date", "Double"),
                cannot("Date", "Double"), saved(number(-1), Variant::ofDouble(-1)), saved(number(0), Variant::ofDouble(0)), Nothing, Nothing};
    case Kind::Date:
        return {cannot("Byte", "Date"), cannot("Integer", "Date"), cannot("Long", "Date"), cannot("Single", "Date"), cannot("Double", "Date"),
                notA("date", "98", "Date"), saved(text(QStringLiteral("2008-01-18")), day), saved(text(QStringLiteral("2008-01-18")), day),
                saved(text(QStringLiteral("2008-01-18 13:45:07")), dayAndTime), cannot("Boolean", "Date"), cannot("Boolean", "Date"),
                Nothing, Nothing};
    case Kind::Text: {
        const auto as = [](const char *value) { return saved(text(QLatin1String(value)), Variant::ofText(QLatin1String(value))); };
        return {as("7"), as("98"), as("70000"), as("0.96"), as("2.5"), as("98"), as("01/18/2008"), as("2008-01-18"),
                as("2008-01-18 13:45:07"), as("True"), as("False"), Nothing, Nothing};
    }
    case Kind::Boolean: {
        const Outcome yes = saved(number(-1), Variant::ofBoolean(true));
        return {yes, yes, yes, yes, yes, yes, notA("number", "01/18/2008", "Boolean"), cannot("Date", "Boolean"), cannot("Date", "Boolean"),
                yes, saved(number(0), Variant::ofBoolean(false)), Nothing, Nothing};
    }
    default: {
        // No kind of ours: the value as it is, read back as the kind of what the file holds. A
        // declared type of numeric affinity (DECIMAL) makes the engine store the text "98" as a number.
        const bool numericAffinity = !declared.isEmpty();
        const auto asText = [](const QString &value) { return saved(text(value), Variant::ofText(value)); };
        return {saved(number(7), Variant::ofLong(7)), saved(number(98), Variant::ofLong(98)), saved(number(70000), Variant::ofLong(70000)),
                saved(number(single096), Variant::ofDouble(single096)), saved(number(2.5), Variant::ofDouble(2.5)),
                numericAffinity ? saved(number(98), Variant::ofLong(98)) : asText(QStringLiteral("98")),
                asText(QStringLiteral("01/18/2008")), asText(QStringLiteral("2008-01-18")), asText(QStringLiteral("2008-01-18 13:45:07")),
                saved(number(-1), Variant::ofLong(-1)), saved(number(0), Variant::ofLong(0)), Nothing, Nothing};
    }
    }
}

} // namespace

class tst_Recordset : public QObject {
    Q_OBJECT

private slots:
    void columnKinds_data();
    void columnKinds();
    void write_data();
    void write();
    void memoKeepsTheFormOfANumber();
    void read_data();
    void read();
    void fieldsByNameAndPosition();

    void updateWritesOnlyTheCurrentRow_data();
    void updateWritesOnlyTheCurrentRow();
    void updateOfThePrimaryKey();
    void savedRowIsSeenAtOnceWhileTheRecordsetStaysOpen();
    void valueWrittenIsWhatTheNextReadGives();
    void addNewWritesOnlyTheFieldsSet();
    void addNewRefusedByTheTableLosesNothing();

    void bofEofAndMoveLast_data();
    void bofEofAndMoveLast();
    void moveLastReachesTheLastRowDelivered_data();
    void moveLastReachesTheLastRowDelivered();
    void hostileQueriesAreCutShort_data();
    void hostileQueriesAreCutShort();
    void emptyResult_data();
    void emptyResult();

    void useAfterTheEnd_data();
    void useAfterTheEnd();
    void closeAndReleaseWriteNothingUnsaved();

    void updatable_data();
    void updatable();

    void namesWithQuotesAndSemicolons();
};

void tst_Recordset::columnKinds_data()
{
    QTest::addColumn<QString>("declared");
    QTest::addColumn<Kind>("kind");

    for (const ColumnType &type : ColumnTypes)
        QTest::addRow("%s", *type.declared ? type.declared : "(none)") << QString::fromLatin1(type.declared) << type.kind;
    QTest::newRow("lower case") << "varchar(60)" << Kind::Text;
    QTest::newRow("mixed case") << "SmallInt" << Kind::Integer;
    QTest::newRow("two words: LONG INTEGER") << "LONG INTEGER" << Kind::Long;
    QTest::newRow("two words: DOUBLE PRECISION") << "DOUBLE PRECISION" << Kind::Double;
    QTest::newRow("size after the name") << "INT(11)" << Kind::Long;
    QTest::newRow("blank before the size") << "CHAR (10)" << Kind::Text;
    QTest::newRow("INTEGER PRIMARY KEY") << "INTEGER PRIMARY KEY" << Kind::Long;
    QTest::newRow("a name that only begins like one") << "DATETIME2" << Kind::Empty;
    QTest::newRow("NVARCHAR is not in the table") << "NVARCHAR(10)" << Kind::Empty;
    QTest::newRow("BLOB") << "BLOB" << Kind::Empty;
}

void tst_Recordset::columnKinds()
{
    QFETCH(QString, declared);
    QFETCH(Kind, kind);

    Fixture f(QStringLiteral("CREATE TABLE k (v %1); INSERT INTO k DEFAULT VALUES;").arg(declared));
    Ref<Recordset> rs = f.connection.GetRecordset(QStringLiteral("select v from k"));
    QCOMPARE(rs->Fields().Item("v").ColumnKind(), kind);
}

void tst_Recordset::write_data()
{
    QTest::addColumn<QString>("declared");
    QTest::addColumn<Variant>("value");
    QTest::addColumn<QString>("inFile");
    QTest::addColumn<Variant>("read");
    QTest::addColumn<QString>("failure");

    const QList<Input> values = inputs();
    for (const ColumnType &type : ColumnTypes) {
        const QString declared = QString::fromLatin1(type.declared);
        const QList<Outcome> expected = outcomes(type.kind, declared);
        QCOMPARE(expected.size(), values.size());
        for (qsizetype i = 0; i < values.size(); ++i)
            QTest::addRow("%s into %s", values[i].name, *type.declared ? type.declared : "(none)")
                << declared << values[i].value << expected[i].stored << expected[i].read << expected[i].failure;
    }

    // The conversions and refusals that the issue names, and their edges.
    const auto row = [](const char *tag, const char *declared, const Variant &value, const Outcome &outcome) {
        QTest::newRow(tag) << QString::fromLatin1(declared) << value << outcome.stored << outcome.read << outcome.failure;
    };
    row("98 into Text stores \"98\"", "VARCHAR(60)", Variant::ofInteger(98), saved(text(QStringLiteral("98")), Variant::ofText(QStringLiteral("98"))));
    row("01/18/2008 into Date stores 2008-01-18", "DATE", Variant::ofText(QStringLiteral("01/18/2008")),
        saved(text(QStringLiteral("2008-01-18")), Variant::ofDate(QDate(2008, 1, 18))));
    row("12-hour time into DateTime", "DATETIME", Variant::ofText(QStringLiteral("1/18/2008 1:05 PM")),
        saved(text(QStringLiteral("2008-01-18 13:05:00")), Variant::ofDate(QDate(2008, 1, 18), QTime(13, 5))));
    row("double into Single is rounded to single precision", "SINGLE", Variant::ofDouble(0.96),
        saved(number(static_cast<double>(0.96f)), Variant::ofSingle(0.96f)));
    row("double into Real is rounded to single precision", "REAL", Variant::ofDouble(0.2109375 + 1e-12),
        saved(number(0.2109375), Variant::ofSingle(0.2109375f)));
    row("double into Double keeps every digit", "DOUBLE", Variant::ofDouble(0.1), saved(number(0.1), Variant::ofDouble(0.1)));
    row("98.4 into Integer rounds", "SMALLINT", Variant::ofDouble(98.4), saved(number(98), Variant::ofInteger(98)));
    row("98.5 into Integer rounds half to even", "SMALLINT", Variant::ofDouble(98.5), saved(number(98), Variant::ofInteger(98)));
    row("99.5 into Integer rounds half to even", "SMALLINT", Variant::ofDouble(99.5), saved(number(100), Variant::ofInteger(100)));
    row("text with blanks into Long", "LONG", Variant::ofText(QStringLiteral(" 42 ")), saved(number(42), Variant::ofLong(42)));
    row("text with exponent into Long", "LONG", Variant::ofText(QStringLiteral("1e3")), saved(number(1000), Variant::ofLong(1000)));
    row("255.4 into Byte", "BYTE", Variant::ofDouble(255.4), saved(number(255), Variant::ofByte(255)));
    row("32767 into Integer", "SMALLINT", Variant::ofLong(32767), saved(number(32767), Variant::ofInteger(32767)));
    row("-32768 into Integer", "SMALLINT", Variant::ofLong(-32768), saved(number(-32768), Variant::ofInteger(-32768)));
    row("text yes into Boolean", "BIT", Variant::ofText(QStringLiteral("Yes")), saved(number(-1), Variant::ofBoolean(true)));
    row("text false into Boolean", "YESNO", Variant::ofText(QStringLiteral("false")), saved(number(0), Variant::ofBoolean(false)));
    row("text off into Boolean", "LOGICAL", Variant::ofText(QStringLiteral("off")), saved(number(0), Variant::ofBoolean(false)));
    row("text 0 into Boolean", "BOOLEAN", Variant::ofText(QStringLiteral("0")), saved(number(0), Variant::ofBoolean(false)));
    row("Date into Text", "TEXT", Variant::ofDate(QDate(2008, 1, 18)), saved(text(QStringLiteral("2008-01-18")), Variant::ofText(QStringLiteral("2008-01-18"))));
    row("Double into Text", "TEXT", Variant::ofDouble(0.2109375), saved(text(QStringLiteral("0.2109375")), Variant::ofText(QStringLiteral("0.2109375"))));
    row("empty text into Text is not Null", "TEXT", Variant::ofText(QString()), saved(text(QString()), Variant::ofText(QString())));

    row("300 into Byte", "BYTE", Variant::ofLong(300), overflow("300", "Byte", "0 to 255"));
    row("-1 into Byte", "TINYINT", Variant::ofInteger(-1), overflow("-1", "Byte", "0 to 255"));
    row("255.5 into Byte", "BYTE", Variant::ofDouble(255.5), overflow("255.5", "Byte", "0 to 255"));
    row("40000 into Integer", "SMALLINT", Variant::ofLong(40000), overflow("40000", "Integer", "-32768 to 32767"));
    row("-32769 into Integer", "SHORT", Variant::ofLong(-32769), overflow("-32769", "Integer", "-32768 to 32767"));
    row("text 40000 into Integer", "SMALLINT", Variant::ofText(QStringLiteral("40000")), overflow("40000", "Integer", "-32768 to 32767"));
    row("3e9 into Long", "LONG", Variant::ofDouble(3e9), overflow("3e+09", "Long", "-2147483648 to 2147483647"));
    row("1e39 into Single", "SINGLE", Variant::ofDouble(1e39), overflow("1e+39", "Single", "-3.4028235e+38 to 3.4028235e+38"));
    row("infinity into Double", "DOUBLE", Variant::ofDouble(std::numeric_limits<double>::infinity()),
        overflow("inf", "Double", "-1.7976931348623157e+308 to 1.7976931348623157e+308"));
    row("NaN into Double", "DOUBLE", Variant::ofDouble(std::nan("")),
        refused(ErrorCode::TypeMismatch, QStringLiteral("Type mismatch: Double nan is not a number and cannot be stored as Double")));
    row("NaN into Single", "SINGLE", Variant::ofSingle(std::nanf("")),
        refused(ErrorCode::TypeMismatch, QStringLiteral("Type mismatch: Single nan is not a number and cannot be stored as Single")));
    row("NaN into a column of no type", "", Variant::ofDouble(std::nan("")),
        refused(ErrorCode::TypeMismatch, QStringLiteral("Type mismatch: Double nan is not a number and cannot be stored as Double")));
    row("word into Double", "DOUBLE", Variant::ofText(QStringLiteral("neg")), notA("number", "neg", "Double"));
    row("empty text into Long", "LONG", Variant::ofText(QString()), notA("number", "", "Long"));
    row("decimal comma into Double", "DOUBLE", Variant::ofText(QStringLiteral("0,96")), notA("number", "0,96", "Double"));
    row("word into Boolean", "BIT", Variant::ofText(QStringLiteral("maybe")), notA("number", "maybe", "Boolean"));
    row("30 February into Date", "DATE", Variant::ofText(QStringLiteral("02/30/2008")), notA("date", "02/30/2008", "Date"));
    row("day/month/year into Date", "DATE", Variant::ofText(QStringLiteral("18/01/2008")), notA("date", "18/01/2008", "Date"));
    row("hour 25 into DateTime", "DATETIME", Variant::ofText(QStringLiteral("2008-01-18 25:00")), notA("date", "2008-01-18 25:00", "Date"));
}

void tst_Recordset::write()
{
    QFETCH(QString, declared);
    QFETCH(Variant, value);
    QFETCH(QString, inFile);
    QFETCH(Variant, read);
    QFETCH(QString, failure);

    Fixture f(QStringLiteral("CREATE TABLE k (id INTEGER PRIMARY KEY, v %1, other TEXT);"
                             "INSERT INTO k (id, other) VALUES (1, 'before');")
                  .arg(declared));
    Ref<Recordset> rs = f.connection.GetRecordset(QStringLiteral("select * from k"));
    rs->Fields().Item("other").setValue(Variant::ofText(QStringLiteral("after")));
    QCOMPARE(failureOf([&] { rs->Fields().Item("v").setValue(value); }), failure);
    // Not yet saved: the next read gives the converted value, or the old one after a refusal. A
    // column of no kind of ours gives the value as written until the file has it.
    const bool asWritten = rs->Fields().Item("v").ColumnKind() == Kind::Empty && failure.isEmpty() && !value.isEmpty();
    QCOMPARE(rs->Fields().Item("v").Value(), asWritten ? value : read);
    QCOMPARE(failureOf([&] { rs->Update(); }), QString());

    // A refused value reaches nothing; the row's other change is saved all the same.
    const bool memoKeepsNumberText = declared == QLatin1String("MEMO") && inFile.startsWith(QLatin1String("text "))
                                     && olbra::parseNumber(inFile.mid(5));
    if (memoKeepsNumberText)
        QEXPECT_FAIL("", "SQLite gives MEMO numeric affinity: text that reads as a number is stored as that number", Continue);
    QCOMPARE(stored(f.db, QStringLiteral("SELECT v FROM k WHERE id = 1")), inFile);
    QCOMPARE(f.db.scalar(QStringLiteral("SELECT other FROM k WHERE id = 1")).toString(), QStringLiteral("after"));
    QCOMPARE(f.db.scalar(QStringLiteral("SELECT count(*) FROM k")).toInt(), 1);

    // Read back from the saved row, and by a new recordset.
    QCOMPARE(rs->Fields().Item("v").Value(), read);
    Ref<Recordset> again = f.connection.GetRecordset(QStringLiteral("select v from k"));
    QCOMPARE(again->Fields().Item(0).Value(), read);
}

void tst_Recordset::memoKeepsTheFormOfANumber()
{
    Fixture f(QStringLiteral("CREATE TABLE k (v MEMO); INSERT INTO k DEFAULT VALUES;"));
    Ref<Recordset> rs = f.connection.GetRecordset(QStringLiteral("select v from k"));
    rs->Fields().Item("v").setValue(Variant::ofText(QStringLiteral("2.10")));
    rs->Update();
    QEXPECT_FAIL("", "SQLite gives MEMO numeric affinity: the text 2.10 is stored as the number 2.1", Continue);
    QCOMPARE(rs->Fields().Item("v").Value(), Variant::ofText(QStringLiteral("2.10")));
}

void tst_Recordset::read_data()
{
    QTest::addColumn<QString>("declared");
    QTest::addColumn<QString>("literal");
    QTest::addColumn<Variant>("read");
    QTest::addColumn<QString>("failure");

    const auto row = [](const char *tag, const char *declared, const char *literal, const Variant &read, const QString &failure = {}) {
        QTest::newRow(tag) << QString::fromLatin1(declared) << QString::fromLatin1(literal) << read << failure;
    };
    const auto refusal = [](std::int32_t number, const QString &description) {
        return failed(number, description + QStringLiteral(" (field 'v')"));
    };

    row("Single holding 0.96 reads as 0.96f", "SINGLE", "0.96", Variant::ofSingle(0.96f));
    row("Real holding 0.96 reads as 0.96f", "REAL", "0.96", Variant::ofSingle(0.96f));
    row("Float4 holding a whole number", "FLOAT4", "98", Variant::ofSingle(98));
    row("Double holding 0.96", "DOUBLE", "0.96", Variant::ofDouble(0.96));
    row("Number holding a whole number", "NUMBER", "7", Variant::ofDouble(7));
    row("Byte holding 255", "BYTE", "255", Variant::ofByte(255));
    row("Integer holding 98", "SMALLINT", "98", Variant::ofInteger(98));
    row("Integer holding text 98", "SHORT", "'98'", Variant::ofInteger(98));
    row("Integer holding 98.6", "SMALLINT", "98.6", Variant::ofInteger(99));
    row("Long holding 2147483647", "LONG", "2147483647", Variant::ofLong(2147483647));
    row("Date holding an ISO date", "DATE", "'2008-01-18'", Variant::ofDate(QDate(2008, 1, 18)));
    row("Date holding midnight", "DATETIME", "'2008-01-18 00:00:00'", Variant::ofDate(QDate(2008, 1, 18), QTime(0, 0)));
    row("Date holding month/day/year", "DATE", "'01/18/2008'", Variant::ofDate(QDate(2008, 1, 18)));
    row("Text holding text", "VARCHAR(60)", "'Neisseria gonorrhoeae'", Variant::ofText(QStringLiteral("Neisseria gonorrhoeae")));
    row("Text holding a number", "TEXT", "98", Variant::ofText(QStringLiteral("98")));
    row("Memo holding a number", "MEMO", "0.5", Variant::ofText(QStringLiteral("0.5")));
    row("Boolean holding 1", "BIT", "1", Variant::ofBoolean(true));
    row("Boolean holding -1", "YESNO", "-1", Variant::ofBoolean(true));
    row("Boolean holding 0", "BOOLEAN", "0", Variant::ofBoolean(false));
    row("Boolean holding text True", "LOGICAL", "'True'", Variant::ofBoolean(true));
    row("no type holding an integer", "", "98", Variant::ofLong(98));
    row("no type holding an integer beyond Long", "", "5000000000", Variant::ofDouble(5e9));
    row("no type holding a real", "", "0.96", Variant::ofDouble(0.96));
    row("no type holding text", "", "'98'", Variant::ofText(QStringLiteral("98")));
    row("other type holding text", "NVARCHAR(10)", "'NH'", Variant::ofText(QStringLiteral("NH")));
    for (const ColumnType &type : ColumnTypes)
        QTest::addRow("%s holding Null", *type.declared ? type.declared : "(none)")
            << QString::fromLatin1(type.declared) << QStringLiteral("NULL") << Variant::ofNull() << QString();

    row("Byte holding 300", "BYTE", "300", Variant(), refusal(ErrorCode::Overflow, QStringLiteral("Overflow: 300 is out of the range of Byte (0 to 255)")));
    row("Integer holding a word", "SMALLINT", "'abc'", Variant(),
        refusal(ErrorCode::TypeMismatch, QStringLiteral("Type mismatch: Text \"abc\" is not a number and cannot be stored as Integer")));
    row("Date holding a word", "DATE", "'soon'", Variant(),
        refusal(ErrorCode::TypeMismatch, QStringLiteral("Type mismatch: Text \"soon\" is not a date and cannot be stored as Date")));
    row("Date holding a number", "DATE", "39465", Variant(),
        refusal(ErrorCode::TypeMismatch, QStringLiteral("Type mismatch: Long cannot be stored as Date")));
}

void tst_Recordset::read()
{
    QFETCH(QString, declared);
    QFETCH(QString, literal);
    QFETCH(Variant, read);
    QFETCH(QString, failure);

    Fixture f(QStringLiteral("CREATE TABLE k (v %1); INSERT INTO k VALUES (%2);").arg(declared, literal));
    Ref<Recordset> rs = f.connection.GetRecordset(QStringLiteral("select v from k"));
    Variant value;
    QCOMPARE(failureOf([&] { value = rs->Fields().Item("v").Value(); }), failure);
    QCOMPARE(value, read);
}

void tst_Recordset::fieldsByNameAndPosition()
{
    Fixture f(TestDatabase::demoSql());
    Ref<Recordset> rs = f.connection.GetRecordset(QStringLiteral("Select * from NHBASE where ID = 1"));
    QCOMPARE(rs->Fields().Count(), 15);
    QCOMPARE(rs->Fields().Item(0).Name(), QStringLiteral("ID"));
    QCOMPARE(rs->Fields().Item(5).Name(), QStringLiteral("PRO"));
    QCOMPARE(rs->Fields().Item(5).Value(), Variant::ofInteger(100));
    QCOMPARE(rs->Fields().Item("pro").Value(), Variant::ofInteger(100));
    QCOMPARE(rs->Fields().Item("Pro").Name(), QStringLiteral("PRO"));
    QCOMPARE(rs->Fields().Item(QStringLiteral("organism")).Value(), Variant::ofText(QStringLiteral("Neisseria gonorrhoeae")));
    QCOMPARE(rs->Fields().Item("MLF").Value(), Variant::ofDouble(0.99));

    QCOMPARE(failureOf([&] { rs->Fields().Item("PRO2"); }),
             failed(ErrorCode::ItemNotFound, QStringLiteral("Item cannot be found: no field named 'PRO2'")));
    QCOMPARE(failureOf([&] { rs->Fields().Item(15); }),
             failed(ErrorCode::ItemNotFound, QStringLiteral("Item cannot be found: no field at position 15 of 15")));
    QCOMPARE(failureOf([&] { rs->Fields().Item(-1); }),
             failed(ErrorCode::ItemNotFound, QStringLiteral("Item cannot be found: no field at position -1 of 15")));

    // A column named by the query is found by that name, and saves to the table's column.
    Ref<Recordset> renamed = f.connection.GetRecordset(QStringLiteral("select PRO as Proline from NHBASE where ID = 2"));
    QCOMPARE(renamed->Fields().Item("proline").Name(), QStringLiteral("Proline"));
    QCOMPARE(renamed->Fields().Item(0).ColumnKind(), Kind::Integer);
    renamed->Fields().Item("Proline").setValue(Variant::ofInteger(7));
    renamed->Update();
    QCOMPARE(f.db.scalar(QStringLiteral("SELECT PRO FROM NHBASE WHERE ID = 2")).toInt(), 7);
}

void tst_Recordset::updateWritesOnlyTheCurrentRow_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<bool>("moveLast");
    QTest::addColumn<int>("changedRow"); // rowid

    QTest::newRow("first row of identical rows") << "select * from t" << false << 1;
    QTest::newRow("first row in the query's order") << "select * from t order by rowid desc" << false << 3;
    QTest::newRow("last row after MoveLast") << "select * from t" << true << 3;
    QTest::newRow("last row in the query's order") << "select * from t order by rowid desc" << true << 1;
    QTest::newRow("first row of a filter") << "select name from t where n = 5 and rowid > 1" << false << 2;
}

void tst_Recordset::updateWritesOnlyTheCurrentRow()
{
    QFETCH(QString, query);
    QFETCH(bool, moveLast);
    QFETCH(int, changedRow);

    // No key: nothing but the position tells the three rows apart.
    Fixture f(QStringLiteral("CREATE TABLE t (name VARCHAR(10), n SMALLINT);"
                             "INSERT INTO t VALUES ('same', 5), ('same', 5), ('same', 5);"));
    Ref<Recordset> rs = f.connection.GetRecordset(query);
    if (moveLast)
        rs->MoveLast();
    rs->Fields().Item("name").setValue(Variant::ofText(QStringLiteral("stamped")));
    rs->Update();

    QCOMPARE(f.db.scalar(QStringLiteral("SELECT group_concat(rowid || ':' || name || ':' || n, ' ') FROM t")).toString(),
             QStringLiteral("1:%1:5 2:%2:5 3:%3:5")
                 .arg(changedRow == 1 ? "stamped" : "same", changedRow == 2 ? "stamped" : "same", changedRow == 3 ? "stamped" : "same"));
    QCOMPARE(rs->Fields().Item("name").Value(), Variant::ofText(QStringLiteral("stamped")));
}

void tst_Recordset::updateOfThePrimaryKey()
{
    Fixture f(QStringLiteral("CREATE TABLE t (ID INTEGER PRIMARY KEY, name TEXT); INSERT INTO t VALUES (1, 'a'), (2, 'b');"));
    Ref<Recordset> rs = f.connection.GetRecordset(QStringLiteral("select * from t where ID = 1"));
    rs->Fields().Item("ID").setValue(Variant::ofLong(7));
    rs->Fields().Item("name").setValue(Variant::ofText(QStringLiteral("moved")));
    QCOMPARE(failureOf([&] { rs->Update(); }), QString());
    QCOMPARE(f.db.scalar(QStringLiteral("SELECT group_concat(ID || ':' || name, ' ') FROM t")).toString(), QStringLiteral("2:b 7:moved"));
    QCOMPARE(rs->Fields().Item("ID").Value(), Variant::ofLong(7));

    // The row is still the recordset's current one: a second change goes to it.
    rs->Fields().Item("name").setValue(Variant::ofText(QStringLiteral("again")));
    QCOMPARE(failureOf([&] { rs->Update(); }), QString());
    QCOMPARE(f.db.scalar(QStringLiteral("SELECT group_concat(ID || ':' || name, ' ') FROM t")).toString(), QStringLiteral("2:b 7:again"));
}

void tst_Recordset::savedRowIsSeenAtOnceWhileTheRecordsetStaysOpen()
{
    Fixture f(TestDatabase::demoSql());
    // A read-only recordset that stands on its first row with more to follow keeps a read going.
    Ref<Recordset> reading = f.connection.GetRecordset(QStringLiteral("select n.ID, p.panelcode from NHBASE n, Panels p"));
    Ref<Recordset> rs = f.connection.GetRecordset(QStringLiteral("Select * from NHBASE where ID = 1"));
    Ref<Recordset> history = f.connection.GetRecordset(QStringLiteral("Select * from updates"));
    rs->Fields().Item("PRO").setValue(Variant::ofInteger(98));
    rs->Update();
    history->AddNew();
    history->Fields().Item("Reason").setValue(Variant::ofText(QStringLiteral("Patch NH0108")));
    history->Update();

    QCOMPARE(rs->State(), Recordset::Open);
    QCOMPARE(f.db.scalar(QStringLiteral("SELECT PRO FROM NHBASE WHERE ID = 1")).toInt(), 98);
    QCOMPARE(f.db.scalar(QStringLiteral("SELECT Reason FROM updates ORDER BY rowid DESC LIMIT 1")).toString(), QStringLiteral("Patch NH0108"));
    // Nothing of the program's holds a lock: another program can write at once.
    QCOMPARE(QString::fromStdString([&] {
                 try {
                     f.db.exec(QStringLiteral("BEGIN EXCLUSIVE; UPDATE NHBASE SET RES = 4 WHERE ID = 1; COMMIT;"));
                     return std::string();
                 } catch (const std::exception &error) {
                     return std::string(error.what());
                 }
             }()),
             QString());
    // The reading recordset still gives its current row.
    QCOMPARE(reading->Fields().Item("ID").Value(), Variant::ofLong(1));
    QCOMPARE(reading->isEOF(), false);
}

void tst_Recordset::valueWrittenIsWhatTheNextReadGives()
{
    Fixture f(TestDatabase::demoSql());
    Ref<Recordset> rs = f.connection.GetRecordset(QStringLiteral("Select * from NHBASE where ID = 1"));
    rs->Fields().Item("PRO").setValue(Variant::ofDouble(98.4));
    rs->Fields().Item("RES").setValue(Variant::ofText(QStringLiteral("4")));
    // By name and by position, before anything is saved.
    QCOMPARE(rs->Fields().Item("PRO").Value(), Variant::ofInteger(98));
    QCOMPARE(rs->Fields().Item(5).Value(), Variant::ofInteger(98));
    QCOMPARE(rs->Fields().Item(9).Value(), Variant::ofInteger(4));
    QCOMPARE(rs->Fields().Item("GLU").Value(), Variant::ofInteger(100));
    QCOMPARE(f.db.scalar(QStringLiteral("SELECT PRO || ',' || RES FROM NHBASE WHERE ID = 1")).toString(), QStringLiteral("100,100"));

    // A later write of the same field replaces the earlier one.
    rs->Fields().Item("PRO").setValue(Variant::ofInteger(97));
    QCOMPARE(rs->Fields().Item("PRO").Value(), Variant::ofInteger(97));

    // MoveLast would lose the change: it is refused and the change stays.
    QCOMPARE(failureOf([&] { rs->MoveLast(); }),
             failed(ErrorCode::NotUpdatable, QStringLiteral("The current row has unsaved changes: call Update first")));
    QCOMPARE(rs->Fields().Item("PRO").Value(), Variant::ofInteger(97));

    rs->Update();
    QCOMPARE(f.db.scalar(QStringLiteral("SELECT PRO || ',' || RES FROM NHBASE WHERE ID = 1")).toString(), QStringLiteral("97,4"));
    QCOMPARE(rs->Fields().Item("PRO").Value(), Variant::ofInteger(97));
}

void tst_Recordset::addNewWritesOnlyTheFieldsSet()
{
    Fixture f(QStringLiteral("CREATE TABLE t (id INTEGER PRIMARY KEY, name VARCHAR(20) NOT NULL DEFAULT 'unnamed',"
                             " n SMALLINT DEFAULT 5, day DATE DEFAULT '2000-01-01', note TEXT, flag BIT DEFAULT 0);"
                             "INSERT INTO t (id, name) VALUES (1, 'first');"));
    Ref<Recordset> rs = f.connection.GetRecordset(QStringLiteral("select * from t"));
    rs->AddNew();
    rs->Fields().Item("n").setValue(Variant::ofInteger(7));
    // Before the save only the fields set have a value.
    QCOMPARE(rs->Fields().Item("n").Value(), Variant::ofInteger(7));
    QCOMPARE(rs->Fields().Item("name").Value(), Variant::ofNull());
    rs->Update();

    QCOMPARE(f.db.scalar(QStringLiteral("SELECT quote(id) || ',' || quote(name) || ',' || quote(n) || ',' || quote(day) || ','"
                                        " || quote(note) || ',' || quote(flag) FROM t WHERE id = 2"))
                 .toString(),
             QStringLiteral("2,'unnamed',7,'2000-01-01',NULL,0"));
    QCOMPARE(f.db.scalar(QStringLiteral("SELECT count(*) FROM t")).toInt(), 2);
    // The recordset stands on the saved row, defaults included.
    QCOMPARE(rs->isBOF(), false);
    QCOMPARE(rs->isEOF(), false);
    QCOMPARE(rs->Fields().Item("id").Value(), Variant::ofLong(2));
    QCOMPARE(rs->Fields().Item("name").Value(), Variant::ofText(QStringLiteral("unnamed")));
    QCOMPARE(rs->Fields().Item("day").Value(), Variant::ofDate(QDate(2000, 1, 1)));
    QCOMPARE(rs->Fields().Item("flag").Value(), Variant::ofBoolean(false));

    // A new row with no field set at all.
    rs->AddNew();
    rs->Update();
    QCOMPARE(f.db.scalar(QStringLiteral("SELECT name || ',' || n FROM t WHERE id = 3")).toString(), QStringLiteral("unnamed,5"));

    // A new row in an empty result.
    Ref<Recordset> none = f.connection.GetRecordset(QStringLiteral("select * from t where id > 100"));
    QVERIFY(none->isBOF() && none->isEOF());
    none->AddNew();
    none->Fields().Item("id").setValue(Variant::ofLong(101));
    none->Fields().Item("name").setValue(Variant::ofText(QStringLiteral("late")));
    none->Update();
    QVERIFY(!none->isBOF() && !none->isEOF());
    QCOMPARE(none->Fields().Item("n").Value(), Variant::ofInteger(5));
    QCOMPARE(f.db.scalar(QStringLiteral("SELECT name FROM t WHERE id = 101")).toString(), QStringLiteral("late"));
}

void tst_Recordset::addNewRefusedByTheTableLosesNothing()
{
    Fixture f(QStringLiteral("CREATE TABLE t (id INTEGER PRIMARY KEY, code VARCHAR(4) NOT NULL, n SMALLINT);"));
    Ref<Recordset> rs = f.connection.GetRecordset(QStringLiteral("select * from t"));
    rs->AddNew();
    rs->Fields().Item("n").setValue(Variant::ofInteger(3));
    QCOMPARE(failureOf([&] { rs->Update(); }),
             failed(ErrorCode::fromEngine(SQLITE_CONSTRAINT_NOTNULL), QStringLiteral("NOT NULL constraint failed: t.code (while saving the row)")));
    QVERIFY(ErrorCode::fromEngine(SQLITE_CONSTRAINT_NOTNULL) < 0);
    QCOMPARE(f.db.scalar(QStringLiteral("SELECT count(*) FROM t")).toInt(), 0);

    // The new row is still being made: the missing field is set and the save succeeds.
    QCOMPARE(rs->Fields().Item("n").Value(), Variant::ofInteger(3));
    rs->Fields().Item("code").setValue(Variant::ofText(QStringLiteral("NH")));
    rs->Update();
    QCOMPARE(f.db.scalar(QStringLiteral("SELECT code || ',' || n FROM t")).toString(), QStringLiteral("NH,3"));
}

void tst_Recordset::bofEofAndMoveLast_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<bool>("updatable");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("last");
    QTest::addColumn<QString>("lastAfterAnInsert"); // of a row with Build 80

    QTest::newRow("one row") << "select * from updates where Build = 61" << true << "61" << "61" << "61";
    QTest::newRow("several rows") << "Select * from updates" << true << "61" << "76" << "80";
    QTest::newRow("several rows, last in the query's order") << "select * from updates order by Build desc" << true << "76" << "61" << "61";
    QTest::newRow("read-only, one row") << "select u.Build from updates u, Panels p where p.panelcode = 'NH' and u.Build = 68" << false << "68" << "68" << "68";
    QTest::newRow("read-only, several rows") << "select u.Build from updates u join Panels p on p.panelcode = 'NH'" << false << "61" << "76" << "80";
}

void tst_Recordset::bofEofAndMoveLast()
{
    QFETCH(QString, query);
    QFETCH(bool, updatable);
    QFETCH(QString, first);
    QFETCH(QString, last);
    QFETCH(QString, lastAfterAnInsert);

    Fixture f(TestDatabase::demoSql() + QStringLiteral("INSERT INTO updates VALUES ('2008-01-18', 0, 76, 'Patch NH0108');"));
    Ref<Recordset> rs = f.connection.GetRecordset(query);
    QCOMPARE(rs->State(), Recordset::Open);
    QCOMPARE(rs->isUpdatable(), updatable);
    QCOMPARE(rs->isBOF(), false);
    QCOMPARE(rs->isEOF(), false);
    QCOMPARE(QString::number(rs->Fields().Item("Build").Value().toInteger()), first);

    rs->MoveLast();
    QCOMPARE(rs->isBOF(), false);
    QCOMPARE(rs->isEOF(), false);
    QCOMPARE(QString::number(rs->Fields().Item("Build").Value().toInteger()), last);
    // Again: it stays on the last row.
    rs->MoveLast();
    QCOMPARE(QString::number(rs->Fields().Item("Build").Value().toInteger()), last);

    if (updatable) {
        // A save on the last row, then MoveLast again.
        rs->Fields().Item("Reason").setValue(Variant::ofText(QStringLiteral("seen")));
        rs->Update();
        QCOMPARE(f.db.scalar(QStringLiteral("SELECT Build FROM updates WHERE Reason = 'seen'")).toString(), last);
    }
    // A row added since the query began is delivered when MoveLast has to read the query again.
    f.db.exec(QStringLiteral("INSERT INTO updates VALUES ('2008-02-01', 0, 80, 'later');"));
    rs->MoveLast();
    QCOMPARE(QString::number(rs->Fields().Item("Build").Value().toInteger()), lastAfterAnInsert);
}

void tst_Recordset::moveLastReachesTheLastRowDelivered_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QString>("last");

    // Rows stored out of rowid order, and an index that delivers them in yet another order.
    QTest::newRow("a whole table: the highest rowid") << "Select * from h" << "e";
    QTest::newRow("the table named in another case") << "SELECT * FROM H" << "e";
    QTest::newRow("a filter: the highest rowid kept") << "select * from h where k < 4" << "c";
    QTest::newRow("a filter through the index: its order") << "select * from h where Reason < 'd'" << "a";
    QTest::newRow("a limit: the last of the rows kept") << "select * from h limit 2" << "c";
    QTest::newRow("a covering index: its order") << "select Reason from h" << "a";
    QTest::newRow("an ordering: its order") << "select * from h order by Reason" << "e";
    QTest::newRow("an ordering, backwards") << "select * from h order by rowid desc" << "a";
}

void tst_Recordset::moveLastReachesTheLastRowDelivered()
{
    QFETCH(QString, query);
    QFETCH(QString, last);
    Fixture f(QStringLiteral("CREATE TABLE h (k INTEGER, Reason TEXT);"
                             "INSERT INTO h (rowid, k, Reason) VALUES (5, 5, 'e'), (1, 1, 'a'), (3, 3, 'c');"
                             "CREATE INDEX byReason ON h (Reason DESC);"));
    Ref<Recordset> rs = f.connection.GetRecordset(query);
    rs->MoveLast();
    QCOMPARE(rs->Fields().Item("Reason").Value().toText(), last);

    // What the walk through every row finds, for comparison.
    Ref<Recordset> walked = f.connection.GetRecordset(query);
    QString seen;
    sqlite3 *plain = nullptr;
    QCOMPARE(sqlite3_open(f.db.path().toUtf8().constData(), &plain), SQLITE_OK);
    sqlite3_stmt *statement = nullptr;
    QCOMPARE(sqlite3_prepare_v2(plain, query.toUtf8().constData(), -1, &statement, nullptr), SQLITE_OK);
    const int reason = sqlite3_column_count(statement) - 1;
    while (sqlite3_step(statement) == SQLITE_ROW)
        seen = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, reason)));
    sqlite3_finalize(statement);
    sqlite3_close(plain);
    QCOMPARE(seen, last);
}

void tst_Recordset::hostileQueriesAreCutShort_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<bool>("moveLast");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("description");

    QTest::newRow("an endless view") << "select * from endless" << true << olbra::ErrorCode::fromEngine(SQLITE_INTERRUPT)
                                     << "The database did not finish in time and was interrupted (interrupted) while reading a row";
    QTest::newRow("a giant value") << "select * from giant" << false << olbra::ErrorCode::fromEngine(SQLITE_TOOBIG)
                                   << "string or blob too big (while reading a row)";
}

void tst_Recordset::hostileQueriesAreCutShort()
{
    QFETCH(QString, query);
    QFETCH(bool, moveLast);
    QFETCH(int, number);
    QFETCH(QString, description);
    Fixture f(TestDatabase::demoSql()
              + QStringLiteral("CREATE VIEW endless AS WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT x FROM c;"
                               "CREATE VIEW giant AS SELECT hex(zeroblob(20000000)) AS v;"));
    f.connection.setStatementTimeout(200);
    try {
        Ref<Recordset> rs = f.connection.GetRecordset(query);
        if (moveLast)
            rs->MoveLast();
        QFAIL("the query was not cut short");
    } catch (const Failure &failure) {
        QCOMPARE(failure.number(), number);
        QCOMPARE(failure.description(), description);
    }
    // The connection serves the next request as before.
    Ref<Recordset> rs = f.connection.GetRecordset(QStringLiteral("Select * from updates"));
    rs->MoveLast();
    QCOMPARE(rs->Fields().Item("Build").Value().toInteger(), std::int16_t(68));
}

void tst_Recordset::emptyResult_data()
{
    QTest::addColumn<QString>("query");

    QTest::newRow("empty table") << "Select * from updates";
    QTest::newRow("filter that matches nothing") << "select * from NHBASE where ID = 99";
    QTest::newRow("read-only, empty") << "select n.ID from NHBASE n, Panels p where n.ID = 99";
}

void tst_Recordset::emptyResult()
{
    QFETCH(QString, query);

    Fixture f(TestDatabase::demoSql() + QStringLiteral("DELETE FROM updates;"));
    Ref<Recordset> rs = f.connection.GetRecordset(query);
    QCOMPARE(rs->State(), Recordset::Open);
    QCOMPARE(rs->isBOF(), true);
    QCOMPARE(rs->isEOF(), true);
    QCOMPARE(failureOf([&] { rs->Fields().Item(0).Value(); }), failed(ErrorCode::NoCurrentRecord, NoCurrentRow));
    QCOMPARE(failureOf([&] { rs->MoveLast(); }), failed(ErrorCode::NoCurrentRecord, NoRows));
    QCOMPARE(rs->isBOF(), true);
    QCOMPARE(rs->isEOF(), true);
    if (rs->isUpdatable())
        QCOMPARE(failureOf([&] { rs->Fields().Item(0).setValue(Variant::ofLong(1)); }), failed(ErrorCode::NoCurrentRecord, NoCurrentRow));
    QCOMPARE(failureOf([&] { rs->Update(); }), failed(ErrorCode::NoCurrentRecord, NoCurrentRow));
    // Fields are there all the same.
    QVERIFY(rs->Fields().Count() > 0);
    rs->Close();
    QCOMPARE(rs->State(), Recordset::Closed);
}

// The uses of a recordset and of its handles after its end.
enum class Use { Fields, Bof, Eof, MoveLast, AddNew, Update, Close, IsUpdatable, Count, ItemByName, ItemByPosition, Value, SetValue, Name, ColumnKind };
enum class End { Close, CloseConnection, Release };
Q_DECLARE_METATYPE(Use)
Q_DECLARE_METATYPE(End)

void tst_Recordset::useAfterTheEnd_data()
{
    QTest::addColumn<End>("end");
    QTest::addColumn<Use>("use");
    QTest::addColumn<QString>("failure");

    const struct {
        const char *name;
        Use use;
        bool throughHandle; // a Fields collection or Field kept from before the end
    } uses[] = {
        {"Fields", Use::Fields, false},         {"isBOF", Use::Bof, false},
        {"isEOF", Use::Eof, false},             {"MoveLast", Use::MoveLast, false},
        {"AddNew", Use::AddNew, false},         {"Update", Use::Update, false},
        {"Close", Use::Close, false},           {"isUpdatable", Use::IsUpdatable, false},
        {"kept Fields: Count", Use::Count, true}, {"kept Fields: Item by name", Use::ItemByName, true},
        {"kept Fields: Item by position", Use::ItemByPosition, true}, {"kept Field: Value", Use::Value, true},
        {"kept Field: setValue", Use::SetValue, true}, {"kept Field: Name", Use::Name, true},
        {"kept Field: ColumnKind", Use::ColumnKind, true},
    };
    for (const auto &use : uses) {
        QTest::addRow("Close, then %s", use.name) << End::Close << use.use << failed(ErrorCode::ObjectClosed, ClosedRecordset);
        QTest::addRow("CloseConnection, then %s", use.name) << End::CloseConnection << use.use << failed(ErrorCode::ObjectClosed, ClosedRecordset);
        if (use.throughHandle)
            QTest::addRow("released, then %s", use.name) << End::Release << use.use << failed(ErrorCode::ObjectClosed, ReleasedRecordset);
    }
}

void tst_Recordset::useAfterTheEnd()
{
    QFETCH(End, end);
    QFETCH(Use, use);
    QFETCH(QString, failure);

    Fixture f(TestDatabase::demoSql());
    Ref<Recordset> rs = f.connection.GetRecordset(QStringLiteral("Select * from NHBASE where ID = 1"));
    const olbra::FieldCollection fields = rs->Fields();
    const olbra::Field pro = fields.Item("PRO");
    switch (end) {
    case End::Close: rs->Close(); break;
    case End::CloseConnection: QCOMPARE(f.connection.CloseConnection(), Variant::ofBoolean(true)); break;
    case End::Release: rs.reset(); break;
    }
    if (!rs.isNone())
        QCOMPARE(rs->State(), Recordset::Closed);

    QCOMPARE(failureOf([&] {
                 switch (use) {
                 case Use::Fields: rs->Fields(); break;
                 case Use::Bof: rs->isBOF(); break;
                 case Use::Eof: rs->isEOF(); break;
                 case Use::MoveLast: rs->MoveLast(); break;
                 case Use::AddNew: rs->AddNew(); break;
                 case Use::Update: rs->Update(); break;
                 case Use::Close: rs->Close(); break;
                 case Use::IsUpdatable: rs->isUpdatable(); break;
                 case Use::Count: fields.Count(); break;
                 case Use::ItemByName: fields.Item("PRO"); break;
                 case Use::ItemByPosition: fields.Item(0); break;
                 case Use::Value: pro.Value(); break;
                 case Use::SetValue: olbra::Field(pro).setValue(Variant::ofInteger(98)); break;
                 case Use::Name: pro.Name(); break;
                 case Use::ColumnKind: pro.ColumnKind(); break;
                 }
             }),
             failure);
    QCOMPARE(f.db.scalar(QStringLiteral("SELECT PRO FROM NHBASE WHERE ID = 1")).toInt(), 100);
}

void tst_Recordset::closeAndReleaseWriteNothingUnsaved()
{
    Fixture f(TestDatabase::demoSql());
    {
        Ref<Recordset> rs = f.connection.GetRecordset(QStringLiteral("Select * from NHBASE where ID = 1"));
        rs->Fields().Item("PRO").setValue(Variant::ofInteger(98));
        rs->Close();
    }
    {
        Ref<Recordset> rs = f.connection.GetRecordset(QStringLiteral("Select * from updates"));
        rs->AddNew();
        rs->Fields().Item("Reason").setValue(Variant::ofText(QStringLiteral("never")));
        rs.reset();
    }
    {
        Ref<Recordset> rs = f.connection.GetRecordset(QStringLiteral("Select * from NHBASE where ID = 1"));
        rs->Fields().Item("RES").setValue(Variant::ofInteger(4));
        QCOMPARE(f.connection.CloseConnection(), Variant::ofBoolean(true));
    }
    QCOMPARE(f.db.scalar(QStringLiteral("SELECT PRO || ',' || RES FROM NHBASE WHERE ID = 1")).toString(), QStringLiteral("100,100"));
    QCOMPARE(f.db.scalar(QStringLiteral("SELECT count(*) FROM updates")).toInt(), 2);
}

void tst_Recordset::updatable_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<bool>("updatable");

    QTest::newRow("all columns of one table") << "Select * from NHBASE where ID = 1" << true;
    QTest::newRow("table name in another case") << "select * from nhbase where id = 1" << true;
    QTest::newRow("some columns, renamed") << "select ID, PRO as P from NHBASE where ID = 1" << true;
    QTest::newRow("ordered") << "select * from NHBASE order by MLF, ID" << true;
    QTest::newRow("limited") << "select * from NHBASE limit 1" << true;
    QTest::newRow("table alias") << "select n.* from NHBASE n where n.ID = 1" << true;
    QTest::newRow("the words group by in a text") << "select * from NHBASE where Organism <> 'group by'" << true;
    QTest::newRow("the words group by in a comment") << "select * from NHBASE /* group by PRO */ where ID = 1 -- having" << true;

    QTest::newRow("join") << "select n.ID, n.PRO, p.panelcode from NHBASE n, Panels p where n.ID = 1" << false;
    QTest::newRow("join of a table to itself") << "select a.ID, a.PRO from NHBASE a join NHBASE b on a.ID = b.ID where a.ID = 1" << false;
    QTest::newRow("left join") << "select n.ID, n.PRO from NHBASE n left join Panels p on 0 where n.ID = 1" << false;
    QTest::newRow("count") << "select count(*) as ID, 1 as PRO from NHBASE" << false;
    QTest::newRow("max") << "select max(PRO) as PRO, max(ID) as ID from NHBASE" << false;
    QTest::newRow("grouped") << "select ID, PRO from NHBASE group by PRO" << false;
    QTest::newRow("grouped with having") << "select ID, PRO from NHBASE group by PRO having PRO > 50" << false;
    QTest::newRow("distinct") << "select distinct ID, PRO from NHBASE where ID = 1" << false;
    QTest::newRow("union") << "select ID, PRO from NHBASE where ID = 1 union select ID, PRO from NHBASE where ID = 2" << false;
    QTest::newRow("subquery in the filter") << "select ID, PRO from NHBASE where ID = (select min(ID) from NHBASE)" << false;
    QTest::newRow("subquery as the source") << "select ID, PRO from (select * from NHBASE) where ID = 1" << false;
    QTest::newRow("computed column") << "select ID, PRO + 0 as PRO from NHBASE where ID = 1" << false;
    QTest::newRow("common table expression") << "with n as (select * from NHBASE) select ID, PRO from n where ID = 1" << false;
    QTest::newRow("view") << "select ID, PRO from organisms where ID = 1" << false;
}

void tst_Recordset::updatable()
{
    QFETCH(QString, query);
    QFETCH(bool, updatable);

    Fixture f(TestDatabase::demoSql() + QStringLiteral("CREATE VIEW organisms AS SELECT * FROM NHBASE;"));
    Ref<Recordset> rs = f.connection.GetRecordset(query);
    QCOMPARE(rs->isUpdatable(), updatable);
    QVERIFY(!rs->Fields().Item(1).Value().isNull());

    const QString refusal = updatable ? QString() : failed(ErrorCode::NotUpdatable, NotUpdatable);
    QCOMPARE(failureOf([&] { rs->Fields().Item(1).setValue(Variant::ofInteger(1)); }), refusal);
    QCOMPARE(failureOf([&] { rs->Update(); }), QString());
    QCOMPARE(failureOf([&] { rs->AddNew(); }), refusal);
    if (!updatable)
        QCOMPARE(f.db.scalar(QStringLiteral("SELECT group_concat(PRO, ',') FROM NHBASE")).toString(), QStringLiteral("100,100,100,0,25"));
}

void tst_Recordset::namesWithQuotesAndSemicolons()
{
    // Each name holds a double quote, a single quote and a semicolon, and reads like a statement.
    const QString setup = QStringLiteral(
        "CREATE TABLE \"we\"\"ird'; DROP TABLE bystander; --\" (\"i\"\"d\" INTEGER PRIMARY KEY, \"co\"\"l'; x\" SMALLINT, \"[n]\" TEXT DEFAULT 'd');"
        "INSERT INTO \"we\"\"ird'; DROP TABLE bystander; --\" VALUES (1, 10, 'a'), (2, 20, 'b');"
        "CREATE TABLE bystander (x TEXT); INSERT INTO bystander VALUES ('untouched');");
    Fixture f(setup);
    const QString schema = f.db.scalar(QStringLiteral("SELECT group_concat(sql, ';') FROM sqlite_schema")).toString();
    const QString table = QStringLiteral("\"we\"\"ird'; DROP TABLE bystander; --\"");

    Ref<Recordset> rs = f.connection.GetRecordset(QStringLiteral("select * from %1 where \"i\"\"d\" = 2").arg(table));
    QVERIFY(rs->isUpdatable());
    QCOMPARE(rs->Fields().Item(1).Name(), QStringLiteral("co\"l'; x"));
    QCOMPARE(rs->Fields().Item(QStringLiteral("CO\"L'; X")).Value(), Variant::ofInteger(20));
    QCOMPARE(rs->Fields().Item(QStringLiteral("[n]")).Value(), Variant::ofText(QStringLiteral("b")));

    rs->Fields().Item(QStringLiteral("co\"l'; x")).setValue(Variant::ofText(QStringLiteral("21")));
    rs->Fields().Item(QStringLiteral("[n]")).setValue(Variant::ofText(QStringLiteral("'); DELETE FROM bystander; --")));
    rs->Update();
    rs->AddNew();
    rs->Fields().Item(QStringLiteral("co\"l'; x")).setValue(Variant::ofInteger(30));
    rs->Update();
    QCOMPARE(rs->Fields().Item(QStringLiteral("[n]")).Value(), Variant::ofText(QStringLiteral("d")));
    rs->MoveLast();
    QCOMPARE(rs->Fields().Item(0).Value(), Variant::ofLong(2));

    QCOMPARE(f.db.scalar(QStringLiteral("SELECT group_concat(\"i\"\"d\" || '|' || \"co\"\"l'; x\" || '|' || \"[n]\", ' / ') FROM %1").arg(table)).toString(),
             QStringLiteral("1|10|a / 2|21|'); DELETE FROM bystander; -- / 3|30|d"));
    QCOMPARE(f.db.scalar(QStringLiteral("SELECT group_concat(x) FROM bystander")).toString(), QStringLiteral("untouched"));
    QCOMPARE(f.db.scalar(QStringLiteral("SELECT group_concat(sql, ';') FROM sqlite_schema")).toString(), schema);
}

QTEST_GUILESS_MAIN(tst_Recordset)
#include "tst_recordset.moc"
