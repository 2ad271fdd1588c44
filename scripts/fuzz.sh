#!/usr/bin/env bash
# Runs the fuzz targets (built with clang, ASan + UBSan and libFuzzer in build-asan/) one after
# the other, each for the given seconds (default 600), on its seed corpus (made by fuzz_seeds from
# tests/data and the renderer) and a working corpus in build-asan/fuzz/corpus/TARGET that grows
# from run to run. A finding is written to build-asan/fuzz/findings/ and ends the script with
# status 1; minimise it (fuzz_TARGET -minimize_crash=1 -runs=10000 FILE) and keep it under
# tests/fuzz/regressions/TARGET/.
#
#   bash scripts/fuzz.sh [SECONDS] [TARGET...]
#   TARGET: frames png sdk_settings band_mask contours face_points detector (default: all)
#
# FUZZ_BUILD=DIR runs the targets of another build folder instead, e.g. one made with
# -DPALLET_FUZZ=ON alone (no sanitizers), where fuzz_frames runs about four times as fast.

set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(frames png sdk_settings band_mask contours face_points detector)
build=${FUZZ_BUILD:-build-asan}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
    -DPALLET_SANITIZE=ON -DPALLET_FUZZ=ON >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target fuzz_seeds "${targets[@]/#/fuzz_}" >/dev/null
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/fuzz/lsan.supp}
work=$PWD/$build/fuzz
rm -rf "$work/seeds"
"$build/fuzz_seeds" tests/data "$work/seeds"
mkdir -p "$work/findings" "$work/tmp"
status=0
for target in "${targets[@]}"; do
  mkdir -p "$work/corpus/$target"
  echo "fuzz: $target for $seconds s" >&2
  # -malloc_limit_mb: no single allocation above 128 MB (a depth frame is 0.6 MB); -rss_limit_mb
  # bounds the whole process, sanitizer shadow included.
  if ! TMPDIR="$work/tmp" "$build/fuzz_$target" -max_total_time="$seconds" -malloc_limit_mb=128 \
       -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/findings/${target}_" \
       "$work/corpus/$target" "$work/seeds/$target" $(ls -d "tests/fuzz/regressions/$target" 2>/dev/null) \
       2>"$work/$target.log"; then
    status=1
    echo "fuzz: $target: FINDING, see $work/$target.log and $work/findings/" >&2
  fi
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)' \
    "$work/$target.log" | sed "s/^/fuzz: $target: /" >&2
done
exit $status
