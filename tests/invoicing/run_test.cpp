// The run around the production pass: parameter form, spool file, print
// program and the failure message, with the form and the print program
// replaced by scripts and the screen by a memory console.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <ctime>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <tuple>

#include "base/text.h"
#include "console/console.h"
#include "console/keyboard.h"
#include "console/screen.h"
#include "invoicing/keeping.h"
#include "invoicing/production.h"
#include "invoicing/register_screen.h"
#include "invoicing/run.h"
#include "invoicing/settle.h"
#include "register/amend.h"
#include "printing/spool.h"
#include "recman/recman.h"
#include "records/records.h"
#include "issuing/issuer.h"
#include "register/agency.h"
#include "register/register.h"
#include "register/software.h"
#include "register/xml.h"
#include "session/forms.h"
#include "session/session.h"
#include "signing/check.h"
#include "signing/events.h"
#include "signing/keeping.h"
#include "signing/kept.h"
#include "tools/setup.h"
#include "invoicing/form_rules.h"
#include "screens/formview.h"
#include "screens/hub.h"
#include "formatting/settings.h"
#include "tests/invoicing/office.h"
#include "tests/support/certificates.h"
#include "tests/support/damage.h"
#include "tests/support/fork_gate.h"

namespace {

// A memory console that keeps the screen as it was whenever input is asked
// for, so a message window can be read before it is closed.
class SnoopConsole : public MemoryConsole {
 public:
  explicit SnoopConsole(int columns = 80) : MemoryConsole(25, columns) {}
  bool NextEvent(InputEvent& ev) override {
    Snapshot();
    return MemoryConsole::NextEvent(ev);
  }
  bool InputClosed() const override {
    const_cast<SnoopConsole*>(this)->Snapshot();
    return MemoryConsole::InputClosed();
  }
  std::string Seen() const { return seen_; }
  // Keys pushed stand for keys the user types when asked: a discard of
  // keys typed ahead leaves them.
  void DiscardInput() override {}

 private:
  void Snapshot() {
    std::string screen;
    for (int row = 1; row <= Rows(); ++row) screen += RowText(row) + "\n";
    if (seen_.find(screen) == std::string::npos) seen_ += screen;
  }
  std::string seen_;
};

// Form 1 with six fields, the number field ten characters long.
void ClearForm() {
  FormCount = 1;
  FieldCapacity = 6;
  FieldValue.assign(2, std::vector<std::string>(7));
  FieldValue[1][6] = std::string(10, ' ');
}

// Sets the values given; five values leave the number field as it is.
void SetForm(const std::vector<std::string>& values) {
  for (size_t k = 0; k < values.size() && k < 6; ++k) FieldValue[1][k + 1] = values[k];
}

struct Pass {
  std::vector<std::string> form;  // the six values (five: the number as offered)
};

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "";
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Every read that moves to the next record fails with status 2.
int16_t DamagedFile(uint16_t op, void* pos, void* data, uint32_t* len, void* key, uint8_t keyLen, int8_t keyNum) {
  if (op % 100 == RmGetNext) return 2;
  return RecordManagerCall(op, pos, data, len, key, keyLen, keyNum);
}

struct Case {
  const char* name;
  std::vector<Pass> passes;
  const char* missingTempDir;  // a temporary directory that does not exist, or nullptr
  ChildEnd printProgram;  // how the print program ends
  // One entry per print program start: the first invoice number of that spool.
  std::vector<std::string> firstNumbers;
  std::vector<std::string> messages;  // texts that must have been on the screen
  const char* language = "CAT";
  const char* tarnIni = nullptr;  // the suite's Tarn.ini, or none
  // What the print program names in zepprint.out, or nothing written.
  const char* outputFile = nullptr;
  bool damagedFile = false;  // the data files fail every move to a next record
  // The number field as each showing of the form offered it (checked when not empty).
  std::vector<std::string> offered = {};
  std::vector<int32_t> registered = {};  // the register's numbers afterwards
  std::vector<std::string> codes = {};  // lines of zepprint.qr at each print start, all prints
  bool damagedRegister = false;  // the register holds invoice 5, whose record was changed afterwards
  const char* sameSpoolAs = nullptr;  // an earlier case whose spool file this one's must equal
  bool secondClass = false;  // the owner also has property 6, of tax class 1 (series empty)
  const char* ownerTaxId = "ESX1111111G";
  const char* series = "A";  // tax class 0's
  // Lines of zepprint.pag at each print start (the root left out), all prints.
  std::vector<std::string> pageFiles = {};
  int printFailures = -1;     // the print program ends as printProgram this many times, then well (-1: always)
  bool reprintConfirmed = false;  // a key for the failure's message, then "S" to print again
  int16_t secondClassTax = 1;  // secondClass: the tax class of property 6
  bool keep = false;  // the test certificates copied to <root>cert/ (Tarn.ini names them)
};

// A register holding invoice A/5, its recipient's name changed behind its back.
void DamagedRegister(const std::string& root) {
  const std::string path = root + "DADES/RegFact2.dat";
  {
    InvoiceRegister reg;
    ASSERT_EQ(reg.Open(path, root + "ddf/RegFact2.xdf", false), 0);
    std::vector<RegisterEntry> entries(1);
    entries[0].number = 5;
    entries[0].series = "A";
    entries[0].date = "20240229";
    entries[0].recipientName = "ROCA LLUIS";
    RegisterRefusal refusal;
    ASSERT_EQ(reg.Append(entries, [] { return std::string("2024-02-29T10:00:00+01:00"); }, refusal), 0);
  }
  const std::string key = "A" + std::string(RegisterSeriesWidth - 1, ' ') + NumberKey(5);
  ASSERT_EQ(ChangeStoredRecord(path, key,
                               [](std::string& record) { record[RegisterFields::RecipientName.offset] ^= 0x01; }),
            0);
}

// A register has a mode: these keep their records signed, with the
// certificate of the run's issuer (12345678Z).
#define KEPT_SIGNED "Mode=conserva\r\nCertificat=cert/other.p12\r\nClauCertificat=cert/pw\r\nCAFirma=cert/ca.pem\r\n"
const char* const RegisterOn = "[Registre]\r\nActiu = s \r\n[VeriFactu]\r\n" KEPT_SIGNED;
const char* const RegisterOnMail = "[Registre]\r\nActiu=S\r\n[Correu]\r\nActiu=S\r\n[VeriFactu]\r\n" KEPT_SIGNED;
const char* const RegisterOnTest = "[Registre]\r\nActiu=S\r\n[VeriFactu]\r\nEntorn= Proves\r\n" KEPT_SIGNED;
const char* const RegisterOnSending = "[Registre]\r\nActiu=S\r\n[VeriFactu]\r\nMode=envia\r\n";
// The not-sending mode with the certificate of the run's issuer (12345678Z),
// with a wrong password, and with another NIF's certificate.
const char* const KeepMode =
    "[Registre]\r\nActiu=S\r\n[VeriFactu]\r\nMode=conserva\r\nCertificat=cert/other.p12\r\nClauCertificat=cert/pw\r\nCAFirma=cert/ca.pem\r\n";
const char* const KeepModeWrongPassword =
    "[Registre]\r\nActiu=S\r\n[VeriFactu]\r\nMode=Conserva\r\nCertificat=cert/other.p12\r\nClauCertificat=cert/wrongpw\r\nCAFirma=cert/ca.pem\r\n";
const char* const KeepModeOtherNif =
    "[Registre]\r\nActiu=S\r\n[VeriFactu]\r\nMode=conserva\r\nCertificat=cert/issuer.p12\r\nClauCertificat=cert/pw\r\nCAFirma=cert/ca.pem\r\n";
const char* const Code12 =
    "1\thttps://www2.agenciatributaria.gob.es/wlpl/TIKE-CONT/ValidarQRNoVerifactu?nif=12345678Z"
    "&numserie=A%2F00000012&fecha=31-03-2024&importe=61.48";
const char* const Code13April =
    "1\thttps://www2.agenciatributaria.gob.es/wlpl/TIKE-CONT/ValidarQRNoVerifactu?nif=12345678Z"
    "&numserie=A%2F00000013&fecha=30-04-2024&importe=61.48";

// The issuer's NIF SetClassesAndIssuer set, as Tarn.ini writes it.
std::string& IssuerNif() {
  static std::string nif;
  return nif;
}

// Tax class 0 (series A) and 1 (no series), and an issuer of that NIF.
void SetClassesAndIssuer(const std::string& nif) {
  TaxClasses[0] = TaxClass{"IVA", 16.0f, 16.0f, 15.0f, "A"};
  TaxClasses[1] = TaxClass{"IVA RED", 7.0f, 0.0f, 15.0f, ""};
  for (auto& item : IssuerDetails) item = std::string(35, ' ');
  IssuerDetails[IssuerItem::TaxNumber] = nif;
  IssuerNif() = nif;
}

// The root's Tarn.ini: settings, then the issuer the register names.
void WriteTarnIni(const std::string& root, const std::string& settings) {
  if (settings.find("cert/") != std::string::npos) {
    std::filesystem::create_directories(root + "cert");
    EXPECT_TRUE(TestCertificates::Get().Ok() && TestCertificates::Get().CopyTo(root + "cert"));
  }
  std::ofstream(root + "Tarn.ini", std::ios::binary)
      << settings << "[Emissor]\r\nNom=ADMINISTRACIONS DE FINQUES DEL PLA DE L'ESTANY SL\r\nNIF=" << IssuerNif() << "\r\n";
}

// How a print program can end.
ChildEnd Ran() { return ChildEnd{true, 0, true, 0, 0}; }
ChildEnd NotStarted(int error) { return ChildEnd{false, error, false, 0, 0}; }
ChildEnd Exited(int status) { return ChildEnd{true, 0, true, status, 0}; }
ChildEnd Killed(int signal) { return ChildEnd{true, 0, false, 0, signal}; }
ChildEnd Stopped() { return ChildEnd{true, 0, false, 0, SIGTERM, true}; }

std::string TodayYymmdd() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[40];
  std::snprintf(text, sizeof text, "%02d%02d%02d", local.tm_year % 100, local.tm_mon + 1, local.tm_mday);
  return text;
}

std::string FirstNumber(const std::string& spool) {
  for (const std::string& line : SpoolLines(spool)) {
    if (line.rfind(" 17 ,", 0) == 0) return line.substr(5, line.rfind(',') - 5);
  }
  return "<none>";
}

TEST(FeeInvoiceRun, FormsSpoolAndPrintProgram) {
  const std::vector<std::string> march = {"31/03/2024", "5   ", "5   ", "5  ", "5  ", "12        "};
  const std::vector<std::string> nobody = {"31/03/2024", "6   ", "9999", "1  ", "999", "12        "};
  const std::vector<std::string> blankNumber = {"31/03/2024", "5   ", "5   ", "5  ", "5  ", "          "};
  const std::vector<std::string> offered = {"31/03/2024", "5   ", "5   ", "5  ", "5  "};
  const std::vector<std::string> dayBefore = {"30/03/2024", "5   ", "5   ", "5  ", "5  "};
  const std::vector<std::string> dayBefore12 = {"30/03/2024", "5   ", "5   ", "5  ", "5  ", "12        "};
  const std::vector<std::string> future = {"31/03/2099", "5   ", "5   ", "5  ", "5  ", "12        "};
  const std::vector<std::string> nineDigits = {"31/03/2024", "5   ", "5   ", "5  ", "5  ", "100000000 "};
  const std::vector<std::string> twoClasses = {"30/04/2024", "5   ", "5   ", "5  ", "6  ", "40        "};
  const std::vector<std::string> aprilOffered = {"30/04/2024", "5   ", "5   ", "5  ", "5  "};
  const std::vector<std::string> april12 = {"30/04/2024", "5   ", "5   ", "5  ", "5  ", "12        "};
  const Case cases[] = {
      {"Esc at once", {}, nullptr, Ran(), {}, {}},
      {"one pass", {{march}}, nullptr, Ran(), {"A/00000012"}, {}},
      {"two passes restart from the form's number", {{march}, {march}}, nullptr, Ran(), {"A/00000012", "A/00000012"},
       {}},
      {"blank number starts at 1", {{blankNumber}}, nullptr, Ran(), {"A/00000001"}, {}},
      {"spool file cannot be created", {{march}}, "missing/", Ran(), {}, {"NO ES POT ESCRIURE EL FITXER D'IMPRESSI\xe0"}},
      // The host path is UTF-8; the screen shows it in the code page.
      {"spool file cannot be created in an accented folder", {{march}}, "sessi\xc3\xb3/", Ran(), {},
       {"NO ES POT ESCRIURE EL FITXER D'IMPRESSI\xe0", "sessi\xa2/zepprint.tmp"}},
      {"print program cannot start", {{march}}, nullptr, NotStarted(ENOENT), {"A/00000012"},
       {"NO ES POT EXECUTAR EL PROGRAMA D'IMPRESSI\xe0"}},
      {"print program ends with a status", {{march}}, nullptr, Exited(3), {"A/00000012"},
       {"HA FALLAT EL PROGRAMA D'IMPRESSI\xe0 ", "ZEPPRINT, ESTAT DE SORTIDA 3"}},
      {"print program ended by a signal", {{march}}, nullptr, Killed(9), {"A/00000012"},
       {"ZEPPRINT, ATURAT PEL SENYAL 9"}},
      {"print program stopped with Esc", {{march}}, nullptr, Stopped(), {"A/00000012"},
       {"IMPRESSI\xe0 ATURADA AMB ESC: NO S'HA ESCRIT CAP FITXER NOU;"}},
      {"register: print program stopped with Esc: offered again, declined, the reprint named", {{march}}, nullptr,
       Stopped(), {"A/00000012"},
       {"IMPRESSI\xe0 ATURADA AMB ESC", "LES FACTURES JA S\xe0N AL REGISTRE: 1 (A/00000012 -", "zepfact reprint --run"},
       "CAT", RegisterOn, nullptr, false, {}, {12}, {Code12}},
      {"register: print program stopped with Esc, printed again from the archive", {{march}}, nullptr, Stopped(),
       {"A/00000012", "A/00000012"}, {"IMPRESSI\xe0 ATURADA AMB ESC", "FACTURES EMESES: 1 "}, "CAT", RegisterOn,
       nullptr, false, {}, {12}, {Code12, Code12}, false, nullptr, false, "ESX1111111G", "A", {}, 1, true},
      {"print program ends with a status, in the session's language", {{march}}, nullptr, Exited(2),
       {"A/00000012"}, {"HA FALLADO EL PROGRAMA DE IMPRESI\xe0N ", "ZEPPRINT, ESTADO DE SALIDA 2"}, "SPA"},
      {"ranges without an invoice print nothing", {{nobody}}, nullptr, Ran(), {},
       {"NO HI HA CAP FACTURA PER IMPRIMIR AMB AQUESTA DATA I AQUESTS MARGES"}},
      {"ranges without an invoice, then a pass that has one", {{nobody}, {march}}, nullptr, Ran(), {"A/00000012"},
       {"NO HI HA CAP FACTURA PER IMPRIMIR"}},
      {"nothing to print, in the session's language", {{nobody}}, nullptr, Ran(), {},
       {"NO HAY NINGUNA FACTURA QUE IMPRIMIR CON ESTA FECHA Y ESTOS M\xb5RGENES"}, "SPA"},
      {"summary names the device", {{march}}, nullptr, Ran(), {"A/00000012"},
       {"FACTURES EMESES: 1 ", "A/00000012 - A/00000012", "BASES IMPOSABLES ....", " 53'00", " 8'48", "RETENCIONS",
        " 0'00", "TOTAL ", " 61'48", "SORTIDA: PDF", "\xb4 Qualsevol tecla per continuar \xc3"}},
      {"summary names the file the print program wrote, in the session's language", {{march}}, nullptr, Ran(),
       {"A/00000012"},
       {"FACTURAS EMITIDAS: 1 ", "SALIDA: /tmp/sessi\xa2/factures-2.pdf", "\xb4 Pulse una tecla para continuar \xc3"},
       "SPA", nullptr, "/tmp/sessi\xc3\xb3/factures-2.pdf\n"},
      // One counter for every page without the register: each series shows
      // the numbers it got.
      {"summary: each series on a line of its own, the sums right-aligned", {{twoClasses}}, nullptr, Ran(),
       {"A/00000040"},
       {"\xb3 A/00000040 - A/00000040   ", "\xb3 00000041 - 00000041   ",
        "\xb3 BASES IMPOSABLES ....................... 103'00 \xb3",
        "\xb3 IVA ....................................  11'98 \xb3",
        "\xb3 RETENCIONS .............................   0'00 \xb3"},
       "CAT", nullptr, nullptr, false, {}, {}, {}, false, nullptr, true},
      {"damaged data file prints nothing", {{march}}, nullptr, Ran(), {},
       {"NO ES POT LLEGIR EL FITXER DE DADES DADES\\PropietV, ESTAT 2"}, "CAT", nullptr, nullptr, true},
      {"register: runs are recorded, the form offers the next number", {{march}, {aprilOffered}}, nullptr, Ran(),
       {"A/00000012", "A/00000013"}, {}, "CAT", RegisterOn, nullptr, false, {"", "13"}, {12, 13},
       {Code12, Code13April}},
      // Left out unless included, asked twice: here nothing is left to print.
      {"register: a link billed on the same date is named with the register's invoice and left out", {{march}, {march}},
       nullptr, Ran(), {"A/00000012"},
       {"AQUESTES FINQUES JA ES VAN FACTURAR PER AL PER\xd6ODE D'AQUEST MES: 0005/005", "A/00000012 31/03/2024 61'48",
        "NO HI HA CAP FACTURA PER IMPRIMIR"},
       "CAT", RegisterOn, nullptr, false, {}, {12}, {Code12}},
      {"register: a link billed for the month on another date is left out too", {{dayBefore12}, {march}}, nullptr,
       Ran(), {"A/00000012"},
       {"AQUESTES FINQUES JA ES VAN FACTURAR PER AL PER\xd6ODE D'AQUEST MES: 0005/005", "A/00000012 30/03/2024 61'48",
        "NO HI HA CAP FACTURA PER IMPRIMIR"},
       "CAT", RegisterOn, nullptr, false, {}, {12},
       {"1\thttps://www2.agenciatributaria.gob.es/wlpl/TIKE-CONT/ValidarQRNoVerifactu?nif=12345678Z"
        "&numserie=A%2F00000012&fecha=30-03-2024&importe=61.48"}},
      {"register: a series goes on from its highest, whatever the form's number", {{march}, {april12}}, nullptr,
       Ran(), {"A/00000012", "A/00000013"}, {}, "CAT", RegisterOn, nullptr, false, {}, {12, 13},
       {Code12, Code13April}},
      {"register: each series numbered on its own, a new one from the form's number", {{march}, {twoClasses}},
       nullptr, Ran(), {"A/00000012", "A/00000013"},
       {"\xb3 A/00000013 - A/00000013   ", "\xb3 00000040 - 00000040   "}, "CAT",
       RegisterOn, nullptr, false, {}, {12, 13, 40},
       {Code12, Code13April,
        "2\thttps://www2.agenciatributaria.gob.es/wlpl/TIKE-CONT/ValidarQRNoVerifactu?nif=12345678Z"
        "&numserie=00000040&fecha=30-04-2024&importe=53.50"},
       false, nullptr, true},
      {"register: a date before the series' last prints nothing", {{march}, {dayBefore}}, nullptr, Ran(),
       {"A/00000012"},
       {"LA DATA \x90S ANTERIOR A LA DARRERA FACTURA DE LA S\xd4RIE A;", "PERMESA \x90S 31/03/2024"},
       "CAT", RegisterOn, nullptr, false, {}, {12}, {Code12}},
      {"register: an issuer NIF written with ES, dots, a dash and a small letter registers", {{march}}, nullptr, Ran(),
       {"A/00000012"}, {}, "CAT", RegisterOn, nullptr, false, {}, {12}, {Code12}},
      {"register: a date after today prints nothing", {{future}}, nullptr, Ran(), {},
       {"LA DATA DE LES FACTURES \x90S POSTERIOR A AVUI"}, "CAT", RegisterOn},
      {"register: a new series from a nine-digit number prints nothing", {{nineDigits}}, nullptr, Ran(), {},
       {"EL N\xe9MERO DE FACTURA HA DE SER DE 1 A 99999999"}, "CAT", RegisterOn},
      {"register: a series of five characters prints whole", {{march}}, nullptr, Ran(), {"FA-27/00000012"}, {}, "CAT",
       RegisterOn, nullptr, false, {}, {12},
       {"1\thttps://www2.agenciatributaria.gob.es/wlpl/TIKE-CONT/ValidarQRNoVerifactu?nif=12345678Z"
        "&numserie=FA-27%2F00000012&fecha=31-03-2024&importe=61.48"},
       false, nullptr, false, "ESX1111111G", "FA-27"},
      {"register: a series of six characters is refused", {{march}}, nullptr, Ran(), {},
       {"LA S\xd4RIE NO ES POT IMPRIMIR SENCERA", "[Iva0] Serie: FA-270"}, "CAT", RegisterOn, nullptr, false, {}, {},
       {}, false, nullptr, false, "ESX1111111G", "FA-270"},
      {"register: an issuer NIF the agency cannot take prints nothing", {{march}}, nullptr, Ran(), {},
       {"EL NIF DE Tarn.ini [Emissor] NO \x90S V\xb7LID: \"ES12345678A\""}, "CAT", RegisterOn},
      {"register: a NIF with a wrong letter is named and, unconfirmed, nothing is printed", {{march}}, nullptr,
       Ran(), {}, {"AQUESTES FACTURES NO PORTEN UN NIF DEL DESTINATARI", "A/00000012 LLUIS ROCA"},
       "CAT", RegisterOn, nullptr, false, {}, {}, {}, false, nullptr, false, "ESX1111111A"},
      {"register: an owner with no usable tax id is named and left out, not numbered", {{march}}, nullptr,
       Ran(), {}, {"AQUESTS PROPIETARIS NO TENEN UN NIF NI UN NIF-IVA", "LLUIS ROCA", "NO HI HA CAP FACTURA PER IMPRIMIR"},
       "CAT", RegisterOn, nullptr, false, {}, {}, {}, false, nullptr, false, "ESX1111111"},
      {"register: the agency's test host", {{march}}, nullptr, Ran(), {"A/00000012"}, {}, "CAT", RegisterOnTest,
       nullptr, false, {}, {12},
       {"1\thttps://prewww2.aeat.es/wlpl/TIKE-CONT/ValidarQRNoVerifactu?nif=12345678Z"
        "&numserie=A%2F00000012&fecha=31-03-2024&importe=61.48"}},
      {"register: the sending mode's code, backlog and sender (none installed here)", {{march}}, nullptr, Ran(),
       {"A/00000012"},
       {"REGISTRES PER ENVIAR A L'AG\xd4NCIA TRIBUT\xb7RIA: 1", "NO S'HA POGUT ENGEGAR L'ENVIAMENT A L'AG\xd4NCIA ("},
       "CAT", RegisterOnSending, nullptr, false, {}, {12},
       {"1\thttps://www2.agenciatributaria.gob.es/wlpl/TIKE-CONT/ValidarQR?nif=12345678Z"
        "&numserie=A%2F00000012&fecha=31-03-2024&importe=61.48"}},
      {"register switched off by any other value", {{march}}, nullptr, Ran(), {"A/00000012"}, {}, "CAT",
       "[Registre]\r\nActiu=N\r\n", nullptr, false, {}, {}, {}, false, "one pass"},
      {"register: the same spool file as without it", {{march}}, nullptr, Ran(), {"A/00000012"}, {}, "CAT",
       RegisterOn, nullptr, false, {}, {12}, {Code12}, false, "one pass"},
      {"register with e-mail: each invoice also as its own PDF, and the sending offered", {{march}}, nullptr, Ran(),
       {"A/00000012"}, {"VOLEU ENVIAR ARA LES FACTURES PER CORREU"}, "CAT", RegisterOnMail, nullptr, false, {}, {12},
       {Code12}, false, "one pass", false, "ESX1111111G", "A", {"1\tARXIU/A-00000012.pdf"}},
      {"register: two invoices of one series: the summary's range runs from the first to the last", {{twoClasses}},
       nullptr, Ran(), {"A/00000040"}, {"\xb3 A/00000040 - A/00000041   ", "FACTURES EMESES: 2 "}, "CAT", RegisterOn,
       nullptr, false, {}, {40, 41},
       {"1\thttps://www2.agenciatributaria.gob.es/wlpl/TIKE-CONT/ValidarQRNoVerifactu?nif=12345678Z"
        "&numserie=A%2F00000040&fecha=30-04-2024&importe=61.48",
        "2\thttps://www2.agenciatributaria.gob.es/wlpl/TIKE-CONT/ValidarQRNoVerifactu?nif=12345678Z"
        "&numserie=A%2F00000041&fecha=30-04-2024&importe=61.48"},
       false, nullptr, true, "ESX1111111G", "A", {}, -1, false, 0},
      {"register: printing fails after the commit: the invoices are registered, the archive is named", {{march}},
       nullptr, Exited(3), {"A/00000012"},
       {"ZEPPRINT, ESTAT DE SORTIDA 3", "NO S'HA IMPR\xd4S, PER\xe3 LES FACTURES JA S\xe0N AL REGISTRE: 1 (A/00000012 -",
        "zepfact reprint --run", "F00000012-"},
       "CAT", RegisterOn, nullptr, false, {}, {12}, {Code12}},
      {"register: printing fails after the commit, printed again from the archive", {{march}}, nullptr, Exited(3),
       {"A/00000012", "A/00000012"}, {"ZEPPRINT, ESTAT DE SORTIDA 3", "FACTURES EMESES: 1 "}, "CAT", RegisterOn,
       nullptr, false, {}, {12}, {Code12, Code12}, false, nullptr, false, "ESX1111111G", "A", {}, 1, true},
      {"register: a damaged register is told, and not gone on from", {{march}}, nullptr, Ran(), {},
       {"EL REGISTRE DE FACTURES EST\xb7 MALM\xd4S A PARTIR DEL REGISTRE 1 (A/00000005)",
        "EL DARRER REGISTRE DE LA CADENA NO QUADRA; NO S'EMET RES: A/00000005"},
       "CAT", RegisterOn, nullptr, false, {"6"}, {5}, {}, true},
      {"an issuer IBAN failing its check digits prints nothing", {{march}}, nullptr, Ran(), {},
       {"L'IBAN DE L'EMISSOR NO \x90S V\xb7LID; NO S'IMPRIMEIX RES", "ES91 2100 0418 4502 0005 1333"}, "CAT",
       "[Emissor]\r\nIBAN=ES91 2100 0418 4502 0005 1333\r\n"},
      {"register: a text file is told it lacks the printed code", {{march}}, nullptr, Ran(), {"A/00000012"},
       {"LES FACTURES EN TEXT NO PORTEN EL CODI QR IMPR\xd4S", "FACTURES EMESES: 1"}, "CAT", RegisterOn, nullptr,
       false, {}, {12}, {Code12}},
      {"not sending: each record signed as it is appended, the mode's start, the run and a summary logged",
       {{march}, {aprilOffered}}, nullptr, Ran(), {"A/00000012", "A/00000013"}, {}, "CAT", KeepMode, nullptr, false,
       {}, {12, 13}, {Code12, Code13April}, false, nullptr, false, "ESX1111111G", "A", {}, -1, false, 1, true},
      {"not sending: an owner with no usable tax id is left out as in the other mode", {{march}}, nullptr, Ran(), {},
       {"AQUESTS PROPIETARIS NO TENEN UN NIF NI UN NIF-IVA", "LLUIS ROCA"}, "CAT", KeepMode, nullptr, false, {},
       {}, {}, false, nullptr, false, "ESX1111111", "A", {}, -1, false, 1, true},
      {"not sending: a wrong password prints nothing and says why", {{march}}, nullptr, Ran(), {},
       {"NO ES POT SIGNAR AMB EL CERTIFICAT DE [VeriFactu]; NO S'EMET RES:", "CONTRASENYA NO OBRE EL CERTIFICAT", "cert/other.p12"}, "CAT",
       KeepModeWrongPassword, nullptr, false, {}, {}, {}, false, nullptr, false, "ESX1111111G", "A", {}, -1, false, 1, true},
      {"not sending: another NIF's certificate prints nothing, in the session's language", {{march}}, nullptr, Ran(),
       {}, {"NO SE PUEDE FIRMAR CON EL CERTIFICADO", "NO ES DEL NIF DEL"}, "SPA", KeepModeOtherNif, nullptr, false, {}, {}, {}, false,
       nullptr, false, "ESX1111111G", "A", {}, -1, false, 1, true},
  };
  std::map<std::string, std::string> spools;  // the first spool file of each case

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestOffice office;
    const std::string named = c.name;
    SetClassesAndIssuer(named.find("small letter") != std::string::npos ? "ES 12.345.678-z"
                        : named.find("issuer NIF") != std::string::npos ? "ES12345678A"
                                                                          : "ES12345678Z");
    // The page shows the issuer's NIF as the session reads it.
    IssuerDetails[IssuerItem::TaxNumber] = NormaliseTaxNumber(IssuerNif());
    TaxClasses[0].Series = c.series;
    TestOwner owner{"0005", "ROCA*LLUIS", "", "", "", c.ownerTaxId, {{1, "005", 0}}};
    std::vector<TestProperty> properties = {{"005", "LOCAL FIX", 0.0f, 300, 1, "", 5000, {}}};
    if (c.secondClass) {
      owner.links.push_back({2, "006", c.secondClassTax});
      properties.push_back({"006", "PIS", 0.0f, 300, 1, "", 5000, {}});
    }
    ASSERT_TRUE(office.Build({owner}, properties, {}));
    Session.OutputDevice = std::string(c.name).find("text file") != std::string::npos ? "f.txt" : "PDF";
    Session.Language = c.language;
    if (c.missingTempDir != nullptr) {
      Session.TempDir = office.Root() + c.missingTempDir;
      SetSpoolSettings({Session.TempDir, "", Language::Catalan});
    }
    ApplySessionScreenSettings();

    if (c.tarnIni != nullptr) WriteTarnIni(office.Root(), c.tarnIni);
    if (c.keep) {
      std::filesystem::create_directories(office.Root() + "cert");
      ASSERT_TRUE(TestCertificates::Get().Ok() && TestCertificates::Get().CopyTo(office.Root() + "cert"));
    }
    if (c.damagedRegister) DamagedRegister(office.Root());
    ClearForm();

    SnoopConsole console;
    if (c.reprintConfirmed) {
      // The module's own forms, for the confirmation.
      std::filesystem::copy(std::string(KORVADEL_SOURCE_DIR) + "/install/FORMS", office.Root() + "FORMS",
                            std::filesystem::copy_options::recursive);
      int groups = 0;
      ASSERT_EQ(LoadFormDefinitions(FormDefinitionPath(), groups), FormsLoaded);
      console.PushKey(13);
      console.PushText("S");
      console.PushKey(13);
    }
    SetConsole(&console);
    int prints = 0;
    std::deque<Pass> script(c.passes.begin(), c.passes.end());
    std::vector<std::string> printed;
    std::vector<std::string> offers;
    std::vector<std::string> codes;
    std::vector<std::string> pageFiles;
    RunHooks saved = FeeInvoiceRunHooks();
    // The last form waits six hours and more before it is left: the
    // summary that falls due meanwhile is logged while it waits.
    std::time_t later = 0;
    SetSummaryClock([&later] { return std::time(nullptr) + later; });
    FeeInvoiceRunHooks().runForm = [&script, &offers, &later]() -> int16_t {
      if (script.empty()) {
        later = 7 * 3600;
        KeyWait().NothingYet();
        return 27;
      }
      offers.push_back(Trim(FieldValue[1][6]));
      SetForm(script.front().form);
      script.pop_front();
      return 13;
    };
    FeeInvoiceRunHooks().runPrintProgram = [&]() {
      printed.push_back(FirstNumber(office.SpoolText()));
      spools.emplace(c.name, office.SpoolText());
      std::istringstream lines(ReadText(office.Root() + "zepprint.qr"));
      for (std::string line; std::getline(lines, line);) codes.push_back(line);
      std::istringstream pages(ReadText(office.Root() + "zepprint.pag"));
      for (std::string line; std::getline(pages, line);) {
        const size_t root = line.find(office.Root());
        pageFiles.push_back(root == std::string::npos ? line : line.erase(root, office.Root().size()));
      }
      // Each invoice's figures are beside the spool for the stationery.
      const std::string figures = ReadText(office.Root() + "zepprint.fig");
      EXPECT_EQ(figures.rfind("1\tNumero\t" + printed.back() + "\n1\tData\t", 0), 0u) << figures;
      if (c.outputFile != nullptr) std::ofstream(office.Root() + "zepprint.out") << c.outputFile;
      return c.printFailures < 0 || prints++ < c.printFailures ? c.printProgram : Ran();
    };

    if (c.damagedFile) SetRecordManagerEntry(DamagedFile);
    const std::string runDay = TodayYymmdd();
    FeeInvoiceRun();
    SetRecordManagerEntry(nullptr);
    if (c.reprintConfirmed) ClearFormDefinitions();

    FeeInvoiceRunHooks() = saved;
    SetSummaryClock({});
    SetConsole(nullptr);
    EXPECT_TRUE(script.empty()) << "the run ended before every pass was made";
    EXPECT_EQ(printed, c.firstNumbers);
    for (const std::string& m : c.messages) {
      EXPECT_NE(console.Seen().find(m), std::string::npos) << "message not shown: " << m << "\n" << console.Seen();
    }
    if (c.passes.empty()) {
      EXPECT_FALSE(std::filesystem::exists(office.Root() + "zepprint.tmp")) << "spool made without a pass";
    }
    EXPECT_EQ(Window.Depth, 0) << "a message window was left open";
    if (c.sameSpoolAs != nullptr) {
      EXPECT_EQ(spools[c.name], spools[c.sameSpoolAs]);
    }
    if (!c.offered.empty()) {
      EXPECT_EQ(offers, c.offered);
    }
    EXPECT_EQ(codes, c.codes);
    EXPECT_EQ(pageFiles, c.pageFiles);
    // The register and the archive are there only when the register is on.
    std::vector<int32_t> registered;
    std::vector<RegisterEntry> entries;
    InvoiceRegister reg;
    if (reg.Open(office.Root() + "DADES/RegFact2", "", true) == 0 && reg.ReadAll(entries) == 0) {
      for (const RegisterEntry& e : entries) {
        registered.push_back(e.number);
        if (c.damagedRegister && e.number == 5) continue;  // made by the test, not by a run
        EXPECT_GE(e.page, 1);
        // The agency's XML of the record is kept with it, as it was made.
        EXPECT_NE(e.xml.find("<sf:Huella>" + e.fingerprint + "</sf:Huella>"), std::string::npos) << e.xml;
        EXPECT_EQ(ReadText(office.Root() + "ARXIU/" + e.archive).rfind("DEVICE" + Session.OutputDevice + "\r\nPAGE", 0), 0u)
            << "spool not archived as " << e.archive;
        // Named F<first number>-<YYMMDDhhmmss>, today's date.
        const std::string day = e.archive.substr(10, 6);
        EXPECT_TRUE(day == runDay || day == TodayYymmdd()) << e.archive;
        const std::string codesFile = office.Root() + "ARXIU/" + e.archive.substr(0, e.archive.size() - 4) + ".qr";
        EXPECT_EQ(ReadText(codesFile).rfind("1\thttps://", 0), 0u) << "codes not archived";
        EXPECT_EQ(ReadText(codesFile.substr(0, codesFile.size() - 3) + ".fig").rfind("1\tNumero\t", 0), 0u)
            << "figures not archived";
      }
    }
    EXPECT_EQ(registered, c.registered);
    if (c.keep) {
      // Every record kept signed by the issuer; the log: the mode's start,
      // one entry per run naming the register's last record, the summary
      // at the end.
      KeptFile signedFile;
      EventLog log;
      std::vector<KeptRecord> signedRecords;
      std::vector<EventEntry> events;
      SignatureVerifier verifier(office.Root() + "cert/ca.pem");
      if (signedFile.Open(office.Root() + "DADES/RegSigna", true) == 0) {
        EXPECT_EQ(signedFile.ReadAll(signedRecords), 0);
      }
      ASSERT_EQ(signedRecords.size(), entries.size());
      for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(verifier.Check(SignedXmlOf(signedRecords[i], entries[i]), "12345678Z", std::time(nullptr)),
                  SignatureStatus::Valid);
      }
      std::string types;
      if (log.Open(office.Root(), true) == 0) {
        EXPECT_EQ(log.ReadAll(events), 0);
      }
      for (const EventEntry& e : events) types += e.type + "/" + std::to_string(e.tailSequence) + " ";
      // A certificate refused writes no event; a run refused, none of its own.
      const char* expected =
          !c.registered.empty() ? "01/0 90/1 90/2 10/2 10/2 " : c.tarnIni == KeepMode ? "01/0 10/0 10/0 " : "";
      EXPECT_EQ(types, expected);
      if (!c.registered.empty() && !events.empty()) {
        // The summary logged while the last form waited counts the events
        // since the mode's start and sums the records made since then.
        int64_t vat = 0, total = 0;
        for (const RegisterEntry& e : entries) {
          vat += e.vat;
          total += AgencyInvoiceTotal(e);
        }
        const std::string& summary = events[events.size() - 2].xml;
        for (const std::string& part : std::vector<std::string>{
                 std::string("<sf:TipoEvento><sf:TipoEvento>01</sf:TipoEvento><sf:NumeroDeEventos>1</sf:NumeroDeEventos>"),
              std::string("<sf:TipoEvento><sf:TipoEvento>90</sf:TipoEvento><sf:NumeroDeEventos>2</sf:NumeroDeEventos>"),
              "<sf:NumeroDeRegistrosFacturacionAltaGenerados>" + std::to_string(entries.size()) + "<",
              "<sf:SumaCuotaTotalAlta>" + AgencyAmount(vat) + "<", "<sf:SumaImporteTotalAlta>" + AgencyAmount(total) + "<",
              std::string("<sf:RegistroFacturacionFinalPeriodo><sf:IDEmisorFactura>12345678Z</sf:IDEmisorFactura>"
                          "<sf:NumSerieFactura>A/00000013<"),
              std::string("<sf:NumeroDeRegistrosFacturacionAnulacionGenerados>0<")})
          EXPECT_NE(summary.find(part), std::string::npos) << part << "\n" << summary;
      }
    }
    if (!c.registered.empty()) {
      // The spool and the codes of each run, and the anchors of the register
      // and of its event log.
      long files = 0;
      for (const auto& file : std::filesystem::directory_iterator(office.Root() + "ARXIU"))
        files += file.path().extension() != ".ancora" ? 1 : 0;
      EXPECT_TRUE(std::filesystem::exists(office.Root() + "ARXIU/RegFact2.ancora"));
      const size_t byRuns = c.registered.size() - (c.damagedRegister ? 1 : 0) - (c.secondClass ? 1 : 0);
      EXPECT_EQ(files, static_cast<long>(3 * byRuns)) << "a refused run left its copies";
    }
    // A register switched on is opened, and made, before the first run.
    if (c.registered.empty() && c.tarnIni != RegisterOn && c.tarnIni != RegisterOnTest && !c.keep) {
      EXPECT_FALSE(std::filesystem::exists(office.Root() + "DADES/RegFact2.dat")) << "register written";
      EXPECT_FALSE(std::filesystem::exists(office.Root() + "ARXIU")) << "archive made";
    }
  }
}

}  // namespace

namespace {

// The stationery named to the print program: the session language's, else
// the plain one, else none.
TEST(FeeInvoiceRun, StationeryOfTheSessionLanguage) {
  struct Row {
    const char* name;
    std::vector<const char*> files;  // under IMPRES
    const char* language;
    const char* expected;             // under IMPRES, "" for none
  };
  const Row rows[] = {
      {"language's own", {"FACTHON_SPA.svg", "FACTHON.svg"}, "SPA", "FACTHON_SPA.svg"},
      {"plain one when the language has none", {"FACTHON_CAT.svg", "FACTHON.svg"}, "OCI", "FACTHON.svg"},
      {"a folder is no stationery", {"FACTHON_GLG.svg/", "FACTHON.svg"}, "GLG", "FACTHON.svg"},
      {"none", {}, "CAT", ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    TestOffice office;
    for (const std::string file : r.files) {
      std::filesystem::create_directories(office.Root() + "IMPRES");
      if (file.back() == '/') std::filesystem::create_directories(office.Root() + "IMPRES/" + file);
      else std::ofstream(office.Root() + "IMPRES/" + file) << "<svg/>";
    }
    Session.Language = r.language;
    const std::string expected = *r.expected == '\0' ? "" : office.Root() + "IMPRES/" + r.expected;
    EXPECT_EQ(RunStationeryHostPath(), expected);
  }
}

}  // namespace

namespace {

// The states of the collection file's receipts, in key order.
std::string ReceiptStates(const std::string& root) {
  uint8_t block[128] = {};
  char key[256] = {};
  (root + "DADES/CobramV.dat").copy(key, 250);
  char owner[8] = {};
  uint32_t length = 0;
  std::string states;
  if (RecordManagerCall(RmOpen, block, owner, &length, key, 255, -2) != 0) return "not open";
  uint8_t record[CollectionRecordSize];
  length = sizeof record;
  for (int16_t status = RecordManagerCall(RmGetFirst, block, record, &length, key, 255, 0); status == 0;
       status = RecordManagerCall(RmGetNext, block, record, &length, key, 255, 0)) {
    states += static_cast<char>(record[CollectionFields::State.offset]);
    length = sizeof record;
  }
  length = 0;
  static_cast<void>(RecordManagerCall(RmClose, block, nullptr, &length, key, 255, 0));
  return states;
}

// Receipts, in key order: the unit's paid one of March (billed by a run of
// 31/03/2024), a pending one, its paid one of April (after the invoice
// date), and one of a property not billed.
void BuildSettlingOffice(TestOffice& office) {
  SetClassesAndIssuer("ES12345678Z");
  TestOwner owner{"0005", "ROCA*LLUIS", "", "", "", "ESX1111111G", {{1, "005", 0}}};
  ASSERT_TRUE(office.Build({owner},
                           {{"005", "LOCAL FIX", 10.0f, 0, 1, "", 5000, {"001"}},
                            {"006", "PIS", 10.0f, 0, 1, "", 5000, {"001"}}},
                           {{"005", "001", "20240305", 'C', 'P', 10000, 0, 0},
                            {"005", "001", "20240405", 'C', 'P', 10000, 0, 0},
                            {"005", "001", "20240310", 'C', 'N', 10000, 0, 0},
                            {"006", "001", "20240305", 'C', 'P', 10000, 0, 0}}));
  WriteTarnIni(office.Root(), "[Registre]\r\nActiu=S\r\nLiquidar=S\r\n[VeriFactu]\r\n" KEPT_SIGNED);
  Session.OutputDevice = "PDF";
  Session.Language = "CAT";
  ApplySessionScreenSettings();
  ClearForm();
}

// In a forked child: the module's run of date (31/03/2024 unless given)
// for unit 5, confirmed (a question answered with no key is a no), then
// left. 0, or 3 when told is given and was not on the screen.
int RunMarchInChild(const char* date = "31/03/2024", const char* told = nullptr) {
  // The record manager forgets the files a parent opened: the child opens
  // the four again, as a new process of the module would.
  int16_t status = 0;
  ResetRecordFiles(status);
  for (const auto& [id, name, size] :
       {std::tuple{OwnerFileId, OwnerFileName, OwnerRecordSize},
        std::tuple{PropertyFileId, PropertyFileName, PropertyRecordSize},
        std::tuple{UnitFileId, UnitFileName, UnitRecordSize},
        std::tuple{CollectionFileId, CollectionFileName, CollectionRecordSize}})
    OpenRecordFile(id, Session.RootDir + name, ModuleRecordArea(id), status, size);
  SnoopConsole console;
  SetConsole(&console);
  bool formShown = false;
  FeeInvoiceRunHooks().runForm = [&]() -> int16_t {
    if (formShown) return 27;
    formShown = true;
    SetForm({date, "5   ", "5   ", "5  ", "6  ", "1         "});
    return 13;
  };
  FeeInvoiceRunHooks().runPrintProgram = [] { return Ran(); };
  FeeInvoiceRun();
  return told == nullptr || console.Seen().find(told) != std::string::npos ? 0 : 3;
}

// With settling on, a run sets the receipts it billed from P to L together
// with its records in the register: stopped after any step, the next start
// leaves both as they were before the run or completes the step.
TEST(FeeInvoiceRun, SettlesTheReceiptsItBilledAllOrNothing) {
  struct SettleCase {
    const char* name;
    int stopAfter;  // the step after which the run's process dies; -1 none
    size_t registered;
    std::string states;  // of the four receipts after the next start
    bool cancelFirst = false;  // the invoice cancelled before the next start
    // What replaces the run's receipts file before its invoice is
    // cancelled (the cancellation is then refused, naming it).
    std::function<void(const std::string& receiptsFile)> damage = {};
    bool failSettling = false;  // the collection file cannot be opened once the run is registered
  };
  const auto replaced = [](const std::function<void(const std::string&)>& make) {
    return [make](const std::string& file) {
      std::filesystem::remove(file);
      make(file);
    };
  };
  const SettleCase cases[] = {
      {"the whole run", -1, 1, "LNPP"},
      {"stopped with the journal written", static_cast<int>(SettleStep::JournalWritten), 0, "PNPP"},
      {"stopped with the run registered", static_cast<int>(SettleStep::Registered), 1, "LNPP"},
      {"stopped with the receipts settled", static_cast<int>(SettleStep::ReceiptsSettled), 1, "LNPP"},
      // The cancellation ends the settling first: its receipt is given back
      // and stays so.
      {"stopped with the run registered, cancelled before the next start", static_cast<int>(SettleStep::Registered),
       2, "PNPP", true},
      {"settling fails after the run is registered: the journal stays, the next start settles",
       -1, 1, "LNPP", false, {}, true},
      {"receipts file empty", -1, 1, "LNPP", false, replaced([](const std::string& f) { std::ofstream{f}; })},
      {"receipts file altered", -1, 1, "LNPP", false,
       [](const std::string& f) {
         std::string text = ReadText(f);
         text[text.find('\t') + 1] = '9';
         std::ofstream(f, std::ios::binary) << text;
       }},
      {"receipts file of an earlier version, a line cut", -1, 1, "LNPP", false,
       replaced([](const std::string& f) { std::ofstream(f) << "1\t1,"; })},
      {"receipts file a link to /dev/zero", -1, 1, "LNPP", false,
       replaced([](const std::string& f) { std::filesystem::create_symlink("/dev/zero", f); })},
      {"receipts file a pipe", -1, 1, "LNPP", false, replaced([](const std::string& f) { ::mkfifo(f.c_str(), 0644); })},
      {"receipts file a folder", -1, 1, "LNPP", false,
       replaced([](const std::string& f) { std::filesystem::create_directory(f); })},
  };
  for (const SettleCase& c : cases) {
    SCOPED_TRACE(c.name);
    TestOffice office;
    BuildSettlingOffice(office);
    ForkGate run([&](ForkGate&) {
      SetSettleStepHook([&](SettleStep step) {
        if (static_cast<int>(step) == c.stopAfter) ::_exit(9);
        if (c.failSettling && step == SettleStep::Registered)
          std::filesystem::rename(Session.RootDir + "DADES/CobramV.dat", Session.RootDir + "DADES/CobramV.away");
      });
      return RunMarchInChild();
    });
    EXPECT_EQ(run.Wait(), c.stopAfter < 0 ? 0 : 9);
    if (c.failSettling) {
      bool left = false;
      for (const auto& file : std::filesystem::directory_iterator(office.Root() + "DADES"))
        left = left || file.path().filename().string().rfind("Liquida-", 0) == 0;
      EXPECT_TRUE(left) << "the journal of the unsettled run is gone";
      std::filesystem::rename(office.Root() + "DADES/CobramV.away", office.Root() + "DADES/CobramV.dat");
    }
    const AmendPlaces places{office.Root() + "DADES/", office.Root() + "DADES/CobramV.dat", office.Root() + "ARXIU/"};
    const auto cancel = [&](int16_t expected, int32_t givenBackExpected, std::string* sideFile) {
      InvoiceRegister writer;
      std::vector<RegisterEntry> chain;
      ASSERT_EQ(writer.Open(office.Root() + "DADES/RegFact2", office.Root() + "ddf/RegFact2.xdf", false), 0);
      ASSERT_EQ(writer.ReadAll(chain), 0);
      ASSERT_FALSE(chain.empty());
      int32_t givenBack = 0;
      bool registered = false;
      RegisterRefusal refusal;
      EXPECT_EQ(CancelInvoice(writer, chain[0], places, GenerationTimeNow, refusal, {}, {}, givenBack, registered, {},
                              sideFile),
                expected);
      EXPECT_EQ(registered, expected == 0);
      EXPECT_EQ(givenBack, givenBackExpected);
    };
    if (c.cancelFirst) cancel(0, 1, nullptr);

    // The next start: the module's run, left at once.
    SnoopConsole console;
    SetConsole(&console);
    RunHooks saved = FeeInvoiceRunHooks();
    FeeInvoiceRunHooks().runForm = []() -> int16_t { return 27; };
    FeeInvoiceRun();
    FeeInvoiceRunHooks() = saved;
    SetConsole(nullptr);

    InvoiceRegister reg;
    std::vector<RegisterEntry> entries;
    ASSERT_EQ(reg.Open(office.Root() + "DADES/RegFact2", office.Root() + "ddf/RegFact2.xdf", true), 0);
    ASSERT_EQ(reg.ReadAll(entries), 0);
    EXPECT_EQ(entries.size(), c.registered);
    EXPECT_EQ(ReceiptStates(office.Root()), c.states);
    if (c.damage) {
      const std::string receiptsFile = places.archiveFolder + ReceiptsFileName(entries[0].archive);
      c.damage(receiptsFile);
      std::string named;
      cancel(RegisterSideFileDamaged, 0, &named);
      EXPECT_EQ(named, receiptsFile);
      EXPECT_EQ(ReceiptStates(office.Root()), "LNPP");
    } else if (c.stopAfter < 0) {
      // Cancelling the invoice gives its receipt back, once.
      cancel(0, 1, nullptr);
      EXPECT_EQ(ReceiptStates(office.Root()), "PNPP");
    }
    for (const auto& file : std::filesystem::directory_iterator(office.Root() + "DADES"))
      EXPECT_EQ(file.path().filename().string().rfind("Liquida-", 0), std::string::npos) << "left: " << file.path();
    // The copies of a run killed before the register took it are gone at
    // the next start, with their marker; a registered run's stay.
    std::vector<std::string> archived, named;
    for (const auto& file : std::filesystem::directory_iterator(office.Root() + "ARXIU"))
      if (file.path().extension() != ".ancora") archived.push_back(file.path().filename().string());
    for (const RegisterEntry& e : entries) {
      if (e.IsCancellation()) continue;
      named.push_back(e.archive);
      named.push_back(e.archive.substr(0, e.archive.size() - 4) + ".qr");
      named.push_back(e.archive.substr(0, e.archive.size() - 4) + ".rcb");
      named.push_back(e.archive.substr(0, e.archive.size() - 4) + ".fig");
    }
    std::sort(archived.begin(), archived.end());
    std::sort(named.begin(), named.end());
    EXPECT_EQ(archived, named);
  }
}

// How many times the runs of root billed each receipt, as their receipts
// files (ARXIU\*.rcb) say: position, count.
std::map<int32_t, int> BilledReceipts(const std::string& root) {
  std::map<int32_t, int> billed;
  for (const auto& file : std::filesystem::directory_iterator(root + "ARXIU")) {
    if (file.path().extension() != ".rcb") continue;
    for (int32_t page = 1; page <= 9; ++page) {
      std::vector<int32_t> receipts;
      EXPECT_EQ(ReadReceiptsFile(file.path().string(), page, receipts), ReceiptsFileRead::Ok);
      for (int32_t position : receipts) ++billed[position];
    }
  }
  return billed;
}

// Two sessions running one month at once (on two dates, so that no
// same-date question stops the second) bill each receipt once: while the
// first counts the receipts and until it has settled them, the second is
// refused. Once with gates, the second running while the first stands
// between registering and settling; then released together, many times.
TEST(FeeInvoiceRun, TwoRunsConfirmedTogetherBillEachReceiptOnce) {
  const auto billedOnce = [](const std::string& root) {
    const std::map<int32_t, int> billed = BilledReceipts(root);
    EXPECT_EQ(billed.size(), 1u);
    for (const auto& [position, times] : billed) EXPECT_EQ(times, 1) << "receipt at " << position;
    EXPECT_EQ(ReceiptStates(root), "LNPP");
  };
  {
    TestOffice office;
    BuildSettlingOffice(office);
    ForkGate first([](ForkGate& gate) {
      SetSettleStepHook([&gate](SettleStep step) {
        if (step == SettleStep::Registered && gate.Send('r')) static_cast<void>(gate.Receive());
      });
      return RunMarchInChild("30/03/2024");
    });
    ASSERT_EQ(first.Receive(), 'r');
    ForkGate second([](ForkGate&) { return RunMarchInChild("31/03/2024", "UNA ALTRA SESSI\xe0 EST\xb7 FACTURANT"); });
    EXPECT_EQ(second.Wait(), 0);
    ASSERT_TRUE(first.Send('c'));
    EXPECT_EQ(first.Wait(), 0);
    billedOnce(office.Root());
  }
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    TestOffice office;
    BuildSettlingOffice(office);
    ForkGate first([](ForkGate& gate) { return gate.Receive() == 'g' ? RunMarchInChild("30/03/2024") : 1; });
    ForkGate second([](ForkGate& gate) { return gate.Receive() == 'g' ? RunMarchInChild("31/03/2024") : 1; });
    ASSERT_TRUE(first.Send('g') && second.Send('g'));
    EXPECT_EQ(first.Wait(), 0);
    EXPECT_EQ(second.Wait(), 0);
    billedOnce(office.Root());
  }
}

// The register screen's detail steps through a chain of four records, A/1,
// A/2, the cancellation of A/1 and A/3 (the list shows A/3, A/2, A/1), that
// a case damages behind the register's back. Each detail shown is given as
// its sequence and the words of its checks, in the screen's order: time,
// fingerprint, link to the previous record and, in the not-sending mode,
// signature.
std::vector<std::string> DetailsShown(const std::string& seen) {
  std::vector<std::string> shown;
  std::istringstream screens(seen);
  std::string summary;
  for (std::string row; std::getline(screens, row);) {
    const size_t sequence = row.find("   #");
    // The line of the generation time (local, "15/1/2026 10:00:00") and the sequence.
    if (sequence != std::string::npos && sequence >= 9 && row[sequence - 3] == ':' && row[sequence - 6] == ':' &&
        row[sequence - 9] == ' ') {
      if (!summary.empty() && (shown.empty() || shown.back() != summary)) shown.push_back(summary);
      summary = row.substr(sequence + 4, row.find_first_not_of("0123456789", sequence + 4) - sequence - 4);
    }
    for (const char* word : {"OK: ", "ERROR: ", "ERRO: "})
      if (!summary.empty() && row.find(word) != std::string::npos) summary += " " + std::string(word, std::strlen(word) - 2);
    if (row.find("Esc ") != std::string::npos && row[0] == '\xc8' && !summary.empty()) {
      if (shown.empty() || shown.back() != summary) shown.push_back(summary);
      summary.clear();
    }
  }
  return shown;
}

void BuildChain(const std::string& root, const std::string& lastTime, bool keep) {
  InvoiceRegister reg;
  ASSERT_EQ(reg.Open(root + "DADES/RegFact2", root + "ddf/RegFact2.xdf", false), 0);
  KeepingMode keeping;
  if (keep) {
    Issuer issuer;
    ASSERT_EQ(ReadIssuer(root, issuer), IssuerProblem::None);
    keeping.Start(root, LoadVeriFactuSettings(root), issuer.nif, issuer.name, reg);
    ASSERT_TRUE(keeping.Ready()) << KeepingProblemText(keeping, "");
  }
  SoftwareIdentity software;
  std::string field, installation;
  ASSERT_EQ(LoadSoftwareIdentity(root, software, field), SoftwareProblem::None) << field;
  ASSERT_EQ(InstallationNumber(root, installation), 0);
  const RecordXmlMaker xml = [&](const RegisterEntry& e, const RegisterEntry* previous) {
    return RecordXml(e, previous, "ADMINISTRADOR", software, installation);
  };
  // Kept records must be made at the certificate's time; the others at set times.
  const std::vector<std::string> times = {"2026-01-15T10:00:00+01:00", "2026-01-15T10:01:00+01:00",
                                          "2026-01-15T10:02:00+01:00", lastTime};
  RegisterEntry first;
  for (size_t i = 0; i < times.size(); ++i) {
    std::vector<RegisterEntry> entries(1);
    RegisterEntry& e = entries[0];
    if (i == 2) {
      e = CancellationOf(first);
    } else {
      e.series = "A";
      e.number = i < 2 ? static_cast<int32_t>(i) + 1 : 3;
      e.date = "20260115";
      e.issuerTaxId = "12345678Z";
      e.recipientTaxId = "ESX1111111G";
      e.recipientName = "ROCA LLUIS";
      e.base = e.total = 5000;
    }
    std::string error;
    RegisterRefusal refusal;
    const auto clock = [&] { return keep ? GenerationTimeNow() : times[i]; };
    ASSERT_EQ(reg.Append(entries, clock, refusal, {}, xml, {}, keep ? keeping.Signer(error) : BeforeCommit{}), 0)
        << error;
    if (keep) keeping.Registered();
    if (i == 0) first = entries[0];
  }
}

TEST(RegisterScreenTest, DetailStepsThroughTheChainAndShowsEachRecordsChecks) {
  const std::string register2 = "DADES/RegFact2.dat";
  auto changeRecord = [register2](int32_t number, RecordField field, size_t at) {
    return [=](const std::string& root) {
      ASSERT_EQ(ChangeStoredRecord(root + register2, SeriesNumberKey("A", number),
                                   [&](std::string& record) { record[field.offset + at] ^= 0x01; }),
                0);
    };
  };
  struct ChainCase {
    const char* name;
    std::vector<uint16_t> keys;
    std::vector<std::string> shown;  // each detail in turn: its sequence and its checks' words
    std::function<void(const std::string& root)> damage = {};
    const char* lastTime = "2026-01-15T10:03:00+01:00";
    const char* language = "CAT";
    bool keep = false;
  };
  const uint16_t Down = KeyDown, Enter = 13, PgUp = KeyPgUp, PgDn = KeyPgDn, Home = KeyHome, End = KeyEnd, Esc = 27;
  const ChainCase cases[] = {
      {"forward from the oldest invoice, the cancellation included; past the last nothing moves",
       {Down, Down, Enter, PgDn, PgDn, PgDn, PgDn, Esc, Esc},
       {"1 OK OK OK", "2 OK OK OK", "3 OK OK OK", "4 OK OK OK"}},
      {"back from the newest, Home and End", {Enter, PgUp, Home, PgUp, PgDn, End, Esc, Esc},
       {"4 OK OK OK", "3 OK OK OK", "1 OK OK OK", "2 OK OK OK"}},
      {"a field outside the fingerprint changed: that record only", {Down, Enter, PgUp, End, PgUp, Esc, Esc},
       {"2 OK ERROR OK", "1 OK OK OK", "4 OK OK OK", "3 OK OK OK"},
       changeRecord(2, RegisterFields::RecipientName, 0)},
      {"a fingerprint changed: its record and the next one's link", {Down, Enter, PgUp, End, PgUp, Esc, Esc},
       {"2 OK ERROR OK", "1 OK OK OK", "4 OK OK OK", "3 OK OK ERROR"},
       changeRecord(2, RegisterFields::Fingerprint, 5)},
      {"a previous fingerprint changed: the link broken there", {Down, Enter, PgUp, End, PgUp, Esc, Esc},
       {"2 OK ERROR ERROR", "1 OK OK OK", "4 OK OK OK", "3 OK OK OK"},
       changeRecord(2, RegisterFields::PreviousFingerprint, 63)},
      {"a record made before the one before it, in Galician", {Enter, PgUp, Esc, Esc},
       {"4 ERRO OK OK", "3 OK OK OK"}, {}, "2026-01-15T10:01:30+01:00", "GLG"},
      {"not sending: a signature changed in the signed file", {Down, Enter, PgUp, End, PgUp, Esc, Esc},
       {"2 OK OK OK ERROR", "1 OK OK OK OK", "4 OK OK OK OK", "3 OK OK OK OK"},
       [](const std::string& root) {
         ASSERT_EQ(ChangeStoredRecord(root + "DADES/RegSigna.dat", NumberKey(2),
                                      [](std::string& record) {
                                        const size_t value = record.find("-sigvalue\">");
                                        ASSERT_NE(value, std::string::npos);
                                        record[value + 30] = record[value + 30] == 'A' ? 'B' : 'A';
                                      }),
                   0);
       },
       nullptr, "CAT", true},
  };
  const char* savedTz = std::getenv("TZ");
  const std::string tz = savedTz != nullptr ? savedTz : "";
  setenv("TZ", "UTC0", 1);
  tzset();
  for (const ChainCase& c : cases) {
    SCOPED_TRACE(c.name);
    TestOffice office;
    SetClassesAndIssuer("ES12345678Z");
    ASSERT_TRUE(office.Build({}, {}, {}));
    Session.Language = c.language;
    ApplySessionScreenSettings();
    if (c.keep) {
      WriteTarnIni(office.Root(), KeepMode);
      std::filesystem::create_directories(office.Root() + "cert");
      ASSERT_TRUE(TestCertificates::Get().Ok() && TestCertificates::Get().CopyTo(office.Root() + "cert"));
    }
    BuildChain(office.Root(), c.lastTime != nullptr ? c.lastTime : "", c.keep);
    if (c.damage) c.damage(office.Root());
    SnoopConsole console;
    for (uint16_t key : c.keys) console.PushKey(key);
    SetConsole(&console);
    RegisterScreen();
    SetConsole(nullptr);
    EXPECT_EQ(DetailsShown(console.Seen()), c.shown) << console.Seen();
    // The records' times (+01:00) as this machine's local time (UTC here).
    if (!c.keep) {
      EXPECT_NE(console.Seen().find("15/1/2026 09:0"), std::string::npos) << console.Seen();
    }
    EXPECT_EQ(Window.Depth, 0);
  }
  if (savedTz != nullptr) setenv("TZ", tz.c_str(), 1);
  else unsetenv("TZ");
  tzset();
}

// The screens the console showed (SnoopConsole::Seen), each as its rows.
std::vector<std::vector<std::string>> Screens(const std::string& seen, int rows = 25) {
  std::vector<std::vector<std::string>> screens;
  std::istringstream lines(seen);
  std::vector<std::string> screen;
  for (std::string row; std::getline(lines, row);) {
    screen.push_back(row);
    if (static_cast<int>(screen.size()) == rows) screens.push_back(std::move(screen)), screen.clear();
  }
  return screens;
}

// The module's own forms on the real parameter form, typed into: the
// confirmation names the first numbers of the series the ranges use, and a
// question about the pass stands beside the confirmation, never over it.
TEST(FeeInvoiceRun, TheRunsQuestionsNameItsSeriesAndLeaveTheConfirmationInView) {
  struct QuestionCase {
    const char* name;
    const char* language;
    std::vector<std::string> form;  // the six values typed in
    std::vector<std::string> shown;     // texts that must have been on the screen
    std::vector<std::string> notShown;  // texts that must not
    const char* question = nullptr;  // a question whose screen must leave rows 10-14 to the confirmation
    int columns = 80;  // a narrower screen wraps the question to more lines
  };
  const std::string long1 = "PUIGDEVALL I SOLER*MARIA DEL CARME";
  const QuestionCase cases[] = {
      {"one owner and property: only the series of its class", "CAT",
       {"31/03/2024", "5", "5", "5", "5", "12"}, {"PRIMERS N\xe9MEROS: A/00000012 "}, {"A/00000012  00000012"}},
      {"a range over both classes names both, in Spanish", "SPA",
       {"31/03/2024", "5", "5", "5", "6", "12"}, {"PRIMEROS N\xe9MEROS: A/00000012  00000012"}, {}},
      {"the property of the other class alone names its series", "CAT",
       {"31/03/2024", "5", "5", "6", "6", "40"}, {"PRIMERS N\xe9MEROS: 00000040 "}, {"A/00000040"}},
      {"recipients without a NIF: their list stays clear of the confirmation", "CAT",
       {"31/03/2024", "20", "29", "5", "5", "12"}, {"AQUESTES FACTURES NO PORTEN UN NIF", "(+2)"}, {},
       "AQUESTES FACTURES NO PORTEN UN NIF"},
      {"recipients without a NIF, in Spanish", "SPA",
       {"31/03/2024", "20", "29", "5", "5", "12"}, {"ESTAS FACTURAS NO LLEVAN UN NIF"}, {},
       "ESTAS FACTURAS NO LLEVAN UN NIF"},
      {"recipients without a NIF on a narrow screen: the list goes where there is room", "CAT",
       {"31/03/2024", "20", "29", "5", "5", "12"}, {"AQUESTES FACTURES NO PORTEN UN NIF"}, {},
       "AQUESTES FACTURES NO PORTEN UN NIF", 70},
  };
  for (const QuestionCase& c : cases) {
    SCOPED_TRACE(c.name);
    TestOffice office;
    SetClassesAndIssuer("ES12345678Z");
    IssuerDetails[IssuerItem::TaxNumber] = NormaliseTaxNumber(IssuerNif());
    std::vector<TestOwner> owners = {{"0005", "ROCA*LLUIS", "", "", "", "ESX1111111G", {{1, "005", 0}, {2, "006", 1}}}};
    // Eight owners whose NIF fails its control letter, with long names.
    for (int k = 20; k < 28; ++k) owners.push_back({"00" + std::to_string(k), long1, "", "", "", "ES12345678A", {{1, "005", 0}}});
    ASSERT_TRUE(office.Build(owners,
                             {{"005", "LOCAL FIX", 0.0f, 300, 1, "", 5000, {}}, {"006", "PIS", 0.0f, 300, 1, "", 5000, {}}},
                             {}));
    Session.OutputDevice = "PDF";
    Session.Language = c.language;
    ApplySessionScreenSettings();
    WriteTarnIni(office.Root(), RegisterOn);
    ResetScreenState();
    for (const char* folder : {"FORMS", "LOCALE"})
      std::filesystem::copy(std::string(KORVADEL_SOURCE_DIR) + "/install/" + folder, office.Root() + folder,
                            std::filesystem::copy_options::recursive);
    int groups = 0;
    ASSERT_EQ(LoadFormDefinitions(FormDefinitionPath(), groups), FormsLoaded);
    for (int16_t k = 1; k <= 6; ++k)
      SetFieldValueOf(1, k, FixedWidth(c.form[static_cast<size_t>(k - 1)], static_cast<size_t>(FieldOf(1, k).length)));
    const HubHooks savedHub = Hooks();
    ConnectFormRules(Hooks());
    Hooks().help = [](const std::string&) {};
    SnoopConsole console(c.columns);
    // To the last field and out of the form, confirm it when a question
    // follows, refuse the question (or the confirmation), then Esc.
    console.PushKey(KeyPgDn);
    console.PushKey(13);
    if (c.question != nullptr) {
      console.PushText("S");
      console.PushKey(13);
    }
    console.PushText("N");
    console.PushKey(13);
    console.PushKey(27);
    SetConsole(&console);
    FeeInvoiceRun();
    SetConsole(nullptr);
    Hooks() = savedHub;
    ClearFormDefinitions();
    for (const std::string& m : c.shown)
      EXPECT_NE(console.Seen().find(m), std::string::npos) << "not shown: " << m << "\n" << console.Seen();
    for (const std::string& m : c.notShown)
      EXPECT_EQ(console.Seen().find(m), std::string::npos) << "shown: " << m << "\n" << console.Seen();
    if (c.question != nullptr) {
      bool asked = false;
      for (const std::vector<std::string>& screen : Screens(console.Seen())) {
        int first = 0;
        for (int r = 0; r < 25 && first == 0; ++r)
          if (screen[static_cast<size_t>(r)].find(c.question) != std::string::npos) first = r + 1;
        if (first == 0) continue;
        asked = true;
        // The confirmation's window (rows 10-14) whole, the question's
        // window wholly outside it.
        EXPECT_EQ(screen[9].substr(18, 44), "\xc9" + std::string(42, '\xcd') + "\xbb") << console.Seen();
        EXPECT_EQ(screen[13].substr(18, 44), "\xc8" + std::string(42, '\xcd') + "\xbc") << console.Seen();
        EXPECT_TRUE(first > 15 || first < 9) << "question on row " << first << "\n" << console.Seen();
      }
      EXPECT_TRUE(asked) << console.Seen();
    }
    EXPECT_EQ(Window.Depth, 0);
  }
}

// Two registered runs (A/1 for owner 2, then A/2 for owner 1), then the
// register screen with the module's own forms: a typed number finds an
// invoice before an owner code, which takes "*"; the correction window
// names the invoice, offers its amounts, checks each field as it is left,
// has its own help and asks before registering; the list then shows the
// corrective with what it corrects and the invoice's new state, in the
// session's formats and local time.
TEST(RegisterScreenTest, FindsInvoicesCorrectsThemAsAskedAndShowsTheSessionsFormats) {
  struct ScreenCase {
    const char* name;
    const char* language;
    std::vector<std::string> typed;  // texts typed, "<Enter>", "<Esc>", "<F1>", "<PgDn>" for keys
    std::vector<std::string> shown;  // texts that must have been on the screen, in this order
    std::vector<int32_t> correctives;  // the numbers of series RE registered
  };
  const ScreenCase cases[] = {
      {"a number finds the invoice, *code the owner's; the detail in the session's formats", "CAT",
       {"1", "<Enter>", "<Esc>", "*1", "<Enter>", "<Esc>", "<Esc>"},
       {"A/00000002   31/3/2024  0001/005 LLUIS ROCA", "1.163,48", "N\xa3m Factura  *N\xa3m Propietari",
        "Factura             A/00000001   31/3/2024", "Base imposable      1.003,00", "IVA                 16,00 %   160,48",
        "Factura             A/00000002   31/3/2024"},
       {}},
      {"correction: named, offered, checked field by field, helped, asked twice, registered", "CAT",
       {"*1", "<Enter>", "R", "<F1>", "x", "<Enter>", "<Enter>", "abc", "<Enter>", "x", "60,00  ", "<Enter>", "<Enter>",
        "Import mal calculat", "<Enter>", "N", "<PgDn>", "<Enter>", "S", "x", "<Esc>", "<Esc>"},
       {"Factura: A/00000002  31/3/2024  base actual 1.003,00", "Honoraris corregits ... 1000,00",
        "Suplerts corregits .... 3,00", "FACTURA RECTIFICATIVA: Causa R1 a R4",
        "HONORARIS CORREGITS: \"abc0,00\" NO \x90S UN IMPORT EN EUROS",
        "REGISTRAR LA FACTURA RECTIFICATIVA DE A/00000002: R1, PER DIFER\xd4NCIES,", "HONORARIS 60,00, SUPLERTS 3,00?",
        "FACTURA RECTIFICATIVA REGISTRADA: RE/00000001", "rectificada per RE/00000001", "rectif. A/00000002",
        "rect. RE/00000001"},
       {1}},
      {"correction in Spanish: a bad amount named, Esc registers nothing", "SPA",
       {"*1", "<Enter>", "R", "<Enter>", "<Enter>", "<Enter>", "1.2.3", "<Enter>", "x", "<Esc>", "<Esc>", "<Esc>"},
       {"Factura: A/00000002  31/3/2024  base actual 1.003,00",
        "SUPLIDOS CORREGIDOS: \"1.2.3\" NO ES UN IMPORTE EN EUROS (1234,56)"},
       {}},
  };
  const char* savedTz = std::getenv("TZ");
  const std::string tz = savedTz != nullptr ? savedTz : "";
  setenv("TZ", "UTC0", 1);
  tzset();
  for (const ScreenCase& c : cases) {
    SCOPED_TRACE(c.name);
    TestOffice office;
    SetClassesAndIssuer("ES12345678Z");
    IssuerDetails[IssuerItem::TaxNumber] = NormaliseTaxNumber(IssuerNif());
    ASSERT_TRUE(office.Build({{"0001", "ROCA*LLUIS", "", "", "", "ESX1111111G", {{1, "005", 0}}},
                              {"0002", "PUIG*ANNA", "", "", "", "ESX1111111G", {{1, "005", 0}}}},
                             {{"005", "LOCAL FIX", 0.0f, 300, 1, "", 100000, {}}}, {}));
    Session.OutputDevice = "PDF";
    Session.Language = c.language;
    FormatSettings format;
    format.decimalChar = ',';
    format.thousandsChar = '.';
    SetFormatSettings(format);
    ApplySessionScreenSettings();
    WriteTarnIni(office.Root(), RegisterOn);
    ClearForm();
    std::deque<std::vector<std::string>> passes = {{"31/03/2024", "2   ", "2   ", "5  ", "5  ", "1         "},
                                                   {"31/03/2024", "1   ", "1   ", "5  ", "5  "}};
    const RunHooks saved = FeeInvoiceRunHooks();
    FeeInvoiceRunHooks().runForm = [&passes]() -> int16_t {
      if (passes.empty()) return 27;
      SetForm(passes.front());
      passes.pop_front();
      return 13;
    };
    FeeInvoiceRunHooks().runPrintProgram = [] { return Ran(); };
    SnoopConsole runConsole;
    SetConsole(&runConsole);
    FeeInvoiceRun();
    FeeInvoiceRunHooks() = saved;

    for (const char* folder : {"FORMS", "LOCALE"})
      std::filesystem::copy(std::string(KORVADEL_SOURCE_DIR) + "/install/" + folder, office.Root() + folder,
                            std::filesystem::copy_options::recursive);
    int groups = 0;
    ASSERT_EQ(LoadFormDefinitions(FormDefinitionPath(), groups), FormsLoaded);
    const HubHooks savedHub = Hooks();
    ConnectFormRules(Hooks());
    SnoopConsole console;
    for (const std::string& t : c.typed) {
      if (t == "<Enter>") console.PushKey(13);
      else if (t == "<Esc>") console.PushKey(27);
      else if (t == "<F1>") console.PushKey(static_cast<uint16_t>(KeyF1));
      else if (t == "<PgDn>") console.PushKey(static_cast<uint16_t>(KeyPgDn));
      else console.PushText(t);
    }
    SetConsole(&console);
    RegisterScreen([] { return Ran(); });
    SetConsole(nullptr);
    Hooks() = savedHub;
    ClearFormDefinitions();
    SetFormatSettings(FormatSettings{});
    size_t from = 0;
    for (const std::string& m : c.shown) {
      const size_t at = console.Seen().find(m, from);
      EXPECT_NE(at, std::string::npos) << "not shown (in order): " << m << "\n" << console.Seen();
      if (at != std::string::npos) from = at;
    }
    EXPECT_EQ(console.PendingEvents(), 0u) << console.Seen();
    std::vector<int32_t> correctives;
    std::vector<RegisterEntry> entries;
    InvoiceRegister reg;
    if (reg.Open(office.Root() + "DADES/RegFact2", "", true) == 0 && reg.ReadAll(entries) == 0)
      for (const RegisterEntry& e : entries)
        if (e.series == "RE") {
          correctives.push_back(e.number);
          EXPECT_EQ(e.invoiceType, "R1");
          EXPECT_EQ(e.base, 6300 - 100300);  // by differences: the corrected base less the invoice's
        }
    EXPECT_EQ(correctives, c.correctives);
    EXPECT_EQ(Window.Depth, 0);
  }
  if (savedTz != nullptr) setenv("TZ", tz.c_str(), 1);
  else unsetenv("TZ");
  tzset();
}

}  // namespace
