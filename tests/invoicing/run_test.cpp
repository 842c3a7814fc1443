// The run around the production pass: parameter form, spool file, print
// program and the failure message, with the form and the print program
// replaced by scripts and the screen by a memory console.
#include <gtest/gtest.h>

#include <cerrno>
#include <deque>
#include <filesystem>

#include "console/console.h"
#include "console/screen.h"
#include "invoicing/run.h"
#include "printing/spool.h"
#include "session/forms.h"
#include "session/session.h"
#include "tools/setup.h"
#include "tests/invoicing/office.h"

namespace {

// A memory console that keeps the screen as it was whenever input is asked
// for, so a message window can be read before it is closed.
class SnoopConsole : public MemoryConsole {
 public:
  bool NextEvent(InputEvent& ev) override {
    Snapshot();
    return MemoryConsole::NextEvent(ev);
  }
  bool InputClosed() const override {
    const_cast<SnoopConsole*>(this)->Snapshot();
    return MemoryConsole::InputClosed();
  }
  std::string Seen() const { return seen_; }

 private:
  void Snapshot() {
    std::string screen;
    for (int row = 1; row <= Rows(); ++row) screen += RowText(row) + "\n";
    if (seen_.find(screen) == std::string::npos) seen_ += screen;
  }
  std::string seen_;
};

void SetForm(const std::vector<std::string>& values) {
  FieldValue.assign(2, std::vector<std::string>(7));
  for (size_t k = 0; k < values.size() && k < 6; ++k) FieldValue[1][k + 1] = values[k];
}

struct Pass {
  std::vector<std::string> form;  // the six values, or empty to leave with Esc
};

struct Case {
  const char* name;
  std::vector<Pass> passes;
  const char* missingTempDir;  // a temporary directory that does not exist, or nullptr
  ChildEnd printProgram;  // how the print program ends
  // One entry per print program start: the first invoice number of that spool.
  std::vector<std::string> firstNumbers;
  std::vector<std::string> messages;  // texts that must have been on the screen
  const char* language = "CAT";
};

// How a print program can end.
ChildEnd Ran() { return ChildEnd{true, 0, true, 0, 0}; }
ChildEnd NotStarted(int error) { return ChildEnd{false, error, false, 0, 0}; }
ChildEnd Exited(int status) { return ChildEnd{true, 0, true, status, 0}; }
ChildEnd Killed(int signal) { return ChildEnd{true, 0, false, 0, signal}; }

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
      {"print program ends with a status, in the session's language", {{march}}, nullptr, Exited(2),
       {"A/00000012"}, {"HA FALLADO EL PROGRAMA DE IMPRESI\xe0N ", "ZEPPRINT, ESTADO DE SALIDA 2"}, "SPA"},
      {"ranges without an invoice print nothing", {{nobody}}, nullptr, Ran(), {},
       {"NO HI HA CAP FACTURA PER IMPRIMIR AMB AQUESTA DATA I AQUESTS MARGES"}},
      {"ranges without an invoice, then a pass that has one", {{nobody}, {march}}, nullptr, Ran(), {"A/00000012"},
       {"NO HI HA CAP FACTURA PER IMPRIMIR"}},
      {"nothing to print, in the session's language", {{nobody}}, nullptr, Ran(), {},
       {"NO HAY NINGUNA FACTURA QUE IMPRIMIR CON ESTA FECHA Y ESTOS M\xb5RGENES"}, "SPA"},
  };

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestOffice office;
    TaxClasses[0] = TaxClass{"IVA", 16.0f, 16.0f, 15.0f, "A"};
    TaxClasses[1] = TaxClass{"IVA RED", 7.0f, 0.0f, 15.0f, ""};
    for (auto& item : IssuerDetails) item = std::string(35, ' ');
    IssuerDetails[IssuerItem::TaxNumber] = "ES12345678Z";
    TestOwner owner{"0005", "ROCA*LLUIS", "", "", "", "ESX1111111", {{1, "005", 0}}};
    TestProperty property{"005", "LOCAL FIX", 0.0f, 300, 1, "", 5000, {}};
    ASSERT_TRUE(office.Build({owner}, {property}, {}));
    Session.OutputDevice = "PDF";
    Session.Language = c.language;
    if (c.missingTempDir != nullptr) {
      Session.TempDir = office.Root() + c.missingTempDir;
      SetSpoolSettings({Session.TempDir, "", Language::Catalan});
    }
    ApplySessionScreenSettings();

    SnoopConsole console;
    SetConsole(&console);
    std::deque<Pass> script(c.passes.begin(), c.passes.end());
    std::vector<std::string> printed;
    RunHooks saved = FeeInvoiceRunHooks();
    FeeInvoiceRunHooks().runForm = [&script]() -> int16_t {
      if (script.empty()) return 27;
      SetForm(script.front().form);
      script.pop_front();
      return 13;
    };
    FeeInvoiceRunHooks().runPrintProgram = [&]() {
      printed.push_back(FirstNumber(office.SpoolText()));
      return c.printProgram;
    };

    FeeInvoiceRun();

    FeeInvoiceRunHooks() = saved;
    SetConsole(nullptr);
    EXPECT_TRUE(script.empty()) << "the run ended before every pass was made";
    EXPECT_EQ(printed, c.firstNumbers);
    for (const std::string& m : c.messages) {
      EXPECT_NE(console.Seen().find(m), std::string::npos) << "message not shown: " << m;
    }
    if (c.passes.empty()) {
      EXPECT_FALSE(std::filesystem::exists(office.Root() + "zepprint.tmp")) << "spool made without a pass";
    }
    EXPECT_EQ(Window.Depth, 0) << "a message window was left open";
  }
}

}  // namespace
