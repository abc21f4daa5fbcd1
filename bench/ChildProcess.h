#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace bench {

/// One finished child process, as the launcher measured it from its fork.
struct ChildRun {
    double forkAt = 0;       // the monotonic clock at the fork, in seconds
    double seconds = 0;      // fork to exit, reaped
    double readySeconds = 0; // fork to the ready line, when one was awaited and came
    long peakKb = 0;         // the child's own peak resident size, from wait4
    int exitCode = -1;       // -1 when it did not exit normally
    QByteArray output;       // its standard output
    QByteArray errors;       // its standard error
};

/// Runs a program to its end through the launcher beside the benchmark, with no standard input.
/// `program` is found on PATH when it holds no slash. With a readyLine, readySeconds is taken
/// when that line arrives on standard output. Standard error goes to errorFile.
ChildRun runChild(const QString &launcher, const QString &program, const QStringList &arguments, const QString &errorFile,
                  const QByteArray &readyLine = {});

/// The value of a "key=value" line of a child's output; empty when there is none.
QByteArray outputValue(const QByteArray &output, const QByteArray &key);

/// Seconds from the fork to a milestone that the child printed as "at.<name>=<monotonic clock>".
double milestone(const ChildRun &run, const QByteArray &name);

/// The monotonic clock the launcher and the children share, in seconds.
double monotonicNow();

} // namespace bench
