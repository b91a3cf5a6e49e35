#include "tools/standins/standin_settings.h"

#include <cctype>
#include <cstdlib>
#include <cwctype>

namespace qel {
namespace standin {

namespace {

// "=<number>" at text[i], followed by the end or a separator: where an entry
// ends. A subject may itself hold "=" and "," (a distinguished name), so only
// a number after "=" closes the entry. *end receives the position after the number.
bool CodeAt(const std::string& text, size_t i, uint32_t* code, size_t* end) {
  if (text[i] != '=') return false;
  size_t j = i + 1;
  int base = 10;
  if (j + 1 < text.size() && text[j] == '0' && (text[j + 1] == 'x' || text[j + 1] == 'X')) {
    base = 16;
    j += 2;
  }
  size_t digits = j;
  while (j < text.size() && (base == 16 ? std::isxdigit(static_cast<unsigned char>(text[j]))
                                        : std::isdigit(static_cast<unsigned char>(text[j]))))
    ++j;
  if (j == digits || j - digits > (base == 16 ? 8u : 10u)) return false;
  if (j < text.size() && text[j] != ',' && text[j] != ';') return false;
  unsigned long long value = std::strtoull(text.substr(digits, j - digits).c_str(), nullptr, base);
  if (value > 0xFFFFFFFFull) return false;
  *code = static_cast<uint32_t>(value);
  *end = j;
  return true;
}

bool SameText(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i]; ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return i == a.size() && b[i] == '\0';
}

// The subject is ASCII text in the setting; the call's subject is wide.
bool SubjectMatches(const std::string& wanted, const wchar_t* subject, bool prefix) {
  if (wanted.empty()) return true;
  if (subject == nullptr) return false;
  size_t i = 0;
  for (; i < wanted.size(); ++i) {
    if (subject[i] == L'\0') return false;
    if (std::towlower(subject[i]) != std::towlower(static_cast<unsigned char>(wanted[i]))) return false;
  }
  return prefix || subject[i] == L'\0';
}

}  // namespace

uint32_t FindFault(const char* setting, const char* call, const wchar_t* subject) {
  if (setting == nullptr || call == nullptr) return 0;
  const std::string text(setting);
  // ADSI paths are matched by their beginning, names as a whole.
  const bool prefix = !SameText("NetUserGetInfo", call) && !SameText("NetUserSetInfo", call) &&
                      !SameText("NetGroupGetUsers", call);
  size_t start = 0;
  while (start < text.size()) {
    while (start < text.size() && (text[start] == ',' || text[start] == ';' || text[start] == ' ')) ++start;
    if (start >= text.size()) break;
    // The entry runs to the first "=<number>" that ends at a separator.
    size_t i = start;
    uint32_t code = 0;
    size_t end = std::string::npos;
    for (; i < text.size(); ++i)
      if (CodeAt(text, i, &code, &end)) break;
    if (end == std::string::npos) break;  // no readable entry is left
    std::string head = text.substr(start, i - start);
    size_t colon = head.find(':');
    std::string name = head.substr(0, colon);
    std::string wanted = colon == std::string::npos ? std::string() : head.substr(colon + 1);
    if (SameText(name, call) && SubjectMatches(wanted, subject, prefix)) return code;
    start = end;
  }
  return 0;
}

std::string WindowsPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return path;
  std::string out = "Z:" + path;
  for (char& c : out)
    if (c == '/') c = '\\';
  return out;
}

}  // namespace standin
}  // namespace qel
