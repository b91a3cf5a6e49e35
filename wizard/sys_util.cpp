#include "wizard/sys_util.h"

#include <cstring>
#include <vector>

#include "log/log_utility.h"
#include "platform/ports.h"

namespace qel {

const char kQelRegistryKey[] = "Software\\Orvane\\Qel";

namespace {

bool IsBlank(char c) {
  // isspace in the "C" locale; no lead or trailing byte of a double-byte
  // code page falls in this range.
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

void TrimBlanks(std::string& text) {
  size_t end = text.size();
  while (end > 0 && IsBlank(text[end - 1])) --end;
  size_t begin = 0;
  while (begin < end && IsBlank(text[begin])) ++begin;
  text = text.substr(begin, end - begin);
}

// Offset of the first whole character `ch` at or after `from`, or npos.
// `from` must be a character boundary.
size_t FindChar(const std::string& text, size_t from, char ch) {
  const char* base = text.c_str();
  for (const char* p = base + from; *p != '\0'; p = MbsInc(p)) {
    if (*p == ch) return static_cast<size_t>(p - base);
  }
  return std::string::npos;
}

}  // namespace

const char* MbsInc(const char* p) {
  if (*p == '\0') return p;
  if (CodePage().IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1] != '\0') return p + 2;
  return p + 1;
}

char* MbsInc(char* p) { return const_cast<char*>(MbsInc(static_cast<const char*>(p))); }

const char* MbsRChr(const char* text, char ch) {
  const char* found = nullptr;
  for (const char* p = text; *p != '\0'; p = MbsInc(p)) {
    if (*p == ch) found = p;
  }
  return found;
}

BOOL RegReadString(HKEY root, const char* subKey, const char* valueName, std::string& text) {
  text.clear();
  if (root == nullptr || subKey == nullptr || valueName == nullptr) return FALSE;

  HKEY key = nullptr;
  if (Registry().RegOpenKeyA(root, subKey, &key) != ERROR_SUCCESS) return FALSE;

  BOOL ok = FALSE;
  DWORD type = 0;
  DWORD size = 0;
  if (Registry().RegQueryValueExA(key, valueName, &type, nullptr, &size) == ERROR_SUCCESS) {
    // One byte more than the data, zeroed, so that data stored without its
    // terminator still reads as a text.
    std::vector<char> data(static_cast<size_t>(size) + 1, '\0');
    DWORD read = size;
    if (Registry().RegQueryValueExA(key, valueName, &type, reinterpret_cast<BYTE*>(data.data()), &read) ==
        ERROR_SUCCESS) {
      if (read > size) read = size;
      text.assign(data.data(), strnlen(data.data(), read));
      ok = TRUE;
    }
  }
  Registry().RegCloseKey(key);

  TrimBlanks(text);
  return ok;
}

BOOL RegReadDword(HKEY root, const char* subKey, const char* valueName, DWORD* value) {
  if (value == nullptr) return FALSE;
  *value = 0;
  if (root == nullptr || subKey == nullptr) return FALSE;

  HKEY key = nullptr;
  if (Registry().RegOpenKeyA(root, subKey, &key) != ERROR_SUCCESS) return FALSE;
  DWORD type = 0;
  DWORD size = sizeof(DWORD);
  DWORD data = 0;
  LONG rc = Registry().RegQueryValueExA(key, valueName, &type, reinterpret_cast<BYTE*>(&data), &size);
  Registry().RegCloseKey(key);
  // A value longer than 4 bytes answers ERROR_MORE_DATA and leaves the
  // buffer undefined: it counts as unreadable.
  if (rc != ERROR_SUCCESS) return FALSE;
  *value = data;
  return TRUE;
}

BOOL GetInstallPath(std::string& path) {
  if (!RegReadString(HKEY_LOCAL_MACHINE, kQelRegistryKey, "installpath", path)) return FALSE;
  TrimBlanks(path);
  TrimRightBackslash(path);
  return TRUE;
}

BOOL TrimRightChar(std::string& text, char ch) {
  if (text.empty()) return FALSE;
  std::vector<char> buffer(text.begin(), text.end());
  buffer.push_back('\0');
  StripTrailingChar(buffer.data(), ch);
  text.assign(buffer.data());
  return TRUE;
}

BOOL TrimRightBackslash(std::string& text) { return TrimRightChar(text, '\\'); }

int StripTrailingChar(char* buffer, char ch) {
  if (buffer == nullptr) return 1;
  char* run = nullptr;
  for (char* p = buffer; *p != '\0'; p = MbsInc(p)) {
    if (*p == ch) {
      if (run == nullptr) run = p;
    } else {
      run = nullptr;
    }
  }
  if (run != nullptr) *run = '\0';
  return 1;
}

int StripTrailingBackslash(char* buffer) { return StripTrailingChar(buffer, '\\'); }

int CheckPathKind(const char* path, int expectFile) {
  if (path == nullptr || *path == '\0') return -1;
  DWORD attributes = Files().GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return -1;
  bool isDirectory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (expectFile != 0 ? isDirectory : !isDirectory) return -2;
  return 0;
}

int RemovePath(const char* path) {
  if (CheckPathKind(path, 1) < 0) return 2;
  if (!Files().SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL)) return -1;
  return Files().DeleteFileA(path) ? 0 : -1;
}

BOOL FILCreateNeedDirectory(const char* path) {
  if (path == nullptr) return FALSE;
  if (CheckPathKind(path, 0) == 0) return TRUE;

  const std::string whole(path);
  BOOL created = TRUE;
  DWORD lastError = 0;
  size_t pos = 0;
  bool done = false;
  while (!done) {
    std::string component;
    size_t slash = FindChar(whole, pos, '\\');
    if (slash != std::string::npos) {
      component = whole.substr(0, slash);
      pos = slash + 1;
      done = pos >= whole.size();
    } else {
      component = whole;
      done = true;
    }

    int kind = CheckPathKind(component.c_str(), 0);
    if (kind == -2) {
      // A file has the directory's name: it goes, and the directory is made
      // in its place at once, so that the path exists when we return.
      if (RemovePath(component.c_str()) < 0) {
        _NCOvLogUtility::Error("FILCreateNeedDirectory: Del Same File FAIL!%s", component.c_str());
        return FALSE;
      }
      kind = -1;
    }
    if (kind == -1) {
      created = Files().CreateDirectoryA(component.c_str());
      if (!created) {
        lastError = QelGetLastError();
        // Made meanwhile by someone else: the directory is there all the same.
        if (CheckPathKind(component.c_str(), 0) == 0) created = TRUE;
      }
    }
  }

  // Only the last directory made decides: the leading components of a UNC
  // path ("", "\\server") cannot be made, yet the share below them exists.
  if (!created) {
    _NCOvLogUtility::Error("CreateDirectory(%s) FAIL! LastErr = %d", path, static_cast<int>(lastError));
    return FALSE;
  }
  return TRUE;
}

BOOL CreateDirectoryPath(const char* path) {
  if (path == nullptr) return FALSE;
  const std::string whole(path);
  size_t slash = FindChar(whole, 0, '\\');
  if (slash == std::string::npos) return FALSE;
  if (CheckPathKind(whole.substr(0, slash).c_str(), 0) != 0) return FALSE;

  for (slash = FindChar(whole, slash + 1, '\\'); slash != std::string::npos;
       slash = FindChar(whole, slash + 1, '\\')) {
    if (!FILCreateNeedDirectory(whole.substr(0, slash).c_str())) return FALSE;
  }
  if (MbsRChr(path, '\\') == path + whole.size() - 1) return TRUE;
  return FILCreateNeedDirectory(path);
}

}  // namespace qel
