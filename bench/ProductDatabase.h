#pragma once

#include <QString>

namespace bench {

/// The demo product database as the repository ships it, at `path`. With historyRows of 0 or
/// more, its update history is replaced by that many rows of earlier patches, none of them this
/// patch's, so that every run adds its row.
void makeProductDatabase(const QString &path, qint64 historyRows = -1);

/// Replaces `to` with a byte-for-byte copy of `from`.
void copyFile(const QString &from, const QString &to);

/// The number of rows of the update history.
qint64 historyRowCount(const QString &path);

/// What the three writes leave, quoted as SQLite quotes values: NHBASE row 1, the first NH row of
/// Panels, the number of history rows and the last of them by rowid. Two runs that did the same
/// work leave the same text.
QString writtenState(const QString &path);

/// The MLF that NHBASE row 1 holds, as the shell's script is to write it.
QString storedMlfLiteral(const QString &path);

} // namespace bench
