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
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
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
        m_display.reset();
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

    // The built program itself, on a display of its own, Apply pressed from the keyboard, killed
    // by the system-call tracer at the Nth write, sync or delete it makes.
    void theBuiltProgramKilledAtEachWrite_data()
    {
        QTest::addColumn<QString>("call");
        QTest::newRow("a write") << "pwrite64";
        QTest::newRow("a sync") << "fdatasync";
        QTest::newRow("a delete") << "unlink";
    }

    void theBuiltProgramKilledAtEachWrite()
    {
        QFETCH(QString, call);
        const QString built = QCoreApplication::applicationDirPath() + QStringLiteral("/../ZOVedevUvoVivOD/OLBRADURADIRURI");
        if (!QFileInfo(built).isExecutable())
            QSKIP("the program is not built beside the tests");
        for (const char *tool : {"Xvfb", "xdotool", "strace"})
            if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
                QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(QLatin1String(tool))));
        if (!m_display)
            m_display = std::make_unique<Display>(m_dir.filePath(QStringLiteral("runtime")));
        QVERIFY2(m_display->isUp(), "Xvfb did not start");
        const QString program = programFolder() + QStringLiteral("/OLBRADURADIRURI");
        QFile::remove(program);
        QVERIFY(QFile::copy(built, program));

        QSet<QString> shapesSeen;
        int target = 1;
        for (;; ++target) {
            QVERIFY2(target < 200, "the program never ran out of such calls");
            const QString where = QStringLiteral("kill at %1 number %2").arg(call).arg(target);
            freshDatabase();
            const QDate dayBefore = QDate::currentDate();
            QProcess traced;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("DISPLAY"), m_display->name());
            environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
            environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
            environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.filePath(QStringLiteral("runtime")));
            // The tracer holds the program's threads, so a leak checker could not stop them at exit.
            if (environment.contains(QStringLiteral("ASAN_OPTIONS")))
                environment.insert(QStringLiteral("ASAN_OPTIONS"), environment.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":detect_leaks=0"));
            traced.setProcessEnvironment(environment);
            traced.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            traced.start(QStringLiteral("strace"), {QStringLiteral("-f"), QStringLiteral("-qq"), QStringLiteral("-o"), QStringLiteral("/dev/null"),
                                                   QStringLiteral("-e"), QStringLiteral("trace=") + call, QStringLiteral("-e"),
                                                   QStringLiteral("inject=%1:signal=KILL:when=%2").arg(call).arg(target), program});
            QVERIFY2(traced.waitForStarted(), qPrintable(where));

            // Enter applies; Esc then asks whether to start OLBRA, and Esc again answers No.
            const QString window = m_display->waitForWindow(QStringLiteral("^OLBRA\\(tm\\) - Pandexion $"), traced);
            QVERIFY2(!window.isEmpty(), qPrintable(where + QStringLiteral(": the patch window did not come up")));
            m_display->xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), window});
            m_display->xdotool({QStringLiteral("key"), QStringLiteral("--clearmodifiers"), QStringLiteral("Return"), QStringLiteral("Escape")});
            if (!m_display->waitForWindow(QStringLiteral("^OLBRA Update$"), traced).isEmpty())
                m_display->xdotool({QStringLiteral("key"), QStringLiteral("--clearmodifiers"), QStringLiteral("Escape")});
            if (traced.state() != QProcess::NotRunning && !traced.waitForFinished(60000)) {
                traced.kill();
                traced.waitForFinished();
                QFAIL(qPrintable(where + QStringLiteral(": the program did not end")));
            }
            updateExpectedFiles(dayBefore);

            const FileState state = FileState::read(databasePath());
            const QString shape = shapeOf(state, m_before, m_after);
            verifyFileSound(state, where);
            if (QTest::currentTestFailed())
                return;
            shapesSeen << shape;
            if (traced.exitStatus() == QProcess::CrashExit)
                continue;
            // Not killed: the program made fewer such calls, applied the patch and left.
            QVERIFY2(traced.exitCode() == 0, qPrintable(where + QStringLiteral(": exit code %1").arg(traced.exitCode())));
            QCOMPARE(shape, QStringLiteral("nnn"));
            break;
        }
        qInfo("%d runs; states the kills left: %s", target, qPrintable(sorted(shapesSeen)));
        // Each kind of call is made while each of the three records is saved.
        QCOMPARE(sorted(shapesSeen), QStringLiteral("nnn nno noo ooo"));
    }

private:
    /// A display server of the test's own, for the program's real window.
    class Display {
    public:
        explicit Display(const QString &runtime)
        {
            QDir().mkpath(runtime);
            QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            m_server.setProcessChannelMode(QProcess::SeparateChannels);
            // It picks a free display and writes its number once it listens.
            m_server.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
                                                   QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                                                   // A killed client must not send the server through a reset that the next
                                                   // start of the program would run into.
                                                   QStringLiteral("-noreset")});
            QDeadlineTimer deadline(30000);
            while (m_name.isEmpty() && !deadline.hasExpired() && m_server.state() != QProcess::NotRunning) {
                m_server.waitForReadyRead(100);
                const QByteArray number = m_server.readAllStandardOutput().trimmed();
                if (!number.isEmpty())
                    m_name = QLatin1Char(':') + QString::fromLatin1(number);
            }
        }
        ~Display()
        {
            m_server.terminate();
            if (!m_server.waitForFinished(10000))
                m_server.kill();
            m_server.waitForFinished();
        }
        bool isUp() const { return !m_name.isEmpty(); }
        const QString &name() const { return m_name; }

        QString xdotool(const QStringList &arguments, int milliseconds = 30000) const
        {
            QProcess tool;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("DISPLAY"), m_name);
            tool.setProcessEnvironment(environment);
            tool.start(QStringLiteral("xdotool"), arguments);
            if (!tool.waitForFinished(milliseconds)) {
                tool.kill();
                tool.waitForFinished();
                return {};
            }
            return QString::fromLatin1(tool.readAllStandardOutput()).section(u'\n', 0, 0).trimmed();
        }

        // The first visible window whose title matches, or nothing once the program has ended.
        QString waitForWindow(const QString &title, QProcess &program) const
        {
            QDeadlineTimer deadline(30000);
            while (!deadline.hasExpired()) {
                const QString found = xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"), title});
                if (!found.isEmpty())
                    return found;
                if (program.waitForFinished(50))
                    return {};
            }
            return {};
        }

    private:
        QProcess m_server;
        QString m_name;
    };
    std::unique_ptr<Display> m_display;

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
