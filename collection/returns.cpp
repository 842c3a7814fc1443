#include "collection/returns.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstring>
#include <memory>

#include "base/text.h"

namespace {

struct DocFree {
  void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};

bool Named(const xmlNode* node, const char* name) {
  return node != nullptr && node->type == XML_ELEMENT_NODE &&
         std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

const xmlNode* Child(const xmlNode* node, const char* name) {
  if (node == nullptr) return nullptr;
  for (const xmlNode* c = node->children; c != nullptr; c = c->next) {
    if (Named(c, name)) return c;
  }
  return nullptr;
}

std::vector<const xmlNode*> Children(const xmlNode* node, const char* name) {
  std::vector<const xmlNode*> found;
  if (node == nullptr) return found;
  for (const xmlNode* c = node->children; c != nullptr; c = c->next) {
    if (Named(c, name)) found.push_back(c);
  }
  return found;
}

// The node at a path of child names ("Rsn/Cd"), or null.
const xmlNode* At(const xmlNode* node, const char* path) {
  std::string names = path;
  size_t start = 0;
  while (node != nullptr && start <= names.size()) {
    const size_t slash = names.find('/', start);
    node = Child(node, names.substr(start, slash == std::string::npos ? std::string::npos : slash - start).c_str());
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return node;
}

std::string Text(const xmlNode* node) {
  if (node == nullptr) return {};
  xmlChar* content = xmlNodeGetContent(node);
  std::string text = content != nullptr ? reinterpret_cast<const char*>(content) : "";
  xmlFree(content);
  return Trim(text);
}

// A pain.002 status as a collection state: None for a status that says
// nothing final (PDNG, PART, RCVD).
CollectionState StateOfStatus(const std::string& status) {
  if (status == "RJCT") return CollectionState::Rejected;
  for (const char* accepted : {"ACCP", "ACSC", "ACSP", "ACTC", "ACWC"}) {
    if (status == accepted) return CollectionState::Collected;
  }
  return CollectionState::None;
}

std::string Reason(const xmlNode* node) {
  std::string reason = Text(At(node, "StsRsnInf/Rsn/Cd"));
  if (reason.empty()) reason = Text(At(node, "StsRsnInf/Rsn/Prtry"));
  return reason;
}

void ReadPaymentStatus(const xmlNode* report, StatusReading& r) {
  const xmlNode* group = Child(report, "OrgnlGrpInfAndSts");
  const std::string messageId = Text(Child(group, "OrgnlMsgId"));
  bool anyTransaction = false;
  for (const xmlNode* block : Children(report, "OrgnlPmtInfAndSts")) {
    const std::vector<const xmlNode*> transactions = Children(block, "TxInfAndSts");
    for (const xmlNode* t : transactions) {
      const CollectionState state = StateOfStatus(Text(Child(t, "TxSts")));
      const std::string id = Text(Child(t, "OrgnlEndToEndId"));
      anyTransaction = true;
      if (state != CollectionState::None && !id.empty())
        r.items.push_back(StatusItem{messageId, "", id, state, state == CollectionState::Rejected ? Reason(t) : ""});
    }
    const CollectionState blockState = StateOfStatus(Text(Child(block, "PmtInfSts")));
    if (transactions.empty() && blockState != CollectionState::None) {
      anyTransaction = true;
      r.items.push_back(StatusItem{messageId, Text(Child(block, "OrgnlPmtInfId")), "", blockState,
                                   blockState == CollectionState::Rejected ? Reason(block) : ""});
    }
  }
  const CollectionState groupState = StateOfStatus(Text(Child(group, "GrpSts")));
  if (!anyTransaction && groupState != CollectionState::None && !messageId.empty())
    r.items.push_back(StatusItem{messageId, "", "", groupState, groupState == CollectionState::Rejected ? Reason(group) : ""});
}

void ReadNotification(const xmlNode* notification, StatusReading& r) {
  for (const xmlNode* n : Children(notification, "Ntfctn")) {
    for (const xmlNode* entry : Children(n, "Ntry")) {
      const bool reversal = Text(Child(entry, "RvslInd")) == "true";
      for (const xmlNode* details : Children(entry, "NtryDtls")) {
        for (const xmlNode* t : Children(details, "TxDtls")) {
          const std::string id = Text(At(t, "Refs/EndToEndId"));
          if (id.empty() || id == "NOTPROVIDED") continue;
          const xmlNode* returned = Child(t, "RtrInf");
          StatusItem item{Text(At(t, "Refs/MsgId")), "", id, CollectionState::Collected, ""};
          if (returned != nullptr || reversal) {
            item.state = CollectionState::Returned;
            item.reason = Text(At(returned, "Rsn/Cd"));
            if (item.reason.empty()) item.reason = Text(At(returned, "Rsn/Prtry"));
          }
          r.items.push_back(item);
        }
      }
    }
  }
}

}  // namespace

StatusReading ReadStatusFile(const std::string& bytes) {
  StatusReading r;
  std::unique_ptr<xmlDoc, DocFree> doc(xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), "status.xml", nullptr,
                                                     XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
  if (!doc) {
    r.fault = StatusReading::Fault::NotXml;
    const xmlError* e = xmlGetLastError();
    r.detail = e != nullptr && e->message != nullptr ? Trim(e->message) : "?";
    return r;
  }
  const xmlNode* root = xmlDocGetRootElement(doc.get());
  const xmlNode* report = Child(root, "CstmrPmtStsRpt");
  const xmlNode* notification = Child(root, "BkToCstmrDbtCdtNtfctn");
  if (!Named(root, "Document") || (report == nullptr && notification == nullptr)) {
    r.fault = StatusReading::Fault::Foreign;
    r.detail = root != nullptr ? reinterpret_cast<const char*>(root->name) : "?";
    if (Named(root, "Document") && root->children != nullptr) {
      for (const xmlNode* c = root->children; c != nullptr; c = c->next) {
        if (c->type == XML_ELEMENT_NODE) {
          r.detail += std::string("/") + reinterpret_cast<const char*>(c->name);
          break;
        }
      }
    }
    return r;
  }
  if (report != nullptr) {
    r.kind = StatusFileKind::PaymentStatus;
    ReadPaymentStatus(report, r);
  } else {
    r.kind = StatusFileKind::Notification;
    ReadNotification(notification, r);
  }
  if (r.items.empty()) r.fault = StatusReading::Fault::Empty;
  return r;
}
