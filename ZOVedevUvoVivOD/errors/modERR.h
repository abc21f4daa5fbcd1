#pragma once

#include "Failure.h"

#include <QString>

#include <cstdint>

namespace modPatch {
// The error flag belongs to the patch state; it is kept here, beside the one routine that raises
// it, so that the reporter needs nothing of the patch. 0: no error reported, -1: one was.
extern std::int16_t gPatchError;
} // namespace modPatch

namespace modERR {

/// The answer code of the last error box.
extern std::int16_t gErrAnswer;

/// Raises gPatchError, then shows the failure's number, description and where it happened.
void ReportError(const olbra::Failure &error, const QString &context);

/// The report's text: "Error : <number> <description>" CR LF <context>.
QString ErrorMessage(const olbra::Failure &error, const QString &context);

} // namespace modERR
