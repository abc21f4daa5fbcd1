// The data connection against real files: what OpenConnection does with each kind of file it may
// be given, what GetRecordset refuses, and a save while another program holds the database.
#include "DataConnection.h"
#include "Failure.h"
#include "Recordset.h"
#include "TestDatabase.h"
#include "Variant.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using olbra::Recordset;
using olbra::Ref;
using olbra::Variant;
namespace ErrorCode = olbra::ErrorCode;

namespace {

QString failureOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const olbra::Failure &failure) {
        return QStringLiteral("#%1 %2").arg(failure.number()).arg(failure.description());
    }
    return {};
}

QString failed(std::int32_t number, const QString &description)
{
    return QStringLiteral("#%1 %2").arg(number).arg(description);
}

QString refusedFile(const QString &path, std::int32_t number, const QString &reason)
{
    return failed(number, QStringLiteral("The data file \"%1\" cannot be used: %2").arg(path, reason));
}

const QString InUse = QStringLiteral("The database is in use by another program (database is locked) while %1");
const QString OnlyReads = QStringLiteral("A recordset takes one query that only reads: %1");
const QString ConnectionClosed = QStringLiteral("Operation is not allowed when the connection is closed");

const QString TableSql = QStringLiteral(
    "CREATE TABLE t (id INTEGER PRIMARY KEY, name VARCHAR(20), n SMALLINT DEFAULT 5);"
    "INSERT INTO t VALUES (1, 'a', 1), (2, 'b', 2);");

struct Fixture {
    explicit Fixture(const QString &sql = TableSql) : db(dir.filePath(QStringLiteral("OLBRAData.mdb")), sql)
    {
        connection.setDataFile(db.path());
        connection.OpenConnection();
    }

    QString rows() const
    {
        return db.scalar(QStringLiteral("SELECT group_concat(id || ':' || ifnull(name, '') || ':' || ifnull(n, ''), ' ') FROM t")).toString();
    }

    QTemporaryDir dir;
    TestDatabase db;
    olbra::DataConnection connection;
};

// A database of many pages, as bytes.
QByteArray multiPageDatabase(const QString &folder)
{
    const QString path = folder + QStringLiteral("/big.sqlite");
    {
        TestDatabase big(path, QStringLiteral("CREATE TABLE t (x TEXT);"
                                              "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 200)"
                                              " INSERT INTO t SELECT printf('%.500d', i) FROM n;"));
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    file.close();
    QFile::remove(path);
    return bytes;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// What OpenConnection makes of the file: "connected", "not connected", or its failure.
QString openOutcome(const QString &path)
{
    olbra::DataConnection connection;
    connection.setDataFile(path);
    const QString failure = failureOf([&] { connection.OpenConnection(); });
    if (!failure.isEmpty())
        return connection.IsConnected() ? QStringLiteral("connected after ") + failure : failure;
    return connection.IsConnected() ? QStringLiteral("connected") : QStringLiteral("not connected");
}

// openOutcome as a user that does not own the file. Root is not held back by file modes, so when
// the tests run as root a child process becomes "nobody" first and reports back through a pipe.
QString openOutcomeAsAnotherUser(const QString &path)
{
    if (geteuid() != 0)
        return openOutcome(path);
    int channel[2];
    if (pipe(channel) != 0)
        return QStringLiteral("no pipe");
    const pid_t child = fork();
    if (child < 0)
        return QStringLiteral("no child");
    if (child == 0) {
        close(channel[0]);
        if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
            _exit(2);
        const QByteArray text = openOutcome(path).toUtf8();
        qsizetype written = 0;
        while (written < text.size()) {
            const ssize_t n = write(channel[1], text.constData() + written, static_cast<size_t>(text.size() - written));
            if (n <= 0)
                _exit(3);
            written += n;
        }
        _exit(0);
    }
    close(channel[1]);
    QByteArray text;
    char buffer[512];
    ssize_t n;
    while ((n = read(channel[0], buffer, sizeof buffer)) > 0)
        text.append(buffer, n);
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return QStringLiteral("the child process failed (status %1)").arg(status);
    return QString::fromUtf8(text);
}

// Whether another program can take the write lock at once.
QString lockTakenBy(const TestDatabase &db)
{
    try {
        db.exec(QStringLiteral("BEGIN EXCLUSIVE; COMMIT;"));
        return QStringLiteral("free");
    } catch (const std::exception &error) {
        return QString::fromUtf8(error.what());
    }
}

} // namespace

class tst_DataConnection : public QObject {
    Q_OBJECT

private slots:
    void openConnection_data();
    void openConnection();
    void readOnlyFile();
    void unreadableFile();
    void openConnectionAgain();
    void closeConnection();
    void nothingLastingBesidesTheRows();

    void getRecordsetRefuses_data();
    void getRecordsetRefuses();
    void getRecordsetTakesOneQuery_data();
    void getRecordsetTakesOneQuery();
    void engineFailures_data();
    void engineFailures();

    void saveWhileLocked_data();
    void saveWhileLocked();
    void openAndReadWhileLocked();
};

enum class Make { Database, NoName, Missing, MissingFolder, Folder, TextFile, EmptyFile, Truncated, OnePage, ShortFile, Garbage, BadPageSize, GarbledSchema, Pipe };
Q_DECLARE_METATYPE(Make)

void tst_DataConnection::openConnection_data()
{
    QTest::addColumn<Make>("make");
    QTest::addColumn<QString>("outcome"); // %1: the file's absolute path

    QTest::newRow("a database") << Make::Database << "connected";
    QTest::newRow("an empty name") << Make::NoName << "not connected";
    QTest::newRow("a missing file") << Make::Missing << "not connected";
    QTest::newRow("a file in a missing folder") << Make::MissingFolder << "not connected";
    QTest::newRow("a folder") << Make::Folder << "not connected";
    QTest::newRow("a text file") << Make::TextFile << refusedFile("%1", ErrorCode::fromEngine(SQLITE_NOTADB), "file is not a database");
    QTest::newRow("an empty file") << Make::EmptyFile << refusedFile("%1", ErrorCode::fromEngine(SQLITE_NOTADB), "the file is empty");
    QTest::newRow("a database cut in half")
        << Make::Truncated
        << refusedFile("%1", ErrorCode::fromEngine(SQLITE_CORRUPT), "database disk image is malformed (the file is shorter than its header says)");
    QTest::newRow("a database cut to its first page")
        << Make::OnePage
        << refusedFile("%1", ErrorCode::fromEngine(SQLITE_CORRUPT), "database disk image is malformed (the file is shorter than its header says)");
    QTest::newRow("a database cut inside its header") << Make::ShortFile << refusedFile("%1", ErrorCode::fromEngine(SQLITE_NOTADB), "file is not a database");
    QTest::newRow("pages of garbage") << Make::Garbage << refusedFile("%1", ErrorCode::fromEngine(SQLITE_NOTADB), "file is not a database");
    QTest::newRow("the right first words, an impossible page size")
        << Make::BadPageSize << refusedFile("%1", ErrorCode::fromEngine(SQLITE_NOTADB), "file is not a database");
    QTest::newRow("a sound header over a garbled schema")
        << Make::GarbledSchema << refusedFile("%1", ErrorCode::fromEngine(SQLITE_CORRUPT), "database disk image is malformed (while reading the schema)");
    QTest::newRow("a named pipe") << Make::Pipe << refusedFile("%1", ErrorCode::fromEngine(SQLITE_CANTOPEN), "it is not a regular file");
}

void tst_DataConnection::openConnection()
{
    QFETCH(Make, make);
    QFETCH(QString, outcome);

    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("OLBRAData.mdb"));
    const QByteArray database = multiPageDatabase(dir.path());
    QVERIFY(database.size() > 16 * 4096);
    switch (make) {
    case Make::Database: QVERIFY(writeFile(path, database)); break;
    case Make::NoName: path.clear(); break;
    case Make::Missing: break;
    case Make::MissingFolder: path = dir.filePath(QStringLiteral("nowhere/OLBRAData.mdb")); break;
    case Make::Folder: QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("OLBRAData.mdb"))); break;
    case Make::TextFile: QVERIFY(writeFile(path, QByteArrayLiteral("[ZRVData]\nDataPath=C:\\OLBRA\\OLBRAData.mdb\n").repeated(200))); break;
    case Make::EmptyFile: QVERIFY(writeFile(path, {})); break;
    case Make::Truncated: QVERIFY(writeFile(path, database.left(database.size() / 2))); break;
    case Make::OnePage: QVERIFY(writeFile(path, database.left(4096))); break;
    case Make::ShortFile: QVERIFY(writeFile(path, database.left(60))); break;
    case Make::Garbage: QVERIFY(writeFile(path, QByteArray(8 * 4096, '\xA5'))); break;
    case Make::BadPageSize: {
        QByteArray header = database.left(4096);
        header[16] = 3; // 768: not a power of two
        header[17] = 0;
        QVERIFY(writeFile(path, header));
        break;
    }
    case Make::GarbledSchema: {
        QByteArray garbled = database;
        garbled.replace(100, 4096 - 100, QByteArray(4096 - 100, '\xA5'));
        QVERIFY(writeFile(path, garbled));
        break;
    }
    case Make::Pipe: QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0); break;
    }
    QByteArray before;
    if (QFileInfo(path).isFile()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        before = file.readAll();
    }

    QCOMPARE(openOutcome(path), outcome.replace(QStringLiteral("%1"), QFileInfo(path).absoluteFilePath()));

    // The file is as it was; no file is made where there was none.
    if (QFileInfo(path).isFile()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll() == before);
    }
    if (make == Make::Missing || make == Make::MissingFolder)
        QVERIFY(!QFileInfo::exists(path));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).filter(QStringLiteral("-")), QStringList()); // no journal or WAL file left
}

void tst_DataConnection::readOnlyFile()
{
    QTemporaryDir dir;
    QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup
                                                  | QFile::ReadOther | QFile::ExeOther));
    const QString path = dir.filePath(QStringLiteral("OLBRAData.mdb"));
    { TestDatabase db(path, TableSql); }
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));

    QCOMPARE(openOutcomeAsAnotherUser(path), refusedFile(path, ErrorCode::fromEngine(SQLITE_READONLY), QStringLiteral("no permission to write it")));
}

void tst_DataConnection::unreadableFile()
{
    QTemporaryDir dir;
    QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup
                                                  | QFile::ReadOther | QFile::ExeOther));
    const QString path = dir.filePath(QStringLiteral("OLBRAData.mdb"));
    { TestDatabase db(path, TableSql); }
    QVERIFY(QFile::setPermissions(path, QFile::Permissions()));

    QCOMPARE(openOutcomeAsAnotherUser(path),
             refusedFile(path, ErrorCode::fromEngine(SQLITE_CANTOPEN), QStringLiteral("no permission to read it (Permission denied)")));
}

void tst_DataConnection::openConnectionAgain()
{
    Fixture f;
    QVERIFY(f.connection.IsConnected());
    Ref<Recordset> rs = f.connection.GetRecordset(QStringLiteral("select * from t"));

    // The next place to try is missing: the connection is closed, its recordsets with it, and no
    // failure is raised.
    f.connection.setDataFile(f.dir.filePath(QStringLiteral("elsewhere/OLBRAData.mdb")));
    QCOMPARE(failureOf([&] { f.connection.OpenConnection(); }), QString());
    QVERIFY(!f.connection.IsConnected());
    QCOMPARE(rs->State(), Recordset::Closed);

    f.connection.setDataFile(f.db.path());
    f.connection.OpenConnection();
    QVERIFY(f.connection.IsConnected());
    // Opening again while open starts afresh on the same file.
    f.connection.OpenConnection();
    QVERIFY(f.connection.IsConnected());
    QCOMPARE(f.connection.GetRecordset(QStringLiteral("select name from t"))->Fields().Item(0).Value(), Variant::ofText(QStringLiteral("a")));
}

void tst_DataConnection::closeConnection()
{
    olbra::DataConnection never;
    QVERIFY(!never.IsConnected());
    QCOMPARE(failureOf([&] { never.GetRecordset(QStringLiteral("select 1")); }), failed(ErrorCode::ObjectClosed, ConnectionClosed));
    QCOMPARE(never.CloseConnection(), Variant::ofBoolean(false));

    Fixture f;
    Ref<Recordset> rs = f.connection.GetRecordset(QStringLiteral("select * from t"));
    QCOMPARE(f.connection.CloseConnection(), Variant::ofBoolean(true));
    QVERIFY(!f.connection.IsConnected());
    QCOMPARE(rs->State(), Recordset::Closed);
    QCOMPARE(failureOf([&] { f.connection.GetRecordset(QStringLiteral("select * from t")); }), failed(ErrorCode::ObjectClosed, ConnectionClosed));
    QCOMPARE(f.connection.CloseConnection(), Variant::ofBoolean(false));
    QCOMPARE(lockTakenBy(f.db), QStringLiteral("free"));
}

void tst_DataConnection::nothingLastingBesidesTheRows()
{
    Fixture f;
    f.db.exec(QStringLiteral("PRAGMA user_version = 7;"));
    const auto header = [&] {
        QFile file(f.db.path());
        const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.read(100) : QByteArray();
        // Everything but the change counters and the page count, which any write moves.
        return bytes.left(24) + bytes.mid(32, 60);
    };
    const QByteArray before = header();
    const QString schema = f.db.scalar(QStringLiteral("SELECT group_concat(sql, ';') FROM sqlite_schema")).toString();

    f.connection.OpenConnection();
    Ref<Recordset> rs = f.connection.GetRecordset(QStringLiteral("select * from t where id = 1"));
    rs->Fields().Item("name").setValue(Variant::ofText(QStringLiteral("changed")));
    rs->Update();
    rs->AddNew();
    rs->Update();
    rs->Close();
    f.connection.CloseConnection();

    QCOMPARE(f.rows(), QStringLiteral("1:changed:1 2:b:2 3::5"));
    QVERIFY(header() == before);
    QCOMPARE(f.db.scalar(QStringLiteral("PRAGMA journal_mode")).toString(), QStringLiteral("delete"));
    QCOMPARE(f.db.scalar(QStringLiteral("PRAGMA user_version")).toInt(), 7);
    QCOMPARE(f.db.scalar(QStringLiteral("SELECT group_concat(sql, ';') FROM sqlite_schema")).toString(), schema);
    QCOMPARE(QDir(f.dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("OLBRAData.mdb")});
}

void tst_DataConnection::getRecordsetRefuses_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QString>("failure");

    const auto onlyReads = [](const char *query) { return failed(ErrorCode::TypeMismatch, OnlyReads.arg(QLatin1String(query))); };
    for (const char *query : {"delete from t", "insert into t (name) values ('c')", "update t set name = 'x'",
                              "insert into t (name) values ('c') returning id", "delete from t returning *",
                              "create table u (x)", "drop table t", "alter table t add column x", "select * from t; delete from t",
                              "select * from t; select * from t", "PRAGMA journal_mode=WAL",
                              "PRAGMA locking_mode=EXCLUSIVE", "PRAGMA optimize", "PRAGMA user_version=3", "PRAGMA table_info(t)",
                              "BEGIN EXCLUSIVE", "VACUUM", "ATTACH DATABASE ':memory:' AS other", "ANALYZE"})
        QTest::newRow(query) << QString::fromLatin1(query) << onlyReads(query);
    QTest::newRow("nothing") << "" << failed(ErrorCode::TypeMismatch, QStringLiteral("The query is empty"));
    QTest::newRow("only a comment") << "  -- nothing\n" << failed(ErrorCode::TypeMismatch, QStringLiteral("The query is empty"));
}

void tst_DataConnection::getRecordsetRefuses()
{
    QFETCH(QString, query);
    QFETCH(QString, failure);

    Fixture f;
    QCOMPARE(failureOf([&] { f.connection.GetRecordset(query); }), failure);
    // Nothing of it ran: the rows, the schema and the journal mode are as they were, and nothing
    // holds a lock.
    QCOMPARE(f.rows(), QStringLiteral("1:a:1 2:b:2"));
    QCOMPARE(f.db.scalar(QStringLiteral("SELECT count(*) FROM sqlite_schema")).toInt(), 1);
    QCOMPARE(f.db.scalar(QStringLiteral("PRAGMA journal_mode")).toString(), QStringLiteral("delete"));
    QCOMPARE(f.db.scalar(QStringLiteral("PRAGMA user_version")).toInt(), 0);
    QCOMPARE(lockTakenBy(f.db), QStringLiteral("free"));
    QVERIFY(f.connection.IsConnected());
    QCOMPARE(f.connection.GetRecordset(QStringLiteral("select count(*) from t"))->Fields().Item(0).Value(), Variant::ofLong(2));
}

void tst_DataConnection::getRecordsetTakesOneQuery_data()
{
    QTest::addColumn<QString>("query");

    QTest::newRow("with a semicolon") << "select * from t;";
    QTest::newRow("with two semicolons") << "select * from t;;";
    QTest::newRow("with blanks around") << "\n  select * from t ;\n ";
    QTest::newRow("with a comment after it") << "select * from t -- the table";
    QTest::newRow("with a comment after the semicolon") << "select * from t; -- the table";
    QTest::newRow("with a block comment after the semicolon") << "select * from t; /* the table */";
    QTest::newRow("with a semicolon inside quotes") << "select * from t where name <> ';delete from t'";
}

void tst_DataConnection::getRecordsetTakesOneQuery()
{
    QFETCH(QString, query);

    Fixture f;
    Ref<Recordset> rs;
    QCOMPARE(failureOf([&] { rs = f.connection.GetRecordset(query); }), QString());
    QCOMPARE(rs->Fields().Item("name").Value(), Variant::ofText(QStringLiteral("a")));
    QVERIFY(rs->isUpdatable());
    QCOMPARE(f.rows(), QStringLiteral("1:a:1 2:b:2"));
}

void tst_DataConnection::engineFailures_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QString>("failure");

    const auto engine = [](const char *message) {
        return failed(ErrorCode::fromEngine(SQLITE_ERROR), QStringLiteral("%1 (while running the query)").arg(QLatin1String(message)));
    };
    QTest::newRow("syntax error") << "selec * from t" << engine("near \"selec\": syntax error");
    QTest::newRow("missing table") << "select * from nope" << engine("no such table: nope");
    QTest::newRow("missing column") << "select nope from t" << engine("no such column: nope");
    QTest::newRow("cut short") << "select * from t where" << engine("incomplete input");
}

void tst_DataConnection::engineFailures()
{
    QFETCH(QString, query);
    QFETCH(QString, failure);

    Fixture f;
    QCOMPARE(failureOf([&] { f.connection.GetRecordset(query); }), failure);
    QVERIFY(ErrorCode::fromEngine(SQLITE_ERROR) < 0);
    QVERIFY(f.connection.IsConnected());
}

void tst_DataConnection::saveWhileLocked_data()
{
    QTest::addColumn<QString>("lock");
    QTest::addColumn<bool>("newRow");

    for (bool newRow : {false, true}) {
        const char *what = newRow ? "new row" : "changed row";
        QTest::addRow("%s, another program writing (BEGIN IMMEDIATE)", what) << "BEGIN IMMEDIATE; UPDATE t SET n = n WHERE id = 2;" << newRow;
        QTest::addRow("%s, another program holding it whole (BEGIN EXCLUSIVE)", what) << "BEGIN EXCLUSIVE;" << newRow;
        QTest::addRow("%s, another program reading", what) << "BEGIN; SELECT count(*) FROM t;" << newRow;
    }
}

void tst_DataConnection::saveWhileLocked()
{
    QFETCH(QString, lock);
    QFETCH(bool, newRow);

    Fixture f;
    Ref<Recordset> rs = f.connection.GetRecordset(QStringLiteral("select * from t where id = 1"));
    // Read to its end, the result holds no read of the file that would keep the other program's
    // exclusive lock out (a recordset standing on a row with more to follow does).
    rs->MoveLast();
    f.connection.setBusyTimeout(200);
    if (newRow)
        rs->AddNew();
    rs->Fields().Item("name").setValue(Variant::ofText(QStringLiteral("patched")));

    f.db.exec(lock);
    QCOMPARE(failureOf([&] { rs->Update(); }), failed(ErrorCode::fromEngine(SQLITE_BUSY), InUse.arg(QStringLiteral("saving the row"))));
    QVERIFY(ErrorCode::fromEngine(SQLITE_BUSY) < 0);
    f.db.exec(QStringLiteral("ROLLBACK;"));
    QCOMPARE(f.rows(), QStringLiteral("1:a:1 2:b:2"));

    // Nothing is lost: the change is still there, and the same Update saves it once the lock is gone.
    QCOMPARE(rs->Fields().Item("name").Value(), Variant::ofText(QStringLiteral("patched")));
    QCOMPARE(failureOf([&] { rs->Update(); }), QString());
    QCOMPARE(f.rows(), newRow ? QStringLiteral("1:a:1 2:b:2 3:patched:5") : QStringLiteral("1:patched:1 2:b:2"));
    QCOMPARE(lockTakenBy(f.db), QStringLiteral("free"));
}

void tst_DataConnection::openAndReadWhileLocked()
{
    Fixture f;
    f.connection.setBusyTimeout(200);
    f.db.exec(QStringLiteral("BEGIN EXCLUSIVE;"));

    QCOMPARE(failureOf([&] { f.connection.GetRecordset(QStringLiteral("select * from t")); }),
             failed(ErrorCode::fromEngine(SQLITE_BUSY), InUse.arg(QStringLiteral("reading a row"))));
    QVERIFY(f.connection.IsConnected());

    olbra::DataConnection other;
    other.setBusyTimeout(200);
    other.setDataFile(f.db.path());
    QCOMPARE(failureOf([&] { other.OpenConnection(); }),
             refusedFile(f.db.path(), ErrorCode::fromEngine(SQLITE_BUSY), InUse.arg(QStringLiteral("reading the schema"))));
    QVERIFY(!other.IsConnected());

    f.db.exec(QStringLiteral("COMMIT;"));
    other.OpenConnection();
    QVERIFY(other.IsConnected());
    QCOMPARE(f.connection.GetRecordset(QStringLiteral("select * from t"))->Fields().Item("name").Value(), Variant::ofText(QStringLiteral("a")));
}

QTEST_GUILESS_MAIN(tst_DataConnection)
#include "tst_dataconnection.moc"
