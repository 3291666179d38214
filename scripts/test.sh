#!/usr/bin/env bash
# Installs what is missing, configures, builds everything and runs every test.
#   scripts/test.sh                         the normal build, in build/
#   scripts/test.sh --sanitize              the same with AddressSanitizer and UBSan, in build-asan/
#   scripts/test.sh [--sanitize] --repeat N runs the suite up to N times, each test until it
#                                           fails once, and lists every test that failed
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
repeat=()
while [ $# -gt 0 ]; do
  case "$1" in
    --sanitize)
      build_dir=build-asan
      options=(-DCMAKE_BUILD_TYPE=Debug -DOMBRIK_SANITIZE=ON)
      export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
      export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
      ;;
    --repeat)
      [[ "${2:-}" =~ ^[1-9][0-9]*$ ]] || { echo "test.sh: --repeat takes a count of runs (1 or more)" >&2; exit 2; }
      repeat=(--repeat "until-fail:$2")
      shift
      ;;
    *) echo "usage: scripts/test.sh [--sanitize] [--repeat N]" >&2; exit 2 ;;
  esac
  shift
done

bash scripts/install-deps.sh
cmake -S . -B "$build_dir" "${options[@]}"
cmake --build "$build_dir" -j"$(nproc)"
# Each test has its own, shorter limit (OMBRIK_TEST_TIMEOUT); this one only bounds the rest.
ctest --test-dir "$build_dir" --output-on-failure -j"$(nproc)" --timeout 600 "${repeat[@]}"
