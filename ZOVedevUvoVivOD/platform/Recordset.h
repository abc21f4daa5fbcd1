#pragma once

#include "Failure.h"
#include "Variant.h"

#include <QString>

#include <cstdint>
#include <memory>

namespace olbra {

class Cursor;
class Recordset;

/// One column of the current row. A handle: it does not keep the recordset alive, and using it
/// after the recordset is closed or released fails.
class Field {
public:
    QString Name() const;
    /// The column's kind, from its declared type; Empty when the column has none.
    Kind ColumnKind() const;
    /// The current row's value: what was written and not yet saved, else what the row holds.
    Variant Value() const;
    /// Converts to the column's kind at once; a value the column cannot take is refused here.
    void setValue(const Variant &value);

private:
    friend class FieldCollection;
    Field(std::weak_ptr<Cursor> cursor, int index) : m_cursor(std::move(cursor)), m_index(index) {}
    std::shared_ptr<Cursor> cursor() const;

    std::weak_ptr<Cursor> m_cursor;
    int m_index;
};

/// The columns of a recordset, by name (case-insensitive) or by position counted from 0.
class FieldCollection {
public:
    int Count() const;
    Field Item(int position) const;
    Field Item(const QString &name) const;
    Field Item(const char *name) const { return Item(QString::fromUtf8(name)); }

private:
    friend class Recordset;
    explicit FieldCollection(std::weak_ptr<Cursor> cursor) : m_cursor(std::move(cursor)) {}
    std::shared_ptr<Cursor> cursor() const;

    std::weak_ptr<Cursor> m_cursor;
};

/// The rows of one query, read one at a time as the database delivers them. A recordset of a
/// query on one table can be changed and saved; any other is read-only.
class Recordset {
public:
    enum StateValue : std::int32_t { Closed = 0, Open = 1 };

    explicit Recordset(std::shared_ptr<Cursor> cursor);
    ~Recordset();
    Recordset(const Recordset &) = delete;
    Recordset &operator=(const Recordset &) = delete;

    FieldCollection Fields() const;
    // EOF is a macro of the C library, hence the "is" on both ends of the row range.
    bool isBOF() const;
    bool isEOF() const;
    std::int32_t State() const;
    bool isUpdatable() const;

    /// Moves to the last row in the order of delivery. Refused while changes are unsaved.
    void MoveLast();
    /// Starts a new row; only the fields then set are written, the others take the table's defaults.
    void AddNew();
    /// Saves the new or changed current row; committed when it returns.
    void Update();
    void Close();

private:
    const std::shared_ptr<Cursor> &open() const;
    std::shared_ptr<Cursor> m_cursor;
};

} // namespace olbra
