#!/usr/bin/env bash
# Builds the tools and runs one job. On a fresh Debian machine it first
# installs the packages the job needs.
#
#   ./build.sh example   build, then convert the bundled example in build/example
#   ./build.sh preview   the example, then draw its contact sheet again as
#                        docs/preview.png (the picture in the README)
#   ./build.sh windows   build the Windows executables in build-windows
#                        (and a 64-bit build of them in build-windows64)
#   ./build.sh test      build all, then run every test (the Windows
#                        executables under Wine: the 64-bit ones, and the
#                        32-bit ones where this machine runs 32-bit programs)
#   ./build.sh package   release builds, then the archives of a release in dist/
#                        (Windows zip, Linux tar.gz and .deb, Blender add-on zip)
#   ./build.sh fuzz [S]  build the fuzz targets with clang and run each S seconds (60)
#   ./build.sh bench     release build, then time frameconv and clipmerge on
#                        generated sequences (BENCH_RUNS runs each, default 7)
#   ./build.sh blender-addon DIST VERSION
#                        write the Blender add-on DIST/anim3d-VERSION-blender-addon.zip
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
  echo "== installing ${missing[*]}"
  $sudo apt-get update -qq
  # Waits for another apt or dpkg run to finish rather than failing at once.
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq -o DPkg::Lock::Timeout=600 "${missing[@]}" >/dev/null
}

# Whether this machine can run 32-bit x86 programs, as the 32-bit Wine loader
# is one: builds a tiny static i386 Linux program (two system calls and no C
# library, so that only the compiler and the linker are needed) and runs it.
# A kernel without 32-bit support refuses it ("Exec format error"). Says in
# one line what it found.
runs_i386() {
  local dir=build/i386-probe output status=0
  need gcc gcc-multilib  # the compiler's 32-bit mode
  mkdir -p "$dir"
  if ! gcc -m32 -static -nostdlib -ffreestanding -fno-pie -no-pie -O1 -x c -o "$dir/probe" - \
    2>"$dir/build.log" <<'EOF'
// write(1, "i386\n", 5) and exit(0), as i386 Linux system calls.
void _start(void) {
  static const char text[] = "i386\n";
  long result;
  __asm__ volatile("int $0x80" : "=a"(result) : "a"(4), "b"(1), "c"(text), "d"(5) : "memory");
  __asm__ volatile("int $0x80" : : "a"(1), "b"(0));
  for (;;) {
  }
}
EOF
  then
    echo "== 32-bit Windows programs not run under Wine: no 32-bit x86 test program could be built ($(head -n 1 "$dir/build.log"))"
    return 1
  fi
  output=$("$dir/probe" 2>&1) || status=$?
  if [ "$status" -eq 0 ] && [ "$output" = i386 ]; then
    echo "== this machine runs 32-bit x86 programs: the Wine tests run the 32-bit Windows programs too"
    return 0
  fi
  local why=${output##*: }
  [ -n "$why" ] || why="exit status $status"
  echo "== 32-bit Windows programs not run under Wine: this machine cannot run 32-bit x86 programs (a test program's run: $why)"
  return 1
}

# The 32-bit Wine, which is Debian's i386 package wine32.
need_wine32() {
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    local sudo=
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    echo "== adding the i386 architecture, for wine32"
    $sudo dpkg --add-architecture i386
    $sudo apt-get update -qq
  fi
  need wine32:i386
}

# build DIR [cmake options...]: configures and builds the tree in DIR.
build() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -DANIM3D_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" --parallel "$jobs"
}

# The header-only libraries of inspect3d: tinygltf for glTF, which needs
# nlohmann/json, and stb for PNG.
header_only_packages=(libtinygltf-dev nlohmann-json3-dev libstb-dev)

example() {
  need cmake make g++ libgtest-dev "${header_only_packages[@]}"
  build build
  rm -rf build/example
  mkdir -p build/example
  cp examples/twisting-box/*.obj build/example/
  echo "== converting examples/twisting-box in build/example"
  (cd build/example && ../frameconv) || true  # every run ends with exit status 1
  echo "== written:"
  (cd build/example && ls -l aniv00.3d data00.3d)
}

# The README's picture: the bundled example's contact sheet, drawn again.
preview() {
  example
  echo "== drawing the contact sheet of build/example as docs/preview.png"
  (cd build/example && ../inspect3d preview --out ../../docs/preview.png)
}

# The Windows executables: the 32-bit ones users get in build-windows, and the
# same sources for 64-bit Windows in build-windows64, which the tests run
# under Wine (this machine may not run 32-bit programs at all).
build_windows() {
  need cmake make g++-mingw-w64-i686 g++-mingw-w64-x86-64 "${header_only_packages[@]}"
  echo "== Windows build (32-bit GUI executables) in build-windows"
  build build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
  echo "== Windows build (64-bit, for the tests under Wine) in build-windows64"
  build build-windows64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
}

windows() {
  build_windows
  ls -l build-windows/*.exe build-windows64/*.exe
}

# The tests of the Windows builds: the format of their executables, and the
# end-to-end tests once more with the 64-bit ones under Wine ("wine.") and,
# where this machine runs 32-bit programs, the 32-bit ones ("wine32.").
windows_tests='^(wine\.|wine32\.|WindowsExecutables\.)'

# The Khronos glTF-Validator that the gltf tests run, as pinned by
# tests/gltf/package-lock.json. Some builds of nodejs bring their own npm and
# conflict with Debian's package of it.
gltf_validator() {
  need nodejs
  command -v npm >/dev/null 2>&1 || need npm
  echo "== installing the glTF-Validator in tests/gltf"
  (cd tests/gltf && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
}

run_tests() {
  need cmake make g++ libgtest-dev dpkg-dev binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 wine wine64 \
    "${header_only_packages[@]}"
  gltf_validator
  need blender python3-numpy
  local wine32=OFF
  if runs_i386; then
    need_wine32
    wine32=ON
  fi
  build_windows
  echo "== release build and tests"
  build build -DANIM3D_WINDOWS_DIR="$PWD/build-windows" -DANIM3D_WINDOWS64_DIR="$PWD/build-windows64" \
    -DANIM3D_WINE32_TESTS=$wine32 -DANIM3D_DIST_DIR="$PWD/dist"
  archives
  (cd build && ctest --output-on-failure --parallel "$jobs" -E "$windows_tests")
  echo "== AddressSanitizer and UndefinedBehaviorSanitizer build and tests"
  build build-sanitize -DCMAKE_BUILD_TYPE=Debug -DANIM3D_SANITIZE=ON -DANIM3D_WINDOWS_DIR= -DANIM3D_WINDOWS64_DIR= \
    -DANIM3D_DIST_DIR=
  (cd build-sanitize && ctest --output-on-failure --parallel "$jobs")
  echo "== Windows executables checked, and the end-to-end tests under Wine"
  local start=$SECONDS
  (cd build && ctest --output-on-failure --parallel "$jobs" -R "$windows_tests")
  echo "== the Windows tests took $((SECONDS - start)) s"
  fuzz 60
}

# Runs each libFuzzer target for $1 seconds on a copy of its seed corpus, so
# that the corpus in the repository stays as it is.
fuzz() {
  local seconds=${1:-60}
  need clang libclang-rt-14-dev "${header_only_packages[@]}"
  echo "== fuzz targets, ${seconds} s each"
  CC=clang CXX=clang++ build build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DANIM3D_FUZZ=ON -DANIM3D_TESTS=OFF
  # The whole-run targets write files on every input: a memory file system is faster.
  local scratch=${TMPDIR:-/tmp}
  [ -d /dev/shm ] && [ -w /dev/shm ] && scratch=/dev/shm
  for target in scan frameconv clipmerge inspect3d; do
    # Absolute paths: the whole-run targets change directory.
    local corpus=$PWD/build-fuzz/corpus-$target log=$PWD/build-fuzz/fuzz-$target.log
    mkdir -p "$corpus"
    echo "-- fuzz_$target"
    if ! TMPDIR=$scratch build-fuzz/fuzz/fuzz_$target -max_total_time="$seconds" -max_len=20000 \
      -print_final_stats=1 -artifact_prefix="$PWD/build-fuzz/" "$corpus" "$PWD/fuzz/corpus/$target" >"$log" 2>&1; then
      tail -40 "$log"
      echo "fuzz_$target failed; the input that failed is in build-fuzz/"
      return 1
    fi
    grep -E 'stat::number_of_executed_units|DONE' "$log"
  done
}

# The project's version, as CMakeLists.txt gives it.
version() { sed -n 's/^project(anim3d VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt; }

# Writes the archives of a release to dist/ with CPack, from the install rules
# of the built trees build (the tar.gz and the .deb) and build-windows (the
# zip), and the Blender add-on's zip.
archives() {
  rm -rf dist
  mkdir -p dist
  echo "== release archives in dist"
  (cd build-windows && cpack -D CPACK_OUTPUT_FILE_PREFIX="$PWD/../dist" >/dev/null)
  (cd build && cpack -D CPACK_OUTPUT_FILE_PREFIX="$PWD/../dist" >/dev/null)
  blender_addon_zip dist "$(version)"
  ls -l dist
}

package() {
  need cmake make g++ libgtest-dev dpkg-dev g++-mingw-w64-i686 "${header_only_packages[@]}"
  echo "== Windows build (32-bit) in build-windows"
  build build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
  echo "== release build in build"
  build build -DCMAKE_BUILD_TYPE=Release
  archives
}

# generate DIR ARGS...: writes a benchmark set with make_sequence unless DIR
# already holds one made with the same arguments by the same generator.
generate() {
  local dir=$1
  shift
  local stamp="$dir/.made-with" made_with
  made_with="$* $(cksum <build/bench/make_sequence)"
  if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$made_with" ]; then return 0; fi
  echo "== generating $dir"
  rm -rf "$dir"
  build/bench/make_sequence "$1" "$dir" "${@:2}"
  echo "$made_with" >"$stamp"
}

bench() {
  need cmake make g++ libgtest-dev libtinyobjloader-dev "${header_only_packages[@]}"
  build build -DCMAKE_BUILD_TYPE=Release
  local data=build/bench-data
  generate $data/a-separate frames 100 5000 separate
  generate $data/a-interleaved frames 100 5000 interleaved
  generate $data/b-separate frames 20 10000 separate
  generate $data/b-interleaved frames 20 10000 interleaved
  generate $data/clips clips
  build/bench/run_bench $data "${BENCH_RUNS:-7}"
}

# blender_addon_zip DIST VERSION: writes DIST/anim3d-VERSION-blender-addon.zip,
# the add-on as Blender's Preferences > Add-ons > Install takes it: a zip
# holding the package folder anim3d/. A VERSION that starts with numbers
# (1.2 or 1.2.3, a v before them allowed) becomes the add-on's own version.
blender_addon_zip() {
  local dist=$1 version=$2
  mkdir -p "$dist"
  dist=$(cd "$dist" && pwd)
  local zip="$dist/anim3d-$version-blender-addon.zip" stage
  stage=$(mktemp -d)
  mkdir "$stage/anim3d"
  cp blender/anim3d/*.py "$stage/anim3d/"
  if [[ $version =~ ^v?([0-9]+)\.([0-9]+)(\.([0-9]+))? ]]; then
    local numbers="${BASH_REMATCH[1]}, ${BASH_REMATCH[2]}, ${BASH_REMATCH[4]:-0}"
    sed -i -E "s/^( *\"version\": )\([0-9, ]*\)/\1($numbers)/" "$stage/anim3d/__init__.py"
  fi
  (cd "$stage" && cmake -E tar cf "$zip.tmp" --format=zip anim3d)
  rm -rf "$stage"
  mv "$zip.tmp" "$zip"
  echo "== written $zip"
}

case "${1:-}" in
  example) example ;;
  preview) preview ;;
  windows) windows ;;
  test) run_tests ;;
  package) package ;;
  fuzz) fuzz "${2:-60}" ;;
  bench) bench ;;
  blender-addon)
    if [ $# -ne 3 ]; then
      echo "usage: ./build.sh blender-addon DIST VERSION" >&2
      exit 2
    fi
    blender_addon_zip "$2" "$3"
    ;;
  *)
    sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac
