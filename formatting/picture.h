// Numbers through pictures, money amounts in the active currency, person
// names in printed order, and the check of a typed number against a picture.
// Results are code page 850 texts.
#pragma once

#include <cstdint>
#include <string>

// value written through picture: the result has exactly the picture's length.
// Digit positions "9" (zero-filled), "Z"/"z" (blank-filled), "*" (asterisk
// filled); "." prints the decimal character, "," the thousands character;
// "-" and "+" show the sign; anything else is kept. A value too wide for the
// picture gives the plain number cut to the width, or a row of "!" when not
// even its integer digits fit; NaN gives the "!" row as well. Never fails.
// The decimal and thousands characters are those of CurrentFormatSettings()
// (formatting/settings.h).
std::string FormatPicture(const std::string& picture, double value);

// An amount in cents written through a picture built from spec (same length)
// for the active currency: euros with two decimals, pesetas with none.
std::string FormatAmount(const std::string& spec, double cents);

// The same for the currency whose letter is given ("P" pesetas, any other
// euros; CurrencyOf tells a context's), whatever context is active; the
// empty letter stands for the active context's currency.
std::string FormatAmount(const std::string& spec, double cents, const std::string& currency);

// "x,L" gives currency letter L to context x ("A" the default context, which
// also becomes active; any other letter the alternate); "p" makes the
// alternate context active; anything else without a comma the default one.
void SetCurrency(const std::string& selector);

// The currency letter of a context ("A": default; else the alternate, or the
// default when no alternate is set). Changes nothing.
std::string CurrencyOf(const std::string& context);

// A stored name "surname*given name" in printed order "given name surname";
// a name without "*" (or with it first) comes back trimmed.
std::string FormatPersonName(const std::string& name);

// -1 when text is not a number the picture can take (a sign only when the
// picture has "-" or "+", one leading sign, one "."; digits and blanks),
// 0 when it is. The empty text is valid.
int16_t IsInvalidNumber(const std::string& text, const std::string& picture);

// Puts the default FormatSettings in force and empties the currency
// contexts. For tests only.
void ResetFormattingSettingsForTesting();
