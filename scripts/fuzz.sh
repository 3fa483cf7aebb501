#!/usr/bin/env bash
# Builds a libFuzzer target with clang and runs it for a given number of seconds.
#   scripts/fuzz.sh <target> <seconds>      e.g.  scripts/fuzz.sh archive_load_fuzz 600
# The seed corpus is tests/fuzz/corpus/<name> (<name>: the target without "_fuzz"), with the
# dictionary tests/fuzz/<name>.dict when there is one; inputs the
# fuzzer finds go to build-fuzz/corpus/<name>, failures to build-fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -ne 2 ]; then
  echo "usage: $0 <target> <seconds>" >&2
  exit 2
fi
target=$1
seconds=$2
name=${target%_fuzz}

CCAL_WITH_CLANG=1 bash scripts/deps.sh
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCCAL_FUZZ=ON "${launcher[@]}" \
  -DCCAL_BUILD_TESTS=OFF -DCCAL_BUILD_BENCH=OFF -DCCAL_BUILD_TOOLS=OFF
cmake --build build-fuzz -j2 --target "$target"

mkdir -p "build-fuzz/corpus/$name" build-fuzz/artifacts
seeds=()
[ -d "tests/fuzz/corpus/$name" ] && seeds=("tests/fuzz/corpus/$name")
[ -f "tests/fuzz/$name.dict" ] && seeds=(-dict="tests/fuzz/$name.dict" "${seeds[@]}")
"build-fuzz/tests/fuzz/$target" -max_total_time="$seconds" -max_len=4096 -rss_limit_mb=2048 \
  -malloc_limit_mb=256 -timeout=10 -print_final_stats=1 \
  -artifact_prefix=build-fuzz/artifacts/ "build-fuzz/corpus/$name" "${seeds[@]}"
