#include "signing/check.h"

#include <climits>

#include "recman/recman.h"
#include "register/agency.h"
#include "register/chain.h"
#include "signing/keeping.h"

namespace {

using S = SignedRecordFields;

std::string SignatureDetail(SignatureStatus status) {
  switch (status) {
    case SignatureStatus::Valid: return "";
    case SignatureStatus::Missing: return "firma absent";
    case SignatureStatus::Unreadable: return "firma illegible";
    case SignatureStatus::Broken: return "firma no concorda amb les dades";
    case SignatureStatus::WrongProperties: return "propietats de la firma no concorden";
    case SignatureStatus::NotIssuer: return "certificat d'un altre NIF";
    case SignatureStatus::OutsideValidity: return "certificat no vigent en la data";
    case SignatureStatus::Untrusted: return "certificat d'una autoritat no admesa (CAFirma)";
  }
  return "";
}

// The signed text of a record is the register's text as made (from its
// first tag), the signature placed before its end tag and one line end
// after each: anything else, a byte added or taken at either end included,
// is not the record as made.
bool SameRecord(const std::string& unsignedXml, const std::string& signedXml) {
  static const std::string kSignatureEnd = "</ds:Signature>\n";
  const size_t signature = signedXml.find("<ds:Signature");
  const size_t after = signedXml.rfind(kSignatureEnd);
  const size_t end = unsignedXml.rfind("</");
  if (signature == std::string::npos || after == std::string::npos || after < signature || end == std::string::npos)
    return false;
  size_t start = 0;
  while (start < unsignedXml.size() && (unsignedXml[start] == ' ' || unsignedXml[start] == '\n')) ++start;
  size_t last = unsignedXml.size();
  while (last > end && (unsignedXml[last - 1] == ' ' || unsignedXml[last - 1] == '\n')) --last;
  const size_t rest = after + kSignatureEnd.size();
  return start <= end && signedXml.compare(0, signature, unsignedXml, start, end - start) == 0 &&
         signedXml.size() == rest + (last - end) + 1 && signedXml.compare(rest, last - end, unsignedXml, end, last - end) == 0 &&
         signedXml.back() == '\n';
}

int64_t Seconds(const std::string& iso) {
  int64_t s = 0;
  return GenerationTimeSeconds(iso, s) ? s : INT64_MIN;
}

class Checker {
 public:
  Checker(const CheckInput& input, const SignatureVerifier& verifier)
      : in_(input), verifier_(verifier) {}

  void Record(size_t i) {
    const RegisterEntry& e = in_.chain[i];
    const RegisterEntry* previous = i == 0 ? nullptr : &in_.chain[i - 1];
    ++report_.records;
    auto kept = in_.signedRecords.find(e.sequence);
    const RecordCheck r = CheckOneRecord(e, previous, kept == in_.signedRecords.end() ? nullptr : &kept->second,
                                         in_.events, in_.now, &verifier_);
    if (!r.sequenceFollows) {
      AddRecord(AnomalyType::PreviousMissing, e,
                "sequencia " + std::to_string(e.sequence) + ", calia " + std::to_string(r.expectedSequence));
    } else if (!r.linksToPrevious) {
      AddRecord(AnomalyType::PreviousFingerprint, e, "huella anterior no concorda");
    }
    if (!r.fingerprintMatches) AddRecord(AnomalyType::Fingerprint, e, "huella no concorda");
    if (!r.sealMatches) AddRecord(AnomalyType::IntegrityOther, e, "segell del registre no concorda");
    if (!r.timeInOrder) AddRecord(AnomalyType::TimeBeforePrevious, e, "hora anterior a la del registre previ");
    if (!r.timeNotFuture) AddRecord(AnomalyType::TimeInFuture, e, "hora posterior a l'actual");
    if (!r.mustBeSigned) return;
    if (!r.signatureKept) AddRecord(AnomalyType::Signature, e, "registre sense firma");
    else if (r.signature != SignatureStatus::Valid) AddRecord(AnomalyType::Signature, e, SignatureDetail(r.signature));
    else if (!r.signedIsRecord) AddRecord(AnomalyType::IntegrityOther, e, "XML firmat diferent del registre");
  }

  void Event(size_t i) {
    const EventEntry& e = in_.events[i];
    const EventEntry* previous = i == 0 ? nullptr : &in_.events[i - 1];
    ++report_.events;
    const int32_t expected = previous != nullptr ? previous->sequence + 1 : 1;
    if (e.sequence != expected) {
      AddEvent(AnomalyType::PreviousMissing, e, "sequencia " + std::to_string(e.sequence) + ", calia " + std::to_string(expected));
    } else if (e.previousFingerprint != (previous != nullptr ? previous->fingerprint : std::string())) {
      AddEvent(AnomalyType::PreviousFingerprint, e, "huella anterior no concorda");
    }
    if (e.fingerprint != Sha256Hex(EventFingerprintText(in_.identity, e.type, e.previousFingerprint, e.generatedAt)))
      AddEvent(AnomalyType::Fingerprint, e, "huella no concorda");
    const int64_t made = Seconds(e.generatedAt);
    if (previous != nullptr && made < Seconds(previous->generatedAt))
      AddEvent(AnomalyType::TimeBeforePrevious, e, "hora anterior a la de l'event previ");
    if (made > in_.now + 60) AddEvent(AnomalyType::TimeInFuture, e, "hora posterior a l'actual");
    const SignatureStatus status = verifier_.Check(e.xml, in_.identity.issuerNif, made);
    if (status != SignatureStatus::Valid) {
      AddEvent(AnomalyType::Signature, e, SignatureDetail(status));
      return;
    }
    // The record's fields are the ones signed, and the text kept is the
    // whole signed document, as written.
    static const std::string kEventEnd = "</sf:RegistroEvento>\n";
    const bool same = e.xml.find("<sf:TipoEvento>" + e.type + "</sf:TipoEvento>\n") != std::string::npos &&
                      e.xml.find("<sf:FechaHoraHusoGenEvento>" + e.generatedAt + "</sf:FechaHoraHusoGenEvento>\n") != std::string::npos &&
                      e.xml.find("<sf:HuellaEvento>" + e.fingerprint + "</sf:HuellaEvento>\n") != std::string::npos &&
                      e.xml.find("<sf:OtrosDatosEvento>" + TailText(e.tailSequence, e.tailFingerprint) + "</sf:OtrosDatosEvento>") != std::string::npos &&
                      e.xml.size() > kEventEnd.size() &&
                      e.xml.compare(e.xml.size() - kEventEnd.size(), kEventEnd.size(), kEventEnd) == 0;
    if (!same) AddEvent(AnomalyType::IntegrityOther, e, "camps diferents dels firmats");
  }

  // The register's last record against the one the last event names.
  void Tail() {
    const LogTail tail = TailRule(in_.chain, in_.events);
    const RegisterEntry shown = in_.chain.empty() ? RegisterEntry{} : in_.chain.back();
    if (tail.state == LogTail::State::Cut) {
      AddRecord(AnomalyType::NextMissing, shown,
                "el registre acaba en " + std::to_string(shown.sequence) + "; el log diu " + std::to_string(tail.noted));
    } else if (tail.state == LogTail::State::Replaced) {
      for (const RegisterEntry& e : in_.chain)
        if (e.sequence == tail.noted)
          AddRecord(AnomalyType::ChainOther, e,
                    "el registre " + std::to_string(tail.noted) + " no es el que el log anota (copia antiga?)");
    }
  }

  // The log against its anchor: cut short of it, or another log.
  void EventTail() {
    if (!in_.anchored) return;
    const EventEntry* held = nullptr;
    for (const EventEntry& e : in_.events)
      if (e.sequence == in_.eventAnchor.sequence) held = &e;
    const EventEntry shown = in_.events.empty() ? EventEntry{} : in_.events.back();
    if (held == nullptr)
      AddEvent(AnomalyType::NextMissing, shown,
               "el log acaba en " + std::to_string(shown.sequence) + "; l'ancora diu " +
                   std::to_string(in_.eventAnchor.sequence));
    else if (held->fingerprint != in_.eventAnchor.fingerprint)
      AddEvent(AnomalyType::ChainOther, *held,
               "l'esdeveniment " + std::to_string(held->sequence) + " no es el que l'ancora anota (log substituit?)");
  }

  CheckReport report_;

 private:
  void AddRecord(AnomalyType type, const RegisterEntry& e, const std::string& detail) {
    Finding f;
    f.type = type;
    f.sequence = e.sequence;
    f.record = e;
    f.detail = detail;
    report_.findings.push_back(std::move(f));
  }
  void AddEvent(AnomalyType type, const EventEntry& e, const std::string& detail) {
    Finding f;
    f.onEvents = true;
    f.type = type;
    f.sequence = e.sequence;
    f.event = e;
    f.detail = detail;
    report_.findings.push_back(std::move(f));
  }

  const CheckInput& in_;
  const SignatureVerifier& verifier_;
};

}  // namespace

int16_t SignAndKeep(const std::vector<RegisterEntry>& written, const SigningKey& key, KeptFile& signedFile,
                    std::string& errorOut) {
  std::vector<KeptRecord> records;
  records.reserve(written.size());
  for (const RegisterEntry& e : written) {
    std::string signedXml;
    if (e.xml.empty() || !key.Sign(e.xml, "", e.generatedAt, e.fingerprint, signedXml, errorOut) ||
        signedXml.size() > S::Xml.width) {
      if (errorOut.empty()) errorOut = e.xml.empty() ? "no XML" : "too long";
      return EventNotSigned;
    }
    std::vector<uint8_t> rec(KeptRecordSize, ' ');
    PutFieldInt32(rec.data(), S::Sequence, e.sequence);
    PutFieldText(rec.data(), S::Fingerprint, e.fingerprint);
    PutFieldInt32(rec.data(), S::XmlLength, static_cast<int32_t>(signedXml.size()));
    PutFieldBytes(rec.data(), S::Xml, signedXml);
    records.push_back({e.sequence, std::string(rec.begin(), rec.end())});
  }
  return signedFile.Replace(records);
}

RecordCheck CheckOneRecord(const RegisterEntry& e, const RegisterEntry* previous, const KeptRecord* kept,
                           const std::vector<EventEntry>& events, int64_t now, const SignatureVerifier* verifier) {
  RecordCheck r;
  r.expectedSequence = previous != nullptr ? previous->sequence + 1 : 1;
  r.sequenceFollows = e.sequence == r.expectedSequence;
  r.linksToPrevious = e.previousFingerprint == (previous != nullptr ? previous->fingerprint : std::string());
  r.fingerprintMatches = e.fingerprint == ComputeFingerprint(e);
  r.sealMatches = e.seal == ComputeSeal(e, previous != nullptr ? previous->seal : std::string());
  const int64_t made = Seconds(e.generatedAt);
  r.timeInOrder = previous == nullptr || made >= Seconds(previous->generatedAt);
  r.timeNotFuture = made <= now + 60;
  r.mustBeSigned = verifier != nullptr && e.layout == 2 && MustBeSigned(events, e.sequence);
  if (!r.mustBeSigned) return r;
  const std::string signedXml = kept == nullptr ? std::string() : SignedXmlOf(*kept, e);
  r.signatureKept = !signedXml.empty();
  if (!r.signatureKept) return r;
  r.signature = verifier->Check(signedXml, e.issuerTaxId, made);
  r.signedIsRecord = r.signature == SignatureStatus::Valid && SameRecord(e.xml, signedXml);
  return r;
}

std::string SignedXmlOf(const KeptRecord& record, const RegisterEntry& entry) {
  if (KeptText(record.bytes, S::Fingerprint) != entry.fingerprint) return std::string();
  return KeptXml(record.bytes, S::XmlLength, S::Xml);
}

bool MustBeSigned(const std::vector<EventEntry>& events, int32_t sequence) {
  bool on = false;
  int32_t from = 0;
  for (const EventEntry& e : events) {
    if (e.Is(EventType::ModeStart) && !on) {
      on = true;
      from = e.tailSequence;
    } else if (e.Is(EventType::ModeEnd) && on) {
      on = false;
      if (sequence > from && sequence <= e.tailSequence) return true;
    }
  }
  return on && sequence > from;
}

CheckReport CheckEverything(const CheckInput& input, const SignatureVerifier& verifier) {
  Checker checker(input, verifier);
  for (size_t i = 0; i < input.chain.size(); ++i) checker.Record(i);
  checker.Tail();
  for (size_t i = 0; i < input.events.size(); ++i) checker.Event(i);
  checker.EventTail();
  return checker.report_;
}

CheckReport CheckRecord(const CheckInput& input, size_t index, const SignatureVerifier& verifier) {
  Checker checker(input, verifier);
  if (index < input.chain.size()) checker.Record(index);
  return checker.report_;
}

bool AnomalyStands(const std::vector<EventEntry>& events) {
  bool stands = false;
  for (const EventEntry& e : events) {
    if (e.Is(EventType::RecordCheck) || e.Is(EventType::Restored)) stands = false;
    if (e.Is(EventType::RecordAnomaly) || e.Is(EventType::EventAnomaly)) stands = true;
  }
  return stands;
}
