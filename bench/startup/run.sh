#!/bin/sh
# Start-up of korvadel on the large office, to form 1 drawn (target 30 ms):
# through the memory console (startup_bench: the module's start-up routine
# and form 1, several iterations and the process's first one apart), then
# in a real terminal (tmux.sh: the whole program in a fresh tmux pane).
#   bench/startup/run.sh [TMUX_RUNS]     (default 10)
# Builds and makes the suite root with prepare.sh; runs pinned to core 0.
# Times: wall and CPU; on a shared machine the CPU figures are the ones to
# compare.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
prepared=$("$here/prepare.sh" startup_bench)
build=$(echo "$prepared" | sed -n 1p)
root=$(echo "$prepared" | sed -n 2p)

echo "== memory console (time to form 1; cpu_ms is the CPU time of the same span)"
ZEPROOT="$root" ZEPEXE="$build/bin/" ZEPTMP="${root}TMP/" taskset -c 0 "$build/bin/startup_bench" \
  --benchmark_min_time=2 2>/dev/null | grep -E "^BM_|^first|^memory"
echo "== tmux"
"$here/tmux.sh" "$build/bin" "$root" "${1:-10}"
