#!/usr/bin/env bash
# Prepares a Debian machine for a job of build.sh: installs the packages the
# job needs where they are missing (with apt-get, as root or through sudo).
#
#   tools/setup.sh JOB     JOB: example, windows, test, package, fuzz or bench
#   tools/setup.sh wine32  finds out whether this machine runs 32-bit x86
#                          programs and, where it does, installs the 32-bit
#                          Wine; exit status 0 when the 32-bit Windows programs
#                          can be run under it, 1 when not, saying why in one line
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

case "${1:-}" in
  example) need "${native[@]}" ;;
  windows) need "${windows[@]}" ;;
  package) need "${native[@]}" "${windows[@]}" dpkg-dev ;;
  fuzz) need clang libclang-rt-14-dev "${header_only[@]}" ;;
  bench) need "${native[@]}" libtinyobjloader-dev ;;
  test)
    need "${native[@]}" "${windows[@]}" dpkg-dev binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 \
      wine wine64 blender python3-numpy clang libclang-rt-14-dev
    gltf_validator
    ;;
  wine32) wine32 ;;
  *)
    sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac
