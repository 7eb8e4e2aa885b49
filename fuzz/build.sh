#!/usr/bin/env bash
# Configures and builds the fuzz targets with the project's `fuzz` preset:
# clang, libFuzzer instrumentation, ASan + UBSan, asserts on, into build/fuzz;
# and extract_ahead with the `fuzz-tsan` preset (ThreadSanitizer) into
# build/fuzz-tsan.
set -euo pipefail
cd "$(dirname "$0")/.."
# Without it ThreadSanitizer reports libFuzzer's own counters as a race: the
# suppression matches by name, and only the symbolizer gives the name.
if ! command -v llvm-symbolizer >/dev/null; then
  echo "llvm-symbolizer is missing: \`make fuzz-deps\` installs what fuzzing needs" >&2
  exit 1
fi
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
cmake --preset fuzz-tsan >/dev/null
cmake --build --preset fuzz-tsan
