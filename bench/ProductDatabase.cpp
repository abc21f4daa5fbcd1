#include "ProductDatabase.h"

#include <QFile>

#include <sqlite3.h>

#include <memory>
#include <stdexcept>

namespace bench {

namespace {

struct Closer {
    void operator()(sqlite3 *db) const noexcept { sqlite3_close_v2(db); }
};
using Connection = std::unique_ptr<sqlite3, Closer>;

[[noreturn]] void fail(const QString &what, sqlite3 *db)
{
    throw std::runtime_error((what + QStringLiteral(": ") + QString::fromUtf8(db ? sqlite3_errmsg(db) : "out of memory")).toStdString());
}

Connection open(const QString &path, int flags)
{
    sqlite3 *raw = nullptr;
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &raw, flags, nullptr);
    Connection db(raw);
    if (rc != SQLITE_OK)
        fail(QStringLiteral("cannot open %1").arg(path), raw);
    return db;
}

void exec(sqlite3 *db, const QString &sql)
{
    char *message = nullptr;
    if (sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &message) != SQLITE_OK) {
        const QString text = QString::fromUtf8(message ? message : "unknown error");
        sqlite3_free(message);
        throw std::runtime_error(QStringLiteral("SQL failed: %1").arg(text).toStdString());
    }
}

QString text(sqlite3 *db, const QString &sql)
{
    sqlite3_stmt *raw = nullptr;
    if (sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &raw, nullptr) != SQLITE_OK)
        fail(QStringLiteral("cannot read back"), db);
    std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)> statement(raw, sqlite3_finalize);
    if (sqlite3_step(raw) != SQLITE_ROW)
        return {};
    return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(raw, 0)));
}

} // namespace

void makeProductDatabase(const QString &path, qint64 historyRows)
{
    QFile demo(QStringLiteral(OLBRA_DEMO_SQL));
    if (!demo.open(QIODevice::ReadOnly))
        throw std::runtime_error("the demo database's SQL cannot be read");
    QFile::remove(path);
    const Connection db = open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    exec(db.get(), QString::fromUtf8(demo.readAll()));
    if (historyRows < 0)
        return;
    // Reasons of earlier patches, as long as real ones, none equal to this patch's key.
    exec(db.get(), QStringLiteral("BEGIN; DELETE FROM updates;"
                                  "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1)"
                                  " INSERT INTO updates (Date, Minor, Build, Reason)"
                                  " SELECT date('2000-01-01', '+' || (i % 7000) || ' days'), 0, i % 100,"
                                  "        printf('Patch %07d-earlier reference data update', i) FROM n;"
                                  "COMMIT;")
                       .arg(historyRows));
}

void copyFile(const QString &from, const QString &to)
{
    QFile::remove(to);
    if (!QFile::copy(from, to))
        throw std::runtime_error(QStringLiteral("cannot copy %1 to %2").arg(from, to).toStdString());
}

qint64 historyRowCount(const QString &path)
{
    const Connection db = open(path, SQLITE_OPEN_READONLY);
    return text(db.get(), QStringLiteral("SELECT count(*) FROM updates")).toLongLong();
}

QString writtenState(const QString &path)
{
    const Connection db = open(path, SQLITE_OPEN_READONLY);
    return text(db.get(), QStringLiteral(
        "SELECT (SELECT quote(PRO) || ' ' || quote(RES) || ' ' || quote(MLF) FROM NHBASE WHERE ID = 1)"
        " || ' | ' || (SELECT quote(lastupdated) || ' ' || quote(DBVersion) FROM Panels WHERE panelcode = 'NH' ORDER BY rowid LIMIT 1)"
        " || ' | ' || (SELECT count(*) FROM updates)"
        " || ' | ' || (SELECT quote(Date) || ' ' || quote(Minor) || ' ' || quote(Build) || ' ' || quote(Reason)"
        "              FROM updates ORDER BY rowid DESC LIMIT 1)"));
}

QString storedMlfLiteral(const QString &path)
{
    const Connection db = open(path, SQLITE_OPEN_READONLY);
    // printf's %!.17g keeps every bit of the double and always shows it as a real.
    return text(db.get(), QStringLiteral("SELECT printf('%!.17g', MLF) FROM NHBASE WHERE ID = 1"));
}

} // namespace bench
