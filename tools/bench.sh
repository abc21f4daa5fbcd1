#!/usr/bin/env bash
# Installs what is missing, builds the benchmark in Release in build-bench/ (or $BENCH_BUILD_DIR) and
# prints its tables: the patch against the sqlite3 shell and against a bare dialog. Not a test.
# Arguments go to the benchmark: --runs N (7 by default).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BENCH_BUILD_DIR:-$root/build-bench}"
bash "$root/tools/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target olbra_bench >/dev/null
exec "$build/bench/olbra_bench" "$@"
