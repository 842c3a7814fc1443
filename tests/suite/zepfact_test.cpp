// The register's tool: command dates and the entries they select, the CSV
// files of invoices and of quarterly totals, the agency's XML checked
// against its schema, and the program run against a register in a
// temporary suite root, sound and tampered with.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/csv.h"
#include "recman/layout.h"
#include "register/register.h"
#include "register/software.h"
#include "register/xml.h"
#include "recman/recman.h"
#include "register/register.h"
#include "suite/zepfact/exports.h"
#include "signing/check.h"
#include "signing/events.h"
#include "signing/xades.h"
#include "tests/support/adopted.h"
#include "tests/support/certificates.h"
#include "tests/support/damage.h"
#include "tests/support/register_entry.h"
#include "tests/support/table.h"
#include "tests/support/temp_root.h"

namespace {

namespace fs = std::filesystem;

const std::string kDictionary = std::string(KORVADEL_SOURCE_DIR) + "/install/ddf/RegFact2.xdf";
const std::string kSchema = std::string(ZEPFACT_SCHEMA_DIR) + "/SuministroLR.xsd";
const std::string kRecordSchema = std::string(ZEPFACT_SCHEMA_DIR) + "/SuministroInformacion.xsd";
const std::string kProducerFile = std::string(KORVADEL_SOURCE_DIR) + "/install/Productor.ini";

RegisterEntry Invoice(const std::string& series, int32_t number, const std::string& date, int32_t base,
                      int32_t withholdingRate = 0) {
  return FeeInvoiceEntry(series, number, date, base, withholdingRate);
}

// Entries chained as the register chains them, in the order given.
std::vector<RegisterEntry> Chained(std::vector<RegisterEntry> entries) {
  std::string previous, previousSeal;
  for (size_t i = 0; i < entries.size(); ++i) {
    RegisterEntry& e = entries[i];
    e.sequence = static_cast<int32_t>(i + 1);
    e.generatedAt = "2027-04-20T09:30:00+02:00";
    e.previousFingerprint = previous;
    e.fingerprint = ComputeFingerprint(e);
    e.seal = ComputeSeal(e, previousSeal);
    previous = e.fingerprint;
    previousSeal = e.seal;
  }
  return entries;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(ZepfactDates, CommandDatesAndRanges) {
  struct Case {
    const char* text;
    std::string expected;  // "" refused
  };
  const Case dates[] = {
      {"15-01-2027", "20270115"}, {"15/01/2027", "20270115"}, {"2027-01-15", "20270115"},
      {"29-02-2028", "20280229"}, {"31-12-9999", "99991231"},
      {"29-02-2027", ""}, {"31-04-2027", ""}, {"00-01-2027", ""}, {"15-13-2027", ""}, {"15-01-0000", ""},
      {"15/01-2027", ""}, {"2027/01/15", ""}, {"1-1-2027", ""}, {"15-01-27", ""}, {"15.01.2027", ""},
      {"15-01-2027 ", ""}, {"+5-01-2027", ""}, {"", ""},
  };
  ForEachRow(dates, [](const Case& c) {
    std::string out = "unchanged";
    EXPECT_EQ(ParseCommandDate(c.text, out), !c.expected.empty()) << c.text;
    EXPECT_EQ(out, c.expected.empty() ? "unchanged" : c.expected) << c.text;
  });

  // Generated on 15 January by the local dates the times state (one is
  // already the 16th in UTC), on 1 April (still 31 March in UTC), and a
  // damaged time.
  std::vector<RegisterEntry> entries = {Invoice("A", 1, "20261231", 100), Invoice("A", 2, "20270101", 100),
                                        Invoice("A", 3, "20270331", 100), Invoice("A", 4, "20270401", 100)};
  entries[0].generatedAt = "2027-01-15T10:00:00+01:00";
  entries[1].generatedAt = "2027-01-15T23:59:59-05:00";
  entries[2].generatedAt = "2027-04-01T00:30:00+02:00";
  entries[3].generatedAt = "15-04-2027T10:00:00";
  struct RangeCase {
    const char* name;
    Selection selection;
    std::vector<int32_t> numbers;
  };
  const RangeCase ranges[] = {
      {"open", {{"", ""}, {"", ""}}, {1, 2, 3, 4}},
      {"issued, both ends included", {{"20270101", "20270331"}, {"", ""}}, {2, 3}},
      {"issued from only", {{"20270331", ""}, {"", ""}}, {3, 4}},
      {"issued to only", {{"", "20270101"}, {"", ""}}, {1, 2}},
      {"nothing in range", {{"20280101", ""}, {"", ""}}, {}},
      {"generated on one local date", {{"", ""}, {"20270115", "20270115"}}, {1, 2}},
      {"generated from a date", {{"", ""}, {"20270401", ""}}, {3}},
      {"generated up to a date, the damaged time left out", {{"", ""}, {"", "20270331"}}, {1, 2}},
      {"issued and generated", {{"20270101", ""}, {"", "20270401"}}, {2, 3}},
  };
  ForEachRow(ranges, [&](const RangeCase& c) {
    std::vector<int32_t> numbers;
    for (const RegisterEntry& e : SelectedEntries(entries, c.selection)) numbers.push_back(e.number);
    EXPECT_EQ(numbers, c.numbers);
  });
}

// The cells of every line of a CSV file, as a spreadsheet reads them back.
std::vector<std::vector<std::string>> CsvCells(const std::string& csv) {
  std::vector<CsvRow> rows;
  std::string error;
  EXPECT_TRUE(ParseCsv(csv, rows, error)) << error;
  std::vector<std::vector<std::string>> cells;
  for (const CsvRow& row : rows) cells.push_back(row.cells);
  return cells;
}

TEST(ZepfactCsv, OneTableOfInvoicesAndOneOfTotalsPerSeriesAndQuarter) {
  struct FieldCase {
    const char* name;
    std::string in, out;
  };
  const FieldCase fields[] = {
      {"plain", "Puig Serrat", "Puig Serrat"},
      {"comma", "Puig, Montserrat", "\"Puig, Montserrat\""},
      {"quotes doubled", "Cal \"Pep\"", "\"Cal \"\"Pep\"\"\""},
      {"line feed", "a\nb", "\"a\nb\""},
      {"carriage return", "a\rb", "\"a\rb\""},
      {"empty", "", ""},
  };
  ForEachRow(fields, [](const FieldCase& c) { EXPECT_EQ(CsvField(c.in), c.out); });

  // Two series over two quarters and an invoice without series; the first
  // row's name needs quoting and holds a code page 850 letter, the last
  // one's would be a formula.
  std::vector<RegisterEntry> entries = {
      Invoice("A", 1, "20270115", 10000),
      Invoice("R", 2, "20270220", 20000, 1500),
      Invoice("A", 3, "20270331", 5050),
      Invoice("A", 4, "20270401", -3000),
      Invoice("R", 5, "20270630", 1000, 1500),
      Invoice("", 6, "20270405", 1000),
  };
  entries[0].recipientName = "Comunitat \"Pl\x80\x61\", Girona";
  entries[0].generatedAt = "2027-01-15T10:00:00+01:00";
  entries[0].fingerprint = "F1";
  entries[0].previousFingerprint = "";
  entries[5].recipientName = "=1+2";
  const std::string csv = CsvText(entries);
  const std::string firstRow =
      "A,1,15-01-2027,12345678Z,ES40312876V,\"Comunitat \"\"Pl\xc3\x87" "a\"\", Girona\",100.00,21.00,21.00,0.00,0.00,"
      "121.00,2027-01-15T10:00:00+01:00,,F1,F1,,,\r\n";
  EXPECT_EQ(csv.substr(0, csv.find("\r\n") + 2 + firstRow.size()),
            "series,number,date,issuer_nif,recipient_nif,recipient_name,base,vat_rate,vat,withholding_rate,"
            "withholding,total,generated_at,previous_fingerprint,fingerprint,type,form,corrects,corrects_date\r\n" +
                firstRow);
  // One table: every line as many columns as the header, the row without
  // series included; the formula shown as text, negative amounts numbers.
  EXPECT_EQ(Count(csv, "\r\n"), 1 + entries.size());
  const std::vector<std::vector<std::string>> rows = CsvCells(csv);
  ASSERT_EQ(rows.size(), 1 + entries.size());
  for (const std::vector<std::string>& row : rows) EXPECT_EQ(row.size(), 19u) << row[0];
  EXPECT_EQ(std::vector<std::string>(rows[6].begin(), rows[6].begin() + 7),
            (std::vector<std::string>{"", "6", "05-04-2027", "12345678Z", "ES40312876V", "'=1+2", "10.00"}));
  EXPECT_EQ(rows[4][6], "-30.00");

  EXPECT_EQ(CsvTotalsText(entries),
            "series,quarter,invoices,base,vat,withholding,total\r\n"
            ",2027-2T,1,10.00,2.10,0.00,12.10\r\n"
            "A,2027-1T,2,150.50,31.60,0.00,182.10\r\n"
            "A,2027-2T,1,-30.00,-6.30,0.00,-36.30\r\n"
            "R,2027-1T,1,200.00,42.00,30.00,212.00\r\n"
            "R,2027-2T,1,10.00,2.10,1.50,10.60\r\n");

  // A/1 replaced in the next quarter by a substitution (100.00 -> 120.00),
  // then moved by a correction by differences (-5.00): the VAT return of
  // each quarter takes what changed in it, never the replaced invoice twice.
  RegisterEntry substitution = Invoice("RE", 1, "20270410", 12000);
  substitution.invoiceType = "R1";
  substitution.correctionForm = 'S';
  substitution.refSeries = "A";
  substitution.refNumber = 1;
  substitution.refBase = 10000;
  substitution.refVat = 2100;
  RegisterEntry difference = Invoice("RE", 2, "20270411", -500);
  difference.invoiceType = "R1";
  difference.correctionForm = 'I';
  difference.refSeries = "A";
  difference.refNumber = 1;
  RegisterEntry again = substitution;  // then replaced again: 115.00 -> 110.00
  again.number = 3;
  again.base = 11000;
  again.vat = 2310;
  again.total = 13310;
  again.refBase = 11500;
  again.refVat = 2415;
  entries.insert(entries.end(), {substitution, difference, again});
  const std::string totals = CsvTotalsText(entries);
  EXPECT_NE(totals.find("A,2027-1T,2,150.50,31.60,0.00,182.10\r\n"), std::string::npos) << totals;
  EXPECT_NE(totals.find("\r\nRE,2027-2T,3,10.00,2.10,0.00,12.10\r\n"), std::string::npos) << totals;
}

// What is wrong with a file against one of the agency's schemas: empty
// when xmllint finds it valid, else xmllint's words (a missing schema or
// xmllint is wrong too).
// What a shell command writes on stdout and stderr; ok says whether it
// ran and ended with status 0.
std::string Shell(const std::string& command, bool* ok = nullptr) {
  std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return "cannot run " + command;
  std::string said;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) said.append(buffer, n);
  const int status = ::pclose(pipe);
  if (ok != nullptr) *ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return said;
}

std::string SchemaProblems(const std::string& path, const std::string& schema = kSchema) {
  if (!fs::exists(schema)) return "no schema at " + schema;
  bool valid = false;
  const std::string said = Shell("xmllint --noout --schema '" + schema + "' '" + path + "'", &valid);
  return valid ? "" : "xmllint: " + said;
}

const SoftwareIdentity kSoftware{"Programari Z\x8a" "fir, S.L.", "B65432106", "Carrer Nou, 1, 17005 Girona", "korvadel",
                                 "KV", "1.1.0", false, true, "Girona, Espa\xa4" "a", "01-12-2026"};

TEST(ZepfactXml, EachRecordValidatesAloneAndDocumentsChainThem) {
  TempRoot dir;
  std::vector<RegisterEntry> chain = Chained({
      Invoice("A", 1, "20270115", 10000),
      Invoice("R", 2, "20270220", 20000, 1500),
      Invoice("A", 3, "20270401", -3000),
      Invoice("A", 4, "20270402", 500),
      Invoice("A", 5, "20270403", 600),
  });
  chain[1].recipientTaxId = "FR12345678901";
  chain[1].recipientName = "Soci\x82t\x82 <Lyon> & Fils";
  chain[2].recipientTaxId = "EL 094259216";
  chain[3].recipientTaxId = "XI123456789";
  chain[4].recipientTaxId = "ES123";
  const SubmissionIssuer issuer{"Jordi Vilar\xa2 i Puigdevall", "12345678Z"};

  struct RecordCase {
    const char* name;
    size_t index;
    std::string recipient;  // "" no record: not identifiable
  };
  const RecordCase records[] = {
      {"first of the chain, NIF", 0, "<sf:NIF>40312876V</sf:NIF>"},
      {"EU VAT number, without CodigoPais", 1,
       "<sf:IDOtro>\n        <sf:IDType>02</sf:IDType>\n        <sf:ID>FR12345678901</sf:ID>"},
      {"Greek VAT number as EL", 2, "<sf:IDOtro>\n        <sf:IDType>02</sf:IDType>\n        <sf:ID>EL094259216</sf:ID>"},
      {"Northern Ireland", 3, "<sf:IDOtro>\n        <sf:IDType>02</sf:IDType>\n        <sf:ID>XI123456789</sf:ID>"},
      {"no valid NIF: no F1 record", 4, ""},
  };
  ForEachRow(records, [&](const RecordCase& c) {
    const std::string xml = RegistroAltaXml(chain[c.index], c.index == 0 ? nullptr : &chain[c.index - 1],
                                            issuer.name, kSoftware, "0A1B2C3D4E5F6071");
    if (c.recipient.empty()) {
      EXPECT_EQ(xml, "");
      return;
    }
    EXPECT_EQ(SchemaProblems(dir.Write("record.xml", xml), kRecordSchema), "") << xml;
    EXPECT_NE(xml.find(c.recipient), std::string::npos) << xml;
    EXPECT_EQ(Count(xml, "<sf:PrimerRegistro>S</sf:PrimerRegistro>"), c.index == 0 ? 1u : 0u);
    EXPECT_NE(xml.find("<sf:NombreRazon>Programari Z\xc3\xa8" "fir, S.L.</sf:NombreRazon>\n"
                       "    <sf:NIF>B65432106</sf:NIF>\n"
                       "    <sf:NombreSistemaInformatico>korvadel</sf:NombreSistemaInformatico>\n"
                       "    <sf:IdSistemaInformatico>KV</sf:IdSistemaInformatico>\n    <sf:Version>1.1.0</sf:Version>\n"
                       "    <sf:NumeroInstalacion>0A1B2C3D4E5F6071</sf:NumeroInstalacion>\n"
                       "    <sf:TipoUsoPosibleSoloVerifactu>N</sf:TipoUsoPosibleSoloVerifactu>\n"
                       "    <sf:TipoUsoPosibleMultiOT>S</sf:TipoUsoPosibleMultiOT>"),
              std::string::npos)
        << xml;
  });

  struct Case {
    const char* name;
    Selection selection;
    std::string requirement;
    size_t records;
    bool first;    // the first record of the chain is in the document
    int64_t refused;
  };
  const Case cases[] = {
      {"whole chain: the unidentified recipient left out, named", {{"", ""}, {"", ""}}, "", 4, true, 4},
      {"a later quarter still names the record before it", {{"20270201", "20270402"}, {"", ""}}, "", 3, false, -1},
      {"an answer to the agency's request", {{"20270201", "20270402"}, {"20270420", ""}}, "REQ2027A0000000001", 3,
       false, -1},
  };
  ForEachRow(cases, [&](const Case& c) {
    int64_t refused = 0;
    const std::vector<std::string> documents =
        SubmissionDocuments(chain, c.selection, issuer, kSoftware, "0A1B2C3D4E5F6071", c.requirement, refused);
    EXPECT_EQ(refused, c.refused);
    ASSERT_EQ(documents.size(), 1u);
    const std::string path = dir.Write("out.xml", documents[0]);
    EXPECT_EQ(SchemaProblems(path), "") << documents[0];
    EXPECT_EQ(Count(documents[0], "<sf:RemisionRequerimiento>\n"
                                  "      <sf:RefRequerimiento>" + c.requirement + "</sf:RefRequerimiento>\n"
                                  "      <sf:FinRequerimiento>S</sf:FinRequerimiento>\n"
                                  "    </sf:RemisionRequerimiento>\n"
                                  "  </sfLR:Cabecera>"),
              c.requirement.empty() ? 0u : 1u);
    EXPECT_EQ(Count(documents[0], "<sf:RegistroAlta "), c.records);
    EXPECT_EQ(Count(documents[0], "<sf:PrimerRegistro>S</sf:PrimerRegistro>"), c.first ? 1u : 0u);
    EXPECT_NE(documents[0].find("<sf:Huella>" + chain[0].fingerprint + "</sf:Huella>\n"
                                "    </sf:RegistroAnterior>"),
              std::string::npos);
    // The issuer files the records; the producer only makes the software.
    EXPECT_NE(documents[0].find("<sf:ObligadoEmision>\n      <sf:NombreRazon>Jordi Vilar\xc3\xb3 i Puigdevall"
                                "</sf:NombreRazon>\n      <sf:NIF>12345678Z</sf:NIF>"),
              std::string::npos);
    EXPECT_EQ(Count(documents[0], "<sf:NIF>12345678Z</sf:NIF>"), 1u);
  });

  // More records than the agency takes in one document: the rest go on,
  // and only the last document ends the answer to a request.
  std::vector<RegisterEntry> many;
  for (int32_t n = 1; n <= static_cast<int32_t>(kRecordsPerDocument) + 1; ++n)
    many.push_back(Invoice("A", n, "20270115", 100 + n));
  int64_t refused = 0;
  const std::vector<std::string> documents =
      SubmissionDocuments(Chained(many), {{"", ""}, {"", ""}}, issuer, kSoftware, "0A1B2C3D4E5F6071", "R1", refused);
  ASSERT_EQ(documents.size(), 2u);
  EXPECT_EQ(Count(documents[0], "<sf:RegistroAlta "), kRecordsPerDocument);
  EXPECT_EQ(Count(documents[1], "<sf:RegistroAlta "), 1u);
  EXPECT_EQ(Count(documents[0], "<sf:FinRequerimiento>N</sf:FinRequerimiento>"), 1u);
  EXPECT_EQ(Count(documents[1], "<sf:FinRequerimiento>S</sf:FinRequerimiento>"), 1u);
  EXPECT_EQ(SchemaProblems(dir.Write("second.xml", documents[1])), "") << documents[1];
  struct ReferenceCase {
    const char* text;
    bool taken;
  };
  const ReferenceCase references[] = {
      {"R1", true}, {"ABCDEFGHIJ12345678", true}, {"", false}, {"ABCDEFGHIJ123456789", false},
      {"R-1", false}, {"R 1", false}, {"R\xa4", false},
  };
  ForEachRow(references, [](const ReferenceCase& c) { EXPECT_EQ(IsRequirementReference(c.text), c.taken) << c.text; });
  EXPECT_EQ(DocumentPartPath("dir.v/out.xml", 2, 2), "dir.v/out-2.xml");
  EXPECT_EQ(DocumentPartPath("dir.v/out", 1, 2), "dir.v/out-1");
  EXPECT_EQ(DocumentPartPath("dir.v/out.xml", 1, 1), "dir.v/out.xml");
}

// A suite root with Tarn.ini, the installed Productor.ini and a register
// of five invoices.
class ZepfactProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    root_.Write("Tarn.ini",
                "[Usuari]\r\nIdioma=CAT\r\n[Emissor]\r\nNom=Jordi Vilar\xa2 i Puigdevall, Administrador de Finques Col\xfalegiat\r\n"
                "NIF= ES 12.345.678-z\r\n");
    fs::copy_file(kProducerFile, root_.Dir() + SoftwareFileName);
    fs::create_directories(root_.Dir() + "DADES");
    // Five invoices as the module's first version registered them, one
    // counter for every series; runs of this version go on from them.
    std::vector<RegisterEntry> entries = {
        Invoice("A", 1, "20270115", 10000), Invoice("R", 2, "20270220", 20000, 1500),
        Invoice("A", 3, "20270331", 5050), Invoice("A", 4, "20270401", 7000),
        Invoice("A", 5, "20270402", 8000),
    };
    entries[0].recipientName = "Pe\xa4\x61, Jordi";
    for (RegisterEntry& e : entries) e.generatedAt = "2027-04-20T09:30:00+02:00";
    ASSERT_EQ(WriteEarlierRegister(root_.Dir() + "DADES/RegFactV", entries), 0);
  }

  // The first layout's file, which the fixture writes.
  std::string RegisterPath() const { return root_.Dir() + "DADES/RegFactV.dat"; }
  std::string CurrentRegisterPath() const { return root_.Dir() + "DADES/RegFact2.dat"; }

  // Runs zepfact with the arguments, ZEPROOT at the root and environment
  // settings before it; keeps its output (sent to output) and error text.
  int Run(const std::string& args, const std::string& environment = "", const std::string& output = "out.txt") {
    const std::string command = "cd '" + root_.Dir() + "' && env -u ZEPTMP ZEPROOT='" + root_.Dir() + "' " +
                                environment + " '" ZEPFACT_PROGRAM "' " + args + " > " + output + " 2> err.txt";
    const int status = std::system(command.c_str());
    // A sender the command started on its own has ended too.
    detached_ = AdoptedChildren::Wait(-1);
    out_ = ReadAll(root_.Dir() + "out.txt");
    err_ = ReadAll(root_.Dir() + "err.txt");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // Flips one bit of the recipient's name of an invoice, in place.
  void Tamper(int32_t number) {
    ASSERT_EQ(ChangeStoredRecord(RegisterPath(), NumberKey(number),
                                 [](std::string& record) { record[RegisterFields::RecipientName.offset] ^= 0x01; }),
              0);
  }

  AdoptedChildren adopted_;
  TempRoot root_;
  std::string out_, err_;
  std::vector<int> detached_;  // the exit codes of the senders the last command started
};

TEST_F(ZepfactProgram, ListsExportsAndVerifies) {
  struct Case {
    const char* name;
    std::string args, environment;
    int exitCode;
    std::string output;  // stdout exactly, or the text stderr holds when exitCode is not 0
  };
  const Case cases[] = {
      {"list in date order between two dates", "list --from 20/02/2027 --to 2027-04-01", "", 0,
       "Factura       Data       NIF         Destinatari                          Total Estat\n"
       "R/00000002    20-02-2027 ES40312876V Montserrat Puig Serrat              212.00 emesa\n"
       "A/00000003    31-03-2027 ES40312876V Montserrat Puig Serrat               61.10 emesa\n"
       "A/00000004    01-04-2027 ES40312876V Montserrat Puig Serrat               84.70 emesa\n"
       "Factures: 3\n"},
      {"list up to a date, names in UTF-8", "list --to 15-01-2027", "", 0,
       "Factura       Data       NIF         Destinatari                          Total Estat\n"
       "A/00000001    15-01-2027 ES40312876V Pe\xc3\xb1" "a, Jordi                         121.00 emesa\n"
       "Factures: 1\n"},
      {"list by issue and generation dates, titles in the terminal's language",
       "list --from 01-04-2027 --generated-from 2027-04-20 --generated-to 20/04/2027",
       "ZEPTMP=" + root_.Dir() + "term/", 0,
       "Factura       Fecha      NIF         Destinatario                         Total Estado\n"
       "A/00000004    01-04-2027 ES40312876V Montserrat Puig Serrat               84.70 emitida\n"
       "A/00000005    02-04-2027 ES40312876V Montserrat Puig Serrat               96.80 emitida\n"
       "Facturas: 2\n"},
      {"nothing generated by a date", "list --generated-to 19-04-2027", "", 0,
       "Factura       Data       NIF         Destinatari                          Total Estat\nFactures: 0\n"},
      {"verify a sound chain", "verify", "", 0, "Cadena correcta, registres verificats: 5\n"},
      {"the terminal's language first", "verify", "ZEPTMP=" + root_.Dir() + "term/", 0,
       "Cadena correcta, registros verificados: 5\n"},
      {"export into a missing folder", "export-csv missing/out.csv", "", 1, "No es pot escriure missing/out.csv"},
      {"impossible date", "list --from 29-02-2027", "", 2, "Data no v\xc3\xa0lida: 29-02-2027"},
      {"date in no known form", "export-csv --to 2027/04/01 out.csv", "", 2, "Data no v\xc3\xa0lida: 2027/04/01"},
      {"dates the wrong way round", "list --from 02-04-2027 --to 01-04-2027", "", 2, "posterior a la final"},
      {"generation dates the wrong way round",
       "export-totals --generated-from 21-04-2027 --generated-to 20-04-2027 t.csv", "", 2, "posterior a la final"},
      {"a request reference too long", "export-xml --requerimiento 1234567890123456789 r.xml", "", 2,
       "Refer\xc3\xa8ncia de requeriment no v\xc3\xa0lida: \"1234567890123456789\""},
      {"an empty request reference", "export-xml --requerimiento '' r.xml", "", 2,
       "Refer\xc3\xa8ncia de requeriment no v\xc3\xa0lida: \"\""},
      {"a request reference on the CSV", "export-csv --requerimiento R1 r.csv", "", 2,
       "no v\xc3\xa0lid: --requerimiento"},
      {"date option without its date", "list --from", "", 2, "Falta el valor de --from"},
      {"export without a file", "export-xml --from 01-01-2027", "", 2, "Falta el nom del fitxer"},
      {"dates on verify", "verify --to 01-04-2027", "", 2, "no v\xc3\xa0lid: --to"},
      {"unknown command", "print 1", "", 2, "Ordre desconeguda: print"},
      {"reprint without its number", "reprint", "", 2, "Falta el valor de reprint"},
      {"reprint of a number not issued", "reprint 9", "", 1, "La factura 9 no \xc3\xa9s al registre"},
      {"reprint of a number of another series", "reprint R/00000001", "", 1,
       "La factura R/00000001 no \xc3\xa9s al registre"},
      {"reprint into a file the print program cannot make", "reprint 1 --output copy.doc", "", 2,
       "Fitxer de sortida no v\xc3\xa0lid: copy.doc"},
      {"an output for a list", "list --output list.pdf", "", 2, "no v\xc3\xa0lid: --output"},
      {"unknown option", "list --colour", "", 2, "no v\xc3\xa0lid: --colour\n\xc3\x9as: zepfact"},
      {"reprint without an archived copy", "reprint 1", "", 1, "No es pot llegir la c\xc3\xb2pia arxivada"},
      {"no command", "", "", 2, "zepfact [--root DIR] [--lang CAT|SPA|GLG|OCI] ORDRE"},
      {"a language the suite does not speak", "--lang ENG list", "", 2, "no v\xc3\xa0lid: ENG"},
      {"--lang before the session's language", "--lang oci reprint 9", "ZEPTMP=" + root_.Dir() + "term/", 1,
       "La factura 9 es pas al registre"},
      {"dates on the declaration", "declaration --from 01-04-2027", "", 2, "no v\xc3\xa0lid: --from"},
  };
  root_.Write("term/TarnTerm.ini", "[Sistema]\r\nIdioma= SPA \r\n");
  ForEachRow(cases, [&](const Case& c) {
    EXPECT_EQ(Run(c.args, c.environment), c.exitCode) << err_;
    if (c.exitCode == 0) {
      EXPECT_EQ(out_, c.output);
    } else {
      EXPECT_NE(err_.find(c.output), std::string::npos) << err_;
    }
  });

  // --help answers on stdout, whatever else the line holds (a bad value
  // too): the whole usage, and in every language each form of each command
  // once.
  EXPECT_EQ(Run("list --help"), 0);
  EXPECT_EQ(out_,
            "\xc3\x9as: zepfact [--root DIR] [--lang CAT|SPA|GLG|OCI] ORDRE\n"
            "  list [DATES]\n"
            "  export-csv [DATES] FITXER\n"
            "  export-totals [DATES] FITXER\n"
            "  export-xml [DATES] [--requerimiento REF] FITXER\n"
            "  verify [NUM]\n"
            "  events list|restored|export CARPETA\n"
            "  reprint NUM [--output FITXER]\n"
            "  reprint --run ARXIU [--output FITXER]\n"
            "  cancel NUM\n"
            "  correct NUM --type R1..R4 --by S|I --fee IMPORT [--expenses IMPORT] [--cause TEXT] [--output FITXER]\n"
            "  declaration\n"
            "  mail [--run ARXIU | DATES] [--dry-run] [--again] [--status]\n"
            "  send [--until-empty] [--retry SEGONS] [--background]\n"
            "  resend NUM\n"
            "  renounce\n"
            "  remittance [--run ARXIU | DATES] [--collection-date DATA] --output FITXER [--again]\n"
            "  remittance returns FITXER\n"
            "DIR: arrel de la instal\xc2\xb7laci\xc3\xb3; si no, ZEPROOT; si no, la carpeta actual\n"
            "DATES: --from DATA, --to DATA (data de la factura)\n"
            "       --generated-from DATA, --generated-to DATA (generaci\xc3\xb3 del registre)\n"
            "DATA: DD-MM-AAAA, DD/MM/AAAA o AAAA-MM-DD\n"
            "REF: requeriment de l'Ag\xc3\xa8ncia Tribut\xc3\xa0ria (d'1 a 18 lletres o xifres)\n"
            "NUM: n\xc3\xbamero de factura com s'imprimeix (R/00000005, A/7) o el n\xc3\xbamero sol\n"
            "--output: un fitxer .pdf o .txt; si no, la sortida de la sessi\xc3\xb3 (ZEPTMP) o S\xc3\x88RIE-N\xc3\x9aMERO.pdf\n");
  EXPECT_EQ(err_, "");
  struct UsageCase {
    const char* code;
    const char* head;
  };
  const UsageCase languages[] = {{"CAT", "\xc3\x9as: zepfact [--root DIR] [--lang CAT|SPA|GLG|OCI] ORDRE\n"},
                                 {"SPA", "Uso: zepfact [--root DIR] [--lang CAT|SPA|GLG|OCI] ORDEN\n"},
                                 {"GLG", "Uso: zepfact [--root DIR] [--lang CAT|SPA|GLG|OCI] ORDE\n"},
                                 {"OCI", "Usatge: zepfact [--root DIR] [--lang CAT|SPA|GLG|OCI] COMANDA\n"}};
  ForEachRow(languages, [&](const UsageCase& c) {
    SCOPED_TRACE(c.code);
    root_.Write("term/TarnTerm.ini", std::string("[Sistema]\r\nIdioma=") + c.code + "\r\n");
    EXPECT_EQ(Run("send --retry 0 --help", "ZEPTMP=" + root_.Dir() + "term/"), 0) << err_;
    EXPECT_EQ(out_.rfind(c.head, 0), 0u) << out_;
    for (const char* form : {"\n  list ", "\n  export-csv ", "\n  export-totals ", "\n  export-xml ", "\n  verify ",
                             "\n  events ", "\n  reprint NUM ", "\n  reprint --run ", "\n  cancel ", "\n  correct ",
                             "\n  declaration\n", "\n  mail ", "\n  send ", "\n  resend ",
                             "\n  remittance [", "\n  remittance returns "})
      EXPECT_EQ(Count(out_, form), 1u) << form << out_;
    // No other command line: the notes' continuation lines are indented further.
    EXPECT_EQ(Count(out_, "\n  ") - Count(out_, "\n   "), 17u) << out_;
  });

  // The exports: the CSV's rows for the dates, the totals on their own,
  // the XML valid for the agency, also as the answer to a request.
  ASSERT_EQ(Run("export-csv --from 01-04-2027 q2.csv"), 0) << err_;
  EXPECT_EQ(out_, "Factures escrites a q2.csv: 2\n");
  const std::string csv = ReadAll(root_.Dir() + "q2.csv");
  EXPECT_EQ(Count(csv, "\r\nA,4,01-04-2027,"), 1u);
  EXPECT_EQ(Count(csv, "\r\nA,5,02-04-2027,"), 1u);
  EXPECT_EQ(Count(csv, "\r\n"), 1 + 2);
  ASSERT_EQ(Run("export-totals --generated-from 20-04-2027 totals.csv"), 0) << err_;
  EXPECT_EQ(out_, "Fitxer de totals escrit: totals.csv (factures: 5)\n");
  EXPECT_EQ(ReadAll(root_.Dir() + "totals.csv"),
            "series,quarter,invoices,base,vat,withholding,total\r\n"
            "A,2027-1T,2,150.50,31.60,0.00,182.10\r\n"
            "A,2027-2T,2,150.00,31.50,0.00,181.50\r\n"
            "R,2027-1T,1,200.00,42.00,30.00,212.00\r\n");
  EXPECT_EQ(Run("export-xml --from 01-01-2028 none.xml"), 0);
  ASSERT_EQ(Run("export-xml all.xml"), 0) << err_;
  EXPECT_EQ(out_, "Factures escrites a all.xml: 5\n");
  EXPECT_EQ(SchemaProblems(root_.Dir() + "all.xml"), "") << ReadAll(root_.Dir() + "all.xml");
  ASSERT_EQ(Run("export-xml --requerimiento REQ2027 --from 01-04-2027 req.xml"), 0) << err_;
  const std::string answer = ReadAll(root_.Dir() + "req.xml");
  EXPECT_EQ(Count(answer, "<sf:RefRequerimiento>REQ2027</sf:RefRequerimiento>"), 1u);
  EXPECT_EQ(SchemaProblems(root_.Dir() + "req.xml"), "") << answer;

  // Nothing else was written: no file for an empty export, no temporary
  // file left behind.
  std::vector<std::string> names;
  for (const auto& file : fs::directory_iterator(root_.Dir())) names.push_back(file.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"DADES", "Productor.ini", "Tarn.ini", "all.xml", "err.txt", "out.txt",
                                             "q2.csv", "req.xml", "term", "totals.csv"}));
}

// Every export against what may already stand at its target: a file keeps
// its permissions, a link to a file is written through and stays a link, a
// link to a device, a pipe and a folder are refused and left as they were,
// and "-" is standard output, with the count on the error stream.
TEST_F(ZepfactProgram, ExportTargets) {
  enum class Kind { File0600, LinkToFile, LinkToDevice, Pipe, Folder, Dash };
  struct Target {
    const char* name;
    Kind kind;
    int exitCode;
  };
  const Target targets[] = {
      {"a file of mode 0600", Kind::File0600, 0}, {"a link to a file", Kind::LinkToFile, 0},
      {"a link to /dev/null", Kind::LinkToDevice, 1}, {"a pipe", Kind::Pipe, 1},
      {"a folder", Kind::Folder, 1}, {"standard output", Kind::Dash, 0},
  };
  struct Command {
    const char* command;
    const char* start;  // of what the export writes
  };
  const Command commands[] = {
      {"export-csv", "series,number,"}, {"export-totals", "series,quarter,"}, {"export-xml", "<?xml"}};
  int n = 0;
  for (const Command& command : commands) {
    ForEachRow(targets, [&](const Target& t) {
      SCOPED_TRACE(command.command);
      const std::string name = "t" + std::to_string(++n);
      const std::string path = root_.Dir() + name;
      const std::string named = path + ".named";
      switch (t.kind) {
        case Kind::File0600:
          root_.Write(name, "old");
          ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
          break;
        case Kind::LinkToFile:
          root_.Write(name + ".named", "old");
          fs::create_symlink(named, path);
          break;
        case Kind::LinkToDevice: fs::create_symlink("/dev/null", path); break;
        case Kind::Pipe: ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); break;
        case Kind::Folder: fs::create_directory(path); break;
        case Kind::Dash: break;
      }
      EXPECT_EQ(Run(std::string(command.command) + " " + (t.kind == Kind::Dash ? "-" : name)), t.exitCode) << err_;
      const auto status = fs::symlink_status(path);
      switch (t.kind) {
        case Kind::File0600:
          EXPECT_EQ(ReadAll(path).rfind(command.start, 0), 0u);
          EXPECT_EQ(status.permissions(), fs::perms::owner_read | fs::perms::owner_write);
          break;
        case Kind::LinkToFile:
          EXPECT_EQ(status.type(), fs::file_type::symlink);
          EXPECT_EQ(ReadAll(named).rfind(command.start, 0), 0u);
          break;
        case Kind::LinkToDevice:
          EXPECT_EQ(fs::read_symlink(path), "/dev/null");
          break;
        case Kind::Pipe: EXPECT_EQ(status.type(), fs::file_type::fifo); break;
        case Kind::Folder: EXPECT_EQ(status.type(), fs::file_type::directory); break;
        case Kind::Dash:
          EXPECT_EQ(out_.rfind(command.start, 0), 0u) << out_;
          EXPECT_NE(err_.find("escri"), std::string::npos) << err_;
          break;
      }
      if (t.exitCode != 0) {
        EXPECT_NE(err_.find("no \xc3\xa9s un fitxer normal"), std::string::npos) << err_;
      }
    });
  }
  // Nothing of the refused writes stayed behind.
  for (const auto& file : fs::directory_iterator(root_.Dir())) {
    EXPECT_NE(file.path().filename().string()[0], '.') << file.path();
  }
}

// The producer's declaration and the XML export both stand on Productor.ini;
// without a usable one neither goes on, and no file is written.
TEST_F(ZepfactProgram, DeclarationAndExportNameTheProducer) {
  ASSERT_EQ(Run("declaration"), 0) << err_;
  EXPECT_EQ(out_.rfind("DECLARACI\xc3\x93N RESPONSABLE DEL SISTEMA INFORM\xc3\x81TICO DE FACTURACI\xc3\x93N\n", 0), 0u)
      << out_;
  EXPECT_NE(out_.find("NIF de la entidad productora: B65432106\n"), std::string::npos) << out_;
  // Every program and library the system is made of, and what it does
  // besides issuing: sending, signatures, the event log, e-mail.
  for (const char* part : {"korvadel ", "zepfact ", "zepprint ", "zepmenu ", "brovex ", "recman ", "nettle", "SQLite",
                           "OpenSSL", "libxml2", "libxmlsec1", "libcurl", "libqrencode", "cairo", "Pango", "librsvg",
                           "ncursesw", "remisi\xc3\xb3n de los registros", "firma XAdES", "registro de\n     eventos",
                           "correo electr\xc3\xb3nico"})
    EXPECT_NE(out_.find(part), std::string::npos) << part;
  ASSERT_EQ(Run("export-xml all.xml"), 0) << err_;
  const std::string xml = ReadAll(root_.Dir() + "all.xml");
  EXPECT_EQ(Count(xml, "<sf:NIF>B65432106</sf:NIF>"), 5u);
  const std::string kept = ReadAll(root_.Dir() + "DADES/Instalacio.id");
  ASSERT_EQ(kept.size(), 18u);
  EXPECT_EQ(Count(xml, "<sf:NumeroInstalacion>" + kept.substr(0, 16) + "</sf:NumeroInstalacion>"), 5u);

  struct Case {
    const char* name;
    std::string from, to;  // in Productor.ini; from empty: the file removed
    std::string error;
  };
  const Case cases[] = {
      {"no Productor.ini", "", "", "Falta el fitxer d'identitat del programa " + root_.Dir() + "Productor.ini"},
      {"a producer's NIF that fails its check", "NIF=B65432106", "NIF=B65432107",
       "Productor.ini [Productor] NIF no \xc3\xa9s un NIF v\xc3\xa0lid"},
      {"a system id of three", "Id=KV", "Id=KVX", "El valor de Productor.ini [Sistema] Id \xc3\xa9s massa llarg"},
  };
  const std::string installed = ReadAll(kProducerFile);
  ForEachRow(cases, [&](const Case& c) {
    std::string text = installed;
    if (c.from.empty()) fs::remove(root_.Dir() + SoftwareFileName);
    else root_.Write(SoftwareFileName, text.replace(text.find(c.from), c.from.size(), c.to));
    for (const char* command : {"declaration", "export-xml none.xml"}) {
      EXPECT_EQ(Run(command), 1) << command;
      EXPECT_NE(err_.find(c.error), std::string::npos) << command << ": " << err_;
    }
    EXPECT_FALSE(fs::exists(root_.Dir() + "none.xml"));
  });
}

// reprint hands the print program the invoice's page out of its run's
// archived spool file, with its code as page 1 and the session's stationery,
// to be printed where this reprint says, never where the archived run went.
TEST_F(ZepfactProgram, ReprintHandsOneArchivedPageToThePrintProgram) {
  {
    InvoiceRegister reg;
    ASSERT_EQ(reg.Open(CurrentRegisterPath(), kDictionary, false), 0);
    std::vector<RegisterEntry> entries = {Invoice("A", 6, "20270501", 1000), Invoice("A", 7, "20270501", 2000)};
    for (int i = 0; i < 2; ++i) {
      entries[i].archive = "F00000006-2705011000.zsp";
      entries[i].page = i + 1;
    }
    RegisterRefusal refusal;
    ASSERT_EQ(reg.Append(entries, [] { return std::string("2027-05-01T10:00:00+02:00"); }, refusal), 0);
  }
  root_.Write("ARXIU/F00000006-2705011000.zsp",
              "DEVICE/elsewhere/factures.pdf\r\nPAGE 24 \r\n 17 ,A/00000006, 0 \r\nPAGE 24 \r\n 17 ,A/00000007, 0 \r\n");
  root_.Write("ARXIU/F00000006-2705011000.qr", "1\thttps://x/6\n2\thttps://x/7\n");
  root_.Write("ARXIU/F00000006-2705011000.fig", "1\tNumero\tA/00000006\n2\tNumero\tA/00000007\n2\tTotal\t7,00 EUR\n");
  root_.Write("IMPRES/FACTHON.svg", "<svg/>");
  root_.Write("printer/TarnTerm.ini", "[Sistema]\r\nSortida=\"LP:oficina\"\r\n");
  root_.Write("pdf/TarnTerm.ini", "[Sistema]\r\nSortida=PDF\r\n");
  root_.Write("tmp/.keep", "");
  const std::string exe = root_.Write("exe/ZEPPRINT",
                                      "#!/bin/sh\ncp \"${ZEPTMP}zepprint.tmp\" \"${ZEPTMP}zepprint.qr\" \"${ZEPTMP}zepprint.fig\" " +
                                          root_.Dir() +
                                          "\necho \"$ZEPPAPER\" > " + root_.Dir() + "paper\nexit 3\n");
  fs::permissions(exe, fs::perms::owner_all);
  const std::string standIn = "TMPDIR=" + root_.Dir() + "tmp ZEPEXE=" + root_.Dir() + "exe/ ";
  struct Case {
    const char* name;
    std::string args, environment;
    std::string device;  // the DEVICE line the print program gets
    // What follows it: one invoice is a copy, and says so; a whole run
    // that never printed is printed as it was.
    std::string pages = "PAGE 24 \r\n 0 ,, 1 \r\n 40 ,*** DUPLICAT ***,-1 \r\n 17 ,A/00000007, 0 \r\n";
    std::string codes = "1\thttps://x/7\n";
    std::string figures = "1\tNumero\tA/00000007\n1\tTotal\t7,00 EUR\n";
  };
  const std::string run = "PAGE 24 \r\n 17 ,A/00000006, 0 \r\nPAGE 24 \r\n 17 ,A/00000007, 0 \r\n";
  const std::string runCodes = "1\thttps://x/6\n2\thttps://x/7\n";
  const std::string runFigures = "1\tNumero\tA/00000006\n2\tNumero\tA/00000007\n2\tTotal\t7,00 EUR\n";
  const Case cases[] = {
      // A run whose printing failed after it was registered: every page again.
      {"a whole run from its archive", "reprint --run F00000006-2705011000", "",
       root_.Dir() + "F00000006-2705011000.pdf", run, runCodes, runFigures},
      {"a whole run named by its path, into the file given",
       "reprint --run ARXIU/F00000006-2705011000.zsp --output run.pdf", "", root_.Dir() + "run.pdf", run, runCodes,
       runFigures},
      {"the number alone, outside a session: a PDF named after it here", "reprint 7", "",
       root_.Dir() + "A-00000007.pdf"},
      {"as printed, into the file given", "reprint A/00000007 --output sub/../copy.txt", "", root_.Dir() + "copy.txt"},
      {"the series and the number alone, the session's printer", "reprint A/7", "ZEPTMP=" + root_.Dir() + "printer/",
       "LP:oficina"},
      {"the session's own PDF folder is not the reprint's", "reprint 7", "ZEPTMP=" + root_.Dir() + "pdf/",
       root_.Dir() + "A-00000007.pdf"},
  };
  ForEachRow(cases, [&](const Case& c) {
    EXPECT_EQ(Run(c.args, standIn + c.environment), 3) << err_;
    EXPECT_EQ(ReadAll(root_.Dir() + "zepprint.tmp"), "DEVICE" + c.device + "\r\n" + c.pages);
    EXPECT_EQ(ReadAll(root_.Dir() + "zepprint.qr"), c.codes);
    EXPECT_EQ(ReadAll(root_.Dir() + "zepprint.fig"), c.figures);
    EXPECT_EQ(ReadAll(root_.Dir() + "paper"), root_.Dir() + "IMPRES/FACTHON.svg\n");
    // The print program's folder goes once it has ended.
    EXPECT_EQ(std::distance(fs::directory_iterator(root_.Dir() + "tmp"), fs::directory_iterator()), 1);
  });
  EXPECT_EQ(Run("reprint --run F00000099-2705011000"), 1) << "no run of the register";
  EXPECT_EQ(Run("reprint 7 --run F00000006-2705011000"), 2) << "a number or a run, not both";
  EXPECT_EQ(Run("reprint 7", "ZEPEXE=" + root_.Dir() + "nowhere/"), 1);
  EXPECT_NE(err_.find("No es pot executar el programa d'impressi\xc3\xb3"), std::string::npos) << err_;

  // The real print program puts the one page into the file given.
  ASSERT_EQ(Run("reprint A/00000007 --output copy.txt", "ZEPEXE=" ZEPPRINT_DIR), 0) << err_;
  // Text has no picture of the tax code: the page carries its address.
  EXPECT_EQ(out_, "1 p\xc3\xa0gina escrita a " + root_.Dir() +
                      "copy.txt (1 factura en text sense el codi QR impr\xc3\xa8s, n'hi ha l'adre\xc3\xa7" "a)\n");
  const std::string printed = ReadAll(root_.Dir() + "copy.txt");
  EXPECT_EQ(printed.rfind("QR tributario: https://x/7\n\n", 0), 0u) << printed;
  EXPECT_NE(printed.find("A/00000007"), std::string::npos) << printed;
  EXPECT_EQ(printed.find("A/00000006"), std::string::npos) << printed;
}

// A page of invoice A/00000004 as the module's run archives it.
const char kArchivedPage[] =
    "DEVICE/elsewhere/factures.pdf\r\nPAGE 24 \r\n*@e\r\n 9 ,FACTURA, 0 \r\n 17 ,A/00000004, 0 \r\n"
    " 32 ,GIRONA, 0 \r\nJUSD\r\n 67 ,*****84,70 EUR, 0 \r\n 91 ,FINCA, 1 \r\n 92 ,003V, 1 \r\n"
    " 17 ,1 D'ABRIL DEL 2027, 3 \r\n 22 ,HONORARIS ADMINISTRACI\xe0, 0 \r\nJUSD\r\n 66 ,         70,00 , 1 \r\n"
    " 22 ,IVA 21,00 % s/70,00 , 0 \r\n 66 ,         14,70 , 1 \r\n 0 ,, 4 \r\n 17 ,CAL PEP, 2 \r\n"
    "JUSD\r\n 32 ,N.I.F. ES40312876V, 1 \r\n 17 ,MONTSERRAT PUIG SERRAT, 1 \r\n";

// correct and cancel write a record (and the corrective's page) or nothing;
// every kind of record then chains, lists, exports and verifies; a reprint
// is marked as a copy.
TEST_F(ZepfactProgram, CorrectsCancelsAndCopies) {
  root_.Write("ARXIU/F00000004-270401100000.zsp", kArchivedPage);
  root_.Write("ARXIU/F00000004-270401100000.qr", "1\thttps://x/4\n");
  // Its figures as the run wrote them, and the installed stationery.
  root_.Write("ARXIU/F00000004-270401100000.fig",
              "1\tNumero\tA/00000004\n1\tData\t1 d'abril de 2027\n1\tVenciment\t1 de maig de 2027\n"
              "1\tPeriode\tgener - mar\xc3\xa7 2027\n1\tBase\t70,00\n1\tTipusIva\t21,00 %\n1\tIva\t14,70\n"
              "1\tTotal\t84,70 EUR\n1\tIdioma\tCAT\n");
  fs::copy(std::string(KORVADEL_SOURCE_DIR) + "/install/IMPRES", root_.Dir() + "IMPRES");
  root_.Write("Tarn.ini", ReadAll(root_.Dir() + "Tarn.ini") + "Venciment=30\r\n");
  {
    // A register of this version alone, made in the past (a record may not
    // come after one made later than now): two invoices, the first
    // archived by its run.
    fs::remove(RegisterPath());
    InvoiceRegister reg;
    ASSERT_EQ(reg.Open(CurrentRegisterPath(), kDictionary, false), 0);
    std::vector<RegisterEntry> entries = {Invoice("B", 1, "20261101", 7000), Invoice("B", 2, "20261102", 8000)};
    entries[0].archive = "F00000004-270401100000.zsp";
    entries[0].page = 1;
    RegisterRefusal refusal;
    ASSERT_EQ(reg.Append(entries, [] { return std::string("2026-11-02T10:00:00+01:00"); }, refusal), 0);
  }
  // A side file of the register that does not read as one is named by
  // verify, which changes nothing: the run's receipts file, the journals of
  // a settling and a give-back left unfinished.
  struct SideDamage {
    const char* name;
    const char* file;
    std::function<void(const std::string&)> make;
  };
  const SideDamage sideDamages[] = {
      {"a receipts file that is a folder", "ARXIU/F00000004-270401100000.rcb",
       [](const std::string& f) { fs::create_directories(f); }},
      {"a settling journal altered", "DADES/Liquida-F00000004-270401100000.zsp.jnl",
       [](const std::string& f) { std::ofstream(f) << "KORVADEL LIQUIDACIO 1\nF00000004-270401100000.zsp\n1,x\n"; }},
      {"a give-back journal that is a link", "DADES/Retorn-F00000004-270401100000.zsp.jnl",
       [](const std::string& f) { fs::create_symlink("/dev/zero", f); }},
  };
  ASSERT_EQ(Run("verify"), 0) << out_;
  ForEachRow(sideDamages, [&](const SideDamage& c) {
    c.make(root_.Dir() + c.file);
    EXPECT_EQ(Run("verify"), 1);
    EXPECT_NE(out_.find("El fitxer " + root_.Dir() + c.file + " no es pot llegir o ha estat alterat\n"), std::string::npos)
        << out_;
    EXPECT_TRUE(fs::exists(fs::symlink_status(root_.Dir() + c.file)));
    fs::remove_all(root_.Dir() + c.file);
  });
  const std::string print = "ZEPEXE=" ZEPPRINT_DIR " TMPDIR=" + root_.Dir() + " ";
  struct Step {
    const char* name;
    std::string args;
    int exitCode;
    std::string said;  // on stdout when exitCode is 0, else on stderr
  };
  // A text page carries the code's address instead of its picture, and says so.
  const std::string kTextNote = " (1 factura en text sense el codi QR impr\xc3\xa8s, n'hi ha l'adre\xc3\xa7" "a)\n";
  const Step steps[] = {
      {"a cause outside R1-R4", "correct B/1 --type R5 --by I --fee 80", 1, "Causa no v\xc3\xa0lida: R5"},
      {"a form neither S nor I", "correct B/1 --cause R1 --by X --fee 80", 1, "Forma no v\xc3\xa0lida: X"},
      {"an amount that does not parse", "correct B/1 --cause R1 --by I --fee 1.234,5", 1,
       "Import no v\xc3\xa0lid: 1.234,5"},
      {"a negative amount", "correct B/1 --cause R1 --by I --fee -5", 1, "Import no v\xc3\xa0lid: -5"},
      {"no fee", "correct B/1 --cause R1 --by I", 2, "Falta el valor de --fee"},
      {"an unknown number", "correct B/9 --cause R1 --by I --fee 80", 1, "La factura B/9 no \xc3\xa9s al registre"},
      {"amounts that change nothing", "correct B/1 --cause R1 --by S --fee 70", 1,
       "Els imports no canvien la factura B/00000001"},
      {"a described cause longer than the record takes", "correct B/1 --type R1 --by I --fee 80 --cause " +
       std::string(501, 'x'), 1, "La causa de --cause passa de 500 car\xc3\xa0" "cters"},
      {"by differences, the cause described", "correct B/1 --type R1 --by I --fee 80 --output rect.txt --cause "
       "'Honoraris calculats sobre una base cobrada que no incloia el rebut de mar\xc3\xa7'", 0,
       "Factura rectificativa RE/00000001 registrada\n1 p\xc3\xa0gina escrita a " + root_.Dir() + "rect.txt" + kTextNote},
      {"the corrected amounts again", "correct B/1 --cause R4 --by S --fee 80,00", 1,
       "Els imports no canvien la factura B/00000001"},
      {"by substitution", "correct B/00000001 --cause R2 --by S --fee 75 --expenses 5.5 --output subs.txt", 0,
       "Factura rectificativa RE/00000002 registrada\n1 p\xc3\xa0gina escrita a " + root_.Dir() + "subs.txt" + kTextNote},
      {"cancelling an invoice a corrective names", "cancel B/1", 1,
       "La factura B/00000001 t\xc3\xa9 factures rectificatives"},
      {"cancelling", "cancel B/2", 0, "Factura B/00000002 anul\xc2\xb7lada; rebuts tornats a pendents de facturar: 0\n"},
      {"cancelling twice", "cancel B/2", 1, "La factura B/00000002 ja est\xc3\xa0 anul\xc2\xb7lada"},
      {"correcting a cancelled invoice", "correct B/2 --cause R1 --by I --fee 1", 1,
       "La factura B/00000002 ja est\xc3\xa0 anul\xc2\xb7lada"},
      {"a cancellation's own number is no invoice's", "cancel 5", 1, "La factura 5 no \xc3\xa9s al registre"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    const auto archived = std::distance(fs::directory_iterator(root_.Dir() + "ARXIU"), fs::directory_iterator());
    ASSERT_EQ(Run(step.args, print), step.exitCode) << err_;
    if (step.exitCode == 0) {
      EXPECT_EQ(out_, step.said);
    } else {
      EXPECT_NE(err_.find(step.said), std::string::npos) << err_;
      EXPECT_EQ(out_, "");
      // Nothing archived for a refused correction.
      EXPECT_EQ(std::distance(fs::directory_iterator(root_.Dir() + "ARXIU"), fs::directory_iterator()), archived);
    }
  }

  // The corrective's pages: its number, title, the invoice it corrects and
  // the cause on the corrected invoice's page; by differences only the change.
  // Original, corrected and difference side by side, the corrective's own
  // in the last column; dates as the invoice writes them.
  const std::string differences = ReadAll(root_.Dir() + "rect.txt");
  for (const char* part : {"RE/00000001", "FACTURA RECTIFICATIVA (per difer\xc3\xa8ncies)",
                           "Original    Rectificat", "Rectifica la factura B/00000001",
                           "emesa el 1 DE NOVEMBRE DEL 2026",
                           "Causa R1: error fonamentat en dret (art. 80.1, 80.2 i 80.6 LIVA). Honoraris calculats",
                           "Base imposable         70,00         80,00          10,00",
                           "IVA 21,00 %            14,70         16,80           2,10",
                           "Total                  84,70         96,80          12,10", "*****12,10 EUR", "CAL PEP",
                           "MONTSERRAT PUIG SERRAT"})
    EXPECT_NE(differences.find(part), std::string::npos) << part << "\n" << differences;
  EXPECT_EQ(differences.find("A/00000004"), std::string::npos) << differences;
  EXPECT_EQ(differences.find("/2026"), std::string::npos) << "one style of date: " << differences;
  const std::string substitution = ReadAll(root_.Dir() + "subs.txt");
  for (const char* part : {"RE/00000002", "(per substituci\xc3\xb3)", "Original    Difer\xc3\xa8ncia",
                           "Base imposable         80,00          0,50          80,50",
                           "IVA 21,00 %            16,80          0,10          16,90", "*****97,40 EUR", "Causa R2"})
    EXPECT_NE(substitution.find(part), std::string::npos) << part << "\n" << substitution;

  // The chain holds the five records: two invoices, two correctives and a
  // cancellation, each hashed by the agency's rules.
  ASSERT_EQ(Run("verify"), 0) << out_;
  EXPECT_EQ(out_, "Cadena correcta, registres verificats: 5\n");
  ASSERT_EQ(Run("list"), 0) << err_;
  EXPECT_NE(out_.find("B/00000001    01-11-2026 ES40312876V Montserrat Puig Serrat               84.70 rectificada "
                      "per RE/00000002 (2)\n"),
            std::string::npos)
      << out_;
  EXPECT_NE(out_.find("96.80 anul\xc2\xb7lada\n"), std::string::npos) << out_;
  EXPECT_NE(out_.find("RE/00000001"), std::string::npos) << out_;
  EXPECT_NE(out_.find("12.10 emesa\n"), std::string::npos) << out_;

  ASSERT_EQ(Run("export-xml all.xml"), 0) << err_;
  const std::string xml = ReadAll(root_.Dir() + "all.xml");
  EXPECT_EQ(SchemaProblems(root_.Dir() + "all.xml"), "") << xml;
  EXPECT_EQ(Count(xml, "<sf:RegistroAnulacion "), 1u);
  EXPECT_EQ(Count(xml, "<sf:TipoRectificativa>I</sf:TipoRectificativa>"), 1u);
  // The described cause is the record's description of the operation.
  EXPECT_EQ(Count(xml, "<sf:DescripcionOperacion>Honoraris calculats sobre una base cobrada que no incloia el rebut "
                       "de mar\xc3\xa7</sf:DescripcionOperacion>"),
            1u);
  EXPECT_EQ(Count(xml, "<sf:ImporteRectificacion>\n    <sf:BaseRectificada>80.00</sf:BaseRectificada>"), 1u) << xml;
  ASSERT_EQ(Run("export-csv all.csv"), 0) << err_;
  const std::vector<std::vector<std::string>> rows = CsvCells(ReadAll(root_.Dir() + "all.csv"));
  std::vector<std::string> kinds;
  for (size_t i = 1; i < rows.size(); ++i) kinds.push_back(rows[i][0] + rows[i][1] + " " + rows[i][11] + " " +
                                                           rows[i][15] + rows[i][16] + " " + rows[i][17]);
  EXPECT_EQ(kinds, (std::vector<std::string>{"B1 84.70 F1 ", "B2 96.80 F1 ", "B2  cancellation ",
                                             "RE1 12.10 R1I B/00000001", "RE2 97.40 R2S B/00000001"}));

  // The totals leave the cancelled invoice out, and count of the
  // substitution only what it changed.
  ASSERT_EQ(Run("export-totals totals.csv"), 0) << err_;
  const std::string totals = ReadAll(root_.Dir() + "totals.csv");
  EXPECT_NE(totals.find("\r\nB,2026-4T,1,70.00,14.70,0.00,84.70\r\nRE,"), std::string::npos) << totals;
  // The correctives are dated today, whichever quarter that is.
  EXPECT_NE(totals.find("T,2,10.50,2.20,0.00,12.70\r\n"), std::string::npos) << totals;
  EXPECT_EQ(Count(totals, "\r\n"), 3u) << totals;

  // A copy says it is one, in the session's language, on the rendered page,
  // with its own figures; a corrective's PDF with its own, the corrected
  // invoice's period, and its own due date.
  ASSERT_EQ(Run("reprint B/1 --output copia.pdf", print), 0) << err_;
  const std::string text = Shell("pdftotext -layout '" + root_.Dir() + "copia.pdf' -");
  for (const char* part : {"DUPLICAT", "Per\xc3\xadode: gener - mar\xc3\xa7 2027", "Base imposable", "70,00",
                           "84,70 EUR", "Venciment: 1 de maig de 2027"})
    EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
  ASSERT_EQ(Run("reprint RE/1 --output rect.pdf", print), 0) << err_;
  const std::string corrective = Shell("pdftotext -layout '" + root_.Dir() + "rect.pdf' -");
  for (const char* part : {"Per\xc3\xadode: gener - mar\xc3\xa7 2027", "Total a pagar", "12,10 EUR", "Venciment: "})
    EXPECT_NE(corrective.find(part), std::string::npos) << part << "\n" << corrective;
  EXPECT_EQ(corrective.find("84,70 EUR"), std::string::npos) << corrective;
  EXPECT_EQ(corrective.find("1 de maig de 2027"), std::string::npos) << corrective;
  root_.Write("term/TarnTerm.ini", "[Sistema]\r\nIdioma=SPA\r\n");
  ASSERT_EQ(Run("reprint RE/1 --output copia.txt", print + "ZEPTMP=" + root_.Dir() + "term/"), 0) << err_;
  const std::string copy = ReadAll(root_.Dir() + "copia.txt");
  EXPECT_NE(copy.find("*** DUPLICADO ***"), std::string::npos) << copy;

  // The records name the issuer whole, as the module's runs do.
  EXPECT_EQ(Count(xml, "<sf:NombreRazonEmisor>Jordi Vilar\xc3\xb3 i Puigdevall, Administrador de Finques "
                       "Col\xc2\xb7legiat</sf:NombreRazonEmisor>"),
            4u)
      << xml;
  // In the sending mode a corrective's code is the agency's check of a
  // record sent to it, and its page says VERI*FACTU. Its record goes as it
  // is made: the sender starts, and here finds no certificate to send with.
  root_.Write("Tarn.ini", ReadAll(root_.Dir() + "Tarn.ini") + "[VeriFactu]\r\nMode=envia\r\n");
  ASSERT_EQ(Run("correct B/1 --cause R1 --by I --fee 90 --output sent.pdf", print), 0) << err_;
  EXPECT_EQ(detached_, std::vector<int>{1});
  EXPECT_NE(ReadAll(root_.Dir() + "DADES/EnviFact.log").find("Certificat"), std::string::npos)
      << ReadAll(root_.Dir() + "DADES/EnviFact.log");
  std::string codes;
  for (const auto& entry : fs::directory_iterator(root_.Dir() + "ARXIU"))
    if (entry.path().filename().string().rfind("R00000003-", 0) == 0 && entry.path().extension() == ".qr")
      codes = ReadAll(entry.path().string());
  EXPECT_NE(codes.find("/wlpl/TIKE-CONT/ValidarQR?nif=12345678Z&numserie=RE%2F00000003"), std::string::npos) << codes;
  EXPECT_NE(Shell("pdftotext -layout '" + root_.Dir() + "sent.pdf' -").find("VERI*FACTU"), std::string::npos);
}

TEST_F(ZepfactProgram, BrokenChainIsNamedAndTheRestStillWorks) {
  Tamper(3);
  EXPECT_EQ(Run("verify A/4"), 0) << out_;
  EXPECT_EQ(out_, "Cadena correcta, registres verificats: 1\n");
  EXPECT_EQ(Run("verify 3"), 1);
  EXPECT_EQ(out_, "Cadena trencada al registre A/00000003 (seq\xc3\xbc\xc3\xa8ncia 3): no quadra amb el que es va "
                  "registrar\n");
  EXPECT_EQ(Run("verify A/9"), 1);
  EXPECT_EQ(Run("verify"), 1);
  EXPECT_EQ(out_, "Cadena trencada al registre A/00000003 (seq\xc3\xbc\xc3\xa8ncia 3): no quadra amb el que es va "
                  "registrar\n");
  EXPECT_EQ(Run("list"), 0) << err_;
  EXPECT_EQ(Count(out_, "\n"), 1 + 5 + 1u);
  EXPECT_EQ(Run("export-csv all.csv"), 0) << err_;
  EXPECT_EQ(Run("list", "", "/dev/full"), 1);
  EXPECT_NE(err_.find("No es pot escriure stdout"), std::string::npos) << err_;

  // A register lost where its anchor or archived runs say there was one is
  // told, even beside a first layout's file.
  root_.Write("ARXIU/RegFact2.ancora", "korvadel register anchor 1\n99\nX\nY\n");
  EXPECT_EQ(Run("verify"), 1);
  EXPECT_NE(out_.find("Falta el registre de factures " + root_.Dir() + "DADES/RegFact2.dat"), std::string::npos)
      << out_;
  fs::remove(root_.Dir() + "ARXIU/RegFact2.ancora");
  root_.Write("lost/ARXIU/F00000001-270101100000.zsp", "spool");
  EXPECT_EQ(Run("verify", "ZEPROOT=" + root_.Dir() + "lost/"), 1);
  EXPECT_NE(out_.find("Falta el registre de factures " + root_.Dir() + "lost/DADES/RegFact2.dat"), std::string::npos)
      << out_;

  // No register: the message names the root looked in, made absolute.
  EXPECT_EQ(Run("verify", "ZEPROOT=" + root_.Dir() + "nowhere/"), 1);
  EXPECT_NE(err_.find("Encara no hi ha registre de factures a l'arrel " + root_.Dir() + "nowhere/ "), std::string::npos)
      << err_;
  EXPECT_EQ(Run("list --root term/../elsewhere"), 1);
  EXPECT_NE(err_.find("a l'arrel " + root_.Dir() + "elsewhere/ "), std::string::npos) << err_;
  root_.Write("DADES/RegFactV.dat", std::string(4096, 'x'));
  EXPECT_EQ(Run("list"), 1);
  EXPECT_NE(err_.find("No es pot obrir el registre de factures"), std::string::npos) << err_;
}

// The not-sending mode: two records signed after its start (made now: the
// fixture's records lie in the future), the event log beside them; a
// correction and a cancellation signed by zepfact itself.
TEST_F(ZepfactProgram, NotSendingModeChecksSignaturesAndEvents) {
  ASSERT_TRUE(TestCertificates::Get().Ok());
  fs::remove(RegisterPath());
  root_.Write("ARXIU/F00000001-261203100000.zsp", kArchivedPage);
  fs::create_directories(root_.Dir() + "cert");
  ASSERT_TRUE(TestCertificates::Get().CopyTo(root_.Dir() + "cert"));
  root_.Write("Tarn.ini",
              "[Usuari]\r\nIdioma=CAT\r\n[Emissor]\r\nNom=Jordi Vilar\xa2 i Puigdevall\r\nNIF= ES 12345678Z\r\n"
              "[Registre]\r\nActiu=S\r\n[VeriFactu]\r\nMode=conserva\r\nCertificat=cert/other.p12\r\n"
              "ClauCertificat=cert/pw\r\nCAFirma=cert/ca.pem\r\n");
  {
    SigningKey key;
    ASSERT_EQ(key.Load(LoadVeriFactuSettings(root_.Dir()), "12345678Z", std::time(nullptr)), CertificateProblem::None);
    EventIdentity identity;
    std::string field;
    ASSERT_EQ(LoadSoftwareIdentity(root_.Dir(), identity.software, field), SoftwareProblem::None);
    ASSERT_EQ(InstallationNumber(root_.Dir(), identity.installation), 0);
    identity.issuerNif = "12345678Z";
    identity.issuerName = "Jordi";
    InvoiceRegister reg;
    ASSERT_EQ(reg.Open(CurrentRegisterPath(), kDictionary, false), 0);
    KeptFile signedFile;
    EventLog log;
    ASSERT_EQ(signedFile.Open(root_.Dir() + "DADES/RegSigna", false), 0);
    ASSERT_EQ(log.Open(root_.Dir(), false), 0);
    ASSERT_EQ(log.Append(EventType::ModeStart, "", 0, "", identity, key, GenerationTimeNow), 0);
    std::vector<RegisterEntry> entries = {Invoice("A", 1, "20261203", 9000), Invoice("A", 2, "20261204", 9100)};
    entries[0].archive = "F00000001-261203100000.zsp";
    entries[0].page = 1;
    RegisterRefusal refusal;
    std::string error;
    ASSERT_EQ(reg.Append(
                  entries, GenerationTimeNow, refusal, {},
                  [&](const RegisterEntry& e, const RegisterEntry* previous) {
                    return RegistroAltaXml(e, previous, "Jordi", identity.software, identity.installation);
                  },
                  {},
                  [&](const std::vector<RegisterEntry>& written) { return SignAndKeep(written, key, signedFile, error); }),
              0)
        << error;
    ASSERT_EQ(log.Append(EventType::Other, "", 2, entries.back().fingerprint, identity, key, GenerationTimeNow), 0);
  }
  const std::string eventsPath = root_.Dir() + "DADES/RegEvent.dat";
  const std::string olderEvents = ReadAll(eventsPath);
  auto xmlsecVerifies = [&](const std::string& path) {
    return std::system(("xmlsec1 --verify --trusted-pem " + TestCertificates::Get().Path("ca.pem") +
                        " --id-attr:Id 'http://uri.etsi.org/01903/v1.3.2#:SignedProperties' '" + path + "' >/dev/null 2>&1")
                           .c_str()) == 0;
  };
  auto validates = [&](const std::string& schema, const std::string& path) {
    return std::system(("xmllint --noout --schema '" + schema + "' '" + path + "' >/dev/null 2>&1").c_str()) == 0;
  };

  EXPECT_EQ(Run("verify"), 0) << out_ << err_;
  EXPECT_EQ(out_, "Registres, firmes i esdeveniments correctes: 4\n");
  EXPECT_EQ(Run("verify A/2"), 0) << out_ << err_;

  // A certificate that cannot sign refuses cancel and correct before
  // anything is written: register, signed records and log as they were.
  const std::string settings = ReadAll(root_.Dir() + "Tarn.ini");
  const std::string print = "ZEPEXE=" ZEPPRINT_DIR " TMPDIR=" + root_.Dir() + " ";
  const auto kept = [&] {
    return ReadAll(CurrentRegisterPath()) + ReadAll(root_.Dir() + "DADES/RegSigna.dat") +
           ReadAll(root_.Dir() + "DADES/RegEvent.dat");
  };
  const std::string twoRecords = kept();
  const std::string older = ReadAll(CurrentRegisterPath());
  struct KeyCase {
    const char* setting;
    const char* replacement;
    const char* cause;
  };
  const KeyCase keyCases[] = {
      {"cert/other.p12", "cert/issuer.p12", "no \xc3\xa9s del NIF de l'emissor"},
      {"cert/pw", "cert/openpw", "Altres usuaris poden llegir o canviar el fitxer de la contrasenya"},
      {"cert/other.p12", "cert/garbage.p12", "no \xc3\xa9s un certificat PKCS#12"},
  };
  ForEachRow(keyCases, [&](const KeyCase& c) {
    std::string changed = settings;
    changed.replace(changed.find(c.setting), std::string(c.setting).size(), c.replacement);
    root_.Write("Tarn.ini", changed);
    for (const char* command : {"cancel A/2", "correct A/1 --cause R1 --by I --fee 100 --output rect.txt"}) {
      EXPECT_EQ(Run(command, print), 1) << command;
      EXPECT_NE(err_.find("No es pot signar el registre amb el certificat de [VeriFactu]; no s'ha escrit res: "),
                std::string::npos) << err_;
      EXPECT_NE(err_.find(c.cause), std::string::npos) << err_;
      EXPECT_NE(err_.find(root_.Dir() + c.replacement), std::string::npos) << err_;
      EXPECT_EQ(kept(), twoRecords) << command;
    }
    // A check still reads everything, and says why it could not be logged.
    EXPECT_EQ(Run("verify"), 0) << err_;
    EXPECT_NE(err_.find("La comprovaci\xc3\xb3 no s'ha anotat al registre d'esdeveniments: "), std::string::npos) << err_;
    EXPECT_NE(err_.find(c.cause), std::string::npos) << err_;
    EXPECT_EQ(kept(), twoRecords);
  });
  root_.Write("Tarn.ini", settings);
  EXPECT_EQ(Run("resend A/1"), 1);
  EXPECT_NE(err_.find("Mode=conserva els registres no s'envien a l'Ag\xc3\xa8ncia: no hi ha res a reenviar"),
            std::string::npos) << err_;

  // With the key, both sign their records; the log's tail names the last.
  ASSERT_EQ(Run("correct A/1 --cause R1 --by I --fee 100 --output rect.txt", print), 0) << err_;
  ASSERT_EQ(Run("cancel A/2"), 0) << err_;
  std::vector<RegisterEntry> chain;
  {
    InvoiceRegister reg;
    ASSERT_EQ(reg.Open(CurrentRegisterPath(), "", true), 0);
    ASSERT_EQ(reg.ReadAll(chain), 0);
  }
  ASSERT_EQ(chain.size(), 4u);
  EXPECT_TRUE(chain.back().IsCancellation());
  EXPECT_EQ(Run("events list"), 0);
  const std::string lastEvent = out_.substr(out_.rfind('\n', out_.rfind("Esdeveniments: ") - 2) + 1);
  EXPECT_NE(lastEvent.find("\t90\t"), std::string::npos) << out_;
  EXPECT_NE(lastEvent.find(TailText(4, chain.back().fingerprint)), std::string::npos) << out_;
  EXPECT_EQ(Run("verify"), 0) << out_ << err_;

  // Leaving the mode with the certificate's settings gone: nothing is made
  // until its end can be signed, and the message says what to keep.
  root_.Write("Tarn.ini", settings.substr(0, settings.find("Mode=conserva")) + "Mode=envia\r\n");
  const std::string fourRecords = kept();
  EXPECT_EQ(Run("correct A/1 --cause R1 --by I --fee 50 --output rect.txt", print), 1);
  EXPECT_NE(err_.find("No es pot signar el final del mode conserva: mantingueu [VeriFactu] Certificat i "
                      "ClauCertificat fins que quedi signat"),
            std::string::npos)
      << err_;
  EXPECT_EQ(kept(), fourRecords);
  root_.Write("Tarn.ini", settings);

  // The export carries each signed record as kept: taken out of it, the
  // records verify against the test authority; the export is logged.
  EXPECT_EQ(Run("export-xml out.xml"), 0) << err_;
  const std::string exported = ReadAll(root_.Dir() + "out.xml");
  EXPECT_TRUE(validates(kSchema, root_.Dir() + "out.xml"));
  size_t at = 0;
  int records = 0;
  while ((at = exported.find("<sfLR:RegistroFactura>\n", at)) != std::string::npos) {
    at += 23;
    const size_t end = exported.find("  </sfLR:RegistroFactura>", at);
    root_.Write("record.xml", exported.substr(at, end - at));
    EXPECT_TRUE(xmlsecVerifies(root_.Dir() + "record.xml")) << exported.substr(at, end - at);
    ++records;
  }
  EXPECT_EQ(records, 4);
  EXPECT_NE(exported.find("RegistroAnulacion"), std::string::npos);

  // The events, each a document of the agency's schema, signed.
  EXPECT_EQ(Run("events export evs"), 0) << err_;
  int events = 0;
  for (const auto& file : fs::directory_iterator(root_.Dir() + "evs")) {
    EXPECT_TRUE(validates(std::string(ZEPFACT_SCHEMA_DIR) + "/EventosSIF.xsd", file.path().string())) << file.path();
    EXPECT_TRUE(xmlsecVerifies(file.path().string()));
    // The export's last record, the cancellation, named by the invoice it
    // cancels, as the agency knows it.
    const std::string event = ReadAll(file.path().string());
    const size_t last = event.find("<sf:RegistroFacturacionFinalPeriodo>");
    if (event.find("ExportacionRegFacturacionPeriodo") != std::string::npos && last != std::string::npos) {
      EXPECT_NE(event.find("<sf:NumSerieFactura>A/00000002</sf:NumSerieFactura>", last), std::string::npos) << event;
    }
    ++events;
  }
  // Start, run, the whole check's two, the one record's, the correction's,
  // the cancellation's, the whole check's two again, the export's.
  EXPECT_EQ(events, 10);
  EXPECT_EQ(Run("events export evs"), 1);  // never over an earlier export

  // A signed record changed by one byte: named, logged, the exit code 1.
  ASSERT_EQ(ChangeStoredRecord(root_.Dir() + "DADES/RegSigna.dat", NumberKey(2),
                               [](std::string& r) { r[SignedRecordFields::Xml.offset + 100] ^= 0x01; }),
            0);
  EXPECT_EQ(Run("verify"), 1);
  EXPECT_NE(out_.find("Anomalia (seq\xc3\xbc\xc3\xa8ncia 2): A/00000002: firma"), std::string::npos) << out_;
  EXPECT_EQ(Run("verify A/1"), 0) << out_;
  EXPECT_EQ(Run("events list"), 0);
  EXPECT_NE(out_.find("\t04\t"), std::string::npos) << out_;

  // A page of the signed records damaged: the file is named once, as
  // damaged, and the records it cannot give are not called unsigned.
  const std::string signedPath = root_.Dir() + "DADES/RegSigna.dat";
  const std::string signedBytes = ReadAll(signedPath);
  {
    std::fstream file(signedPath, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(signedBytes.size() - 1500));
    file.write("damage damage damage", 20);
  }
  EXPECT_EQ(Run("verify"), 1);
  EXPECT_NE(out_.find("El fitxer " + root_.Dir() + "DADES/RegSigna.dat est\xc3\xa0 malm\xc3\xa8s"), std::string::npos)
      << out_;
  EXPECT_EQ(out_.find("firma absent"), std::string::npos) << out_;
  // The one it cannot give, by its sequence; the others keep their verdicts.
  EXPECT_NE(out_.find("Registres firmats il\xc2\xb7legibles (seq\xc3\xbc\xc3\xa8ncia): 4\n"), std::string::npos) << out_;
  EXPECT_NE(out_.find("(seq\xc3\xbc\xc3\xa8ncia 2): A/00000002: firma"), std::string::npos) << out_;
  EXPECT_EQ(out_.find("A/00000001:"), std::string::npos) << out_;
  std::ofstream(signedPath, std::ios::binary | std::ios::trunc) << signedBytes;

  // Each damage of the event log fails the check, named; the log and its
  // anchor are put back after each.
  const std::string anchorPath = root_.Dir() + "ARXIU/RegEvent.ancora";
  const std::string eventsNow = ReadAll(eventsPath), anchorNow = ReadAll(anchorPath);
  const auto changeEvent = [&](int32_t sequence, const std::function<void(std::string&)>& change) {
    ASSERT_EQ(ChangeStoredRecord(eventsPath, NumberKey(sequence), change), 0);
  };
  struct EventDamage {
    const char* name;
    std::function<void()> damage;
    const char* said;
  };
  const EventDamage eventDamages[] = {
      {"a byte of an event's document",
       [&] { changeEvent(2, [](std::string& r) { r[EventFields::Xml.offset + 300] ^= 0x01; }); }, "Anomalia"},
      {"an event's time changed",
       [&] { changeEvent(2, [](std::string& r) { r[EventFields::GeneratedAt.offset + 3] ^= 0x01; }); }, "Anomalia"},
      {"two events in each other's place",
       [&] {
         std::string second, third;
         changeEvent(2, [&](std::string& r) { second = r; });
         changeEvent(3, [&](std::string& r) { third = r; });
         changeEvent(2, [&](std::string& r) { r.replace(4, std::string::npos, third.substr(4)); });
         changeEvent(3, [&](std::string& r) { r.replace(4, std::string::npos, second.substr(4)); });
       },
       "Anomalia"},
      {"an older copy", [&] { std::ofstream(eventsPath, std::ios::binary | std::ios::trunc) << olderEvents; },
       "el log acaba en 2; l'ancora diu "},
      {"an event taken out", [&] { ASSERT_EQ(RemoveStoredRecord(eventsPath, NumberKey(3)), 0); }, "calia 3"},
      {"the newest event cut off", [&] { ASSERT_EQ(RemoveStoredRecord(eventsPath, NumberKey(19)), 0); },
       "el log acaba en 18; l'ancora diu 19"},
      {"a damaged page: its event named by sequence",
       [&] {
         std::fstream file(eventsPath, std::ios::in | std::ios::out | std::ios::binary);
         file.seekp(static_cast<std::streamoff>(eventsNow.size() - 1500));
         file.write("damage damage damage", 20);
       },
       "Esdeveniments il\xc2\xb7legibles (seq\xc3\xbc\xc3\xa8ncia): 19\n"},
  };
  ForEachRow(eventDamages, [&](const EventDamage& c) {
    c.damage();
    EXPECT_EQ(Run("verify"), 1) << out_;
    EXPECT_NE(out_.find(c.said), std::string::npos) << out_;
    std::ofstream(eventsPath, std::ios::binary | std::ios::trunc) << eventsNow;
    std::ofstream(anchorPath, std::ios::binary | std::ios::trunc) << anchorNow;
  });

  // A signed-records file that cannot be opened at all is named, never
  // taken for one whose every record is unreadable.
  fs::rename(signedPath, signedPath + ".away");
  fs::create_directory(signedPath);
  EXPECT_EQ(Run("verify"), 1) << out_;
  EXPECT_NE(out_.find("No es pot obrir o llegir el fitxer " + signedPath + " (estat "), std::string::npos) << out_;
  fs::remove(signedPath);
  fs::rename(signedPath + ".away", signedPath);

  // A renewed certificate: the change is logged by the first event it signs,
  // and each event names its certificate as openssl fingerprints it.
  const auto fingerprintOf = [&](const char* name) {
    const std::string said = root_.Dir() + "fp.txt";
    EXPECT_EQ(std::system(("openssl x509 -noout -fingerprint -sha256 -in " + TestCertificates::Get().Path(name) + " >" +
                           said).c_str()),
              0);
    std::string hex;
    for (char c : ReadAll(said).substr(ReadAll(said).find('=') + 1))
      if (std::isxdigit(static_cast<unsigned char>(c))) hex += c;
    return hex;
  };
  std::string renewed = settings;
  renewed.replace(renewed.find("cert/other.p12"), 14, "cert/renewed.p12");
  root_.Write("Tarn.ini", renewed);
  (void)Run("verify");
  EXPECT_EQ(Run("events list"), 0);
  const std::string before = out_.substr(0, out_.find(fingerprintOf("renewed.pem")));
  const std::string lastBefore = before.substr(before.rfind('\n', before.size() - 2) + 1);
  const std::string previous = before.substr(0, before.size() - lastBefore.size() - 1);
  EXPECT_NE(lastBefore.find("\t90\t"), std::string::npos) << out_;
  EXPECT_EQ(previous.substr(previous.rfind('\t') + 1), fingerprintOf("other.pem")) << out_;
  root_.Write("Tarn.ini", settings);

  // A recipient the agency cannot identify: no record to sign for its correction.
  ASSERT_EQ(ChangeStoredRecord(CurrentRegisterPath(), SeriesNumberKey("A", 1),
                               [](std::string& r) { r.replace(RegisterFields::RecipientTaxId.offset, 4, "XX  "); }),
            0);
  EXPECT_EQ(Run("correct A/1 --cause R1 --by I --fee 2", print), 1);
  EXPECT_NE(err_.find("el destinatari de la factura A/00000001 necessita un NIF"), std::string::npos) << err_;
  EXPECT_EQ(Run("list"), 0);
  EXPECT_EQ(out_.find("RE/00000002"), std::string::npos) << out_;

  // The register replaced by its older copy: cancel and correct refuse,
  // naming the record the log holds for the last.
  std::ofstream(CurrentRegisterPath(), std::ios::binary | std::ios::trunc) << older;
  for (const char* command : {"cancel A/1", "correct A/1 --cause R1 --by I --fee 1"}) {
    EXPECT_EQ(Run(command, print), 1) << command;
    EXPECT_NE(err_.find("darrer registre anotat: 4"), std::string::npos) << command << ": " << err_;
    EXPECT_EQ(ReadAll(CurrentRegisterPath()), older);
  }
}

}  // namespace
