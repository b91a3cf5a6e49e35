#include "platform/domain/ldif.h"

#include "platform/domain/domain_text.h"

namespace qel {

namespace {

struct LogicalLine {
  std::string text;
  int line = 0;
  bool comment = false;
  bool blank = false;
};

bool ValidAttributeName(const std::string& name) {
  if (name.empty()) return false;
  for (char c : name) {
    bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == ';' ||
              c == '.';
    if (!ok) return false;
  }
  return true;
}

bool Fail(DomainError* error, const std::string& file, int line, const std::string& reason) {
  if (error) {
    error->file = file;
    error->line = line;
    error->reason = reason;
  }
  return false;
}

// Splits into physical lines and joins folded ones.
bool Unfold(const std::string& text, const std::string& file, std::vector<LogicalLine>* lines, DomainError* error) {
  size_t pos = 0;
  int number = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string physical = text.substr(pos, end - pos);
    if (!physical.empty() && physical.back() == '\r') physical.pop_back();
    pos = end + 1;
    ++number;
    if (!physical.empty() && physical[0] == ' ') {
      if (lines->empty() || lines->back().blank)
        return Fail(error, file, number, "continuation line without a line to continue");
      lines->back().text += physical.substr(1);
      continue;
    }
    LogicalLine line;
    line.line = number;
    line.blank = physical.empty();
    line.comment = !physical.empty() && physical[0] == '#';
    line.text = physical;
    lines->push_back(line);
  }
  return true;
}

}  // namespace

std::string DomainError::ToString() const {
  std::string out = file;
  if (line > 0) out += ":" + std::to_string(line);
  out += ": " + reason;
  return out;
}

std::string LdifDocument::Meta(const std::string& key) const {
  for (const auto& item : meta)
    if (AsciiEqualNoCase(item.first, key)) return item.second;
  return std::string();
}

bool ParseLdif(const std::string& text, const std::string& fileName, LdifDocument* document,
               DomainError* error) {
  std::vector<LogicalLine> lines;
  if (!Unfold(text, fileName, &lines, error)) return false;
  LdifDocument doc;
  LdifEntry* current = nullptr;
  bool seenRecord = false;
  std::vector<std::string> pending;  // comments waiting for their record
  for (const LogicalLine& line : lines) {
    if (line.blank) {
      current = nullptr;
      continue;
    }
    if (line.comment) {
      if (current)
        current->comments.push_back(line.text);
      else
        pending.push_back(line.text);
      if (!seenRecord) {
        // "# qel-KEY: VALUE"
        std::string body = line.text.substr(1);
        size_t b = body.find_first_not_of(' ');
        if (b != std::string::npos && body.compare(b, 4, "qel-") == 0) {
          size_t colon = body.find(':', b);
          if (colon != std::string::npos) {
            std::string key = body.substr(b + 4, colon - b - 4);
            size_t vb = body.find_first_not_of(' ', colon + 1);
            std::string value = vb == std::string::npos ? std::string() : body.substr(vb);
            while (!value.empty() && value.back() == ' ') value.pop_back();
            doc.meta.emplace_back(key, value);
          }
        }
      }
      continue;
    }
    size_t colon = line.text.find(':');
    if (colon == std::string::npos) return Fail(error, fileName, line.line, "syntax error: no \":\" in the line");
    std::string name = line.text.substr(0, colon);
    if (!ValidAttributeName(name))
      return Fail(error, fileName, line.line, "syntax error: bad attribute name \"" + name + "\"");
    std::string value;
    size_t at = colon + 1;
    if (at < line.text.size() && line.text[at] == ':') {
      std::string encoded = line.text.substr(at + 1);
      if (!Base64Decode(encoded, &value))
        return Fail(error, fileName, line.line, "syntax error: bad base64 value of \"" + name + "\"");
    } else if (at < line.text.size() && line.text[at] == '<') {
      return Fail(error, fileName, line.line, "values read from a URL are not supported");
    } else {
      while (at < line.text.size() && line.text[at] == ' ') ++at;
      value = line.text.substr(at);
    }
    std::wstring check;
    if (!Utf8ToWide(value, &check))
      return Fail(error, fileName, line.line, "the value of \"" + name + "\" is not UTF-8 text");
    if (value.find('\0') != std::string::npos)
      return Fail(error, fileName, line.line, "the value of \"" + name + "\" holds a NUL character");

    if (!current) {
      if (!seenRecord && doc.entries.empty() && AsciiEqualNoCase(name, "version")) {
        if (value != "1") return Fail(error, fileName, line.line, "unsupported LDIF version \"" + value + "\"");
        continue;
      }
      if (!AsciiEqualNoCase(name, "dn"))
        return Fail(error, fileName, line.line, "syntax error: a record must begin with \"dn:\"");
      if (value.empty()) return Fail(error, fileName, line.line, "syntax error: empty distinguished name");
      doc.entries.emplace_back();
      current = &doc.entries.back();
      current->dn = value;
      current->line = line.line;
      current->comments.swap(pending);
      seenRecord = true;
      continue;
    }
    if (AsciiEqualNoCase(name, "dn"))
      return Fail(error, fileName, line.line, "syntax error: second \"dn:\" in one record (blank line missing?)");
    if (AsciiEqualNoCase(name, "changetype") || AsciiEqualNoCase(name, "control"))
      return Fail(error, fileName, line.line, "change records are not supported");
    current->attributes.push_back(LdifAttribute{name, value, line.line});
  }
  doc.trailingComments.swap(pending);
  *document = std::move(doc);
  return true;
}

std::string FormatLdifLine(const std::string& name, const std::string& value) {
  bool safe = true;
  if (!value.empty()) {
    unsigned char first = static_cast<unsigned char>(value[0]);
    if (first == ' ' || first == ':' || first == '<' || value.back() == ' ') safe = false;
  }
  for (unsigned char c : value)
    if (c < 0x20 || c >= 0x7F) safe = false;
  std::string line = name;
  if (safe) {
    line += ": ";
    line += value;
  } else {
    line += ":: ";
    line += Base64Encode(value);
  }
  if (line.size() <= 76) return line + "\n";
  std::string folded = line.substr(0, 76) + "\n";
  for (size_t pos = 76; pos < line.size(); pos += 75) folded += " " + line.substr(pos, 75) + "\n";
  return folded;
}

}  // namespace qel
