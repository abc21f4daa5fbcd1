#include "Recordset.h"

#include "Engine.h"

#include <QRegularExpression>

#include <cmath>
#include <limits>

namespace olbra {

// ---- conversions -------------------------------------------------------------------------------

Kind kindOfDeclaredType(const char *declaredType)
{
    if (!declaredType)
        return Kind::Empty;
    const QString word = QString::fromUtf8(declaredType).trimmed().section(QRegularExpression(QStringLiteral("[^A-Za-z0-9_]")), 0, 0).toUpper();
    static const std::map<QString, Kind> kinds = {
        {QStringLiteral("BYTE"), Kind::Byte},         {QStringLiteral("TINYINT"), Kind::Byte},
        {QStringLiteral("SHORT"), Kind::Integer},     {QStringLiteral("SMALLINT"), Kind::Integer},
        {QStringLiteral("INTEGER2"), Kind::Integer},  {QStringLiteral("LONG"), Kind::Long},
        {QStringLiteral("INT"), Kind::Long},          {QStringLiteral("INTEGER"), Kind::Long},
        {QStringLiteral("INTEGER4"), Kind::Long},     {QStringLiteral("COUNTER"), Kind::Long},
        {QStringLiteral("AUTOINCREMENT"), Kind::Long}, {QStringLiteral("SINGLE"), Kind::Single},
        {QStringLiteral("REAL"), Kind::Single},       {QStringLiteral("FLOAT4"), Kind::Single},
        {QStringLiteral("DOUBLE"), Kind::Double},     {QStringLiteral("FLOAT"), Kind::Double},
        {QStringLiteral("FLOAT8"), Kind::Double},     {QStringLiteral("NUMBER"), Kind::Double},
        {QStringLiteral("DATE"), Kind::Date},         {QStringLiteral("DATETIME"), Kind::Date},
        {QStringLiteral("TIME"), Kind::Date},         {QStringLiteral("TIMESTAMP"), Kind::Date},
        {QStringLiteral("TEXT"), Kind::Text},         {QStringLiteral("CHAR"), Kind::Text},
        {QStringLiteral("VARCHAR"), Kind::Text},      {QStringLiteral("MEMO"), Kind::Text},
        {QStringLiteral("LONGTEXT"), Kind::Text},     {QStringLiteral("BIT"), Kind::Boolean},
        {QStringLiteral("YESNO"), Kind::Boolean},     {QStringLiteral("LOGICAL"), Kind::Boolean},
        {QStringLiteral("BOOLEAN"), Kind::Boolean},
    };
    const auto found = kinds.find(word);
    return found == kinds.end() ? Kind::Empty : found->second;
}

namespace {

[[noreturn]] void mismatch(const Variant &value, Kind columnKind, const QString &detail = {})
{
    throw Failure(ErrorCode::TypeMismatch, QStringLiteral("Type mismatch: %1%2 cannot be stored as %3")
                                               .arg(kindName(value.kind()), detail, kindName(columnKind)));
}

// A number for a numeric column: finite numbers as they are, text only when it wholly reads as one.
double numberFor(const Variant &value, Kind columnKind)
{
    if (value.isNumber()) {
        const double number = value.toDouble();
        if (std::isnan(number))
            mismatch(value, columnKind, QStringLiteral(" nan is not a number and"));
        if (std::isinf(number))
            throw overflow(numberText(number), columnKind == Kind::Single ? Kind::Single : Kind::Double);
        return number;
    }
    if (value.kind() == Kind::Text) {
        if (const auto number = parseNumber(value.toText()))
            return *number;
        mismatch(value, columnKind, QStringLiteral(" \"%1\" is not a number and").arg(value.toText().left(40)));
    }
    mismatch(value, columnKind);
}

// Whole numbers round half to even, as the database rounds a fraction stored into an integer column.
template <class Int>
Int wholeFor(const Variant &value, Kind columnKind)
{
    switch (value.kind()) {
    case Kind::Byte:
    case Kind::Integer:
    case Kind::Long:
    case Kind::Boolean: {
        const std::int64_t whole = value.toLong();
        if (whole < std::numeric_limits<Int>::min() || whole > std::numeric_limits<Int>::max())
            throw overflow(QString::number(whole), columnKind);
        return static_cast<Int>(whole);
    }
    default: break;
    }
    const double number = numberFor(value, columnKind);
    const double whole = std::nearbyint(number);
    if (whole < std::numeric_limits<Int>::min() || whole > std::numeric_limits<Int>::max())
        throw overflow(numberText(number), columnKind);
    return static_cast<Int>(whole);
}

QString textFor(const Variant &value)
{
    switch (value.kind()) {
    case Kind::Text: return value.toText();
    case Kind::Byte:
    case Kind::Integer:
    case Kind::Long: return QString::number(value.toLong());
    case Kind::Single: return numberText(value.toSingle());
    case Kind::Double: return numberText(value.toDouble());
    case Kind::Date: return value.toDate().toIso();
    case Kind::Boolean: return value.toBoolean() ? QStringLiteral("True") : QStringLiteral("False");
    default: mismatch(value, Kind::Text);
    }
}

bool booleanFor(const Variant &value)
{
    if (value.kind() == Kind::Text) {
        const QString text = value.toText().trimmed();
        for (const char *yes : {"true", "yes", "on"})
            if (text.compare(QLatin1String(yes), Qt::CaseInsensitive) == 0)
                return true;
        for (const char *no : {"false", "no", "off"})
            if (text.compare(QLatin1String(no), Qt::CaseInsensitive) == 0)
                return false;
    }
    return numberFor(value, Kind::Boolean) != 0;
}

} // namespace

Variant toColumnKind(const Variant &value, Kind columnKind)
{
    if (value.isNull() || value.isEmpty())
        return Variant::ofNull();
    switch (columnKind) {
    case Kind::Empty:
    case Kind::Null:
        // The engine would store a NaN as Null: refused like any other number the column cannot hold.
        if (value.isNumber())
            numberFor(value, value.kind());
        return value;
    case Kind::Byte: return Variant::ofByte(wholeFor<std::uint8_t>(value, columnKind));
    case Kind::Integer: return Variant::ofInteger(wholeFor<std::int16_t>(value, columnKind));
    case Kind::Long: return Variant::ofLong(wholeFor<std::int32_t>(value, columnKind));
    case Kind::Single: {
        const double number = numberFor(value, columnKind);
        if (std::fabs(number) > std::numeric_limits<float>::max())
            throw overflow(numberText(number), columnKind);
        return value.kind() == Kind::Single ? value : Variant::ofSingle(static_cast<float>(number));
    }
    case Kind::Double: return Variant::ofDouble(numberFor(value, columnKind));
    case Kind::Date:
        if (value.kind() == Kind::Date)
            return value;
        if (value.kind() == Kind::Text) {
            if (const auto date = parseDate(value.toText()))
                return Variant::ofDate(*date);
            mismatch(value, columnKind, QStringLiteral(" \"%1\" is not a date and").arg(value.toText().left(40)));
        }
        mismatch(value, columnKind);
    case Kind::Text: return Variant::ofText(textFor(value));
    case Kind::Boolean: return Variant::ofBoolean(booleanFor(value));
    }
    mismatch(value, columnKind);
}

namespace {

Variant naturalValue(sqlite3_stmt *statement, int column)
{
    switch (sqlite3_column_type(statement, column)) {
    case SQLITE_NULL: return Variant::ofNull();
    case SQLITE_INTEGER: {
        const sqlite3_int64 number = sqlite3_column_int64(statement, column);
        if (number >= std::numeric_limits<std::int32_t>::min() && number <= std::numeric_limits<std::int32_t>::max())
            return Variant::ofLong(static_cast<std::int32_t>(number));
        return Variant::ofDouble(static_cast<double>(number));
    }
    case SQLITE_FLOAT: return Variant::ofDouble(sqlite3_column_double(statement, column));
    default: {
        // Text, and anything else as the engine reads it as text.
        const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(statement, column));
        return Variant::ofText(QString::fromUtf8(text, sqlite3_column_bytes(statement, column)));
    }
    }
}

void bindValue(const Database &database, sqlite3_stmt *statement, int parameter, const Variant &value)
{
    int rc = SQLITE_OK;
    switch (value.kind()) {
    case Kind::Empty:
    case Kind::Null: rc = sqlite3_bind_null(statement, parameter); break;
    case Kind::Byte:
    case Kind::Integer:
    case Kind::Long:
    case Kind::Boolean: rc = sqlite3_bind_int64(statement, parameter, value.toLong()); break;
    case Kind::Single:
    case Kind::Double: rc = sqlite3_bind_double(statement, parameter, value.toDouble()); break;
    case Kind::Date: {
        const QByteArray text = value.toDate().toIso().toUtf8();
        rc = sqlite3_bind_text(statement, parameter, text.constData(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        break;
    }
    case Kind::Text: {
        const QByteArray text = value.toText().toUtf8();
        rc = sqlite3_bind_text(statement, parameter, text.constData(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        break;
    }
    }
    if (rc != SQLITE_OK)
        throw engineFailure(database.handle(), rc, QStringLiteral("binding a value"));
}

// What the query reads, as the engine reports it while preparing.
struct QueryShape {
    QString table;
    bool oneTable = true;
    int selects = 0;
    bool pragma = false;
};

int watchShape(void *shape, int action, const char *table, const char *, const char *database, const char *)
{
    auto *seen = static_cast<QueryShape *>(shape);
    if (action == SQLITE_PRAGMA)
        seen->pragma = true;
    if (action == SQLITE_SELECT)
        ++seen->selects;
    if (action == SQLITE_READ && table) {
        const QString name = QString::fromUtf8(table);
        if (database && qstrcmp(database, "main") != 0)
            seen->oneTable = false;
        else if (seen->table.isEmpty())
            seen->table = name;
        else if (seen->table != name)
            seen->oneTable = false;
    }
    return SQLITE_OK;
}

// Whether the query names one of the keywords outside quotes and comments.
bool mentionsKeyword(const QString &sql, std::initializer_list<QStringView> keywords)
{
    const qsizetype size = sql.size();
    qsizetype i = 0;
    while (i < size) {
        const QChar c = sql[i];
        if (c == u'\'' || c == u'"' || c == u'`' || c == u'[') {
            const QChar close = c == u'[' ? QChar(u']') : c;
            ++i;
            while (i < size) {
                if (sql[i++] != close)
                    continue;
                if (close != u']' && i < size && sql[i] == close) {
                    ++i; // a doubled quote stands for itself
                    continue;
                }
                break;
            }
        } else if (c == u'-' && i + 1 < size && sql[i + 1] == u'-') {
            while (i < size && sql[i] != u'\n')
                ++i;
        } else if (c == u'/' && i + 1 < size && sql[i + 1] == u'*') {
            const qsizetype end = sql.indexOf(QStringLiteral("*/"), i + 2);
            i = end < 0 ? size : end + 2;
        } else if (c.isLetter() || c == u'_') {
            const qsizetype start = i;
            while (i < size && (sql[i].isLetterOrNumber() || sql[i] == u'_' || sql[i] == u'$'))
                ++i;
            const QStringView word = QStringView(sql).mid(start, i - start);
            for (const QStringView keyword : keywords)
                if (word.compare(keyword, Qt::CaseInsensitive) == 0)
                    return true;
        } else {
            ++i;
        }
    }
    return false;
}

std::optional<QString> rowidNameFor(const Database &database, const QString &table)
{
    Statement info = database.prepare(QStringLiteral("SELECT name FROM pragma_table_info(?)"), QStringLiteral("reading the table"));
    const QByteArray name = table.toUtf8();
    sqlite3_bind_text(info.get(), 1, name.constData(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
    QStringList columns;
    while (sqlite3_step(info.get()) == SQLITE_ROW)
        columns << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(info.get(), 0)));
    for (const char *candidate : {"rowid", "_rowid_", "oid"})
        if (!columns.contains(QLatin1String(candidate), Qt::CaseInsensitive))
            return QString::fromLatin1(candidate);
    return std::nullopt;
}

} // namespace

// ---- cursor ------------------------------------------------------------------------------------

std::shared_ptr<Cursor> Cursor::create(std::shared_ptr<Database> database, const QString &query)
{
    sqlite3 *db = database->handle();
    database->armDeadline();
    const QByteArray sql = query.toUtf8();
    QueryShape shape;
    sqlite3_set_authorizer(db, watchShape, &shape);
    sqlite3_stmt *raw = nullptr;
    const char *tail = nullptr;
    const int rc = sqlite3_prepare_v2(db, sql.constData(), static_cast<int>(sql.size()), &raw, &tail);
    sqlite3_set_authorizer(db, nullptr, nullptr);
    Statement plain(raw);
    if (rc != SQLITE_OK)
        throw engineFailure(db, rc, QStringLiteral("running the query"));
    if (!plain)
        throw Failure(ErrorCode::TypeMismatch, QStringLiteral("The query is empty"));
    // What follows the query may be blanks and comments, but no second statement. A pragma can
    // change the connection or the file (locking_mode, optimize) although the engine counts some as
    // reading only.
    bool more = false;
    const char *end = sql.constData() + sql.size();
    while (!more && tail && tail < end) {
        sqlite3_stmt *next = nullptr;
        const int nextRc = sqlite3_prepare_v2(db, tail, static_cast<int>(end - tail), &next, &tail);
        more = nextRc != SQLITE_OK || next != nullptr;
        sqlite3_finalize(next);
    }
    if (more || shape.pragma || !sqlite3_stmt_readonly(plain.get()) || sqlite3_column_count(plain.get()) == 0)
        throw Failure(ErrorCode::TypeMismatch, QStringLiteral("A recordset takes one query that only reads: %1").arg(query.left(200)));

    // A query of one table gets the rowid delivered first, so that a save writes exactly its row.
    Statement withRowid;
    QByteArray rewritten;
    std::optional<QString> rowidName;
    static const QRegularExpression plainSelect(QStringLiteral(R"(^\s*select\s+(?!distinct\b|all\b))"),
                                                QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch select = plainSelect.match(query);
    if (shape.oneTable && shape.selects == 1 && !shape.table.isEmpty() && select.hasMatch()
        // A row of a grouping query stands for many rows of the table, and a bare column of it
        // names none of them.
        && !mentionsKeyword(query, {u"GROUP", u"HAVING"})
        && (rowidName = rowidNameFor(*database, shape.table))) {
        rewritten = (QStringLiteral("SELECT %1, ").arg(*rowidName) + query.mid(select.capturedLength())).toUtf8();
        raw = nullptr;
        if (sqlite3_prepare_v2(db, rewritten.constData(), static_cast<int>(rewritten.size()), &raw, nullptr) == SQLITE_OK)
            withRowid.reset(raw);
        else
            sqlite3_finalize(raw);
    }
    if (withRowid) {
        const int count = sqlite3_column_count(withRowid.get());
        for (int i = 1; i < count && withRowid; ++i) {
            const char *table = sqlite3_column_table_name(withRowid.get(), i);
            const char *origin = sqlite3_column_origin_name(withRowid.get(), i);
            if (!table || !origin || QString::fromUtf8(table) != shape.table)
                withRowid.reset();
        }
    }

    const bool updatable = static_cast<bool>(withRowid);
    std::shared_ptr<Cursor> cursor(new Cursor(database, updatable ? std::move(withRowid) : std::move(plain)));
    sqlite3_stmt *statement = cursor->m_statement.get();
    cursor->m_updatable = updatable;
    cursor->m_firstColumn = updatable ? 1 : 0;
    if (updatable) {
        cursor->m_table = shape.table;
        cursor->m_rowidName = *rowidName;
        // Without an ordering of its own, a plain scan delivers the rows in rising rowid order.
        if (!mentionsKeyword(query, {u"ORDER"}))
            cursor->m_rowidQuery = rewritten;
    }
    for (int i = cursor->m_firstColumn; i < sqlite3_column_count(statement); ++i) {
        const char *origin = sqlite3_column_origin_name(statement, i);
        cursor->m_columns.push_back({QString::fromUtf8(sqlite3_column_name(statement, i)),
                                     origin ? QString::fromUtf8(origin) : QString(),
                                     kindOfDeclaredType(sqlite3_column_decltype(statement, i))});
    }
    database->registerCursor(cursor);
    cursor->m_bof = cursor->m_eof = !cursor->step();
    return cursor;
}

bool Cursor::step()
{
    const int rc = sqlite3_step(m_statement.get());
    if (rc == SQLITE_ROW) {
        m_live = true;
        readRow();
        return true;
    }
    m_live = false;
    sqlite3_reset(m_statement.get());
    if (rc != SQLITE_DONE)
        throw engineFailure(m_database->handle(), rc, QStringLiteral("reading a row"));
    return false;
}

void Cursor::readRow()
{
    sqlite3_stmt *statement = m_statement.get();
    if (m_updatable)
        m_rowid = sqlite3_column_int64(statement, 0);
    m_row.resize(m_columns.size());
    for (int i = 0; i < columnCount(); ++i)
        m_row[i] = naturalValue(statement, i + m_firstColumn);
}

void Cursor::refetch(std::int64_t rowid)
{
    QStringList names;
    for (const ColumnInfo &column : m_columns)
        names << quoteIdentifier(column.origin);
    Statement row = m_database->prepare(QStringLiteral("SELECT %1 FROM %2 WHERE %3 = ?")
                                            .arg(names.join(QStringLiteral(", ")), quoteIdentifier(m_table), m_rowidName),
                                        QStringLiteral("reading the saved row"));
    sqlite3_bind_int64(row.get(), 1, rowid);
    const int rc = sqlite3_step(row.get());
    if (rc == SQLITE_DONE)
        throw Failure(ErrorCode::NoCurrentRecord, QStringLiteral("The row no longer exists in table %1").arg(m_table));
    if (rc != SQLITE_ROW)
        throw engineFailure(m_database->handle(), rc, QStringLiteral("reading the saved row"));
    m_rowid = rowid;
    m_row.resize(m_columns.size());
    for (int i = 0; i < columnCount(); ++i)
        m_row[i] = naturalValue(row.get(), i);
}

void Cursor::checkOpen() const
{
    if (!m_open)
        throw Failure(ErrorCode::ObjectClosed, QStringLiteral("Operation is not allowed when the recordset is closed"));
    if (!m_database->isOpen())
        throw Failure(ErrorCode::ObjectClosed, QStringLiteral("Operation is not allowed when the connection is closed"));
}

void Cursor::checkUpdatable() const
{
    if (!m_updatable)
        throw Failure(ErrorCode::NotUpdatable,
                      QStringLiteral("The recordset cannot be changed: its rows are not rows of one table that can be saved"));
}

void Cursor::checkCurrentRow() const
{
    if (m_edit != Edit::New && (m_bof || m_eof))
        throw Failure(ErrorCode::NoCurrentRecord, QStringLiteral("Either BOF or EOF is True: there is no current row"));
}

void Cursor::checkNoPendingEdit() const
{
    if (m_edit != Edit::None)
        throw Failure(ErrorCode::NotUpdatable, QStringLiteral("The current row has unsaved changes: call Update first"));
}

const ColumnInfo &Cursor::column(int index) const
{
    checkOpen();
    if (index < 0 || index >= columnCount())
        throw Failure(ErrorCode::ItemNotFound,
                      QStringLiteral("Item cannot be found: no field at position %1 of %2").arg(index).arg(columnCount()));
    return m_columns[index];
}

int Cursor::indexOf(const QString &name) const
{
    checkOpen();
    for (int i = 0; i < columnCount(); ++i)
        if (m_columns[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    throw Failure(ErrorCode::ItemNotFound, QStringLiteral("Item cannot be found: no field named '%1'").arg(name));
}

Failure Cursor::fieldFailure(const Failure &failure, int index) const
{
    return Failure(failure.number(), QStringLiteral("%1 (field '%2')").arg(failure.description(), m_columns[index].name));
}

Variant Cursor::value(int index) const
{
    const ColumnInfo &info = column(index);
    checkCurrentRow();
    if (const auto pending = m_pending.find(index); pending != m_pending.end())
        return pending->second;
    if (m_edit == Edit::New)
        return Variant::ofNull();
    try {
        return toColumnKind(m_row[index], info.kind);
    } catch (const Failure &failure) {
        throw fieldFailure(failure, index);
    }
}

void Cursor::setValue(int index, const Variant &value)
{
    const ColumnInfo &info = column(index);
    checkUpdatable();
    checkCurrentRow();
    Variant converted;
    try {
        converted = toColumnKind(value, info.kind);
    } catch (const Failure &failure) {
        throw fieldFailure(failure, index);
    }
    m_pending[index] = std::move(converted);
    if (m_edit == Edit::None)
        m_edit = Edit::Change;
}

void Cursor::moveLast()
{
    checkOpen();
    m_database->armDeadline();
    checkNoPendingEdit();
    if (m_bof && m_eof)
        throw Failure(ErrorCode::NoCurrentRecord, QStringLiteral("Either BOF or EOF is True: the recordset has no rows"));
    if (!m_live) {
        // Start the query again: after a save, or once it was read to its end.
        if (!step()) {
            m_bof = m_eof = true;
            throw Failure(ErrorCode::NoCurrentRecord, QStringLiteral("Either BOF or EOF is True: the recordset has no rows"));
        }
    }
    sqlite3_stmt *statement = m_statement.get();
    if (const auto last = m_updatable ? lastRowidOfPlainScan() : std::nullopt) {
        m_live = false;
        sqlite3_reset(statement);
        if (*last != m_rowid)
            refetch(*last);
    } else if (m_updatable) {
        // Only the rowid of each row is read on the way; the last row is fetched once at the end,
        // so that the time and memory of the walk do not depend on the rows' contents.
        std::int64_t last = m_rowid;
        int rc;
        while ((rc = sqlite3_step(statement)) == SQLITE_ROW)
            last = sqlite3_column_int64(statement, 0);
        m_live = false;
        sqlite3_reset(statement);
        if (rc != SQLITE_DONE)
            throw engineFailure(m_database->handle(), rc, QStringLiteral("moving to the last row"));
        if (last != m_rowid)
            refetch(last);
    } else {
        while (m_live)
            step();
        // step() left the last row read; the statement has ended.
    }
    m_bof = m_eof = false;
}

// A plain scan of one rowid table delivers its rows in rising rowid order, so the last row
// delivered is the one with the highest rowid among those the query keeps; the engine finds that
// one by reading the table backwards, where walking every row would take time in proportion to
// the table. Asked while the statement still stands on a row, it sees the same rows as the walk.
// nullopt whenever the query orders its rows or the plan is anything else (an index, a temporary
// table), and the walk decides.
std::optional<std::int64_t> Cursor::lastRowidOfPlainScan() const
{
    if (m_rowidQuery.isEmpty())
        return std::nullopt;
    sqlite3 *db = m_database->handle();
    const QByteArray explain = QByteArrayLiteral("EXPLAIN QUERY PLAN ") + m_rowidQuery;
    sqlite3_stmt *raw = nullptr;
    if (sqlite3_prepare_v2(db, explain.constData(), static_cast<int>(explain.size()), &raw, nullptr) != SQLITE_OK) {
        sqlite3_finalize(raw);
        return std::nullopt;
    }
    Statement plan(raw);
    QStringList steps;
    while (sqlite3_step(plan.get()) == SQLITE_ROW)
        steps << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(plan.get(), 3)));
    static const QRegularExpression plainScan(QStringLiteral(R"(^SCAN \S+$)"));
    if (steps.size() != 1 || !plainScan.match(steps.first()).hasMatch())
        return std::nullopt;

    const QByteArray last = QByteArrayLiteral("SELECT * FROM (") + m_rowidQuery + QByteArrayLiteral("\n) ORDER BY 1 DESC LIMIT 1");
    raw = nullptr;
    if (sqlite3_prepare_v2(db, last.constData(), static_cast<int>(last.size()), &raw, nullptr) != SQLITE_OK) {
        sqlite3_finalize(raw);
        return std::nullopt;
    }
    Statement highest(raw);
    const int rc = sqlite3_step(highest.get());
    if (rc == SQLITE_ROW)
        return sqlite3_column_int64(highest.get(), 0);
    if (rc != SQLITE_DONE)
        throw engineFailure(db, rc, QStringLiteral("moving to the last row"));
    return std::nullopt;
}

void Cursor::addNew()
{
    checkOpen();
    checkUpdatable();
    checkNoPendingEdit();
    m_edit = Edit::New;
    m_pending.clear();
}

void Cursor::update()
{
    checkOpen();
    m_database->armDeadline();
    checkCurrentRow();
    if (m_edit == Edit::None || (m_edit == Edit::Change && m_pending.empty())) {
        m_edit = Edit::None;
        return;
    }
    checkUpdatable();

    QStringList names;
    for (const auto &[index, value] : m_pending)
        names << quoteIdentifier(m_columns[index].origin);
    // The saved row comes back from the same statement, as the file now holds it, and by its rowid
    // even when the save changed that (a new key in an INTEGER PRIMARY KEY column).
    QStringList saved{m_rowidName};
    for (const ColumnInfo &column : m_columns)
        saved << quoteIdentifier(column.origin);
    QString sql;
    if (m_edit == Edit::New) {
        sql = names.isEmpty() ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(quoteIdentifier(m_table))
                              : QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                    .arg(quoteIdentifier(m_table), names.join(QStringLiteral(", ")),
                                         QStringList(names.size(), QStringLiteral("?")).join(QStringLiteral(", ")));
    } else {
        for (QString &name : names)
            name += QStringLiteral(" = ?");
        sql = QStringLiteral("UPDATE %1 SET %2 WHERE %3 = ?")
                  .arg(quoteIdentifier(m_table), names.join(QStringLiteral(", ")), m_rowidName);
    }
    sql += QStringLiteral(" RETURNING ") + saved.join(QStringLiteral(", "));

    // A read still in progress would hold the write back in an open transaction.
    m_database->suspendReaders();
    Statement write = m_database->prepare(sql, QStringLiteral("saving the row"));
    int parameter = 0;
    for (const auto &[index, value] : m_pending)
        bindValue(*m_database, write.get(), ++parameter, value);
    if (m_edit == Edit::Change)
        sqlite3_bind_int64(write.get(), ++parameter, m_rowid);
    int rc = sqlite3_step(write.get());
    if (rc == SQLITE_DONE)
        throw Failure(ErrorCode::NoCurrentRecord, QStringLiteral("The row no longer exists in table %1").arg(m_table));
    if (rc != SQLITE_ROW)
        throw engineFailure(m_database->handle(), rc, QStringLiteral("saving the row"));
    const std::int64_t rowid = sqlite3_column_int64(write.get(), 0);
    std::vector<Variant> row(m_columns.size());
    for (int i = 0; i < columnCount(); ++i)
        row[i] = naturalValue(write.get(), i + 1);
    // The statement's end commits the save; a failure there (another program's lock) undoes it,
    // and the changes stay to be saved again.
    rc = sqlite3_step(write.get());
    if (rc != SQLITE_DONE)
        throw engineFailure(m_database->handle(), rc, QStringLiteral("saving the row"));
    write.reset();

    m_edit = Edit::None;
    m_pending.clear();
    m_rowid = rowid;
    m_row = std::move(row);
    m_bof = m_eof = false;
}

void Cursor::suspend() noexcept
{
    if (m_live && m_statement) {
        sqlite3_reset(m_statement.get());
        m_live = false;
    }
}

void Cursor::close() noexcept
{
    m_statement.reset();
    m_open = false;
    m_live = false;
    m_row.clear();
    m_pending.clear();
    m_edit = Edit::None;
}

// ---- the public handles ------------------------------------------------------------------------

Recordset::Recordset(std::shared_ptr<Cursor> cursor) : m_cursor(std::move(cursor)) {}

Recordset::~Recordset()
{
    // Released without Close: the statement goes, nothing unsaved is written.
    m_cursor->close();
}

const std::shared_ptr<Cursor> &Recordset::open() const
{
    m_cursor->checkOpen();
    return m_cursor;
}

FieldCollection Recordset::Fields() const { return FieldCollection(open()); }
bool Recordset::isBOF() const { return open()->isBOF(); }
bool Recordset::isEOF() const { return open()->isEOF(); }
std::int32_t Recordset::State() const { return m_cursor->isOpen() ? Open : Closed; }
bool Recordset::isUpdatable() const { return open()->isUpdatable(); }
void Recordset::MoveLast() { open()->moveLast(); }
void Recordset::AddNew() { open()->addNew(); }
void Recordset::Update() { open()->update(); }

void Recordset::Close()
{
    open()->close();
}

std::shared_ptr<Cursor> FieldCollection::cursor() const
{
    auto cursor = m_cursor.lock();
    if (!cursor)
        throw Failure(ErrorCode::ObjectClosed, QStringLiteral("Operation is not allowed: the recordset was released"));
    cursor->checkOpen();
    return cursor;
}

int FieldCollection::Count() const { return cursor()->columnCount(); }

Field FieldCollection::Item(int position) const
{
    cursor()->column(position);
    return Field(m_cursor, position);
}

Field FieldCollection::Item(const QString &name) const { return Field(m_cursor, cursor()->indexOf(name)); }

std::shared_ptr<Cursor> Field::cursor() const
{
    auto cursor = m_cursor.lock();
    if (!cursor)
        throw Failure(ErrorCode::ObjectClosed, QStringLiteral("Operation is not allowed: the recordset was released"));
    cursor->checkOpen();
    return cursor;
}

QString Field::Name() const { return cursor()->column(m_index).name; }
Kind Field::ColumnKind() const { return cursor()->column(m_index).kind; }
Variant Field::Value() const { return cursor()->value(m_index); }
void Field::setValue(const Variant &value) { cursor()->setValue(m_index, value); }

} // namespace olbra
