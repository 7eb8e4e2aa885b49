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
[ ${#targets[@]} -gt 0 ] || targets=(reader lzx extract order extract_ahead)

(cd "$root" && cmake --preset fuzz-coverage >/dev/null && cmake --build --preset fuzz-coverage)
. "$here/options.sh"

for target in "${targets[@]}"; do
  binary="$out/fuzz/${target}_fuzzer"
  inputs=("$here/corpus/$target" "$here/seeds/$target" "$here/regressions/$target")
  # extract_ahead runs the extract inputs, decoding ahead on 2 workers.
  [ "$target" = extract_ahead ] && inputs=("$here/corpus/extract" "$here/seeds/extract" "$here/regressions/$target")
  # The help files of the tests are inputs of the targets that read help files.
  case $target in reader | extract | extract_ahead) inputs+=("$root/tests/data") ;; esac
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

# All the targets run together: each line counted once.
if [ ${#targets[@]} -gt 1 ]; then
  objects=("$out/fuzz/${targets[0]}_fuzzer")
  profiles=()
  for target in "${targets[@]}"; do
    [ "$target" = "${targets[0]}" ] || objects+=(-object "$out/fuzz/${target}_fuzzer")
    profiles+=("$out/$target.profraw")
  done
  llvm-profdata merge -sparse "${profiles[@]}" -o "$out/all.profdata"
  echo "== all targets"
  llvm-cov report "${objects[@]}" -instr-profile="$out/all.profdata" \
    "$root/platform/storage" "$root/catalogue" | sed "s|$root/||"
fi
