// The registry file. Properties: a refused file is refused with its file
// name and line; an accepted one, written out and read again, holds the
// same keys, values and comments, and writing it again gives the same text.
#include <cstdint>
#include <string>

#include "platform/host/reg_file.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

bool Same(const qel::host::RegData& a, const qel::host::RegData& b) {
  if (a.keys.size() != b.keys.size() || a.trailingComments != b.trailingComments) return false;
  for (size_t k = 0; k < a.keys.size(); ++k) {
    const auto& x = a.keys[k];
    const auto& y = b.keys[k];
    if (x.path != y.path || x.comments != y.comments || x.values.size() != y.values.size()) return false;
    for (size_t v = 0; v < x.values.size(); ++v) {
      const auto& p = x.values[v];
      const auto& q = y.values[v];
      if (p.name != q.name || p.type != q.type || p.data != q.data || p.comments != q.comments) return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qel::host;
  const std::string input(reinterpret_cast<const char*>(data), size);
  RegData first;
  std::string error;
  if (!ParseRegText(input, "fuzz.reg", &first, &error)) {
    FUZZ_CHECK(error.find("fuzz.reg, line ") != std::string::npos, "a refusal without file and line: " + error);
    return 0;
  }
  const std::string text = FormatRegText(first);
  RegData second;
  FUZZ_CHECK(ParseRegText(text, "written.reg", &second, &error), "the written registry does not read: " + error);
  FUZZ_CHECK(Same(first, second), "the written registry reads back as another");
  FUZZ_CHECK(FormatRegText(second) == text, "writing again gives another text");
  return 0;
}
