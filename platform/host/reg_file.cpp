#include "platform/host/reg_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>

namespace qel::host {

namespace {

const char kHeader[] = "Windows Registry Editor Version 5.00";
const char kHeader4[] = "REGEDIT4";

const char* const kRoots[] = {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKEY_CLASSES_ROOT", "HKEY_USERS",
                              "HKEY_CURRENT_CONFIG"};

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// path is prefix itself or lies below it.
bool StartsWithKey(const std::string& path, const std::string& prefix) {
  if (path.size() < prefix.size()) return false;
  if (!SameRegName(path.substr(0, prefix.size()), prefix)) return false;
  return path.size() == prefix.size() || path[prefix.size()] == '\\';
}

bool IsBelow(const std::string& path, const std::string& ancestor) {
  return path.size() > ancestor.size() && StartsWithKey(path, ancestor);
}

std::string Trim(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  return text.substr(begin, end - begin);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// True when the line ends with a backslash that is not inside a string: the
// value goes on on the next line.
bool ContinuesOnNextLine(const std::string& line) {
  bool inString = false;
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (inString) {
      if (c == '\\' && i + 1 < line.size()) {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    }
  }
  return !inString && !line.empty() && line.back() == '\\';
}

// Bytes that are UTF-16LE code units of ASCII characters (NULs included)
// become those characters, as RegQueryValueExA returns the string. Any
// other bytes are kept as they are: they were written as 8-bit text.
void FromUtf16Bytes(std::vector<BYTE>* data) {
  if (data->empty() || data->size() % 2 != 0) return;
  for (size_t i = 0; i < data->size(); i += 2)
    if ((*data)[i] >= 0x80 || (*data)[i + 1] != 0) return;
  std::vector<BYTE> narrow;
  for (size_t i = 0; i < data->size(); i += 2) narrow.push_back((*data)[i]);
  data->swap(narrow);
}

// The reverse, for writing: 8-bit ASCII strings go out as UTF-16LE, so that
// reading them back gives the same bytes.
std::vector<BYTE> ToUtf16Bytes(const std::vector<BYTE>& data) {
  for (BYTE b : data)
    if (b >= 0x80) return data;
  std::vector<BYTE> wide;
  for (BYTE b : data) {
    wide.push_back(b);
    wide.push_back(0);
  }
  return wide;
}

class Parser {
 public:
  Parser(const std::string& fileName, std::string* error) : fileName_(fileName), error_(error) {}

  bool Fail(size_t line, const std::string& problem) {
    if (error_) *error_ = "registry file " + fileName_ + ", line " + std::to_string(line) + ": " + problem;
    return false;
  }

  // A quoted string at text[*pos] (which is '"'); escapes \\ and \".
  bool ParseQuoted(const std::string& text, size_t* pos, size_t line, std::string* out) {
    size_t i = *pos + 1;
    out->clear();
    while (i < text.size()) {
      char c = text[i];
      if (c == '"') {
        *pos = i + 1;
        return true;
      }
      if (c == '\\') {
        if (i + 1 >= text.size()) break;
        char next = text[i + 1];
        if (next != '\\' && next != '"') {
          return Fail(line, std::string("unknown escape \"\\") + next + "\" in a string (write \\\\ for a backslash)");
        }
        *out += next;
        i += 2;
        continue;
      }
      *out += c;
      ++i;
    }
    return Fail(line, "unterminated string");
  }

  bool ParseHexBytes(const std::string& text, size_t line, std::vector<BYTE>* out) {
    out->clear();
    size_t i = 0;
    auto skipBlanks = [&]() {
      while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    };
    skipBlanks();
    if (i == text.size()) return true;
    for (;;) {
      skipBlanks();
      int high = i < text.size() ? HexDigit(text[i]) : -1;
      if (high < 0) return Fail(line, "bad hex byte \"" + text.substr(i, 4) + "\"");
      ++i;
      int value = high;
      if (i < text.size() && HexDigit(text[i]) >= 0) {
        value = value * 16 + HexDigit(text[i]);
        ++i;
      }
      out->push_back(static_cast<BYTE>(value));
      skipBlanks();
      if (i == text.size()) return true;
      if (text[i] != ',') return Fail(line, "bad hex byte list near \"" + text.substr(i, 8) + "\"");
      ++i;
      skipBlanks();
      if (i == text.size()) return true;  // a trailing comma is allowed
    }
  }

  bool ParseValueData(const std::string& text, size_t line, RegValue* value, bool* remove) {
    *remove = false;
    if (text.empty()) return Fail(line, "missing value data after \"=\"");
    if (text[0] == '"') {
      size_t pos = 0;
      std::string content;
      if (!ParseQuoted(text, &pos, line, &content)) return false;
      if (!Trim(text.substr(pos)).empty()) return Fail(line, "unexpected text after the string");
      value->type = REG_SZ;
      value->data.assign(content.begin(), content.end());
      value->data.push_back(0);
      return true;
    }
    if (text == "-") {
      *remove = true;
      return true;
    }
    std::string lower;
    for (char c : text.substr(0, 6)) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower.compare(0, 6, "dword:") == 0) {
      std::string digits = Trim(text.substr(6));
      if (digits.empty() || digits.size() > 8) return Fail(line, "dword needs 1 to 8 hex digits");
      DWORD number = 0;
      for (char c : digits) {
        int d = HexDigit(c);
        if (d < 0) return Fail(line, "bad hex digit in dword \"" + digits + "\"");
        number = number * 16 + static_cast<DWORD>(d);
      }
      value->type = REG_DWORD;
      value->data = {static_cast<BYTE>(number), static_cast<BYTE>(number >> 8), static_cast<BYTE>(number >> 16),
                     static_cast<BYTE>(number >> 24)};
      return true;
    }
    if (lower.compare(0, 4, "hex:") == 0) {
      value->type = REG_BINARY;
      return ParseHexBytes(text.substr(4), line, &value->data);
    }
    if (lower.compare(0, 4, "hex(") == 0) {
      size_t close = text.find(')');
      if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') {
        return Fail(line, "bad hex(type): form");
      }
      std::string digits = text.substr(4, close - 4);
      if (digits.empty() || digits.size() > 8) return Fail(line, "bad value type in hex(" + digits + ")");
      DWORD type = 0;
      for (char c : digits) {
        int d = HexDigit(c);
        if (d < 0) return Fail(line, "bad value type in hex(" + digits + ")");
        type = type * 16 + static_cast<DWORD>(d);
      }
      value->type = type;
      if (!ParseHexBytes(text.substr(close + 2), line, &value->data)) return false;
      // regedit writes expandable and multiple strings as UTF-16LE bytes.
      if (type == REG_EXPAND_SZ || type == REG_MULTI_SZ) FromUtf16Bytes(&value->data);
      return true;
    }
    return Fail(line, "unknown value data \"" + text.substr(0, 20) + "\"");
  }

  // The 8-bit text of a UTF-16LE file (after its byte-order mark). Only
  // ASCII has the same bytes in every ANSI code page: any other character
  // is refused with its line rather than guessed at.
  bool FromUtf16Text(const std::string& input, std::string* text) {
    if (input.size() % 2 != 0) return Fail(1, "the UTF-16 file ends in the middle of a character");
    text->clear();
    size_t line = 1;
    for (size_t i = 2; i < input.size(); i += 2) {
      unsigned unit = static_cast<unsigned char>(input[i]) | (static_cast<unsigned char>(input[i + 1]) << 8);
      if (unit >= 0x80) return Fail(line, "a character outside ASCII in a UTF-16 file; save it as 8-bit text");
      if (unit == '\n') ++line;
      *text += static_cast<char>(unit);
    }
    return true;
  }

  bool ValidKeyPath(const std::string& path, size_t line) {
    if (path.empty()) return Fail(line, "empty key name");
    std::string root = path.substr(0, path.find('\\'));
    bool known = false;
    for (const char* name : kRoots) known = known || SameRegName(root, name);
    if (!known) return Fail(line, "unknown root key \"" + root + "\"");
    if (path.back() == '\\' || path.find("\\\\") != std::string::npos) {
      return Fail(line, "empty name in key path \"" + path + "\"");
    }
    return true;
  }

  bool Parse(const std::string& input, RegData* out) {
    std::string text = input;
    if (text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0xFF &&
        static_cast<unsigned char>(text[1]) == 0xFE) {
      // What regedit exports: UTF-16LE with its byte-order mark.
      if (!FromUtf16Text(input, &text)) return false;
    }
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    std::vector<std::string> lines;
    {
      std::string current;
      for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        if (c == '\n' || c == '\r') {
          lines.push_back(current);
          current.clear();
        } else {
          current += c;
        }
      }
      if (!current.empty()) lines.push_back(current);
    }
    RegData data;
    size_t i = 0;
    while (i < lines.size() && Trim(lines[i]).empty()) ++i;
    if (i == lines.size()) {
      *out = data;  // an empty file is an empty registry
      return true;
    }
    std::string header = Trim(lines[i]);
    if (header != kHeader && header != kHeader4) {
      return Fail(i + 1, std::string("expected \"") + kHeader + "\" as the first line");
    }
    ++i;
    int keyIndex = -1;  // the key values go to; -1 before any key or after a removed one
    bool removedKey = false;
    std::vector<std::string> comments;
    for (; i < lines.size(); ++i) {
      size_t lineNumber = i + 1;
      std::string line = Trim(lines[i]);
      if (line.empty()) continue;
      if (line[0] == ';') {
        comments.push_back(line);
        continue;
      }
      if (line[0] == '[') {
        if (line.back() != ']') return Fail(lineNumber, "key name without closing \"]\"");
        std::string path = line.substr(1, line.size() - 2);
        bool remove = !path.empty() && path[0] == '-';
        if (remove) path.erase(0, 1);
        if (!ValidKeyPath(path, lineNumber)) return false;
        if (remove) {
          data.RemoveKey(path);
          keyIndex = -1;
          removedKey = true;
          comments.clear();
          continue;
        }
        removedKey = false;
        RegKey* existing = data.FindKey(path);
        if (existing) {
          keyIndex = static_cast<int>(existing - data.keys.data());
        } else {
          RegKey key;
          key.path = path;
          data.keys.push_back(key);
          keyIndex = static_cast<int>(data.keys.size()) - 1;
        }
        auto& keyComments = data.keys[keyIndex].comments;
        keyComments.insert(keyComments.end(), comments.begin(), comments.end());
        comments.clear();
        continue;
      }
      if (line[0] == '"' || line[0] == '@') {
        while (ContinuesOnNextLine(line)) {
          line.pop_back();
          if (i + 1 >= lines.size()) return Fail(lineNumber, "the value goes on past the end of the file");
          line += Trim(lines[++i]);
        }
        if (keyIndex < 0 && !removedKey) return Fail(lineNumber, "value before any [key] line");
        RegValue value;
        size_t pos = 0;
        if (line[0] == '@') {
          pos = 1;
        } else if (!ParseQuoted(line, &pos, lineNumber, &value.name)) {
          return false;
        }
        while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
        if (pos >= line.size() || line[pos] != '=') return Fail(lineNumber, "expected \"=\" after the value name");
        bool remove = false;
        if (!ParseValueData(Trim(line.substr(pos + 1)), lineNumber, &value, &remove)) return false;
        if (keyIndex < 0) continue;  // values of a removed key are dropped with it
        RegKey& key = data.keys[keyIndex];
        RegValue* old = RegData::FindValue(key, value.name);
        if (remove) {
          if (old) key.values.erase(key.values.begin() + (old - key.values.data()));
          comments.clear();
          continue;
        }
        value.comments = comments;
        comments.clear();
        if (old) {
          *old = value;
        } else {
          key.values.push_back(value);
        }
        continue;
      }
      return Fail(lineNumber, "unexpected text \"" + line.substr(0, 40) + "\" (expected [key], a value or ;comment)");
    }
    data.trailingComments = comments;
    *out = data;
    return true;
  }

 private:
  std::string fileName_;
  std::string* error_;
};

std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

// A string value that a quoted string gives back unchanged: one terminating
// NUL, no other NUL and no line breaks.
bool FitsQuotedString(const RegValue& value) {
  if (value.type != REG_SZ || value.data.empty() || value.data.back() != 0) return false;
  for (size_t i = 0; i + 1 < value.data.size(); ++i) {
    BYTE b = value.data[i];
    if (b == 0 || b == '\r' || b == '\n') return false;
  }
  return true;
}

std::string FormatValue(const RegValue& value) {
  std::string line = value.name.empty() ? std::string("@") : Quote(value.name);
  line += "=";
  if (FitsQuotedString(value)) return line + Quote(std::string(value.data.begin(), value.data.end() - 1));
  if (value.type == REG_DWORD && value.data.size() == 4) {
    char buffer[16];
    DWORD number = value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) |
                   (static_cast<DWORD>(value.data[3]) << 24);
    std::snprintf(buffer, sizeof buffer, "dword:%08x", number);
    return line + buffer;
  }
  char prefix[24];
  if (value.type == REG_BINARY) {
    std::snprintf(prefix, sizeof prefix, "hex:");
  } else {
    std::snprintf(prefix, sizeof prefix, "hex(%x):", value.type);
  }
  line += prefix;
  size_t column = line.size();
  const std::vector<BYTE> bytes =
      value.type == REG_EXPAND_SZ || value.type == REG_MULTI_SZ ? ToUtf16Bytes(value.data) : value.data;
  for (size_t i = 0; i < bytes.size(); ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, "%02x", bytes[i]);
    line += byte;
    column += 2;
    if (i + 1 < bytes.size()) {
      line += ",";
      ++column;
      if (column > 76) {
        line += "\\\r\n  ";
        column = 2;
      }
    }
  }
  return line;
}

}  // namespace

bool SameRegName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  }
  return true;
}

RegKey* RegData::FindKey(const std::string& path) {
  for (RegKey& key : keys) {
    if (SameRegName(key.path, path)) return &key;
  }
  return nullptr;
}

const RegKey* RegData::FindKey(const std::string& path) const {
  for (const RegKey& key : keys) {
    if (SameRegName(key.path, path)) return &key;
  }
  return nullptr;
}

bool RegData::KeyExists(const std::string& path) const {
  if (path.find('\\') == std::string::npos) return true;  // a root
  for (const RegKey& key : keys) {
    if (StartsWithKey(key.path, path)) return true;
  }
  return false;
}

RegKey& RegData::EnsureKey(const std::string& path) {
  if (RegKey* key = FindKey(path)) return *key;
  RegKey fresh;
  fresh.path = path;
  if (KeyExists(path)) {
    // Implied by a subkey: stored just before its first subkey.
    for (size_t i = 0; i < keys.size(); ++i) {
      if (IsBelow(keys[i].path, path)) return *keys.insert(keys.begin() + i, fresh);
    }
  }
  size_t cut = path.rfind('\\');
  std::string parent = path.substr(0, cut);
  size_t position = keys.size();
  if (parent.find('\\') != std::string::npos) {
    EnsureKey(parent);
    // After the parent's subtree, so that a key's subkeys stay together.
    for (size_t i = 0; i < keys.size(); ++i) {
      if (StartsWithKey(keys[i].path, parent)) position = i + 1;
    }
  }
  return *keys.insert(keys.begin() + position, fresh);
}

void RegData::RemoveKey(const std::string& path) {
  std::vector<RegKey> kept;
  for (RegKey& key : keys) {
    if (!StartsWithKey(key.path, path)) kept.push_back(std::move(key));
  }
  keys.swap(kept);
}

RegValue* RegData::FindValue(RegKey& key, const std::string& name) {
  for (RegValue& value : key.values) {
    if (SameRegName(value.name, name)) return &value;
  }
  return nullptr;
}

const RegValue* RegData::FindValue(const RegKey& key, const std::string& name) {
  for (const RegValue& value : key.values) {
    if (SameRegName(value.name, name)) return &value;
  }
  return nullptr;
}

bool ParseRegText(const std::string& text, const std::string& fileName, RegData* data, std::string* error) {
  Parser parser(fileName, error);
  return parser.Parse(text, data);
}

std::string FormatRegText(const RegData& data) {
  std::string text = std::string(kHeader) + "\r\n\r\n";
  for (const RegKey& key : data.keys) {
    for (const std::string& comment : key.comments) text += comment + "\r\n";
    text += "[" + key.path + "]\r\n";
    for (const RegValue& value : key.values) {
      for (const std::string& comment : value.comments) text += comment + "\r\n";
      text += FormatValue(value) + "\r\n";
    }
    text += "\r\n";
  }
  for (const std::string& comment : data.trailingComments) text += comment + "\r\n";
  return text;
}

bool ReadRegFileText(const std::string& path, std::string* text, bool* exists, std::string* error) {
  text->clear();
  *exists = false;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return true;
    if (error) *error = "registry file " + path + ": cannot be read: " + std::strerror(errno);
    return false;
  }
  char buffer[65536];
  for (;;) {
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      if (error) *error = "registry file " + path + ": cannot be read: " + std::strerror(errno);
      ::close(fd);
      return false;
    }
    if (got == 0) break;
    text->append(buffer, static_cast<size_t>(got));
  }
  ::close(fd);
  *exists = true;
  return true;
}

bool WriteRegFileText(const std::string& path, const std::string& text, std::string* error) {
  size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string temp = folder + "/." + base + ".XXXXXX";
  std::vector<char> name(temp.begin(), temp.end());
  name.push_back(0);
  auto fail = [&](const char* what, int code) {
    if (error) *error = "registry file " + path + ": " + what + ": " + std::strerror(code);
    return false;
  };
  int fd = ::mkstemp(name.data());
  if (fd < 0) return fail("cannot create a temporary file beside it", errno);
  ::fchmod(fd, 0644);
  size_t done = 0;
  while (done < text.size()) {
    ssize_t put = ::write(fd, text.data() + done, text.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      int saved = put < 0 ? errno : ENOSPC;
      ::close(fd);
      ::unlink(name.data());
      return fail("cannot write", saved);
    }
    done += static_cast<size_t>(put);
  }
  // Flushed before the rename, so a crash leaves the old file or the new one.
  bool synced = ::fsync(fd) == 0;
  int saved = errno;
  if (::close(fd) != 0 && synced) {
    synced = false;
    saved = errno;
  }
  if (!synced) {
    ::unlink(name.data());
    return fail("cannot write", saved);
  }
  if (::rename(name.data(), path.c_str()) != 0) {
    saved = errno;
    ::unlink(name.data());
    return fail("cannot replace", saved);
  }
  return true;
}

bool LoadRegFile(const std::string& path, RegData* data, std::string* error) {
  std::string text;
  bool exists = false;
  if (!ReadRegFileText(path, &text, &exists, error)) return false;
  return ParseRegText(text, path, data, error);
}

bool SaveRegFile(const std::string& path, const RegData& data, std::string* error) {
  return WriteRegFileText(path, FormatRegText(data), error);
}

}  // namespace qel::host
