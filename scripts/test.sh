#!/usr/bin/env bash
# Installs what is missing, configures, builds everything and runs every test.
#   scripts/test.sh             the normal build, in build/
#   scripts/test.sh --sanitize  the same with AddressSanitizer and UBSan, in build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "${1:-}" = "--sanitize" ]; then
  build_dir=build-asan
  options=(-DCMAKE_BUILD_TYPE=Debug -DOMBRIK_SANITIZE=ON)
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
fi

bash scripts/install-deps.sh
cmake -S . -B "$build_dir" "${options[@]}"
cmake --build "$build_dir" -j"$(nproc)"
ctest --test-dir "$build_dir" --output-on-failure -j"$(nproc)" --timeout 600
