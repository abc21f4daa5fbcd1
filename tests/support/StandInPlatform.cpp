#include "StandInPlatform.h"

StandInPlatform::StandInPlatform() { olbra::setPlatform(this); }

StandInPlatform::~StandInPlatform() { olbra::setPlatform(nullptr); }

std::int16_t StandInPlatform::messageBox(olbra::BoxKind kind, const QString &title, const QString &text)
{
    boxes.append({kind, title, text});
    if (kind != olbra::BoxKind::Question)
        return olbra::Answer::OK;
    return questionAnswers.isEmpty() ? olbra::Answer::Yes : questionAnswers.takeFirst();
}

QString StandInPlatform::programFile() const
{
    return programFilePath.isEmpty() ? olbra::Platform::programFile() : programFilePath;
}

void StandInPlatform::startProgram(const QString &name, int showState)
{
    starts.append({name, showState});
    if (startForReal)
        olbra::Platform::startProgram(name, showState);
}

void StandInPlatform::endProgram() { ++endCount; }

void StandInPlatform::endWithUncaughtFailure(const olbra::Failure &failure) { uncaught.append(failure); }

std::unique_ptr<olbra::DataConnection> StandInPlatform::createDataConnection()
{
    return connectionFactory ? connectionFactory() : olbra::Platform::createDataConnection();
}
