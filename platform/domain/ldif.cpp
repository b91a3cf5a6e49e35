#include "platform/domain/ldif.h"

#include <cstdint>
#include <cstring>

#include "platform/domain/domain_text.h"

namespace qel {

namespace {

// One logical line: a view of the file's text, or of the reader's copy
// when it was folded over several lines.
struct LogicalLine {
  std::string_view text;
  int line = 0;
  bool comment = false;
  bool blank = false;
};

bool ValidAttributeName(std::string_view name) {
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

}  // namespace

// The names a record may not use, for a name already found valid.
static bool CheckReservedName(std::string_view name, std::string* reason) {
  // Compared only when the length agrees: almost every name is none of them.
  if (name.size() == 2 && AsciiEqualNoCase(name, "dn")) {
    *reason = "syntax error: second \"dn:\" in one record (blank line missing?)";
    return false;
  }
  if ((name.size() == 10 && AsciiEqualNoCase(name, "changetype")) ||
      (name.size() == 7 && AsciiEqualNoCase(name, "control"))) {
    *reason = "change records are not supported";
    return false;
  }
  return true;
}

// True for ASCII text without NUL, eight bytes at a time: the common case,
// which needs neither check below.
static bool PlainAscii(std::string_view text) {
  const char* p = text.data();
  size_t n = text.size(), i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t word;
    std::memcpy(&word, p + i, 8);
    uint64_t zero = (word - 0x0101010101010101ull) & ~word & 0x8080808080808080ull;  // a NUL byte
    if ((word & 0x8080808080808080ull) | zero) return false;
  }
  for (; i < n; ++i)
    if (p[i] == '\0' || static_cast<unsigned char>(p[i]) >= 0x80) return false;
  return true;
}

static bool CheckValue(std::string_view name, std::string_view value, std::string* reason) {
  if (PlainAscii(value)) return true;
  if (!IsUtf8(value)) {
    *reason = "the value of \"" + std::string(name) + "\" is not UTF-8 text";
    return false;
  }
  if (value.find('\0') != std::string_view::npos) {
    *reason = "the value of \"" + std::string(name) + "\" holds a NUL character";
    return false;
  }
  return true;
}

bool CheckLdifAttributeName(const std::string& name, std::string* reason) {
  if (!ValidAttributeName(name)) {
    *reason = "syntax error: bad attribute name \"" + name + "\"";
    return false;
  }
  return CheckReservedName(name, reason);
}

bool CheckLdifValue(const std::string& name, const std::string& value, std::string* reason) {
  return CheckValue(name, value, reason);
}

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
  LdifDocument doc;
  auto keep = [&doc](LdifEntry& entry, DomainError*) {
    doc.entries.push_back(std::move(entry));
    return true;
  };
  if (!ReadLdif(text, fileName, &doc, keep, error)) return false;
  *document = std::move(doc);
  return true;
}

namespace {

// The reader's state between logical lines.
class LdifReader {
 public:
  LdifReader(const std::string& file, LdifDocument* header, const LdifSink& sink, DomainError* error)
      : file_(file), header_(header), sink_(sink), error_(error) {}

  bool Line(const LogicalLine& line);
  bool End() {
    if (!Deliver()) return false;
    header_->trailingComments.swap(pending_);
    return true;
  }

 private:
  bool Deliver() {
    if (!open_) return true;
    open_ = false;
    delivered_ = true;
    current_.attributes.resize(used_);
    used_ = 0;
    bool ok = sink_(current_, error_);
    // Emptied rather than replaced: the next record reuses the room. The
    // attributes stay, for their strings' room; the next record overwrites
    // them from the first and drops what it did not use.
    current_.dn.clear();
    current_.line = 0;
    current_.comments.clear();
    return ok;
  }

  LdifAttribute& NewAttribute() {
    if (used_ == current_.attributes.size()) current_.attributes.emplace_back();
    return current_.attributes[used_++];
  }

  const std::string& file_;
  LdifDocument* header_;
  const LdifSink& sink_;
  DomainError* error_;
  LdifEntry current_;
  bool open_ = false;        // a record is being read
  bool seenRecord_ = false;
  bool delivered_ = false;  // the first record has gone to the sink
  std::vector<std::string> pending_;  // comments waiting for their record
  size_t used_ = 0;                    // attributes of the current record
  std::string decoded_;                // the value of a base64 line
};

bool LdifReader::Line(const LogicalLine& line) {
  if (line.blank) return Deliver();
  if (line.comment) {
    if (open_)
      current_.comments.emplace_back(line.text);
    else
      pending_.emplace_back(line.text);
    // Comments inside a record are written back before its "dn:" line, so
    // inside the first record they count as metadata too: the file and its
    // rewrite name the same domain.
    if (!delivered_) {
      // "# qel-KEY: VALUE"
      std::string body(line.text.substr(1));
      size_t b = body.find_first_not_of(' ');
      if (b != std::string::npos && body.compare(b, 4, "qel-") == 0) {
        size_t colon = body.find(':', b);
        if (colon != std::string::npos) {
          std::string key = body.substr(b + 4, colon - b - 4);
          size_t vb = body.find_first_not_of(' ', colon + 1);
          std::string value = vb == std::string::npos ? std::string() : body.substr(vb);
          while (!value.empty() && value.back() == ' ') value.pop_back();
          header_->meta.emplace_back(key, value);
        }
      }
    }
    return true;
  }
  size_t colon = line.text.find(':');
  if (colon == std::string_view::npos) return Fail(error_, file_, line.line, "syntax error: no \":\" in the line");
  std::string_view name = line.text.substr(0, colon);
  std::string_view value;
  size_t at = colon + 1;
  std::string reason;
  if (!ValidAttributeName(name))
    return Fail(error_, file_, line.line, "syntax error: bad attribute name \"" + std::string(name) + "\"");
  if (at < line.text.size() && line.text[at] == ':') {
    if (!Base64Decode(line.text.substr(at + 1), &decoded_))
      return Fail(error_, file_, line.line, "syntax error: bad base64 value of \"" + std::string(name) + "\"");
    value = decoded_;
  } else if (at < line.text.size() && line.text[at] == '<') {
    return Fail(error_, file_, line.line, "values read from a URL are not supported");
  } else {
    while (at < line.text.size() && line.text[at] == ' ') ++at;
    value = line.text.substr(at);
  }
  if (!CheckValue(name, value, &reason)) return Fail(error_, file_, line.line, reason);

  if (!open_) {
    if (!seenRecord_ && AsciiEqualNoCase(name, "version")) {
      if (value != "1")
        return Fail(error_, file_, line.line, "unsupported LDIF version \"" + std::string(value) + "\"");
      return true;
    }
    if (!AsciiEqualNoCase(name, "dn"))
      return Fail(error_, file_, line.line, "syntax error: a record must begin with \"dn:\"");
    if (value.empty()) return Fail(error_, file_, line.line, "syntax error: empty distinguished name");
    open_ = true;
    seenRecord_ = true;
    current_.dn.assign(value);
    current_.line = line.line;
    current_.comments.swap(pending_);
    return true;
  }
  if (!CheckReservedName(name, &reason)) return Fail(error_, file_, line.line, reason);
  LdifAttribute& attribute = NewAttribute();
  attribute.name.assign(name);
  attribute.value.assign(value);
  attribute.line = line.line;
  return true;
}

}  // namespace

bool ReadLdif(const std::string& text, const std::string& fileName, LdifDocument* header, const LdifSink& sink,
              DomainError* error) {
  LdifReader reader(fileName, header, sink, error);
  // Physical lines are joined into logical ones: a line that begins with a
  // blank continues the one before it.
  LogicalLine logical;
  bool haveLogical = false;
  std::string folded;  // the logical line when it is folded
  bool inFolded = false;
  const std::string_view all(text);
  // Editors on Windows start UTF-8 files with a byte-order mark.
  size_t pos = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  int number = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    size_t stop = end > pos && text[end - 1] == '\r' ? end - 1 : end;
    ++number;
    if (stop > pos && text[pos] == ' ') {
      if (!haveLogical || logical.blank)
        return Fail(error, fileName, number, "continuation line without a line to continue");
      if (!inFolded) folded.assign(logical.text);
      inFolded = true;
      folded.append(text, pos + 1, stop - pos - 1);
      logical.text = folded;
    } else {
      if (haveLogical && !reader.Line(logical)) return false;
      logical.text = all.substr(pos, stop - pos);
      inFolded = false;
      logical.line = number;
      logical.blank = logical.text.empty();
      logical.comment = !logical.blank && logical.text[0] == '#';
      haveLogical = true;
    }
    pos = end + 1;
  }
  if (haveLogical && !reader.Line(logical)) return false;
  return reader.End();
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
