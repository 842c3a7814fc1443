#!/bin/sh
# korvadel started in a fresh 80x25 tmux pane on a suite root, timed from the
# start of the pane's command to form 1's text in `tmux capture-pane -p`.
#   bench/startup/tmux.sh BIN_DIR ROOT [RUNS]     (ROOT ends in "/")
# The time includes tmux's own work: reading the program's output, drawing
# its pane and answering each capture-pane (a client process per poll, as
# often as they can run). To tell that apart the same runs are made first
# with a shell that prints the text at once: its median is tmux's share (and
# the shell's, a millisecond or so), and korvadel's own start-up is about the
# difference.
set -eu
bin=$1
root=$2
runs=${3:-10}
socket="korvadel-startup-$$"
text="Data de les factures"
# tmux leaves its socket file behind when its server is killed.
trap 'tmux -L "$socket" kill-server 2>/dev/null || true; rm -f "${TMUX_TMPDIR:-/tmp}/tmux-$(id -u)/$socket"' EXIT
LANG=C.UTF-8 LC_ALL=C.UTF-8 tmux -u -L "$socket" -f /dev/null new-session -d -x 80 -y 25 "sleep 100000"
tmux -L "$socket" set-option -g remain-on-exit on

# Median of the times (ms) the runs of one command took; the command is run
# in place of the pane's shell, which first notes the time.
median_of_runs() {
  command=$1
  times=""
  for run in $(seq "$runs"); do
    tmux -L "$socket" respawn-pane -k "export LANG=C.UTF-8 LC_ALL=C.UTF-8 TERM=tmux-256color;
      cd '$root' && date +%s%N > '${root}TMP/started' &&
      ZEPROOT='$root' ZEPEXE='$bin/' ZEPTMP='${root}TMP/' exec taskset -c 0 $command"
    while ! tmux -L "$socket" capture-pane -p | grep -q "$text"; do :; done
    now=$(date +%s%N)
    times="$times $(( (now - $(cat "${root}TMP/started")) / 1000 ))"
    tmux -L "$socket" send-keys Escape
    sleep 0.2
  done
  echo "$times" | tr ' ' '\n' | grep . | sort -n | awk '{ t[NR] = $1 } END { printf "%.1f", t[int((NR + 1) / 2)] / 1000 }'
}

baseline=$(median_of_runs "sh -c 'printf \"$text\"; exec sleep 100000'")
program=$(median_of_runs "'$bin/korvadel'")
echo "tmux: form 1 after $program ms (median of $runs runs); a shell printing the text at once: $baseline ms"
