#!/usr/bin/env bash
# Builds QkXDR and runs one job (see README.md, "Quick start"):
#   ./build.sh demo      build everything, run the demo (the default job)
#   ./build.sh test      every test stage below, as continuous integration runs them
#   ./build.sh unit      Linux build with warnings as errors, all tests
#   ./build.sh windows   cross-build both Windows DLLs; their checks, and the suite under Wine
# Missing Debian packages are installed with apt-get when run as root.
set -euo pipefail
cd "$(dirname "$0")"

# Installs the Debian packages among "package:file ..." whose file is missing.
require() {
  local missing=() entry
  for entry in "$@"; do
    [[ -e ${entry#*:} ]] || missing+=("${entry%%:*}")
  done
  ((${#missing[@]} == 0)) && return 0
  if [[ $(id -u) -ne 0 ]]; then
    echo "missing packages: ${missing[*]} (run as root, or install them)" >&2
    exit 2
  fi
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
}

require_base() {
  require cmake:/usr/bin/cmake ninja-build:/usr/bin/ninja g++:/usr/bin/g++ \
    libgtest-dev:/usr/include/gtest/gtest.h
}

build() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1"
}

stage_unit() {
  require_base
  build ci
  ctest --preset ci
}

stage_windows() {
  require_base
  require g++-mingw-w64-i686:/usr/bin/i686-w64-mingw32-g++-posix \
    g++-mingw-w64-x86-64:/usr/bin/x86_64-w64-mingw32-g++-posix \
    wine64:/usr/lib/wine/wine64
  build mingw-x86
  ctest --preset mingw-x86
  build mingw-x64
  ctest --preset mingw-x64
}

case ${1:-demo} in
  demo)
    require_base
    build default
    ./build/default/tools/qkxdr demo
    ;;
  unit) stage_unit ;;
  windows) stage_windows ;;
  test)
    stage_unit
    stage_windows
    ;;
  *)
    sed -n '2,7p' "$0" >&2
    exit 2
    ;;
esac
