#!/usr/bin/env bash
# Installs what is missing, builds everything from scratch in build/ and runs every test.
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
