#!/usr/bin/env bash
# Builds the fuzz target with clang in build-fuzz/ (or $FUZZ_BUILD_DIR) and runs it for a bounded
# time ($FUZZ_SECONDS, 120 by default) on a scratch copy of fuzz/corpus, so that the repository's
# corpus stays as it is. A crash, hang, leak, out-of-bounds access or broken rule fails the run and
# leaves the input in build-fuzz/findings/.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${FUZZ_BUILD_DIR:-$root/build-fuzz}"
seconds="${FUZZ_SECONDS:-120}"
bash "$root/tools/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_COMPILE_WARNING_AS_ERROR=ON \
    -DOLBRA_SANITIZE=ON -DOLBRA_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target fuzz_patch

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/corpus" "$build/findings"
cp "$root"/fuzz/corpus/* "$scratch/corpus/"

export ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:detect_leaks=1:check_initialization_order=1:strict_init_order=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
limits=(-timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=1024)
fuzzer="$build/fuzz/fuzz_patch"
# The target's own scratch folder goes with ours, even after a crash.
export TMPDIR="$scratch"
cd "$scratch"

echo "-- the kept hostile files, each once"
"$fuzzer" "${limits[@]}" "$root"/fuzz/regressions/*.mdb

echo "-- fuzzing for ${seconds} s"
"$fuzzer" "${limits[@]}" -max_total_time="$seconds" -max_len=16384 -print_final_stats=1 \
    -dict="$root/fuzz/patch.dict" -artifact_prefix="$build/findings/" "$scratch/corpus"
