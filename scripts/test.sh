#!/usr/bin/env bash
# Installs what is missing, then runs every test in phases, each from scratch in its own build
# folder:
#   release     everything built in build/, every test run
#   native      the fast form's tests built for this processor's own instruction set (build-native/)
#   sanitizers  the whole suite with clang, AddressSanitizer and UndefinedBehaviorSanitizer, and the
#               libFuzzer targets, in build-asan/; every test run there
#   fuzzing     each fuzz target for 20 s (needs the sanitizer build)
# Each phase is announced and timed, and runs whatever an earlier one gave; the summary at the end
# says of each whether it passed, failed or was skipped and why. Status 1 when any failed.
set -uo pipefail
cd "$(dirname "$0")/.."

names=()
results=()

# banner TEXT: a line that stands out in a long log.
banner() {
  echo
  echo "=== test.sh: $*"
}

# run_phase NAME DESCRIPTION FUNCTION: runs the function in a subshell that stops at its first
# failing command, and records whether it passed and how long it took.
run_phase() {
  local name=$1 description=$2 function=$3
  banner "$name: $description"
  local start=$SECONDS
  (set -e; "$function")
  local status=$?
  local took
  took=$(printf '%d:%02d' $(((SECONDS - start) / 60)) $(((SECONDS - start) % 60)))
  local result=passed
  [ "$status" = 0 ] || result="failed (status $status)"
  banner "$name: $result in $took"
  names+=("$name")
  results+=("$result, $took")
  return "$status"
}

# skip_phase NAME WHY
skip_phase() {
  banner "$1: skipped: $2"
  names+=("$1")
  results+=("skipped: $2")
}

dependencies() {
  bash scripts/install-deps.sh
}

release() {
  rm -rf build
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
  cmake --build build -j"$(nproc)"
  ctest --test-dir build --output-on-failure -j"$(nproc)"
}

# The analysis has no processor-specific path: the compiler vectorises it. Built once more for
# this processor's own instruction set (its widest vectors, fused multiply-adds available), the
# fast form must still give the literal form's bytes and the plane fit the same bits.
native() {
  rm -rf build-native
  cmake -S . -B build-native -DCMAKE_BUILD_TYPE=Release -DPALLET_NATIVE=ON
  cmake --build build-native -j"$(nproc)" --target fast_analysis_test fast_views_test plane_fit_test frame_analysis_test
  ctest --test-dir build-native --output-on-failure -j"$(nproc)" \
    -R '^(FastAnalysis|FastViews|PlaneFit|RotationOntoZ|AnalyseDepth|AnalyseCandidates)\.'
}

# The sanitizer suite. A UBSan finding ends the process (-fno-sanitize-recover=all); leaks inside
# the system's display libraries are suppressed (tests/fuzz/lsan.supp), none of the project's.
# build-asan/.built marks a finished build, which the fuzzing needs whatever the tests gave.
sanitizers() {
  rm -rf build-asan
  cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
    -DPALLET_SANITIZE=ON -DPALLET_FUZZ=ON
  cmake --build build-asan -j"$(nproc)"
  touch build-asan/.built
  ctest --test-dir build-asan --output-on-failure -j"$(nproc)"
}

fuzzing() {
  bash scripts/fuzz.sh 20
}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tests/fuzz/lsan.supp

if run_phase dependencies "the Debian packages the build and the tests need" dependencies; then
  run_phase release "build/ from scratch, every test" release
  run_phase native "the fast form's tests built for this processor (build-native/)" native
  run_phase sanitizers "clang with ASan and UBSan in build-asan/, every test" sanitizers
  if [ ! -e build-asan/.built ]; then
    skip_phase fuzzing "the sanitizer build failed, so there are no fuzz targets"
  else
    run_phase fuzzing "each fuzz target for 20 s" fuzzing
  fi
else
  for phase in release native sanitizers fuzzing; do
    skip_phase "$phase" "the dependencies could not be installed"
  done
fi

banner "summary"
failed=0
for i in "${!names[@]}"; do
  printf '  %-13s %s\n' "${names[$i]}" "${results[$i]}"
  case "${results[$i]}" in failed*) failed=$((failed + 1)) ;; esac
done
if [ "$failed" -gt 0 ]; then
  echo "test.sh: $failed of ${#names[@]} phases failed"
  exit 1
fi
echo "test.sh: every phase passed"
