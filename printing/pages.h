// The pages printed again from an archived invoice page (zepfact and the
// module's register screen) (one invoice's
// spool text, as SpoolOfPage gives it, code page 850, CR LF): a copy with
// its copy mark, and a corrective invoice made on the corrected invoice's
// page, so that it is printed on the same stationery in the same places.
//
// The invoice page's rows, as the module prints them (lines from 0): the
// number at column 17 and the total at column 67 of line 0; the date at
// column 17 of line 2; line 1 blank but for the property's code at column
// 92; lines 3 and 4 blank; the amount rows from line 5
// (labels at column 22, amounts right-aligned to column 66); the property
// and the owner from line 11.
#pragma once

#include <cstdint>
#include <string>

#include "base/language.h"

// The spool file of one invoice out of an archived run's spool file (lines
// ended by CR LF): the lines before the first "PAGE" line (the device line),
// then page `page` (from 1): its "PAGE" line and the lines up to the next
// one. False (out unchanged) when the spool has no such page.
[[nodiscard]] bool SpoolOfPage(const std::string& spool, int32_t page, std::string& out);

// The line of page `page` in an archived code side file ("<page>\t<text>"
// per line, see zepprint), renumbered as page 1: "1\t<text>\n"; empty when
// that page has none.
[[nodiscard]] std::string CodeLineOfPage(const std::string& codes, int32_t page);

// Every line of page in an archived figures side file ("<page>\t<key>\t<text>"
// per line, see zepprint), renumbered as page 1; empty when that page has none.
[[nodiscard]] std::string FigureLinesOfPage(const std::string& figures, int32_t page);

// The page with mark (code page 850) written on line 1, below the number,
// so that a reprint can never pass for the original.
[[nodiscard]] std::string MarkedCopyPage(const std::string& page, const std::string& mark);

// What a corrective invoice's page says in place of the corrected one's.
struct CorrectivePageTexts {
  std::string number;       // the corrective's number as printed
  std::string date;         // its date as printed
  std::string title;        // line 3: "FACTURA RECTIFICATIVA" and the form
  std::string corrects;     // line 4: the invoice corrected, with its date
  std::string cause;        // line 10: the cause
  std::string feesLabel;    // the label of the fee row when the page has none
  std::string expensesLabel;  // the label of the expenses row when the page has none
  std::string baseLabel;    // by differences: the label of the base's row
  bool differences = false;
  // Cents: by substitution the corrected amounts, by differences the change.
  int64_t fees = 0;
  int64_t expenses = 0;
  int64_t base = 0;
  int64_t vat = 0;
  int64_t withholding = 0;
  int64_t total = 0;
};

// The corrected invoice's page made the corrective's: number, date, total
// and the amount rows replaced, the title, the invoice corrected and the
// cause added; the property, owner and issuer as they were. Amounts are
// written with the page's own decimal character.
[[nodiscard]] std::string CorrectivePage(const std::string& page, const CorrectivePageTexts& texts);

// The texts such pages print, in the four languages side by side (code
// page 850): the copy mark, the corrective's title (followed by its form),
// its two forms, what it corrects (followed by the number and date), the
// causes R1-R4, and the row labels a page may lack.
enum class PageText {
  CopyMark,
  CorrectiveTitle,
  BySubstitution,
  ByDifferences,
  CorrectsInvoice,
  CauseR1,
  CauseR2,
  CauseR3,
  CauseR4,
  FeesLabel,
  ExpensesLabel,
  BaseDifference,
};

inline constexpr MessageTable<PageText, 12> kPageTexts{{{
    {PageText::CopyMark, {"DUPLICAT", "DUPLICADO", "DUPLICADO", "DUPLICATA"}},
    {PageText::CorrectiveTitle,
     {"FACTURA RECTIFICATIVA ", "FACTURA RECTIFICATIVA ", "FACTURA RECTIFICATIVA ",
      "FACTURA RECTIFICATIVA "}},
    {PageText::BySubstitution,
     {"(per substituci\xa2)", "(por sustituci\xa2n)", "(por substituci\xa2n)", "(per substitucion)"}},
    {PageText::ByDifferences,
     {"(per difer\x8ancies)", "(por diferencias)", "(por diferenzas)", "(per difer\x82ncias)"}},
    {PageText::CorrectsInvoice,
     {"Rectifica la factura ", "Rectifica la factura ", "Rectifica a factura ", "Rectifica la factura "}},
    {PageText::CauseR1,
     {"Causa R1: error fonamentat en dret (art. 80.1, 80.2 i 80.6 LIVA)",
      "Causa R1: error fundado en derecho (art. 80.1, 80.2 y 80.6 LIVA)",
      "Causa R1: erro fundado en dereito (art. 80.1, 80.2 e 80.6 LIVE)",
      "Causa R1: error fondada en drech (art. 80.1, 80.2 e 80.6 LIVA)"}},
    {PageText::CauseR2,
     {"Causa R2: concurs del destinatari (art. 80.3 LIVA)",
      "Causa R2: concurso del destinatario (art. 80.3 LIVA)",
      "Causa R2: concurso do destinatario (art. 80.3 LIVE)",
      "Causa R2: concors del destinatari (art. 80.3 LIVA)"}},
    {PageText::CauseR3,
     {"Causa R3: cr\x8a" "dit incobrable (art. 80.4 LIVA)",
      "Causa R3: cr\x82" "dito incobrable (art. 80.4 LIVA)",
      "Causa R3: cr\x82" "dito incobrable (art. 80.4 LIVE)",
      "Causa R3: cr\x8a" "dit incobrable (art. 80.4 LIVA)"}},
    {PageText::CauseR4,
     {"Causa R4: altres causes", "Causa R4: otras causas", "Causa R4: outras causas", "Causa R4: autras causas"}},
    {PageText::FeesLabel,
     {"HONORARIS ADMINISTRACI\xe0", "HONORARIOS ADMINISTRACI\xe0N", "HONORARIOS ADMINISTRACI\xe0N",
      "ONORARIS ADMINISTRACION"}},
    {PageText::ExpensesLabel, {"SUPLERTS", "SUPLIDOS", "SUPLIDOS", "SUPLERTS"}},
    {PageText::BaseDifference,
     {"DIFER\xd4NCIA DE BASE IMPOSABLE", "DIFERENCIA DE BASE IMPONIBLE", "DIFERENZA DE BASE IMPO\xa5IBLE",
      "DIFER\x90NCIA DE BASA IMPOSABLA"}},
}}};
