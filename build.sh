#!/usr/bin/env bash
# Builds QkXDR and runs one job (see README.md, "Quick start" and "Checks"):
#   ./build.sh demo      build the qkxdr tool and the library it links (no tests), run the demo (the default job)
#   ./build.sh test      every stage below, in this order, as continuous integration runs them
#   ./build.sh lint      clang-format, clang-tidy, cppcheck and the headers' names, each with zero findings
#   ./build.sh unit      Linux build with warnings as errors, all tests
#   ./build.sh m32       every test as 32-bit x86 Linux, with the 32-bit DLL's flags
#   ./build.sh asan      all tests under AddressSanitizer and UndefinedBehaviorSanitizer
#   ./build.sh tsan      the tests labelled "concurrency" under ThreadSanitizer
#   ./build.sh coverage  all tests with line coverage; fails below COVERAGE_MIN % of the library (src/, include/qkxdr/detail/)
#   ./build.sh fuzz      each fuzz target on its corpus, then FUZZ_SECONDS (default 60) of fuzzing
#   ./build.sh large     the tests labelled "large" (inputs of hundreds of MiB, 4 GiB output)
#   ./build.sh package   install into build/package, build and run examples/ against it
#   ./build.sh windows   cross-build both Windows DLLs; their checks, and the suite under Wine
#   ./build.sh python    the Python module: its tests on the build tree, then installed with pip into a virtual environment
#   ./build.sh bench-build  build the benchmarks against msgpack-c, RapidJSON, simdjson, nlohmann/json, cereal, protobuf
#   ./build.sh bench     build and run them; the table of ratios (not part of test; under 5 min)
# Missing Debian packages are installed with apt-get when run as root.
set -euo pipefail
cd "$(dirname "$0")"

COVERAGE_MIN=98
FUZZ_SECONDS=${FUZZ_SECONDS:-60}
FUZZERS=(binary_reader text_reader text_parse round_trip blob stream typed int_kernels json tool_input python_module)

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

# RapidJSON (header-only) is what the JSON converter parses with, in every
# build, the cross builds included.
require_base() {
  require cmake:/usr/bin/cmake ninja-build:/usr/bin/ninja g++:/usr/bin/g++ \
    libgtest-dev:/usr/include/gtest/gtest.h rapidjson-dev:/usr/include/rapidjson/reader.h
}

# build <preset> [cmake --build options...]: configures and builds the preset
# (its build preset's targets, or those given with --target).
build() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$@"
}

stage_lint() {
  require_base
  require clang-format:/usr/bin/clang-format clang-tidy:/usr/bin/run-clang-tidy \
    cppcheck:/usr/bin/cppcheck python3-clang-14:/usr/lib/python3/dist-packages/clang/cindex.py
  mapfile -t sources < <(git ls-files '*.cpp' '*.h' '*.hpp')
  clang-format --dry-run -Werror "${sources[@]}"
  # The headers under include/ declare nothing outside namespace qkxdr but the
  # exported QkXDR... names, and define only QKXDR_ macros (read through
  # libclang; Debian's python3 has its bindings).
  /usr/bin/python3 tools/check_public_names.py
  # clang-tidy reads the compile commands of the ci build (.clang-tidy says
  # what it checks); cppcheck reads the sources itself.
  cmake --preset ci >/dev/null
  run-clang-tidy -quiet -p build/ci -j "$(nproc)" "$PWD/(src|fuzz|tools)/" >build/ci/clang-tidy.log 2>&1 ||
    { grep -E 'error|warning' build/ci/clang-tidy.log; return 1; }
  cppcheck --enable=warning,style,performance,portability --std=c++17 --language=c++ \
    --inline-suppr --suppressions-list=.cppcheck-suppressions --suppress=missingIncludeSystem \
    --error-exitcode=1 -q -j "$(nproc)" -I include -I src -I fuzz -DQKXDR_BUILDING src fuzz tools
}

stage_unit() {
  require_base
  build ci
  ctest --preset ci
}

# The library and every test program as 32-bit x86 Linux, compiled as the
# 32-bit DLL is (SSE2 doubles, Release). They run natively, or under
# qemu-i386 where the kernel runs no 32-bit code; the stage then checks that
# as many tests ran as the 64-bit build has. Its test programs list their
# tests when they are run, so the count needs the ci build (nothing to do
# after unit).
stage_m32() {
  require_base
  require g++-multilib:/usr/lib/gcc/x86_64-linux-gnu/12/32/libstdc++.so
  /lib/ld-linux.so.2 --version >/dev/null 2>&1 || require qemu-user:/usr/bin/qemu-i386
  build m32
  ctest --preset m32 -j "$(nproc)" | tee build/m32/ctest.log
  build ci >/dev/null
  local ran expected
  ran=$(grep -oP 'tests failed out of \K\d+' build/m32/ctest.log)
  expected=$(ctest --preset ci -N | grep -oP 'Total Tests: \K\d+')
  echo "m32: $ran tests ran, the 64-bit build has $expected"
  ((ran == expected))
}

stage_asan() {
  require_base
  build asan
  ctest --preset asan -j "$(nproc)"
}

stage_tsan() {
  require_base
  build tsan
  ctest --preset tsan
}

stage_coverage() {
  require_base
  require gcovr:/usr/bin/gcovr
  build coverage
  find build/coverage -name '*.gcda' -delete
  ctest --preset coverage -j "$(nproc)"
  gcovr --root . --object-directory build/coverage --filter 'src/' --filter 'include/qkxdr/detail/' --print-summary \
    --txt build/coverage/coverage.txt --fail-under-line "$COVERAGE_MIN"
}

stage_fuzz() {
  require clang-14:/usr/bin/clang++-14 \
    libclang-rt-14-dev:/usr/lib/llvm-14/lib/clang/14.0.6/lib/linux/libclang_rt.fuzzer-x86_64.a
  require_base
  require_python
  build fuzz
  ctest --preset fuzz
  local name log work dict
  for name in "${FUZZERS[@]}"; do
    log=build/fuzz/$name.log
    work=build/fuzz/corpus/$name
    mkdir -p "$work"
    dict=()
    [[ $name == text_* ]] && dict=(-dict=fuzz/text.dict)
    # New inputs go to the build tree; a failing input is kept there.
    if ! "build/fuzz/fuzz/${name}_fuzzer" "${dict[@]}" -max_total_time="$FUZZ_SECONDS" \
      -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix=build/fuzz/ \
      "$work" "fuzz/corpus/$name" >"$log" 2>&1; then
      tail -n 60 "$log"
      return 1
    fi
    echo "$name: $(grep -oP 'stat::number_of_executed_units: \K\d+' "$log") executions," \
      "$(grep -oP '#\d+\s+DONE\s+cov: \K\d+' "$log") coverage points"
  done
}

stage_large() {
  require_base
  local available
  available=$(awk '/^MemAvailable:/ { print int($2 / 1048576) }' /proc/meminfo)
  if ((available < 8)); then
    echo "large: skipped, ${available} GiB of memory available and 8 needed"
    return 0
  fi
  build ci
  ctest --preset large
}

stage_bench-build() {
  require_base
  require libbenchmark-dev:/usr/include/benchmark/benchmark.h \
    libmsgpack-cxx-dev:/usr/include/msgpack.hpp \
    rapidjson-dev:/usr/include/rapidjson/reader.h \
    nlohmann-json3-dev:/usr/include/nlohmann/json.hpp \
    libcereal-dev:/usr/include/cereal/archives/binary.hpp \
    libprotobuf-dev:/usr/include/google/protobuf/message.h \
    protobuf-compiler:/usr/bin/protoc \
    libsimdjson-dev:/usr/include/simdjson.h \
    python3:/usr/bin/python3
  build bench
}

stage_bench() {
  stage_bench-build
  python3 bench/compare.py
}

# Each DLL: its build and tests, then its installed package, checked by
# tests/check_windows_package.cmake (stripped DLL, both import libraries, a
# client linked as MSVC links one; on x64 run under Wine).
stage_windows() {
  require_base
  require g++-mingw-w64-i686:/usr/bin/i686-w64-mingw32-g++-posix \
    g++-mingw-w64-x86-64:/usr/bin/x86_64-w64-mingw32-g++-posix \
    wine64:/usr/lib/wine/wine64 llvm-14:/usr/bin/llvm-dlltool-14 \
    clang-tools-14:/usr/bin/clang-cl-14 lld-14:/usr/bin/lld-link-14
  local arch dir emulator
  for arch in x86 x64; do
    dir=$PWD/build/mingw-$arch
    build "mingw-$arch"
    # Under load Wine now and then fails to start a program, which then
    # prints nothing: a test gets a second run, and a real fault fails both.
    ctest --preset "mingw-$arch" --repeat until-pass:2
    rm -rf "$dir/package"
    cmake --install "$dir" --prefix "$dir/package" >/dev/null
    emulator=()
    [[ $arch == x64 ]] && emulator=(-DEMULATOR=/usr/lib/wine/wine64)
    WINEDEBUG=-all WINEPREFIX=$PWD/build/wineprefix cmake -DARCH="$arch" -DPREFIX="$dir/package" \
      -DDEBUG_FILE="$dir/src/QkXDR.dll.debug" -DWORK_DIR="$dir/msvc-client" "${emulator[@]}" \
      -P tests/check_windows_package.cmake
  done
}

# The Python module (python/, docs/python.md): built with the python preset,
# its C++ checked by clang-tidy and its fuzz corpus replayed, then tested
# from the build tree (tests/python, against the qkxdr tool of the
# same build, the Dask cluster run included), with the benchmark's quick run
# checking its results; then installed as docs/python.md tells users, with
# pip, offline, into a new virtual environment, where the tests run again on
# the installed package, and under a prefix, where the docs' examples run.
# What the Python module builds with (the python stage, and the fuzz stage's
# python_module target).
require_python() {
  require python3-dev:/usr/include/python3.11/Python.h pybind11-dev:/usr/lib/cmake/pybind11/pybind11Config.cmake \
    python3-numpy:/usr/lib/python3/dist-packages/numpy/__init__.py
}

stage_python() {
  require_base
  require_python
  require python3-pytest:/usr/lib/python3/dist-packages/pytest/__init__.py \
    python3-dask:/usr/lib/python3/dist-packages/dask/bag/__init__.py \
    python3-distributed:/usr/lib/python3/dist-packages/distributed/__init__.py \
    python3-venv:/usr/share/doc/python3-venv python3-setuptools:/usr/lib/python3/dist-packages/setuptools/__init__.py \
    python3-wheel:/usr/lib/python3/dist-packages/wheel/__init__.py \
    python3-msgpack:/usr/lib/python3/dist-packages/msgpack/__init__.py \
    python3-cbor2:/usr/lib/python3/dist-packages/cbor2/__init__.py python3-ujson:/usr/lib/python3/dist-packages/ujson.cpython-311-x86_64-linux-gnu.so
  build python
  # The extension's C++ and its fuzz target under clang-tidy (.clang-tidy),
  # as lint checks src/.
  require clang-tidy:/usr/bin/run-clang-tidy
  run-clang-tidy -quiet -p build/python -extra-arg=-Wno-ignored-optimization-argument \
    "$PWD/(python/src|fuzz)/" >build/python/clang-tidy.log 2>&1 ||
    { grep -E 'error|warning' build/python/clang-tidy.log; return 1; }
  build/python/fuzz/python_module_replay fuzz/corpus/python_module
  local tests=$PWD/tests/python
  export QKXDR_TOOL=$PWD/build/python/tools/qkxdr
  PYTHONPATH=$PWD/build/python/python /usr/bin/python3 -m pytest -q -p no:cacheprovider "$tests"
  PYTHONPATH=$PWD/build/python/python /usr/bin/python3 bench/python_bench.py --quick >/dev/null
  local venv=$PWD/build/python/venv
  rm -rf "$venv" python/build python/qkxdr.egg-info
  /usr/bin/python3 -m venv --system-site-packages "$venv"
  "$venv/bin/python" -m pip install -q --no-build-isolation --no-index ./python
  rm -rf python/build python/qkxdr.egg-info
  (cd "$venv" && "$venv/bin/python" -m pytest -q -p no:cacheprovider "$tests")
  # ... and under a prefix, where docs/python.md says it goes.
  local prefix=$PWD/build/python/prefix
  rm -rf "$prefix"
  /usr/bin/python3 -m pip install -q --no-build-isolation --no-index --prefix "$prefix" ./python
  rm -rf python/build python/qkxdr.egg-info
  (cd "$prefix" && PYTHONPATH=$prefix/local/lib/python3.11/dist-packages /usr/bin/python3 -m pytest -q \
    -p no:cacheprovider "$tests/test_docs.py")
}

# Installs the ci build into build/package/prefix and checks the installed
# tree; then builds every example of examples/ against it as a user would,
# with CMake (find_package, component json) and by hand with pkg-config
# (qkxdr, qkxdr-json) under g++ and clang++, and runs them. Every one of those
# builds has warnings as errors, a hostile folder first on the include path
# and min/max macros defined before the first line (package_user_setup).
# Before those, a package built without RapidJSON must refuse COMPONENTS json
# with the reason.
stage_package() {
  require_base
  require pkgconf:/usr/bin/pkg-config clang:/usr/bin/clang++
  build ci
  local out=$PWD/build/package
  local prefix=$out/prefix
  rm -rf "$out"
  cmake --install build/ci --prefix "$prefix" >/dev/null
  # include/ is installed as it is: the public headers, and the internals
  # under qkxdr/detail/ that they include by full path (no qkxdr/impl).
  diff -r include "$prefix/include"
  local pc
  pc=$(find "$prefix" -name qkxdr.pc)
  export PKG_CONFIG_PATH=${pc%/*}
  [[ -f $PKG_CONFIG_PATH/qkxdr-json.pc ]] || { echo "package: no qkxdr-json.pc" >&2; return 1; }
  local libdir
  libdir=$(pkg-config --variable=libdir qkxdr)
  export LD_LIBRARY_PATH=$libdir
  package_without_json "$out"

  package_user_setup "$out"
  local flags=(-Wall -Wextra -Wpedantic -Werror -I"$out/hostile" -include "$out/minmax.h")

  cmake -S examples -B "$out/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_CXX_FLAGS="${flags[*]}" >/dev/null
  cmake --build "$out/cmake"
  if [[ -x $prefix/bin/qkxdr ]]; then
    "$prefix/bin/qkxdr" --version  # finds the installed library by itself
  fi
  local source example module compiler
  for source in examples/*.cpp; do
    example=$(basename "$source" .cpp)
    package_run_example "$out/cmake/$example"
    module=qkxdr
    grep -q '#include <qkxdr/json.hpp>' "$source" && module=qkxdr-json
    for compiler in g++ clang++; do
      # shellcheck disable=SC2046  # the flags are meant to split
      $compiler -std=c++17 "${flags[@]}" "$source" $(pkg-config --cflags --libs $module) \
        -o "$out/$example-$compiler"
      package_run_example "$out/$example-$compiler"
    done
    echo "package: $example built with CMake, and with pkg-config $module under g++ and clang++"
  done
}

# What a user's build may put in the library's way: a folder first on the
# include path (out/hostile) that holds headers named like common internal
# ones, each stopping the compiler when reached; and out/minmax.h, given with
# -include, that defines min and max as function-like macros, as <windows.h>
# does without NOMINMAX. libstdc++ drops such macros when its first header is
# read, so minmax.h reads the standard headers that include/ and examples/
# use first, as a program has by then, and only the library's own code meets
# the macros.
package_user_setup() {
  local out=$1 name file
  local names=(library/compiler.h binary/coding.h text/tokenizer.h base/bits.h sbuf/binary.h)
  # ... and every internal header by its name under qkxdr/detail/.
  for file in include/qkxdr/detail/*/*; do
    names+=("${file#include/qkxdr/detail/}")
  done
  for name in "${names[@]}"; do
    mkdir -p "$out/hostile/${name%/*}"
    echo '#error hostile header reached' >"$out/hostile/$name"
  done
  {
    grep -rhoE '^\s*#\s*include\s*<[^>]+>' include examples | sed -E 's/^\s*#\s*include\s*/#include /' |
      grep -vE '<(QkXDR|qkxdr/)' | sort -u
    echo '#define min(a, b) ((a) < (b) ? (a) : (b))'
    echo '#define max(a, b) ((a) > (b) ? (a) : (b))'
  } >"$out/minmax.h"
}

# Runs an example program; stream_pipe writes into a pipe and reads from it.
package_run_example() {
  if [[ ${1##*/} == stream_pipe* ]]; then
    "$1" write | "$1" >/dev/null
  else
    "$1" >/dev/null
  fi
}

# The library alone (no tool, no tests), built where RapidJSON's headers are
# out of sight and installed: no qkxdr-json.pc, and find_package(QkXDR
# COMPONENTS json), here the examples' own, fails with the reason.
package_without_json() {
  local out=$1 rapidjson
  rapidjson=$(sed -n 's/^QKXDR_RAPIDJSON_DIR:PATH=//p' build/ci/CMakeCache.txt)
  cmake -S . -B "$out/nojson" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQKXDR_BUILD_TESTS=OFF \
    -DQKXDR_BUILD_TOOL=OFF -DCMAKE_IGNORE_PATH="$rapidjson" >/dev/null
  cmake --build "$out/nojson" >/dev/null
  cmake --install "$out/nojson" --prefix "$out/nojson/prefix" >/dev/null
  if [[ -n $(find "$out/nojson/prefix" -name 'qkxdr-json.pc' -o -name 'libqkxdr_json*') ]]; then
    echo "package: the build without RapidJSON installed the JSON converter" >&2
    return 1
  fi
  local log=$out/nojson/examples.log config
  config=$(find "$out/nojson/prefix" -name QkXDRConfig.cmake)
  if cmake -S examples -B "$out/nojson/examples" -DQkXDR_DIR="${config%/*}" >"$log" 2>&1; then
    echo "package: COMPONENTS json found in a package without the JSON converter" >&2
    return 1
  fi
  if ! tr -s ' \n' ' ' <"$log" | grep -q 'QkXDR was built without its JSON converter'; then
    cat "$log" >&2
    return 1
  fi
  echo "package: without RapidJSON, find_package(QkXDR COMPONENTS json) fails with the reason"
}

# Runs the stages in order; on exit, also after a failure, reports how long
# each took.
STAGE_TIMES=()
STAGE=""
STAGE_START=0
report_stage_times() {
  [[ -n $STAGE ]] && STAGE_TIMES+=("$(printf '%-9s %5d s  failed' "$STAGE" $((SECONDS - STAGE_START)))")
  printf '%s\n' "=== stage times" "${STAGE_TIMES[@]}"
}
run_stages() {
  trap report_stage_times EXIT
  for STAGE in "$@"; do
    echo "=== stage $STAGE"
    STAGE_START=$SECONDS
    "stage_$STAGE"
    STAGE_TIMES+=("$(printf '%-9s %5d s' "$STAGE" $((SECONDS - STAGE_START)))")
  done
  STAGE=""
}

case ${1:-demo} in
  demo)
    require_base
    build default --target qkxdr
    ./build/default/tools/qkxdr demo
    ;;
  lint | unit | m32 | asan | tsan | coverage | fuzz | large | package | windows | python | bench-build | bench)
    run_stages "$1"
    ;;
  test) run_stages lint unit m32 asan tsan coverage fuzz large package windows python bench-build ;;
  *)
    sed -n '2,17p' "$0" >&2
    exit 2
    ;;
esac
