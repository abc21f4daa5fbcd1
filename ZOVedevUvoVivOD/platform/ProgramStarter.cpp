#include "ProgramStarter.h"

#include "Failure.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>

namespace olbra {

namespace {

bool isProgram(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

} // namespace

QString findProgram(const QString &name, const QString &programFolder, const QString &searchPath)
{
    if (name.isEmpty() || name.contains(QLatin1Char('/')))
        return {};
    if (!programFolder.isEmpty() && QDir::isAbsolutePath(programFolder)) {
        const QString candidate = QDir(programFolder).absoluteFilePath(name);
        if (isProgram(candidate))
            return candidate;
    }
    for (const QString &entry : searchPath.split(QLatin1Char(':'))) {
        if (entry.isEmpty() || !QDir::isAbsolutePath(entry))
            continue;
        const QString candidate = QDir(entry).absoluteFilePath(name);
        if (isProgram(candidate))
            return candidate;
    }
    return {};
}

void startDetached(const QString &absolutePath, int showState)
{
    QProcess process;
    process.setProgram(absolutePath);
    process.setWorkingDirectory(QFileInfo(absolutePath).absolutePath());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("OLBRA_SHOW_STATE"), QString::number(showState));
    process.setProcessEnvironment(environment);
    if (!process.startDetached())
        throw Failure(ErrorCode::ProgramNotStarted,
                      QStringLiteral("The program \"%1\" could not be started: %2").arg(absolutePath, process.errorString()));
}

} // namespace olbra
