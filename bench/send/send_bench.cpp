// The sender over a large register:
//   send_bench INSTALL WORK COUNT...
// For each COUNT, WORK/<COUNT>/ gets a register of COUNT invoices with
// their XML (made as a run makes them, 5,000 to a transaction, in a child
// process; not timed),
// then RunSender sends them all to an in-process stand-in of the agency
// that answers every record Correcto with no wait. Printed per COUNT: the
// messages, the records a second of the whole send (the register's reads,
// the envelopes, the answers read and kept), and the highest memory the
// process owns (RssAnon) sampled at every message, before and during the
// send. The target: that figure the same for 100,000 records as for
// 10,000 (the sender holds one message at a time).
// Every run checks that every record was answered, so a send that stopped
// early never passes for a fast one.
// Last, the largest answer the sender accepts: a full message of 1000
// records answered with the lines padded to just under kLargestAnswer,
// read in a child of its own; printed: the answer's size and the child's
// peak resident memory before and after reading it (getrusage).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/support/memory.h"
#include "register/register.h"
#include "register/software.h"
#include "register/xml.h"
#include "sending/sender.h"
#include "sending/state.h"

namespace fs = std::filesystem;

namespace {

std::string Between(const std::string& text, const std::string& open, const std::string& close, size_t& at) {
  const size_t start = text.find(open, at);
  if (start == std::string::npos) return std::string();
  const size_t end = text.find(close, start + open.size());
  at = end;
  return text.substr(start + open.size(), end - start - open.size());
}

// The agency accepting every record of the message.
// Blanks added to the answer (between its lines) to make it this long.
size_t answerPadding = 0;

PostResult Accept(const std::string& body) {
  std::string answer =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><env:Envelope xmlns:env=\"http://schemas.xmlsoap.org/soap/envelope/\">"
      "<env:Body><sfR:RespuestaRegFactuSistemaFacturacion xmlns:sfR=\"https://www2.agenciatributaria.gob.es/"
      "static_files/common/internet/dep/aplicaciones/es/aeat/tike/cont/ws/RespuestaSuministro.xsd\" xmlns:sf=\"x\">"
      "<sfR:CSV>A-BENCH</sfR:CSV><sfR:TiempoEsperaEnvio>0</sfR:TiempoEsperaEnvio>"
      "<sfR:EstadoEnvio>Correcto</sfR:EstadoEnvio>";
  size_t at = 0;
  for (;;) {
    at = body.find("<sf:IDFactura>", at);
    if (at == std::string::npos) break;
    const std::string issuer = Between(body, "<sf:IDEmisorFactura>", "<", at);
    const std::string number = Between(body, "<sf:NumSerieFactura>", "<", at);
    const std::string date = Between(body, "<sf:FechaExpedicionFactura>", "<", at);
    answer += "<sfR:RespuestaLinea><sfR:IDFactura><sf:IDEmisorFactura>" + issuer +
              "</sf:IDEmisorFactura><sf:NumSerieFactura>" + number + "</sf:NumSerieFactura><sf:FechaExpedicionFactura>" +
              date + "</sf:FechaExpedicionFactura></sfR:IDFactura><sfR:EstadoRegistro>Correcto</sfR:EstadoRegistro>"
              "</sfR:RespuestaLinea>";
  }
  answer += "</sfR:RespuestaRegFactuSistemaFacturacion></env:Body></env:Envelope>";
  if (answerPadding > answer.size()) {
    const size_t first = answer.find("<sfR:RespuestaLinea>");
    if (first != std::string::npos) answer.insert(first, answerPadding - answer.size(), ' ');
  }
  PostResult result;
  result.failure = PostResult::Failure::None;
  result.httpStatus = 200;
  result.body = std::move(answer);
  return result;
}

class Quiet : public SendListener {
 public:
  void Answered(size_t, bool, const std::string&, size_t, size_t, size_t, size_t) override {
    ++messages;
    memory.Sample();
  }
  void RecordProblem(const SendAnswer&) override { ++problems; }
  void Waiting(int64_t, bool) override {}
  void Unsendable(const std::string&, int32_t) override { ++problems; }
  RssAnonPeak memory;
  int messages = 0;
  int problems = 0;
};

bool MakeRegister(const std::string& install, const std::string& dir, int count) {
  fs::create_directories(dir);
  InvoiceRegister reg;
  if (reg.Open(dir + "RegFact2.dat", install + "/ddf/RegFact2.xdf", false) != 0) return false;
  SoftwareIdentity software;
  std::string field;
  if (LoadSoftwareIdentity(install + "/", software, field) != SoftwareProblem::None) return false;
  const RecordXmlMaker xml = [&](const RegisterEntry& e, const RegisterEntry* previous) {
    return RegistroAltaXml(e, previous, "Jordi Vilar\xa2 i Puigdevall", software, "1");
  };
  for (int made = 0; made < count;) {
    std::vector<RegisterEntry> entries;
    for (int i = 0; i < 5000 && made < count; ++i) {
      ++made;
      RegisterEntry e;
      e.series = "A";
      e.number = made;
      e.date = "20270415";
      e.ownerCode = "\x80\x81";
      e.propertyCode = "\x80\x83";
      e.issuerTaxId = "12345678Z";
      e.recipientTaxId = "ES40312876V";
      e.recipientName = "Montserrat Puig Serrat";
      e.base = 10000 + made % 5000;
      e.vatRate = 2100;
      e.vat = e.base * 21 / 100;
      e.total = e.base + e.vat;
      entries.push_back(std::move(e));
    }
    RegisterRefusal refusal;
    if (reg.Append(entries, GenerationTimeNow, refusal, {}, xml) != 0) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: send_bench INSTALL WORK COUNT...\n");
    return 2;
  }
  const std::string install = argv[1];
  bool sound = true;
  for (int a = 3; a < argc; ++a) {
    const int count = std::atoi(argv[a]);
    const std::string dir = std::string(argv[2]) + "/" + std::to_string(count) + "/";
    fs::remove_all(dir);
    // Made in a child, so that the making's memory is not the sender's.
    const pid_t maker = ::fork();
    if (maker == 0) ::_exit(MakeRegister(install, dir, count) ? 0 : 1);
    int status = 0;
    if (maker < 0 || ::waitpid(maker, &status, 0) != maker || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      std::fprintf(stderr, "send_bench: cannot make the register in %s\n", dir.c_str());
      return 1;
    }
    Quiet listener;
    listener.memory.Sample();
    const long before = listener.memory.Highest();
    SenderSetup setup;
    setup.registerPath = dir + "RegFact2.dat";
    setup.statePath = dir + "EnviFact.dat";
    setup.filer = {"Jordi Vilar\xa2 i Puigdevall", "12345678Z"};
    setup.post = Accept;
    setup.now = [] { return int64_t{0}; };
    setup.sleep = [](int64_t) {};
    setup.timestamp = GenerationTimeNow;
    const auto start = std::chrono::steady_clock::now();
    const SendResult result = RunSender(setup, listener);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    int64_t pending = 0, rejected = 0;
    const int16_t counted = SendingCounts(setup.registerPath, setup.statePath, pending, rejected);
    const bool complete = result.end == SendEnd::Empty && result.sent == count && counted == 0 && pending == 0 &&
                          listener.problems == 0;
    sound = sound && complete;
    std::printf("%7d records: %4d messages, %8.0f records/s, RssAnon %.1f MiB before, %.1f MiB at most while sending%s\n",
                count, listener.messages, count / seconds, static_cast<double>(before) / 1024.0,
                listener.memory.MiB(), complete ? "" : "  INCOMPLETE");
    fs::remove_all(dir);
  }
  // The largest answer accepted, read by a sender in a child of its own.
  const std::string dir = std::string(argv[2]) + "/largest/";
  fs::remove_all(dir);
  std::fflush(stdout);
  const pid_t reader = ::fork();
  if (reader == 0) {
    if (!MakeRegister(install, dir, static_cast<int>(kRecordsPerMessage))) ::_exit(1);
    answerPadding = kLargestAnswer - 4096;
    struct rusage before = {}, after = {};
    ::getrusage(RUSAGE_SELF, &before);
    Quiet listener;
    SenderSetup setup;
    setup.registerPath = dir + "RegFact2.dat";
    setup.statePath = dir + "EnviFact.dat";
    setup.filer = {"Jordi Vilar\xa2 i Puigdevall", "12345678Z"};
    setup.post = Accept;
    setup.now = [] { return int64_t{0}; };
    setup.sleep = [](int64_t) {};
    setup.timestamp = GenerationTimeNow;
    const SendResult result = RunSender(setup, listener);
    ::getrusage(RUSAGE_SELF, &after);
    const bool complete = result.end == SendEnd::Empty && result.sent == static_cast<int64_t>(kRecordsPerMessage);
    std::printf("largest answer accepted (%.1f MiB): peak resident %.1f MiB before reading it, %.1f MiB after%s\n",
                static_cast<double>(answerPadding) / 1048576.0, static_cast<double>(before.ru_maxrss) / 1024.0,
                static_cast<double>(after.ru_maxrss) / 1024.0, complete ? "" : "  INCOMPLETE");
    std::fflush(stdout);
    ::_exit(complete ? 0 : 1);
  }
  int status = 0;
  sound = sound && reader > 0 && ::waitpid(reader, &status, 0) == reader && WIFEXITED(status) &&
          WEXITSTATUS(status) == 0;
  fs::remove_all(dir);
  return sound ? 0 : 1;
}
