#pragma once

#include "Failure.h"
#include "Recordset.h"
#include "Variant.h"

#include <QString>

#include <memory>

namespace olbra {

class Database;

/// The product's data connection: names the database file, opens it, and hands out recordsets.
/// Its members are virtual so that a stand-in can take its place.
class DataConnection {
public:
    DataConnection();
    virtual ~DataConnection();
    DataConnection(const DataConnection &) = delete;
    DataConnection &operator=(const DataConnection &) = delete;

    /// Used by the next OpenConnection.
    virtual void setDataFile(const QString &path);
    /// A missing name, file or a folder leaves IsConnected false; a file that is not a usable
    /// product database raises a failure that names it.
    virtual void OpenConnection();
    virtual bool IsConnected() const;
    /// True when a database was open and is now closed.
    virtual Variant CloseConnection();
    virtual Ref<Recordset> GetRecordset(const QString &query);

    /// How long a write waits for another program's lock before it fails; applies to the open
    /// database too.
    void setBusyTimeout(int milliseconds);
    /// How long one request may keep the engine busy before it is interrupted and fails.
    void setStatementTimeout(int milliseconds);
    /// The largest text or value the connection takes or gives.
    static constexpr int MaxValueBytes = 16 * 1024 * 1024;

    /// The product database's file name.
    static QString fileName() { return QStringLiteral("OLBRAData.mdb"); }

private:
    QString m_dataFile;
    std::shared_ptr<Database> m_database;
    int m_busyTimeoutMs = 5000;
    int m_statementTimeoutMs = 30000;
};

} // namespace olbra
