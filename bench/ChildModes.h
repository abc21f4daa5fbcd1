#pragma once

#include <QString>

namespace bench {

// What the benchmark runs in a child process of its own, each on the product database in
// `folder`. Each prints "at.<milestone>=<monotonic clock>" lines and returns 0, or tells what went
// wrong on standard error and returns 2. The start-up children print "ready" once their window has
// first been painted.

/// Called first in main: the milestone that ends the program's loading.
void markMainEntered();

/// Start-up's open, then Apply's data work with the patch window kept in memory: no Qt
/// application, as the shell has none.
int childApply(const QString &folder);
/// Start-up with the real window offscreen, then a click on Apply.
int childClick(const QString &folder);
/// The program's start-up to the ready window, offscreen.
int childStartUp(const QString &folder);
/// A bare dialog of the patch window's size, started the same way.
int childBareDialog();

} // namespace bench
