#!/bin/sh
# Times one production pass over a large office and one plain SQL query over
# the same files, at full size and at a quarter, with peak memory; the pass's
# line ends with the size and FNV-1a digest of the spool file it wrote.
#   bench/invoicing/run.sh [SCALE...]      (default: 1 0.25)
# The offices are cached in build-invoice-bench/offices/<scale> and made
# again only when missing. Each benchmark runs in its own process on core 0,
# so its peak memory is its own. Times: wall and CPU; on a shared machine
# the CPU column is the one to compare.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
log="$src/build-invoice-bench/bench-build.log"
targets=invoice_bench
. "$src/bench/support/office.sh"

scales=${*:-1 0.25}
for scale in $scales; do
  make_office "$scale"
  echo "== scale $scale"
  for bench in BM_ProduceInvoices BM_PlainSqlLinkBases; do
    KORVADEL_BENCH_OFFICE="$office" taskset -c 0 "$build/bin/invoice_bench" \
      --benchmark_filter="^$bench/" 2>/dev/null | grep "^BM_" || true
  done
done
