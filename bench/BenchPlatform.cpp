#include "BenchPlatform.h"

#include "ChildProcess.h"

BenchPlatform::BenchPlatform(const QString &programFolder)
    : m_programFile(programFolder + QStringLiteral("/OLBRADURADIRURI"))
{
    olbra::setPlatform(this);
}

BenchPlatform::~BenchPlatform() { olbra::setPlatform(nullptr); }

std::int16_t BenchPlatform::messageBox(olbra::BoxKind kind, const QString &, const QString &text)
{
    incidents << QStringLiteral("box: ") + text;
    return kind == olbra::BoxKind::Question ? olbra::Answer::No : olbra::Answer::OK;
}

QString BenchPlatform::programFile() const { return m_programFile; }

void BenchPlatform::startProgram(const QString &name, int) { incidents << QStringLiteral("start: ") + name; }

void BenchPlatform::endProgram() { incidents << QStringLiteral("end of program requested"); }

void BenchPlatform::endWithUncaughtFailure(const olbra::Failure &failure)
{
    incidents << QStringLiteral("uncaught: %1 %2").arg(failure.number()).arg(failure.description());
}

std::unique_ptr<olbra::DataConnection> BenchPlatform::createDataConnection()
{
    connectionAt = bench::monotonicNow();
    return olbra::Platform::createDataConnection();
}

void BenchWindow::setProgressBarValue(float value)
{
    // The real bar refuses such a value; so must this one, or a wrong step would go unseen.
    if (!(value >= 0 && value <= 100))
        throw olbra::Failure(olbra::ErrorCode::InvalidPropertyValue, QStringLiteral("Invalid property value"));
    m_progress.append(value);
}
