#!/bin/sh
# What the start-up and keystroke benchmarks need: builds the given targets
# (and korvadel and recman) Release into build-startup-bench, and makes once
# the suite root they run korvadel on: the settings, forms, translations,
# help and stationery of install/, and the four data files of the large
# office (2,000 owners, 5,000 properties, 60,000 units, 3,000,000 receipts)
# that bench/invoicing/run.sh generates. Prints the build folder and the
# root's path (ending in "/"), one a line; the session's temporary folder is
# <root>TMP/, with the terminal settings a zepmenu session writes.
#   bench/startup/prepare.sh TARGET...
# The office is taken from $KORVADEL_BENCH_OFFICE when set, else from
# build-invoice-bench/offices/1 of this tree.
set -eu
src=$(cd "$(dirname "$0")/../.." && pwd)
build="$src/build-startup-bench"
log="$build/bench-build.log"
mkdir -p "$build"
if ! { cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKORVADEL_BENCH=ON -DKORVADEL_TESTS=OFF &&
       cmake --build "$build" --target "$@" korvadel recman -j2; } >"$log" 2>&1; then
  tail -n 30 "$log" >&2
  echo "prepare.sh: the build failed; the whole log is in $log" >&2
  exit 1
fi
root="$build/suite-root"
if [ ! -f "$root/.complete" ]; then
  office=${KORVADEL_BENCH_OFFICE:-}
  for candidate in "$src/build-invoice-bench/offices/1"; do
    [ -z "$office" ] && [ -f "$candidate/DADES/.complete" ] && office=$candidate
  done
  if [ -z "$office" ] || [ ! -f "$office/DADES/.complete" ]; then
    echo "prepare.sh: no large office; make one with bench/invoicing/run.sh 1" >&2
    exit 1
  fi
  echo "making the suite root in $root from $office" >&2
  rm -rf "$root"
  mkdir -p "$root/ddf" "$root/DADES" "$root/TMP"
  cp "$src/install/Tarn.ini" "$root/"
  cp -r "$src/install/FORMS" "$src/install/LOCALE" "$src/install/AJUDA" "$src/install/IMPRES" "$root/"
  cp "$src/install/ddf/"*.xdf "$src/install/ddf/"*.layout "$root/ddf/"
  for file in PropietV FinquesV DepartaV CobramV; do
    cp --reflink=auto "$office/DADES/$file.dat" "$root/DADES/"
  done
  # The terminal settings of a session: scheme 1, a fixed date, Catalan.
  printf '[Pantalla]\r\nSeleccio=1\r\nCol0=15000700000700070007\r\nCol1=15011101010700030003\r\n\r\n[Sistema]\r\nData=20260115\r\nSortida=""\r\nIdioma=CAT\r\n' \
    > "$root/TMP/TarnTerm.ini"
  touch "$root/.complete"
fi
echo "$build"
echo "$root/"
