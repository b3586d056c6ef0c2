#!/usr/bin/env bash
# Runs a command inside a Debian root that tools/setup.sh blender-roots made,
# with the project's tree, /tmp, /dev and /proc seen there at the paths they
# have here, so that the root's Blender runs the add-on's tests on the programs
# of this machine's build. The mounts live in a mount namespace of the
# command's own and go with it.
#
#   tools/in-root.sh ROOT COMMAND [ARGUMENT...]
set -euo pipefail
if [ $# -lt 2 ]; then
  sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
fi
root=$(cd "$1" && pwd)
shift
top=$(cd "$(dirname "$0")/.." && pwd)
scratch=${TMPDIR:-/tmp}
sudo=
[ "$(id -u)" -ne 0 ] && sudo=sudo

# shellcheck disable=SC2016
exec $sudo unshare --mount env ROOT="$root" TOP="$top" SCRATCH="$scratch" HERE="$PWD" bash -c '
  set -e
  mount -t proc proc "$ROOT/proc"
  mount --rbind /dev "$ROOT/dev"
  for dir in /tmp "$SCRATCH" "$TOP"; do
    mkdir -p "$ROOT$dir"
    mount --bind "$dir" "$ROOT$dir"
  done
  cd "$ROOT" 
  exec chroot "$ROOT" sh -c "cd \"\$1\" 2>/dev/null || cd /; shift; exec \"\$@\"" sh "$HERE" "$@"
' bash "$@"
