// Apply under file-system faults and kills: whatever goes wrong at whichever file operation, the
// product database must stay sound, each of the three records the patch writes must be wholly old
// or wholly new in an order the patch's writes allow, and the outcome must never claim a patch that
// was not saved.
#include "FaultVfs.h"
#include "StandInPlatform.h"
#include "TestDatabase.h"
#include "frmUpdateMe.h"
#include "modPatch.h"

#include <QCheckBox>
#include <QDate>
#include <QDeadlineTimer>
#include <QDir>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <sqlite3.h>

#include <algorithm>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using Fault = FaultVfs::Fault;

namespace {

const QString Key = QStringLiteral("Patch NH0108-NH PRO-Negative N. gonorrhoeae Update");
const QString Applied = QStringLiteral("Patch successfully applied.");
const QString NotApplied = QStringLiteral("Patch was not applied.");
// More operations than Apply could ever make: a sweep that reaches it has not ended.
constexpr int SweepBound = 5000;

/// What the user's next open of the product database finds: read through the default VFS of the
/// system, never the faulty one, and opened for writing so that a hot journal is rolled back first.
struct FileState {
    QString integrity;
    QString organism; // NHBASE row 1
    QString panel;    // the NH row of Panels
    QString history;  // all of updates, in the order of its rows
    QString rest;     // every other row of every table, and the schema

    static FileState read(const QString &path)
    {
        FileState state;
        sqlite3 *db = nullptr;
        if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, "unix") != SQLITE_OK) {
            state.integrity = QStringLiteral("cannot open: ") + QString::fromUtf8(sqlite3_errmsg(db));
            sqlite3_close(db);
            return state;
        }
        state.integrity = rows(db, "PRAGMA integrity_check");
        state.organism = rows(db, "SELECT * FROM NHBASE WHERE ID = 1");
        state.panel = rows(db, "SELECT * FROM Panels WHERE panelcode = 'NH'");
        state.history = rows(db, "SELECT * FROM updates ORDER BY rowid");
        state.rest = rows(db, "SELECT type, name, sql FROM sqlite_schema ORDER BY name") + u'\n'
            + rows(db, "SELECT * FROM NHBASE WHERE ID <> 1 ORDER BY rowid") + u'\n'
            + rows(db, "SELECT * FROM Panels WHERE panelcode <> 'NH' ORDER BY rowid");
        sqlite3_close(db);
        return state;
    }

    // Each value with its storage class, so that 98 and '98' are told apart.
    static QString rows(sqlite3 *db, const char *sql)
    {
        sqlite3_stmt *statement = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK)
            return QStringLiteral("error: ") + QString::fromUtf8(sqlite3_errmsg(db));
        QStringList lines;
        int rc;
        while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
            QStringList values;
            for (int i = 0; i < sqlite3_column_count(statement); ++i) {
                static const char *classes[] = {"", "integer", "real", "text", "blob", "null"};
                values << QStringLiteral("%1:%2").arg(QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, i))),
                                                      QLatin1String(classes[sqlite3_column_type(statement, i)]));
            }
            lines << values.join(u'|');
        }
        if (rc != SQLITE_DONE)
            lines << QStringLiteral("error: ") + QString::fromUtf8(sqlite3_errmsg(db));
        sqlite3_finalize(statement);
        return lines.join(u'\n');
    }
};

/// Which of the three records hold the patch: 'o' old, 'n' new, '?' neither.
QString shapeOf(const FileState &state, const FileState &before, const QList<FileState> &after)
{
    auto mark = [](const QString &value, const QString &old, const QList<QString> &fresh) {
        return QChar(value == old ? u'o' : fresh.contains(value) ? u'n' : u'?');
    };
    QList<QString> organisms, panels, histories;
    for (const FileState &patched : after) {
        organisms << patched.organism;
        panels << patched.panel;
        histories << patched.history;
    }
    return QString(mark(state.organism, before.organism, organisms)) + mark(state.panel, before.panel, panels)
        + mark(state.history, before.history, histories);
}

// Organism before panel before history, each saved on its own: these are the only states the
// order of the writes can leave.
const QStringList AllowedShapes{QStringLiteral("ooo"), QStringLiteral("noo"), QStringLiteral("nno"), QStringLiteral("nnn")};

/// What the window showed when Apply was done.
struct Outcome {
    QStringList failureBoxes;
    QStringList otherBoxes;
    QString reason;
    QString status;
    bool ticked = false;
    bool finished = false;
    int uncaught = 0;
};

} // namespace

class tst_faults : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<FaultVfs> m_vfs;
    FileState m_before;
    QList<FileState> m_after; // the patched file, dated as the history row may be dated

    QString programFolder() const { return m_dir.filePath(QStringLiteral("program")); }
    QString databasePath() const { return programFolder() + QLatin1Char('/') + olbra::DataConnection::fileName(); }
    QString templatePath() const { return m_dir.filePath(QStringLiteral("demo.sqlite")); }

    void freshDatabase()
    {
        QFile::remove(databasePath());
        QFile::remove(databasePath() + QStringLiteral("-journal"));
        QVERIFY(QFile::copy(templatePath(), databasePath()));
    }

    // The demo file as a successful Apply leaves it on a given day, written with plain SQL.
    FileState patchedBy(const QDate &day)
    {
        const QString path = m_dir.filePath(QStringLiteral("patched.sqlite"));
        {
            TestDatabase patched(path, TestDatabase::demoSql());
            patched.exec(QStringLiteral("UPDATE NHBASE SET PRO = 98, RES = 4, MLF = 0.9408 WHERE ID = 1;"
                                        "UPDATE Panels SET lastupdated = '2008-01-18', DBVersion = '2.08' WHERE panelcode = 'NH';"
                                        "INSERT INTO updates (Date, Minor, Build, Reason) VALUES ('%1', 0, 76, '%2');")
                             .arg(day.toString(Qt::ISODate), Key));
        }
        return FileState::read(path);
    }

    void startUp(StandInPlatform &desktop, frmUpdateMe *&window)
    {
        modPatch::ResetPatchState();
        desktop.programFilePath = programFolder() + QStringLiteral("/OLBRADURADIRURI");
        modPatch::setWindowFactory([&window] {
            auto made = std::make_unique<frmUpdateMe>();
            window = made.get();
            return made;
        });
        modPatch::Main();
    }

    static Outcome outcomeOf(const StandInPlatform &desktop, const frmUpdateMe &window)
    {
        Outcome outcome;
        for (const auto &box : desktop.boxes)
            (box.kind == olbra::BoxKind::Failure ? outcome.failureBoxes : outcome.otherBoxes) << box.text;
        outcome.reason = window.lblreason->caption();
        outcome.status = window.StatusBar->panel(1)->text();
        outcome.ticked = window.Check1(1)->isChecked();
        outcome.finished = !window.cmdOK->isEnabled() && window.Command1->text() == QLatin1String("&Exit");
        outcome.uncaught = static_cast<int>(desktop.uncaught.size());
        return outcome;
    }

    // The checks that hold for every file the patch leaves, however it was stopped.
    void verifyFileSound(const FileState &state, const QString &where)
    {
        QVERIFY2(state.integrity == QLatin1String("ok:text"), qPrintable(where + QStringLiteral(": integrity ") + state.integrity));
        QVERIFY2(state.rest == m_before.rest, qPrintable(where + QStringLiteral(": rows the patch does not write changed:\n") + state.rest));
        const QString shape = shapeOf(state, m_before, m_after);
        QVERIFY2(AllowedShapes.contains(shape),
                 qPrintable(QStringLiteral("%1: organism, panel, history = %2\norganism: %3\npanel: %4\nhistory:\n%5")
                                .arg(where, shape, state.organism, state.panel, state.history)));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        qputenv("XDG_CONFIG_HOME", m_dir.filePath(QStringLiteral("config")).toUtf8());
        QDir().mkpath(programFolder());
        { TestDatabase demo(templatePath(), TestDatabase::demoSql()); }
        m_before = FileState::read(templatePath());
        QCOMPARE(m_before.integrity, QStringLiteral("ok:text"));
        m_vfs = std::make_unique<FaultVfs>();
        QCOMPARE(sqlite3_vfs_find(nullptr)->zName, FaultVfs::name());
    }

    void cleanupTestCase()
    {
        modPatch::ResetPatchState();
        m_vfs.reset();
        QCOMPARE(sqlite3_vfs_find(nullptr)->zName, "unix");
    }

    void eachFileOperationFails_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::newRow("one operation fails, the next succeed") << Fault::FailOnce;
        QTest::newRow("the disk fails for good") << Fault::FailFromThen;
        QTest::newRow("another program takes the lock and keeps it") << Fault::BusyFromThen;
    }

    void eachFileOperationFails()
    {
        QFETCH(Fault, fault);
        QSet<QString> shapesSeen;
        int target = 1;
        for (;; ++target) {
            QVERIFY2(target < SweepBound, "Apply never ran out of file operations");
            freshDatabase();
            const QDate dayBefore = QDate::currentDate();
            Outcome outcome;
            std::optional<FaultVfs::Injection> injection;
            QList<int> codes;
            {
                StandInPlatform desktop;
                frmUpdateMe *window = nullptr;
                startUp(desktop, window);
                QVERIFY2(window && desktop.boxes.isEmpty(), "start-up failed before any fault");
                m_vfs->arm(fault, target);
                QTest::mouseClick(window->cmdOK, Qt::LeftButton);
                m_vfs->disarm();
                injection = m_vfs->firstInjection();
                codes = m_vfs->injectedCodes();
                outcome = outcomeOf(desktop, *window);
                modPatch::ResetPatchState();
            }
            updateExpectedFiles(dayBefore);

            const FileState state = FileState::read(databasePath());
            const QString shape = shapeOf(state, m_before, m_after);
            const QString said = QStringLiteral("fault at operation %1 (%2 of the %3): left %4, reported \"%5\" %6")
                                     .arg(target)
                                     .arg(injection ? injection->operation : QStringLiteral("nothing"), injection ? injection->file : QString(),
                                          shape, outcome.reason.section(QStringLiteral("\r\n"), -1), outcome.failureBoxes.join(QStringLiteral(" // ")));
            verifyFileSound(state, said);
            if (QTest::currentTestFailed())
                return;
            shapesSeen << shape;

            QVERIFY2(outcome.finished, qPrintable(said + QStringLiteral(": the window did not reach its finished state")));
            QVERIFY2(outcome.uncaught == 0, qPrintable(said + QStringLiteral(": an uncaught failure")));
            QVERIFY2(outcome.otherBoxes.isEmpty(), qPrintable(said));
            const bool claimsSuccess = outcome.reason.endsWith(Applied);
            QVERIFY2(claimsSuccess || outcome.reason.endsWith(NotApplied), qPrintable(said));
            QCOMPARE(outcome.ticked, claimsSuccess);
            QCOMPARE(outcome.status, claimsSuccess ? QStringLiteral("Done!") : QStringLiteral("Error in Olbra Patch"));
            if (shape != QLatin1String("nnn")) {
                QVERIFY2(!outcome.failureBoxes.isEmpty(), qPrintable(said + QStringLiteral(": a record stayed old and nothing was reported")));
                QVERIFY2(!claimsSuccess, qPrintable(said + QStringLiteral(": reported as applied")));
            }
            if (claimsSuccess)
                QVERIFY2(shape == QLatin1String("nnn") && outcome.failureBoxes.isEmpty(), qPrintable(said));
            if (!outcome.failureBoxes.isEmpty()) {
                QVERIFY2(outcome.failureBoxes.size() == 1, qPrintable(said));
                verifyReport(outcome.failureBoxes.first(), codes, shape, said);
                if (QTest::currentTestFailed())
                    return;
            }
            if (!injection) {
                // The first run that the fault never reached is a plain, successful Apply.
                QVERIFY2(claimsSuccess && shape == QLatin1String("nnn"), qPrintable(said));
                break;
            }
        }
        qInfo("%d runs; states the faults left: %s", target, qPrintable(sorted(shapesSeen)));
        // Faults struck before, between and after each of the three saves.
        QCOMPARE(sorted(shapesSeen), QStringLiteral("nnn nno noo ooo"));
    }

    void aKillAtEachFileOperation()
    {
        QSet<QString> shapesSeen;
        int target = 1;
        for (;; ++target) {
            QVERIFY2(target < SweepBound, "Apply never ran out of file operations");
            freshDatabase();
            const QDate dayBefore = QDate::currentDate();
            const pid_t child = fork();
            QVERIFY(child >= 0);
            if (child == 0)
                applyAndKillAt(target); // never returns
            int status = 0;
            const QString where = QStringLiteral("kill at operation %1").arg(target);
            QVERIFY2(waitFor(child, status), qPrintable(where + QStringLiteral(": the program hung")));
            updateExpectedFiles(dayBefore);

            const FileState state = FileState::read(databasePath());
            const QString shape = shapeOf(state, m_before, m_after);
            verifyFileSound(state, where);
            if (QTest::currentTestFailed())
                return;
            shapesSeen << shape;
            if (WIFSIGNALED(status)) {
                QVERIFY2(WTERMSIG(status) == SIGKILL, qPrintable(where + QStringLiteral(": died of signal %1").arg(WTERMSIG(status))));
                continue;
            }
            // Not killed: the fault point lay beyond Apply's last file operation.
            QVERIFY2(WIFEXITED(status), qPrintable(where));
            QVERIFY2(WEXITSTATUS(status) == ChildApplied,
                     qPrintable(where + QStringLiteral(": the program ran to its end with exit status %1").arg(WEXITSTATUS(status))));
            QCOMPARE(shape, QStringLiteral("nnn"));
            break;
        }
        qInfo("%d runs; states the kills left: %s", target, qPrintable(sorted(shapesSeen)));
        QCOMPARE(sorted(shapesSeen), QStringLiteral("nnn nno noo ooo"));
    }

private:
    // What a child that was not killed tells its parent.
    enum ChildStatus { ChildApplied = 0, ChildNotApplied = 10, ChildStartUpFailed = 11 };

    // In the child: the program's start-up and Apply, killed at the target'th file operation.
    [[noreturn]] void applyAndKillAt(int target)
    {
        int status = ChildNotApplied;
        {
            StandInPlatform desktop;
            frmUpdateMe *window = nullptr;
            startUp(desktop, window);
            if (!window || !desktop.boxes.isEmpty())
                _exit(ChildStartUpFailed);
            m_vfs->arm(Fault::Kill, target);
            QTest::mouseClick(window->cmdOK, Qt::LeftButton);
            m_vfs->disarm();
            const Outcome outcome = outcomeOf(desktop, *window);
            if (outcome.finished && outcome.reason.endsWith(Applied) && outcome.failureBoxes.isEmpty() && outcome.uncaught == 0)
                status = ChildApplied;
        }
        // Straight out: nothing of the test's own may run twice.
        _exit(status);
    }

    // Waits for the child to end; a child still running after a minute has hung and is ended.
    static bool waitFor(pid_t child, int &status)
    {
        QDeadlineTimer deadline(60000);
        while (!deadline.hasExpired()) {
            const pid_t ended = waitpid(child, &status, WNOHANG);
            if (ended == child)
                return true;
            if (ended < 0)
                return false;
            QThread::msleep(2);
        }
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        return false;
    }

    void updateExpectedFiles(const QDate &dayBefore)
    {
        if (m_after.isEmpty() || QDate::currentDate() != dayBefore)
            m_after = {patchedBy(dayBefore), patchedBy(QDate::currentDate())};
    }

    static QString sorted(const QSet<QString> &shapes)
    {
        QStringList list(shapes.begin(), shapes.end());
        list.sort();
        return list.join(u' ');
    }

    // The report names the engine's refusal of an operation that was made to fail, what the
    // program was doing, and the step of the patch; the step agrees with what the file holds.
    static void verifyReport(const QString &text, const QList<int> &codes, const QString &shape, const QString &said)
    {
        static const QRegularExpression form(QStringLiteral("^Error : (-?\\d+) (.*)\r\n(.*)$"),
                                             QRegularExpression::DotMatchesEverythingOption);
        const QRegularExpressionMatch match = form.match(text);
        QVERIFY2(match.hasMatch(), qPrintable(said));
        const int number = match.captured(1).toInt();
        const QString description = match.captured(2);
        const QString context = match.captured(3);

        const auto code = std::find_if(codes.begin(), codes.end(), [number](int injected) {
            return olbra::ErrorCode::fromEngine(injected) == number;
        });
        QVERIFY2(code != codes.end(), qPrintable(said + QStringLiteral(": the number is not that of an injected fault")));
        static const QRegularExpression doing(QStringLiteral(
            "^(.*) (?:\\(while|while) (reading a row|saving the row|reading the saved row|running the query|moving to the last row)\\)?$"));
        const QRegularExpressionMatch what = doing.match(description);
        QVERIFY2(what.hasMatch(), qPrintable(said + QStringLiteral(": the description does not say what failed")));
        const QString engine = (*code & 0xFF) == SQLITE_BUSY
            ? QStringLiteral("The database is in use by another program (database is locked)")
            : QString::fromUtf8(sqlite3_errstr(*code));
        QVERIFY2(what.captured(1) == engine, qPrintable(said));

        if (context == QLatin1String("Write to Update"))
            QVERIFY2(shape.startsWith(QLatin1String("nn")), qPrintable(said + QStringLiteral(": the history step ran after a failed patch")));
        else
            QVERIFY2(context == QLatin1String("Patch Failed to update OLBRA Belvix NH Database") && shape.endsWith(u'o'), qPrintable(said));
    }
};

QTEST_MAIN(tst_faults)
#include "tst_faults.moc"
