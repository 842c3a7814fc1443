#include "signing/canonical.h"

#include <algorithm>
#include <cstdint>

#include "base/codepage.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n'; }

bool NameStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }

bool NameChar(char c) { return NameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.'; }

bool XmlChar(uint32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
         (c >= 0x10000 && c <= 0x10FFFF);
}


// One character of text or attribute value as the canonical form writes it.
void AppendEscaped(uint32_t c, bool attribute, std::string& out) {
  switch (c) {
    case '&': out += "&amp;"; return;
    case '<': out += "&lt;"; return;
    case '>': out += attribute ? ">" : "&gt;"; return;
    case '"': out += attribute ? "&quot;" : "\""; return;
    case 0x9: out += attribute ? "&#x9;" : "\t"; return;
    case 0xA: out += attribute ? "&#xA;" : "\n"; return;
    case 0xD: out += "&#xD;"; return;
    default: AppendUtf8(out, c);
  }
}

class Reader {
 public:
  Reader(std::string_view xml, size_t mark, std::string& out, NamespaceList& inScope)
      : x_(xml), mark_(mark), out_(out), inScope_(inScope) {}

  bool Document() {
    out_.clear();
    out_.reserve(x_.size() + x_.size() / 8);
    SkipBlanks();
    if (!At('<') || !Element()) return false;
    SkipBlanks();
    return p_ == x_.size() && marked_;
  }

 private:
  struct Open {
    std::string_view name;
    size_t namespaces;  // size of ns_ before the element's own declarations
  };

  bool At(char c) const { return p_ < x_.size() && x_[p_] == c; }
  bool Starts(std::string_view s) const { return x_.substr(p_, s.size()) == s; }
  void SkipBlanks() {
    while (p_ < x_.size() && IsBlank(x_[p_])) ++p_;
  }

  // A name with at most one colon: prefix and local part.
  bool Name(std::string_view& name) {
    const size_t start = p_;
    bool colon = false;
    if (p_ >= x_.size() || !NameStart(x_[p_])) return false;
    while (p_ < x_.size()) {
      const char c = x_[p_];
      if (c == ':' && !colon && p_ + 1 < x_.size() && NameStart(x_[p_ + 1])) {
        colon = true;
        p_ += 2;
      } else if (NameChar(c)) {
        ++p_;
      } else {
        break;
      }
    }
    name = x_.substr(start, p_ - start);
    return true;
  }

  // One character of text: a reference decoded, UTF-8 checked. False at
  // what the subset refuses.
  bool Char(uint32_t& c) {
    const unsigned char b = static_cast<unsigned char>(x_[p_]);
    if (b == '&') return Reference(c);
    if (b < 0x80) {
      if (b == '\r' || (b < 0x20 && b != '\t' && b != '\n')) return false;
      c = b;
      ++p_;
      return true;
    }
    size_t extra = 0;
    uint32_t min = 0;
    if ((b & 0xE0) == 0xC0) extra = 1, c = b & 0x1F, min = 0x80;
    else if ((b & 0xF0) == 0xE0) extra = 2, c = b & 0x0F, min = 0x800;
    else if ((b & 0xF8) == 0xF0) extra = 3, c = b & 0x07, min = 0x10000;
    else return false;
    if (p_ + extra >= x_.size()) return false;
    for (size_t i = 1; i <= extra; ++i) {
      const unsigned char n = static_cast<unsigned char>(x_[p_ + i]);
      if ((n & 0xC0) != 0x80) return false;
      c = (c << 6) | (n & 0x3F);
    }
    p_ += extra + 1;
    return c >= min && XmlChar(c);
  }

  bool Reference(uint32_t& c) {
    const size_t end = x_.find(';', p_);
    if (end == std::string_view::npos || end - p_ > 12) return false;
    const std::string_view ref = x_.substr(p_ + 1, end - p_ - 1);
    p_ = end + 1;
    if (ref == "amp") c = '&';
    else if (ref == "lt") c = '<';
    else if (ref == "gt") c = '>';
    else if (ref == "quot") c = '"';
    else if (ref == "apos") c = '\'';
    else if (ref.size() >= 2 && ref[0] == '#') {
      const bool hex = ref[1] == 'x';
      const std::string_view digits = ref.substr(hex ? 2 : 1);
      if (digits.empty()) return false;
      c = 0;
      for (char d : digits) {
        uint32_t v = 0;
        if (d >= '0' && d <= '9') v = static_cast<uint32_t>(d - '0');
        else if (hex && d >= 'a' && d <= 'f') v = static_cast<uint32_t>(d - 'a' + 10);
        else if (hex && d >= 'A' && d <= 'F') v = static_cast<uint32_t>(d - 'A' + 10);
        else return false;
        c = c * (hex ? 16 : 10) + v;
        if (c > 0x10FFFF) return false;
      }
      return XmlChar(c);
    } else {
      return false;
    }
    return true;
  }

  // The namespace bound to prefix at this point; false when none is.
  bool Bound(std::string_view prefix, size_t below, std::string_view& uri) const {
    for (size_t i = below; i > 0; --i)
      if (ns_[i - 1].first == prefix) {
        uri = ns_[i - 1].second;
        return true;
      }
    return false;
  }

  bool Element() {
    // Deeper than any document of this system; libxmlsec1 takes the rest.
    if (stack_.size() >= 64) return false;
    ++p_;  // '<'
    std::string_view name;
    if (!Name(name)) return false;
    const size_t before = ns_.size();
    NamespaceList declared;
    std::vector<std::pair<std::string_view, std::string>> attributes;
    bool empty = false;
    for (;;) {
      const bool blank = p_ < x_.size() && IsBlank(x_[p_]);
      SkipBlanks();
      if (At('>')) {
        ++p_;
        break;
      }
      if (Starts("/>")) {
        p_ += 2;
        empty = true;
        break;
      }
      std::string_view attribute;
      if (!blank || !Name(attribute)) return false;
      SkipBlanks();
      if (!At('=')) return false;
      ++p_;
      SkipBlanks();
      if (!At('"') && !At('\'')) return false;
      const char quote = x_[p_++];
      std::string value;
      while (p_ < x_.size() && x_[p_] != quote) {
        if (x_[p_] == '<') return false;
        uint32_t c = 0;
        if (x_[p_] == '\t' || x_[p_] == '\n') {
          c = ' ';  // attribute values are normalised so
          ++p_;
        } else if (!Char(c)) {
          return false;
        }
        AppendUtf8(value, c);
      }
      if (p_ >= x_.size()) return false;
      ++p_;
      if (attribute == "xmlns" || attribute.substr(0, 6) == "xmlns:") {
        const std::string prefix(attribute == "xmlns" ? std::string_view() : attribute.substr(6));
        if (prefix == "xml" || prefix == "xmlns" || (!prefix.empty() && value.empty())) return false;
        for (const auto& d : declared)
          if (d.first == prefix) return false;
        declared.emplace_back(prefix, std::move(value));
      } else {
        if (attribute.find(':') != std::string_view::npos) return false;
        for (const auto& a : attributes)
          if (a.first == attribute) return false;
        attributes.emplace_back(attribute, std::move(value));
      }
    }
    for (const auto& d : declared) ns_.push_back(d);
    const size_t colon = name.find(':');
    std::string_view bound;
    if (colon != std::string_view::npos && !Bound(name.substr(0, colon), ns_.size(), bound)) return false;

    // Declarations an ancestor made the same way are not written again; an
    // empty default namespace only undoes one in scope.
    std::sort(declared.begin(), declared.end());
    std::sort(attributes.begin(), attributes.end());
    out_ += '<';
    out_ += name;
    for (const auto& [prefix, uri] : declared) {
      std::string_view outer;
      const bool had = Bound(prefix, before, outer);
      if ((had && outer == uri) || (!had && prefix.empty() && uri.empty())) continue;
      out_ += prefix.empty() ? " xmlns=\"" : " xmlns:";
      if (!prefix.empty()) out_.append(prefix).append("=\"");
      Escape(uri, true);
      out_ += '"';
    }
    for (const auto& [attribute, value] : attributes) {
      out_ += ' ';
      out_ += attribute;
      out_ += "=\"";
      Escape(value, true);
      out_ += '"';
    }
    out_ += '>';
    stack_.push_back({name, before});
    if (!empty && !Content()) return false;
    if (empty) Close();
    return true;
  }

  // Text and child elements up to the element's end tag, which it reads.
  bool Content() {
    while (p_ < x_.size()) {
      if (At('<')) {
        if (Starts("</")) return EndTag();
        if (Starts("<!") || Starts("<?")) return false;
        if (!Element()) return false;
        continue;
      }
      if (Starts("]]>")) return false;
      uint32_t c = 0;
      if (!Char(c)) return false;
      AppendEscaped(c, false, out_);
    }
    return false;
  }

  bool EndTag() {
    if (p_ == mark_) {
      // The namespaces in scope here, innermost first wins.
      inScope_.clear();
      for (size_t i = ns_.size(); i > 0; --i) {
        const auto& d = ns_[i - 1];
        const bool shadowed = std::any_of(inScope_.begin(), inScope_.end(),
                                          [&](const auto& s) { return s.first == d.first; });
        if (!shadowed) inScope_.push_back(d);
      }
      inScope_.erase(std::remove_if(inScope_.begin(), inScope_.end(),
                                    [](const auto& s) { return s.first.empty() && s.second.empty(); }),
                     inScope_.end());
      std::sort(inScope_.begin(), inScope_.end());
      marked_ = true;
    }
    p_ += 2;
    std::string_view name;
    if (!Name(name) || name != stack_.back().name) return false;
    SkipBlanks();
    if (!At('>')) return false;
    ++p_;
    Close();
    return true;
  }

  void Close() {
    out_ += "</";
    out_ += stack_.back().name;
    out_ += '>';
    ns_.resize(stack_.back().namespaces);
    stack_.pop_back();
  }

  void Escape(std::string_view utf8, bool attribute) {
    for (char c : utf8) {
      const unsigned char b = static_cast<unsigned char>(c);
      if (b >= 0x80) out_ += c;
      else AppendEscaped(b, attribute, out_);
    }
  }

  std::string_view x_;
  size_t p_ = 0;
  size_t mark_;
  bool marked_ = false;
  std::string& out_;
  NamespaceList& inScope_;
  NamespaceList ns_;
  std::vector<Open> stack_;
};

}  // namespace

bool CanonicalXml(std::string_view xml, size_t mark, std::string& canonicalOut, NamespaceList& inScopeOut) {
  inScopeOut.clear();
  Reader reader(xml, mark, canonicalOut, inScopeOut);
  const bool ok = reader.Document();
  if (!ok) canonicalOut.clear();
  return ok;
}

std::string CanonicalApexTag(std::string_view name, const NamespaceList& inScope, std::string_view attributes) {
  std::string out = "<";
  out += name;
  for (const auto& [prefix, uri] : inScope) {
    out += prefix.empty() ? " xmlns=\"" : " xmlns:";
    if (!prefix.empty()) out.append(prefix).append("=\"");
    for (char c : uri) {
      const unsigned char b = static_cast<unsigned char>(c);
      if (b >= 0x80) out += c;
      else AppendEscaped(b, true, out);
    }
    out += '"';
  }
  out += attributes;
  out += '>';
  return out;
}

NamespaceList WithNamespace(NamespaceList inScope, const std::string& prefix, const std::string& uri) {
  inScope.erase(std::remove_if(inScope.begin(), inScope.end(), [&](const auto& s) { return s.first == prefix; }),
                inScope.end());
  inScope.emplace_back(prefix, uri);
  std::sort(inScope.begin(), inScope.end());
  return inScope;
}

std::string CanonicalText(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (char c : utf8) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (b >= 0x80) out += c;
    else AppendEscaped(b, false, out);
  }
  return out;
}
