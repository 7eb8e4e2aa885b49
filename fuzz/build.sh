#!/usr/bin/env bash
# Configures and builds the fuzz targets with the project's `fuzz` preset:
# clang, libFuzzer instrumentation, ASan + UBSan, asserts on, into build/fuzz;
# and extract_ahead with the `fuzz-tsan` preset (ThreadSanitizer) into
# build/fuzz-tsan.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
cmake --preset fuzz-tsan >/dev/null
cmake --build --preset fuzz-tsan
