#pragma once
// The database layer's inner workings, shared by DataConnection and Recordset; not for callers.

#include "Failure.h"
#include "Variant.h"

#include <QString>

#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace olbra {

struct StatementFinalizer {
    void operator()(sqlite3_stmt *statement) const noexcept { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

/// A refusal of the engine as the program's failure, with the engine's own message.
Failure engineFailure(sqlite3 *db, int resultCode, const QString &doing);

QString quoteIdentifier(const QString &name);

/// A column's kind from its declared type; Empty when the type names none of ours.
Kind kindOfDeclaredType(const char *declaredType);

/// Converts a value the way a database stores it in a column of that kind (Empty: as it is).
Variant toColumnKind(const Variant &value, Kind columnKind);

class Cursor;

/// One open product database, shared by the connection and its recordsets.
class Database {
public:
    Database(sqlite3 *handle, QString path);
    ~Database() { close(); }
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    bool isOpen() const { return m_handle != nullptr; }
    sqlite3 *handle() const;
    const QString &path() const { return m_path; }

    Statement prepare(const QString &sql, const QString &doing) const;
    /// Starts the time that one request of the program may take in the engine; past it, the
    /// statement running is interrupted, so that a hostile file (an endless view or trigger)
    /// cannot hang the program.
    void armDeadline();
    void setStatementTimeout(int milliseconds) { m_statementTimeout = std::chrono::milliseconds(milliseconds); }
    std::chrono::milliseconds statementTimeout() const { return m_statementTimeout; }
    void registerCursor(const std::shared_ptr<Cursor> &cursor);
    /// Ends every read in progress, so that the next write commits as soon as it is done.
    void suspendReaders();
    void close() noexcept;

private:
    static int onProgress(void *database);

    sqlite3 *m_handle;
    QString m_path;
    std::vector<std::weak_ptr<Cursor>> m_cursors;
    std::chrono::milliseconds m_statementTimeout{30000};
    std::chrono::steady_clock::time_point m_deadline = std::chrono::steady_clock::time_point::max();
};

struct ColumnInfo {
    QString name;   // as the query names it
    QString origin; // the table's column it comes from (updatable recordsets only)
    Kind kind;
};

/// The state behind a Recordset: one statement read row by row, the current row, and its edits.
class Cursor {
public:
    static std::shared_ptr<Cursor> create(std::shared_ptr<Database> database, const QString &query);

    bool isOpen() const { return m_open; }
    void checkOpen() const;
    bool isBOF() const { return m_bof; }
    bool isEOF() const { return m_eof; }
    bool isUpdatable() const { return m_updatable; }

    int columnCount() const { return static_cast<int>(m_columns.size()); }
    const ColumnInfo &column(int index) const;
    int indexOf(const QString &name) const;

    Variant value(int index) const;
    void setValue(int index, const Variant &value);
    void moveLast();
    void addNew();
    void update();
    void close() noexcept;
    void suspend() noexcept;

private:
    enum class Edit { None, Change, New };

    Cursor(std::shared_ptr<Database> database, Statement statement) : m_database(std::move(database)), m_statement(std::move(statement)) {}
    bool step();
    void readRow();
    void refetch(std::int64_t rowid);
    void checkUpdatable() const;
    void checkCurrentRow() const;
    void checkNoPendingEdit() const;
    std::optional<std::int64_t> lastRowidOfPlainScan() const;
    Failure fieldFailure(const Failure &failure, int index) const;

    std::shared_ptr<Database> m_database;
    Statement m_statement;
    bool m_open = true;
    std::vector<ColumnInfo> m_columns;
    int m_firstColumn = 0; // 1 when the statement delivers the rowid first
    bool m_updatable = false;
    QString m_table;
    QString m_rowidName;
    QByteArray m_rowidQuery; // the query with the rowid first, when it may deliver in rowid order

    bool m_bof = true;
    bool m_eof = true;
    bool m_live = false; // the statement stands on a row and more may follow
    std::vector<Variant> m_row;
    std::int64_t m_rowid = 0;
    Edit m_edit = Edit::None;
    std::map<int, Variant> m_pending;
};

} // namespace olbra
