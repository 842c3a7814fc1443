#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "issuing/actions.h"
#include "issuing/issuer.h"
#include "issuing/words.h"
#include "records/records.h"
#include "recman/recman.h"
#include "register/register.h"
#include "signing/events.h"
#include "tests/support/register_entry.h"
#include "tests/support/table.h"
#include "tests/support/temp_root.h"

namespace {

// [Emissor] as offices write it: the NIF with "ES", blanks, dots, a dash and a
// small control letter, the name longer than a page line.
TEST(Issuer, ReadAsTheAgencyTakesIt) {
  struct Case {
    const char* name;
    std::string emissor;
    IssuerProblem problem;
    std::string nif;
    std::string written;
    std::string issuerName;
  };
  const std::string longName(120, 'N');
  const Case cases[] = {
      {"NIF written with ES, dots, a dash and a small letter", "NIF=ES 12.345.678-z\r\nNom= Finques Puig SL \r\n",
       IssuerProblem::None, "12345678Z", "ES 12.345.678-z", "Finques Puig SL"},
      {"entity NIF", "NIF=B12345674\r\nNom=Finques\r\n", IssuerProblem::None, "B12345674", "B12345674", "Finques"},
      {"a wrong control letter", "NIF=12345678A\r\nNom=Finques\r\n", IssuerProblem::BadNif, "", "12345678A", "Finques"},
      {"no NIF", "Nom=Finques\r\n", IssuerProblem::BadNif, "", "", "Finques"},
      {"no name", "NIF=12345678Z\r\n", IssuerProblem::NoName, "12345678Z", "12345678Z", ""},
      {"the longest name the agency takes, whole", "NIF=12345678Z\r\nNom=" + longName + "\r\n", IssuerProblem::None,
       "12345678Z", "12345678Z", longName},
      {"a name longer than that", "NIF=12345678Z\r\nNom=" + longName + "X\r\n", IssuerProblem::NameTooLong, "12345678Z",
       "12345678Z", longName + "X"},
  };
  ForEachRow(cases, [](const Case& c) {
    TempRoot root;
    root.Write("Tarn.ini", "[Emissor]\r\n" + c.emissor);
    Issuer issuer;
    EXPECT_EQ(ReadIssuer(root.Dir(), issuer), c.problem);
    EXPECT_EQ(issuer.nif, c.nif);
    EXPECT_EQ(issuer.written, c.written);
    EXPECT_EQ(issuer.name, c.issuerName);
  });
}

// Every layer has a range of its own, so that no two failures share a
// number, and each is named in words.
TEST(StatusWords, EachFailureToldApart) {
  struct Case {
    const char* name;
    int16_t status;
    const char* said;  // Catalan
  };
  const Case cases[] = {
      {"a damaged file", RmIoError, "2: fitxer malm\x8as"},
      {"another process holds the file", RmFileLocked, "85: un altre proc\x82s t\x82 el fitxer"},
      {"the register's tail lost", RegisterTailLost, "2002: al registre li falten els darrers registres"},
      {"an event not signed", EventNotSigned, "3001: no s'ha pogut signar l'esdeveniment"},
      {"a give-back journal not written", RegisterJournalStatus(ENOENT), "2102: no es pot escriure el diari dels rebuts"},
      {"the record layer's", RecordFileAlreadyOpen, "1002: "},
  };
  ForEachRow(cases, [](const Case& c) {
    EXPECT_EQ(StatusText(c.status, Language::Catalan).rfind(c.said, 0), 0u) << StatusText(c.status, Language::Catalan);
  });
  EXPECT_NE(EventNotSigned, RegisterTailLost);
  EXPECT_NE(RegisterJournalStatus(ENOENT), RecordFileAlreadyOpen);
  EXPECT_NE(StatusText(RegisterJournalStatus(ENOENT), Language::Spanish).find("diario de los recibos"), std::string::npos);
}

// The module's windows write messages in capitals, but the settings, files
// and commands they name stay as the user must type them.
TEST(IssuingWords, CapitalsKeepTheNamesTheyQuote) {
  IssuingProblem p = Refused(Refusal::IssuerName);
  EXPECT_EQ(IssuingProblemText(p, Language::Catalan, true), "FALTA EL NOM DE L'EMISSOR: Tarn.ini [Emissor] Nom");
  p = Refused(Refusal::Certificate, "/arrel/cert/pw");
  p.certificate = CertificateProblem::PasswordExposed;
  EXPECT_EQ(IssuingProblemText(p, Language::Spanish, true),
            "NO SE PUEDE FIRMAR EL REGISTRO CON EL CERTIFICADO DE [VeriFactu]; NO SE HA ESCRITO NADA: OTROS USUARIOS "
            "PUEDEN LEER O CAMBIAR EL FICHERO DE LA CONTRASE\xa5" "A /arrel/cert/pw: NO SE USA (chmod 600)");
  p = Refused(Refusal::NotWritten, "", RmDiskFull);
  EXPECT_EQ(IssuingProblemText(p, Language::Galician), "Non se pode escribir no rexistro de facturas (estado 18: disco cheo)");
}

// A corrective names its invoice's recipient as the agency allows for its
// type (its errors 1191, 1192, 1189), refused before anything is written.
TEST(CorrectiveRecipient, OnlyAsTheAgencyTakesItForTheType) {
  struct Case {
    const char* name;
    const char* recipient;
    const char* type;
    bool refused;
  };
  const Case cases[] = {
      {"R3 to a NIF", "ES40312876V", "R3", false},
      {"R3 to a NIF with a wrong letter", "ES40312876A", "R3", false},
      {"R3 to an EU VAT number", "FR40303265045", "R3", true},
      {"R2 to an EU VAT number", "EL094259216", "R2", false},
      {"R1 to an EU VAT number", "DE123456789", "R1", false},
      {"R1 to nobody identifiable", "DESCONOCIDO", "R1", true},
  };
  ForEachRow(cases, [](const Case& c) {
    RegisterEntry target = FeeInvoiceEntry("A", 7, "20270415", 10000);
    target.recipientTaxId = c.recipient;
    const IssuingProblem p = CheckCorrectiveRecipient(target, c.type);
    EXPECT_EQ(p.what, c.refused ? Refusal::RecipientNotForType : Refusal::None);
    if (c.refused) {
      EXPECT_NE(IssuingProblemText(p, Language::Catalan).find("A/00000007 " + std::string(c.type)), std::string::npos)
          << IssuingProblemText(p, Language::Catalan);
    }
  });
}

}  // namespace
