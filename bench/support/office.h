// The session a benchmark's production passes run in: a generated office
// (a suite root holding DADES/*.dat) with a fixed issuer and tax classes,
// the four data files opened as the module opens them.
#pragma once

#include <cstdint>
#include <string>

#include "base/language.h"
#include "formatting/dates.h"
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

// One production pass over every owner and property of the open office, for
// the invoice date given as digits (YYYYMMDD), into a fresh spool file
// (PDF output, amounts shown in pesetas as the run shows them); numbering
// from 1. Returns the pass's status; pagesOut gets the number of pages.
inline int16_t RunWholeOfficePass(const char* invoiceDate, int32_t& pagesOut) {
  InvoiceParameters p;
  p.InvoiceDate = CodeFromText(invoiceDate);
  p.FromOwner = CodeFromText("0000");
  p.ToOwner = CodeFromText("9999");
  p.FromProperty = CodeFromText("0000");
  p.ToProperty = CodeFromText("9999");
  p.NextInvoiceNumber = 1;
  OpenPrintFile("PDF");
  SetCurrency("p");
  const int16_t status = ProduceInvoices(p);
  SetCurrency("");
  ClosePrintFile();
  pagesOut = p.NextInvoiceNumber - 1;
  return status;
}
