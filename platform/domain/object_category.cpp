#include "platform/domain/object_category.h"

#include "platform/domain/domain_text.h"

namespace qel {

namespace {

// The structural classes of a domain with their depth below "top" and the CN
// of their default category. Classes not listed are taken as direct
// children of "top" whose category CN is their name with a hyphen before
// each inner capital ("groupPolicyContainer" -> "Group-Policy-Container"),
// the schema's rule for most classes.
struct KnownClass {
  const wchar_t* name;
  int depth;
  const wchar_t* category;
};

const KnownClass kKnown[] = {
    {L"person", 1, L"Person"},
    {L"organizationalPerson", 2, L"Person"},
    {L"contact", 3, L"Person"},
    {L"user", 3, L"Person"},
    {L"inetOrgPerson", 4, L"Person"},
    {L"computer", 4, L"Computer"},
    {L"group", 1, L"Group"},
    {L"container", 1, L"Container"},
    {L"organizationalUnit", 1, L"Organizational-Unit"},
    {L"domain", 1, L"Domain"},
    {L"domainDNS", 2, L"Domain-DNS"},
    {L"builtinDomain", 1, L"Builtin-Domain"},
    {L"foreignSecurityPrincipal", 1, L"Foreign-Security-Principal"},
};

std::wstring SchemaCn(const std::wstring& className) {
  std::wstring cn;
  for (size_t i = 0; i < className.size(); ++i) {
    wchar_t c = className[i];
    if (i == 0 && c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    if (i > 0 && c >= L'A' && c <= L'Z' && className[i - 1] >= L'a' && className[i - 1] <= L'z') cn += L'-';
    cn += c;
  }
  return cn;
}

}  // namespace

std::wstring DefaultObjectCategory(const std::vector<std::wstring>& objectClasses,
                                   const std::wstring& namingContext) {
  int bestDepth = -1;
  std::wstring best;
  for (const std::wstring& name : objectClasses) {
    if (name.empty() || EqualNoCase(name.c_str(), L"top")) continue;
    int depth = 1;
    std::wstring category = SchemaCn(name);
    for (const KnownClass& known : kKnown) {
      if (EqualNoCase(name.c_str(), known.name)) {
        depth = known.depth;
        category = known.category;
        break;
      }
    }
    // Of classes at the same depth, the one listed last: directories list
    // the chain from "top" down.
    if (depth >= bestDepth) {
      bestDepth = depth;
      best = category;
    }
  }
  if (best.empty()) return best;
  return L"CN=" + best + L",CN=Schema,CN=Configuration," + namingContext;
}

}  // namespace qel
