// Windows paths on the host: parsing, case folding and resolution.
//
// A Windows path ("C:\a\b", "c:/a/b", "\\SERVER\SHARE\x", "a\b" relative to
// the current folder) is first reduced to a drive letter and a list of
// components, then resolved against the host folders below HostConfig::root
// one component at a time. Windows file names match without regard to case,
// so a component not found under its own spelling is looked up by its folded
// form in an index of its folder; a name that does not exist yet keeps the
// case it was given.
#pragma once

#include <string>
#include <vector>

#include "platform/host/host_ports.h"

namespace qel::host {

// The upper-case form Windows compares names by, for ANSI text of the code
// page. In a double-byte code page (936) trail bytes are left alone, so two
// different characters never fold into one.
std::string FoldCase(const std::string& text, unsigned codePage);
bool SameName(const std::string& a, const std::string& b, unsigned codePage);

// Names on the host file system are UTF-8, as Samba serves them to Windows
// clients; the program names files in its ANSI code page. These convert one
// name between the two.
//
// AnsiToUtf8 fails for bytes that are no character of the code page (in 936
// a lead byte without its trail byte, or 0xFF): such a name is refused, never
// stored as mangled bytes.
bool AnsiToUtf8(const std::string& ansi, unsigned codePage, std::string* utf8);

enum class NameConversion { kExact, kSubstituted, kNotUtf8 };
// kSubstituted: some character has no byte in the code page and stands as
// '?' in *ansi, as in a Windows listing. kNotUtf8: *ansi is not set.
NameConversion Utf8ToAnsi(const std::string& utf8, unsigned codePage, std::string* ansi);

// The ANSI name of a stored host name, and false when the program cannot
// name it (a character outside the code page). A stored name that is not
// UTF-8 was written byte for byte by an earlier version of this adapter and
// is taken as ANSI as it stands, so that such files are still found.
bool AnsiOfStoredName(const std::string& stored, unsigned codePage, std::string* ansi);

// The host name of an ANSI name; false when the name cannot be converted.
bool HostNameOf(const std::string& ansi, unsigned codePage, std::string* stored);

struct WindowsPath {
  char drive = 0;                  // upper-case drive letter
  std::vector<std::string> parts;  // components below the drive root, "." and ".." applied
};

enum ParseFlags : unsigned {
  kParseNone = 0,
  kAllowWildcardsInLast = 1,  // FindFirstFileA patterns
};

// Parses `path` into drive and components, through the share map and the
// current folder of the config. Returns 0 or the Win32 error: 3 for an empty
// path, 123 for an invalid character or a name that has no UTF-8 form, 206 for a path of MAX_PATH characters
// or more, 53/67 for an unknown server/share.
DWORD ParseWindowsPath(const HostConfig& config, const std::string& path, unsigned flags, WindowsPath* out);

// The host folder of a drive letter, whether it exists or not.
std::string DriveFolder(const HostConfig& config, char drive);

// The host folder a parsed path starts from: the deepest mount of the config
// the path lies at or below, else its drive's folder. *skip is the number of
// the path's components that folder stands for.
std::string BaseFolder(const HostConfig& config, const WindowsPath& parsed, size_t* skip);

struct ResolvedPath {
  std::string host;     // host path; existing components as stored, a missing last one in UTF-8
  std::string name;     // the last component in ANSI (stored spelling when it exists)
  bool exists = false;  // the whole path exists
  bool isRoot = false;  // the path is a drive root
};

// Resolves a parsed path against the host folders. Returns 0 (the parent
// exists; `exists` tells about the last component) or 3 when a folder on the
// way is missing or is a file.
DWORD ResolveParsed(const HostConfig& config, const WindowsPath& parsed, ResolvedPath* out);
DWORD ResolveWindowsPath(const HostConfig& config, const std::string& path, unsigned flags, ResolvedPath* out);

// Looks the ANSI `name` up in host folder `folder`: its exact UTF-8 name
// first, then without regard to case; of several host names that match, the
// smallest. Returns the stored host name; empty when nothing matches.
//
// The case-insensitive lookup goes through a process-wide index of folded
// names per folder, made on the first such lookup in a folder and kept in
// step with every change to it, whoever makes it, through the kernel's
// reports (inotify). At most 64 folders and 300,000 names are indexed; the
// folders used longest ago are dropped first. A folder that cannot be
// watched is read in full on each lookup.
std::string FindInFolder(const std::string& folder, const std::string& name, unsigned codePage);

// How many folders the index holds now.
size_t IndexedFolderCount();

// Win32 error code for an errno value.
DWORD ErrorFromErrno(int error);

}  // namespace qel::host
