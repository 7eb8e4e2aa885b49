#!/usr/bin/env bash
# CI's short fuzzing: builds the targets and runs each for SECONDS (default
# 60) from the committed seeds, corpus and regressions. New inputs go to a
# throw-away folder, so the checkout is left as it was. Exits non-zero when a
# target finds a crash, hang, leak or excess memory use.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
bin="$root/build/fuzz/fuzz"
seconds=${1:-60}

"$here/build.sh"
. "$here/options.sh"

scratch=$(mktemp -d)  # inside $TMPDIR, removed at exit
status=0
for target in reader lzx extract order extract_ahead site epub_page; do
  mkdir -p "$scratch/$target" "$scratch/artifacts-$target"
  inputs=("$here/corpus/$target" "$here/seeds/$target" "$here/regressions/$target")
  fuzzer="$bin/${target}_fuzzer" options=("${FUZZ_OPTIONS[@]}" $(target_options "$target"))
  dict="$here/$(target_dict "$target")"
  # extract_ahead runs the extract inputs, in its ThreadSanitizer build.
  if [ "$target" = extract_ahead ]; then
    inputs=("$here/corpus/extract" "$here/seeds/extract" "$here/regressions/$target")
    fuzzer="$root/build/fuzz-tsan/fuzz/${target}_fuzzer" options=("${FUZZ_TSAN_OPTIONS[@]}")
  fi
  # The help files of the tests are inputs of the targets that read help files.
  case $target in reader | extract | extract_ahead) inputs+=("$root/tests/data") ;; esac
  # A folder that a checkout does not have (an empty corpus) is left out.
  present=()
  for dir in "${inputs[@]}"; do [ -d "$dir" ] && present+=("$dir"); done
  inputs=("${present[@]}")
  echo "== $target: ${seconds}s"
  if ! "$fuzzer" "$scratch/$target" "${inputs[@]}" \
        -max_total_time="$seconds" -dict="$dict" "${options[@]}" \
        -artifact_prefix="$scratch/artifacts-$target/" -print_final_stats=1 2>"$scratch/$target.log"; then
    tail -n 60 "$scratch/$target.log" >&2
    for artifact in "$scratch/artifacts-$target"/*; do
      [ -e "$artifact" ] && echo "reproducer: $(basename "$artifact") ($(base64 -w0 "$artifact" | head -c 2000))" >&2
    done
    echo "== $target: FAILED" >&2
    status=1
  else
    grep -E '^(#[0-9]+.*DONE|stat::number_of_executed_units|stat::peak_rss_mb)' "$scratch/$target.log" || true
  fi
done
exit $status
