#!/usr/bin/env bash
# Builds the installation files of the suite root from the UTF-8 masters in
# this folder: Tarn.ini, Productor.ini, FORMS/KORVADEL.ZPN, LOCALE/KORVADEL.LNG in code page
# 850 with CR LF line ends, and the help pages AJUDA/<KEY>.HLP (records of 80
# bytes: 78 characters and CR LF, at most two attribute bytes a line) and
# AJUDA/<KEY>.HTM (UTF-8). Run it after editing a master; commit both.
#
# Markers in the form and language masters: "text{N}" becomes the text, a
# blank, dot leaders and a blank, N characters in all; "text{-N}" the text
# padded with blanks to N; "text{=N}" the text centred in N. Both sides of a
# translation expand alike.
# In the help masters the first line is the page title and "*...*" marks
# highlighted text.
# The stationery master FACTHON.svg.in (UTF-8, like every SVG) becomes
# IMPRES/FACTHON_CAT.svg, _SPA, _GLG and _OCI with its "@@KEY@@" labels
# taken from FACTHON.labels, and IMPRES/FACTHON.svg without labels.
set -euo pipefail
cd "$(dirname "$0")"
out=..
export LC_ALL=C

to850() { iconv -f UTF-8 -t CP858; }
crlf() { sed 's/$/\r/'; }

expand_markers() {
  awk '{
    line = $0
    while (match(line, /\{[-=]?[0-9]+\}/)) {
      spec = substr(line, RSTART + 1, RLENGTH - 2)
      centre = substr(spec, 1, 1) == "="
      n = (centre ? substr(spec, 2) : spec) + 0
      pre = substr(line, 1, RSTART - 1)
      post = substr(line, RSTART + RLENGTH)
      q = 0
      for (i = length(pre); i > 0; i--) if (substr(pre, i, 1) == "\"") { q = i; break }
      head = substr(pre, 1, q); text = substr(pre, q + 1)
      if (centre) {
        left = int((n - length(text)) / 2)
        for (i = 0; i < left; i++) text = " " text
        while (length(text) < n) text = text " "
      } else if (n < 0) {
        n = -n; while (length(text) < n) text = text " "
      } else if (length(text) + 2 >= n) {
        while (length(text) < n) text = text " "
      } else {
        text = text " "; while (length(text) < n - 1) text = text "."; text = text " "
      }
      line = head text post
    }
    print line
  }'
}

mkdir -p "$out/FORMS" "$out/LOCALE" "$out/AJUDA" "$out/IMPRES"
to850 < Tarn.ini | crlf > "$out/Tarn.ini"
to850 < Productor.ini | crlf > "$out/Productor.ini"
to850 < KORVADEL.ZPN | expand_markers | crlf > "$out/FORMS/KORVADEL.ZPN"
to850 < KORVADEL.LNG | expand_markers | crlf > "$out/LOCALE/KORVADEL.LNG"

# Help pages: the Catalan masters here give AJUDA/<KEY>.*, those of SPA/,
# GLG/ and OCI/ give AJUDA/<LANG>/<KEY>.*, where the help viewer looks
# first in a session of that language.
help_page() {  # master, output folder, HTML language
  local master=$1 dir=$2 lang=$3 key
  key=$(basename "${master%.txt}")
  mkdir -p "$dir"
  tail -n +2 "$master" | to850 | awk -v hl="$(printf '\036')" '{
    gsub(/\*/, hl)
    line = $0
    if (length(line) > 78) { print "line too long: " line > "/dev/stderr"; exit 1 }
    while (length(line) < 78) line = line " "
    printf "%s\r\n", line
  }' > "$dir/$key.HLP"
  title=$(head -n 1 "$master")
  {
    printf '<!DOCTYPE html>\n<html lang="%s">\n<head>\n<meta charset="utf-8">\n' "$lang"
    printf '<title>%s</title>\n</head>\n<body>\n<pre>\n' "$title"
    tail -n +2 "$master" | sed -e 's/&/\&amp;/g' -e 's/</\&lt;/g' -e 's/>/\&gt;/g' \
      -e 's|\*\([^*]*\)\*|<b>\1</b>|g'
    printf '</pre>\n</body>\n</html>\n'
  } > "$dir/$key.HTM"
}

for master in *.txt; do help_page "$master" "$out/AJUDA" ca; done
for master in SPA/*.txt; do help_page "$master" "$out/AJUDA/SPA" es; done
for master in GLG/*.txt; do help_page "$master" "$out/AJUDA/GLG" gl; done
for master in OCI/*.txt; do help_page "$master" "$out/AJUDA/OCI" oc; done
# column: 0 for no labels, 1 Catalan ... 4 Occitan (as in FACTHON.labels).
stationery() {
  awk -F '\t' -v column="$1" '
    NR == FNR { if ($0 !~ /^#/ && NF == 5) label[$1] = column > 0 ? $(column + 1) : ""; next }
    {
      line = $0
      while (match(line, /@@[A-Z]+@@/)) {
        key = substr(line, RSTART + 2, RLENGTH - 4)
        if (!(key in label)) { print "no label " key > "/dev/stderr"; exit 1 }
        line = substr(line, 1, RSTART - 1) label[key] substr(line, RSTART + RLENGTH)
      }
      print line
    }' FACTHON.labels FACTHON.svg.in
}
stationery 0 > "$out/IMPRES/FACTHON.svg"
column=1
for lang in CAT SPA GLG OCI; do
  stationery "$column" > "$out/IMPRES/FACTHON_$lang.svg"
  column=$((column + 1))
done
