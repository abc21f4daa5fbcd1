#pragma once

#include <QString>

namespace olbra {

/// Where a program given by its bare file name is found: in the program folder first, then along
/// the search path. Empty and relative entries of the path stand for the working folder and are
/// skipped, so that a program planted there never runs. Empty when found nowhere.
QString findProgram(const QString &name, const QString &programFolder, const QString &searchPath);

/// Starts the program at an absolute path apart from this one: not waited for, no zombie left.
/// The show state reaches it in the environment variable OLBRA_SHOW_STATE, as X11 has no way for a
/// starter to impose one. Throws when it cannot be started.
void startDetached(const QString &absolutePath, int showState);

} // namespace olbra
