#include "deploy/run_listing.h"

#include <cstdio>

#include "deploy/run_record.h"

namespace qel {

namespace {

const char* ActionWord(int action, BOOL existed) {
  switch (action) {
    case FILE_WRITTEN:
      return existed ? "replaced" : "created";
    case FILE_DELETED:
      return "deleted";
    case FILE_KEPT:
      return "kept";
    default:
      return "";
  }
}

std::string WithError(const char* reason, DWORD error) {
  std::string text = reason != nullptr ? reason : "";
  if (error != 0) text += " (error " + std::to_string(static_cast<unsigned long>(error)) + ")";
  return text;
}

std::string Hex(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(value));
  return text;
}

}  // namespace

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
  return line + "; " + RunResultWord(d.result) + ": " + WithError(d.reason, d.error);
}

std::string FileLine(const FileDecision& d) {
  std::string action = ActionWord(d.action, d.existed);
  return "    " + (action.empty() ? "" : action + " ") + AnsiToUtf8Text(d.path) + "; " + RunResultWord(d.result) +
         ": " + WithError(d.reason, d.error);
}

std::string AccountJson(const std::string& operation, const AccountDecision& d) {
  bool read = d.read != FALSE;
  return "{\"type\":\"account\",\"operation\":" + JsonString(operation) +
         ",\"account\":" + JsonString(AnsiToUtf8Text(d.account)) + ",\"dn\":" + JsonString(WideToUtf8Text(d.dn)) +
         ",\"before\":" + JsonString(AnsiToUtf8Text(d.before)) + ",\"after\":" + JsonString(AnsiToUtf8Text(d.after)) +
         ",\"flags_before\":" + JsonString(read ? Hex(d.flagsBefore) : "") +
         ",\"flags_after\":" + JsonString(read ? Hex(d.flagsAfter) : "") + ",\"file_action\":" +
         JsonString(d.fileAction == FILE_DELETED   ? "deleted"
                    : d.fileAction == FILE_WRITTEN ? "written"
                                                   : "") +
         ",\"file\":" + JsonString(AnsiToUtf8Text(d.file)) + ",\"result\":" + JsonString(RunResultWord(d.result)) +
         ",\"reason\":" + JsonString(WithError(d.reason, d.error)) + "}";
}

std::string FileJson(const std::string& operation, const FileDecision& d) {
  return "{\"type\":\"file\",\"operation\":" + JsonString(operation) +
         ",\"file_action\":" + JsonString(ActionWord(d.action, d.existed)) +
         ",\"file\":" + JsonString(AnsiToUtf8Text(d.path)) + ",\"result\":" + JsonString(RunResultWord(d.result)) +
         ",\"reason\":" + JsonString(WithError(d.reason, d.error)) + "}";
}

void ListingObserver::OnAccount(const AccountDecision& decision) {
  print_(json_ ? AccountJson(operation_, decision) : AccountLine(decision));
}

void ListingObserver::OnFile(const FileDecision& decision) {
  print_(json_ ? FileJson(operation_, decision) : FileLine(decision));
}

}  // namespace qel
