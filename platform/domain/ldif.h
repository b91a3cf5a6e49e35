// LDIF content records (RFC 2849 subset): "dn:" lines, "attr: value",
// "attr:: base64", lines folded with a leading blank, "#" comments and
// records separated by blank lines. Values are UTF-8 text.
//
// Leading comments of the form "# qel-domain: TEST" carry the domain's
// metadata (NetBIOS name, controller, DNS name); every other comment is
// ignored, so the same file loads into a real directory server unchanged.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace qel {

// Why a domain file (or its journal) was refused: file, line and reason.
struct DomainError {
  std::string file;
  int line = 0;
  std::string reason;
  std::string ToString() const;  // "file:line: reason"
};

struct LdifAttribute {
  std::string name;
  std::string value;  // UTF-8
  int line = 0;
};

struct LdifEntry {
  std::string dn;  // UTF-8
  int line = 0;    // line of the "dn:" line
  std::vector<LdifAttribute> attributes;
  std::vector<std::string> comments;  // "#" lines before the record (or inside it), kept when rewritten
};

struct LdifDocument {
  // "# qel-KEY: VALUE" comments before the first record, in file order.
  std::vector<std::pair<std::string, std::string>> meta;
  std::vector<LdifEntry> entries;
  std::vector<std::string> trailingComments;  // "#" lines after the last record
  std::string Meta(const std::string& key) const;  // empty when absent
};

// Parses `text`; on a syntax error fills *error (with fileName) and returns false.
bool ParseLdif(const std::string& text, const std::string& fileName, LdifDocument* document,
               DomainError* error);

// The same, one record at a time, so a large file is never held twice:
// `sink` receives each record as soon as it is complete (it may move from it)
// and stops the reading by returning false with *error set. `header` gets the
// metadata (complete before the first record arrives) and the trailing
// comments; its entries stay empty.
using LdifSink = std::function<bool(LdifEntry& entry, DomainError* error)>;
bool ReadLdif(const std::string& text, const std::string& fileName, LdifDocument* header, const LdifSink& sink,
              DomainError* error);

// The checks every attribute line of a record passes (and so every change
// that is later written as one): a name of letters, digits, "-", ";" and
// ".", not "dn", "changetype" or "control"; a value of UTF-8 text without
// NUL. False with the reason.
bool CheckLdifAttributeName(const std::string& name, std::string* reason);
bool CheckLdifValue(const std::string& name, const std::string& value, std::string* reason);

// One attribute line, base64-encoded when the value is not a safe string
// (leading blank, colon or "<", trailing blank, control or non-ASCII
// characters), folded at 76 columns. Ends with "\n".
std::string FormatLdifLine(const std::string& name, const std::string& value);

}  // namespace qel
