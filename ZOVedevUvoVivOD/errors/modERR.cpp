#include "modERR.h"

#include "Platform.h"

namespace modPatch {
std::int16_t gPatchError = 0;
} // namespace modPatch

namespace modERR {

std::int16_t gErrAnswer = 0;

QString ErrorMessage(const olbra::Failure &error, const QString &context)
{
    return QStringLiteral("Error : ") + QString::number(error.number()) + QLatin1Char(' ') + error.description()
        + QStringLiteral("\r\n") + context;
}

void ReportError(const olbra::Failure &error, const QString &context)
{
    // First, so that the outcome reads as a failure even when the box cannot be shown.
    modPatch::gPatchError = -1;
    olbra::Platform &desktop = olbra::platform();
    gErrAnswer = desktop.messageBox(olbra::BoxKind::Failure, desktop.executableName(), ErrorMessage(error, context));
}

} // namespace modERR
