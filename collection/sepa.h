// The rules of SEPA direct debits that sit on top of the pain.008 schema, as
// the EPC's implementation guidelines state them: the creditor identifier,
// the characters a message may carry, the TARGET2 business days and the
// lead time of each scheme. Pure: dates come in as values.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The creditor identifier (AT-02): country code, two check digits, a
// business code of three characters the creditor chooses ("ZZZ" or "000"
// when none), then the national identifier (in Spain, the NIF). The check
// digits are ISO 7064 MOD 97-10 over the national identifier followed by
// the country code and "00" (letters counting 10 to 35); the business code
// takes no part in them. Empty when country is not two capital letters, the
// business code not three letters or digits, or the national identifier
// empty, longer than 28 or not all letters and digits.
[[nodiscard]] std::string CreditorIdentifier(const std::string& country, const std::string& businessCode,
                                             const std::string& nationalId);

// True when text (blanks dropped, letters upper-cased) is a creditor
// identifier whose check digits check, of at most 35 characters.
[[nodiscard]] bool IsCreditorIdentifier(const std::string& text);

// text in its compact form (blanks dropped, upper-cased).
[[nodiscard]] std::string CompactCreditorIdentifier(const std::string& text);

// The characters a SEPA message may carry (the EPC's Latin set): a-z, A-Z,
// 0-9 and / - ? : ( ) . , ' + and the blank.
[[nodiscard]] bool IsEpcCharacter(char c);

// Code page 850 text in the EPC's Latin set: letters with diacritics become
// their plain letters (à to a, Ñ to N, ç to c, ß to ss, æ to ae), "·" of
// the Catalan l·l and ";" "!" become ".", "&" becomes "+", "_" "-", the
// quotes "'" and a tab a blank. Runs of blanks are kept as they are. A byte
// with no place in the set (@ # $ % * < > = [ ] { } | ~ ^ \ ` ª º, the
// euro, box drawing, control bytes, ...) leaves the text as far as it got
// and sets badOut to that byte; badOut is 0 when every byte had a place.
[[nodiscard]] std::string EpcText(std::string_view cp850, char& badOut);

// The same, a byte with no place becoming a blank: for the program's own
// texts (remittance information).
[[nodiscard]] std::string EpcTextLoose(std::string_view cp850);

// text cut to at most width bytes, blanks at its ends dropped.
[[nodiscard]] std::string EpcCut(const std::string& text, size_t width);

// Whether an 8-digit date (YYYYMMDD) is a day a real calendar has.
[[nodiscard]] bool IsCalendarDate(const std::string& yyyymmdd);

// Days since 1970-01-01 of an 8-digit date (which must be a calendar date),
// and back.
[[nodiscard]] int64_t DayNumber(const std::string& yyyymmdd);
[[nodiscard]] std::string DateOfDayNumber(int64_t days);

// True when the date is a TARGET2 business day: not a Saturday or a Sunday,
// nor 1 January, Good Friday, Easter Monday, 1 May, 25 or 26 December.
[[nodiscard]] bool IsTargetBusinessDay(const std::string& yyyymmdd);

// The SEPA direct-debit schemes.
enum class Scheme { Core, B2b };

// "CORE" or "B2B" as the message writes it (LclInstrm/Cd).
[[nodiscard]] const char* SchemeCode(Scheme scheme);

// The scheme of a code as the mandates file holds it ("CORE", "B2B", any
// case, blanks around dropped); false for any other text.
[[nodiscard]] bool ParseScheme(const std::string& text, Scheme& out);

// Business days the creditor's file must reach the bank before the
// collection date, for either sequence type: one TARGET2 business day for
// CORE (the rulebook's D-1 since 2016) and for B2B.
[[nodiscard]] int LeadBusinessDays(Scheme scheme);

// The earliest collection date a file sent on today may ask for under the
// scheme: the lead time's business days after the day the bank takes it
// (today, or the next business day when today is none).
[[nodiscard]] std::string EarliestCollectionDate(const std::string& today, Scheme scheme);

// Whether collection (a calendar date) may be asked for in a file sent on
// today: a business day no earlier than EarliestCollectionDate.
[[nodiscard]] bool CollectionDateAllowed(const std::string& today, const std::string& collection, Scheme scheme);
