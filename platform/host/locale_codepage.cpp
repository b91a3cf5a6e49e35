// The ANSI code page a Linux locale stands for.
#include <cctype>
#include <cstdlib>
#include <string>

#include "platform/host/host_ports.h"

namespace qel {

namespace {

// The language and territory of a locale name ("zh_TW.UTF-8@x" -> "zh", "TW").
void SplitLocale(const std::string& name, std::string* language, std::string* territory) {
  size_t end = name.find_first_of(".@");
  std::string base = name.substr(0, end);
  size_t cut = base.find_first_of("_-");
  *language = base.substr(0, cut);
  *territory = cut == std::string::npos ? std::string() : base.substr(cut + 1);
  for (char& c : *language) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (char& c : *territory) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

}  // namespace

unsigned CodePageOfLocale(const std::string& locale, bool* approximate) {
  *approximate = false;
  std::string language, territory;
  SplitLocale(locale, &language, &territory);
  if (language != "zh") return 1252;
  // Traditional Chinese would be 950 on Windows, which this host does not
  // offer. 936 (GBK) holds every Han character of 950 (all of 950 but five
  // symbols), so names convert; but what is written into files is GBK, which
  // a client working in 950 reads otherwise.
  if (territory == "TW" || territory == "HK" || territory == "MO") *approximate = true;
  return 936;
}

std::string LocaleOfEnvironment() {
  // The order in which the C library picks the locale of character types.
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return value;
  }
  return "C";
}

}  // namespace qel
