// Start-up and Apply on product databases that are damaged, odd or out of reach: missing tables and
// columns, unexpected column types, Nulls, text where numbers belong, huge values, names with quotes,
// a file that cannot be written and a file another program keeps locked. Each must end in a report
// that names the failure, with nothing written beyond what the patch writes, and a program that
// still finishes and exits as it should.
#include "StandInPlatform.h"
#include "TestDatabase.h"
#include "frmUpdateMe.h"
#include "modPatch.h"

#include <QCheckBox>
#include <QDataStream>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString Key = QStringLiteral("Patch NH0108-NH PRO-Negative N. gonorrhoeae Update");
const QString PatchContext = QStringLiteral("\r\nPatch Failed to update OLBRA Belvix NH Database");
const QString HistoryContext = QStringLiteral("\r\nWrite to Update");
const QString StartContext = QStringLiteral("\r\nInitization Connection to DataFile");

const QString OrganismOld = QStringLiteral("100|100|0.99");
const QString OrganismNew = QStringLiteral("98|4|0.9408");
const QString PanelOld = QStringLiteral("2007-09-03|2.07");
const QString PanelNew = QStringLiteral("2008-01-18|2.08");
// The row the patch adds to the history; %today% is the day it ran.
const QString HistoryRow = QStringLiteral("%today%|0|76|") + Key;

// Engine refusals as the program numbers them.
int engine(int code) { return olbra::ErrorCode::fromEngine(code); }
QString report(int number, const QString &description, const QString &context)
{
    return QStringLiteral("Error : %1 %2").arg(number).arg(description) + context;
}

/// How the file is out of the program's reach while it runs.
enum class Reach {
    Open,
    ReadOnlyFile,
    ReadOnlyFolder,
    LockedBeforeStart, // another program holds an exclusive lock from before start-up
    LockedAfterStart,  // ... takes it between start-up and Apply
    WritingAfterStart, // ... is in the middle of a write of its own (reserved lock)
};

/// A plain connection of the test's own, for reading the file back.
class Reader {
public:
    explicit Reader(const QString &path)
    {
        if (sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
            qWarning("cannot open %s", qPrintable(path));
    }
    ~Reader() { sqlite3_close(m_db); }
    Reader(const Reader &) = delete;
    Reader &operator=(const Reader &) = delete;

    /// Each row as "value|value|...", NULL as "NULL"; an error as the engine's message.
    QStringList rows(const QString &sql) const
    {
        sqlite3_stmt *statement = nullptr;
        if (sqlite3_prepare_v2(m_db, sql.toUtf8().constData(), -1, &statement, nullptr) != SQLITE_OK)
            return {QStringLiteral("error: ") + QString::fromUtf8(sqlite3_errmsg(m_db))};
        QStringList lines;
        while (sqlite3_step(statement) == SQLITE_ROW) {
            QStringList values;
            for (int i = 0; i < sqlite3_column_count(statement); ++i)
                values << value(statement, i);
            lines << values.join(u'|');
        }
        sqlite3_finalize(statement);
        return lines;
    }

    QStringList columns(const QString &table) const
    {
        QStringList names;
        for (const QString &row : rows(QStringLiteral("SELECT name FROM pragma_table_info('%1')").arg(table)))
            names << row;
        return names;
    }

    /// The written columns of the first row a query of the patch selects; "-" for a column the
    /// table lacks, "no table" when there is none.
    QString written(const QString &table, const QString &where, const QStringList &names) const
    {
        const QStringList present = columns(table);
        if (present.isEmpty())
            return QStringLiteral("no table");
        QStringList values;
        for (const QString &name : names) {
            const bool has = present.contains(name, Qt::CaseInsensitive);
            const QStringList found = has ? rows(QStringLiteral("SELECT \"%1\" FROM \"%2\" WHERE %3 LIMIT 1").arg(name, table, where))
                                          : QStringList{QStringLiteral("-")};
            values << found.value(0, QStringLiteral("no row"));
        }
        return values.join(u'|');
    }

    /// Every table's rows, in their stored order, each value with its storage class; the rows and
    /// columns the patch may write are masked, and updates is left to the caller.
    QMap<QString, QStringList> dump() const
    {
        QMap<QString, QStringList> tables;
        tables[QStringLiteral("(schema)")] = rows(QStringLiteral("SELECT type, name, sql FROM sqlite_schema ORDER BY name"));
        for (const QString &table : rows(QStringLiteral("SELECT name FROM sqlite_schema WHERE type = 'table' ORDER BY name"))) {
            QString quoted = table;
            quoted.replace(u'"', QStringLiteral("\"\""));
            sqlite3_stmt *statement = nullptr;
            // A table without rowids is read in the order of its key.
            const QByteArray sql = QStringLiteral("SELECT * FROM \"%1\" ORDER BY rowid").arg(quoted).toUtf8();
            const QByteArray keyed = QStringLiteral("SELECT * FROM \"%1\"").arg(quoted).toUtf8();
            if (sqlite3_prepare_v2(m_db, sql.constData(), -1, &statement, nullptr) != SQLITE_OK
                && sqlite3_prepare_v2(m_db, keyed.constData(), -1, &statement, nullptr) != SQLITE_OK) {
                tables[table] << QStringLiteral("error: ") + QString::fromUtf8(sqlite3_errmsg(m_db));
                continue;
            }
            while (sqlite3_step(statement) == SQLITE_ROW) {
                QMap<QString, QString> row;
                for (int i = 0; i < sqlite3_column_count(statement); ++i)
                    row[QString::fromUtf8(sqlite3_column_name(statement, i)).toUpper()] =
                        value(statement, i) + u':' + QString::fromLatin1(sqlite3_column_decltype(statement, i));
                QStringList masked;
                if (table.compare(QLatin1String("NHBASE"), Qt::CaseInsensitive) == 0 && row.value(QStringLiteral("ID")).startsWith(QLatin1String("1:")))
                    masked = {QStringLiteral("PRO"), QStringLiteral("RES"), QStringLiteral("MLF")};
                if (table.compare(QLatin1String("Panels"), Qt::CaseInsensitive) == 0 && row.value(QStringLiteral("PANELCODE")).startsWith(QLatin1String("NH:")))
                    masked = {QStringLiteral("LASTUPDATED"), QStringLiteral("DBVERSION")};
                QStringList line;
                for (auto column = row.cbegin(); column != row.cend(); ++column)
                    line << column.key() + u'=' + (masked.contains(column.key()) ? QStringLiteral("(written)") : column.value());
                tables[table] << line.join(u'|');
            }
            sqlite3_finalize(statement);
        }
        return tables;
    }

private:
    static QString value(sqlite3_stmt *statement, int i)
    {
        if (sqlite3_column_type(statement, i) == SQLITE_NULL)
            return QStringLiteral("NULL");
        return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, i)), sqlite3_column_bytes(statement, i));
    }

    sqlite3 *m_db = nullptr;
};

/// What one run of the program showed and did, from start-up to Exit.
struct Run {
    QStringList failures; // failure boxes
    QStringList others;   // notices and questions
    int ends = 0;
    QStringList uncaught;
    bool finished = false; // Apply disabled, "&Exit"
    QString reason;
    bool gone = false; // the window unloaded after Exit

    friend QDataStream &operator<<(QDataStream &out, const Run &run)
    {
        return out << run.failures << run.others << run.ends << run.uncaught << run.finished << run.reason << run.gone;
    }
    friend QDataStream &operator>>(QDataStream &in, Run &run)
    {
        return in >> run.failures >> run.others >> run.ends >> run.uncaught >> run.finished >> run.reason >> run.gone;
    }
};

/// Another program holding the product database: a child process with a connection of its own
/// that takes the lock, says so, and keeps it until it is let go.
class LockHolder {
public:
    LockHolder(const QString &path, const char *begin)
    {
        int taken[2], release[2];
        if (pipe(taken) != 0 || pipe(release) != 0)
            return;
        m_pid = fork();
        if (m_pid == 0) {
            ::close(taken[0]);
            ::close(release[1]);
            sqlite3 *db = nullptr;
            char held = 0;
            if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, "unix") == SQLITE_OK
                && sqlite3_exec(db, begin, nullptr, nullptr, nullptr) == SQLITE_OK)
                held = 1;
            [[maybe_unused]] const auto told = ::write(taken[1], &held, 1);
            char ignored;
            [[maybe_unused]] const auto waited = ::read(release[0], &ignored, 1);
            _exit(0);
        }
        ::close(taken[1]);
        ::close(release[0]);
        m_release = release[1];
        char held = 0;
        m_held = m_pid > 0 && ::read(taken[0], &held, 1) == 1 && held == 1;
        ::close(taken[0]);
    }
    ~LockHolder()
    {
        if (m_release >= 0)
            ::close(m_release);
        if (m_pid > 0)
            waitpid(m_pid, nullptr, 0);
    }
    LockHolder(const LockHolder &) = delete;
    LockHolder &operator=(const LockHolder &) = delete;

    bool held() const { return m_held; }

private:
    pid_t m_pid = -1;
    int m_release = -1;
    bool m_held = false;
};

} // namespace

Q_DECLARE_METATYPE(Reach)

class tst_hostile : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;

    QString programFolder() const { return m_dir->filePath(QStringLiteral("program")); }
    QString databasePath() const { return programFolder() + QLatin1Char('/') + olbra::DataConnection::fileName(); }

    // Start-up, Apply when start-up left the window ready, then Exit answered No; reach says what
    // happens to the file between the steps.
    Run runProgram(Reach reach)
    {
        Run run;
        std::unique_ptr<LockHolder> holder;
        if (reach == Reach::LockedBeforeStart)
            holder = std::make_unique<LockHolder>(databasePath(), "BEGIN EXCLUSIVE");

        modPatch::ResetPatchState();
        StandInPlatform desktop;
        desktop.programFilePath = programFolder() + QStringLiteral("/OLBRADURADIRURI");
        // A lock that outlasts the wait: the wait itself need not be long for that.
        desktop.connectionFactory = [] {
            auto connection = std::make_unique<olbra::DataConnection>();
            connection->setBusyTimeout(250);
            return connection;
        };
        desktop.questionAnswers = {olbra::Answer::No};
        frmUpdateMe *window = nullptr;
        modPatch::setWindowFactory([&window] {
            auto made = std::make_unique<frmUpdateMe>();
            window = made.get();
            return made;
        });

        modPatch::Main();
        if (reach == Reach::LockedAfterStart)
            holder = std::make_unique<LockHolder>(databasePath(), "BEGIN EXCLUSIVE");
        if (reach == Reach::WritingAfterStart)
            holder = std::make_unique<LockHolder>(databasePath(), "BEGIN IMMEDIATE");
        if (holder && !holder->held())
            run.uncaught << QStringLiteral("the other program could not take its lock");
        if (desktop.endCount == 0 && window) {
            QTest::mouseClick(window->cmdOK, Qt::LeftButton);
            run.finished = !window->cmdOK->isEnabled() && window->Command1->text() == QLatin1String("&Exit");
            run.reason = window->lblreason->caption();
            QTest::mouseClick(window->Command1, Qt::LeftButton);
            run.gone = !modPatch::windowIsLoaded();
        }
        holder.reset();
        for (const auto &box : desktop.boxes)
            (box.kind == olbra::BoxKind::Failure ? run.failures : run.others) << box.text;
        run.ends = desktop.endCount;
        for (const olbra::Failure &failure : desktop.uncaught)
            run.uncaught << QString::number(failure.number()) + u' ' + failure.description();
        modPatch::ResetPatchState();
        return run;
    }

    // A user without the right to write: root writes whatever the modes say, so a child process
    // gives up root first and hands its run back.
    Run runProgramAsUser(Reach reach)
    {
        if (geteuid() != 0)
            return runProgram(reach);
        int channel[2];
        if (pipe(channel) != 0)
            return {};
        const pid_t child = fork();
        if (child == 0) {
            ::close(channel[0]);
            if (setgid(65534) != 0 || setuid(65534) != 0)
                _exit(2);
            QByteArray bytes;
            QDataStream out(&bytes, QIODevice::WriteOnly);
            out << runProgram(reach);
            for (qsizetype sent = 0; sent < bytes.size();) {
                const auto count = ::write(channel[1], bytes.constData() + sent, static_cast<size_t>(bytes.size() - sent));
                if (count <= 0)
                    _exit(3);
                sent += count;
            }
            _exit(0);
        }
        ::close(channel[1]);
        QByteArray bytes;
        char buffer[4096];
        ssize_t count;
        while ((count = ::read(channel[0], buffer, sizeof buffer)) > 0)
            bytes.append(buffer, count);
        ::close(channel[0]);
        int status = 0;
        waitpid(child, &status, 0);
        Run run;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            run.uncaught << QStringLiteral("the run as another user ended with status %1").arg(status);
            return run;
        }
        QDataStream in(bytes);
        in >> run;
        return run;
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        QVERIFY(QDir().mkpath(programFolder()));
        qputenv("XDG_CONFIG_HOME", m_dir->filePath(QStringLiteral("config")).toUtf8());
    }

    void cleanup()
    {
        // Give the folders back to the owner, so that they can be removed.
        QFile::setPermissions(programFolder(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        modPatch::ResetPatchState();
        m_dir.reset();
    }

    void hostileDatabase_data()
    {
        QTest::addColumn<QString>("edit");    // "old text|new text" in the demo SQL, or empty
        QTest::addColumn<QString>("changes"); // SQL run after the demo SQL
        QTest::addColumn<Reach>("reach");
        QTest::addColumn<QString>("failure"); // the one failure box, %path% for the file's path; empty: none
        QTest::addColumn<QString>("organism"); // PRO|RES|MLF of NHBASE row 1 afterwards
        QTest::addColumn<QString>("panel");    // lastupdated|DBVersion of the NH panel afterwards
        QTest::addColumn<QString>("history");  // the row added to updates, empty for none

        const Reach open = Reach::Open;
        auto missingTable = [](const char *table) { return QStringLiteral("no such table: %1 (while running the query)").arg(QLatin1String(table)); };
        auto noField = [](const char *field) { return QStringLiteral("Item cannot be found: no field named '%1'").arg(QLatin1String(field)); };
        const int sqlError = engine(SQLITE_ERROR);

        QTest::newRow("no NHBASE table") << "" << "DROP TABLE NHBASE;" << open
                                         << report(sqlError, missingTable("NHBASE"), PatchContext) << "no table" << PanelOld << "";
        QTest::newRow("no Panels table") << "" << "DROP TABLE Panels;" << open
                                         << report(sqlError, missingTable("Panels"), PatchContext) << OrganismNew << "no table" << "";
        QTest::newRow("no updates table") << "" << "DROP TABLE updates;" << open
                                          << report(sqlError, missingTable("updates"), HistoryContext) << OrganismNew << PanelNew << "";

        QTest::newRow("no PRO column") << "" << "ALTER TABLE NHBASE DROP COLUMN PRO;" << open
                                       << report(3265, noField("PRO"), PatchContext) << "-|100|0.99" << PanelOld << "";
        QTest::newRow("no RES column") << "" << "ALTER TABLE NHBASE DROP COLUMN RES;" << open
                                       << report(3265, noField("RES"), PatchContext) << "100|-|0.99" << PanelOld << "";
        QTest::newRow("no MLF column") << "" << "ALTER TABLE NHBASE DROP COLUMN MLF;" << open
                                       << report(3265, noField("MLF"), PatchContext) << "100|100|-" << PanelOld << "";
        QTest::newRow("no lastupdated column") << "" << "ALTER TABLE Panels DROP COLUMN lastupdated;" << open
                                               << report(3265, noField("lastupdated"), PatchContext) << OrganismNew << "-|2.07" << "";
        QTest::newRow("no DBVersion column") << "" << "ALTER TABLE Panels DROP COLUMN DBVersion;" << open
                                             << report(3265, noField("DBVersion"), PatchContext) << OrganismNew << "2007-09-03|-" << "";
        for (const char *column : {"Date", "Minor", "Build", "Reason"})
            QTest::addRow("no %s column", column) << "" << QStringLiteral("ALTER TABLE updates DROP COLUMN %1;").arg(QLatin1String(column)) << open
                                                  << report(3265, noField(column), HistoryContext) << OrganismNew << PanelNew << "";

        QTest::newRow("PRO declared TINYINT holding 300: overwritten")
            << "PRO      SMALLINT|PRO      TINYINT" << "UPDATE NHBASE SET PRO = 300 WHERE ID = 1;" << open << "" << OrganismNew << PanelNew << HistoryRow;
        QTest::newRow("another percentage declared TINYINT holding 300")
            << "GGT      SMALLINT|GGT      TINYINT" << "UPDATE NHBASE SET GGT = 300 WHERE ID = 1;" << open
            << report(6, QStringLiteral("Overflow: 300 is out of the range of Byte (0 to 255) (field 'GGT')"), PatchContext) << OrganismOld << PanelOld << "";
        QTest::newRow("MLF declared DATE")
            << "MLF      DOUBLE|MLF      DATE" << "" << open
            << report(13, QStringLiteral("Type mismatch: Double cannot be stored as Date (field 'MLF')"), PatchContext) << OrganismOld << PanelOld << "";
        QTest::newRow("lastupdated declared INTEGER")
            << "lastupdated DATE|lastupdated INTEGER" << "" << open
            << report(13, QStringLiteral("Type mismatch: Text \"01/18/2008\" is not a number and cannot be stored as Long (field 'lastupdated')"), PatchContext)
            << OrganismNew << PanelOld << "";
        QTest::newRow("DBVersion declared DOUBLE: stored as a number")
            << "DBVersion   VARCHAR(10)|DBVersion   DOUBLE" << "" << open << "" << OrganismNew << PanelNew << HistoryRow;
        QTest::newRow("Minor declared BIT: 0 is false")
            << "Minor  SMALLINT|Minor  BIT" << "" << open << "" << OrganismNew << PanelNew << HistoryRow;
        QTest::newRow("Build declared BIT: 76 is true")
            << "Build  SMALLINT|Build  BIT" << "" << open << "" << OrganismNew << PanelNew << QString(HistoryRow).replace(QStringLiteral("|76|"), QStringLiteral("|-1|"));
        QTest::newRow("Date declared SMALLINT")
            << "Date   DATE|Date   SMALLINT" << "" << open
            << report(13, QStringLiteral("Type mismatch: Date cannot be stored as Integer (field 'Date')"), HistoryContext) << OrganismNew << PanelNew << "";
        QTest::newRow("Reason declared INTEGER")
            << "Reason VARCHAR(50)|Reason INTEGER" << "" << open
            << report(13, QStringLiteral("Type mismatch: Text \"Patch NH0907-NH panel reference data\" is not a number and cannot be stored as Long (field 'Reason')"),
                      HistoryContext)
            << OrganismNew << PanelNew << "";

        QTest::newRow("a Null percentage") << "" << "UPDATE NHBASE SET URE = NULL WHERE ID = 1;" << open
                                           << report(94, QStringLiteral("Invalid use of Null"), PatchContext) << OrganismOld << PanelOld << "";
        QTest::newRow("Null in the columns the patch writes") << "" << "UPDATE NHBASE SET PRO = NULL, RES = NULL, MLF = NULL WHERE ID = 1;"
                                                                       "UPDATE Panels SET lastupdated = NULL, DBVersion = NULL WHERE panelcode = 'NH';"
                                                              << open << "" << OrganismNew << PanelNew << HistoryRow;
        // A last row without a reason is not this patch's entry.
        QTest::newRow("the last history row's Reason is Null")
            << "" << "UPDATE updates SET Reason = NULL WHERE rowid = (SELECT max(rowid) FROM updates);" << open << "" << OrganismNew << PanelNew << HistoryRow;

        QTest::newRow("text in a percentage") << "" << "UPDATE NHBASE SET GGT = 'n/a' WHERE ID = 1;" << open
                                              << report(13, QStringLiteral("Type mismatch: Text \"n/a\" is not a number and cannot be stored as Integer (field 'GGT')"),
                                                        PatchContext)
                                              << OrganismOld << PanelOld << "";
        QTest::newRow("a percentage as the text '0' counts as 0") << "" << "UPDATE NHBASE SET GGT = '0' WHERE ID = 1;" << open << ""
                                                                   << OrganismNew << PanelNew << HistoryRow;
        QTest::newRow("text in PRO: overwritten") << "" << "UPDATE NHBASE SET PRO = 'neg' WHERE ID = 1;" << open << ""
                                                  << OrganismNew << PanelNew << HistoryRow;

        QTest::newRow("a last Reason of 10 000 characters")
            << "" << QStringLiteral("UPDATE updates SET Reason = '%1' WHERE rowid = (SELECT max(rowid) FROM updates);").arg(QString(10000, u'R')) << open
            << "" << OrganismNew << PanelNew << HistoryRow;
        QTest::newRow("a last Reason that is the key and 10 000 characters more")
            << "" << QStringLiteral("UPDATE updates SET Reason = '%1' WHERE rowid = (SELECT max(rowid) FROM updates);").arg(Key + QString(10000, u'R')) << open
            << "" << OrganismNew << PanelNew << HistoryRow;

        QTest::newRow("an extra column named x\"y;z in each table")
            << "" << "ALTER TABLE NHBASE ADD COLUMN \"x\"\"y;z\" TEXT DEFAULT 'q';"
                     "ALTER TABLE Panels ADD COLUMN \"x\"\"y;z\" TEXT DEFAULT 'q';"
                     "ALTER TABLE updates ADD COLUMN \"x\"\"y;z\" TEXT DEFAULT 'q';"
            << open << "" << OrganismNew << PanelNew << HistoryRow + QStringLiteral("|q");
        QTest::newRow("percentage columns named with quotes")
            << "" << "ALTER TABLE NHBASE RENAME COLUMN GGT TO \"G\"\"G'T\"; ALTER TABLE NHBASE RENAME COLUMN IND TO \"[IND]\";"
            << open << "" << OrganismNew << PanelNew << HistoryRow;
        QTest::newRow("a table named with quotes beside them")
            << "" << "CREATE TABLE \"we\"\"ird'; table\" (\"a\"\"b\" TEXT); INSERT INTO \"we\"\"ird'; table\" VALUES ('x\"y');"
            << open << "" << OrganismNew << PanelNew << HistoryRow;
        QTest::newRow("a column of the history named rowid")
            << "" << "ALTER TABLE updates ADD COLUMN rowid INTEGER DEFAULT 7;" << open << "" << OrganismNew << PanelNew << HistoryRow + QStringLiteral("|7");

        const QString NotUpdatable = QStringLiteral("The recordset cannot be changed: its rows are not rows of one table that can be saved");
        QTest::newRow("Panels without rowids")
            << "" << "CREATE TABLE P2 (panelcode VARCHAR(4) PRIMARY KEY, lastupdated DATE, DBVersion VARCHAR(10)) WITHOUT ROWID;"
                     "INSERT INTO P2 SELECT * FROM Panels; DROP TABLE Panels; ALTER TABLE P2 RENAME TO Panels;"
            << open << report(3251, NotUpdatable, PatchContext) << OrganismNew << PanelOld << "";
        QTest::newRow("NHBASE a view")
            << "" << "ALTER TABLE NHBASE RENAME TO NHBASE_; CREATE VIEW NHBASE AS SELECT * FROM NHBASE_;"
            << open << report(3251, NotUpdatable, PatchContext) << OrganismOld << PanelOld << "";
        QTest::newRow("a read-only file")
            << "" << "" << Reach::ReadOnlyFile
            << report(engine(SQLITE_READONLY), QStringLiteral("The data file \"%path%\" cannot be used: no permission to write it"), StartContext)
            << OrganismOld << PanelOld << "";
        QTest::newRow("a folder where no journal can be made")
            << "" << "" << Reach::ReadOnlyFolder
            << report(engine(SQLITE_READONLY_DIRECTORY), QStringLiteral("attempt to write a readonly database (while saving the row)"), PatchContext)
            << OrganismOld << PanelOld << "";
        QTest::newRow("locked by another program from before start-up")
            << "" << "" << Reach::LockedBeforeStart
            << report(engine(SQLITE_BUSY),
                      QStringLiteral("The data file \"%path%\" cannot be used: The database is in use by another program (database is locked) "
                                     "while reading the schema"),
                      StartContext)
            << OrganismOld << PanelOld << "";
        QTest::newRow("locked by another program after start-up")
            << "" << "" << Reach::LockedAfterStart
            << report(engine(SQLITE_BUSY), QStringLiteral("The database is in use by another program (database is locked) while reading a row"), PatchContext)
            << OrganismOld << PanelOld << "";
        QTest::newRow("another program writing after start-up")
            << "" << "" << Reach::WritingAfterStart
            << report(engine(SQLITE_BUSY), QStringLiteral("The database is in use by another program (database is locked) while saving the row"), PatchContext)
            << OrganismOld << PanelOld << "";
    }

    void hostileDatabase()
    {
        QFETCH(QString, edit);
        QFETCH(QString, changes);
        QFETCH(Reach, reach);
        QFETCH(QString, failure);
        QFETCH(QString, organism);
        QFETCH(QString, panel);
        QFETCH(QString, history);

        QString sql = TestDatabase::demoSql();
        if (!edit.isEmpty()) {
            const QString from = edit.section(u'|', 0, 0);
            QVERIFY2(sql.contains(from), qPrintable(QStringLiteral("the demo SQL no longer holds \"%1\"").arg(from)));
            sql.replace(from, edit.section(u'|', 1));
        }
        { TestDatabase made(databasePath(), sql + changes); }
        QMap<QString, QStringList> before;
        {
            Reader reader(databasePath());
            before = reader.dump();
        }
        const QStringList historyBefore = before.take(QStringLiteral("updates"));

        if (reach == Reach::ReadOnlyFile || reach == Reach::ReadOnlyFolder) {
            const bool fileWritable = reach == Reach::ReadOnlyFolder;
            QVERIFY(QFile::setPermissions(m_dir->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther));
            QVERIFY(QFile::setPermissions(databasePath(), QFile::ReadOwner | QFile::ReadOther
                                                              | (fileWritable ? QFile::WriteOwner | QFile::WriteOther : QFile::Permissions())));
            QVERIFY(QFile::setPermissions(programFolder(), QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther
                                                               | (fileWritable ? QFile::Permissions() : QFile::WriteOwner | QFile::WriteOther)));
        }
        const QDate dayBefore = QDate::currentDate();
        const Run run = (reach == Reach::ReadOnlyFile || reach == Reach::ReadOnlyFolder) ? runProgramAsUser(reach) : runProgram(reach);
        const QDate dayAfter = QDate::currentDate();

        // The report.
        QVERIFY2(run.uncaught.isEmpty(), qPrintable(run.uncaught.join(u'\n')));
        failure.replace(QStringLiteral("%path%"), QFileInfo(databasePath()).absoluteFilePath());
        QCOMPARE(run.failures, failure.isEmpty() ? QStringList() : QStringList{failure});

        // The program stays usable: a refused database ends it at start-up; otherwise Apply
        // finishes, tells the outcome, and Exit asks its question and closes the window.
        if (failure.endsWith(StartContext)) {
            QCOMPARE(run.ends, 1);
            QVERIFY(run.others.isEmpty());
        } else {
            QCOMPARE(run.ends, 0);
            QVERIFY(run.finished);
            QVERIFY(run.reason.endsWith(failure.isEmpty() ? QStringLiteral("\r\nPatch successfully applied.") : QStringLiteral("\r\nPatch was not applied.")));
            QCOMPARE(run.others, QStringList{QStringLiteral("Would you like to start OLBRA now?")});
            QVERIFY(run.gone);
        }

        // What the file holds.
        Reader reader(databasePath());
        QCOMPARE(reader.rows(QStringLiteral("PRAGMA integrity_check")), QStringList{QStringLiteral("ok")});
        QCOMPARE(reader.written(QStringLiteral("NHBASE"), QStringLiteral("ID = 1"),
                                {QStringLiteral("PRO"), QStringLiteral("RES"), QStringLiteral("MLF")}),
                 organism);
        QCOMPARE(reader.written(QStringLiteral("Panels"), QStringLiteral("panelcode = 'NH'"), {QStringLiteral("lastupdated"), QStringLiteral("DBVersion")}),
                 panel);
        QMap<QString, QStringList> after = reader.dump();
        QStringList historyAfter = after.take(QStringLiteral("updates"));
        QCOMPARE(after, before);
        QCOMPARE(historyAfter.mid(0, historyBefore.size()), historyBefore);
        QStringList added;
        if (!reader.columns(QStringLiteral("updates")).isEmpty())
            added = reader.rows(QStringLiteral("SELECT * FROM updates ORDER BY rowid")).mid(historyBefore.size());
        if (history.isEmpty()) {
            QCOMPARE(added, QStringList());
        } else {
            QCOMPARE(added.size(), 1);
            const QString today = added.first().section(u'|', 0, 0);
            QVERIFY(today == dayBefore.toString(Qt::ISODate) || today == dayAfter.toString(Qt::ISODate));
            QCOMPARE(added.first(), QString(history).replace(QStringLiteral("%today%"), today));
        }
    }
};

QTEST_MAIN(tst_hostile)
#include "tst_hostile.moc"
