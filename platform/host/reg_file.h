// The host registry's store: one text file in the format regedit exports.
//
//   Windows Registry Editor Version 5.00
//
//   ; comment lines start with a semicolon
//   [HKEY_LOCAL_MACHINE\Software\Orvane\Qel]
//   @="default value"
//   "installpath"="C:\\Program Files\\Orvane\\Qel"
//   "NLogLevel"=dword:00000003
//   "Raw"=hex:01,02,03,04       (long lists go on on the next line after a
//                                 trailing backslash)
//   "NoNul"=hex(1):61,62,63
//
// Strings are 8-bit text in the ANSI code page, as RegQueryValueExA returns
// them; `hex(n):` gives the exact bytes of a value of type n, so any value can
// be stored (a REG_SZ without its terminating NUL, a short REG_DWORD ...).
// "[-key]" and "name"=- remove a key or a value, as in files regedit imports.
// Comment lines are kept with the key or value they precede.
#pragma once

#include <string>
#include <vector>

#include "platform/win_types.h"

namespace qel::host {

struct RegValue {
  std::string name;  // empty: the key's default value ("@")
  DWORD type = REG_SZ;
  std::vector<BYTE> data;
  std::vector<std::string> comments;  // comment lines written before the value
};

struct RegKey {
  std::string path;  // full path with its root, "HKEY_LOCAL_MACHINE\Software\Orvane"
  std::vector<RegValue> values;
  std::vector<std::string> comments;  // comment lines written before the key
};

struct RegData {
  std::vector<RegKey> keys;                   // in file order
  std::vector<std::string> trailingComments;  // comment lines after the last value

  // Keys and value names match without regard to case.
  RegKey* FindKey(const std::string& path);
  const RegKey* FindKey(const std::string& path) const;
  // True when the key is stored or is the parent of a stored key.
  bool KeyExists(const std::string& path) const;
  // The stored key, added (with every missing parent) when needed.
  RegKey& EnsureKey(const std::string& path);
  void RemoveKey(const std::string& path);  // with every subkey
  static RegValue* FindValue(RegKey& key, const std::string& name);
  static const RegValue* FindValue(const RegKey& key, const std::string& name);
};

// Case-insensitive comparison of registry names (ASCII folding, as the
// registry's own upcase table does for the names this system uses).
bool SameRegName(const std::string& a, const std::string& b);

// Parses registry text. On failure *error names the file (`fileName`), the
// line and the problem, and *data is left as it was.
bool ParseRegText(const std::string& text, const std::string& fileName, RegData* data, std::string* error);
std::string FormatRegText(const RegData& data);

// The raw text of a registry file; a missing file reads as empty text with
// *exists false.
bool ReadRegFileText(const std::string& path, std::string* text, bool* exists, std::string* error);
// Replaces the file with the text atomically: a temporary file in the same
// folder, flushed, then renamed over the old one.
bool WriteRegFileText(const std::string& path, const std::string& text, std::string* error);

// Reads a registry file; a missing file is an empty registry.
bool LoadRegFile(const std::string& path, RegData* data, std::string* error);
// Writes the registry file atomically (WriteRegFileText).
bool SaveRegFile(const std::string& path, const RegData& data, std::string* error);

}  // namespace qel::host
