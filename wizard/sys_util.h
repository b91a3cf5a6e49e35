// Registry and path helpers shared by the wizard pages and the log.
//
// They hold no state and may be called from any thread. Texts are 8-bit in
// the system's ANSI code page, which may be a double-byte code page, so every
// scan over a path steps by whole characters (MbsInc): a 0x5C that is the
// second byte of a double-byte character is never taken for a backslash.
#pragma once

#include <string>

#include "platform/win_types.h"

namespace qel {

// The registry key of the product under HKEY_LOCAL_MACHINE.
extern const char kQelRegistryKey[];  // "Software\Orvane\Qel"

// Reads a value of any type as text: the data up to its first NUL, never past
// the stored data, with white space trimmed at both ends. `text` is emptied
// first and stays empty on failure.
BOOL RegReadString(HKEY root, const char* subKey, const char* valueName, std::string& text);

// Reads at most 4 bytes of a value of any type. *value is 0 on failure.
BOOL RegReadDword(HKEY root, const char* subKey, const char* valueName, DWORD* value);

// "installpath" of the product's key, trimmed, without trailing backslashes.
BOOL GetInstallPath(std::string& path);

// Removes every trailing `ch` (whole characters only). FALSE for an empty text.
BOOL TrimRightChar(std::string& text, char ch);
BOOL TrimRightBackslash(std::string& text);

// Cuts the NUL-terminated buffer at the start of its trailing run of `ch`.
// Always returns 1.
int StripTrailingChar(char* buffer, char ch);
int StripTrailingBackslash(char* buffer);

// 0 when `path` exists and is a file (expectFile non-zero) or a directory
// (expectFile zero); -1 when it is empty or does not exist; -2 when it exists
// as the other kind.
int CheckPathKind(const char* path, int expectFile);

// Deletes the file `path` after clearing its attributes: 0 deleted, 2 no
// such file (missing, or a directory), -1 the file could not be deleted.
int RemovePath(const char* path);

// Makes `path` a directory, walking it from its first component: missing
// directories are created, a file standing where a directory belongs is
// deleted and replaced by the directory. Writes its failures to the log.
BOOL FILCreateNeedDirectory(const char* path);

// Creates every directory of an absolute path that starts with an existing
// root ("C:\a\b" or "C:\a\b\"). FALSE for a path without a backslash or
// whose root does not exist.
BOOL CreateDirectoryPath(const char* path);

// The next character of an ANSI text (_mbsinc): two bytes past a lead byte
// of the current code page, one otherwise; never steps past the terminator.
const char* MbsInc(const char* p);
char* MbsInc(char* p);

// The last whole character `ch` of a NUL-terminated text, or null.
const char* MbsRChr(const char* text, char ch);

}  // namespace qel
