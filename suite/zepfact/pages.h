// The pages zepfact prints from an archived invoice page (one invoice's
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

// The page with mark (code page 850) written on line 1, below the number,
// so that a reprint can never pass for the original.
[[nodiscard]] std::string MarkedCopyPage(const std::string& page, const std::string& mark);

// What a corrective invoice's page says in place of the corrected one's.
struct CorrectivePageTexts {
  std::string number;       // the corrective's number as printed
  std::string date;         // its date as printed
  std::string title;        // line 3: "FACTURA RECTIFICATIVA" and the form
  std::string corrects;     // line 4: the invoice corrected, with its date
  std::string cause;        // line 9: the cause
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
