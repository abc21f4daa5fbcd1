#pragma once

#include <QList>
#include <QString>

#include <sqlite3.h>

#include <optional>

/// A file system for the database engine that passes every call on to the default one and, once
/// armed, counts the file operations and makes the Nth one go wrong. It registers itself as the
/// default for its lifetime, so that every connection opened meanwhile goes through it; such
/// connections must be closed before it goes.
///
/// Counted operations: Open, Delete, Access, Read, Write, Truncate, Sync, FileSize, Lock, Unlock
/// and CheckReservedLock. Closing a file is never counted: the engine cannot act on its failure.
class FaultVfs {
public:
    enum class Fault {
        /// The Nth operation fails with the engine's code for its kind; later ones succeed.
        FailOnce,
        /// The Nth operation and every one after it fail: the disk has gone.
        FailFromThen,
        /// Only locks are counted: the Nth lock and every later one are refused as busy, as when
        /// another program takes the file and keeps it.
        BusyFromThen,
        /// The process is killed with SIGKILL just before the Nth operation would run.
        Kill,
    };

    struct Injection {
        QString operation; // "Write", "Sync", ...
        QString file;      // "database", "journal", ...
        int code;          // the result code handed to the engine
    };

    FaultVfs();
    ~FaultVfs();
    FaultVfs(const FaultVfs &) = delete;
    FaultVfs &operator=(const FaultVfs &) = delete;

    /// Starts counting from zero; the target'th counted operation is the first that goes wrong.
    void arm(Fault fault, int target);
    /// Stops counting and injecting; files stay open and work as usual.
    void disarm();

    /// Counted operations since arm().
    int counted() const { return m_counted; }
    /// The first operation that was made to fail, if any.
    const std::optional<Injection> &firstInjection() const { return m_first; }
    /// The result codes of every operation that was made to fail since arm().
    const QList<int> &injectedCodes() const { return m_codes; }

    /// The engine's result code with which a failed operation of that kind is reported.
    static int failureCode(const QString &operation, Fault fault);
    /// The name under which it is registered.
    static const char *name() { return "olbra-fault"; }

private:
    friend struct FaultVfsCalls;
    int intercept(const char *operation, const char *file);
    bool busyForGood() const { return m_armed && m_fault == Fault::BusyFromThen && m_first.has_value(); }

    sqlite3_vfs m_vfs{};
    sqlite3_vfs *m_real = nullptr;
    bool m_armed = false;
    Fault m_fault = Fault::FailOnce;
    int m_target = 0;
    int m_counted = 0;
    std::optional<Injection> m_first;
    QList<int> m_codes;
};
