// A small office on disk for the invoicing tests: a temporary suite root
// with the four data files, filled through the record manager, opened
// through the record-file layer on the module's record areas, plus the
// session values, tax classes and issuer details a pass reads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TestOwner {
  std::string code;      // 4 digits
  std::string name;      // stored form "SURNAME*GIVEN"
  std::string address1, address2, address3;
  std::string taxId;
  // (slot 1..20, 3-digit property code, tax class)
  struct Link {
    int slot;
    std::string property;
    int16_t taxClass;
  };
  std::vector<Link> links;
};

struct TestProperty {
  std::string code;      // 3 digits
  std::string name;
  float feePercent = 0;
  int32_t expenseAmount = 0;
  int16_t periodMonths = 0;
  std::string cutoff;    // 8 digits YYYYMMDD, empty for the empty date
  int32_t fixedFee = 0;
  std::vector<std::string> units;  // 3-digit unit numbers (packed "0" + code)
};

struct TestReceipt {
  std::string property;  // 3 digits
  std::string unit;      // 3 digits
  std::string date;      // YYYYMMDD
  char type;
  char state;
  int32_t amount;
  int32_t deduction;
  int32_t addition;
};

// The 2-byte packed code of a 3-digit property code ("001" -> 128 129).
std::string PropertyKey(const std::string& threeDigits);

class TestOffice {
 public:
  TestOffice();   // makes the temporary root and sets the session to it
  ~TestOffice();  // resets the record manager, removes the root

  // Creates the four data files from their dictionaries, inserts the
  // records through the record manager, and opens them with the layer on
  // ModuleRecordArea. Returns false (with a failure recorded) on any status.
  bool Build(const std::vector<TestOwner>& owners, const std::vector<TestProperty>& properties,
             const std::vector<TestReceipt>& receipts);

  // The spool file's content, or "<missing>".
  std::string SpoolText() const;
  const std::string& Root() const { return root_; }

 private:
  std::string root_;  // ends in "/"
};

// Splits a spool text into its lines; fails the test on a line not ended by CR LF.
std::vector<std::string> SpoolLines(const std::string& text);
