#!/usr/bin/env bash
# Line coverage of the reader and the catalogue reached by the committed
# inputs (corpus, seeds, regressions, fixtures), per target and per file.
# Builds the targets with clang's source coverage and no sanitizers (the
# project's `fuzz-coverage` preset, into build/fuzz-coverage).
# Usage: fuzz/coverage.sh [TARGET...]
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
out="$root/build/fuzz-coverage"
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(reader lzx extract order)

(cd "$root" && cmake --preset fuzz-coverage >/dev/null && cmake --build --preset fuzz-coverage)
. "$here/options.sh"

for target in "${targets[@]}"; do
  binary="$out/fuzz/${target}_fuzzer"
  inputs=("$here/corpus/$target" "$here/seeds/$target" "$here/regressions/$target")
  # The help files of the tests are inputs of the targets that read help files.
  case $target in reader | extract) inputs+=("$root/tests/data") ;; esac
  # A folder that a checkout does not have (an empty corpus) is left out.
  present=()
  for dir in "${inputs[@]}"; do [ -d "$dir" ] && present+=("$dir"); done
  inputs=("${present[@]}")
  LLVM_PROFILE_FILE="$out/$target.profraw" "$binary" -runs=0 "${inputs[@]}" >/dev/null 2>&1
  llvm-profdata merge -sparse "$out/$target.profraw" -o "$out/$target.profdata"
  echo "== $target"
  llvm-cov report "$binary" -instr-profile="$out/$target.profdata" \
    "$root/platform/storage" "$root/catalogue" | sed "s|$root/||"
done
