#!/bin/sh
# The demo as a newcomer meets it: ./demo.sh in a fresh copy of the
# checkout's tracked files (no build folder), in an 80x25 tmux pane, timed
# from its start to the first form drawn: the build of its six programs and
# the making of the suite root, then the session's start. The demo is then
# left by Escape.
#   bench/demo/run.sh
# Times: wall, and the CPU the pane's processes and their children used.
set -eu
source=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
socket="korvadel-demo-bench-$$"
text="Data de les factures"
# tmux leaves its socket file behind when its server is killed.
trap 'tmux -L "$socket" kill-server 2>/dev/null || true; rm -f "${TMUX_TMPDIR:-/tmp}/tmux-$(id -u)/$socket"; rm -rf "$work"' EXIT
mkdir "$work/korvadel"
git -C "$source" ls-files -z | tar -C "$source" --null --ignore-failed-read -T - -cf - | tar -C "$work/korvadel" -xf -

LANG=C.UTF-8 LC_ALL=C.UTF-8 tmux -u -L "$socket" -f /dev/null new-session -d -x 80 -y 25 \
  "export LANG=C.UTF-8 LC_ALL=C.UTF-8 TERM=tmux-256color; cd '$work/korvadel' && unset KORVADEL_BUILD_DIR &&
   date +%s%N > '$work/started' &&
   bash -c 'exec 3>&2; TIMEFORMAT=\"user %U sys %S\"; { time ./demo.sh 2>&3 3>&-; } 2> \"\$0\"' '$work/times';
   echo DEMO-EXIT=\$?; exec sleep 100000"
while ! tmux -L "$socket" capture-pane -p | grep -q -e "$text" -e "DEMO-EXIT="; do sleep 0.5; done
now=$(date +%s%N)
tmux -L "$socket" capture-pane -p | grep -q "$text" || { tmux -L "$socket" capture-pane -p; exit 1; }
tmux -L "$socket" send-keys Escape
while ! tmux -L "$socket" capture-pane -p | grep -q "DEMO-EXIT="; do sleep 0.2; done
awk -v ms="$(( (now - $(cat "$work/started")) / 1000000 ))" \
  '/^user/ { printf "demo, fresh copy to first form: %.1f s wall; the whole demo: %s s user, %s s sys\n", ms / 1000, $2, $4 }' \
  "$work/times"
