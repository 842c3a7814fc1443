#!/usr/bin/env bash
# consoledemo in a real terminal: frames, colours and accented letters on the
# screen, and typing, Ins, Home/End, Ctrl+Left, Tab and a click in the fields.
set -u
demo="$1"
sock="consoledemo-$$"
out=$(mktemp)
t() { tmux -L "$sock" "$@"; }
# tmux leaves its socket file behind when its server is killed.
cleanup() { t kill-server 2>/dev/null; rm -f "$out" "${TMUX_TMPDIR:-/tmp}/tmux-$(id -u)/$sock"; }
trap cleanup EXIT
fail() { echo "FAIL: $*"; t capture-pane -p -t demo 2>/dev/null; exit 1; }

t -f /dev/null new-session -d -s demo -x 80 -y 25 "LANG=C.UTF-8 TERM=tmux-256color $demo $out; sleep 30"
t set -g default-terminal tmux-256color
# Wait for the window to be drawn.
for _ in $(seq 50); do
  t capture-pane -p -t demo | grep -q 'Nom' && break
  sleep 0.1
done
screen=$(t capture-pane -p -t demo)
grep -q '╔═══' <<<"$screen" || fail "no double frame"
grep -q 'Població' <<<"$screen" || fail "no accented letters"
grep -q '€' <<<"$screen" || fail "no euro sign"
colours=$(t capture-pane -p -e -t demo)
grep -q $'\e\\[30m\e\\[47m *Prova' <<<"$colours" || grep -q $'\e\\[30;47m' <<<"$colours" \
  || fail "title not black on light grey"

# The screen with the cursor's place: what a key the demo has read changes.
state() { t capture-pane -p -t demo; t display-message -p -t demo '#{cursor_x},#{cursor_y}'; }
# Sends a key and waits until the demo has answered it (the screen or the
# cursor changed), so that the next key is not read together with this one;
# a key that changes nothing lets the next go after three seconds.
keys() {
  local before
  before=$(state)
  t send-keys -t demo "$@"
  for _ in $(seq 300); do
    [ "$(state)" != "$before" ] && return
    sleep 0.01
  done
}
# Name field: End, type, Ctrl+Left, then Ins and insert a letter.
keys End
keys -l ', 3'
keys C-Left
keys IC
keys -l 'n'
keys Home
keys -l 'X'
keys Tab
# Town field (two lines of 20): type, then click back into the name field.
keys -l 'Girona'
keys -l $'\e[<0;30;5M'
keys Escape
keys x
for _ in $(seq 50); do
  [ -s "$out" ] && break
  sleep 0.1
done
grep -qx "name=\[XPlaça d'Espanya, n3 *\]" "$out" || { cat "$out"; fail "name field"; }
grep -qx "town=\[Girona *\]" "$out" || { cat "$out"; fail "town field"; }
grep -qx "agree=\[S\]" "$out" || { cat "$out"; fail "choice field"; }
echo "consoledemo in tmux: ok"
