#!/usr/bin/env bash
# Builds everything with warnings as errors and runs every test.
#   --sanitize   also build a second tree with AddressSanitizer+UndefinedBehaviorSanitizer
#                and run the whole suite there.
#   --tsan       also build the reliability tests with ThreadSanitizer and run the test of
#                eight calibrations on eight threads there.
set -euo pipefail
cd "$(dirname "$0")/.."
sanitize=0
tsan=0
for arg in "$@"; do
  case "$arg" in
    --sanitize) sanitize=1 ;;
    --tsan) tsan=1 ;;
    *) echo "unknown option: $arg" >&2; exit 2 ;;
  esac
done
bash scripts/deps.sh

cmake -S . -B build-test -DCMAKE_BUILD_TYPE=Release -DCCAL_WERROR=ON -DCCAL_PYTHON=ON \
      -DPython3_EXECUTABLE=/usr/bin/python3
cmake --build build-test -j2
ctest --test-dir build-test --output-on-failure -j2 --timeout 600

if [ "$sanitize" = 1 ]; then
  # -O1 with line tables: the sanitizers' usual level, and half the build time of -O2 -g.
  cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O1 -g1 -DNDEBUG" \
        -DCCAL_WERROR=ON -DCCAL_SANITIZE=ON -DCCAL_BUILD_BENCH=OFF
  cmake --build build-asan -j2
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure -j2 --timeout 900 -LE install
fi

if [ "$tsan" = 1 ]; then
  cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O1 -g1 -DNDEBUG" \
        -DCCAL_WERROR=ON -DCCAL_TSAN=ON \
        -DCCAL_BUILD_BENCH=OFF -DCCAL_BUILD_TOOLS=OFF
  cmake --build build-tsan -j2 --target ccal_reliability_tests
  TSAN_OPTIONS=halt_on_error=1 build-tsan/tests/ccal_reliability_tests --gtest_filter='Threads.*'
fi
