// The LDAP filter parser, over the objects of the sample domain. The input
// is the filter's text (each byte one character).
//
// Properties: a refused filter says why; an accepted one, put under "!",
// matches exactly the objects it does not; under "&" with itself it matches
// what it matches; under "|" with its negation it matches everything.
#include <cstdint>
#include <string>

#include "platform/domain/domain_store.h"
#include "platform/domain/ldap_filter.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qel;
  static DomainStore* store = [] {
    auto* made = new DomainStore;
    DomainError error;
    FUZZ_CHECK(made->Load(QEL_SAMPLE_DOMAIN, &error), error.ToString());
    return made;
  }();
  std::wstring text;
  for (size_t i = 0; i < size; ++i) text += static_cast<wchar_t>(data[i]);
  LdapFilter filter;
  std::string reason;
  if (!filter.Parse(text, &reason)) {
    FUZZ_CHECK(!reason.empty(), "a refusal without a reason");
    return 0;
  }
  // The compositions need the filter as one parenthesised item.
  if (text.empty() || text[0] != L'(') return 0;
  const std::wstring& item = text;
  LdapFilter negated, doubled, either;
  if (!negated.Parse(L"(!" + item + L")", &reason) || !doubled.Parse(L"(&" + item + item + L")", &reason) ||
      !either.Parse(L"(|" + item + L"(!" + item + L"))", &reason))
    return 0;  // e.g. nested deeper than the parser takes
  for (size_t i = 0; i < store->ObjectCount(); ++i) {
    const DirObject& object = store->Object(static_cast<uint32_t>(i));
    const bool match = filter.Matches(*store, object);
    FUZZ_CHECK(negated.Matches(*store, object) == !match, "\"!\" does not negate");
    FUZZ_CHECK(doubled.Matches(*store, object) == match, "\"&\" of the same filter differs");
    FUZZ_CHECK(either.Matches(*store, object), "\"|\" with the negation misses an object");
  }
  return 0;
}
