#!/usr/bin/env bash
# Shows the fee-invoice module on a sample office. On a fresh Debian machine
# it installs what is missing, builds the programs a session runs (korvadel,
# zepmenu, zepprint, brovex, recman, zepfact; no tests, no benchmarks) in
# build-demo/, makes a working suite root demo-root/ from install/ (settings,
# forms, translations, help pages, invoice stationery, the four data files
# and the owners' e-mail addresses (CorreuV)
# filled from install/data/*.csv), and opens a session in this terminal
# through zepmenu, printing to demo-root/factures.pdf.
#
#   ./demo.sh                  Catalan, today's date
#   ./demo.sh --lang SPA       Spanish; any other zepmenu option is passed on
#                              (--date YYYYMMDD, --title TEXT, --device TEXT)
#
# The build shows its progress on one line in a terminal (plain lines
# otherwise); its whole output goes to build-demo/demo-build.log. A build
# folder made for another source folder (a copied checkout) is made afresh.
# KORVADEL_BUILD_DIR names another build folder; one of another source folder
# is refused there, not removed.
#
# demo-root/ is rebuilt from install/ on every run, with a new invoice
# register: the PDFs and text pages of earlier sessions, whose invoice numbers
# the new register gives again, are moved into demo-root/ANTERIORS/<date and
# time of the newest>/. On leaving, every file the print program wrote during
# the session is listed (factures.pdf, factures-2.pdf, ...).
set -euo pipefail
cd "$(dirname "$0")"
here=$(pwd)
root="$here/demo-root"
pdf="$root/factures.pdf"
programs=(korvadel zepmenu zepprint brovex recman zepfact)

# The value of the last zepmenu option $1 among the arguments, as zepmenu
# takes it; empty when not given.
args=("$@")
option_value() {
  local value="" i
  for ((i = 0; i + 1 < ${#args[@]}; i++)); do
    if [ "${args[i]}" = "$1" ]; then value=${args[i + 1]}; i=$((i + 1)); fi
  done
  printf '%s' "$value"
}

# Messages in the language of the session (--lang), Catalan by default.
lang=$(option_value --lang | tr '[:lower:]' '[:upper:]')
case "$lang" in
  SPA) m_build="Compilando"; m_log="registro en"; m_failed="la compilación ha fallado; el registro completo está en"
       m_missing="no se ha compilado"; m_root="Preparando la raíz de la instalación"
       m_pdf="Las facturas de esta sesión están en"; m_none="En esta sesión no se ha impreso ninguna factura."
       m_compiling="compilando"; m_linking="enlazando"
       m_fresh="se hizo para otra carpeta de fuentes; se rehace:"
       m_foreign="es la compilación de otra carpeta de fuentes; indique otra en KORVADEL_BUILD_DIR o bórrela:"
       m_moved="Las facturas de la raíz anterior se han guardado en"
       m_cert="no se ha podido hacer el certificado de prueba del emisor con openssl:"
       m_try="Para probar los programas de la suite sobre esta raíz:" ;;
  GLG) m_build="Compilando"; m_log="rexistro en"; m_failed="a compilación fallou; o rexistro completo está en"
       m_missing="non se compilou"; m_root="Preparando a raíz da instalación"
       m_pdf="As facturas desta sesión están en"; m_none="Nesta sesión non se imprimiu ningunha factura."
       m_compiling="compilando"; m_linking="enlazando"
       m_fresh="fíxose para outro cartafol de fontes; faise de novo:"
       m_foreign="é a compilación doutro cartafol de fontes; indique outro en KORVADEL_BUILD_DIR ou bórreo:"
       m_moved="As facturas da raíz anterior gardáronse en"
       m_cert="non se puido facer o certificado de proba do emisor con openssl:"
       m_try="Para probar os programas da suite sobre esta raíz:" ;;
  OCI) m_build="Compilacion"; m_log="jornau en"; m_failed="era compilacion a fracassat; eth jornau complet ei en"
       m_missing="non s'a compilat"; m_root="Preparacion dera raïtz dera installacion"
       m_pdf="Es factures d'aguesta session son en"; m_none="En aguesta session non s'a imprimit cap de factura."
       m_compiling="compilant"; m_linking="ligant"
       m_fresh="ei estada hèta entà ua auta carpeta de hònts; se torna a hèr:"
       m_foreign="ei era compilacion d'ua auta carpeta de hònts; indicatz-ne ua auta en KORVADEL_BUILD_DIR o esfaçatz-la:"
       m_moved="Es factures dera raïtz precedenta s'an sauvat en"
       m_cert="non s'a podut hèr eth certificat de pròva der emissor damb openssl:"
       m_try="Entà ensajar es programes dera suita damb aguesta raïtz:" ;;
  *)   m_build="Compilant"; m_log="registre a"; m_failed="la compilació ha fallat; el registre sencer és a"
       m_missing="no s'ha compilat"; m_root="Preparant l'arrel de la instal·lació"
       m_pdf="Les factures d'aquesta sessió són a"; m_none="En aquesta sessió no s'ha imprès cap factura."
       m_compiling="compilant"; m_linking="enllaçant"
       m_fresh="es va fer per a una altra carpeta de fonts; es torna a fer:"
       m_foreign="és la compilació d'una altra carpeta de fonts; indiqueu-ne una altra a KORVADEL_BUILD_DIR o esborreu-la:"
       m_moved="Les factures de l'arrel anterior s'han desat a"
       m_cert="no s'ha pogut fer el certificat de proves de l'emissor amb openssl:"
       m_try="Per provar els programes de la suite sobre aquesta arrel:" ;;
esac

./scripts/install-deps.sh

# A build folder remembers the source folder it was configured for; a copy
# of the checkout (cp -a) carries the original's, which CMake refuses.
build=${KORVADEL_BUILD_DIR:-build-demo}
cache="$build/CMakeCache.txt"
if [ -f "$cache" ]; then
  source_of_build=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$cache")
  if [ "$(realpath -m -- "$source_of_build")" != "$(pwd -P)" ]; then
    if [ -n "${KORVADEL_BUILD_DIR:-}" ]; then
      echo "demo.sh: $build $m_foreign $source_of_build" >&2
      exit 1
    fi
    echo "$build $m_fresh $source_of_build"
    rm -rf -- "$build"
  fi
fi

# Shows the build's steps from its output on standard input: one line
# rewritten in place on a terminal, plain lines otherwise. With make the
# share is counted here over every step of the targets ($1, from a dry run;
# 0 keeps make's own figure), since make restarts its count at each target
# it is given; ninja counts over all of them itself.
show_progress() {
  local total=$1 tty=0 width=80 done=0 shown=0 pct step what line
  local -A seen=()
  if [ -t 1 ]; then
    tty=1
    width=$(tput cols 2>/dev/null || echo 80)
  fi
  while IFS= read -r line; do
    if [[ "$line" =~ ^\[\ *([0-9]+)/([0-9]+)\]\ (.*) ]]; then          # ninja: [n/m]
      pct=$((100 * BASH_REMATCH[1] / BASH_REMATCH[2])) step=${BASH_REMATCH[3]}
    elif [[ "$line" =~ ^\[\ *([0-9]+)%\]\ (.*) ]]; then                # make: [ n%]
      pct=${BASH_REMATCH[1]} step=${BASH_REMATCH[2]}
    else
      continue
    fi
    if [[ "$step" =~ ^Building\ [A-Z]+\ object\ (.*)\.o$ ]]; then
      # base/CMakeFiles/korvadel_base.dir/text.cpp.o: base/text.cpp
      what=${BASH_REMATCH[1]}
      what="$m_compiling ${what/CMakeFiles\/*.dir\//}"
    elif [[ "$step" == Linking* ]]; then
      what="$m_linking ${step##*[ /]}"
    else
      continue
    fi
    if [ "$total" -gt 0 ]; then
      if [ -z "${seen[$step]:-}" ]; then seen[$step]=1; done=$((done + 1)); fi
      pct=$((100 * done / total))
      [ "$pct" -le 100 ] || pct=100
    fi
    printf -v line '[%3d%%] %s' "$pct" "$what"
    if [ "$tty" -eq 1 ]; then
      printf '\r\033[K%s' "${line:0:width-1}"
      shown=1
    else
      printf '%s\n' "$line"
    fi
  done
  if [ "$shown" -eq 1 ]; then printf '\n'; fi
}

log="$build/demo-build.log"
echo "$m_build ($m_log $log) ..."
mkdir -p "$build"
: > "$log"
failed=0
cmake -S . -B "$build" -DKORVADEL_TESTS=OFF -DKORVADEL_BENCH=OFF >> "$log" 2>&1 || failed=1
if [ "$failed" -eq 0 ]; then
  total=0
  if grep -q '^CMAKE_GENERATOR:INTERNAL=Unix Makefiles$' "$cache"; then
    # Every step a dry run names, and one link for each program whose
    # libraries it could not find, not being made yet.
    dry=$(cmake --build "$build" --target "${programs[@]}" -- -n -k 2>&1 || true)
    steps=$(grep -o '"\(Building [A-Z]* object\|Linking\) [^"]*"' <<< "$dry" | sort -u | wc -l || true)
    links=$(grep -o "needed by '[^']*'" <<< "$dry" | sort -u | wc -l || true)
    total=$((steps + links))
  fi
  cmake --build "$build" --target "${programs[@]}" -j"$(nproc 2>/dev/null || echo 2)" 2>&1 |
    tee -a "$log" | show_progress "$total" || failed=1
fi
if [ "$failed" -ne 0 ]; then
  tail -n 40 "$log"
  echo "demo.sh: $m_failed $log" >&2
  exit 1
fi
bin="$(cd "$build" && pwd)/bin"
for program in "${programs[@]}"; do
  if [ ! -x "$bin/$program" ]; then
    echo "demo.sh: $bin/$program $m_missing" >&2
    exit 1
  fi
done

echo "$m_root $root ..."
mkdir -p "$root"
# The new root's register numbers its invoices from the start again: what
# earlier sessions printed goes aside, in a folder named after the newest.
shopt -s nullglob nocaseglob
earlier=("$root"/*.pdf "$root"/*.txt)
shopt -u nullglob nocaseglob
if [ ${#earlier[@]} -gt 0 ]; then
  newest=$(ls -t -- "${earlier[@]}" | head -n 1)
  stamp=$(date -r "$newest" +%Y%m%d-%H%M%S)
  aside="$root/ANTERIORS/$stamp"
  n=1
  while [ -e "$aside" ] || [ -L "$aside" ]; do
    n=$((n + 1))
    aside="$root/ANTERIORS/$stamp-$n"
  done
  mkdir -p "$aside"
  mv -- "${earlier[@]}" "$aside/"
  echo "$m_moved $aside"
fi
rm -rf "$root/FORMS" "$root/LOCALE" "$root/AJUDA" "$root/IMPRES" "$root/ddf" "$root/DADES" "$root/ARXIU" "$root/REMESES"
cp install/Tarn.ini install/Productor.ini "$root/"
# The demo's invoices are not real ones: their codes point at the tax
# agency's test host.
sed -i 's/^Entorn=produccio/Entorn=proves/' "$root/Tarn.ini"
# The register works in the lawful not-sending mode: each record signed
# with a certificate of the demo's issuer (NIF 12345678Z) that a test
# authority made here issues, kept with the signed event log.
cert="$root/cert"
rm -rf "$cert"
mkdir -p "$cert"
if ! made=$(cd "$cert" &&
    openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj '/CN=Autoritat de proves de la demo' \
      -keyout ca.key -out ca.pem 2>&1 &&
    openssl req -new -newkey rsa:2048 -nodes -subj '/CN=JORDI VILARO - 12345678Z/serialNumber=IDCES-12345678Z' \
      -keyout issuer.key -out issuer.csr 2>&1 &&
    openssl x509 -req -in issuer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 3650 -out issuer.pem 2>&1 &&
    openssl pkcs12 -export -inkey issuer.key -in issuer.pem -passout pass:demo -out issuer.p12 2>&1); then
  echo "$m_cert $made" >&2
  exit 1
fi
printf 'demo\n' > "$cert/pw"
chmod 600 "$cert/pw" "$cert/issuer.key" "$cert/ca.key"
cr=$(printf '\r')
sed -i "s|^Mode=.*|Mode=conserva$cr|; s|^Certificat=.*|Certificat=cert/issuer.p12$cr|; s|^ClauCertificat=.*|ClauCertificat=cert/pw$cr|" \
  "$root/Tarn.ini"
sed -i "s|^Entorn=proves.*|Entorn=proves$cr\nCAFirma=cert/ca.pem$cr|" "$root/Tarn.ini"
cp -r install/FORMS install/LOCALE install/AJUDA install/IMPRES "$root/"
mkdir -p "$root/ddf" "$root/DADES"
cp install/ddf/*.xdf install/ddf/*.layout "$root/ddf/"
for file in PropietV FinquesV DepartaV CobramV CorreuV MandatV; do
  data="$root/DADES/$file.dat"
  "$bin/recman" create "$data" "$root/ddf/$file.xdf" > /dev/null
  "$bin/recman" import "$data" "install/data/$file.csv" "install/ddf/$file.layout" > /dev/null
  "$bin/recman" set-owner "$data" KV26 > /dev/null
done

# Where the print program writes: the last --device given, as zepmenu takes
# it (a relative path from this folder, zepmenu's working folder). A named
# PDF is never overwritten: each later run of the session takes the next
# free name (factures-2.pdf, factures-3.pdf, ...); a text file is replaced.
device=$(option_value --device)
[ -n "$device" ] || device=$pdf
case "$device" in /*) ;; *) device="$here/$device" ;; esac

marker=$(mktemp)
trap 'rm -f -- "$marker"' EXIT
status=0
"$bin/zepmenu" --root "$root" --device "$pdf" "$@" || status=$?

written=()
name=$(basename -- "$device")
stem=${name%.*} ext=${name##*.}
shopt -s nocasematch
if [[ "$name" == ?*.pdf || "$name" == ?*.txt ]]; then
  # Numbered as the print program numbers them: the name itself first.
  while IFS= read -r -d '' entry; do
    written+=("${entry#*$'\t'}")
  done < <(find "$(dirname -- "$device")" -maxdepth 1 -type f -newer "$marker" -print0 2>/dev/null |
             while IFS= read -r -d '' file; do
               found=$(basename -- "$file")
               if [[ "$found" == "$name" ]]; then
                 printf '1\t%s\0' "$file"
               elif [[ "${found:0:${#stem}}" == "$stem" && "${found:${#stem}}" =~ ^-([0-9]+)\.$ext$ ]]; then
                 printf '%s\t%s\0' "${BASH_REMATCH[1]}" "$file"
               fi
             done | sort -zn)
fi
shopt -u nocasematch
if [ ${#written[@]} -gt 0 ]; then
  echo "$m_pdf:"
  printf '  %s\n' "${written[@]}"
elif [ "$status" -eq 0 ]; then
  echo "$m_none"
fi
# The exact commands to try next, with the demo's programs and root.
echo
echo "$m_try"
echo "  export PATH=\"$bin:\$PATH\" ZEPROOT=\"$root/\""
echo "  zepfact list"
echo "  zepfact verify"
echo "  zepfact export-csv factures.csv"
echo "  zepfact reprint A/00000001 --output A-00000001.pdf"
echo "  recman dump \"$root/DADES/PropietV.dat\" --layout \"$root/ddf/PropietV.layout\" --owner KV26 | head"
echo "  zepmenu --root \"$root\" --lang SPA"
exit "$status"
