// The center's answer to the probe. Properties: an accepted answer starts
// with the keyword and its address is the text between the first two "|",
// shorter than the address field, which is never written past.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "center/search_agent.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qel;
  const std::string text(reinterpret_cast<const char*>(data), size);  // the datagram as a C string
  // Exactly the field's size on the heap, so a write past it is reported.
  std::unique_ptr<char[]> address(new char[kCenterAddressSize]);
  WORD port = 0;
  if (!ParseReply(text.c_str(), address.get(), &port)) return 0;
  const std::string shown(text.c_str());
  const size_t first = shown.find('|');
  const size_t second = first == std::string::npos ? first : shown.find('|', first + 1);
  FUZZ_CHECK(second != std::string::npos, "accepted without two \"|\"");
  const std::string expected = shown.substr(first + 1, second - first - 1);
  FUZZ_CHECK(expected.size() < static_cast<size_t>(kCenterAddressSize), "accepted an address too long");
  FUZZ_CHECK(expected == address.get(), "the address is not the text between the bars");
  FUZZ_CHECK(ParseReply((shown.substr(0, first) + "|" + expected + "|1").c_str(), address.get(), &port) && port == 1,
             "the same keyword and address with port 1 is refused");
  return 0;
}
