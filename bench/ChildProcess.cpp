#include "ChildProcess.h"

#include <QFile>
#include <QProcess>

#include <stdexcept>

#include <time.h>

namespace bench {

ChildRun runChild(const QString &launcher, const QString &program, const QStringList &arguments, const QString &errorFile,
                  const QByteArray &readyLine)
{
    QProcess process;
    process.setProgram(launcher);
    process.setArguments(QStringList{readyLine.isEmpty() ? QStringLiteral("-") : QString::fromLatin1(readyLine), errorFile, program}
                         + arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start();
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        throw std::runtime_error(QStringLiteral("the launcher %1 failed: %2").arg(launcher, process.errorString()).toStdString());

    ChildRun run;
    const QByteArray all = process.readAllStandardOutput();
    for (const QByteArray &line : all.split('\n')) {
        if (line.startsWith("launch.")) {
            const qsizetype equals = line.indexOf('=');
            const QByteArray key = line.mid(7, equals - 7);
            const QByteArray value = line.mid(equals + 1);
            if (key == "fork_at")
                run.forkAt = value.toDouble();
            else if (key == "seconds")
                run.seconds = value.toDouble();
            else if (key == "ready_seconds")
                run.readySeconds = value.toDouble();
            else if (key == "peak_kb")
                run.peakKb = value.toLong();
            else if (key == "exit")
                run.exitCode = value.toInt();
        } else if (!line.isEmpty()) {
            run.output += line + '\n';
        }
    }
    QFile errors(errorFile);
    if (errors.open(QIODevice::ReadOnly))
        run.errors = errors.readAll();
    return run;
}

QByteArray outputValue(const QByteArray &output, const QByteArray &key)
{
    for (const QByteArray &line : output.split('\n'))
        if (line.startsWith(key + '='))
            return line.mid(key.size() + 1);
    return {};
}

double milestone(const ChildRun &run, const QByteArray &name)
{
    const QByteArray at = outputValue(run.output, "at." + name);
    if (at.isEmpty())
        throw std::runtime_error(("a child did not report its milestone " + name).toStdString());
    return at.toDouble() - run.forkAt;
}

double monotonicNow()
{
    timespec time{};
    clock_gettime(CLOCK_MONOTONIC, &time);
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) / 1e9;
}

} // namespace bench
