#include "DataConnection.h"

#include "Engine.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace olbra {

Failure engineFailure(sqlite3 *db, int resultCode, const QString &doing)
{
    const int primary = resultCode & 0xFF;
    const QString message = QString::fromUtf8(db ? sqlite3_errmsg(db) : sqlite3_errstr(resultCode));
    if (primary == SQLITE_INTERRUPT)
        return Failure(ErrorCode::fromEngine(resultCode),
                       QStringLiteral("The database did not finish in time and was interrupted (%1) while %2").arg(message, doing));
    if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED)
        return Failure(ErrorCode::fromEngine(resultCode),
                       QStringLiteral("The database is in use by another program (%1) while %2").arg(message, doing));
    return Failure(ErrorCode::fromEngine(resultCode), QStringLiteral("%1 (while %2)").arg(message, doing));
}

QString quoteIdentifier(const QString &name)
{
    QString quoted = name;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

sqlite3 *Database::handle() const
{
    if (!m_handle)
        throw Failure(ErrorCode::ObjectClosed, QStringLiteral("Operation is not allowed when the connection is closed"));
    return m_handle;
}

Statement Database::prepare(const QString &sql, const QString &doing) const
{
    const QByteArray text = sql.toUtf8();
    sqlite3_stmt *raw = nullptr;
    const int rc = sqlite3_prepare_v2(handle(), text.constData(), static_cast<int>(text.size()), &raw, nullptr);
    Statement statement(raw);
    if (rc != SQLITE_OK)
        throw engineFailure(m_handle, rc, doing);
    return statement;
}

Database::Database(sqlite3 *handle, QString path) : m_handle(handle), m_path(std::move(path))
{
    if (m_handle)
        sqlite3_progress_handler(m_handle, 1000, &Database::onProgress, this);
}

void Database::armDeadline()
{
    m_deadline = std::chrono::steady_clock::now() + m_statementTimeout;
}

int Database::onProgress(void *database)
{
    return std::chrono::steady_clock::now() > static_cast<Database *>(database)->m_deadline ? 1 : 0;
}

void Database::registerCursor(const std::shared_ptr<Cursor> &cursor)
{
    std::erase_if(m_cursors, [](const std::weak_ptr<Cursor> &known) { return known.expired(); });
    m_cursors.push_back(cursor);
}

void Database::suspendReaders()
{
    for (const auto &known : m_cursors)
        if (const auto cursor = known.lock())
            cursor->suspend();
}

void Database::close() noexcept
{
    for (const auto &known : m_cursors)
        if (const auto cursor = known.lock())
            cursor->close();
    m_cursors.clear();
    if (m_handle)
        sqlite3_close_v2(m_handle);
    m_handle = nullptr;
}

namespace {

[[noreturn]] void refuseFile(const QString &path, std::int32_t number, const QString &reason)
{
    throw Failure(number, QStringLiteral("The data file \"%1\" cannot be used: %2").arg(path, reason));
}

std::uint32_t bigEndian(const QByteArray &bytes, int offset, int size)
{
    std::uint32_t value = 0;
    for (int i = 0; i < size; ++i)
        value = (value << 8) | static_cast<unsigned char>(bytes[offset + i]);
    return value;
}

// Reads the file's header, so that a file that is not a database, or one cut short, is refused
// before the engine is asked to trust it.
void checkHeader(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        refuseFile(path, ErrorCode::fromEngine(SQLITE_CANTOPEN), QStringLiteral("no permission to read it (%1)").arg(file.errorString()));
    const qint64 size = file.size();
    const QByteArray header = file.read(100);
    if (size == 0)
        refuseFile(path, ErrorCode::fromEngine(SQLITE_NOTADB), QStringLiteral("the file is empty"));
    if (header.size() < 100 || !header.startsWith(QByteArrayLiteral("SQLite format 3\0")))
        refuseFile(path, ErrorCode::fromEngine(SQLITE_NOTADB), QStringLiteral("file is not a database"));
    std::uint32_t pageSize = bigEndian(header, 16, 2);
    if (pageSize == 1)
        pageSize = 65536;
    const std::uint32_t pages = bigEndian(header, 28, 4);
    const bool pagesValid = pages != 0 && bigEndian(header, 92, 4) == bigEndian(header, 24, 4);
    if (pageSize < 512 || (pageSize & (pageSize - 1)) != 0)
        refuseFile(path, ErrorCode::fromEngine(SQLITE_NOTADB), QStringLiteral("file is not a database"));
    if (pagesValid && static_cast<qint64>(pages) * pageSize > size)
        refuseFile(path, ErrorCode::fromEngine(SQLITE_CORRUPT),
                   QStringLiteral("database disk image is malformed (the file is shorter than its header says)"));
}

} // namespace

DataConnection::DataConnection() = default;

DataConnection::~DataConnection() = default;

void DataConnection::setDataFile(const QString &path) { m_dataFile = path; }

void DataConnection::OpenConnection()
{
    if (m_database)
        m_database->close();
    m_database.reset();

    const QFileInfo info(m_dataFile);
    if (m_dataFile.isEmpty() || !info.exists() || info.isDir())
        return;
    const QString path = info.absoluteFilePath();
    // A pipe or a device would block the header's read, or feed it something that is not a file.
    if (!info.isFile())
        refuseFile(path, ErrorCode::fromEngine(SQLITE_CANTOPEN), QStringLiteral("it is not a regular file"));
    checkHeader(path);

    sqlite3 *raw = nullptr;
    const QByteArray name = QFile::encodeName(path);
    const int rc = sqlite3_open_v2(name.constData(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    auto database = std::make_shared<Database>(raw, path);
    if (rc != SQLITE_OK)
        refuseFile(path, ErrorCode::fromEngine(rc), QString::fromUtf8(raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc)));
    sqlite3_extended_result_codes(raw, 1);
    sqlite3_busy_timeout(raw, m_busyTimeoutMs);
    // No value of the product's tables comes near this; a hostile file's giant value is refused
    // instead of being copied into memory.
    sqlite3_limit(raw, SQLITE_LIMIT_LENGTH, MaxValueBytes);
    database->setStatementTimeout(m_statementTimeoutMs);
    database->armDeadline();
    if (sqlite3_db_readonly(raw, "main") != 0)
        refuseFile(path, ErrorCode::fromEngine(SQLITE_READONLY), QStringLiteral("no permission to write it"));

    // Reading the schema is the engine's own test of the file; it waits for another program's
    // exclusive lock as long as a write would.
    // Preparing reads the schema already, so a refusal there names the file as well.
    try {
        Statement check = database->prepare(QStringLiteral("SELECT count(*) FROM sqlite_schema"), QStringLiteral("reading the schema"));
        const int stepped = sqlite3_step(check.get());
        if (stepped != SQLITE_ROW)
            throw engineFailure(raw, stepped, QStringLiteral("reading the schema"));
    } catch (const Failure &failure) {
        refuseFile(path, failure.number(), failure.description());
    }
    m_database = std::move(database);
}

void DataConnection::setStatementTimeout(int milliseconds)
{
    m_statementTimeoutMs = milliseconds;
    if (IsConnected())
        m_database->setStatementTimeout(milliseconds);
}

void DataConnection::setBusyTimeout(int milliseconds)
{
    m_busyTimeoutMs = milliseconds;
    if (IsConnected())
        sqlite3_busy_timeout(m_database->handle(), milliseconds);
}

bool DataConnection::IsConnected() const { return m_database && m_database->isOpen(); }

Variant DataConnection::CloseConnection()
{
    const bool wasOpen = IsConnected();
    if (m_database)
        m_database->close();
    m_database.reset();
    return Variant::ofBoolean(wasOpen);
}

Ref<Recordset> DataConnection::GetRecordset(const QString &query)
{
    if (!IsConnected())
        throw Failure(ErrorCode::ObjectClosed, QStringLiteral("Operation is not allowed when the connection is closed"));
    return std::make_unique<Recordset>(Cursor::create(m_database, query));
}

} // namespace olbra
