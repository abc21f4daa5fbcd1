// olbra_bench_launch: starts one program, times it and reads its peak memory, for olbra_bench.
//
// Linux carries a process's peak resident size across exec, so a child spawned straight from the
// benchmark would report the benchmark's own peak. This launcher is linked statically and kept to
// the C library: its child is forked from a process of a few hundred KiB, and the peak that wait4
// returns is the started program's own.
//
//   olbra_bench_launch READY ERRORS PROGRAM [ARGUMENTS...]
//
// READY is a line the program prints when it is ready ("-": none awaited); ERRORS the file that
// takes its standard error. Prints the program's standard output, then launch.* lines: the monotonic
// clock at the fork (children print milestones on the same clock), seconds from the fork to the
// ready line and to the exit, the peak resident size in KiB, and the exit code.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

double now()
{
    timespec time{};
    clock_gettime(CLOCK_MONOTONIC, &time);
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) / 1e9;
}

// The output is kept whole: the benchmark's children print a few lines at most.
char output[1 << 16];
std::size_t outputSize = 0;

bool hasLine(const char *line)
{
    const std::size_t length = std::strlen(line);
    for (std::size_t start = 0; start + length < outputSize + 1; ++start) {
        const bool atLineStart = start == 0 || output[start - 1] == '\n';
        if (atLineStart && start + length < outputSize && output[start + length] == '\n'
            && std::memcmp(output + start, line, length) == 0)
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 4) {
        std::fputs("usage: olbra_bench_launch READY|- ERRORS PROGRAM [ARGUMENTS...]\n", stderr);
        return 2;
    }
    const char *ready = std::strcmp(argv[1], "-") == 0 ? nullptr : argv[1];
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        std::perror("olbra_bench_launch: pipe");
        return 2;
    }

    const double start = now();
    const pid_t pid = fork();
    if (pid < 0) {
        std::perror("olbra_bench_launch: fork");
        return 2;
    }
    if (pid == 0) {
        const int errors = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const int nothing = open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (errors < 0 || nothing < 0 || dup2(nothing, STDIN_FILENO) < 0 || dup2(ends[1], STDOUT_FILENO) < 0
            || dup2(errors, STDERR_FILENO) < 0)
            _exit(126);
        execvp(argv[3], argv + 3);
        std::fprintf(stderr, "olbra_bench_launch: cannot start %s: %s\n", argv[3], std::strerror(errno));
        _exit(127);
    }
    close(ends[1]);

    double readyAt = 0;
    for (;;) {
        if (outputSize == sizeof output) {
            // Keep reading so that the child never blocks; what does not fit is dropped.
            char spill[4096];
            const ssize_t got = read(ends[0], spill, sizeof spill);
            if (got > 0 || (got < 0 && errno == EINTR))
                continue;
            break;
        }
        const ssize_t got = read(ends[0], output + outputSize, sizeof output - outputSize);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        outputSize += static_cast<std::size_t>(got);
        if (ready && readyAt == 0 && hasLine(ready))
            readyAt = now() - start;
    }
    close(ends[0]);
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            std::perror("olbra_bench_launch: wait4");
            return 2;
        }
    }
    const double seconds = now() - start;

    std::fwrite(output, 1, outputSize, stdout);
    if (outputSize > 0 && output[outputSize - 1] != '\n')
        std::fputc('\n', stdout);
    std::printf("launch.fork_at=%.9f\nlaunch.seconds=%.9f\nlaunch.ready_seconds=%.9f\nlaunch.peak_kb=%ld\nlaunch.exit=%d\n", start,
                seconds, readyAt, usage.ru_maxrss, WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    return 0;
}
