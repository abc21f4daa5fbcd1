// The patch's benchmark. Without arguments it measures and prints its tables; the other forms are
// the children it starts of itself, and can be run by hand to profile one of them.
#include "Benchmark.h"
#include "ChildModes.h"

#include <QFileInfo>
#include <QString>

#include <cstdio>
#include <cstring>
#include <exception>

namespace {

void usage()
{
    std::fputs("usage: olbra_bench [--runs N]\n"
               "       olbra_bench --child-apply FOLDER | --child-click FOLDER | --child-start-up FOLDER\n"
               "       olbra_bench --child-bare-dialog | --child-idle\n"
               "FOLDER holds the OLBRAData.mdb to work on.\n",
               stderr);
}

} // namespace

int main(int argc, char *argv[])
{
    bench::markMainEntered();
    const auto is = [&](int index, const char *word) { return argc > index && std::strcmp(argv[index], word) == 0; };
    try {
        if (argc == 3 && is(1, "--child-apply"))
            return bench::childApply(QString::fromLocal8Bit(argv[2]));
        if (argc == 3 && is(1, "--child-click"))
            return bench::childClick(QString::fromLocal8Bit(argv[2]));
        if (argc == 3 && is(1, "--child-start-up"))
            return bench::childStartUp(QString::fromLocal8Bit(argv[2]));
        if (argc == 2 && is(1, "--child-bare-dialog"))
            return bench::childBareDialog();
        if (argc == 2 && is(1, "--child-idle"))
            return 0;
        int runs = 7;
        if (argc == 3 && is(1, "--runs"))
            runs = QString::fromLocal8Bit(argv[2]).toInt();
        else if (argc != 1) {
            usage();
            return 2;
        }
        if (runs < 1) {
            usage();
            return 2;
        }
        // The children are this very file, whatever the name it was started by.
        return bench::runBenchmark(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath(), runs);
    } catch (const std::exception &failure) {
        std::fprintf(stderr, "olbra_bench: %s\n", failure.what());
        return 2;
    }
}
