#!/usr/bin/env bash
# The libFuzzer options every run of the targets shares: the reader must stay
# below 256 MiB and 10 s per input for any input up to 1 MiB. Source it: it
# sets FUZZ_OPTIONS and the sanitizers' options.
FUZZ_OPTIONS=(-rss_limit_mb=256 -malloc_limit_mb=256 -timeout=10 -max_len=1048580)
# AddressSanitizer's default quarantine of freed memory (256 MiB) alone would
# reach the memory limit; a smaller one still catches use after free. The
# stacks it records at each allocation are cut to 8 frames (30 by default):
# recording them showed plainly in profiles of the reader, and 8 frames
# still name the code that allocated.
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=32:detect_leaks=1:malloc_context_size=8}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# Options of one target on top of those: the storage-order target reads at
# most 256 items of at most 17 bytes, so longer inputs only cost time.
# The e-book page target's own memory holds still (its 20 largest inputs
# replayed 10 or 100 times each peak at 100 MB either way), but libFuzzer's
# and AddressSanitizer's bookkeeping grows with every input kept and freed:
# 256 MB after about 12 000 runs. A single allocation is still held to
# -malloc_limit_mb.
target_options() {
  case $1 in
    order) echo -max_len=4352 ;;
    epub_page) echo -rss_limit_mb=512 ;;
  esac
}
# The dictionary of a target, in fuzz/: the site and e-book page targets
# read markup, the others help files.
target_dict() {
  case $1 in
    site | epub_page) echo site.dict ;;
    *) echo chm.dict ;;
  esac
}
# extract_ahead (ThreadSanitizer, 2 decode-ahead workers): a run is several
# times slower, and TSan's memory grows with every pair of worker threads a
# run starts and joins (about 27 KB a run, 1 026 MB after 34 000 runs, where
# the same target under ASan stays at 135 MB), so its limit is higher;
# libFuzzer's own counters are suppressed (fuzz/tsan.supp).
FUZZ_TSAN_OPTIONS=(-rss_limit_mb=4096 -malloc_limit_mb=256 -timeout=30 -max_len=1048580)
# Told to flush its shadow memory above 640 MB, TSan grows about half as
# fast (12 KB a run).
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:memory_limit_mb=640:suppressions=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/tsan.supp}
# The targets write each input to a file under $TMPDIR: a folder of this run,
# in memory where possible, removed when the script ends.
fuzz_tmp=$(mktemp -d -p "$( [ -w /dev/shm ] && echo /dev/shm || echo "${TMPDIR:-/tmp}")" vexmor-fuzz.XXXXXX)
trap 'rm -rf "$fuzz_tmp"' EXIT
export TMPDIR=$fuzz_tmp
