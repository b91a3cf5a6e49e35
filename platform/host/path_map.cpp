#include "platform/host/path_map.h"

#include <dirent.h>
#include <errno.h>
#include <sys/stat.h>

#include <cctype>
#include <cstring>

namespace qel::host {

namespace {

bool IsLeadByte936(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

// Upper case of one byte of code page 1252, as NTFS folds the Unicode
// character it stands for.
unsigned char Upper1252(unsigned char c) {
  if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 'a' + 'A');
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<unsigned char>(c - 0x20);
  switch (c) {
    case 0x9A: return 0x8A;  // s caron
    case 0x9C: return 0x8C;  // oe
    case 0x9E: return 0x8E;  // z caron
    case 0xFF: return 0x9F;  // y diaeresis
    default: return c;
  }
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Characters Windows refuses in a file name.
bool IsInvalidNameChar(unsigned char c, bool allowWildcards) {
  if (c < 32) return true;
  if (c == '*' || c == '?') return !allowWildcards;
  return c == '<' || c == '>' || c == ':' || c == '"' || c == '|';
}

std::vector<std::string> SplitComponents(const std::string& text) {
  std::vector<std::string> parts;
  std::string current;
  for (char c : text) {
    if (IsSeparator(c)) {
      if (!current.empty()) parts.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) parts.push_back(current);
  return parts;
}

// Applies "." and ".." and Windows' removal of trailing dots and blanks.
void AppendComponents(const std::vector<std::string>& in, std::vector<std::string>* out) {
  for (std::string part : in) {
    if (part == ".") continue;
    if (part == "..") {
      if (!out->empty()) out->pop_back();
      continue;
    }
    size_t end = part.size();
    while (end > 0 && (part[end - 1] == '.' || part[end - 1] == ' ')) --end;
    if (end > 0) part.resize(end);
    out->push_back(part);
  }
}

DWORD ParseDepth(const HostConfig& config, const std::string& path, unsigned flags, WindowsPath* out, int depth) {
  if (path.empty()) return ERROR_PATH_NOT_FOUND;
  if (path.size() >= MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;
  WindowsPath result;
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    // UNC: \\SERVER\SHARE\rest through the share map.
    std::vector<std::string> unc = SplitComponents(path.substr(2));
    if (unc.size() < 2) return ERROR_BAD_NETPATH;
    const std::string* target = nullptr;
    bool serverKnown = false;
    for (const auto& share : config.shares) {
      std::vector<std::string> known = SplitComponents(share.first);
      if (known.size() == 2 && SameName(known[0], unc[0], config.codePage)) {
        serverKnown = true;
        if (SameName(known[1], unc[1], config.codePage)) target = &share.second;
      }
    }
    if (!target) return serverKnown ? ERROR_BAD_NET_NAME : ERROR_BAD_NETPATH;
    if (depth > 4) return ERROR_BAD_NETPATH;
    DWORD error = ParseDepth(config, *target, kParseNone, &result, depth + 1);
    if (error) return error;
    std::vector<std::string> tail(unc.begin() + 2, unc.end());
    AppendComponents(tail, &result.parts);
  } else if (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]))) {
    result.drive = static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
    std::string rest = path.substr(2);
    if (!rest.empty() && !IsSeparator(rest[0])) {
      // "C:name" is relative to the drive's current folder; only the
      // current drive has one here, other drives use their root.
      WindowsPath current;
      if (depth == 0 && ParseDepth(config, config.currentDir, kParseNone, &current, depth + 1) == 0 &&
          current.drive == result.drive) {
        result.parts = current.parts;
      }
    }
    AppendComponents(SplitComponents(rest), &result.parts);
  } else if (IsSeparator(path[0])) {
    // "\x": the root of the current drive.
    WindowsPath current;
    DWORD error = ParseDepth(config, config.currentDir, kParseNone, &current, depth + 1);
    if (error) return error;
    result.drive = current.drive;
    AppendComponents(SplitComponents(path), &result.parts);
  } else {
    // Relative to the current folder.
    if (depth > 0) return ERROR_PATH_NOT_FOUND;
    DWORD error = ParseDepth(config, config.currentDir, kParseNone, &result, depth + 1);
    if (error) return error;
    AppendComponents(SplitComponents(path), &result.parts);
  }
  for (size_t i = 0; i < result.parts.size(); ++i) {
    bool last = i + 1 == result.parts.size();
    for (unsigned char c : result.parts[i]) {
      if (IsInvalidNameChar(c, last && (flags & kAllowWildcardsInLast))) return ERROR_INVALID_NAME;
    }
  }
  *out = result;
  return 0;
}

bool IsDirectory(const std::string& hostPath) {
  struct stat st;
  return ::stat(hostPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& hostPath) {
  struct stat st;
  return ::lstat(hostPath.c_str(), &st) == 0;
}

}  // namespace

std::string FoldCase(const std::string& text, unsigned codePage) {
  std::string folded = text;
  for (size_t i = 0; i < folded.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(folded[i]);
    if (codePage == 936) {
      if (IsLeadByte936(c)) {
        ++i;  // the trail byte is part of one character
        continue;
      }
      if (c >= 'a' && c <= 'z') folded[i] = static_cast<char>(c - 'a' + 'A');
    } else {
      folded[i] = static_cast<char>(Upper1252(c));
    }
  }
  return folded;
}

bool SameName(const std::string& a, const std::string& b, unsigned codePage) {
  return a.size() == b.size() && FoldCase(a, codePage) == FoldCase(b, codePage);
}

DWORD ParseWindowsPath(const HostConfig& config, const std::string& path, unsigned flags, WindowsPath* out) {
  return ParseDepth(config, path, flags, out, 0);
}

std::string DriveFolder(const HostConfig& config, char drive) {
  std::string letter(1, static_cast<char>(std::toupper(static_cast<unsigned char>(drive))));
  std::string found = FindInFolder(config.root, letter, config.codePage);
  return config.root + "/" + (found.empty() ? letter : found);
}

std::string FindInFolder(const std::string& folder, const std::string& name, unsigned codePage) {
  if (Exists(folder + "/" + name)) return name;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return std::string();
  std::string wanted = FoldCase(name, codePage);
  std::string match;
  while (struct dirent* entry = ::readdir(dir)) {
    std::string candidate = entry->d_name;
    if (candidate == "." || candidate == "..") continue;
    if (candidate.size() == name.size() && FoldCase(candidate, codePage) == wanted) {
      // Several host names can fold to one Windows name; take the smallest
      // so that every call picks the same one.
      if (match.empty() || candidate < match) match = candidate;
    }
  }
  ::closedir(dir);
  return match;
}

DWORD ResolveParsed(const HostConfig& config, const WindowsPath& parsed, ResolvedPath* out) {
  ResolvedPath result;
  result.host = DriveFolder(config, parsed.drive);
  if (!IsDirectory(result.host)) return ERROR_PATH_NOT_FOUND;  // no such drive
  if (parsed.parts.empty()) {
    result.exists = true;
    result.isRoot = true;
    result.name = std::string(1, parsed.drive) + ":";
    *out = result;
    return 0;
  }
  for (size_t i = 0; i < parsed.parts.size(); ++i) {
    bool last = i + 1 == parsed.parts.size();
    std::string found = FindInFolder(result.host, parsed.parts[i], config.codePage);
    if (found.empty()) {
      if (!last) return ERROR_PATH_NOT_FOUND;
      result.host += "/" + parsed.parts[i];
      result.name = parsed.parts[i];
      result.exists = false;
      *out = result;
      return 0;
    }
    result.host += "/" + found;
    if (!last && !IsDirectory(result.host)) return ERROR_PATH_NOT_FOUND;
    result.name = found;
  }
  result.exists = true;
  *out = result;
  return 0;
}

DWORD ResolveWindowsPath(const HostConfig& config, const std::string& path, unsigned flags, ResolvedPath* out) {
  WindowsPath parsed;
  DWORD error = ParseWindowsPath(config, path, flags, &parsed);
  if (error) return error;
  return ResolveParsed(config, parsed, out);
}

DWORD ErrorFromErrno(int error) {
  switch (error) {
    case 0: return 0;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_FILE_EXISTS;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EBADF: return ERROR_INVALID_HANDLE;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case EBUSY:
    case ETXTBSY: return ERROR_SHARING_VIOLATION;
    default: return ERROR_GEN_FAILURE;
  }
}

}  // namespace qel::host

namespace qel {

std::string HostPathOf(const HostConfig& config, const std::string& windowsPath) {
  host::WindowsPath parsed;
  if (host::ParseWindowsPath(config, windowsPath, host::kParseNone, &parsed) != 0) return std::string();
  std::string result = config.root + "/" + std::string(1, parsed.drive);
  for (const std::string& part : parsed.parts) result += "/" + part;
  return result;
}

}  // namespace qel
