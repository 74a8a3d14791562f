#!/usr/bin/env bash
# Builds QkXDR and runs one job (see README.md, "Quick start"):
#   ./build.sh demo      build everything, run the demo (the default job)
#   ./build.sh test      every test stage below, as continuous integration runs them
#   ./build.sh unit      Linux build with warnings as errors, all tests
#   ./build.sh windows   cross-build both Windows DLLs; their checks, and the suite under Wine
#   ./build.sh package   install into build/package, build and run examples/ against it
#   ./build.sh bench-build  build the benchmarks against msgpack-c and RapidJSON (part of test)
#   ./build.sh bench     build and run them; print the table of ratios (docs/performance.md)
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

stage_bench_build() {
  require_base
  require libbenchmark-dev:/usr/include/benchmark/benchmark.h \
    libmsgpack-cxx-dev:/usr/include/msgpack.hpp \
    rapidjson-dev:/usr/include/rapidjson/reader.h \
    python3:/usr/bin/python3
  build bench
}

stage_bench() {
  stage_bench_build
  python3 bench/compare.py
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

# Installs the ci build into build/package/prefix, then builds the examples
# against it twice and runs them: through find_package, and by hand with
# pkg-config under g++ and clang++, warnings as errors.
stage_package() {
  require_base
  require pkgconf:/usr/bin/pkg-config clang:/usr/bin/clang++
  build ci
  local out=$PWD/build/package
  rm -rf "$out"
  cmake --install build/ci --prefix "$out/prefix" >/dev/null
  local pc
  pc=$(find "$out/prefix" -name qkxdr.pc)
  export PKG_CONFIG_PATH=${pc%/*}
  local libdir
  libdir=$(pkg-config --variable=libdir qkxdr)

  cmake -S examples -B "$out/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$out/prefix" \
    -DCMAKE_CXX_FLAGS="-Wall -Wextra -Wpedantic -Werror" >/dev/null
  cmake --build "$out/cmake"
  if [[ -x $out/prefix/bin/qkxdr ]]; then
    "$out/prefix/bin/qkxdr" --version  # finds the installed library by itself
  fi
  local example compiler
  for example in record_round_trip text_events; do
    LD_LIBRARY_PATH=$libdir "$out/cmake/$example"
    for compiler in g++ clang++; do
      # shellcheck disable=SC2046  # the flags are meant to split
      $compiler -std=c++17 -Wall -Wextra -Wpedantic -Werror "examples/$example.cpp" \
        $(pkg-config --cflags --libs qkxdr) -o "$out/$example-$compiler"
      LD_LIBRARY_PATH=$libdir "$out/$example-$compiler" >/dev/null
    done
  done
}

case ${1:-demo} in
  demo)
    require_base
    build default
    ./build/default/tools/qkxdr demo
    ;;
  unit) stage_unit ;;
  windows) stage_windows ;;
  package) stage_package ;;
  bench-build) stage_bench_build ;;
  bench) stage_bench ;;
  test)
    stage_unit
    stage_package
    stage_windows
    stage_bench_build
    ;;
  *)
    sed -n '2,10p' "$0" >&2
    exit 2
    ;;
esac
