#!/usr/bin/env bash
# Builds the program and its tests with AddressSanitizer and UndefinedBehaviorSanitizer in
# build-asan/ (or $ASAN_BUILD_DIR) and runs every test there: any report fails the run.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${ASAN_BUILD_DIR:-$root/build-asan}"
bash "$root/tools/install-deps.sh"
# clang, as for the fuzz target: under -fsanitize=address GCC 12 warns of uninitialized values
# inside std::variant that are not there, and warnings are errors.
BUILD_DIR="$build" bash "$root/tools/build.sh" -DOLBRA_SANITIZE=ON -DCMAKE_CXX_COMPILER=clang++

# The first report ends the test or program with a failure; leaks are checked as each process
# ends, with only the desktop libraries' own memory suppressed (tests/lsan.supp).
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:detect_leaks=1:check_initialization_order=1:strict_init_order=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
cd "$build"
# The end-to-end scripts start the sanitized program itself under a display server: a report
# there ends the program with an abort, which fails the script.
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2
