#pragma once

#include "Variant.h"

#include <QString>
#include <QVariant>

#include <sqlite3.h>

/// A product database file made for one test from SQL text, read back with plain SQL through a
/// connection of its own (not the program's).
class TestDatabase {
public:
    /// Creates (or overwrites) the file at path and runs the SQL on it.
    TestDatabase(const QString &path, const QString &sql);
    ~TestDatabase();
    TestDatabase(const TestDatabase &) = delete;
    TestDatabase &operator=(const TestDatabase &) = delete;

    const QString &path() const { return m_path; }
    /// Runs statements; fails the test (throws) on an error.
    void exec(const QString &sql) const;
    /// The first column of the first row of a query, as SQLite returns it (QVariant() for NULL or
    /// no row): qlonglong, double, QString.
    QVariant scalar(const QString &sql) const;
    /// typeof() of the first column of the first row.
    QString storageClass(const QString &sql) const;

    /// The demo schema and data as the repository ships them.
    static QString demoSql();
    /// Reads a file of tests/data.
    static QString dataFile(const QString &name);

private:
    QString m_path;
    sqlite3 *m_db = nullptr;
};
