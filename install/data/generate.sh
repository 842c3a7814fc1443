#!/usr/bin/env bash
# Generates the sample data of the suite root as UTF-8 CSV files, one per data
# file, whose header row names fields of install/ddf/<File>.layout:
#   PropietV.csv  20 owners (people and companies) and their property links
#   FinquesV.csv  30 properties with their billing terms
#   DepartaV.csv  the units of every property (2 to 20 each)
#   CorreuV.csv   the e-mail addresses of most owners (up to three each;
#                 owners 5, 13 and 17 have none, owner 10 a record without
#                 an address) and whether they want paper invoices as well
#   MandatV.csv   the direct-debit mandates of most owners (owners 5, 13
#                 and 17 have none, owner 11's IBAN does not check)
#   CobramV.csv   two years of receipts of every unit, up to TODAY; those of
#                 periods already billed are settled (state L), so only the
#                 current billing period's collected receipts (state P) count,
#                 but a few properties keep older receipts not yet billed
# Codes are written with all their digits (owners 4, properties 4, units 8:
# property then unit number), dates as YYYYMMDD or empty, amounts in cents.
# Values never hold a comma, so no cell needs quotes. The output depends only
# on TODAY (default 20261208): a fixed pseudo-random sequence drives it.
# Needs only bash and a POSIX awk.
set -euo pipefail
cd "$(dirname "$0")"
TODAY=${TODAY:-20261208}

awk -v today="$TODAY" '
function rnd(n) { seed = (seed * 16807) % 2147483647; return int(seed / 2147483647 * n) }
function pad(v, n,   s) { s = v ""; while (length(s) < n) s = "0" s; return s }
# Spanish account number: entity, office, two control digits, account.
function ccd(digits,   w, i, sum) {
  split("1 2 4 8 5 10 9 7 3 6", w, " "); sum = 0
  for (i = 1; i <= 10; i++) sum += substr(digits, i, 1) * w[i]
  sum = 11 - sum % 11
  return sum == 11 ? 0 : (sum == 10 ? 1 : sum)
}
function ccc(entity, office, number) { return entity office ccd("00" entity office) ccd(number) number }
# Spanish IBAN of an account: ES, ISO 7064 MOD 97-10 check digits, the account.
function iban(account,   digits, i, r) {
  digits = account "142800"; r = 0
  for (i = 1; i <= length(digits); i++) r = (r * 10 + substr(digits, i, 1)) % 97
  return "ES" pad(98 - r, 2) account
}
function dni(num,   letters) {
  letters = "TRWAGMYFPDXBNJZSQVHLCKE"
  return "ES" pad(num, 8) substr(letters, num % 23 + 1, 1)
}
# Spanish company tax number: letter, 7 digits, control digit.
function cif(letter, num,   digits, i, d, sum, odd) {
  digits = pad(num, 7); sum = 0
  for (i = 1; i <= 7; i++) {
    d = substr(digits, i, 1) + 0
    if (i % 2 == 1) { odd = d * 2; sum += int(odd / 10) + odd % 10 } else sum += d
  }
  return "ES" letter digits ((10 - sum % 10) % 10)
}
BEGIN {
  seed = 20261208
  OFS = ","

  # Owners: name (surname surname*given, or a company), street, town, tax id,
  # number of property links and tax class of those links.
  n = 0
  o[++n] = "Puig Serrat*Montserrat|C. Major 12 2n 1a|17800 Olot|" dni(40312876) "|1|0"
  o[++n] = "Casals Vila*Josep Maria|Av. Girona 8 baixos|17800 Olot|" dni(77912345) "|2|0"
  o[++n] = "Roca Bosch*Núria|C. Sant Rafel 3 3r|17800 Olot|" dni(40588120) "|1|0"
  o[++n] = "Inversions Garrotxa SL|Pg. de Barcelona 22|17800 Olot|" cif("B", 1734562) "|3|1"
  o[++n] = "Ferrer Costa*Jordi|C. Bisbe Lorenzana 7|17800 Olot|" dni(38123457) "|1|0"
  o[++n] = "Sala Prat*Anna|C. Estret 15 1r|17820 Banyoles|" dni(41922001) "|2|0"
  o[++n] = "Pujol Oliveras*Enric|Pl. Major 4|17850 Besalú|" dni(40123987) "|1|1"
  o[++n] = "Vidal Soler*Marta|C. de la Font 2|17830 Sant Joan les Fonts|" dni(46333218) "|1|0"
  o[++n] = "Promocions Fluvià SA|C. Anselm Clavé 40|17800 Olot|" cif("A", 1700235) "|5|1"
  o[++n] = "Comas Riera*Pere|C. del Carme 18 4t|17800 Olot|" dni(40999761) "|1|0"
  o[++n] = "Camps Torrent*Laia|Av. Santa Coloma 60|17800 Olot|" dni(47801234) "|2|0"
  o[++n] = "Habitatges del Ter SL|C. Nou 5 entl.|17820 Banyoles|" cif("B", 1788450) "|1|1"
  o[++n] = "Vilà Grau*Francesc|C. Mulleres 21|17800 Olot|" dni(40211532) "|1|0"
  o[++n] = "Soler Batlle*Rosa|C. Sant Roc 9|17860 Sant Joan les Abadesses|" dni(40655873) "|2|0"
  o[++n] = "Martí Coll*Xavier|Ctra. de Riudaura 33|17800 Olot|" dni(45290011) "|1|0"
  o[++n] = "Gestió Patrimonial Olot SL|C. Lorenzana 2 1r|17800 Olot|" cif("B", 1712093) "|1|0"
  o[++n] = "Bosch Planas*Teresa|C. Macià 14|17820 Banyoles|" dni(40870045) "|2|0"
  o[++n] = "Immobles Montsacopa SL|Pl. Clarà 1|17800 Olot|" cif("B", 1799321) "|1|1"
  o[++n] = "Serra Capdevila*Lluís|C. Pere Lloses 11|17800 Olot|" dni(40377104) "|1|0"
  o[++n] = "Riera Fontanella*Carme|C. Santa Esperança 6|17800 Olot|" dni(43102675) "|1|0"
  owners = n

  # Properties: list name (30), printed name (50).
  split("C. Major 12|Av. Girona 8|C. Sant Rafel 3|Pg. de Barcelona 22|C. Bisbe Lorenzana 7|C. Estret 15|Pl. Major 4|C. de la Font 2|C. Anselm Clavé 40|C. del Carme 18|Av. Santa Coloma 60|C. Nou 5|C. Mulleres 21|C. Sant Roc 9|Ctra. de Riudaura 33|C. Lorenzana 2|C. Macià 14|Pl. Clarà 1|C. Pere Lloses 11|C. Santa Esperança 6|C. Sant Esteve 25|C. Alt de la Maçana 4|Av. Reis Catòlics 31|C. Fontanella 10|C. del Pont 8|C. Vayreda 17|Ptge. Malagrida 3|C. Bonaire 19|Av. Europa 45|C. Joan Pere Fontanella 2", street, "|")
  split("Olot|Olot|Olot|Olot|Olot|Banyoles|Besalú|Sant Joan les Fonts|Olot|Olot|Olot|Banyoles|Olot|Sant Joan les Abadesses|Olot|Olot|Banyoles|Olot|Olot|Olot|Olot|Olot|Olot|Olot|Besalú|Olot|Olot|Banyoles|Olot|Olot", town, "|")
  split("1 0 3 12 1 1 3 0 1 12 1 3 1 1 0 12 1 3 1 1 3 1 0 1 12 1 3 1 1 1", period, " ")
  split("4.5 5 3.5 6 4 5.5 3 4.5 5 6 4 3.5 5 4.5 6 3 4 5 4.5 5 3.5 6 4 5 4.5 3 5.5 4 0 4.5", percent, " ")

  print "PropertyCode,PropertyListName,FeePercent,ExpenseAmount,BillingPeriodMonths,PropertyName,CutoffDate,FixedFee" > "FinquesV.csv"
  for (p = 1; p <= 30; p++) {
    expense = (p % 3 == 0) ? 0 : 1500 + rnd(45) * 100
    fixed = (p % 4 == 0) ? 0 : 2500 + rnd(96) * 100
    if (p == 29) { expense = 2000; fixed = 0 }    # no fee at all: never invoiced
    cutoff = ""
    if (p == 5) cutoff = "20240630"
    if (p == 11) cutoff = "20251031"
    if (p == 17) cutoff = "20260915"
    if (p == 23) cutoff = substr(today, 1, 6) "01"  # the current month: not invoiced now
    list = street[p] " " town[p]
    if (length(list) > 30) list = street[p]
    name = "Comunitat de Propietaris " street[p] " " town[p]
    if (length(name) > 50) name = "Comunitat de Propietaris " street[p]
    print pad(p, 4), list, percent[p], expense, period[p], name, cutoff, fixed > "FinquesV.csv"
  }

  header = "OwnerCode,OwnerName,OwnerAddress1,OwnerAddress2,OwnerAddress3"
  for (k = 1; k <= 5; k++) header = header ",Link" k "Property,Link" k "Class"
  print header ",OwnerTaxId" > "PropietV.csv"
  next_property = 1
  for (i = 1; i <= owners; i++) {
    split(o[i], f, "|")
    line = pad(i, 4) "," f[1] "," f[2] "," f[3] ",Girona"
    for (k = 1; k <= 5; k++) {
      if (k <= f[5] + 0) {
        prop = next_property; next_property++
        if (prop > 30) prop = 1                     # property 1 has two owners
        line = line "," pad(prop, 4) "," f[6]
      } else {
        line = line ",0000,0"
      }
    }
    print line "," f[4] > "PropietV.csv"
  }

  # E-mail addresses: one to three per owner, in the reserved example
  # domains; a few owners want paper too.
  split("montserrat.puig@example.com|josepmaria.casals@example.com casals.vila@example.net|nuria.roca@example.org|factures@inversions-garrotxa.example.com administracio@inversions-garrotxa.example.com||anna.sala@example.net|enric.pujol@example.com|marta.vidal@example.org|comptabilitat@promocions-fluvia.example.com gerencia@promocions-fluvia.example.com arxiu@promocions-fluvia.example.com||laia.camps@example.com|habitatges.ter@example.net||rosa.soler@example.org|xavier.marti@example.com|gestio@patrimonial-olot.example.com||immobles.montsacopa@example.com|lluis.serra@example.net|carme.riera@example.org", mail, "|")
  print "OwnerCode,Address1,Address2,Address3,Paper" > "CorreuV.csv"
  for (i = 1; i <= owners; i++) {
    if (i == 5 || i == 13 || i == 17) continue     # no record: no address
    k = split(mail[i], a, " ")
    line = pad(i, 4)
    for (j = 1; j <= 3; j++) line = line "," (j <= k ? a[j] : "")
    print line "," ((i == 6 || i == 10 || i == 14) ? "S" : "N") > "CorreuV.csv"
  }

  # Direct-debit mandates of most owners (no pseudo-random numbers drawn
  # here, so the data after them stay as they were): owners 5, 13 and 17
  # have none, the account of owner 11 has a wrong check digit; owner 9 (a
  # company) signed a B2B mandate, the rest CORE; owners 2 and 4 had their
  # first collection before this program.
  split("2100 0081 0182 2038 0049 3025", bank, " ")
  print "OwnerCode,Reference,Iban,Signed,Scheme,FirstDone" > "MandatV.csv"
  for (i = 1; i <= owners; i++) {
    if (i == 5 || i == 13 || i == 17) continue
    account = ccc(bank[i % 6 + 1], pad(1000 + i * 37, 4), pad(i * 7919 + 20000000, 10))
    account = iban(account)
    if (i == 11) account = substr(account, 1, 23) ((substr(account, 24, 1) + 1) % 10)
    print pad(i, 4), "KV-" pad(i, 4) "-2024", account, "2024" pad(i % 12 + 1, 2) pad(i + 3, 2), \
      (i == 9 ? "B2B" : "CORE"), ((i == 2 || i == 4) ? "S" : "N") > "MandatV.csv"
  }

  # Units and their receipts: a monthly quota ("C") on the 5th, now and then
  # an extraordinary levy ("I") on the 15th and a refund ("R") or a bank
  # charge ("B") on the 20th. Most are paid ("P"); the last months hold some
  # pending ("N") and a few returned ("D") receipts. A paid receipt of a
  # period that has already been billed is settled ("L"): the fee invoice
  # counts only paid receipts, so each invoice bills its own period. The
  # current period of a property ends with the first month from TODAY on
  # that its billing period divides (0 counts as 1): December for a yearly
  # property, the last month of the quarter for a quarterly one. Every
  # seventh property (7, 14, 21 and 28) has not been billed for a while and
  # keeps paid receipts of the last six months.
  print "UnitKey" > "DepartaV.csv"
  print "ReceiptUnitKey,ReceiptDate,ReceiptAmount,ReceiptType,BaseDeduction,ReceiptState,BaseAddition" > "CobramV.csv"
  ty = substr(today, 1, 4) + 0; tm = substr(today, 5, 2) + 0
  for (p = 1; p <= 30; p++) {
    # The first month (as year * 12 + month - 1) whose paid receipts are
    # not yet billed.
    m = period[p] + 0; if (m == 0) m = 1
    end = tm; while (end % m != 0) end++
    unbilled = ty * 12 + end - m
    if (p % 7 == 0) unbilled = ty * 12 + tm - 1 - 5
    units = 2 + rnd(19)
    base = 3000 + rnd(60) * 100
    for (u = 1; u <= units; u++) {
      key = pad(p, 4) pad(u, 4)
      print key > "DepartaV.csv"
      quota = base + rnd(25) * 100
      for (back = 24; back >= 0; back--) {
        y = ty; m = tm - back
        while (m < 1) { m += 12; y-- }
        ym = y pad(m, 2)
        date = ym "05"
        if (date > today) continue
        state = "P"
        r = rnd(100)
        if (back <= 2 && r < 20) state = "N"
        else if (r < 3) state = "D"
        settled = (y * 12 + m - 1 < unbilled)
        if (settled && state == "P") state = "L"
        deduction = (rnd(10) == 0) ? 150 : 0
        addition = (rnd(15) == 0) ? 50 : 0
        print key, date, quota, "C", deduction, state, addition > "CobramV.csv"
        if ((m == 3 || m == 9) && p % 4 == 1) {
          date = ym "15"
          if (date <= today) print key, date, 20000 + rnd(50) * 1000, "I", 0, (rnd(10) == 0 ? "N" : (settled ? "L" : "P")), 0 > "CobramV.csv"
        }
        if (rnd(40) == 0) {
          date = ym "20"
          if (date <= today) print key, date, 1000 + rnd(40) * 100, (rnd(2) ? "R" : "B"), 0, (settled ? "L" : "P"), 0 > "CobramV.csv"
        }
      }
    }
  }
}'
