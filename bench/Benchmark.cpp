#include "Benchmark.h"

#include "ChildProcess.h"
#include "Platform.h"
#include "ProductDatabase.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <stdexcept>
#include <vector>

namespace bench {

namespace {

const QString Key = QStringLiteral("Patch NH0108-NH PRO-Negative N. gonorrhoeae Update");
const QString Shell = QStringLiteral("sqlite3");

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

QString milliseconds(double seconds) { return QString::number(seconds * 1000, 'f', seconds < 0.1 ? 2 : 1); }

QString ratio(double numerator, double denominator) { return QString::number(numerator / denominator, 'f', 2); }

QString rowsLabel(qint64 rows)
{
    // Groups of three, as the table's readers count them.
    QString digits = QString::number(rows);
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3)
        digits.insert(at, QLatin1Char(' '));
    return digits;
}

void print(const QString &line = {}) { std::printf("%s\n", qPrintable(line)); }

/// The three writes of Apply in the shell, one transaction each: the organism record with the
/// frequency the patch computed, the first NH panel row, and the history row unless the last row
/// by rowid already carries the key.
QString shellScript(const QString &mlf)
{
    const olbra::ProgramVersion version = olbra::programVersion();
    return QStringLiteral(
               "BEGIN; UPDATE NHBASE SET PRO = 98, RES = 4, MLF = %1 WHERE ID = 1; COMMIT;\n"
               "BEGIN; UPDATE Panels SET lastupdated = '2008-01-18', DBVersion = '2.08'"
               " WHERE rowid = (SELECT rowid FROM Panels WHERE panelcode = 'NH' LIMIT 1); COMMIT;\n"
               "BEGIN; INSERT INTO updates (Date, Minor, Build, Reason)"
               " SELECT date('now', 'localtime'), %2, %3, '%4'"
               " WHERE (SELECT Reason FROM updates ORDER BY rowid DESC LIMIT 1) IS NOT '%4'; COMMIT;\n")
        .arg(mlf)
        .arg(version.minor)
        .arg(version.revision)
        .arg(Key);
}

/// Samples by name, each a list of one value per run.
using Samples = std::map<QString, std::vector<double>>;

struct DataWork {
    QString label;
    Samples samples;
    double operator[](const QString &name) const
    {
        const auto found = samples.find(name);
        return found == samples.end() ? 0 : median(found->second);
    }
    bool has(const QString &name) const { return samples.count(name) != 0; }
};

class Bench {
public:
    Bench(QString self, int runs)
        : m_self(std::move(self)), m_launcher(QFileInfo(m_self).absolutePath() + QStringLiteral("/olbra_bench_launch")), m_runs(runs)
    {
        if (!m_dir.isValid())
            throw std::runtime_error("no temporary folder");
        if (!QFileInfo(m_launcher).isExecutable())
            throw std::runtime_error(QStringLiteral("%1 is missing: build the target olbra_bench").arg(m_launcher).toStdString());
        // The children must not read the person's own settings: an empty settings folder.
        QDir().mkpath(path(QStringLiteral("config")));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(path(QStringLiteral("config"))));
        for (const char *folder : {"patch", "shell", "start"})
            QDir().mkpath(path(QString::fromLatin1(folder)));
    }

    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString database(const QString &folder) const { return path(folder) + QStringLiteral("/OLBRAData.mdb"); }

    ChildRun child(const QStringList &arguments, const QString &program = {}, const QByteArray &readyLine = {})
    {
        const QString name = program.isEmpty() ? m_self : program;
        ChildRun run = runChild(m_launcher, name, arguments, path(QStringLiteral("errors.txt")), readyLine);
        if (run.exitCode != 0 || (!readyLine.isEmpty() && run.readySeconds == 0))
            throw std::runtime_error(QStringLiteral("%1 %2 failed (exit %3):\n%4")
                                         .arg(name, arguments.join(QLatin1Char(' ')))
                                         .arg(run.exitCode)
                                         .arg(QString::fromLocal8Bit(run.errors + run.output))
                                         .toStdString());
        return run;
    }

    QString shellVersion()
    {
        const ChildRun run = child({QStringLiteral("--version")}, Shell);
        return QString::fromLocal8Bit(run.output).section(QLatin1Char(' '), 0, 0);
    }

    ChildRun patchRun(const QString &source)
    {
        copyFile(source, database(QStringLiteral("patch")));
        ChildRun run = child({QStringLiteral("--child-apply"), path(QStringLiteral("patch"))});
        m_patchState = writtenState(database(QStringLiteral("patch")));
        return run;
    }

    ChildRun shellRun(const QString &source)
    {
        copyFile(source, database(QStringLiteral("shell")));
        ChildRun run = child({database(QStringLiteral("shell")), m_script}, Shell);
        m_shellState = writtenState(database(QStringLiteral("shell")));
        return run;
    }

    // Both wrote the same, and the history grew by the one row of this patch.
    void checkSameWork(qint64 rows) const
    {
        const QString expectedRows = QStringLiteral(" | %1 | ").arg(rows + 1);
        if (m_patchState != m_shellState || !m_patchState.contains(expectedRows)
            || !m_patchState.endsWith(QLatin1Char('\'') + Key + QLatin1Char('\'')))
            throw std::runtime_error(QStringLiteral("the patch and the shell did not do the same work:\n  patch: %1\n  shell: %2")
                                         .arg(m_patchState, m_shellState)
                                         .toStdString());
    }

    /// historyRows < 0: the history as the demo ships it.
    DataWork measureDataWork(qint64 historyRows)
    {
        const QString source = path(QStringLiteral("source.mdb"));
        makeProductDatabase(source, historyRows);
        const qint64 rows = historyRowCount(source);
        DataWork work;
        work.label = historyRows < 0 ? QStringLiteral("%1 (demo as shipped)").arg(rows) : rowsLabel(rows);
        // A first round warms the file cache and gives the shell the frequency the patch computes.
        patchRun(source);
        if (m_script.isEmpty())
            m_script = shellScript(storedMlfLiteral(database(QStringLiteral("patch"))));
        shellRun(source);
        checkSameWork(rows);

        Samples &samples = work.samples;
        for (int round = 0; round < m_runs; ++round) {
            // Turn about, so that neither side always runs on a cache the other just warmed.
            for (int side = 0; side < 2; ++side) {
                if ((side + round) % 2 == 0) {
                    const ChildRun run = patchRun(source);
                    samples[QStringLiteral("patch")].push_back(run.seconds);
                    samples[QStringLiteral("patch peak")].push_back(static_cast<double>(run.peakKb));
                    samples[QStringLiteral("loading")].push_back(milestone(run, "main"));
                    samples[QStringLiteral("open")].push_back(milestone(run, "ready") - milestone(run, "main"));
                    samples[QStringLiteral("PatchDatabase")].push_back(milestone(run, "patched") - milestone(run, "ready"));
                    samples[QStringLiteral("WriteUpdateHistory")].push_back(milestone(run, "history") - milestone(run, "patched"));
                    samples[QStringLiteral("FinishPatch")].push_back(milestone(run, "finished") - milestone(run, "history"));
                    samples[QStringLiteral("work")].push_back(milestone(run, "finished") - milestone(run, "ready"));
                    samples[QStringLiteral("exit")].push_back(run.seconds - milestone(run, "finished"));
                } else {
                    const ChildRun run = shellRun(source);
                    samples[QStringLiteral("shell")].push_back(run.seconds);
                    samples[QStringLiteral("shell peak")].push_back(static_cast<double>(run.peakKb));
                }
            }
            checkSameWork(rows);
            copyFile(source, database(QStringLiteral("patch")));
            const ChildRun click = child({QStringLiteral("--child-click"), path(QStringLiteral("patch"))});
            samples[QStringLiteral("click")].push_back(milestone(click, "finished") - milestone(click, "click"));
            m_patchState = writtenState(database(QStringLiteral("patch")));
            checkSameWork(rows);
        }
        QFile::remove(source);
        QFile::remove(database(QStringLiteral("patch")));
        QFile::remove(database(QStringLiteral("shell")));
        return work;
    }

    /// Each side started and ended with no work: what process start alone costs.
    DataWork measureIdle()
    {
        DataWork idle;
        idle.label = QStringLiteral("none: start and exit only");
        for (int round = -1; round < m_runs; ++round) {
            const ChildRun patch = child({QStringLiteral("--child-idle")});
            const ChildRun shell = child({QStringLiteral("--version")}, Shell);
            if (round < 0)
                continue;
            idle.samples[QStringLiteral("patch")].push_back(patch.seconds);
            idle.samples[QStringLiteral("patch peak")].push_back(static_cast<double>(patch.peakKb));
            idle.samples[QStringLiteral("shell")].push_back(shell.seconds);
            idle.samples[QStringLiteral("shell peak")].push_back(static_cast<double>(shell.peakKb));
        }
        return idle;
    }

    std::pair<Samples, Samples> measureStartUp()
    {
        makeProductDatabase(database(QStringLiteral("start")));
        Samples patch, bare;
        // The first of each warms the caches of Qt's plugins and fonts; it is not counted.
        for (int round = -1; round < m_runs; ++round) {
            for (int side = 0; side < 2; ++side) {
                if ((side + round + 2) % 2 == 0) {
                    const ChildRun run = child({QStringLiteral("--child-start-up"), path(QStringLiteral("start"))}, {}, "ready");
                    if (round < 0)
                        continue;
                    patch[QStringLiteral("ready")].push_back(run.readySeconds);
                    patch[QStringLiteral("loading")].push_back(milestone(run, "main"));
                    patch[QStringLiteral("application")].push_back(milestone(run, "application") - milestone(run, "main"));
                    patch[QStringLiteral("window")].push_back(milestone(run, "window_built") - milestone(run, "window_start"));
                    patch[QStringLiteral("show")].push_back(milestone(run, "connection") - milestone(run, "window_built"));
                    patch[QStringLiteral("database")].push_back(milestone(run, "main_returned") - milestone(run, "connection"));
                    patch[QStringLiteral("paint")].push_back(milestone(run, "painted") - milestone(run, "main_returned"));
                } else {
                    const ChildRun run = child({QStringLiteral("--child-bare-dialog")}, {}, "ready");
                    if (round < 0)
                        continue;
                    bare[QStringLiteral("ready")].push_back(run.readySeconds);
                    bare[QStringLiteral("loading")].push_back(milestone(run, "main"));
                    bare[QStringLiteral("application")].push_back(milestone(run, "application") - milestone(run, "main"));
                    bare[QStringLiteral("window")].push_back(milestone(run, "main_returned") - milestone(run, "application"));
                    bare[QStringLiteral("paint")].push_back(milestone(run, "painted") - milestone(run, "main_returned"));
                }
            }
        }
        return {patch, bare};
    }

private:
    QTemporaryDir m_dir;
    QString m_self;
    QString m_launcher;
    int m_runs;
    QString m_script;
    QString m_patchState;
    QString m_shellState;
};

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown");
    return QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2);
}

QString medianMs(const Samples &samples, const QString &name)
{
    const auto found = samples.find(name);
    return found == samples.end() ? QStringLiteral("-") : milliseconds(median(found->second));
}

} // namespace

int runBenchmark(const QString &self, int runs)
{
    Bench bench(self, runs);
    const QString loadBefore = loadAverage();
    const QString shellVersion = bench.shellVersion();

    std::vector<DataWork> works;
    for (const qint64 rows : {-1LL, 10LL, 10000LL, 1000000LL}) {
        std::fprintf(stderr, "measuring the data work with %s history rows...\n", rows < 0 ? "the demo's" : qPrintable(rowsLabel(rows)));
        works.push_back(bench.measureDataWork(rows));
    }
    std::fprintf(stderr, "measuring process start alone...\n");
    const DataWork idle = bench.measureIdle();
    std::fprintf(stderr, "measuring start-up...\n");
    const auto [startPatch, startBare] = bench.measureStartUp();

    const QString patch = QStringLiteral("patch");
    print(QStringLiteral("OLBRA patch benchmark: medians of %1 runs, on identical copies of the demo product database.").arg(runs));
    print(QStringLiteral("SQLite library %1 (patch), sqlite3 shell %2. Times in ms, memory in KiB.")
              .arg(QString::fromLatin1(sqlite3_libversion()), shellVersion));
    // Other work on the machine moves every figure; the load says how busy it was.
    print(QStringLiteral("Load average (1, 5, 15 min) before: %1; after: %2.").arg(loadBefore, loadAverage()));
    print();
    print(QStringLiteral("Data work of Apply against the sqlite3 shell doing the same three writes, one transaction each."));
    print(QStringLiteral("Both run as whole processes, timed from fork to exit, start-up's open included; peak is each"));
    print(QStringLiteral("process's own maximum resident size (wait4). In-process: Apply's data work alone, timed inside the"));
    print(QStringLiteral("patch's process, with the window kept in memory, and with the real window offscreen (a click on Apply)."));
    print(QStringLiteral("The last row starts and ends each program with no work (the shell prints its version)."));
    print();
    print(QStringLiteral("| history rows | patch | shell | ratio | patch peak | shell peak | patch in-process | real window in-process |"));
    print(QStringLiteral("|---:|---:|---:|---:|---:|---:|---:|---:|"));
    std::vector<DataWork> rows = works;
    rows.push_back(idle);
    for (const DataWork &work : rows) {
        print(QStringLiteral("| %1 | %2 | %3 | %4 | %5 | %6 | %7 | %8 |")
                  .arg(work.label, milliseconds(work[patch]), milliseconds(work[QStringLiteral("shell")]),
                       ratio(work[patch], work[QStringLiteral("shell")]))
                  .arg(work[QStringLiteral("patch peak")], 0, 'f', 0)
                  .arg(work[QStringLiteral("shell peak")], 0, 'f', 0)
                  .arg(medianMs(work.samples, QStringLiteral("work")), medianMs(work.samples, QStringLiteral("click"))));
    }
    print();
    print(QStringLiteral("Where the patch's process time goes (medians of each piece, so they need not add up exactly)."));
    print();
    print(QStringLiteral("| history rows | loading (fork to main) | start-up's open | PatchDatabase | WriteUpdateHistory | FinishPatch | exit |"));
    print(QStringLiteral("|---:|---:|---:|---:|---:|---:|---:|"));
    for (const DataWork &work : works) {
        QStringList cells{work.label};
        for (const char *piece : {"loading", "open", "PatchDatabase", "WriteUpdateHistory", "FinishPatch", "exit"})
            cells << medianMs(work.samples, QString::fromLatin1(piece));
        print(QStringLiteral("| ") + cells.join(QStringLiteral(" | ")) + QStringLiteral(" |"));
    }

    print();
    print(QStringLiteral("Start-up to the ready window (database open, prompt shown, first paint; offscreen), from fork to the"));
    print(QStringLiteral("ready line, against a bare 410x231 QDialog started the same way; then the same split into pieces."));
    print();
    const double startUp = median(startPatch.at(QStringLiteral("ready")));
    const double bare = median(startBare.at(QStringLiteral("ready")));
    print(QStringLiteral("| | patch | bare dialog | ratio |"));
    print(QStringLiteral("|---|---:|---:|---:|"));
    print(QStringLiteral("| to the ready window | %1 | %2 | %3 |").arg(milliseconds(startUp), milliseconds(bare), ratio(startUp, bare)));
    const std::pair<const char *, const char *> pieces[] = {
        {"loading", "loading the program (fork to main)"},
        {"application", "QApplication"},
        {"window", "building the window (bare: and showing it)"},
        {"show", "Form_Load, show, settings"},
        {"database", "opening the database, status texts"},
        {"paint", "to the first paint"},
    };
    for (const auto &[key, label] : pieces)
        print(QStringLiteral("| %1 | %2 | %3 | |")
                  .arg(QString::fromLatin1(label), medianMs(startPatch, QString::fromLatin1(key)), medianMs(startBare, QString::fromLatin1(key))));

    const DataWork &few = works[1];
    const DataWork &many = works.back();
    const double fewRatio = few[patch] / few[QStringLiteral("shell")];
    const double manyRatio = many[patch] / many[QStringLiteral("shell")];
    const double growthKb = many[QStringLiteral("patch peak")] - few[QStringLiteral("patch peak")];
    const double startRatio = startUp / bare;
    const auto verdict = [](bool met) { return met ? QStringLiteral("met") : QStringLiteral("missed"); };
    print();
    print(QStringLiteral("| target | measured | |"));
    print(QStringLiteral("|---|---:|---|"));
    print(QStringLiteral("| data work at 10 history rows within 1.5 x the shell's | %1 x | %2 |").arg(fewRatio, 0, 'f', 2).arg(verdict(fewRatio <= 1.5)));
    print(QStringLiteral("| peak memory at 1 000 000 rows within 5 MiB of 10 rows | %1 KiB | %2 |")
              .arg(growthKb, 0, 'f', 0)
              .arg(verdict(growthKb <= 5 * 1024)));
    print(QStringLiteral("| data work at 1 000 000 rows within 2 x the shell's | %1 x | %2 |").arg(manyRatio, 0, 'f', 2).arg(verdict(manyRatio <= 2)));
    print(QStringLiteral("| start-up within 1.2 x the bare dialog's | %1 x | %2 |").arg(startRatio, 0, 'f', 2).arg(verdict(startRatio <= 1.2)));
    return 0;
}

} // namespace bench
