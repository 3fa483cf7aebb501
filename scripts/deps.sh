#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tools need, when any is missing.
set -euo pipefail
packages=(build-essential cmake git pkg-config libeigen3-dev libgtest-dev libgmock-dev
          libopencv-dev libopencv-contrib-dev
          libbenchmark-dev nlohmann-json3-dev libtinyxml2-dev librsvg2-bin
          pybind11-dev python3-dev python3-numpy python3-pytest)
if [ "${CCAL_WITH_CLANG:-0}" = 1 ]; then
  packages+=(clang libclang-rt-dev)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
