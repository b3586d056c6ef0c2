#!/bin/bash
# The sizes of the .glb files inspect3d gltf writes, in bytes, on three
# inputs (written afresh in a temporary folder):
#
#   example   the bundled example converted by frameconv (24 frames of 50
#             vertices, every vertex moving)
#   moving    1,000 frames of 62 vertices, 8 of which move
#             (make_gltf_input moving)
#   clips     the benchmark's clip set (make_sequence clips: 67 clips of
#             2,000 vertices, 1,220 frames) merged by clipmerge, with a
#             clips.json naming each clip; more frames than one file holds,
#             so each clip is written alone and the sizes are summed
#
# for three ways of writing them: the file of an earlier inspect3d (EARLIER,
# if given; a clip by --frames), --float, and the default (the engine's
# integers). A figure, not a test: nothing is compared against a limit.
#
# usage: bench/gltf_sizes.sh BUILD_DIR [EARLIER_INSPECT3D]
set -eu
if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: bench/gltf_sizes.sh BUILD_DIR [EARLIER_INSPECT3D]" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
earlier=${2:+$(cd "$(dirname "$2")" && pwd)/$(basename "$2")}
source_dir=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir "$work/example"
cp "$source_dir"/examples/twisting-box/anima*.obj "$work/example"
(cd "$work/example" && "$build/frameconv" >/dev/null) || true  # frameconv ends with 1
"$build/bench/make_gltf_input" moving "$work/moving" 1000 62 8
"$build/bench/make_sequence" clips "$work/clips"
(cd "$work/clips" && "$build/clipmerge" >/dev/null) || true  # clipmerge ends with 1
"$build/bench/make_gltf_input" clip-set "$work/clips"

# size FILE: its bytes.
size() { wc -c <"$1" | tr -d ' '; }

# glb_bytes SET WAY: the bytes of SET written the WAY (earlier, float,
# integers); a clip set's clips summed.
glb_bytes() {
  local set=$1 way=$2 total=0 clip first last
  cd "$work/$set"
  if [ "$set" != clips ]; then
    case $way in
      earlier) "$earlier" gltf --out "$way.glb" >/dev/null ;;
      float) "$build/inspect3d" gltf --float --out "$way.glb" >/dev/null ;;
      integers) "$build/inspect3d" gltf --out "$way.glb" >/dev/null ;;
    esac
    size "$way.glb"
    return
  fi
  for clip in $(seq 1 67); do
    case $way in
      earlier)
        # The clip's frames, from what the new inspect3d writes of it.
        read -r first last < <("$build/inspect3d" gltf --clip "a$clip" --json --out scratch.glb |
          sed -n 's/.*"\(first_frame\|last_frame\)": \([0-9]*\).*/\2/p' | tr '\n' ' ')
        "$earlier" gltf --frames "$first-$last" --out "$way.glb" >/dev/null ;;
      float) "$build/inspect3d" gltf --clip "a$clip" --float --out "$way.glb" >/dev/null ;;
      integers) "$build/inspect3d" gltf --clip "a$clip" --out "$way.glb" >/dev/null ;;
    esac
    total=$((total + $(size "$way.glb")))
  done
  echo "$total"
}

printf '%-8s %12s %12s %12s %10s\n' set earlier --float integers "÷ earlier"
for set in example moving clips; do
  before=-
  if [ -n "$earlier" ]; then before=$(glb_bytes $set earlier); fi
  float=$(glb_bytes $set float)
  integers=$(glb_bytes $set integers)
  ratio=-
  if [ "$before" != - ]; then ratio=$(awk -v a="$integers" -v b="$before" 'BEGIN { printf "%.3f", a / b }'); fi
  printf '%-8s %12s %12s %12s %10s\n' "$set" "$before" "$float" "$integers" "$ratio"
done
