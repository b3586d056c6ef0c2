#!/usr/bin/env bash
# Prepares a Debian machine for a job of build.sh: installs the packages the
# job needs where they are missing (with apt-get, as root or through sudo).
#
#   tools/setup.sh JOB     JOB: example, windows, web, test, package, fuzz or bench
#   tools/setup.sh wine32  finds out whether this machine runs 32-bit x86
#                          programs and, where it does, installs the 32-bit
#                          Wine; exit status 0 when the 32-bit Windows programs
#                          can be run under it, 1 when not, saying why in one line
#   tools/setup.sh blender-roots
#                          makes (or reuses) the minimal Debian roots holding the
#                          newer Blenders the add-on is tested on: trixie's and
#                          sid's, in $ANIM3D_BLENDER_ROOTS (~/.cache/anim3d-blender-roots);
#                          one that cannot be made is named and left out
set -euo pipefail
cd "$(dirname "$0")/.."

sudo=
[ "$(id -u)" -ne 0 ] && sudo=sudo

missing_packages() {
  local package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || echo "$package"
  done
}

# A package list that failed to download (a mirror in the middle of a sync, an
# architecture it no longer serves) makes apt-get update fail as a whole, though
# the lists the job needs may have come: the install that follows says whether
# they did.
update_lists() {
  $sudo apt-get update -qq || echo "== apt-get update failed for some lists; installing from those it has"
}

# Installs whichever of the named Debian packages are missing; fails when
# they cannot be installed.
need() {
  local missing
  missing=$(missing_packages "$@")
  [ -n "$missing" ] || return 0
  echo "== installing" $missing
  update_lists
  # Waits for another apt or dpkg run to finish rather than failing at once.
  # shellcheck disable=SC2086
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq -o DPkg::Lock::Timeout=600 $missing >/dev/null
}

# The header-only libraries of inspect3d: tinygltf for glTF, which needs
# nlohmann/json, and stb for PNG.
header_only=(libtinygltf-dev nlohmann-json3-dev libstb-dev)
native=(cmake make g++ libgtest-dev "${header_only[@]}")
windows=(cmake make g++-mingw-w64-i686 g++-mingw-w64-x86-64 "${header_only[@]}")

# The Khronos glTF-Validator that the gltf tests run, as pinned by
# tests/gltf/package-lock.json. Some builds of nodejs bring their own npm and
# conflict with Debian's package of it.
gltf_validator() {
  need nodejs
  command -v npm >/dev/null 2>&1 || need npm
  echo "== installing the glTF-Validator in tests/gltf"
  (cd tests/gltf && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
}

# The web page's build: Debian's emscripten, and the page's libraries (three.js,
# fflate, esbuild) as pinned by web/package-lock.json.
web_page() {
  need emscripten nodejs cmake make libtinygltf-dev nlohmann-json3-dev libstb-dev
  command -v npm >/dev/null 2>&1 || need npm
  echo "== installing the page's libraries in web"
  (cd web && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
}

# The page's tests: Debian's chromium and firefox-esr, driven by
# puppeteer-core as pinned by tests/web/package-lock.json.
web_page_tests() {
  need chromium firefox-esr
  echo "== installing puppeteer-core in tests/web"
  (cd tests/web && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
}

# Whether this machine runs 32-bit x86 programs, as the 32-bit Wine loader is
# one: a static 32-bit C program, built with the compiler's 32-bit mode, is run.
# A kernel without 32-bit support refuses it ("Exec format error").
runs_i386() {
  local dir=build/i386-probe output status=0
  need gcc gcc-multilib
  mkdir -p "$dir"
  if ! printf 'int main(void) { return 0; }\n' | gcc -m32 -static -x c -o "$dir/probe" - 2>"$dir/build.log"; then
    echo "== 32-bit Windows programs not run under Wine: no 32-bit x86 test program could be built ($(head -n 1 "$dir/build.log"))"
    return 1
  fi
  output=$("$dir/probe" 2>&1) || status=$?
  if [ "$status" -eq 0 ]; then
    echo "== this machine runs 32-bit x86 programs: the Wine tests run the 32-bit Windows programs too"
    return 0
  fi
  local why=${output##*: }
  [ -n "$why" ] || why="exit status $status"
  echo "== 32-bit Windows programs not run under Wine: this machine cannot run 32-bit x86 programs (a test program's run: $why)"
  return 1
}

# The 32-bit Wine is Debian's i386 package wine32. Where it cannot be installed
# (the i386 lists unreachable, say), the 64-bit Wine suites run alone.
wine32() {
  runs_i386 || return 1
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "== adding the i386 architecture, for wine32"
    $sudo dpkg --add-architecture i386
    update_lists
  fi
  if ! need wine32:i386; then
    echo "== 32-bit Windows programs not run under Wine: the package wine32:i386 could not be installed"
    return 1
  fi
}

# The Debian archive apt uses on this machine, for the roots.
debian_archive() {
  local uri
  uri=$(sed -n 's/^URIs: *\(.*debian\/*\)$/\1/p' /etc/apt/sources.list.d/*.sources 2>/dev/null | head -n 1)
  [ -n "$uri" ] || uri=$(sed -n 's/^deb \(\[[^]]*\] \)\{0,1\}\([^ ]*debian\/*\) .*/\2/p' /etc/apt/sources.list 2>/dev/null | head -n 1)
  echo "${uri:-http://deb.debian.org/debian}"
}

# blender_root SUITE: a minimal Debian SUITE root with its blender and
# python3-numpy (and the modules Blender's own extensions add-on imports,
# which Debian's blender does not pull in), in which the add-on's tests run that Blender (tools/in-root.sh).
# A root that is already whole is reused; one is whole once blender is in it,
# as it is moved to its name only then.
blender_root() {
  local suite=$1 roots=${ANIM3D_BLENDER_ROOTS:-${XDG_CACHE_HOME:-$HOME/.cache}/anim3d-blender-roots} start=$SECONDS
  local root=$roots/$suite
  if [ -x "$root/usr/bin/blender" ]; then
    echo "== Blender root $root is there: $(blender_version "$root")"
    return 0
  fi
  need debootstrap
  $sudo mkdir -p "$roots"
  local partial=$root.partial
  $sudo rm -rf "$partial"
  echo "== making the Blender root $root (Debian $suite, minbase)"
  # sid's Release file may be past its Valid-Until date on a snapshot of the archive.
  local apt_options=(-o Acquire::Check-Valid-Until=false -o DPkg::Lock::Timeout=600)
  if ! $sudo debootstrap --variant=minbase "$suite" "$partial" "$(debian_archive)" >"$roots/$suite.log" 2>&1 ||
    ! $sudo chroot "$partial" apt-get "${apt_options[@]}" update -qq >>"$roots/$suite.log" 2>&1 ||
    ! DEBIAN_FRONTEND=noninteractive $sudo chroot "$partial" apt-get "${apt_options[@]}" install -y -qq \
      --no-install-recommends blender python3-numpy python3-cattr python3-requests >>"$roots/$suite.log" 2>&1; then
    echo "== Blender of Debian $suite cannot be had here, its add-on tests are skipped: $(tail -n 1 "$roots/$suite.log")"
    return 1
  fi
  $sudo chroot "$partial" apt-get clean
  $sudo mv "$partial" "$root"
  echo "== Blender root $root made in $((SECONDS - start)) s: $(blender_version "$root")"
}

blender_version() {
  tools/in-root.sh "$1" blender --version 2>/dev/null | head -n 1
}

# Both roots at once: most of the time goes in downloads. Fails when one
# cannot be made (said, naming it).
blender_roots() {
  local trixie status=0
  blender_root trixie &
  trixie=$!
  blender_root sid || status=1
  wait $trixie || status=1
  return $status
}

case "${1:-}" in
  example) need "${native[@]}" ;;
  windows) need "${windows[@]}" ;;
  web) web_page ;;
  package)
    need "${native[@]}" "${windows[@]}" dpkg-dev
    web_page
    blender_roots || true
    ;;
  fuzz) need clang libclang-rt-14-dev "${header_only[@]}" ;;
  bench)
    need "${native[@]}" libtinyobjloader-dev blender python3-numpy
    web_page
    web_page_tests
    blender_roots || true
    ;;
  test)
    need "${native[@]}" "${windows[@]}" dpkg-dev binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 \
      wine wine64 blender python3-numpy assimp-testmodels clang libclang-rt-14-dev
    gltf_validator
    web_page
    web_page_tests
    blender_roots || true
    ;;
  wine32) wine32 ;;
  blender-roots) blender_roots ;;
  *)
    sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac
