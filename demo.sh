#!/usr/bin/env bash
# Shows the fee-invoice module on a sample office. On a fresh Debian machine
# it installs what is missing, builds everything, makes a working suite root
# demo-root/ from install/ (settings, forms, translations, help pages and the
# four data files filled from install/data/*.csv), and opens a session in
# this terminal through zepmenu, printing to demo-root/factures.pdf.
#
#   ./demo.sh                  Catalan, today's date
#   ./demo.sh --lang SPA       Spanish; any other zepmenu option is passed on
#                              (--date YYYYMMDD, --title TEXT, --device TEXT)
#
# demo-root/ is rebuilt from install/ on every run; a factures.pdf of an
# earlier run is kept under a name with its date and time.
set -euo pipefail
cd "$(dirname "$0")"
here=$(pwd)
root="$here/demo-root"
pdf="$root/factures.pdf"

./scripts/install-deps.sh

echo "Building (log in build/demo-build.log) ..."
mkdir -p build
if ! { cmake -S . -B build && cmake --build build -j"$(nproc 2>/dev/null || echo 2)"; } \
    > build/demo-build.log 2>&1; then
  tail -n 40 build/demo-build.log
  echo "demo.sh: the build failed; the whole log is in build/demo-build.log" >&2
  exit 1
fi
bin="$here/build/bin"
for program in korvadel zepmenu zepprint recman; do
  if [ ! -x "$bin/$program" ]; then
    echo "demo.sh: $bin/$program was not built" >&2
    exit 1
  fi
done

echo "Preparing the suite root $root ..."
mkdir -p "$root"
if [ -f "$pdf" ]; then
  mv "$pdf" "$root/factures-$(date -r "$pdf" +%Y%m%d-%H%M%S).pdf"
fi
rm -rf "$root/FORMS" "$root/LOCALE" "$root/AJUDA" "$root/ddf" "$root/DADES"
cp install/Tarn.ini "$root/"
cp -r install/FORMS install/LOCALE install/AJUDA "$root/"
mkdir -p "$root/ddf" "$root/DADES"
cp install/ddf/*.xdf install/ddf/*.layout "$root/ddf/"
for file in PropietV FinquesV DepartaV CobramV; do
  data="$root/DADES/$file.dat"
  "$bin/recman" create "$data" "$root/ddf/$file.xdf" > /dev/null
  "$bin/recman" import "$data" "install/data/$file.csv" "install/ddf/$file.layout" > /dev/null
  "$bin/recman" set-owner "$data" KV26 > /dev/null
done

started=$(date +%s)
status=0
"$bin/zepmenu" --root "$root" --device "$pdf" "$@" || status=$?

if [ -f "$pdf" ] && [ "$(date -r "$pdf" +%s)" -ge "$started" ]; then
  echo "The invoices are in $pdf"
elif [ "$status" -eq 0 ]; then
  echo "No invoices were printed in this session."
fi
exit "$status"
