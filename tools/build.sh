#!/usr/bin/env bash
# Configures and builds the program and its tests in build/ (or $BUILD_DIR), warnings as errors.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_COMPILE_WARNING_AS_ERROR=ON "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
