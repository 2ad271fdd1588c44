#!/usr/bin/env bash
# Installs what is missing, builds pallet_detector in build/ and runs it on the built-in scene.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DPALLET_TESTS=OFF
cmake --build build -j"$(nproc)" --target pallet_detector
exec ./build/pallet_detector
