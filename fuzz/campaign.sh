#!/usr/bin/env bash
# A long run: two lanes side by side (one per core), each running its targets
# in turn, at the lowest priority so that the machine stays usable. Every
# target starts from the committed inputs and grows a working corpus in
# build/fuzz/campaign/<target>; what crashes, hangs, leaks or runs out of
# memory lands in build/fuzz/artifacts/<target>/. At the end each target's
# executions, speed and coverage are written to build/fuzz/campaign/summary,
# and the working corpus is minimised into fuzz/corpus/<target> (inputs above
# 64 KiB go to build/fuzz/large/<target>, as in run.sh).
# Usage: fuzz/campaign.sh LANE LANE
#   LANE: TARGET:SECONDS[,TARGET:SECONDS...], e.g. lzx:3000,reader:2400
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build="$root/build/fuzz"
work="$build/campaign"
[ $# -ge 1 ] || { echo "usage: $0 LANE [LANE]" >&2; exit 2; }

"$here/build.sh" >/dev/null
. "$here/options.sh"
mkdir -p "$work"

run_target() {
  local target=$1 seconds=$2
  local corpus="$work/$target" artifacts="$build/artifacts/$target"
  local fuzzer="$build/fuzz/${target}_fuzzer" options=("${FUZZ_OPTIONS[@]}" $(target_options "$target"))
  local inputs=("$here/corpus/$target" "$here/seeds/$target" "$here/regressions/$target" "$build/large/$target")
  if [ "$target" = extract_ahead ]; then
    fuzzer="$root/build/fuzz-tsan/fuzz/${target}_fuzzer" options=("${FUZZ_TSAN_OPTIONS[@]}")
    inputs=("$here/corpus/extract" "$here/seeds/extract" "$here/regressions/$target")
  fi
  case $target in reader | extract | extract_ahead) inputs+=("$root/tests/data") ;; esac
  local present=() dir
  for dir in "${inputs[@]}"; do [ -d "$dir" ] && present+=("$dir"); done
  mkdir -p "$corpus" "$artifacts"
  local started log; started=$(date -u +%FT%TZ)
  log="$work/$target.$(date +%s).log"
  touch "$log.start"
  # A finding stops that target's run; the lane goes on with the next.
  nice -n 19 "$fuzzer" "$corpus" "${present[@]}" -max_total_time="$seconds" -dict="$here/chm.dict" \
    "${options[@]}" -artifact_prefix="$artifacts/" -print_final_stats=1 >"$log" 2>&1 || true
  local units rate line
  units=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  line=$(grep -E '(DONE|pulse|NEW|REDUCE)  ' "$log" | tail -1 | grep -oE 'cov: [0-9]+ ft: [0-9]+' || true)
  echo "$target started $started for ${seconds}s: ${units:-?} executions, ${rate:-?}/s, ${line:-no coverage line}," \
       "findings: $(find "$artifacts" -type f -newer "$log.start" 2>/dev/null | wc -l)" >>"$work/summary"
}

lane() {
  local item
  IFS=, read -ra items <<<"$1"
  for item in "${items[@]}"; do
    run_target "${item%%:*}" "${item##*:}"
  done
}

for plan in "$@"; do lane "$plan" & done
wait

# Minimise each working corpus together with the committed one.
for target in reader lzx extract order; do
  [ -d "$work/$target" ] || continue
  fresh=$(mktemp -d "$build/merge.XXXXXX")
  mkdir -p "$build/large/$target" "$here/corpus/$target"
  if "$build/fuzz/${target}_fuzzer" -merge=1 "$fresh" "$here/corpus/$target" "$build/large/$target" "$work/$target" \
       "${FUZZ_OPTIONS[@]}" $(target_options "$target") >"$work/merge-$target.log" 2>&1; then
    rm -rf "$here/corpus/$target" "$build/large/$target" && mv "$fresh" "$here/corpus/$target"
    mkdir -p "$build/large/$target"
    find "$here/corpus/$target" -type f -size +64k -exec mv -t "$build/large/$target" {} +
  else
    rm -rf "$fresh"
  fi
done
cat "$work/summary"
