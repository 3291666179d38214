#!/usr/bin/env bash
# Builds the fuzz targets (clang 14, libFuzzer, ASan, UBSan) and runs each for a bounded time.
#   fuzz/run.sh [SECONDS]          every target, SECONDS each (default 60)
#   FUZZ_TARGETS="json cookies" fuzz/run.sh 600   only those
# The committed seeds (fuzz/corpus/<target>) and reproducers of past findings
# (fuzz/regressions/<target>) are run first; new inputs collect in the build folder, never in
# the repo. Fails on the first finding; the input that found it is kept in the build folder.
set -euo pipefail

# All in one function, read whole before it runs: editing this file during a long run then
# cannot change what the running copy does.
main() {
  here="$(cd "$(dirname "$0")" && pwd)"
  seconds="${1:-60}"
  build="${FUZZ_BUILD_DIR:-$here/../build-fuzz}"
  targets=(${FUZZ_TARGETS:-text_ops codepage url_parts headers cookies json file_name json_reader json_native})

  cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
  cmake --build "$build" -j2 --target "${targets[@]/#/fuzz_}"

  export ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
  for t in "${targets[@]}"; do
    exe="$build/fuzz_$t"
    work="$build/corpus/$t"
    artifacts="$build/findings/$t"
    mkdir -p "$work" "$artifacts"
    if [ -d "$here/regressions/$t" ] && [ -n "$(ls -A "$here/regressions/$t")" ]; then
      echo "== $t: reproducers of past findings"
      "$exe" -runs=0 "$here/regressions/$t"/* ||
        { echo "fuzz/run.sh: a past finding of $t is back" >&2; exit 1; }
    fi
    echo "== $t: ${seconds}s"
    # A unit that takes 30 s or 2 GB is a finding too (a hang, unbounded memory).
    status=0
    "$exe" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -max_len=65536 \
      -print_final_stats=1 -artifact_prefix="$artifacts/" "$work" "$here/corpus/$t" \
      >"$build/$t.log" 2>&1 || status=$?
    grep -v '^#[0-9]*[[:space:]]*\(NEW\|REDUCE\|pulse\)' "$build/$t.log" | tail -n 40
    if [ "$status" -ne 0 ]; then
      echo "fuzz/run.sh: finding in $t; inputs in $artifacts, log in $build/$t.log" >&2
      exit 1
    fi
  done
  echo "fuzz/run.sh: ${#targets[@]} targets, ${seconds}s each, no finding"
}
main "$@"
