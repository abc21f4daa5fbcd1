// The patch on a damaged product database: the fuzzer's bytes become "OLBRAData.mdb" beside the
// program file, then start-up, Apply and the outcome report run on it as the program runs them,
// with every box answered OK. Whatever the file holds, each refusal must be an error report, the
// outcome must tell the truth, and a success must be in the file.
#include "PatchWindow.h"
#include "Platform.h"
#include "modPatch.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

namespace {

const QString ProgramName = QStringLiteral("OLBRADURADIRURI");
const QString Key = QStringLiteral("Patch NH0108-NH PRO-Negative N. gonorrhoeae Update");
const QString NotApplied = QStringLiteral("\r\nPatch was not applied.");
const QString Applied = QStringLiteral("\r\nPatch successfully applied.");
const std::array<QString, 5> Contexts = {QStringLiteral("Main Start Up"),
                                          QStringLiteral("Initization Connection to DataFile"),
                                          QStringLiteral("Patch Failed to update OLBRA Belvix NH Database"),
                                          QStringLiteral("Write to Update"),
                                          QStringLiteral("Close Connection to DataFile")};

// A broken rule ends the run the way a crash would, so that the fuzzer keeps the input.
[[noreturn]] void broken(const char *rule, const QString &detail = {})
{
    std::fprintf(stderr, "fuzz_patch: %s %s\n", rule, detail.toLocal8Bit().constData());
    std::abort();
}

// Budgets that let a hostile file cost no more than a fraction of a second. Each engine connection
// gets them as it opens, the program's own included: a view or trigger that never ends, or one
// that asks for a gigabyte, is stopped by the engine and reaches the program as a refusal.
constexpr int StepsPerCheck = 1000;
constexpr int ChecksPerInput = 2000; // 2 million steps: no statement of the patch on the corpus takes 1000
constexpr int LongestValue = 1'000'000;
constexpr sqlite3_int64 EngineHeap = 64 * 1024 * 1024;

int g_checks = 0;
bool g_stoppedByBudget = false;
long g_runsStopped = 0;
bool g_showBoxes = false;

int progressCheck(void *)
{
    if (++g_checks <= ChecksPerInput)
        return 0;
    g_stoppedByBudget = true;
    return 1;
}

int limitConnection(sqlite3 *db, const char **, const sqlite3_api_routines *)
{
    sqlite3_progress_handler(db, StepsPerCheck, progressCheck, nullptr);
    sqlite3_limit(db, SQLITE_LIMIT_LENGTH, LongestValue);
    sqlite3_limit(db, SQLITE_LIMIT_SQL_LENGTH, LongestValue);
    return SQLITE_OK;
}

void reportBudget()
{
    if (g_runsStopped > 0)
        std::fprintf(stderr, "fuzz_patch: %ld run(s) stopped by the engine's work budget\n", g_runsStopped);
}

class FuzzDesktop : public olbra::Platform {
public:
    struct Box {
        olbra::BoxKind kind;
        QString title;
        QString text;
    };

    std::int16_t messageBox(olbra::BoxKind kind, const QString &title, const QString &text) override
    {
        boxes.push_back({kind, title, text});
        return kind == olbra::BoxKind::Question ? olbra::Answer::No : olbra::Answer::OK;
    }
    QString programFile() const override { return folder + QLatin1Char('/') + ProgramName; }
    void startProgram(const QString &name, int) override { broken("the patch started a program:", name); }
    void endProgram() override { ++ends; }
    void endWithUncaughtFailure(const olbra::Failure &failure) override
    {
        broken("a failure was not reported:", QStringLiteral("%1 %2").arg(failure.number()).arg(failure.description()));
    }
    QDate currentDate() const override { return QDate(2008, 1, 18); }

    QString folder;
    std::vector<Box> boxes;
    int ends = 0;
};

class FuzzWindow : public modPatch::PatchWindow {
public:
    void Show() override { loaded = true; }
    bool isLoaded() const override { return loaded; }
    void setCheck1Value(int index, int value) override { check1.at(static_cast<std::size_t>(index)) = value; }
    void setStatusPanelText(int panel, const QString &text) override { panels.at(static_cast<std::size_t>(panel - 1)) = text; }
    QString statusPanelText(int panel) const override { return panels.at(static_cast<std::size_t>(panel - 1)); }
    void setProgressBarValue(float value) override
    {
        if (value < 0 || value > 100)
            throw olbra::Failure(olbra::ErrorCode::InvalidPropertyValue, QStringLiteral("Invalid property value"));
        progress = value;
    }
    QString reasonCaption() const override { return reason; }
    void setReasonCaption(const QString &caption) override { reason = caption; }

    bool loaded = false;
    std::array<int, 2> check1{};
    std::array<QString, 3> panels;
    float progress = 0;
    QString reason;
};

struct Workplace {
    QTemporaryDir dir;
    QString program;
    QString database;
    std::optional<QString> demoSchema;
    FuzzDesktop desktop;
    FuzzWindow *window = nullptr;
};

Workplace *g_workplace = nullptr;

// A connection of the check's own, with plain SQL, after the program closed its own.
class Reader {
public:
    explicit Reader(const QString &path)
    {
        if (sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
            sqlite3_close_v2(m_db);
            m_db = nullptr;
        }
    }
    explicit Reader(sqlite3 *db) : m_db(db) {}
    ~Reader() { sqlite3_close_v2(m_db); }
    Reader(const Reader &) = delete;
    Reader &operator=(const Reader &) = delete;

    /// Every row of a query, its columns as text joined by '|'; nothing when the engine refuses.
    std::optional<QStringList> rows(const char *sql) const
    {
        if (!m_db)
            return std::nullopt;
        sqlite3_stmt *statement = nullptr;
        if (sqlite3_prepare_v2(m_db, sql, -1, &statement, nullptr) != SQLITE_OK) {
            sqlite3_finalize(statement);
            return std::nullopt;
        }
        QStringList result;
        int rc;
        while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
            QStringList columns;
            for (int i = 0; i < sqlite3_column_count(statement); ++i) {
                const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(statement, i));
                columns << (text ? QString::fromUtf8(text, sqlite3_column_bytes(statement, i)) : QStringLiteral("<null>"));
            }
            result << columns.join(QLatin1Char('|'));
        }
        sqlite3_finalize(statement);
        if (rc != SQLITE_DONE)
            return std::nullopt;
        return result;
    }

private:
    sqlite3 *m_db = nullptr;
};

const char *const SchemaQuery = "SELECT type, name, tbl_name, sql FROM sqlite_schema ORDER BY name";

// The demo database's schema: a file that still has it must, after a success, hold the change.
std::optional<QString> demoSchema()
{
    QFile file(QStringLiteral(OLBRA_DEMO_SQL));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    sqlite3 *db = nullptr;
    sqlite3_open(":memory:", &db);
    Reader reader(db);
    if (sqlite3_exec(db, file.readAll().constData(), nullptr, nullptr, nullptr) != SQLITE_OK)
        return std::nullopt;
    const auto schema = reader.rows(SchemaQuery);
    return schema ? std::optional<QString>(schema->join(QLatin1Char('\n'))) : std::nullopt;
}

void checkReports(const Workplace &place)
{
    int failures = 0;
    for (const FuzzDesktop::Box &box : place.desktop.boxes) {
        if (box.kind == olbra::BoxKind::Notice && box.text.startsWith(QStringLiteral("OLBRA Patch failed to locate")))
            continue;
        if (box.kind != olbra::BoxKind::Failure || box.title != ProgramName)
            broken("a box that is not an error report:", box.title + QLatin1Char(' ') + box.text);
        const qsizetype end = box.text.lastIndexOf(QStringLiteral("\r\n"));
        const QString context = end < 0 ? QString() : box.text.mid(end + 2);
        if (!box.text.startsWith(QStringLiteral("Error : ")) || std::find(Contexts.begin(), Contexts.end(), context) == Contexts.end())
            broken("an error report without its number or context:", box.text);
        ++failures;
    }
    if ((failures > 0) != (modPatch::gPatchError == -1))
        broken("the error flag does not match the reports:", QString::number(failures));
}

// A success claims the three changes; a file that kept the demo's schema must hold them.
void checkSuccessIsSaved(const Workplace &place)
{
    const Reader reader(place.database);
    const auto schema = reader.rows(SchemaQuery);
    if (!schema || !place.demoSchema || schema->join(QLatin1Char('\n')) != *place.demoSchema)
        return;
    const auto organism = reader.rows("SELECT PRO, RES FROM NHBASE WHERE ID = 1");
    const auto panel = reader.rows("SELECT lastupdated, DBVersion FROM Panels WHERE panelcode = 'NH'");
    const auto history = reader.rows("SELECT Reason FROM updates");
    if (organism && !organism->contains(QStringLiteral("98|4")))
        broken("success reported, but the organism record is not saved:", organism->join(u';'));
    if (panel && !panel->contains(QStringLiteral("2008-01-18|2.08")))
        broken("success reported, but the panel is not stamped:", panel->join(u';'));
    // The key may stand before the last row: a table whose rowids ran out takes a new row anywhere.
    // A last Reason that is Null may be left as the last entry.
    if (history && !history->contains(Key) && (history->isEmpty() || history->last() != QStringLiteral("<null>")))
        broken("success reported, but the history does not hold the patch:", history->join(u';'));
}

void checkOutcome(const Workplace &place)
{
    const FuzzWindow &window = *place.window;
    if (!modPatch::gConn.isNone())
        broken("the connection is still held after the outcome");
    if (window.progress != 100)
        broken("the progress bar did not reach 100");
    if (modPatch::gPatchError == -1) {
        if (!window.reason.endsWith(NotApplied) || window.panels[0] != QStringLiteral("Error in Olbra Patch") || window.check1[1] != 0)
            broken("a failure whose outcome does not say so:", window.reason);
        return;
    }
    if (!window.reason.endsWith(Applied) || window.panels[0] != QStringLiteral("Done!") || window.check1[1] != 1)
        broken("a success whose outcome does not say so:", window.reason);
    checkSuccessIsSaved(place);
}

void writeInput(const Workplace &place, const std::uint8_t *data, std::size_t size)
{
    for (const char *leftover : {"", "-journal", "-wal", "-shm"})
        QFile::remove(place.database + QLatin1String(leftover));
    QFile file(place.database);
    if (!file.open(QIODevice::WriteOnly)
        || file.write(reinterpret_cast<const char *>(data), static_cast<qint64>(size)) != static_cast<qint64>(size))
        broken("cannot write the input to", place.database);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // OLBRA_FUZZ_BUDGET=off runs an input as the program runs it, without the budgets: to see what
    // the program itself does with a file that the budgets stopped.
    // OLBRA_FUZZ_SHOW_BOXES=1 prints the boxes of each run.
    g_showBoxes = qEnvironmentVariableIsSet("OLBRA_FUZZ_SHOW_BOXES");
    if (qEnvironmentVariable("OLBRA_FUZZ_BUDGET") != QLatin1String("off")) {
        sqlite3_auto_extension(reinterpret_cast<void (*)()>(limitConnection));
        sqlite3_hard_heap_limit64(EngineHeap);
        std::atexit(reportBudget);
    }

    g_workplace = new Workplace;
    Workplace &place = *g_workplace;
    if (!place.dir.isValid())
        broken("no temporary folder");
    place.program = place.dir.filePath(QStringLiteral("program"));
    place.database = place.program + QLatin1Char('/') + olbra::DataConnection::fileName();
    QDir().mkpath(place.program);
    // Settings come from a folder of our own that holds none: no DataPath to fall back on.
    qputenv("XDG_CONFIG_HOME", place.dir.filePath(QStringLiteral("config")).toUtf8());
    place.demoSchema = demoSchema();
    if (!place.demoSchema)
        broken("cannot read the demo database's schema from", QStringLiteral(OLBRA_DEMO_SQL));
    place.desktop.folder = place.program;
    olbra::setPlatform(&place.desktop);
    modPatch::setWindowFactory([] {
        auto window = std::make_unique<FuzzWindow>();
        g_workplace->window = window.get();
        return window;
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Workplace &place = *g_workplace;
    modPatch::ResetPatchState();
    place.desktop.boxes.clear();
    place.desktop.ends = 0;
    place.window = nullptr;
    g_checks = 0;
    g_stoppedByBudget = false;
    writeInput(place, data, size);

    olbra::runGuarded(modPatch::Main);
    if (place.desktop.ends > 0) {
        // Start-up refused the file: the program ends here, having said why.
        if (place.desktop.boxes.empty())
            broken("start-up ended without telling the user why");
        checkReports(place);
    } else {
        if (modPatch::gConn.isNone() || !modPatch::gConn->IsConnected())
            broken("start-up went on without an open database");
        // Apply, in the order the window's handler runs it. The history step runs even after a
        // failed record patch, so that each input reaches it.
        olbra::runGuarded([] {
            modPatch::PatchDatabase();
            modPatch::SetProgress(80);
            modPatch::WriteUpdateHistory();
            modPatch::SetProgress(90);
            modPatch::FinishPatch();
            modPatch::SetProgress(100);
        });
        checkReports(place);
        checkOutcome(place);
    }
    if (g_stoppedByBudget)
        ++g_runsStopped;
    if (g_showBoxes)
        for (const FuzzDesktop::Box &box : place.desktop.boxes)
            std::fprintf(stderr, "fuzz_patch: box \"%s\": %s\n", box.title.toLocal8Bit().constData(),
                         box.text.toLocal8Bit().replace("\r\n", " / ").constData());
    modPatch::ResetPatchState();
    return 0;
}
