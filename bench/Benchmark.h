#pragma once

#include <QString>

namespace bench {

/// Runs every comparison `runs` times, re-running `self` for the patch's children, and prints
/// the tables. Returns 0 when every run did its work, whether or not the targets were met.
int runBenchmark(const QString &self, int runs);

} // namespace bench
