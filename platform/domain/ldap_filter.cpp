#include "platform/domain/ldap_filter.h"

#include "platform/domain/dn.h"
#include "platform/domain/domain_text.h"

namespace qel {

namespace {

constexpr int kMaxDepth = 64;

bool IsAttributeChar(wchar_t c) {
  return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') || c == L'-' ||
         c == L';' || c == L'.';
}

int Hex(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

bool Fail(std::string* reason, const std::string& text) {
  if (reason) *reason = text;
  return false;
}

// Attributes whose values are distinguished names.
bool IsDnAttribute(const std::wstring& name) {
  static const wchar_t* const kNames[] = {L"distinguishedName", L"member", L"memberOf", L"manager",
                                          L"directReports", L"managedBy"};
  for (const wchar_t* n : kNames)
    if (EqualNoCase(name.c_str(), n)) return true;
  return false;
}

// The class names whose default category has another CN (Active Directory
// resolves a short objectCategory through the class's defaultObjectCategory).
std::wstring CategoryCn(const std::wstring& shortName) {
  static const wchar_t* const kMap[][2] = {
      {L"user", L"person"},
      {L"organizationalperson", L"person"},
      {L"contact", L"person"},
      {L"inetorgperson", L"person"},
      {L"organizationalunit", L"organizational-unit"},
      {L"domaindns", L"domain-dns"},
      {L"msexchsystemobjectscontainer", L"ms-exch-system-objects-container"},
      {L"groupofnames", L"group-of-names"},
  };
  std::wstring folded = FoldCase(shortName);
  for (const auto& pair : kMap)
    if (folded == pair[0]) return pair[1];
  return folded;
}

// True when the category name `value` ("CN=Person,CN=Schema,...") has the
// folded CN `cn`; a value that is no name at all compares whole.
bool CategoryMatches(std::wstring_view value, const std::wstring& cn) {
  if (value.size() > 3 && FoldChar(value[0]) == L'c' && FoldChar(value[1]) == L'n' && value[2] == L'=') {
    size_t end = value.find(L',');
    if (value.find(L'\\') >= end) {  // no escapes in the first RDN: compare in place
      if (end == std::wstring::npos) end = value.size();
      return end - 3 == cn.size() && EqualNoCase(value.substr(3, end - 3), cn);
    }
  }
  std::vector<std::wstring> rdns;
  std::wstring type, first;
  if (SplitDn(std::wstring(value), &rdns) && SplitRdn(rdns[0], &type, &first)) return EqualNoCase(first, cn);
  return EqualNoCase(value, cn);
}

}  // namespace

bool LdapFilter::Parse(const std::wstring& text, std::string* reason) {
  nodes_.clear();
  idStore_ = nullptr;
  std::wstring filter = text;
  if (filter.empty()) filter = L"(objectClass=*)";
  // ADSI accepts a single item without its parentheses.
  if (filter[0] != L'(') filter = L"(" + filter + L")";
  size_t pos = 0;
  if (!ParseFilter(filter, &pos, &root_, reason, 0)) return false;
  if (pos != filter.size()) return Fail(reason, "unexpected text after the filter at position " + std::to_string(pos));
  return true;
}

bool LdapFilter::ParseFilter(const std::wstring& text, size_t* pos, size_t* node, std::string* reason, int depth) {
  if (depth > kMaxDepth) return Fail(reason, "the filter is nested too deeply");
  if (*pos >= text.size() || text[*pos] != L'(')
    return Fail(reason, "\"(\" expected at position " + std::to_string(*pos));
  ++*pos;
  if (*pos >= text.size()) return Fail(reason, "unbalanced parentheses");
  *node = nodes_.size();
  nodes_.emplace_back();
  wchar_t c = text[*pos];
  if (c == L'&' || c == L'|' || c == L'!') {
    nodes_[*node].kind = c == L'&' ? kAnd : c == L'|' ? kOr : kNot;
    ++*pos;
    while (*pos < text.size() && text[*pos] == L'(') {
      size_t child;
      if (!ParseFilter(text, pos, &child, reason, depth + 1)) return false;
      nodes_[*node].children.push_back(child);
    }
    if (c == L'!' && nodes_[*node].children.size() != 1) return Fail(reason, "\"!\" takes exactly one filter");
  } else {
    if (!ParseItem(text, pos, *node, reason)) return false;
  }
  if (*pos >= text.size() || text[*pos] != L')') return Fail(reason, "unbalanced parentheses");
  ++*pos;
  return true;
}

bool LdapFilter::ParseItem(const std::wstring& text, size_t* pos, size_t index, std::string* reason) {
  size_t start = *pos;
  while (*pos < text.size() && IsAttributeChar(text[*pos])) ++*pos;
  std::wstring attribute = text.substr(start, *pos - start);
  if (attribute.empty()) return Fail(reason, "attribute name expected at position " + std::to_string(start));
  std::wstring rule;
  if (*pos < text.size() && text[*pos] == L':') {
    size_t ruleStart = ++*pos;
    while (*pos < text.size() && text[*pos] != L':' && text[*pos] != L')') ++*pos;
    rule = text.substr(ruleStart, *pos - ruleStart);
    if (*pos >= text.size() || text[*pos] != L':') return Fail(reason, "bad extensible match");
    ++*pos;
  }
  Kind kind;
  if (*pos < text.size() && text[*pos] == L'=') {
    kind = kEqual;
    ++*pos;
  } else if (*pos + 1 < text.size() && text[*pos + 1] == L'=' &&
             (text[*pos] == L'>' || text[*pos] == L'<' || text[*pos] == L'~')) {
    kind = text[*pos] == L'>' ? kGreater : text[*pos] == L'<' ? kLess : kEqual;  // "~=" is equality here
    *pos += 2;
  } else {
    return Fail(reason, "comparison operator expected after \"" + WideToUtf8(attribute) + "\"");
  }
  if (!rule.empty() && kind != kEqual) return Fail(reason, "bad extensible match");

  // The value, split at the unescaped stars; escapes are "\" and two hex digits.
  std::vector<std::wstring> pieces(1);
  std::string bytes;
  auto flush = [&]() -> bool {
    if (bytes.empty()) return true;
    std::wstring decoded;
    if (!Utf8ToWide(bytes, &decoded)) return false;
    pieces.back() += decoded;
    bytes.clear();
    return true;
  };
  while (*pos < text.size() && text[*pos] != L')') {
    wchar_t c = text[*pos];
    if (c == L'(') return Fail(reason, "unescaped \"(\" in the value of \"" + WideToUtf8(attribute) + "\"");
    if (c == L'\\') {
      int hi = *pos + 1 < text.size() ? Hex(text[*pos + 1]) : -1;
      int lo = *pos + 2 < text.size() ? Hex(text[*pos + 2]) : -1;
      if (hi < 0 || lo < 0) return Fail(reason, "bad escape in the value of \"" + WideToUtf8(attribute) + "\"");
      bytes += static_cast<char>(hi * 16 + lo);
      *pos += 3;
      continue;
    }
    if (!flush()) return Fail(reason, "escaped bytes are not UTF-8");
    if (c == L'*') {
      pieces.emplace_back();
    } else {
      pieces.back() += c;
    }
    ++*pos;
  }
  if (!flush()) return Fail(reason, "escaped bytes are not UTF-8");

  Node& node = nodes_[index];
  node.attribute = attribute;
  if (!rule.empty()) {
    if (pieces.size() != 1) return Fail(reason, "\"*\" in a matching-rule value");
    if (rule == L"1.2.840.113556.1.4.803")
      node.kind = kBitAnd;
    else if (rule == L"1.2.840.113556.1.4.804")
      node.kind = kBitOr;
    else
      return Fail(reason, "unsupported matching rule \"" + WideToUtf8(rule) + "\"");
    if (!ParseUInt32(WideToUtf8(pieces[0]), &node.bits)) return Fail(reason, "the matching-rule value is not a number");
    return true;
  }
  if (pieces.size() > 1 && kind != kEqual) return Fail(reason, "\"*\" is only allowed with \"=\"");
  if (pieces.size() == 2 && pieces[0].empty() && pieces[1].empty()) {
    node.kind = kPresent;
  } else if (pieces.size() > 1) {
    node.kind = kSubstring;
    node.anchoredStart = !pieces.front().empty();
    node.anchoredEnd = !pieces.back().empty();
    for (const std::wstring& p : pieces) node.pieces.push_back(FoldCase(p));
  } else {
    if (pieces[0].empty()) return Fail(reason, "empty value for \"" + WideToUtf8(attribute) + "\"");
    node.kind = kind;
    node.value = IsDnAttribute(attribute) ? NormalizeDn(pieces[0]) : FoldCase(pieces[0]);
    if (IsDnAttribute(attribute) && node.value.empty())
      return Fail(reason, "\"" + WideToUtf8(pieces[0]) + "\" is not a distinguished name");
    if (EqualNoCase(attribute.c_str(), L"objectCategory")) {
      // A full name compares as a name; a short one as the CN of a category.
      std::wstring key = NormalizeDn(pieces[0]);
      bool full = pieces[0].find(L'=') != std::wstring::npos && !key.empty();
      node.value = full ? key : CategoryCn(pieces[0]);
      node.bits = full ? 1 : 0;
    }
  }
  return true;
}

bool LdapFilter::Matches(const DomainStore& store, const DirObject& object) const {
  if (idStore_ != &store) {
    for (const Node& node : nodes_) node.id = -2;
    idStore_ = &store;
  }
  return nodes_.empty() || Eval(store, object, root_);
}

bool LdapFilter::ValueMatches(const Node& node, std::wstring_view raw, bool dnSyntax) const {
  switch (node.kind) {
    case kEqual:
      return dnSyntax ? NormalizeDn(std::wstring(raw)) == node.value : EqualNoCase(raw, node.value);
    case kGreater:
    case kLess: {
      unsigned long a, b;
      std::string left = WideToUtf8(raw), right = WideToUtf8(node.value);
      int order;
      if (ParseUInt32(left, &a) && ParseUInt32(right, &b))
        order = a < b ? -1 : a > b ? 1 : 0;
      else
        order = FoldCase(raw).compare(node.value);
      return node.kind == kGreater ? order >= 0 : order <= 0;
    }
    case kSubstring: {
      std::wstring value = FoldCase(raw);
      size_t at = 0;
      const auto& p = node.pieces;
      if (node.anchoredStart) {
        if (value.compare(0, p.front().size(), p.front()) != 0) return false;
        at = p.front().size();
      }
      for (size_t i = 1; i + 1 < p.size(); ++i) {
        if (p[i].empty()) continue;
        size_t found = value.find(p[i], at);
        if (found == std::wstring::npos) return false;
        at = found + p[i].size();
      }
      if (node.anchoredEnd) {
        const std::wstring& last = p.back();
        return value.size() >= at + last.size() && value.compare(value.size() - last.size(), last.size(), last) == 0;
      }
      return true;
    }
    case kBitAnd:
    case kBitOr: {
      unsigned long v;
      if (!ParseUInt32(WideToUtf8(raw), &v)) return false;
      return node.kind == kBitAnd ? (v & node.bits) == node.bits : (v & node.bits) != 0;
    }
    default:
      return false;
  }
}

bool LdapFilter::Eval(const DomainStore& store, const DirObject& object, size_t index) const {
  const Node& node = nodes_[index];
  switch (node.kind) {
    case kTrue:
      return true;
    case kAnd:
      for (size_t child : node.children)
        if (!Eval(store, object, child)) return false;
      return true;
    case kOr:
      for (size_t child : node.children)
        if (Eval(store, object, child)) return true;
      return false;
    case kNot:
      return !Eval(store, object, node.children[0]);
    default:
      break;
  }
  if (EqualNoCase(node.attribute.c_str(), L"distinguishedName")) {
    if (node.kind == kPresent) return true;
    return ValueMatches(node, object.dn, true);
  }
  if (node.id == -2) node.id = store.AttributeId(node.attribute);
  int id = node.id;
  DirValues values = id < 0 ? DirValues() : store.Values(object, static_cast<uint32_t>(id));
  if (values.empty()) return false;
  if (node.kind == kPresent) return true;
  if (id == kAttrObjectCategory && node.kind == kEqual) {
    for (std::wstring_view v : values) {
      if (node.bits) {
        if (NormalizeDn(std::wstring(v)) == node.value) return true;
      } else if (CategoryMatches(v, node.value)) {
        return true;
      }
    }
    return false;
  }
  bool dnSyntax = IsDnAttribute(node.attribute);
  for (std::wstring_view v : values)
    if (ValueMatches(node, v, dnSyntax)) return true;
  return false;
}

}  // namespace qel
