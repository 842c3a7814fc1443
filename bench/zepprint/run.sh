#!/bin/sh
# Times the print program on a generated spool file of fee-invoice pages
# (5,000 by default), with each page's tax code and figures beside it as a
# registered run leaves them, as a PDF without stationery and with the
# installed fee invoice stationery (ZEPPAPER, its totals block filled on each
# page), best of three runs each, with the PDF's size.
#   bench/zepprint/run.sh [PAGES]
# ZEPPRINT_BASELINE=/path/to/zepprint adds the same runs of another build
# (say, an earlier commit) for comparison. Builds zepprint in
# build-zepprint-bench (RelWithDebInfo). Times: wall and CPU seconds; on a
# shared machine the CPU column is the one to compare.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
build="$src/build-zepprint-bench"
log="$build/bench-build.log"
pages=${1:-5000}
mkdir -p "$build"
if ! { cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVADEL_TESTS=OFF &&
       cmake --build "$build" --target zepprint -j2; } >"$log" 2>&1; then
  tail -n 30 "$log"
  echo "run.sh: the build failed; the whole log is in $log" >&2
  exit 1
fi

# A suite root with the installed settings and stationery, and a session
# directory holding the spool file: invoice pages as the production pass
# lays them out, every owner and amount different.
work="$build/run"
rm -rf "$work"
mkdir -p "$work/root" "$work/tmp"
cp "$src/install/Tarn.ini" "$work/root/"
[ -d "$src/install/IMPRES" ] && cp -r "$src/install/IMPRES" "$work/root/"
awk -v pages="$pages" 'BEGIN {
  printf "DEVICEPDF\r\n"
  for (p = 1; p <= pages; p++) {
    printf "PAGE 24 \r\n*@e\r\n 9 ,FACTURA, 0 \r\n 17 ,A/%08d, 0 \r\n 32 ,OLOT, 0 \r\n", p
    printf "JUSD\r\n 67 ,****%d.%03d'\''%02d EUR, 0 \r\n 91 ,FINCA, 1 \r\n 92 ,%03dV, 1 \r\n", p % 90 + 1, p % 1000, p % 100, p % 1000
    printf " 17 ,31 DE MAIG DE 2024, 3 \r\n 22 ,HONORARIS ADMINISTRACI\340, 0 \r\n"
    printf "JUSD\r\n 66 ,     %5d'\''00 , 1 \r\n 22 ,IVA 21.00 %% s/%d'\''00, 0 \r\n 66 ,       210'\''00 , 1 \r\n", p, p
    printf " 0 ,, 3 \r\n 17 ,COMUNITAT DE PROPIETARIS NUM %d, 2 \r\nJUSD\r\n 32 ,N.I.F. ESB%08d      , 1 \r\n", p, p
    printf " 17 ,PROPIETARI NUMERO %d, 1 \r\n 17 ,C/ Nou, %d, 1r, 1 \r\n 17 ,17800, 1 \r\n 17 ,OLOT, 0 \r\n", p, p % 200
    printf " 61 ,Jordi Vilar\242 i Puigdevall, 1 \r\n 61 ,N.I.F. ES12345678Z, 1 \r\n"
  }
}' > "$work/tmp/zepprint.tmp"
awk -v pages="$pages" 'BEGIN {
  for (p = 1; p <= pages; p++) {
    printf "%d\thttps://www2.agenciatributaria.gob.es/wlpl/TIKE-CONT/ValidarQRNoVerifactu?nif=12345678Z", p
    printf "&numserie=A%%2F%08d&fecha=31-05-2024&importe=%d.00\n", p, p + 210
  }
}' > "$work/tmp/zepprint.qr"
awk -v pages="$pages" 'BEGIN {
  for (p = 1; p <= pages; p++) {
    printf "%d\tNumero\tA/%08d\n%d\tData\t31 de maig del 2024\n%d\tVenciment\t30 de juny del 2024\n", p, p, p, p
    printf "%d\tPeriode\tabril - maig 2024\n%d\tBase\t%d,00\n%d\tTipusIva\t21,00 %%\n%d\tIva\t210,00\n", p, p, p, p, p
    printf "%d\tTotal\t%d,00 EUR\n", p, p + 210
  }
}' > "$work/tmp/zepprint.fig"

# run LABEL PROGRAM [STATIONERY]: best wall and CPU time of three runs.
run() {
  label=$1 program=$2 runPaper=${3:-}
  best=""
  for i in 1 2 3; do
    /usr/bin/time -f "%e %U %S" -o "$work/time" env ZEPTMP="$work/tmp/" ZEPROOT="$work/root/" \
      ${runPaper:+ZEPPAPER="$runPaper"} "$program" >"$work/said" 2>&1 || { cat "$work/said"; exit 1; }
    line=$(awk '{ printf "%.2f %.2f", $1, $2 + $3 }' "$work/time")
    if [ -z "$best" ] || [ "$(echo "$line $best" | awk '{ print ($1 < $3) }')" = 1 ]; then best=$line; fi
  done
  size=$(stat -c %s "$work/tmp/zepprint.pdf")
  echo "$best $size $label" | awk '{ printf "%-44s wall %6.2f s  cpu %6.2f s  pdf %6.1f MB\n", $4 " " $5 " " $6 " " $7, $1, $2, $3 / 1e6 }'
}

echo "== $pages pages"
paper="$work/root/IMPRES/FACTHON_CAT.svg"
if [ -n "${ZEPPRINT_BASELINE:-}" ]; then
  run "baseline, plain pages" "$ZEPPRINT_BASELINE"
fi
run "plain pages" "$build/bin/zepprint"
if [ -f "$paper" ]; then
  run "with stationery $(basename "$paper")" "$build/bin/zepprint" "$paper"
fi
