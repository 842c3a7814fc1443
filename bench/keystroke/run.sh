#!/bin/sh
# Keystroke to screen of korvadel in a pseudo-terminal (80x25,
# TERM=tmux-256color) on the large office (target 1 ms to the last byte of
# the update): median, 90th and 99th percentile, bytes per key, the
# program's CPU time per key; and its start-up to form 1 seen from the pty.
#   bench/keystroke/run.sh [KEYS [QUIET_MS]]     (default 300 20)
# Builds Release into build-startup-bench (shared with bench/startup), makes
# the suite root there once (bench/startup/suite_root.sh), runs pinned to
# core 0: the program and the benchmark share that core, as a terminal and
# its program would on a busy machine.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
build="$src/build-startup-bench"
log="$build/bench-build.log"
mkdir -p "$build"
if ! { cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKORVADEL_BENCH=ON -DKORVADEL_TESTS=OFF &&
       cmake --build "$build" --target keystroke_bench korvadel recman -j2; } >"$log" 2>&1; then
  tail -n 30 "$log"
  echo "run.sh: the build failed; the whole log is in $log" >&2
  exit 1
fi
root=$("$src/bench/startup/suite_root.sh" "$build")
ZEPROOT="$root" ZEPEXE="$build/bin/" ZEPTMP="${root}TMP/" taskset -c 0 "$build/bin/keystroke_bench" \
  "$build/bin/korvadel" "${1:-300}" "${2:-20}"
