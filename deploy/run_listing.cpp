#include "deploy/run_listing.h"

#include <cstdio>

#include "deploy/run_record.h"

namespace qel {

std::string JsonString(const std::string& utf8) {
  std::string out = "\"";
  for (unsigned char c : utf8) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string AccountLine(const AccountDecision& d) {
  std::string line = "    " + AnsiToUtf8Text(d.account) + ": ";
  if (!d.read) {
    line += "-";
  } else {
    line += "\"" + AnsiToUtf8Text(d.before) + "\" -> \"" + AnsiToUtf8Text(d.after) + "\"";
  }
  if (d.fileAction != FILE_NONE)
    line += std::string(", wrapper ") + AnsiToUtf8Text(d.file) + " " +
            (d.fileAction == FILE_DELETED ? "deleted" : "written");
  return line + "; " + RunResultWord(d.result) + ": " + ReasonText(d.reason, d.error);
}

std::string FileLine(const FileDecision& d) {
  std::string action = FileActionWord(d.action, d.existed);
  return "    " + (action.empty() ? "" : action + " ") + AnsiToUtf8Text(d.path) + "; " + RunResultWord(d.result) +
         ": " + ReasonText(d.reason, d.error);
}

std::string AccountJson(const std::string& operation, const AccountDecision& d) {
  bool read = d.read != FALSE;
  return "{\"type\":\"account\",\"operation\":" + JsonString(operation) +
         ",\"account\":" + JsonString(AnsiToUtf8Text(d.account)) + ",\"dn\":" + JsonString(WideToUtf8Text(d.dn)) +
         ",\"before\":" + JsonString(AnsiToUtf8Text(d.before)) + ",\"after\":" + JsonString(AnsiToUtf8Text(d.after)) +
         ",\"flags_before\":" + JsonString(read ? FlagsHex(d.flagsBefore) : "") +
         ",\"flags_after\":" + JsonString(read ? FlagsHex(d.flagsAfter) : "") + ",\"file_action\":" +
         JsonString(d.fileAction == FILE_DELETED   ? "deleted"
                    : d.fileAction == FILE_WRITTEN ? "written"
                                                   : "") +
         ",\"file\":" + JsonString(AnsiToUtf8Text(d.file)) + ",\"result\":" + JsonString(RunResultWord(d.result)) +
         ",\"reason\":" + JsonString(ReasonText(d.reason, d.error)) + "}";
}

std::string FileJson(const std::string& operation, const FileDecision& d) {
  return "{\"type\":\"file\",\"operation\":" + JsonString(operation) +
         ",\"file_action\":" + JsonString(FileActionWord(d.action, d.existed)) +
         ",\"file\":" + JsonString(AnsiToUtf8Text(d.path)) + ",\"result\":" + JsonString(RunResultWord(d.result)) +
         ",\"reason\":" + JsonString(ReasonText(d.reason, d.error)) + "}";
}

void ListingObserver::OnAccount(const AccountDecision& decision) {
  print_(json_ ? AccountJson(operation_, decision) : AccountLine(decision));
}

void ListingObserver::OnFile(const FileDecision& decision) {
  print_(json_ ? FileJson(operation_, decision) : FileLine(decision));
}

}  // namespace qel
