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
#include <vector>

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

// The text of key for page in a figures side file ("<page>\t<key>\t<text>"
// per line); empty when it has none.
[[nodiscard]] std::string FigureOfPage(const std::string& figures, int32_t page, const std::string& key);

// The page with mark (code page 850) written on line 1, below the number,
// so that a reprint can never pass for the original.
[[nodiscard]] std::string MarkedCopyPage(const std::string& page, const std::string& mark);

// A corrective invoice's page, on the corrected invoice's page, puts its
// own texts only where neither the page's lines nor the stationery print
// (lines from 0, columns from 1):
//   line 0       its number (column 17) and total (column 67)
//   line 2       its date (column 17), in the invoice's own style
//   line 3       the title and form (column 17)
//   line 4       the headings of the first two amount columns, within the
//                heading band between the stationery's own two labels
//   lines 5-8    Base, VAT, withholding (when any) and Total, the label at
//                column 22 and three amounts right-aligned in columns 37-50,
//                51-64 and 66-79: the original amounts, then by substitution
//                the difference and the corrected amounts, by differences
//                the corrected amounts and the difference; the last column
//                (under the stationery's "amount" heading) is always the
//                corrective's own, the one its total and the register carry
//   lines 9, 10  the invoice corrected and its date (columns 17-68, left of
//                the stationery's totals)
//   lines 22, 23 the cause (columns 9-96, below the stationery's payment box)
inline constexpr long kCorrectiveTextWidth = 52;   // lines 9, 10: columns 17-68
inline constexpr long kCorrectiveCauseColumn = 9;
inline constexpr long kCorrectiveCauseWidth = 88;  // lines 22, 23: columns 9-96
inline constexpr size_t kCorrectiveLabelWidth = 14;

// Amounts of a corrective's table, cents.
struct CorrectiveAmounts {
  int64_t base = 0;
  int64_t vat = 0;
  int64_t withholding = 0;  // as a positive amount withheld
  int64_t total = 0;
};

// What a corrective invoice's page says in place of the corrected one's
// (code page 850).
struct CorrectivePageTexts {
  std::string number;         // the corrective's number as printed
  std::string date;           // its date as the invoice prints dates
  std::string title;          // line 3: "FACTURA RECTIFICATIVA" and the form
  std::string corrects;       // line 9: the invoice corrected
  std::string correctedDate;  // line 10: when that invoice was issued
  std::string cause;          // lines 22-23: the cause, word-wrapped; cut with "..." beyond two lines
  // At most kCorrectiveLabelWidth each, with the rate: VAT and withholding
  // are followed by their rates (hundredths of a percent), written with the
  // page's decimal character.
  std::string baseLabel, vatLabel, withholdingLabel, totalLabel;
  int32_t vatRate = 0, withholdingRate = 0;
  std::string originalHeading, correctedHeading, differenceHeading;
  bool differences = false;
  bool withholding = false;  // a withholding row
  CorrectiveAmounts original, corrected, difference;
};

// The corrected invoice's page made the corrective's: number, date, total
// and the amount rows replaced, the title, the invoice corrected and the
// cause added; the property, owner and issuer as they were. Amounts are
// written as the invoice writes them: the page's own decimal character,
// thousands grouped, a negative amount ending in "-".
[[nodiscard]] std::string CorrectivePage(const std::string& page, const CorrectivePageTexts& texts);

// The cause as it prints on a corrective: at most two lines of at most
// kCorrectiveCauseWidth characters, broken between words; a text that
// does not fit ends in "...".
[[nodiscard]] std::vector<std::string> CorrectiveCauseLines(const std::string& cause);

// The texts such pages print, in the four languages side by side (code
// page 850): the copy mark, the corrective's title (followed by its form),
// its two forms, what it corrects (followed by the number), the causes
// R1-R4, the labels of its rows (VAT and withholding followed by the rate),
// the headings of its columns, and when the corrected invoice was issued
// (followed by its date).
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
  BaseLabel,
  VatLabel,
  WithholdingLabel,
  TotalLabel,
  OriginalHeading,
  CorrectedHeading,
  DifferenceHeading,
  IssuedOn,
};

inline constexpr MessageTable<PageText, 17> kPageTexts{{{
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
    {PageText::BaseLabel, {"Base imposable", "Base imponible", "Base impo\xa4ible", "Basa imposabla"}},
    {PageText::VatLabel, {"IVA ", "IVA ", "IVE ", "IVA "}},
    {PageText::WithholdingLabel, {"IRPF ", "IRPF ", "IRPF ", "IRPF "}},
    {PageText::TotalLabel, {"Total", "Total", "Total", "Total"}},
    {PageText::OriginalHeading, {"Original", "Original", "Orixinal", "Original"}},
    {PageText::CorrectedHeading, {"Rectificat", "Rectificado", "Rectificado", "Rectificat"}},
    {PageText::DifferenceHeading, {"Difer\x8ancia", "Diferencia", "Diferenza", "Difer\x82ncia"}},
    {PageText::IssuedOn, {"emesa el ", "expedida el ", "expedida o ", "emesa lo "}},
}}};
