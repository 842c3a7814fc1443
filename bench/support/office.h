// The session a benchmark's production passes run in: a generated office
// (a suite root holding DADES/*.dat) with a fixed issuer and tax classes,
// the four data files opened as the module opens them.
#pragma once

#include <string>

#include "base/language.h"
#include "formatting/picture.h"
#include "invoicing/production.h"
#include "printing/spool.h"
#include "records/layouts.h"
#include "records/records.h"
#include "session/session.h"

// root and tempDir end in "/". False (nothing else said) when a data file
// cannot be opened.
inline bool OpenBenchOffice(const std::string& root, const std::string& tempDir) {
  Session.RootDir = root;
  Session.TempDir = tempDir;
  Session.Language = "CAT";
  SetRecordSettings({root, Language::Catalan});
  SetSpoolSettings({tempDir, "", Language::Catalan});
  for (auto& item : IssuerDetails) item = std::string(35, ' ');
  IssuerDetails[IssuerItem::Name].replace(0, 20, "ADMINISTRACIONS PUIG");
  IssuerDetails[IssuerItem::TaxNumber].replace(0, 11, "ES12345678Z");
  IssuerDetails[IssuerItem::Place].replace(0, 6, "Girona");
  TaxClasses[0] = TaxClass{"IVA", 21.0f, 21.0f, 15.0f, "A"};
  TaxClasses[1] = TaxClass{"IVA RED", 10.0f, 0.0f, 15.0f, "B"};
  SetCurrency("a,E");
  const int16_t ids[] = {OwnerFileId, PropertyFileId, UnitFileId, CollectionFileId};
  const char* names[] = {OwnerFileName, PropertyFileName, UnitFileName, CollectionFileName};
  const uint32_t sizes[] = {OwnerRecordSize, PropertyRecordSize, UnitRecordSize, CollectionRecordSize};
  for (int i = 0; i < 4; ++i) {
    int16_t status = 0;
    OpenRecordFile(ids[i], root + names[i], ModuleRecordArea(ids[i]), status, sizes[i]);
    if (status != 0) return false;
  }
  return true;
}
