#include "wizard/ui/options.h"

#include <cstdlib>

namespace qel {

namespace {

// "/x", "-x" and "--x" -> "x"; other texts -> "".
std::string SwitchName(const std::string& argument) {
  if (argument.size() > 2 && argument.compare(0, 2, "--") == 0) return argument.substr(2);
  if (argument.size() > 1 && (argument[0] == '/' || argument[0] == '-')) return argument.substr(1);
  return "";
}

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> out;
  std::string item;
  // Distinguished names hold commas themselves: items are separated by ";".
  for (char c : text) {
    if (c == ';') {
      if (!item.empty()) out.push_back(item);
      item.clear();
    } else {
      item += c;
    }
  }
  if (!item.empty()) out.push_back(item);
  return out;
}

}  // namespace

bool ParseFrontEndOptions(const std::vector<std::string>& arguments, FrontEndOptions* options, std::string* error) {
  for (size_t i = 0; i < arguments.size(); ++i) {
    std::string name = SwitchName(arguments[i]);
    auto value = [&](std::string* out) {
      if (i + 1 >= arguments.size()) {
        *error = "missing value after " + arguments[i];
        return false;
      }
      *out = arguments[++i];
      return true;
    };
    std::string text;
    if (name == "rehearse") {
      options->rehearse = true;
      if (!value(&options->domainFile) || !value(&options->folder)) return false;
    } else if (name == "lang") {
      if (!value(&text)) return false;
      char* end = nullptr;
      unsigned long id = std::strtoul(text.c_str(), &end, 10);
      if (end == text.c_str() || *end != '\0' || id == 0 || id > 0xFFFF) {
        *error = "not a language id: " + text;
        return false;
      }
      options->language = static_cast<WORD>(id);
    } else if (name == "select") {
      if (!value(&text)) return false;
      for (const std::string& item : SplitList(text)) options->select.push_back(item);
    } else if (name == "center") {
      if (!value(&options->center)) return false;
    } else if (name == "package") {
      if (!value(&options->package)) return false;
    } else {
      *error = "unknown argument: " + arguments[i];
      return false;
    }
  }
  return true;
}

}  // namespace qel
