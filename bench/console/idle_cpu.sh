#!/usr/bin/env bash
# Idle CPU of a screen that waits for a key: starts consoledemo in tmux, lets
# it wait for ten seconds, and reports the processor time it used.
# Usage: bench/console/idle_cpu.sh <build dir>   (default: build)
set -euo pipefail
build="${1:-build}"
demo="$build/bin/consoledemo"
[ -x "$demo" ] || { echo "no $demo: build the consoledemo target first" >&2; exit 1; }
seconds=10
sock="idlecpu-$$"
t() { tmux -L "$sock" "$@"; }
trap 't kill-server 2>/dev/null || true' EXIT

t -f /dev/null new-session -d -s idle -x 80 -y 25 "exec $demo /dev/null"
sleep 1
pid=$(t display -p -t idle '#{pane_pid}')
ticks=$(getconf CLK_TCK)
cpu() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
before=$(cpu)
sleep "$seconds"
after=$(cpu)
used=$(( after - before ))
# End the demo by its own keys, so that it cleans up after itself.
t send-keys -t idle Escape
sleep 0.3
t send-keys -t idle x
sleep 0.5
awk -v u="$used" -v hz="$ticks" -v s="$seconds" \
  'BEGIN { printf "consoledemo waiting for a key: %.3f s of CPU in %d s (%.2f %% of a core)\n", u / hz, s, 100 * u / hz / s }'
