// LDAP search filters (RFC 4515 text): "&", "|", "!", equality, presence
// ("=*"), substrings ("*" anywhere), ">=", "<=", "~=" and the two bitwise
// matching rules of Active Directory (":1.2.840.113556.1.4.803:=" AND,
// "...804:=" OR). Values compare without case, as the directory compares the
// string syntaxes; DN-valued attributes compare as names; a short
// objectCategory ("Person") matches the category whose CN it names.
#pragma once

#include <string>
#include <vector>

#include "platform/domain/domain_store.h"

namespace qel {

class LdapFilter {
 public:
  // Parses `text`; false with a reason for unbalanced parentheses, an empty
  // attribute, an unknown operator, a bad escape and the like. An empty
  // text is "(objectClass=*)".
  bool Parse(const std::wstring& text, std::string* reason);
  bool Matches(const DomainStore& store, const DirObject& object) const;

 private:
  enum Kind { kAnd, kOr, kNot, kEqual, kPresent, kSubstring, kGreater, kLess, kBitAnd, kBitOr, kTrue };
  struct Node {
    Kind kind = kTrue;
    std::wstring attribute;
    std::wstring value;                // folded (equality, ordering), DN key for DN attributes
    std::vector<std::wstring> pieces;  // substrings: initial, any..., final (folded)
    bool anchoredStart = false, anchoredEnd = false;
    unsigned long bits = 0;
    std::vector<size_t> children;
    mutable int id = -2;  // attribute number in the store, looked up once
  };
  bool ParseFilter(const std::wstring& text, size_t* pos, size_t* node, std::string* reason, int depth);
  bool ParseItem(const std::wstring& text, size_t* pos, size_t node, std::string* reason);
  bool Eval(const DomainStore& store, const DirObject& object, size_t node) const;
  bool ValueMatches(const Node& node, std::wstring_view value, bool dnSyntax) const;

  std::vector<Node> nodes_;
  size_t root_ = 0;
  mutable const DomainStore* idStore_ = nullptr;
};

}  // namespace qel
