#!/usr/bin/env bash
# Installs what is missing, builds everything from scratch in build/ and runs every test; then
# builds the fast form's tests again for this processor's own instruction set in build-native/,
# and the whole suite with clang, AddressSanitizer and UndefinedBehaviorSanitizer (and the
# libFuzzer targets) in build-asan/, runs it there, and runs each fuzz target for 20 s.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
rm -rf build
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j"$(nproc)"

# The analysis has no processor-specific path: the compiler vectorises it. Built once more for
# this processor's own instruction set (its widest vectors, fused multiply-adds available), the
# fast form must still give the literal form's bytes and the plane fit the same bits.
rm -rf build-native
cmake -S . -B build-native -DCMAKE_BUILD_TYPE=Release -DPALLET_NATIVE=ON
cmake --build build-native -j"$(nproc)" --target fast_analysis_test fast_views_test plane_fit_test frame_analysis_test
ctest --test-dir build-native --output-on-failure -j"$(nproc)" \
  -R '^(FastAnalysis|FastViews|PlaneFit|RotationOntoZ|AnalyseDepth|AnalyseCandidates)\.'

# The sanitizer suite. A UBSan finding ends the process (-fno-sanitize-recover=all); leaks inside
# the system's display libraries are suppressed (tests/fuzz/lsan.supp), none of the project's.
rm -rf build-asan
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
  -DPALLET_SANITIZE=ON -DPALLET_FUZZ=ON
cmake --build build-asan -j"$(nproc)"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tests/fuzz/lsan.supp
ctest --test-dir build-asan --output-on-failure -j"$(nproc)"

bash scripts/fuzz.sh 20
