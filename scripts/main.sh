#!/usr/bin/env bash
# Builds the library and runs the main job on the bundled sample data.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DCCAL_BUILD_TESTS=OFF -DCCAL_BUILD_BENCH=OFF
cmake --build build -j2 --target ccal_demo
./build/tools/ccal_demo "$@"
