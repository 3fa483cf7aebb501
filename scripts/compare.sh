#!/usr/bin/env bash
# Builds ccal_compare and runs the comparison with OpenCV: every row of docs/benchmarks.md's
# generated section, docs/compare/opencv-compare.csv and docs/compare/time-vs-views.svg.
# OpenCV (Debian's libopencv-dev) is installed here when missing; the library never links it.
# Arguments go to ccal_compare (e.g. --quick, --tasks=planar,scaling, --views=10,50,100,
# --timeout=600, --no-docs). The full run takes about an hour on 2 shared cores.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
if ! dpkg-query -W -f='${Status}' libopencv-dev 2>/dev/null | grep -q "install ok installed"; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends libopencv-dev
fi
launcher=()
command -v ccache > /dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B build-compare -DCMAKE_BUILD_TYPE=Release -DCCAL_COMPARE_OPENCV=ON \
  -DCCAL_BUILD_TESTS=OFF -DCCAL_BUILD_BENCH=OFF -DCCAL_BUILD_TOOLS=OFF "${launcher[@]}"
cmake --build build-compare -j2 --target ccal_compare
mkdir -p docs/compare
./build-compare/bench/compare/ccal_compare "$@"
