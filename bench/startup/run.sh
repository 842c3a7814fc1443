#!/bin/sh
# Start-up of korvadel on the large office, to form 1 drawn (target 30 ms):
# through the memory console (startup_bench: the module's start-up routine
# and form 1, several iterations and the process's first one apart), then
# in a real terminal (tmux.sh: the whole program in a fresh tmux pane).
#   bench/startup/run.sh [TMUX_RUNS]     (default 10)
# Builds Release into build-startup-bench, makes the suite root there once
# (suite_root.sh), runs pinned to core 0. Times: wall and CPU; on a shared
# machine the CPU column is the one to compare.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
build="$src/build-startup-bench"
log="$build/bench-build.log"
mkdir -p "$build"
if ! { cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKORVADEL_BENCH=ON -DKORVADEL_TESTS=OFF &&
       cmake --build "$build" --target startup_bench korvadel recman -j2; } >"$log" 2>&1; then
  tail -n 30 "$log"
  echo "run.sh: the build failed; the whole log is in $log" >&2
  exit 1
fi
root=$("$here/suite_root.sh" "$build")

echo "== memory console (time to form 1; cpu_ms is the CPU time of the same span)"
ZEPROOT="$root" ZEPEXE="$build/bin/" ZEPTMP="${root}TMP/" taskset -c 0 "$build/bin/startup_bench" \
  --benchmark_min_time=2 2>/dev/null | grep -E "^BM_|^first|^memory"
echo "== tmux"
"$here/tmux.sh" "$build/bin" "$root" "${1:-10}"
