// The data change itself: the frequency, its rounding, the organism record and panel stamp, and
// the update history, against real database files.
#include "RecordingWindow.h"
#include "StandInPlatform.h"
#include "TestDatabase.h"
#include "modPatch.h"

#include <QLocale>
#include <QTemporaryDir>
#include <QTest>

#include <clocale>

using olbra::Failure;
using olbra::Variant;

namespace {

const QString PatchContext = QStringLiteral("Patch Failed to update OLBRA Belvix NH Database");
const QString HistoryContext = QStringLiteral("Write to Update");
const QString Key = QStringLiteral("Patch NH0108-NH PRO-Negative N. gonorrhoeae Update");

// An organism table with twelve percentages of one declared type at positions 2 to 13, PRO and
// RES at the given positions among them.
QString nhbaseSql(const QString &type, const QList<QVariant> &percentages, int proPosition = 5, int resPosition = 9)
{
    QStringList columns{QStringLiteral("ID INTEGER PRIMARY KEY"), QStringLiteral("Organism VARCHAR(60)")};
    QStringList values{QStringLiteral("1"), QStringLiteral("'Neisseria gonorrhoeae'")};
    for (int position = 2; position < 2 + percentages.size(); ++position) {
        const QString name = position == proPosition ? QStringLiteral("PRO")
                           : position == resPosition ? QStringLiteral("RES")
                                                     : QStringLiteral("T%1").arg(position);
        columns << name + QLatin1Char(' ') + type;
        const QVariant value = percentages[position - 2];
        values << (value.isNull() ? QStringLiteral("NULL")
                   : value.typeId() == QMetaType::QString ? QLatin1Char('\'') + value.toString() + QLatin1Char('\'')
                                                            : value.toString());
    }
    columns << QStringLiteral("MLF DOUBLE");
    values << QStringLiteral("0.5");
    return QStringLiteral("CREATE TABLE NHBASE (%1); INSERT INTO NHBASE VALUES (%2);").arg(columns.join(u','), values.join(u','));
}

QList<QVariant> zeros() { return QList<QVariant>(12, 0); }

const QString PanelsSql = QStringLiteral(
    "CREATE TABLE Panels (panelcode VARCHAR(4), lastupdated DATE, DBVersion VARCHAR(10));"
    "INSERT INTO Panels VALUES ('NF', '2007-06-12', '2.07'), ('NH', '2007-09-03', '2.07');");
const QString UpdatesSql = QStringLiteral("CREATE TABLE updates (Date DATE, Minor SMALLINT, Build SMALLINT, Reason VARCHAR(50));");

} // namespace

class tst_patch : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<StandInPlatform> m_desktop;
    RecordingWindow *m_window = nullptr;

    QString databasePath() const { return m_dir.filePath(QStringLiteral("OLBRAData.mdb")); }

    // A fresh patch state with the patch texts and gConn open on the database.
    void connect(const TestDatabase &database)
    {
        modPatch::gPatchName = Key;
        modPatch::gConn = std::make_unique<olbra::DataConnection>();
        modPatch::gConn->setDataFile(database.path());
        modPatch::gConn->OpenConnection();
        QVERIFY(modPatch::gConn->IsConnected());
    }

    QStringList boxTexts() const
    {
        QStringList texts;
        for (const auto &box : m_desktop->boxes)
            texts << box.text;
        return texts;
    }

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        modPatch::ResetPatchState();
        m_desktop = std::make_unique<StandInPlatform>();
        m_desktop->programFilePath = m_dir.filePath(QStringLiteral("OLBRADURADIRURI"));
        modPatch::setWindowFactory([this] {
            auto window = std::make_unique<RecordingWindow>();
            m_window = window.get();
            return window;
        });
        modPatch::window().Show();
    }

    void cleanup()
    {
        modPatch::ResetPatchState();
        m_desktop.reset();
        QFile::remove(databasePath());
    }

    void computeMlf_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QList<QVariant>>("values");
        QTest::addColumn<double>("expected");

        auto with = [](std::initializer_list<std::pair<int, QVariant>> set) {
            QList<QVariant> values = zeros();
            for (const auto &[position, value] : set)
                values[position - 2] = value;
            return values;
        };
        const double single96 = 0.959999978542327880859375;
        QTest::newRow("all 0 or 100 give exactly 1") << "SMALLINT" << with({{3, 100}, {7, 100}, {13, 100}}) << 1.0;
        QTest::newRow("all 50 give two to the minus twelve") << "SMALLINT" << QList<QVariant>(12, 50) << 0.000244140625;
        QTest::newRow("98 then 4, 16-bit: 4 through single precision") << "SMALLINT" << with({{5, 98}, {9, 4}}) << 0.98 * single96;
        QTest::newRow("98 then 4, 8-bit: as 16-bit") << "TINYINT" << with({{5, 98}, {9, 4}}) << 0.98 * single96;
        QTest::newRow("98 then 4, single precision column") << "REAL" << with({{5, 98}, {9, 4}}) << 0.98 * single96;
        QTest::newRow("98 then 4, 32-bit: double precision throughout") << "INTEGER" << with({{5, 98}, {9, 4}}) << 0.98 * 0.96;
        QTest::newRow("98 then 4, double column: double precision throughout") << "DOUBLE" << with({{5, 98}, {9, 4}}) << 0.98 * 0.96;
        QTest::newRow("4 before 98: the quotient by 100 comes last") << "SMALLINT" << with({{2, 4}, {13, 98}}) << (single96 * 98) / 100;
        QTest::newRow("50 takes the second step, 51 the first") << "SMALLINT" << with({{2, 50}, {3, 51}}) << 0.5 * 51 / 100;
        QTest::newRow("150 is not refused") << "SMALLINT" << with({{4, 150}}) << 1.5;
        QTest::newRow("-10 in a 16-bit column") << "SMALLINT" << with({{4, -10}}) << 1.10000002384185791015625;
        QTest::newRow("-10 in a double column") << "DOUBLE" << with({{4, -10}}) << 1.1;
        QTest::newRow("50.5 in a single column goes the double way") << "REAL" << with({{6, 50.5}}) << 0.505;
        QTest::newRow("text digits count as a double") << "TEXT" << with({{6, QStringLiteral("4")}}) << 0.96;
    }

    void computeMlf()
    {
        QFETCH(QString, type);
        QFETCH(QList<QVariant>, values);
        QFETCH(double, expected);
        TestDatabase database(databasePath(), nhbaseSql(type, values));
        connect(database);
        olbra::Ref<olbra::Recordset> recordset = modPatch::gConn->GetRecordset(QStringLiteral("Select * from NHBASE where ID = 1"));
        QCOMPARE(modPatch::ComputeMlf(*recordset), expected);
        QVERIFY(!recordset->isEOF()); // the row stays current
    }

    void computeMlfUsesUnsavedValuesWhereverTheyStand_data()
    {
        QTest::addColumn<int>("proPosition");
        QTest::addColumn<int>("resPosition");
        QTest::newRow("PRO first, RES last") << 2 << 13;
        QTest::newRow("RES first, PRO last") << 13 << 2;
        QTest::newRow("side by side") << 7 << 8;
    }

    void computeMlfUsesUnsavedValuesWhereverTheyStand()
    {
        QFETCH(int, proPosition);
        QFETCH(int, resPosition);
        // The stored row says PRO 0 and RES 100; the unsaved 98 and 4 must be what counts.
        QList<QVariant> values = zeros();
        values[resPosition - 2] = 100;
        TestDatabase database(databasePath(), nhbaseSql(QStringLiteral("SMALLINT"), values, proPosition, resPosition));
        connect(database);
        olbra::Ref<olbra::Recordset> recordset = modPatch::gConn->GetRecordset(QStringLiteral("Select * from NHBASE where ID = 1"));
        recordset->Fields().Item("PRO").setValue(Variant::ofInteger(98));
        recordset->Fields().Item("RES").setValue(Variant::ofInteger(4));
        const double single96 = 0.959999978542327880859375;
        const double expected = proPosition < resPosition ? 0.98 * single96 : (single96 * 98) / 100;
        QCOMPARE(modPatch::ComputeMlf(*recordset), expected);
        QCOMPARE(database.scalar(QStringLiteral("SELECT PRO FROM NHBASE")).toInt(), 0);
    }

    void computeMlfFails_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("description");
        QList<QVariant> withNull = zeros();
        withNull[5] = QVariant();
        QList<QVariant> withWord = zeros();
        withWord[5] = QStringLiteral("neg");
        QTest::newRow("a Null percentage") << nhbaseSql(QStringLiteral("SMALLINT"), withNull) << 94 << "Invalid use of Null";
        QTest::newRow("text that is not a number") << nhbaseSql(QStringLiteral("TEXT"), withWord) << 13
                                                   << "Type mismatch: the percentage \"neg\" is not a number";
        QTest::newRow("fewer than fourteen columns") << nhbaseSql(QStringLiteral("SMALLINT"), QList<QVariant>(8, 0)) << 3265
                                                     << "Item cannot be found: no field at position 11 of 11";
        QTest::newRow("no current row") << nhbaseSql(QStringLiteral("SMALLINT"), zeros()) + "DELETE FROM NHBASE;" << 3021
                                        << "Either BOF or EOF is True: there is no current row";
    }

    void computeMlfFails()
    {
        QFETCH(QString, sql);
        QFETCH(int, number);
        QFETCH(QString, description);
        TestDatabase database(databasePath(), sql);
        connect(database);
        olbra::Ref<olbra::Recordset> recordset = modPatch::gConn->GetRecordset(QStringLiteral("Select * from NHBASE where ID = 1"));
        try {
            modPatch::ComputeMlf(*recordset);
            QFAIL("ComputeMlf gave a result");
        } catch (const Failure &failure) {
            QCOMPARE(failure.number(), number);
            QVERIFY2(failure.description().startsWith(description), qPrintable(failure.description()));
        }
    }

    void roundMlf_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("rounded");
        QTest::newRow("the patched frequency") << 0.9407999789714813 << "0.9408" << 0.9408;
        QTest::newRow("twelve at 50") << 0.000244140625 << "0.000244" << 0.000244;
        QTest::newRow("six decimals or fewer stay") << 0.5 << "0.5" << 0.5;
        QTest::newRow("one") << 1.0 << "1" << 1.0;
        QTest::newRow("above one") << 1.5 << "1.5" << 1.5;
        QTest::newRow("well above one") << 150.123456789 << "150.123457" << 150.123457;
        QTest::newRow("zero") << 0.0 << "0" << 0.0;
        QTest::newRow("half up on the first digit cut") << 0.0000015 << "0.000002" << 0.000002;
        QTest::newRow("below half goes down") << 0.00000149 << "0.000001" << 0.000001;
        QTest::newRow("the carry runs into the units") << 0.9999995 << "1" << 1.0;
        // The binary values below lie just under the half; their fifteen-digit form ends in 5.
        QTest::newRow("15 digits decide: 0.1234565") << 0.1234565 << "0.123457" << 0.123457;
        QTest::newRow("15 digits decide: 5e-7") << 5e-7 << "0.000001" << 0.000001;
        QTest::newRow("tiny values vanish") << 1e-9 << "0" << 0.0;
        QTest::newRow("negative") << -0.25 << "-0.25" << -0.25;
    }

    void roundMlf()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        QFETCH(double, rounded);
        QCOMPARE(modPatch::FormatMlf(value), text);
        QCOMPARE(modPatch::RoundMlf(value), rounded);
    }

    void roundMlfIgnoresTheLocale()
    {
        // A decimal comma in the user's locale must not change the stored number.
        const QLocale saved;
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        const char *before = std::setlocale(LC_ALL, nullptr);
        const std::string previous = before ? before : "C";
        std::setlocale(LC_ALL, "de_DE.UTF-8");
        const double rounded = modPatch::RoundMlf(0.9407999789714813);
        const QString text = modPatch::FormatMlf(0.9407999789714813);
        std::setlocale(LC_ALL, previous.c_str());
        QLocale::setDefault(saved);
        QCOMPARE(text, QStringLiteral("0.9408"));
        QCOMPARE(rounded, 0.9408);
    }

    void patchDatabaseSucceeds()
    {
        QList<QVariant> values = zeros();
        values[3] = 2;   // PRO before the patch
        values[7] = 100; // RES before the patch
        values[8] = 100;
        TestDatabase database(databasePath(), nhbaseSql(QStringLiteral("SMALLINT"), values) + PanelsSql);
        connect(database);

        QVERIFY(modPatch::PatchDatabase());

        QCOMPARE(database.scalar("SELECT PRO FROM NHBASE WHERE ID = 1").toInt(), 98);
        QCOMPARE(database.scalar("SELECT RES FROM NHBASE WHERE ID = 1").toInt(), 4);
        QCOMPARE(database.scalar("SELECT MLF FROM NHBASE WHERE ID = 1").toDouble(), 0.9408);
        QCOMPARE(database.storageClass("SELECT PRO FROM NHBASE"), QStringLiteral("integer"));
        QCOMPARE(database.storageClass("SELECT MLF FROM NHBASE"), QStringLiteral("real"));
        QCOMPARE(database.scalar("SELECT lastupdated FROM Panels WHERE panelcode = 'NH'").toString(), QStringLiteral("2008-01-18"));
        QCOMPARE(database.scalar("SELECT DBVersion FROM Panels WHERE panelcode = 'NH'").toString(), QStringLiteral("2.08"));
        QCOMPARE(database.scalar("SELECT lastupdated FROM Panels WHERE panelcode = 'NF'").toString(), QStringLiteral("2007-06-12"));
        QCOMPARE(m_window->progress, (QList<float>{10, 50}));
        QVERIFY(m_desktop->boxes.isEmpty());
        QCOMPARE(modPatch::gPatchError, std::int16_t(0));
    }

    void patchDatabaseStampsAsTheColumnTakesIt_data()
    {
        QTest::addColumn<QString>("declaredType");
        QTest::addColumn<QString>("stored");
        QTest::newRow("date column") << "DATE" << "2008-01-18";
        QTest::newRow("text column") << "TEXT" << "01/18/2008";
    }

    void patchDatabaseStampsAsTheColumnTakesIt()
    {
        QFETCH(QString, declaredType);
        QFETCH(QString, stored);
        TestDatabase database(databasePath(),
                              nhbaseSql(QStringLiteral("SMALLINT"), zeros())
                                  + QStringLiteral("CREATE TABLE Panels (panelcode TEXT, lastupdated %1, DBVersion TEXT);"
                                                   "INSERT INTO Panels VALUES ('NH', NULL, NULL);").arg(declaredType));
        connect(database);
        QVERIFY(modPatch::PatchDatabase());
        QCOMPARE(database.scalar("SELECT lastupdated FROM Panels").toString(), stored);
    }

    void patchDatabaseFails_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("firstLine");
        QTest::addColumn<QList<float>>("progress");
        QTest::addColumn<bool>("organismSaved");
        QList<QVariant> withNull = zeros();
        withNull[10] = QVariant();
        const QString organism = nhbaseSql(QStringLiteral("SMALLINT"), zeros());

        QTest::newRow("no organism record 1") << organism + "UPDATE NHBASE SET ID = 2;" + PanelsSql
                                              << "Error : 3021 Either BOF or EOF is True: there is no current row"
                                              << QList<float>{10} << false;
        QTest::newRow("a Null percentage") << nhbaseSql(QStringLiteral("SMALLINT"), withNull) + PanelsSql
                                           << "Error : 94 Invalid use of Null" << QList<float>{10} << false;
        QTest::newRow("no NH panel row") << organism + PanelsSql + "DELETE FROM Panels WHERE panelcode = 'NH';"
                                         << "Error : 3021 Either BOF or EOF is True: there is no current row"
                                         << QList<float>{10, 50} << true;
        QTest::newRow("no Panels table") << organism
                                         << "Error : -2147221503 no such table: Panels (while running the query)"
                                         << QList<float>{10, 50} << true;
        QTest::newRow("no MLF column") << organism + "ALTER TABLE NHBASE DROP COLUMN MLF;" + PanelsSql
                                       << "Error : 3265 Item cannot be found: no field named 'MLF'" << QList<float>{10} << false;
    }

    void patchDatabaseFails()
    {
        QFETCH(QString, sql);
        QFETCH(QString, firstLine);
        QFETCH(QList<float>, progress);
        QFETCH(bool, organismSaved);
        TestDatabase database(databasePath(), sql);
        auto panels = [&database] {
            if (database.scalar("SELECT count(*) FROM sqlite_schema WHERE name = 'Panels'").toInt() == 0)
                return QString();
            return database.scalar("SELECT group_concat(lastupdated || DBVersion) FROM Panels").toString();
        };
        const QString panelsBefore = panels();
        connect(database);

        QVERIFY(!modPatch::PatchDatabase());

        QCOMPARE(boxTexts(), QStringList{firstLine + "\r\n" + PatchContext});
        QCOMPARE(m_desktop->boxes.first().kind, olbra::BoxKind::Failure);
        QCOMPARE(modPatch::gPatchError, std::int16_t(-1));
        QCOMPARE(m_window->progress, progress);
        QCOMPARE(database.scalar("SELECT count(*) FROM NHBASE WHERE PRO = 98").toInt(), organismSaved ? 1 : 0);
        QCOMPARE(panels(), panelsBefore);
    }

    void patchDatabaseStampsOnlyTheFirstNhRow()
    {
        TestDatabase database(databasePath(), nhbaseSql(QStringLiteral("SMALLINT"), zeros()) + PanelsSql
                                                  + "INSERT INTO Panels VALUES ('NH', '2007-09-03', '2.07'), ('NH', '2007-09-03', '2.07');");
        connect(database);
        QVERIFY(modPatch::PatchDatabase());
        QCOMPARE(database.scalar("SELECT group_concat(DBVersion, ' ') FROM (SELECT DBVersion FROM Panels WHERE panelcode = 'NH' ORDER BY rowid)").toString(),
                 QStringLiteral("2.08 2.07 2.07"));
    }

    void writeUpdateHistory_data()
    {
        QTest::addColumn<QString>("history");
        QTest::addColumn<bool>("adds");
        const QString other = QStringLiteral("('2007-09-03', 0, 68, 'Patch NH0907-NH panel reference data')");
        const QString ours = QStringLiteral("('2008-01-20', 0, 76, '%1')").arg(Key);
        QTest::newRow("empty history") << QString() << true;
        QTest::newRow("last row holds the key") << other + ',' + ours << false;
        QTest::newRow("key only in an earlier row") << ours + ',' + other << true;
        QTest::newRow("key in other case") << other + QStringLiteral(",('2008-01-20', 0, 76, '%1')").arg(Key.toUpper()) << true;
        QTest::newRow("key with a trailing blank") << other + QStringLiteral(",('2008-01-20', 0, 76, '%1 ')").arg(Key) << true;
        QTest::newRow("last Reason is Null") << other + ",('2008-01-20', 0, 76, NULL)" << true;
    }

    void writeUpdateHistory()
    {
        QFETCH(QString, history);
        QFETCH(bool, adds);
        TestDatabase database(databasePath(), UpdatesSql + (history.isEmpty() ? QString() : "INSERT INTO updates VALUES " + history + ';'));
        const int before = database.scalar("SELECT count(*) FROM updates").toInt();
        connect(database);

        modPatch::WriteUpdateHistory();

        QCOMPARE(database.scalar("SELECT count(*) FROM updates").toInt(), before + (adds ? 1 : 0));
        QVERIFY(m_desktop->boxes.isEmpty());
        QCOMPARE(modPatch::gPatchError, std::int16_t(0));
        QCOMPARE(m_window->panels[0], QStringLiteral("Getting Update information...."));
        if (adds) {
            const QString last = "SELECT %1 FROM updates ORDER BY rowid DESC LIMIT 1";
            QCOMPARE(database.scalar(last.arg("Date")).toString(), QDate::currentDate().toString(Qt::ISODate));
            QCOMPARE(database.scalar(last.arg("Minor")).toInt(), 0);
            QCOMPARE(database.scalar(last.arg("Build")).toInt(), 76);
            QCOMPARE(database.scalar(last.arg("Reason")).toString(), Key);
            QCOMPARE(database.storageClass(last.arg("Build")), QStringLiteral("integer"));
        }
    }

    void twoRunsLeaveOneRow()
    {
        TestDatabase database(databasePath(), UpdatesSql + "INSERT INTO updates VALUES ('2007-09-03', 0, 68, 'older patch');");
        connect(database);
        modPatch::WriteUpdateHistory();
        modPatch::WriteUpdateHistory();
        QCOMPARE(database.scalar("SELECT count(*) FROM updates WHERE Reason = '" + Key + "'").toInt(), 1);
        QCOMPARE(database.scalar("SELECT count(*) FROM updates").toInt(), 2);
    }

    void historyKeyIsTheFirstFiftyCharacters()
    {
        TestDatabase database(databasePath(), UpdatesSql);
        connect(database);
        // Characters outside the basic plane count as one each and are never cut in half.
        const QString longName = QString(49, u'x') + QString::fromUtf8("\xF0\x9F\xA6\xA0") + QStringLiteral(" and more");
        modPatch::gPatchName = longName;
        QCOMPARE(modPatch::HistoryKey(), longName.left(51));
        modPatch::WriteUpdateHistory();
        modPatch::WriteUpdateHistory();
        QCOMPARE(database.scalar("SELECT count(*) FROM updates").toInt(), 1);
        QCOMPARE(database.scalar("SELECT Reason FROM updates").toString(), longName.left(51));
    }

    void writeUpdateHistoryFails_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("firstLine");
        QTest::newRow("no updates table") << "CREATE TABLE other (x);" << "Error : -2147221503 no such table: updates (while running the query)";
        QTest::newRow("no Reason column") << "CREATE TABLE updates (Date DATE, Minor SMALLINT, Build SMALLINT, Note TEXT);"
                                             "INSERT INTO updates VALUES ('2007-09-03', 0, 68, 'x');"
                                          << "Error : 3265 Item cannot be found: no field named 'Reason'";
        QTest::newRow("Build refuses 76") << "CREATE TABLE updates (Date DATE, Minor SMALLINT, Build SMALLINT CHECK (Build < 70), Reason TEXT);"
                                          << "Error : -2147221229 CHECK constraint failed: Build < 70 (while saving the row)";
    }

    void writeUpdateHistoryFails()
    {
        QFETCH(QString, sql);
        QFETCH(QString, firstLine);
        TestDatabase database(databasePath(), sql);
        auto rows = [&database] {
            if (database.scalar("SELECT count(*) FROM sqlite_schema WHERE name = 'updates'").toInt() == 0)
                return -1;
            return database.scalar("SELECT count(*) FROM updates").toInt();
        };
        const int before = rows();
        connect(database);
        modPatch::WriteUpdateHistory();
        QCOMPARE(boxTexts(), QStringList{firstLine + "\r\n" + HistoryContext});
        QCOMPARE(rows(), before);
        QCOMPARE(modPatch::gPatchError, std::int16_t(-1));
        QVERIFY(modPatch::gConn->IsConnected()); // the caller carries on with the connection
    }

    void closeRecordset()
    {
        TestDatabase database(databasePath(), UpdatesSql);
        connect(database);
        olbra::Ref<olbra::Recordset> none;
        modPatch::CloseRecordset(none);
        QVERIFY(none.isNone());

        olbra::Ref<olbra::Recordset> open = modPatch::gConn->GetRecordset(QStringLiteral("Select * from updates"));
        olbra::Field field = open->Fields().Item("Reason");
        modPatch::CloseRecordset(open);
        QVERIFY(open.isNone());
        QVERIFY_THROWS_EXCEPTION(Failure, field.Value());

        // A recordset closed already is only released, not closed twice.
        olbra::Ref<olbra::Recordset> closed = modPatch::gConn->GetRecordset(QStringLiteral("Select * from updates"));
        closed->Close();
        modPatch::CloseRecordset(closed);
        QVERIFY(closed.isNone());
    }
};

QTEST_GUILESS_MAIN(tst_patch)
#include "tst_patch.moc"
