#!/usr/bin/env bash
# Line coverage of the reader and the catalogue reached by the committed
# inputs (corpus, seeds, regressions, fixtures), per target and per file.
# Builds uninstrumented-for-fuzzing copies of the targets with clang's
# source coverage into fuzz/build/coverage.
# Usage: fuzz/coverage.sh [TARGET...]
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
out="$here/build/coverage"
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(reader lzx extract)
mkdir -p "$out"

sources=("$root"/platform/storage/*.cpp "$root"/catalogue/*.cpp "$here"/harness/*.cpp)
for target in "${targets[@]}"; do
  binary="$out/${target}_coverage"
  clang++ -std=c++20 -O1 -g -fprofile-instr-generate -fcoverage-mapping -fsanitize=fuzzer -I"$root" \
    "${sources[@]}" "$here/entry/${target}_fuzzer.cpp" -o "$binary"
  inputs=("$here/corpus/$target" "$here/seeds/$target" "$here/regressions/$target")
  [ "$target" = lzx ] || inputs+=("$root/tests/data")
  LLVM_PROFILE_FILE="$out/$target.profraw" "$binary" -runs=0 "${inputs[@]}" >/dev/null 2>&1
  llvm-profdata merge -sparse "$out/$target.profraw" -o "$out/$target.profdata"
  echo "== $target"
  llvm-cov report "$binary" -instr-profile="$out/$target.profdata" \
    "$root/platform/storage" "$root/catalogue" | sed "s|$root/||"
done
