// A test authority and two certificates it issued, made once per test
// program with the openssl command: "issuer" for the NIF B12345678 and
// "other" for 12345678Z, each as a PKCS#12 file (issuer.p12, other.p12;
// renewed.p12 is a second one for 12345678Z, as when one is renewed)
// opened by the password in "pw" (mode 0600). Also "wrongpw" (0600, another
// password), "openpw" (the right one, readable by everyone) and
// "garbage.p12". ca.pem is the authority, for xmlsec1 --trusted-pem.
// "stranger" names the issuer's NIF too, issued by another authority
// (ca2.pem).
#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <utility>

#include "tests/support/temp_root.h"

class TestCertificates {
 public:
  static const TestCertificates& Get() {
    static TestCertificates certs;
    return certs;
  }
  bool Ok() const { return ok_; }
  std::string Path(const std::string& name) const { return root_.Dir() + name; }
  // Copies the files into folder (which must exist).
  bool CopyTo(const std::string& folder) const {
    return Shell("cp " + root_.Dir() + "* '" + folder + "' && chmod 600 '" + folder + "/pw' '" + folder + "/wrongpw'") == 0;
  }

 private:
  static int Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }
  TestCertificates() {
    const std::string d = "cd " + root_.Dir() + " && ";
    ok_ = Shell(d + "openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj '/CN=Autoritat de proves'"
                    " -keyout ca.key -out ca.pem") == 0;
    const std::pair<const char*, const char*> subjects[] = {
        {"issuer", "/CN=EMISSOR PROVES - B12345678/serialNumber=VATES-B12345678"},
        {"other", "/CN=UN ALTRE - 12345678Z/serialNumber=IDCES-12345678Z"},
        {"renewed", "/CN=UN ALTRE - 12345678Z/serialNumber=IDCES-12345678Z"}};
    for (const auto& [name, subject] : subjects) {
      const std::string n = name;
      ok_ = ok_ &&
            Shell(d + "openssl req -new -newkey rsa:2048 -nodes -subj '" + subject + "' -keyout " + n + ".key -out " +
                  n + ".csr") == 0 &&
            Shell(d + "openssl x509 -req -in " + n + ".csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 30 -out " + n +
                  ".pem") == 0 &&
            Shell(d + "openssl pkcs12 -export -inkey " + n + ".key -in " + n + ".pem -passout pass:secret -out " + n +
                  ".p12") == 0;
    }
    ok_ = ok_ &&
          Shell(d + "openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj '/CN=Una altra autoritat'"
                    " -keyout ca2.key -out ca2.pem") == 0 &&
          Shell(d + "openssl req -new -newkey rsa:2048 -nodes -subj '/CN=EMISSOR PROVES - B12345678/"
                    "serialNumber=VATES-B12345678' -keyout stranger.key -out stranger.csr") == 0 &&
          Shell(d + "openssl x509 -req -in stranger.csr -CA ca2.pem -CAkey ca2.key -CAcreateserial -days 30"
                    " -out stranger.pem") == 0 &&
          Shell(d + "openssl pkcs12 -export -inkey stranger.key -in stranger.pem -passout pass:secret"
                    " -out stranger.p12") == 0;
    root_.Write("pw", "secret\n");
    root_.Write("wrongpw", "other\n");
    root_.Write("openpw", "secret\n");
    root_.Write("garbage.p12", "not a certificate");
    ::chmod(Path("pw").c_str(), 0600);
    ::chmod(Path("wrongpw").c_str(), 0600);
    ::chmod(Path("openpw").c_str(), 0644);
  }
  TempRoot root_;
  bool ok_ = false;
};
