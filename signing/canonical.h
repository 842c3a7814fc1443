// Canonical XML 1.0 (without comments) of the plain documents the register
// and the event log write, computed straight from their text.
//
// A signature's digests are taken over canonical forms. libxmlsec1 gets
// them by parsing the document into a tree and walking it; for the small,
// plain documents this system makes, reading the text once is several
// times cheaper, and signing a record then costs little more than its RSA
// step. Anything outside the plain subset below is declined, and the caller
// signs through libxmlsec1 instead:
//   - no XML declaration, DOCTYPE, comment, processing instruction or CDATA
//     section; nothing but white space around the root element;
//   - element names with at most one prefix, declared in scope; attributes
//     unprefixed apart from namespace declarations; names in ASCII;
//   - no carriage return anywhere; character and the five predefined entity
//     references are understood.
// Within it the result is what canonical XML 1.0 gives: empty elements
// written out, attributes and namespace declarations in canonical order,
// declarations an ancestor already made dropped, text and attribute values
// escaped as the canonical form escapes them, UTF-8 checked.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Namespace declarations (prefix, empty for the default one; URI), in the
// canonical order: by prefix, the default first.
using NamespaceList = std::vector<std::pair<std::string, std::string>>;

// canonicalOut: the canonical form of xml. inScopeOut: the namespaces in
// scope in the element whose end tag starts at byte mark of xml (the
// element a signature is placed in). False when xml lies outside the subset,
// is not well-formed, or no end tag starts at mark.
[[nodiscard]] bool CanonicalXml(std::string_view xml, size_t mark, std::string& canonicalOut,
                                NamespaceList& inScopeOut);

// The start tag of the apex of a canonical subtree: name, then the
// namespaces in scope there (inScope, in canonical order), then attributes
// (already in canonical order and escaped, each with its leading blank).
[[nodiscard]] std::string CanonicalApexTag(std::string_view name, const NamespaceList& inScope,
                                           std::string_view attributes);

// inScope with (prefix, uri) declared inside it, kept in canonical order.
[[nodiscard]] NamespaceList WithNamespace(NamespaceList inScope, const std::string& prefix, const std::string& uri);

// Text content escaped as the canonical form writes it (&, <, >, CR).
[[nodiscard]] std::string CanonicalText(std::string_view utf8);
