#!/usr/bin/env bash
# Builds the tools and runs one job. On a fresh Debian machine it first
# installs the packages the job needs (tools/setup.sh).
#
#   ./build.sh example   build the three programs, then convert the bundled
#                        example in build/example
#   ./build.sh preview   the example, then draw its contact sheet again as
#                        docs/preview.png (the picture in the README)
#   ./build.sh windows   build the Windows executables in build-windows
#                        (and a 64-bit build of them in build-windows64)
#   ./build.sh test      build all, then run every test (the Windows
#                        executables under Wine: the 64-bit ones, and the
#                        32-bit ones where this machine runs 32-bit programs)
#   ./build.sh web       build the web page build-web/anim3d.html: the three
#                        programs compiled to WebAssembly, with the viewer,
#                        in one file that works opened from disk
#   ./build.sh package   release builds, then the archives of a release in dist/
#                        (Windows zip, Linux tar.gz and .deb, the web page's
#                        zip, Blender add-on zip and extension)
#   ./build.sh fuzz [S]  build the fuzz targets with clang and run each S seconds (60)
#   ./build.sh bench     release build, then time frameconv and clipmerge on
#                        generated sequences (BENCH_RUNS runs each, default 7),
#                        the sizes of inspect3d gltf's files, and the add-on's
#                        clip-set export beside Blender's own OBJ exporter on
#                        each Blender at hand, and the web page's runs beside
#                        the native programs' (bench/web_bench.mjs)
#   ./build.sh blender-addon DIST VERSION
#                        write the Blender add-on DIST/anim3d-VERSION-blender-addon.zip
#   ./build.sh blender-extension DIST VERSION [BLENDER...]
#                        write the add-on as a Blender extension,
#                        DIST/anim3d-VERSION-blender-extension.zip, with the
#                        Blender command given or the newest at hand
set -euo pipefail
cd "$(dirname "$0")"

jobs=$(nproc 2>/dev/null || echo 2)

# Where tools/setup.sh keeps the Debian roots of the newer Blenders.
export ANIM3D_BLENDER_ROOTS=${ANIM3D_BLENDER_ROOTS:-${XDG_CACHE_HOME:-$HOME/.cache}/anim3d-blender-roots}

# build PRESET [cmake options...]: configures the tree of a preset of
# CMakePresets.json (release in build, sanitize, windows, windows64, fuzz) and
# builds it; BUILD_TARGETS, when set, names the targets to build.
build() {
  local preset=$1
  shift
  cmake --preset "$preset" "$@" >/dev/null
  cmake --build --preset "$preset" --parallel "$jobs" ${BUILD_TARGETS:+--target $BUILD_TARGETS}
}

example() {
  tools/setup.sh example
  BUILD_TARGETS="frameconv clipmerge inspect3d" build release
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
  echo "== Windows build (32-bit GUI executables) in build-windows"
  build windows
  echo "== Windows build (64-bit, for the tests under Wine) in build-windows64"
  build windows64
}

# The web page: emscripten builds the programs in build-web, and
# web/build.mjs puts them with the page's script into build-web/anim3d.html.
# Debian's emscripten needs NODE_PATH to find its JavaScript modules.
build_web() {
  echo "== the web page (emscripten) in build-web"
  export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}
  emcmake cmake -S . -B build-web -DCMAKE_BUILD_TYPE=Release -DANIM3D_WERROR=ON -DANIM3D_TESTS=OFF >/dev/null
  cmake --build build-web --parallel "$jobs"
}

web() {
  tools/setup.sh web
  build_web
  ls -l build-web/anim3d.html
}

windows() {
  tools/setup.sh windows
  build_windows
  ls -l build-windows/*.exe build-windows64/*.exe
}

# The tests of the Windows builds: the format of their executables, and the
# end-to-end tests once more with the 64-bit ones under Wine ("wine.") and,
# where this machine runs 32-bit programs, the 32-bit ones ("wine32.").
windows_tests='^(wine\.|wine32\.|WindowsExecutables\.)'

run_tests() {
  tools/setup.sh test
  local wine32=OFF
  tools/setup.sh wine32 && wine32=ON
  build_windows
  build_web
  echo "== release build and tests"
  build release -DANIM3D_WINDOWS_DIR="$PWD/build-windows" -DANIM3D_WINDOWS64_DIR="$PWD/build-windows64" \
    -DANIM3D_WINE32_TESTS=$wine32 -DANIM3D_DIST_DIR="$PWD/dist" -DANIM3D_BLENDER_ROOTS="$ANIM3D_BLENDER_ROOTS" \
    -DANIM3D_WEB_PAGE="$PWD/build-web/anim3d.html"
  archives
  (cd build && ctest --output-on-failure --parallel "$jobs" -E "$windows_tests")
  echo "== AddressSanitizer and UndefinedBehaviorSanitizer build and tests"
  build sanitize
  (cd build-sanitize && ctest --output-on-failure --parallel "$jobs")
  echo "== Windows executables checked, and the end-to-end tests under Wine"
  local start=$SECONDS
  (cd build && ctest --output-on-failure --parallel "$jobs" -R "$windows_tests")
  echo "== the Windows tests took $((SECONDS - start)) s"
  run_fuzzers 60
}

# Runs each libFuzzer target for $1 seconds on a copy of its seed corpus, so
# that the corpus in the repository stays as it is.
run_fuzzers() {
  local seconds=${1:-60}
  echo "== fuzz targets, ${seconds} s each"
  build fuzz
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
  web_zip dist "$(version)"
  blender_addon_zip dist "$(version)"
  blender_extension dist "$(version)"
  ls -l dist
}

package() {
  tools/setup.sh package
  echo "== Windows build (32-bit) in build-windows"
  build windows
  build_web
  echo "== release build in build"
  build release
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
  tools/setup.sh bench
  build release
  build_web
  local data=build/bench-data
  generate $data/a-separate frames 100 5000 separate
  generate $data/a-interleaved frames 100 5000 interleaved
  generate $data/b-separate frames 20 10000 separate
  generate $data/b-interleaved frames 20 10000 interleaved
  generate $data/clips clips
  build/bench/run_bench $data "${BENCH_RUNS:-7}"
  echo "== the sizes of inspect3d gltf's files"
  bench/gltf_sizes.sh build
  # The add-on's clip-set export beside Blender's own OBJ exporter, on each
  # Blender at hand.
  local blender
  while read -r blender; do
    [ -n "$blender" ] || continue
    ANIM3D_FRAMECONV=$PWD/build/frameconv ANIM3D_CLIPMERGE=$PWD/build/clipmerge ANIM3D_INSPECT3D=$PWD/build/inspect3d \
      $blender -b --factory-startup --python-exit-code 1 --python bench/blender_export.py -- "${BENCH_BLENDER_RUNS:-5}" |
      sed -n '/^Blender .*: [0-9]* frames of/,$p' | grep -v '^Blender quit'
  done < <(blenders_at_hand)
  echo "== the web page beside the native programs, in headless Chromium"
  node bench/web_bench.mjs
}

# zip_stage STAGE FOLDER ZIP: writes the folder FOLDER of STAGE as the zip
# ZIP (placed whole once written), and removes STAGE.
zip_stage() {
  local stage=$1 folder=$2 zip=$3
  (cd "$stage" && cmake -E tar cf "$zip.tmp" --format=zip "$folder")
  rm -rf "$stage"
  mv "$zip.tmp" "$zip"
  echo "== written $zip"
}

# web_zip DIST VERSION: writes DIST/anim3d-VERSION-web.zip, the page of
# build-web with its README.txt.
web_zip() {
  local dist stage top=anim3d-$2-web
  dist=$(mkdir -p "$1" && cd "$1" && pwd)
  stage=$(mktemp -d)
  mkdir "$stage/$top"
  cp build-web/anim3d.html "$stage/$top/"
  sed "s/@PROJECT_VERSION@/$2/g" packaging/README-web.txt >"$stage/$top/README.txt"
  zip_stage "$stage" "$top" "$dist/$top.zip"
}

# stage_addon FOLDER VERSION: copies the add-on's package folder to
# FOLDER/anim3d. A VERSION that starts with numbers (1.2 or 1.2.3, a v before
# them allowed) becomes the add-on's own version, in bl_info and the manifest.
stage_addon() {
  local stage=$1 version=$2
  mkdir "$stage/anim3d"
  cp blender/anim3d/*.py blender/anim3d/blender_manifest.toml "$stage/anim3d/"
  if [[ $version =~ ^v?([0-9]+)\.([0-9]+)(\.([0-9]+))? ]]; then
    local major=${BASH_REMATCH[1]} minor=${BASH_REMATCH[2]} patch=${BASH_REMATCH[4]:-0}
    sed -i -E "s/^( *\"version\": )\([0-9, ]*\)/\1($major, $minor, $patch)/" "$stage/anim3d/__init__.py"
    sed -i -E "s/^version = \"[^\"]*\"/version = \"$major.$minor.$patch\"/" "$stage/anim3d/blender_manifest.toml"
  fi
}

# blender_addon_zip DIST VERSION: writes DIST/anim3d-VERSION-blender-addon.zip,
# the add-on as Blender's Preferences > Add-ons > Install takes it (Blender
# 3.4 to 4.1): a zip holding the package folder anim3d/.
blender_addon_zip() {
  local dist stage
  dist=$(mkdir -p "$1" && cd "$1" && pwd)
  stage=$(mktemp -d)
  stage_addon "$stage" "$2"
  zip_stage "$stage" anim3d "$dist/anim3d-$2-blender-addon.zip"
}

# The Blender commands at hand: the host's, then those of the Debian roots
# tools/setup.sh blender-roots made; one a line.
blenders_at_hand() {
  command -v blender || true
  local suite
  for suite in trixie sid; do
    [ -x "$ANIM3D_BLENDER_ROOTS/$suite/usr/bin/blender" ] && echo "$PWD/tools/in-root.sh $ANIM3D_BLENDER_ROOTS/$suite blender"
  done
  return 0
}

# The newest Blender at hand that builds extensions (4.2 or later), as a
# command line, or nothing.
newest_extension_blender() {
  local command version
  while read -r command; do
    version=$($command --version 2>/dev/null | sed -n 's/^Blender \([0-9][0-9.]*\).*/\1/p' | head -n 1)
    [ -n "$version" ] && printf '%s\t%s\n' "$version" "$command"
  done < <(blenders_at_hand) | sort -V | awk -F '\t' '{ split($1, v, ".") } v[1] > 4 || v[1] == 4 && v[2] >= 2 { newest = $2 } END { print newest }'
}

# blender_extension DIST VERSION [BLENDER...]: writes
# DIST/anim3d-VERSION-blender-extension.zip, the add-on as an extension of
# Blender 4.2 and later, checked by `blender --command extension validate`
# and built by `extension build`, with the Blender command given or else the
# newest at hand.
blender_extension() {
  local dist=$1 stage version=$2
  shift 2
  local blender=("$@")
  [ ${#blender[@]} -gt 0 ] || read -r -a blender <<<"$(newest_extension_blender)"
  if [ ${#blender[@]} -eq 0 ]; then
    echo "== no Blender 4.2 or later at hand: the extension is not built (tools/setup.sh blender-roots makes one)"
    return 0
  fi
  dist=$(mkdir -p "$dist" && cd "$dist" && pwd)
  stage=$(mktemp -d)
  stage_addon "$stage" "$version"
  local zip="$dist/anim3d-$version-blender-extension.zip"
  rm -f "$zip"
  "${blender[@]}" --command extension validate "$stage/anim3d" >"$stage/validate.log" 2>&1 &&
    "${blender[@]}" --command extension build --source-dir "$stage/anim3d" --output-filepath "$zip" \
      >"$stage/build.log" 2>&1 || {
    cat "$stage"/*.log >&2
    rm -rf "$stage"
    return 1
  }
  rm -rf "$stage"
  echo "== written $zip ($("${blender[@]}" --version 2>/dev/null | head -n 1))"
}

case "${1:-}" in
  example) example ;;
  preview) preview ;;
  windows) windows ;;
  web) web ;;
  test) run_tests ;;
  package) package ;;
  fuzz)
    tools/setup.sh fuzz
    run_fuzzers "${2:-60}"
    ;;
  bench) bench ;;
  blender-addon)
    if [ $# -ne 3 ]; then
      echo "usage: ./build.sh blender-addon DIST VERSION" >&2
      exit 2
    fi
    blender_addon_zip "$2" "$3"
    ;;
  blender-extension)
    if [ $# -lt 3 ]; then
      echo "usage: ./build.sh blender-extension DIST VERSION [BLENDER...]" >&2
      exit 2
    fi
    blender_extension "${@:2}"
    ;;
  *)
    sed -n '2,/^set /{/^#/s/^# \{0,1\}//p}' "$0"
    exit 2
    ;;
esac
