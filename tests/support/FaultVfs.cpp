#include "FaultVfs.h"

#include <QByteArray>

#include <csignal>
#include <stdexcept>

namespace {

// A file opened through the fault VFS: the engine sees this header; the default VFS's own file
// object lives right behind it.
struct ShimFile {
    sqlite3_file base;
    FaultVfs *owner;
    const char *kind;
    sqlite3_file *real;
};

constexpr int headerSize = (sizeof(ShimFile) + 7) & ~7;

ShimFile *shim(sqlite3_file *file) { return reinterpret_cast<ShimFile *>(file); }

const char *kindOfOpen(int flags)
{
    if (flags & SQLITE_OPEN_MAIN_DB)
        return "database";
    if (flags & SQLITE_OPEN_MAIN_JOURNAL)
        return "journal";
    if (flags & SQLITE_OPEN_WAL)
        return "write-ahead log";
    if (flags & SQLITE_OPEN_SUBJOURNAL)
        return "statement journal";
    if (flags & SQLITE_OPEN_SUPER_JOURNAL)
        return "super-journal";
    return "temporary file";
}

const char *kindOfName(const char *name)
{
    const QByteArray text(name ? name : "");
    if (text.endsWith("-journal"))
        return "journal";
    if (text.endsWith("-wal"))
        return "write-ahead log";
    return "database";
}

} // namespace

// The engine calls these; each one asks the owner whether the operation goes wrong, then passes it
// on to the default VFS.
struct FaultVfsCalls {
    static FaultVfs *owner(sqlite3_vfs *vfs) { return static_cast<FaultVfs *>(vfs->pAppData); }

    static int open(sqlite3_vfs *vfs, sqlite3_filename name, sqlite3_file *file, int flags, int *outFlags)
    {
        FaultVfs *self = owner(vfs);
        ShimFile *wrapper = shim(file);
        wrapper->base.pMethods = nullptr;
        const char *kind = kindOfOpen(flags);
        if (const int code = self->intercept("Open", kind); code != SQLITE_OK)
            return code;
        wrapper->owner = self;
        wrapper->kind = kind;
        wrapper->real = reinterpret_cast<sqlite3_file *>(reinterpret_cast<char *>(file) + headerSize);
        const int rc = self->m_real->xOpen(self->m_real, name, wrapper->real, flags, outFlags);
        // A file the default VFS gave methods to must be closed, even after a failed open.
        if (wrapper->real->pMethods)
            wrapper->base.pMethods = &methods;
        return rc;
    }

    static int remove(sqlite3_vfs *vfs, const char *name, int syncDir)
    {
        FaultVfs *self = owner(vfs);
        if (const int code = self->intercept("Delete", kindOfName(name)); code != SQLITE_OK)
            return code;
        return self->m_real->xDelete(self->m_real, name, syncDir);
    }

    static int access(sqlite3_vfs *vfs, const char *name, int flags, int *result)
    {
        FaultVfs *self = owner(vfs);
        if (const int code = self->intercept("Access", kindOfName(name)); code != SQLITE_OK)
            return code;
        return self->m_real->xAccess(self->m_real, name, flags, result);
    }

    static int fullPathname(sqlite3_vfs *vfs, const char *name, int size, char *out)
    {
        return owner(vfs)->m_real->xFullPathname(owner(vfs)->m_real, name, size, out);
    }
    static void *dlOpen(sqlite3_vfs *vfs, const char *name) { return owner(vfs)->m_real->xDlOpen(owner(vfs)->m_real, name); }
    static void dlError(sqlite3_vfs *vfs, int size, char *out) { owner(vfs)->m_real->xDlError(owner(vfs)->m_real, size, out); }
    static void (*dlSym(sqlite3_vfs *vfs, void *library, const char *symbol))(void)
    {
        return owner(vfs)->m_real->xDlSym(owner(vfs)->m_real, library, symbol);
    }
    static void dlClose(sqlite3_vfs *vfs, void *library) { owner(vfs)->m_real->xDlClose(owner(vfs)->m_real, library); }
    static int randomness(sqlite3_vfs *vfs, int size, char *out) { return owner(vfs)->m_real->xRandomness(owner(vfs)->m_real, size, out); }
    static int sleep(sqlite3_vfs *vfs, int microseconds)
    {
        // A lock that this VFS refuses stays refused however long the engine waits: the wait is
        // counted in full but not spent, so that the busy timeout still runs its course.
        if (owner(vfs)->busyForGood())
            return microseconds;
        return owner(vfs)->m_real->xSleep(owner(vfs)->m_real, microseconds);
    }
    static int currentTime(sqlite3_vfs *vfs, double *now) { return owner(vfs)->m_real->xCurrentTime(owner(vfs)->m_real, now); }
    static int lastError(sqlite3_vfs *vfs, int size, char *out) { return owner(vfs)->m_real->xGetLastError(owner(vfs)->m_real, size, out); }
    static int currentTimeInt64(sqlite3_vfs *vfs, sqlite3_int64 *now)
    {
        return owner(vfs)->m_real->xCurrentTimeInt64(owner(vfs)->m_real, now);
    }

    // ---- file methods ----

    static int check(sqlite3_file *file, const char *operation) { return shim(file)->owner->intercept(operation, shim(file)->kind); }
    static sqlite3_file *real(sqlite3_file *file) { return shim(file)->real; }

    static int close(sqlite3_file *file) { return real(file)->pMethods->xClose(real(file)); }

    static int read(sqlite3_file *file, void *buffer, int amount, sqlite3_int64 offset)
    {
        if (const int code = check(file, "Read"); code != SQLITE_OK)
            return code;
        return real(file)->pMethods->xRead(real(file), buffer, amount, offset);
    }
    static int write(sqlite3_file *file, const void *buffer, int amount, sqlite3_int64 offset)
    {
        if (const int code = check(file, "Write"); code != SQLITE_OK)
            return code;
        return real(file)->pMethods->xWrite(real(file), buffer, amount, offset);
    }
    static int truncate(sqlite3_file *file, sqlite3_int64 size)
    {
        if (const int code = check(file, "Truncate"); code != SQLITE_OK)
            return code;
        return real(file)->pMethods->xTruncate(real(file), size);
    }
    static int sync(sqlite3_file *file, int flags)
    {
        if (const int code = check(file, "Sync"); code != SQLITE_OK)
            return code;
        return real(file)->pMethods->xSync(real(file), flags);
    }
    static int fileSize(sqlite3_file *file, sqlite3_int64 *size)
    {
        if (const int code = check(file, "FileSize"); code != SQLITE_OK)
            return code;
        return real(file)->pMethods->xFileSize(real(file), size);
    }
    static int lock(sqlite3_file *file, int level)
    {
        if (const int code = check(file, "Lock"); code != SQLITE_OK)
            return code;
        return real(file)->pMethods->xLock(real(file), level);
    }
    static int unlock(sqlite3_file *file, int level)
    {
        if (const int code = check(file, "Unlock"); code != SQLITE_OK)
            return code;
        return real(file)->pMethods->xUnlock(real(file), level);
    }
    static int checkReservedLock(sqlite3_file *file, int *result)
    {
        if (const int code = check(file, "CheckReservedLock"); code != SQLITE_OK)
            return code;
        return real(file)->pMethods->xCheckReservedLock(real(file), result);
    }
    static int fileControl(sqlite3_file *file, int operation, void *argument)
    {
        return real(file)->pMethods->xFileControl(real(file), operation, argument);
    }
    static int sectorSize(sqlite3_file *file) { return real(file)->pMethods->xSectorSize(real(file)); }
    static int deviceCharacteristics(sqlite3_file *file) { return real(file)->pMethods->xDeviceCharacteristics(real(file)); }

    // Shared memory and memory mapping are only passed on: the product database uses a rollback
    // journal and no mapping, so they are not where its faults lie.
    static int shmMap(sqlite3_file *file, int region, int size, int extend, void volatile **out)
    {
        const sqlite3_io_methods *m = real(file)->pMethods;
        return m->iVersion >= 2 ? m->xShmMap(real(file), region, size, extend, out) : SQLITE_IOERR_SHMMAP;
    }
    static int shmLock(sqlite3_file *file, int offset, int count, int flags)
    {
        const sqlite3_io_methods *m = real(file)->pMethods;
        return m->iVersion >= 2 ? m->xShmLock(real(file), offset, count, flags) : SQLITE_IOERR_SHMLOCK;
    }
    static void shmBarrier(sqlite3_file *file)
    {
        if (real(file)->pMethods->iVersion >= 2)
            real(file)->pMethods->xShmBarrier(real(file));
    }
    static int shmUnmap(sqlite3_file *file, int deleteFlag)
    {
        const sqlite3_io_methods *m = real(file)->pMethods;
        return m->iVersion >= 2 ? m->xShmUnmap(real(file), deleteFlag) : SQLITE_OK;
    }
    static int fetch(sqlite3_file *file, sqlite3_int64 offset, int amount, void **out)
    {
        const sqlite3_io_methods *m = real(file)->pMethods;
        if (m->iVersion >= 3)
            return m->xFetch(real(file), offset, amount, out);
        *out = nullptr;
        return SQLITE_OK;
    }
    static int unfetch(sqlite3_file *file, sqlite3_int64 offset, void *pointer)
    {
        const sqlite3_io_methods *m = real(file)->pMethods;
        return m->iVersion >= 3 ? m->xUnfetch(real(file), offset, pointer) : SQLITE_OK;
    }

    static const sqlite3_io_methods methods;
};

const sqlite3_io_methods FaultVfsCalls::methods = {
    3,
    FaultVfsCalls::close,
    FaultVfsCalls::read,
    FaultVfsCalls::write,
    FaultVfsCalls::truncate,
    FaultVfsCalls::sync,
    FaultVfsCalls::fileSize,
    FaultVfsCalls::lock,
    FaultVfsCalls::unlock,
    FaultVfsCalls::checkReservedLock,
    FaultVfsCalls::fileControl,
    FaultVfsCalls::sectorSize,
    FaultVfsCalls::deviceCharacteristics,
    FaultVfsCalls::shmMap,
    FaultVfsCalls::shmLock,
    FaultVfsCalls::shmBarrier,
    FaultVfsCalls::shmUnmap,
    FaultVfsCalls::fetch,
    FaultVfsCalls::unfetch,
};

FaultVfs::FaultVfs()
{
    m_real = sqlite3_vfs_find(nullptr);
    if (!m_real)
        throw std::runtime_error("no default SQLite VFS");
    m_vfs.iVersion = 2;
    m_vfs.szOsFile = headerSize + m_real->szOsFile;
    m_vfs.mxPathname = m_real->mxPathname;
    m_vfs.zName = name();
    m_vfs.pAppData = this;
    m_vfs.xOpen = FaultVfsCalls::open;
    m_vfs.xDelete = FaultVfsCalls::remove;
    m_vfs.xAccess = FaultVfsCalls::access;
    m_vfs.xFullPathname = FaultVfsCalls::fullPathname;
    m_vfs.xDlOpen = FaultVfsCalls::dlOpen;
    m_vfs.xDlError = FaultVfsCalls::dlError;
    m_vfs.xDlSym = FaultVfsCalls::dlSym;
    m_vfs.xDlClose = FaultVfsCalls::dlClose;
    m_vfs.xRandomness = FaultVfsCalls::randomness;
    m_vfs.xSleep = FaultVfsCalls::sleep;
    m_vfs.xCurrentTime = FaultVfsCalls::currentTime;
    m_vfs.xGetLastError = FaultVfsCalls::lastError;
    m_vfs.xCurrentTimeInt64 = FaultVfsCalls::currentTimeInt64;
    if (sqlite3_vfs_register(&m_vfs, 1) != SQLITE_OK)
        throw std::runtime_error("cannot register the fault VFS");
}

FaultVfs::~FaultVfs()
{
    sqlite3_vfs_unregister(&m_vfs);
    // Unregistering the default made another one the default; it must be the one that was.
    sqlite3_vfs_register(m_real, 1);
}

void FaultVfs::arm(Fault fault, int target)
{
    m_fault = fault;
    m_target = target;
    m_counted = 0;
    m_first.reset();
    m_codes.clear();
    m_armed = true;
}

void FaultVfs::disarm() { m_armed = false; }

int FaultVfs::failureCode(const QString &operation, Fault fault)
{
    if (operation == QLatin1String("Lock"))
        return fault == Fault::BusyFromThen ? SQLITE_BUSY : SQLITE_IOERR_LOCK;
    static const struct {
        const char *operation;
        int code;
    } codes[] = {
        {"Open", SQLITE_CANTOPEN},
        {"Delete", SQLITE_IOERR_DELETE},
        {"Access", SQLITE_IOERR_ACCESS},
        {"Read", SQLITE_IOERR_READ},
        {"Write", SQLITE_IOERR_WRITE},
        {"Truncate", SQLITE_IOERR_TRUNCATE},
        {"Sync", SQLITE_IOERR_FSYNC},
        {"FileSize", SQLITE_IOERR_FSTAT},
        {"Unlock", SQLITE_IOERR_UNLOCK},
        {"CheckReservedLock", SQLITE_IOERR_CHECKRESERVEDLOCK},
    };
    for (const auto &entry : codes)
        if (operation == QLatin1String(entry.operation))
            return entry.code;
    return SQLITE_IOERR;
}

int FaultVfs::intercept(const char *operation, const char *file)
{
    if (!m_armed)
        return SQLITE_OK;
    const bool isLock = qstrcmp(operation, "Lock") == 0;
    if (m_fault == Fault::BusyFromThen && !isLock)
        return SQLITE_OK;
    ++m_counted;
    const bool sticky = m_fault == Fault::FailFromThen || m_fault == Fault::BusyFromThen;
    if (m_counted < m_target || (m_counted > m_target && !sticky))
        return SQLITE_OK;
    if (m_fault == Fault::Kill)
        std::raise(SIGKILL);
    const int code = failureCode(QString::fromLatin1(operation), m_fault);
    if (!m_first)
        m_first = Injection{QString::fromLatin1(operation), QString::fromLatin1(file), code};
    if (!m_codes.contains(code))
        m_codes.append(code);
    return code;
}
