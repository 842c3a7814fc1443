// zepfact send and resend against a stand-in of the agency's service: each
// kind of answer kept per record, the exit codes, the flow control and the
// message size on the stand-in's clock, the outage and Incidencia, a kill
// during a send, a correction, and the certificate's faults.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/codepage.h"
#include "register/amend.h"
#include "register/register.h"
#include "register/software.h"
#include "register/xml.h"
#include "sending/sender.h"
#include "sending/state.h"
#include "tests/support/adopted.h"
#include "tests/support/damage.h"
#include "tests/support/ready_pipe.h"
#include "tests/support/register_entry.h"
#include "tests/support/table.h"
#include "tests/support/temp_root.h"

namespace {

namespace fs = std::filesystem;

const std::string kDictionary = std::string(KORVADEL_SOURCE_DIR) + "/install/ddf/RegFact2.xdf";

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// The certificates, made once for every test of this program.
class Certificates {
 public:
  static std::string Dir() {
    static Certificates made;
    return made.root_.Dir();
  }

 private:
  Certificates() {
    const std::string command = "sh '" SENDING_TEST_DIR "/make_certs.sh' '" + root_.Dir() + "'";
    if (std::system(command.c_str()) != 0) std::abort();
  }
  TempRoot root_;
};

// One request as the stand-in logged it.
struct Request {
  double time = 0;      // on the stand-in's clock
  int records = 0;
  bool incident = false;
  bool valid = false;   // the body matched the agency's schemas
  bool chain = false;   // every fingerprint and link recomputed
  std::string line;     // the whole log line
};

// A raw JSON value of the stand-in's flat log lines.
std::string Value(const std::string& line, const std::string& name) {
  const size_t at = line.find("\"" + name + "\": ");
  if (at == std::string::npos) return std::string();
  const size_t start = at + name.size() + 4;
  return line.substr(start, line.find_first_of(",}", start) - start);
}

class Sending : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(root_.Dir() + "DADES");
    fs::create_directories(root_.Dir() + "agency");
    fs::copy_file(std::string(KORVADEL_SOURCE_DIR) + "/install/Productor.ini", root_.Dir() + SoftwareFileName);
  }
  void TearDown() override {
    if (standIn_ > 0) {
      ::kill(standIn_, SIGTERM);
      int status = 0;
      ::waitpid(standIn_, &status, 0);
    }
  }

  // Starts the stand-in with its plan (one word per request).
  void StartAgency(const std::string& plan) {
    root_.Write("agency/plan", plan);
    const std::string certificates = Certificates::Dir();  // made here, not in the child
    ready_ = std::make_unique<ReadyPipe>();
    const std::string readyFd = std::to_string(ready_->WriteEnd());
    standIn_ = ::fork();
    if (standIn_ == 0) {
      const std::string work = root_.Dir() + "agency";
      // Debian's own Python, with python3-lxml.
      ::execl("/usr/bin/python3", "python3", SENDING_TEST_DIR "/agency_standin.py", work.c_str(), AEAT_SCHEMA_DIR,
               certificates.c_str(), readyFd.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ASSERT_GT(ready_->Port(), 0) << "the stand-in did not start";
    WriteSettings();
  }

  void WriteSettings(const std::string& certificate = "client.p12", const std::string& authorities = "ca.pem",
                     const std::string& password = "client.pass") {
    const std::string certs = Certificates::Dir();
    const auto at = [&](const std::string& name) { return name[0] == '/' ? name : certs + name; };
    root_.Write("Tarn.ini", "[Usuari]\r\nIdioma=CAT\r\n[Emissor]\r\nNom=Jordi Vilar\xa2\r\nNIF=ES12345678Z\r\n"
                            "[VeriFactu]\r\nMode=envia\r\nCertificat=" + at(certificate) +
                                "\r\nClauCertificat=" + at(password) + "\r\nServei=https://127.0.0.1:" +
                                ReadAll(root_.Dir() + "agency/port") +
                                "/wlpl/TIKE-CONT/ws/SistemaFacturacion/VerifactuSOAP\r\nCAServei=" + at(authorities) + "\r\n");
  }

  // Appends count invoices of series A to the register, as a run does.
  void Register(int count) {
    InvoiceRegister reg;
    ASSERT_EQ(reg.Open(RegisterPath(), kDictionary, false), 0);
    std::vector<RegisterEntry> entries;
    SeriesState state;
    ASSERT_EQ(reg.StateOf("A", state), 0);
    for (int i = 1; i <= count; ++i) {
      entries.push_back(FeeInvoiceEntry("A", state.highest + i, "20270415", 10000 + i));
    }
    SoftwareIdentity software;
    std::string field;
    ASSERT_EQ(LoadSoftwareIdentity(root_.Dir(), software, field), SoftwareProblem::None) << field;
    const RecordXmlMaker xml = [&](const RegisterEntry& e, const RegisterEntry* previous) {
      return RegistroAltaXml(e, previous, "Jordi Vilar\xa2", software, "1");
    };
    RegisterRefusal refusal;
    ASSERT_EQ(reg.Append(entries, GenerationTimeNow, refusal, {}, xml), 0);
  }

  // Appends the cancellation of invoice A/number and then more invoices of
  // series A, in one go.
  void Cancel(int32_t number, int more = 0) {
    InvoiceRegister reg;
    ASSERT_EQ(reg.Open(RegisterPath(), kDictionary, false), 0);
    SeriesState state;
    ASSERT_EQ(reg.StateOf("A", state), 0);
    std::vector<RegisterEntry> entries = {CancellationOf(FeeInvoiceEntry("A", number, "20270415", 0))};
    for (int i = 1; i <= more; ++i) entries.push_back(FeeInvoiceEntry("A", state.highest + i, "20270415", 20000 + i));
    SoftwareIdentity software;
    std::string field;
    ASSERT_EQ(LoadSoftwareIdentity(root_.Dir(), software, field), SoftwareProblem::None) << field;
    const RecordXmlMaker xml = [&](const RegisterEntry& e, const RegisterEntry* previous) {
      return RecordXml(e, previous, "Jordi Vilar\xa2", software, "1");
    };
    RegisterRefusal refusal;
    ASSERT_EQ(reg.Append(entries, GenerationTimeNow, refusal, {}, xml), 0);
  }

  int Send(const std::string& args = "send") {
    const std::string command = "cd '" + root_.Dir() + "' && env -u ZEPTMP '" ZEPFACT_PROGRAM "' --root '" +
                                root_.Dir() + "' " + args + " > out.txt 2> err.txt";
    const int status = std::system(command.c_str());
    // A sender the command started on its own has ended too.
    detached_ = AdoptedChildren::Wait(standIn_);
    out_ = ReadAll(root_.Dir() + "out.txt");
    err_ = ReadAll(root_.Dir() + "err.txt");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // Each record's kept state from 1 to count: the state letter, or "-"
  // when pending.
  std::string States(int count) {
    SendingState state;
    if (state.Open(root_.Dir() + "DADES/EnviFact.dat", true) != 0) return std::string(static_cast<size_t>(count), '-');
    std::string out;
    for (int i = 1; i <= count; ++i) {
      SendAnswer a;
      bool found = false;
      EXPECT_EQ(state.Find(i, a, found), 0);
      out += found ? a.state : '-';
    }
    return out;
  }

  std::vector<Request> Requests() {
    std::vector<Request> out;
    std::istringstream lines(ReadAll(root_.Dir() + "agency/log.jsonl"));
    for (std::string line; std::getline(lines, line);) {
      Request r;
      r.time = std::atof(Value(line, "t").c_str());
      r.records = std::atoi(Value(line, "records").c_str());
      r.incident = Value(line, "incidencia") == "true";
      r.valid = Value(line, "valid") == "true";
      r.chain = Value(line, "chain") == "true";
      r.line = line;
      out.push_back(r);
    }
    return out;
  }

  std::string RegisterPath() const { return root_.Dir() + "DADES/RegFact2.dat"; }

  AdoptedChildren adopted_;
  TempRoot root_;
  pid_t standIn_ = -1;
  std::unique_ptr<ReadyPipe> ready_;  // the stand-in's lines: its port, "held"
  std::string out_, err_;
  std::vector<int> detached_;  // the exit codes of the senders the last command started
};

TEST_F(Sending, EachAnswerIsKeptPerRecordAndRetriedOnlyWhenPending) {
  struct Case {
    const char* name;
    const char* plan;        // the stand-in's words, request by request
    int exitCode;            // of the first send
    const char* states;      // after it, records 1-3
    const char* said;        // a part of what it printed (stdout + stderr)
    bool retriedWithIncident;  // the second send goes with Incidencia=S
  };
  const Case cases[] = {
      {"all accepted", "ok", 0, "CCC", "3 acceptats", false},
      {"one rejected by the agency", "partial", 1, "ICC", "Rebutjat A/00000001: 1110 El NIF", false},
      {"one accepted with errors", "errors", 0, "ECC", "Acceptat amb errors A/00000001: 2001", false},
      {"a slow answer", "slow", 0, "CCC", "3 acceptats", false},
      {"a server fault", "fault", 3, "---", "error del servei (Servicio no disponible", true},
      {"a dropped connection", "drop", 3, "---", "No s'ha pogut contactar", true},
      {"an answer that is not XML", "notxml", 3, "---", "no \x82s de l'Ag\x8ancia", false},
      {"an answer naming other invoices", "mismatch", 3, "---", "A/00000001X", false},
      {"the message refused", "client", 1, "---", "rebutja el missatge", false},
  };
  ForEachRow(cases, [&](const Case& c) {
    TearDown();
    standIn_ = -1;
    fs::remove_all(root_.Dir() + "agency");
    fs::remove_all(root_.Dir() + "DADES");
    fs::create_directories(root_.Dir() + "DADES");
    ASSERT_NO_FATAL_FAILURE(StartAgency(std::string(c.plan) + "\n"));
    Register(3);
    EXPECT_EQ(Send(), c.exitCode) << out_ << err_;
    EXPECT_EQ(States(3), c.states);
    EXPECT_NE((out_ + err_).find(Utf8FromCp858(c.said)), std::string::npos) << out_ << err_;
    // Only what is pending goes again; the stand-in now accepts it.
    const int second = Send();
    const std::vector<Request> requests = Requests();
    ASSERT_EQ(requests.size(), std::string(c.states) == "---" ? 2u : 1u);
    for (const Request& r : requests) EXPECT_TRUE(r.valid && r.chain) << r.line;
    if (requests.size() == 2) {
      EXPECT_EQ(second, 0) << out_ << err_;
      EXPECT_EQ(requests[1].records, 3);
      EXPECT_EQ(requests[1].incident, c.retriedWithIncident);
      EXPECT_EQ(States(3), "CCC");
    } else {
      EXPECT_EQ(second, c.exitCode == 1 ? 1 : 0) << out_ << err_;
    }
  });
}

TEST_F(Sending, FullMessagesGoAtOnceAndTheRestWaitsTheAgencysTime) {
  ASSERT_NO_FATAL_FAILURE(StartAgency("wait2\nwait2\nwait2\n"));
  Register(2500);
  ASSERT_EQ(Send(), 0) << out_ << err_;
  const std::vector<Request> requests = Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].records, 1000);
  EXPECT_EQ(requests[1].records, 1000);
  EXPECT_EQ(requests[2].records, 500);
  for (const Request& r : requests) EXPECT_TRUE(r.valid && r.chain) << r.line.substr(0, 300);
  // 1000 waiting: no pause; 500 waiting: the 2 s the agency asked for,
  // on the stand-in's clock. The sender says each wait.
  EXPECT_GE(requests[2].time - requests[1].time, 2.0);
  size_t waits = 0;
  for (size_t at = out_.find("Espera de"); at != std::string::npos; at = out_.find("Espera de", at + 1)) ++waits;
  EXPECT_EQ(waits, 1u) << out_;
  EXPECT_EQ(States(2500), std::string(2500, 'C'));

  // The wait outlives the process: a record made now waits for it too.
  Register(1);
  ASSERT_EQ(Send(), 0) << out_ << err_;
  const std::vector<Request> after = Requests();
  ASSERT_EQ(after.size(), 4u);
  EXPECT_GE(after[3].time - after[2].time, 2.0);
  EXPECT_NE(out_.find("Espera de"), std::string::npos) << out_;
}

TEST_F(Sending, AnOutageIsWaitedOutAndItsRecordsGoWithIncidencia) {
  ASSERT_NO_FATAL_FAILURE(StartAgency("fault\ndrop\nok\n"));
  Register(2);
  ASSERT_EQ(Send("send --until-empty --retry 1"), 0) << out_ << err_;
  const std::vector<Request> requests = Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_FALSE(requests[0].incident);
  EXPECT_TRUE(requests[2].incident);
  EXPECT_GE(requests[2].time - requests[1].time, 1.9);  // the back-off doubled
  EXPECT_EQ(States(2), "CC");
  // Records made after the outage go without it.
  Register(1);
  ASSERT_EQ(Send(), 0) << out_ << err_;
  EXPECT_FALSE(Requests().back().incident);

  // As the module starts it: detached at once, its words in the log.
  Register(1);
  ASSERT_EQ(Send("send --until-empty --background"), 0) << out_ << err_;
  EXPECT_EQ(out_ + err_, "");
  EXPECT_EQ(detached_, std::vector<int>{0});
  EXPECT_EQ(States(4), "CCCC");
  const std::string log = ReadAll(root_.Dir() + "DADES/EnviFact.log");
  EXPECT_NE(log.find("1 registres enviats"), std::string::npos) << log;
  EXPECT_NE(log.find("No queda"), std::string::npos) << log;
}

TEST_F(Sending, AKillDuringASendLosesNothingAndTheResendIsADuplicate) {
  ASSERT_NO_FATAL_FAILURE(StartAgency("hold\nok\n"));
  Register(4);
  const pid_t child = ::fork();
  if (child == 0) {
    ::execl(ZEPFACT_PROGRAM, ZEPFACT_PROGRAM, "--root", root_.Dir().c_str(), "send", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  // Killed once the agency has the records, before their answer.
  EXPECT_EQ(ready_->Line(), "held");
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_EQ(Requests().size(), 1u);
  EXPECT_EQ(States(4), "----");
  ASSERT_EQ(Send(), 0) << out_ << err_;
  EXPECT_EQ(States(4), "DDDD");
  EXPECT_NE(out_.find("4 que l'Ag"), std::string::npos) << out_;
  EXPECT_TRUE(Requests().back().chain);
}

TEST_F(Sending, ARejectedRecordIsCorrectedByANewChainedRecord) {
  ASSERT_NO_FATAL_FAILURE(StartAgency("partial\npartial\nok\n"));
  Register(2);
  ASSERT_EQ(Send(), 1) << out_ << err_;
  EXPECT_EQ(States(2), "IC");
  ASSERT_EQ(Send("resend A/00000002"), 0) << err_;
  EXPECT_NE(out_.find("no necessita esmena"), std::string::npos) << out_;
  EXPECT_EQ(detached_, std::vector<int>{});
  // The correction goes as it is made, without a send by hand. Rejected
  // too, it settles nothing: the earlier rejection stands beside its own.
  int64_t pending = 0, rejected = 0;
  ASSERT_EQ(Send("resend 1"), 0) << err_;
  EXPECT_EQ(detached_, std::vector<int>{1});
  EXPECT_EQ(States(3), "ICI");
  EXPECT_NE(Requests().back().line.find("\"subsanacion\": [\"S\"], \"rechazo\": [\"X\"]"), std::string::npos)
      << Requests().back().line;
  ASSERT_EQ(SendingCounts(RegisterPath(), root_.Dir() + "DADES/EnviFact.dat", pending, rejected), 0);
  EXPECT_EQ(rejected, 2);
  ASSERT_EQ(Send("resend 1"), 0) << err_;
  EXPECT_EQ(detached_, std::vector<int>{0});
  EXPECT_EQ(States(4), "ICIC");
  const Request last = Requests().back();
  EXPECT_TRUE(last.valid && last.chain) << last.line;
  // Still never registered there: RechazoPrevio stays X.
  EXPECT_NE(last.line.find("\"subsanacion\": [\"S\"], \"rechazo\": [\"X\"]"), std::string::npos) << last.line;
  // The accepted correction settled both rejections: nothing stands any more.
  ASSERT_EQ(SendingCounts(RegisterPath(), root_.Dir() + "DADES/EnviFact.dat", pending, rejected), 0);
  EXPECT_EQ(pending, 0);
  EXPECT_EQ(rejected, 0);
  ASSERT_EQ(Send("resend A/00000001"), 0) << err_;  // the correction itself was accepted
  EXPECT_NE(out_.find("no necessita esmena"), std::string::npos) << out_;
  // The list and the accountant's file say what became of each record.
  ASSERT_EQ(Send("list"), 0) << err_;
  EXPECT_NE(out_.find("    Enviament: rebutjat, CSV A-STANDIN000001, 1110 El NIF no est\xc3\xa1 identificado"), std::string::npos)
      << out_;
  EXPECT_NE(out_.find("    Enviament: acceptat, CSV A-STANDIN000003\nFactures: 4"), std::string::npos) << out_;
  ASSERT_EQ(Send("export-csv all.csv"), 0) << err_;
  const std::string csv = ReadAll(root_.Dir() + "all.csv");
  EXPECT_NE(csv.find(",sending_state,sending_csv,sending_error_code,sending_error\r\n"), std::string::npos);
  EXPECT_NE(csv.find(",Incorrecto,A-STANDIN000001,1110,El NIF"), std::string::npos) << csv;
  EXPECT_NE(csv.find(",Correcto,A-STANDIN000001,,\r\n"), std::string::npos) << csv;
  EXPECT_NE(csv.find(",Incorrecto,A-STANDIN000002,1110,El NIF"), std::string::npos) << csv;
  EXPECT_NE(csv.find(",Correcto,A-STANDIN000003,,\r\n"), std::string::npos) << csv;
  EXPECT_EQ(Send("verify"), 0) << out_;  // the correction is a link of the chain like any other
  // The corrected invoice is counted once, and is still one invoice to reprint.
  ASSERT_EQ(Send("export-totals totals.csv"), 0) << err_;
  EXPECT_NE(ReadAll(root_.Dir() + "totals.csv").find("\r\nA,2027-2T,2,"), std::string::npos)
      << ReadAll(root_.Dir() + "totals.csv");
  EXPECT_EQ(Send("reprint A/00000001"), 1);
  EXPECT_EQ(err_.find("m\xc3\xa9s d'una"), std::string::npos) << err_;
}

TEST_F(Sending, AnswersAreMatchedAsTheAgencyGivesThem) {
  ASSERT_NO_FATAL_FAILURE(StartAgency("errors\nok\nmismatch1\nok\n"));
  Register(3);
  ASSERT_EQ(Send(), 0) << out_ << err_;
  EXPECT_EQ(States(3), "ECC");
  // A cancellation goes with the invoices made after it; the agency names
  // the cancelled invoice in its line, and both are confirmed.
  Cancel(2, 1);
  ASSERT_EQ(Send(), 0) << out_ << err_;
  EXPECT_EQ(States(5), "ECCCC");
  EXPECT_EQ(Requests().back().records, 2);
  // A line naming another invoice is named; the lines that matched stand,
  // and only the unmatched record goes again.
  Register(2);
  EXPECT_EQ(Send(), 3) << out_ << err_;
  EXPECT_EQ(States(7), "ECCCC-C");
  EXPECT_NE(err_.find("A/00000005X"), std::string::npos) << err_;
  // The count the form shows is exact while the answers are partial.
  int64_t pending = 0, rejected = 0;
  ASSERT_EQ(SendingCounts(RegisterPath(), root_.Dir() + "DADES/EnviFact.dat", pending, rejected), 0);
  EXPECT_EQ(pending, 1);
  ASSERT_EQ(Send(), 0) << out_ << err_;
  EXPECT_EQ(States(7), "ECCCCCC");
  EXPECT_EQ(Requests().back().records, 1);

  // The answers lost: everything goes again, and each duplicate is read by
  // the state the agency holds it in.
  fs::remove(root_.Dir() + "DADES/EnviFact.dat");
  ASSERT_EQ(Send(), 0) << out_ << err_;
  // A/1 with errors, A/2 cancelled there, the rest correct (the
  // cancellation itself: already cancelled).
  EXPECT_EQ(States(7), "EADDDDD");
  EXPECT_NE(out_.find(Utf8FromCp858("ja la t\x82 anul\xfalada A/00000002")), std::string::npos) << out_;
  // A duplicate held with errors is corrected like any record with errors.
  ASSERT_EQ(Send("resend A/00000001"), 0) << out_ << err_;
  ASSERT_EQ(Send(), 0) << out_ << err_;
  EXPECT_EQ(States(8), "EADDDDDC");
  EXPECT_NE(Requests().back().line.find("\"subsanacion\": [\"S\"], \"rechazo\": [\"\"]"), std::string::npos)
      << Requests().back().line;
  for (const Request& r : Requests()) EXPECT_TRUE(r.valid && r.chain) << r.line;

  // A printed invoice kept without a record (an owner with no usable tax
  // id, from before such owners were left out): never "nothing left".
  {
    InvoiceRegister reg;
    ASSERT_EQ(reg.Open(RegisterPath(), kDictionary, false), 0);
    std::vector<RegisterEntry> entries = {FeeInvoiceEntry("A", 7, "20270415", 100)};
    entries[0].recipientTaxId = "DESCONOCIDO";
    RegisterRefusal refusal;
    ASSERT_EQ(reg.Append(entries, GenerationTimeNow, refusal), 0);
  }
  // Named by every send after it, never "nothing left".
  for (int send = 0; send < 2; ++send) {
    EXPECT_EQ(Send(), 1) << out_ << err_;
    EXPECT_NE(err_.find("1 factures impreses no tenen registre"), std::string::npos) << err_;
  }
}

TEST_F(Sending, CancellationsSayWhatTheAgencyHolds) {
  ASSERT_NO_FATAL_FAILURE(StartAgency("partial\nok\npartial\nok\n"));
  Register(2);
  ASSERT_EQ(Send(), 1) << out_ << err_;
  EXPECT_EQ(States(2), "IC");
  // A/1 never reached the agency: its cancellation says so, is taken, and
  // leaves nothing standing.
  // Each goes as it is made, without a send by hand.
  EXPECT_EQ(Send("cancel A/00000001"), 0) << out_ << err_;
  EXPECT_EQ(detached_, std::vector<int>{0});
  EXPECT_EQ(States(3), "ICC");
  EXPECT_NE(Requests().back().line.find("\"rechazo\": [\"\"], \"sinregistro\": [\"S\"]"), std::string::npos)
      << Requests().back().line;
  // A/2 is held there: its cancellation goes plainly; rejected, it goes
  // again with RechazoPrevio.
  EXPECT_EQ(Send("cancel A/00000002"), 0) << out_ << err_;
  EXPECT_EQ(detached_, std::vector<int>{1});
  EXPECT_EQ(States(4), "ICCI");
  EXPECT_NE(Requests().back().line.find("\"rechazo\": [\"\"], \"sinregistro\": [\"\"]"), std::string::npos)
      << Requests().back().line;
  ASSERT_EQ(Send("resend A/00000002"), 0) << out_ << err_;
  EXPECT_EQ(detached_, std::vector<int>{0});
  EXPECT_EQ(States(5), "ICCIC");
  EXPECT_NE(Requests().back().line.find("\"rechazo\": [\"S\"], \"sinregistro\": [\"\"]"), std::string::npos)
      << Requests().back().line;
  for (const Request& r : Requests()) EXPECT_TRUE(r.valid && r.chain) << r.line;
}

TEST_F(Sending, AnAnswerPastTheLimitIsRefusedUnreadWithinFixedMemory) {
  ASSERT_NO_FATAL_FAILURE(StartAgency("huge\nok\n"));
  Register(2);
  // Run directly, so that its own peak memory comes back with its end.
  const pid_t child = ::fork();
  if (child == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::execl(ZEPFACT_PROGRAM, ZEPFACT_PROGRAM, "--root", root_.Dir().c_str(), "send", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage = {};
  ASSERT_EQ(::wait4(child, &status, 0, &usage), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << status;
  // 200 MB came; the sender held at most its 20 MB limit and its own needs.
  // AddressSanitizer's shadow and quarantine add their own: there the bound
  // is what holding the whole answer would take.
#if defined(__SANITIZE_ADDRESS__)
  constexpr long kBoundKb = 200 * 1024;
#else
  constexpr long kBoundKb = 80 * 1024;
#endif
  EXPECT_LT(usage.ru_maxrss, kBoundKb) << usage.ru_maxrss << " kB";
  EXPECT_EQ(States(2), "--");
  ASSERT_EQ(Send(), 0) << out_ << err_;
  EXPECT_EQ(States(2), "CC");
}

TEST_F(Sending, ACertificateThatCannotBeUsedIsNamedAndNothingGoes) {
  ASSERT_NO_FATAL_FAILURE(StartAgency("ok\n"));
  Register(1);
  const std::string exposed = root_.Write("exposed.pass", "clau de prova\n");
  ::chmod(exposed.c_str(), 0644);
  root_.Write("wrong.pass", "una altra\n");
  ::chmod((root_.Dir() + "wrong.pass").c_str(), 0600);
  struct Case {
    const char* name;
    std::string certificate, authorities, password;
    int exitCode;
    const char* said;
  };
  const Case cases[] = {
      {"no such certificate", "missing.p12", "ca.pem", "client.pass", 1, "No existeix el fitxer del certificat"},
      {"not PKCS#12", "ca.pem", "ca.pem", "client.pass", 1, "no \x82s un certificat PKCS#12"},
      {"a wrong password", "client.p12", "ca.pem", root_.Dir() + "wrong.pass", 1, "La contrasenya no obre"},
      {"a password others may read", "client.p12", "ca.pem", exposed, 1, "Altres usuaris poden llegir"},
      {"an expired certificate", "expired.p12", "ca.pem", "client.pass", 1, "El certificat va caducar el 2021-01-01"},
      {"a server that does not verify", "client.p12", "other-ca.pem", "client.pass", 3,
       "El certificat del servidor no es pot verificar"},
  };
  ForEachRow(cases, [&](const Case& c) {
    WriteSettings(c.certificate, c.authorities, c.password);
    EXPECT_EQ(Send(), c.exitCode) << out_ << err_;
    EXPECT_NE(err_.find(Utf8FromCp858(c.said)), std::string::npos) << err_;
    EXPECT_EQ(States(1), "-");
  });
  EXPECT_TRUE(Requests().empty());

  // One sender per root: a second one leaves the records to the first.
  WriteSettings();
  {
    SenderLock held(root_.Dir() + "DADES/EnviFact.lck");
    ASSERT_TRUE(held.Held());
    EXPECT_EQ(Send(), 3);
    EXPECT_NE(err_.find("Ja hi ha un altre enviament"), std::string::npos) << err_;
  }
  EXPECT_EQ(Send(), 0) << out_ << err_;
  EXPECT_EQ(States(1), "C");

  // Answers of another register under this one's sequences, or an older
  // copy of the register put back under its answers: taken for nothing,
  // named, nothing sent.
  const std::string answersPath = root_.Dir() + "DADES/EnviFact.dat";
  const std::string sound = ReadAll(answersPath);
  struct Foreign {
    const char* name;
    int32_t sequence;  // the answers file's record changed
    std::function<void(std::string&)> change;
    std::vector<const char*> commands;
  };
  const Foreign foreigns[] = {
      {"an answer naming another invoice", 1, [](std::string& r) { r[SendingStateFields::Number.offset] ^= 0x04; },
       {"send", "verify", "resend A/00000001", "list", "export-csv states.csv"}},
      {"answered in full past the register's last record", 0,
       [](std::string& r) { r[SendingControlFields::AnsweredThrough.offset] = 9; }, {"send", "verify"}},
  };
  const std::string foreign = "El fitxer " + answersPath + " no es pot llegir o ha estat alterat";
  ForEachRow(foreigns, [&](const Foreign& c) {
    ASSERT_EQ(ChangeStoredRecord(answersPath, NumberKey(c.sequence), c.change), 0);
    for (const char* command : c.commands) {
      EXPECT_EQ(Send(command), 1) << command << ": " << out_ << err_;
      EXPECT_NE((out_ + err_).find(foreign), std::string::npos) << command << ": " << out_ << err_;
    }
    EXPECT_EQ(Requests().size(), 1u) << "nothing went";
    EXPECT_FALSE(fs::exists(root_.Dir() + "states.csv")) << "no states written that the answers could not give";
    std::ofstream(answersPath, std::ios::binary | std::ios::trunc) << sound;
  });

  // The answers file damaged: named as the file at fault, not the register.
  {
    std::fstream answers(root_.Dir() + "DADES/EnviFact.dat", std::ios::in | std::ios::out | std::ios::binary);
    answers.seekp(0);
    answers.write("not a record file", 17);
  }
  Register(1);
  EXPECT_EQ(Send(), 1) << out_ << err_;
  EXPECT_NE(err_.find("DADES/EnviFact.dat"), std::string::npos) << err_;
  EXPECT_EQ(err_.find("RegFact2"), std::string::npos) << err_;
  EXPECT_EQ(Send("verify"), 1) << out_ << err_;
  EXPECT_NE((out_ + err_).find("DADES/EnviFact.dat"), std::string::npos) << out_ << err_;
}

}  // namespace

TEST(SendingMode, KeptToTheEndOfEveryYearItWorkedInAndLeftOnlyAfterARenunciation) {
  struct Case {
    const char* name;
    int32_t worked;
    const char* endDate;  // the renunciation the agency has had
    int32_t thisYear;
    const char* from;     // the first day it may leave
    bool renounced;
  };
  const Case cases[] = {
      {"never sent", 0, "", 2026, "", false},
      {"worked this year", 2026, "", 2026, "20270101", false},
      {"worked last year, never renounced", 2025, "", 2026, "20270101", false},
      {"renounced this year", 2026, "31-12-2026", 2026, "20270101", true},
      {"renounced last year", 2026, "31-12-2026", 2027, "", true},
      {"worked on after the year renounced", 2027, "31-12-2026", 2027, "20280101", false},
  };
  ForEachRow(cases, [](const Case& c) {
    SendControl control;
    control.workedYear = c.worked;
    control.endDate = c.endDate;
    control.endSentAt = *c.endDate != '\0' ? "2026-12-01T10:00:00+01:00" : "";
    bool renounced = false;
    EXPECT_EQ(SendingModeLeavableFrom(control, c.thisYear, renounced), c.from);
    EXPECT_EQ(renounced, c.renounced);
  });
}

TEST_F(Sending, TheRenunciationGoesInTheNextMessageAndTheModeIsKeptToTheYearsEnd) {
  ASSERT_NO_FATAL_FAILURE(StartAgency("ok\nok\n"));
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const std::string year = std::to_string(local.tm_year + 1900);
  const std::string end = "31-12-" + year;
  // The records that wait go at once, the renunciation in their header.
  Register(1);
  ASSERT_EQ(Send("renounce"), 0) << err_;
  EXPECT_NE(out_.find("(FechaFinVeriFactu " + end + "): va amb el proper missatge"), std::string::npos) << out_;
  EXPECT_EQ(detached_, std::vector<int>{0});
  EXPECT_NE(Requests().back().line.find("\"fin\": \"" + end + "\""), std::string::npos) << Requests().back().line;
  EXPECT_NE(ReadAll(root_.Dir() + "DADES/EnviFact.log").find(Utf8FromCp858("ja t\x82 la ren\xa3ncia")),
            std::string::npos);
  // Once answered it goes no more, and renounce says the agency has it.
  Register(1);
  ASSERT_EQ(Send(), 0) << out_ << err_;
  EXPECT_NE(Requests().back().line.find("\"fin\": \"\""), std::string::npos) << Requests().back().line;
  ASSERT_EQ(Send("renounce"), 0) << err_;
  EXPECT_NE(out_.find(Utf8FromCp858("L'Ag\x8ancia ja t\x82 la ren\xa3ncia al mode envia (FechaFinVeriFactu " + end)),
            std::string::npos)
      << out_;
  EXPECT_EQ(detached_, std::vector<int>{});
  // Leaving the mode this year makes nothing, and says from when it may.
  root_.Write("Tarn.ini", "[Usuari]\r\nIdioma=CAT\r\n[Emissor]\r\nNom=Jordi Vilar\xa2\r\nNIF=ES12345678Z\r\n"
                          "[VeriFactu]\r\nMode=conserva\r\n");
  EXPECT_EQ(Send("cancel A/00000001"), 1) << out_ << err_;
  EXPECT_NE(err_.find("es pot deixar a partir del dia 1/1/" + std::to_string(local.tm_year + 1901) + "\n"),
            std::string::npos)
      << err_;
  EXPECT_EQ(States(3), "CC-");
}
