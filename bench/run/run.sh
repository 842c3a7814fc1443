#!/bin/sh
# A whole registered run ([Registre] Actiu=S, Liquidar=S: register, archive
# copy, settling of the billed receipts) beside the production pass alone, on
# the large office of bench/invoicing/run.sh, in CPU time (targets: the
# register's share, run minus pass, at most the pass's own; the run's
# settling and its append each at most 1.2 times its plain-SQLite twin).
#   bench/run/run.sh [SCALE...]      (default: 0.25 1)
#   MODE=conserva bench/run/run.sh   the same in the not-sending mode (every
#                                    record signed, the event log written)
#   MODE=first bench/run/run.sh      no run before the timed one: the first
#                                    settling of the office's ten years
# Uses the offices cached in build-invoice-bench/offices/<scale>, made
# there as bench/invoicing/run.sh makes them when missing. Each repetition
# works on a fresh copy of the office's data files in
# build-invoice-bench/run-bench/<scale>; runs on core 0.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
log="$src/build-invoice-bench/run-bench-build.log"
targets=run_bench
. "$src/bench/support/office.sh"

scales=${*:-0.25 1}
for scale in $scales; do
  make_office "$scale"
  echo "== scale $scale"
  taskset -c 0 "$build/bin/run_bench" "$office" "$src/install" "$build/run-bench/$scale" 3 ${MODE:-}
  rm -rf "$build/run-bench/$scale"
done
