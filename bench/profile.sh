#!/usr/bin/env bash
# Profiles frameconv on a benchmark set (made by ./build.sh bench; by default
# the 40 frames of set A, separate layout, that fill the vertex store): a
# release build with debug information in build-profile, then
#   - build/bench/stages: the time of each stage (reading, the first frame's
#     passes, the later frames' searching, number reading and packing,
#     writing), in one process
#   - perf stat: the cost of a run that converts nothing (process start and
#     exit), beside a whole run
#   - valgrind --tool=callgrind: instructions per function (steady under load)
#   - perf record -e cpu-clock, when perf works here: where the time goes,
#     kernel included (reads, page faults, process start), over 20 runs
# Outputs stay in build-profile/ (callgrind.out, perf.data) for
# callgrind_annotate and perf report.
#
#   bench/profile.sh [SET]    SET: a directory under build/bench-data
#                             (a-separate/first-40)
set -euo pipefail  # the listings below end in "|| true": head closes their pipes early
cd "$(dirname "$0")/.."

set_name=${1:-a-separate/first-40}
data=build/bench-data/$set_name
[ -f "$data/anima000.obj" ] || {
  echo "no $data: run ./build.sh bench first" >&2
  exit 2
}

cmake -S . -B build-profile -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS="-g -fno-omit-frame-pointer" \
  -DANIM3D_TESTS=OFF >/dev/null
cmake --build build-profile --target frameconv --parallel "$(nproc 2>/dev/null || echo 2)" >/dev/null

# A copy of the set, so that the outputs written do not disturb the benchmark's.
work=build-profile/run-${set_name//\//-}
rm -rf "$work"
mkdir -p "$work"
cp "$data"/anima*.obj "$work"/
program=$PWD/build-profile/frameconv

echo "== stages, one by one in one process"
build/bench/stages "$work" 9

if perf stat -o /dev/null true >/dev/null 2>&1; then
  echo "== perf stat, 20 runs: a run in an empty directory (process start and exit), then a whole run"
  mkdir -p build-profile/empty
  for dir in build-profile/empty "$work"; do
    (cd "$dir" && perf stat -r 20 "$program" 2>&1 >/dev/null |
      grep -E 'task-clock|page-faults|seconds time elapsed' | sed "s|^|  ${dir##*/}: |") || true
  done
fi

if command -v valgrind >/dev/null; then
  echo "== callgrind: instructions by function"
  (cd "$work" && valgrind --tool=callgrind --callgrind-out-file=../callgrind.out "$program" >/dev/null 2>&1) || true
  callgrind_annotate build-profile/callgrind.out 2>/dev/null | grep -E '^ *[0-9][0-9,]* ' | head -12 || true
else
  echo "== valgrind not installed: no instruction profile"
fi

if perf record -q -e cpu-clock -o build-profile/perf-check.data true >/dev/null 2>&1; then
  echo "== perf (cpu-clock samples, 20 runs): time by function, kernel included"
  (cd "$work" && perf record -q -F 10000 -e cpu-clock -g -o ../perf.data -- \
    sh -c "for i in \$(seq 20); do '$program' >/dev/null; done" >/dev/null 2>&1) || true
  # Shares of all samples, the shell loop's included; pvm_irq_enable and the
  # like are where a virtual machine's page faults and exits show.
  perf report -i build-profile/perf.data --stdio --no-children -g none --sort comm,dso,sym 2>/dev/null |
    grep -E '^ +[0-9]' | grep ' frameconv ' | head -20 || true
  echo "== perf: the same samples by stage (each sample goes to the first stage its call chain shows)"
  perf script -i build-profile/perf.data --comm frameconv -F ip,sym 2>/dev/null | awk '
    function stage(chain) {
      if (chain ~ / (asm_)?exc_page_fault /) {
        if (chain ~ / (append_word|pack_vertex|scan_later_frame|scan_first_frame|next_(first|later)_frame_vertex) /) return "page faults: vertex store, first touch"
        if (chain ~ / (scan_triangles|read_face_line) /) return "page faults: triangle table, first touch"
        if (chain ~ / (ksys_read|filemap_read) /) return "page faults: text buffer, first touch (in read)"
        if (chain ~ / (_dl_[a-z_]*|dl_main|elf_load|bprm_execve) /) return "process start: exec and dynamic linking"
        return "page faults: other"
      }
      if (chain ~ / (ksys_read|filemap_read) /) return "read(): copy from the page cache"
      if (chain ~ / (ksys_write|do_renameat2|do_sys_openat2|__x64_sys_close|vfs_fstatat) /) return "open, close, stat, write, rename"
      if (chain ~ / (do_exit|exit_mmap|do_group_exit) /) return "exit: unmapping"
      if (chain ~ / (bprm_execve|elf_load|_dl_[a-z_]*|dl_main|_dl_start_user) /) return "process start: exec and dynamic linking"
      if (leaf ~ /^read_real/) return "number reading: read_real"
      # read_real is inlined into the vertex steps, which also search.
      if (leaf ~ /^next_(first|later)_frame_vertex/) return "vertex passes: number reading and searching"
      if (leaf ~ /memchr|^find_token|^skip_past_space/) return "searching: find_token, skip_past_space, memchr"
      if (chain ~ / (scan_triangles|read_face_line|read_integer) /) return "triangle pass (first frame)"
      if (leaf ~ /^(pack_vertex|append_word)/) return "packing and storing words"
      if (leaf ~ /^scan_(later|first)_frame/) return "vertex pass loops"
      return "other: " leaf
    }
    NF == 0 { if (chain != "") { count[stage(chain " ")]++; total++ } chain = ""; leaf = ""; next }
    { if (leaf == "") leaf = $2; chain = chain " " $2 }
    END {
      if (chain != "") { count[stage(chain " ")]++; total++ }
      for (s in count) if (count[s] / total >= 0.005) printf "%6.1f%%  %s\n", 100 * count[s] / total, s
    }' | sort -rn || true
else
  echo "== perf does not work here: no time profile"
fi
