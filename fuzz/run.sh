#!/usr/bin/env bash
# Builds the fuzz targets and runs each for SECONDS (default 60), growing
# fuzz/corpus/<target>, which is then minimised in place. Inputs that crash,
# hang, leak or run out of memory land in build/fuzz/artifacts/<target>/;
# once fixed, keep each in fuzz/regressions/<target>/.
# Usage: fuzz/run.sh [SECONDS] [TARGET...]   (targets: reader lzx extract order extract_ahead site epub_page)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build="$root/build/fuzz"
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(reader lzx extract order extract_ahead site epub_page)

"$here/build.sh"
. "$here/options.sh"

status=0
for target in "${targets[@]}"; do
  # extract_ahead checks the decode-ahead threads under ThreadSanitizer on
  # the extract inputs; what it finds new goes to a throw-away folder.
  if [ "$target" = extract_ahead ]; then
    artifacts="$build/artifacts/$target"
    mkdir -p "$artifacts"
    echo "== $target: ${seconds}s"
    if ! "$root/build/fuzz-tsan/fuzz/${target}_fuzzer" "$(mktemp -d)" "$here/corpus/extract" "$here/seeds/extract" \
          "$here/regressions/$target" "$root/tests/data" -max_total_time="$seconds" -dict="$here/chm.dict" \
          "${FUZZ_TSAN_OPTIONS[@]}" -artifact_prefix="$artifacts/" -print_final_stats=1; then
      echo "== $target: FAILED, see $artifacts" >&2
      status=1
    fi
    continue
  fi
  corpus="$here/corpus/$target"
  artifacts="$build/artifacts/$target"
  large="$build/large/$target"
  mkdir -p "$corpus" "$artifacts" "$large"
  inputs=("$large" "$here/seeds/$target" "$here/regressions/$target")
  # The help files of the tests are inputs of the targets that read help files.
  case $target in reader | extract) inputs+=("$root/tests/data") ;; esac
  echo "== $target: ${seconds}s"
  if ! "$build/fuzz/${target}_fuzzer" "$corpus" "${inputs[@]}" \
        -max_total_time="$seconds" -dict="$here/$(target_dict "$target")" "${FUZZ_OPTIONS[@]}" $(target_options "$target") \
        -artifact_prefix="$artifacts/" -print_final_stats=1; then
    echo "== $target: FAILED, see $artifacts" >&2
    status=1
  fi
  # Minimise: keep only the inputs that add coverage. Those above 64 KiB
  # (mostly changed copies of the fixtures) stay out of the repository, in
  # build/fuzz/large/<target>, which later runs read as well.
  fresh=$(mktemp -d "$build/merge.XXXXXX")
  if "$build/fuzz/${target}_fuzzer" -merge=1 "$fresh" "$corpus" "$large" "${FUZZ_OPTIONS[@]}" $(target_options "$target") \
       >"$build/merge-$target.log" 2>&1; then
    rm -rf "$corpus" "$large" && mv "$fresh" "$corpus" && mkdir -p "$large"
    find "$corpus" -type f -size +64k -exec mv -t "$large" {} +
  else
    rm -rf "$fresh"
  fi
done
exit $status
