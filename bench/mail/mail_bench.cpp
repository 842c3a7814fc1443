// Invoices by e-mail, 1,000 messages: SendInvoiceMail to a local SMTP
// server (tests/suite/smtp_server.py, aiosmtpd, STARTTLS and a login),
// one invoice of a 30 KB PDF to each of 1,000 owners, the send log flushed
// before and after each message as in use. Prints wall and CPU time per
// message of this process (the server's own time apart).
//   mail_bench [MESSAGES]
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "mail/sending.h"
#include "mail/settings.h"
#include "recman/recman.h"
#include "records/dictionaries.h"
#include "records/layouts.h"

namespace fs = std::filesystem;

namespace {

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::string Code(int n) {
  std::string code;
  code += static_cast<char>(128 + n / 100);
  code += static_cast<char>(128 + n % 100);
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  const int messages = argc > 1 ? std::atoi(argv[1]) : 1000;
  char pattern[] = "/tmp/mail-bench-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) return 1;
  const std::string dir = std::string(pattern) + "/";
  fs::create_directories(dir + "DADES");
  fs::create_directories(dir + "ARXIU");
  fs::create_directories(dir + "out");
  const std::string certificates =
      "cd '" + dir + "' && (openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout ca.key "
      "-out ca.pem -subj /CN=CA -days 2 && openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
      "-keyout srv.key -out srv.csr -subj /CN=localhost && printf 'subjectAltName=DNS:localhost\\n' > san && "
      "openssl x509 -req -in srv.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out srv.pem -days 2 -extfile san) "
      "> openssl.log 2>&1";
  if (std::system(certificates.c_str()) != 0) return 1;
  std::ofstream(dir + "pw") << "bench-pass\n";
  ::chmod((dir + "pw").c_str(), 0600);

  // Addresses, a PDF per invoice (not drawn: its size is what counts here).
  const std::string file = dir + "DADES/CorreuV.dat";
  uint8_t block[128] = {};
  char key[256] = {};
  file.copy(key, file.size());
  std::string spec = CreationSpecification(MailAddressDictionaryBaseName);
  uint32_t length = static_cast<uint32_t>(spec.size());
  if (RecordManagerCall(RmCreate, block, spec.data(), &length, key, 255, -1) != 0) return 1;
  length = 0;
  if (RecordManagerCall(RmOpen, block, nullptr, &length, key, 255, 0) != 0) return 1;
  std::vector<RegisterEntry> entries;
  const std::string pdf = "%PDF-1.4\n" + std::string(30000, 'x') + "\n%%EOF\n";
  for (int n = 1; n <= messages; ++n) {
    uint8_t record[MailAddressRecordSize];
    std::memset(record, ' ', sizeof record);
    SetMailOwnerCode(record, Code(n));
    SetMailAddress(record, 1, "owner" + std::to_string(n) + "@example.com");
    length = sizeof record;
    if (RecordManagerCall(RmInsert, block, record, &length, key, 255, 0) != 0) return 1;
    RegisterEntry e;
    e.series = "A";
    e.number = n;
    e.date = "20261208";
    e.ownerCode = Code(n);
    e.recipientName = "Propietari " + std::to_string(n);
    e.total = 12100 + n;
    entries.push_back(e);
    std::ofstream(InvoicePdfHostPath(dir, e), std::ios::binary) << pdf;
  }
  length = 0;
  static_cast<void>(RecordManagerCall(RmClose, block, nullptr, &length, key, 255, 0));

  const std::string server = "/usr/bin/python3 '" KORVADEL_SOURCE_DIR "/tests/suite/smtp_server.py' --cert '" + dir +
                             "srv.pem' --key '" + dir + "srv.key' --user bench --password bench-pass --out '" + dir +
                             "out' --port-file '" + dir + "port' --lifetime 3600 2> '" + dir + "server.log'";
  FILE* child = ::popen(server.c_str(), "w");
  for (int i = 0; i < 300 && !fs::exists(dir + "port"); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::string port;
  std::ifstream(dir + "port") >> port;
  std::ofstream(dir + "Tarn.ini") << "[Emissor]\r\nNom=Gestoria\r\n[Correu]\r\nActiu=S\r\nServidor=localhost\r\nPort="
                                  << port << "\r\nUsuari=bench\r\nClauUsuari=" << dir
                                  << "pw\r\nRemitent=factures@example.com\r\nCAServidor=" << dir << "ca.pem\r\n";
  MailRun run;
  run.rootDir = dir;
  MailReport report;
  std::string problem;
  const double cpu0 = CpuSeconds();
  const auto wall0 = std::chrono::steady_clock::now();
  const bool started = SendInvoiceMail(run, entries, report, problem);
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
  const double cpu = CpuSeconds() - cpu0;
  if (child != nullptr) ::pclose(child);
  std::printf("messages %d sent %d failed %d%s\n", messages, report.sent, report.failed, started ? "" : " (not started)");
  std::printf("wall %.3f s (%.3f ms per message), CPU %.3f s (%.3f ms per message)\n", wall, 1000 * wall / messages,
              cpu, 1000 * cpu / messages);
  std::error_code ignored;
  fs::remove_all(dir, ignored);
  return started && report.sent == messages ? 0 : 1;
}
