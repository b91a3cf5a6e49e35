// Distinguished names (RFC 4514 subset): "CN=Smith\, John,OU=Sales,DC=test,DC=lan".
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qel {

// Splits at the unescaped commas; false when the name is malformed (an empty
// RDN, an RDN without "=", a dangling escape).
bool SplitDn(const std::wstring& dn, std::vector<std::wstring>* rdns);
// The name of the parent ("OU=Sales,DC=test,DC=lan" for "CN=a,OU=Sales,...");
// empty for a one-RDN name or a malformed one.
std::wstring ParentDn(const std::wstring& dn);
// The comparison key of a name: RDN types and values folded, blanks around
// the separators removed, escapes made canonical. Empty when malformed.
std::wstring NormalizeDn(const std::wstring& dn);
// Attribute type and unescaped value of one RDN ("CN", "Smith, John").
bool SplitRdn(const std::wstring& rdn, std::wstring* type, std::wstring* value);
// True when the normalized key `dnKey` is `baseKey` or lies below it.
bool DnKeyAtOrBelow(std::wstring_view dnKey, std::wstring_view baseKey);
// The key of one RDN that needs nothing but folding ("CN=Ann Lee" ->
// "cn=ann lee": no escapes, no blanks around its type or value, no character
// a key escapes), written to `out`, which has room for rdn.size()
// characters. Returns its length, or 0 when the RDN is not that simple and
// NormalizeDn must decide.
size_t SimpleRdnKey(std::wstring_view rdn, wchar_t* out);

}  // namespace qel
