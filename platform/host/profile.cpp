#include "platform/host/profile.h"

#include <vector>

namespace qel::host {

namespace {

std::string Trim(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  return text.substr(begin, end - begin);
}

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string current;
  for (char c : text) {
    if (c == '\n') {
      if (!current.empty() && current.back() == '\r') current.pop_back();
      lines.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) {
    if (current.back() == '\r') current.pop_back();
    lines.push_back(current);
  }
  return lines;
}

// The section named by a "[name]" line; false for other lines.
bool SectionOf(const std::string& line, std::string* name) {
  std::string trimmed = Trim(line);
  if (trimmed.empty() || trimmed[0] != '[') return false;
  size_t close = trimmed.find(']');
  *name = Trim(trimmed.substr(1, close == std::string::npos ? std::string::npos : close - 1));
  return true;
}

// The key of a "key=value" line (a line without "=" is a key without value).
std::string KeyOf(const std::string& line) { return Trim(line.substr(0, line.find('='))); }

// Index of the section's header line, or -1.
int FindSection(const std::vector<std::string>& lines, const std::string& section) {
  std::string name;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (SectionOf(lines[i], &name) && SameText(name, section)) return static_cast<int>(i);
  }
  return -1;
}

// One past the last line of the section that starts at `header`.
size_t SectionEnd(const std::vector<std::string>& lines, size_t header) {
  std::string name;
  size_t i = header + 1;
  while (i < lines.size() && !SectionOf(lines[i], &name)) ++i;
  return i;
}

std::string Join(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

}  // namespace

bool ProfileRead(const std::string& text, const std::string& section, const std::string& key, std::string* value) {
  std::vector<std::string> lines = SplitLines(text);
  int header = FindSection(lines, section);
  if (header < 0) return false;
  size_t end = SectionEnd(lines, static_cast<size_t>(header));
  for (size_t i = static_cast<size_t>(header) + 1; i < end; ++i) {
    if (Trim(lines[i]).empty() || !SameText(KeyOf(lines[i]), key)) continue;
    size_t equals = lines[i].find('=');
    std::string found = equals == std::string::npos ? std::string() : Trim(lines[i].substr(equals + 1));
    if (found.size() >= 2 && (found[0] == '"' || found[0] == '\'') && found.back() == found[0]) {
      found = found.substr(1, found.size() - 2);
    }
    *value = found;
    return true;
  }
  return false;
}

std::string ProfileSectionNames(const std::string& text) {
  std::string names;
  std::string name;
  for (const std::string& line : SplitLines(text)) {
    if (SectionOf(line, &name)) names += name + '\0';
  }
  return names;
}

std::string ProfileKeyNames(const std::string& text, const std::string& section) {
  std::vector<std::string> lines = SplitLines(text);
  int header = FindSection(lines, section);
  if (header < 0) return std::string();
  std::string names;
  size_t end = SectionEnd(lines, static_cast<size_t>(header));
  for (size_t i = static_cast<size_t>(header) + 1; i < end; ++i) {
    if (!Trim(lines[i]).empty()) names += KeyOf(lines[i]) + '\0';
  }
  return names;
}

std::string ProfileWrite(const std::string& text, const std::string& section, const char* key, const char* value) {
  std::vector<std::string> lines = SplitLines(text);
  int found = FindSection(lines, section);
  if (found < 0) {
    if (!key || !value) return text;  // nothing to remove
    lines.push_back("[" + section + "]");
    lines.push_back(std::string(key) + "=" + value);
    return Join(lines);
  }
  size_t header = static_cast<size_t>(found);
  size_t end = SectionEnd(lines, header);
  if (!key) {
    lines.erase(lines.begin() + static_cast<long>(header), lines.begin() + static_cast<long>(end));
    return Join(lines);
  }
  for (size_t i = header + 1; i < end; ++i) {
    if (Trim(lines[i]).empty() || !SameText(KeyOf(lines[i]), key)) continue;
    if (!value) {
      lines.erase(lines.begin() + static_cast<long>(i));
    } else {
      lines[i] = KeyOf(lines[i]) + "=" + value;
    }
    return Join(lines);
  }
  if (!value) return text;
  // After the last line of the section that is not blank.
  size_t at = end;
  while (at > header + 1 && Trim(lines[at - 1]).empty()) --at;
  lines.insert(lines.begin() + static_cast<long>(at), std::string(key) + "=" + value);
  return Join(lines);
}

}  // namespace qel::host
