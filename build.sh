#!/usr/bin/env bash
# Builds the tools and runs one job. On a fresh Debian machine it first
# installs the packages the job needs.
#
#   ./build.sh example   build, then convert the bundled example in build/example
#   ./build.sh windows   build the Windows executables in build-windows
#   ./build.sh test      build both, then run every test (the Windows
#                        executables under Wine)
set -euo pipefail
cd "$(dirname "$0")"

jobs=$(nproc 2>/dev/null || echo 2)

# Installs whichever of the named Debian packages are missing.
need() {
  local missing=()
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  # A package of another architecture ("wine32:i386") needs it added first.
  for package in "${missing[@]}"; do
    [[ $package == *:* ]] || continue
    local arch=${package#*:}
    if [ "$(dpkg --print-architecture)" != "$arch" ] && ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
      echo "== adding the $arch architecture"
      $sudo dpkg --add-architecture "$arch"
    fi
  done
  echo "== installing ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
}

# build DIR [cmake options...]: configures and builds the tree in DIR.
build() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -DANIM3D_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" --parallel "$jobs"
}

example() {
  need cmake make g++ libgtest-dev
  build build
  rm -rf build/example
  mkdir -p build/example
  cp examples/twisting-box/*.obj build/example/
  echo "== converting examples/twisting-box in build/example"
  (cd build/example && ../frameconv) || true  # every run ends with exit status 1
  echo "== written:"
  (cd build/example && ls -l aniv00.3d data00.3d)
}

build_windows() {
  echo "== Windows build (32-bit GUI executables) in build-windows"
  build build-windows --no-warn-unused-cli -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
}

windows() {
  need cmake make g++-mingw-w64-i686
  build_windows
  ls -l build-windows/*.exe
}

run_tests() {
  need cmake make g++ libgtest-dev g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine32:i386
  build_windows
  echo "== release build and tests, with the Windows build checked and run under Wine"
  build build -DANIM3D_WINDOWS_BUILD="$PWD/build-windows"
  (cd build && ctest --output-on-failure --parallel "$jobs")
  echo "== AddressSanitizer and UndefinedBehaviorSanitizer build and tests"
  build build-sanitize -DCMAKE_BUILD_TYPE=Debug -DANIM3D_SANITIZE=ON -DANIM3D_WINDOWS_BUILD=
  (cd build-sanitize && ctest --output-on-failure --parallel "$jobs")
}

case "${1:-}" in
  example) example ;;
  windows) windows ;;
  test) run_tests ;;
  *)
    sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac
