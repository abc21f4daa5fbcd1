#pragma once

#include "DataConnection.h"
#include "Failure.h"

#include <QDate>
#include <QString>

#include <cstdint>
#include <exception>
#include <memory>
#include <new>

namespace olbra {

/// The three kinds of message box: failure reports (stop icon, OK), notices (OK, no icon) and the
/// one question (Yes and No, Yes the default, no icon).
enum class BoxKind { Failure, Notice, Question };

namespace Answer {
inline constexpr std::int16_t OK = 1;
inline constexpr std::int16_t Yes = 6;
inline constexpr std::int16_t No = 7;
} // namespace Answer

/// Show state that asks a started program to come up minimized and active.
inline constexpr int ShowMinimized = 2;

struct ProgramVersion {
    int major;
    int minor;
    int revision;
};

/// The program's version as the build states it.
constexpr ProgramVersion programVersion() { return {OLBRA_VERSION_MAJOR, OLBRA_VERSION_MINOR, OLBRA_VERSION_REVISION}; }

/// The title of a message box that names none.
QString programTitle();

/// What the program asks of the desktop. The members are virtual so that tests can stand in for
/// the desktop; the program itself uses this class as it is.
class Platform {
public:
    virtual ~Platform();

    /// Shows a modal box and returns its answer code (Answer::OK, Yes or No).
    virtual std::int16_t messageBox(BoxKind kind, const QString &title, const QString &text);
    /// The absolute path of the running program file.
    virtual QString programFile() const;
    /// Starts a program by its bare file name without waiting for it.
    virtual void startProgram(const QString &name, int showState);
    /// Ends the program at once: no further code of it runs. Callers return right after the call,
    /// so that a stand-in that only records it leaves nothing more to run.
    virtual void endProgram();
    /// Reports a failure that no routine caught, then ends the program (same contract).
    virtual void endWithUncaughtFailure(const Failure &failure);
    virtual std::unique_ptr<DataConnection> createDataConnection();
    virtual QDate currentDate() const;

    /// The folder that holds the running program file, not the working folder.
    QString programFolder() const;
    /// The program file's name without folder and extension.
    QString executableName() const;
};

/// The desktop in use: the real one unless a stand-in was set.
Platform &platform();
/// Sets a stand-in; nullptr puts the real desktop back.
void setPlatform(Platform *standIn);

/// A modal box; an empty title shows the program's title.
std::int16_t MsgBox(BoxKind kind, const QString &text, const QString &title = {});

/// Runs a handler or start-up to its end; a failure that it does not catch ends the program
/// through the desktop's report, so that no exception ever crosses the event loop.
template <class Routine>
void runGuarded(Routine &&routine)
{
    try {
        routine();
    } catch (const Failure &failure) {
        platform().endWithUncaughtFailure(failure);
    } catch (const std::bad_alloc &) {
        platform().endWithUncaughtFailure(Failure(ErrorCode::OutOfMemory, QStringLiteral("Out of memory")));
    } catch (const std::exception &failure) {
        platform().endWithUncaughtFailure(Failure(ErrorCode::InternalError, QString::fromLocal8Bit(failure.what())));
    }
}

/// Exit codes of the program.
namespace ExitCode {
inline constexpr int Normal = 0;
inline constexpr int NoDatabase = 1;
inline constexpr int UncaughtFailure = 3;
} // namespace ExitCode

} // namespace olbra
