#!/usr/bin/env bash
# Builds QkXDR and runs one job: `./build.sh demo` (the default) or `./build.sh test`.
# Missing build tools are installed with apt-get when run as root on Debian.
set -euo pipefail
cd "$(dirname "$0")"

job=${1:-demo}

# Debian packages the build needs, each with a file that shows it is present.
declare -A needed=(
  [cmake]=/usr/bin/cmake
  [ninja-build]=/usr/bin/ninja
  [g++]=/usr/bin/g++
  [libgtest-dev]=/usr/include/gtest/gtest.h
)

install_missing() {
  local missing=()
  for package in "${!needed[@]}"; do
    [[ -e ${needed[$package]} ]] || missing+=("$package")
  done
  ((${#missing[@]} == 0)) && return 0
  if [[ $(id -u) -ne 0 ]]; then
    echo "missing build dependencies: ${missing[*]} (run as root, or install them)" >&2
    exit 2
  fi
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
}

build() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1"
}

install_missing
case $job in
  demo)
    build default
    ./build/default/tools/qkxdr-demo
    ;;
  test)
    build ci
    ctest --preset ci
    ;;
  *)
    echo "usage: $0 [demo|test]" >&2
    exit 2
    ;;
esac
