#!/usr/bin/env bash
# Shows the fee-invoice module on a sample office. On a fresh Debian machine
# it installs what is missing, builds everything, makes a working suite root
# demo-root/ from install/ (settings, forms, translations, help pages, invoice
# stationery and the four data files filled from install/data/*.csv), and opens a session in
# this terminal through zepmenu, printing to demo-root/factures.pdf.
#
#   ./demo.sh                  Catalan, today's date
#   ./demo.sh --lang SPA       Spanish; any other zepmenu option is passed on
#                              (--date YYYYMMDD, --title TEXT, --device TEXT)
#
# demo-root/ is rebuilt from install/ on every run; a factures.pdf of an
# earlier run is kept under a name with its date and time. The build goes to
# build/ unless KORVADEL_BUILD_DIR names another folder.
set -euo pipefail
cd "$(dirname "$0")"
here=$(pwd)
root="$here/demo-root"
pdf="$root/factures.pdf"

# Messages in the language of the session (--lang), Catalan by default.
lang=CAT
args=("$@")
for ((i = 0; i + 1 < ${#args[@]}; i++)); do
  if [ "${args[i]}" = "--lang" ]; then
    lang=$(echo "${args[i + 1]}" | tr '[:lower:]' '[:upper:]')
  fi
done
case "$lang" in
  SPA) m_build="Compilando"; m_log="registro en"; m_failed="la compilación ha fallado; el registro completo está en"
       m_missing="no se ha compilado"; m_root="Preparando la raíz de la instalación"
       m_pdf="Las facturas están en"; m_none="En esta sesión no se ha impreso ninguna factura." ;;
  GLG) m_build="Compilando"; m_log="rexistro en"; m_failed="a compilación fallou; o rexistro completo está en"
       m_missing="non se compilou"; m_root="Preparando a raíz da instalación"
       m_pdf="As facturas están en"; m_none="Nesta sesión non se imprimiu ningunha factura." ;;
  OCI) m_build="Compilacion"; m_log="jornau en"; m_failed="era compilacion a fracassat; eth jornau complet ei en"
       m_missing="non s'a compilat"; m_root="Preparacion dera raïtz dera installacion"
       m_pdf="Es factures son en"; m_none="En aguesta session non s'a imprimit cap de factura." ;;
  *)   m_build="Compilant"; m_log="registre a"; m_failed="la compilació ha fallat; el registre sencer és a"
       m_missing="no s'ha compilat"; m_root="Preparant l'arrel de la instal·lació"
       m_pdf="Les factures són a"; m_none="En aquesta sessió no s'ha imprès cap factura." ;;
esac

./scripts/install-deps.sh

build=${KORVADEL_BUILD_DIR:-build}
log="$build/demo-build.log"
echo "$m_build ($m_log $log) ..."
mkdir -p "$build"
if ! { cmake -S . -B "$build" && cmake --build "$build" -j"$(nproc 2>/dev/null || echo 2)"; } \
    > "$log" 2>&1; then
  tail -n 40 "$log"
  echo "demo.sh: $m_failed $log" >&2
  exit 1
fi
bin="$(cd "$build" && pwd)/bin"
for program in korvadel zepmenu zepprint recman; do
  if [ ! -x "$bin/$program" ]; then
    echo "demo.sh: $bin/$program $m_missing" >&2
    exit 1
  fi
done

echo "$m_root $root ..."
mkdir -p "$root"
if [ -f "$pdf" ]; then
  mv "$pdf" "$root/factures-$(date -r "$pdf" +%Y%m%d-%H%M%S).pdf"
fi
rm -rf "$root/FORMS" "$root/LOCALE" "$root/AJUDA" "$root/IMPRES" "$root/ddf" "$root/DADES" "$root/ARXIU"
cp install/Tarn.ini install/Productor.ini "$root/"
# The demo's invoices are not real ones: their codes point at the tax
# agency's test host.
sed -i 's/^Entorn=produccio/Entorn=proves/' "$root/Tarn.ini"
cp -r install/FORMS install/LOCALE install/AJUDA install/IMPRES "$root/"
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
  echo "$m_pdf $pdf"
elif [ "$status" -eq 0 ]; then
  echo "$m_none"
fi
exit "$status"
