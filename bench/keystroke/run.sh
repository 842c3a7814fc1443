#!/bin/sh
# Keystroke to screen of korvadel in a pseudo-terminal (80x25,
# TERM=tmux-256color) on the large office (target 1 ms to the last byte of
# the update): median, 90th and 99th percentile, bytes per key, the
# program's CPU time per key; and its start-up to form 1 seen from the pty.
# Then the same keys to its twin, a plain curses program that only shows
# form 1's title and six fields (keystroke_twin: the terminal's and curses'
# part of a key).
#   bench/keystroke/run.sh [KEYS [QUIET_MS]]     (default 300 20)
# Builds and makes the suite root with bench/startup/prepare.sh; runs pinned
# to core 0: the program and the benchmark share that core, as a terminal and
# its program would on a busy machine.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
prepared=$("$here/../startup/prepare.sh" keystroke_bench keystroke_twin)
build=$(echo "$prepared" | sed -n 1p)
root=$(echo "$prepared" | sed -n 2p)
for program in korvadel keystroke_twin; do
  echo "== $program"
  ZEPROOT="$root" ZEPEXE="$build/bin/" ZEPTMP="${root}TMP/" taskset -c 0 "$build/bin/keystroke_bench" \
    "$build/bin/$program" "${1:-300}" "${2:-20}"
done
