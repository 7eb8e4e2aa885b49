#!/usr/bin/env bash
# Configures and builds the fuzz targets with clang into fuzz/build.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ ! -f "$here/build/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S "$here" -B "$here/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$here/build" -j2 --target reader_fuzzer lzx_fuzzer extract_fuzzer
