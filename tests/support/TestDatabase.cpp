#include "TestDatabase.h"

#include <QFile>

#include <stdexcept>

TestDatabase::TestDatabase(const QString &path, const QString &sql) : m_path(path)
{
    QFile::remove(path);
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK)
        throw std::runtime_error("cannot create test database");
    sqlite3_busy_timeout(m_db, 2000);
    exec(sql);
}

TestDatabase::~TestDatabase() { sqlite3_close_v2(m_db); }

void TestDatabase::exec(const QString &sql) const
{
    char *error = nullptr;
    if (sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string message = error ? error : "unknown error";
        sqlite3_free(error);
        throw std::runtime_error("test SQL failed: " + message);
    }
}

QVariant TestDatabase::scalar(const QString &sql) const
{
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(m_db, sql.toUtf8().constData(), -1, &statement, nullptr) != SQLITE_OK)
        throw std::runtime_error(std::string("test query failed: ") + sqlite3_errmsg(m_db));
    QVariant value;
    if (sqlite3_step(statement) == SQLITE_ROW) {
        switch (sqlite3_column_type(statement, 0)) {
        case SQLITE_INTEGER: value = static_cast<qlonglong>(sqlite3_column_int64(statement, 0)); break;
        case SQLITE_FLOAT: value = sqlite3_column_double(statement, 0); break;
        case SQLITE_NULL: break;
        default: value = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, 0))); break;
        }
    }
    sqlite3_finalize(statement);
    return value;
}

QString TestDatabase::storageClass(const QString &sql) const
{
    return scalar(QStringLiteral("SELECT typeof((%1))").arg(sql)).toString();
}

namespace {
QString readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("missing test data file");
    return QString::fromUtf8(file.readAll());
}

} // namespace

QString TestDatabase::dataFile(const QString &name) { return readFile(QStringLiteral(OLBRA_TEST_DATA "/") + name); }

QString TestDatabase::demoSql() { return readFile(QStringLiteral(OLBRA_DEMO_SQL)); }
