#!/usr/bin/env bash
# Builds the library and the command-line tool and runs the main job: a calibration of the
# bundled real stereo set data/opencv-stereo.json (arguments are passed on to ccal-calibrate).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DCCAL_BUILD_TESTS=OFF -DCCAL_BUILD_BENCH=OFF
cmake --build build -j2 --target ccal-calibrate
./build/tools/calibrate/ccal-calibrate "$@"
