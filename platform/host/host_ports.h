// The host platform: Windows behaviour reproduced on Linux.
//
// A HostConfig says where the Windows world of one run lives on the host:
// drive letters map to folders under `root` ("C:\x" is root/C/x), UNC shares
// map to Windows paths, the registry is one .reg file, and the machine's
// identity (computer name, Windows folder, version, code page) is set here.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "platform/ports.h"

namespace qel {

struct HostConfig {
  std::string root;          // host folder that holds one folder per drive letter ("C", "D" ...)
  std::string registryFile;  // the registry, a "Windows Registry Editor Version 5.00" file
  // "\\SERVER\SHARE" (any case) -> Windows path it exposes, e.g. "C:\WINDOWS\SYSVOL\sysvol\test.lan\scripts".
  std::map<std::string, std::string> shares;
  // Windows folders kept somewhere else than below root: Windows path (any
  // case) -> host folder, e.g. the NETLOGON folder of a Samba controller,
  // "C:\WINDOWS\SYSVOL\sysvol\test.lan\scripts" -> "/var/lib/samba/sysvol/test.lan/scripts".
  // Paths at or below a mounted folder resolve in its host folder. A drive
  // ("Z:\\") may be mounted whole, e.g. the terminal wizard's Z: is the host's /.
  std::map<std::string, std::string> mounts;
  unsigned codePage = 1252;                  // the ANSI code page: 1252 or 936
  std::string computerName = "DC01";         // GetComputerNameA
  std::string windowsDir = "C:\\WINDOWS";    // GetWindowsDirectoryA
  std::string tempPath = "C:\\TEMP\\";       // GetTempPathA (created on demand)
  std::string currentDir = "C:\\";           // GetCurrentDirectoryA
  std::string modulePath = "C:\\Program Files\\Orvane\\QelScript.exe";  // GetModuleFileNameA(NULL)
  DWORD version = 0x1DB10106;                // GetVersion: 6.1, build 7601
  std::string commonAppData = "C:\\ProgramData";  // SHGetFolderPathA(CSIDL_COMMON_APPDATA)
  // Host folder of the named-mutex lock files, shared by every process that
  // must see the same mutexes. Empty: $QEL_MUTEX_DIR, else
  // $XDG_RUNTIME_DIR/qel-mutex, else /tmp/qel-mutex.
  std::string mutexDir;
};

// Factories of the single host adapters.
std::unique_ptr<IRegistry> MakeHostRegistry(const HostConfig& config);
std::unique_ptr<IFileSystem> MakeHostFileSystem(const HostConfig& config);
std::unique_ptr<ISystem> MakeHostSystem(const HostConfig& config);
std::unique_ptr<ICodePage> MakeHostCodePage(const HostConfig& config);
std::unique_ptr<ISync> MakeHostSync(const HostConfig& config);
std::unique_ptr<ILibraryLoader> MakeHostLibraryLoader(const HostConfig& config);

// Owns one full set of host adapters and installs it in Ports(); the
// previous set is put back when it is destroyed. Ports this set does not
// provide (directory, accounts, sockets, address table) are left as they are.
class HostPlatform {
 public:
  explicit HostPlatform(const HostConfig& config);
  ~HostPlatform();
  HostPlatform(const HostPlatform&) = delete;
  HostPlatform& operator=(const HostPlatform&) = delete;
  const HostConfig& config() const { return config_; }

 private:
  HostConfig config_;
  PlatformPorts previous_;
  std::unique_ptr<IRegistry> registry_;
  std::unique_ptr<IFileSystem> files_;
  std::unique_ptr<ISystem> system_;
  std::unique_ptr<ICodePage> codePage_;
  std::unique_ptr<ISync> sync_;
  std::unique_ptr<ILibraryLoader> loader_;
};

// The lock file behind the named mutex `name` ("Global\\X" and "X" are
// different files). While a file of that path + ".denied" exists, or the
// lock file cannot be opened, OpenMutexA/CreateMutexA fail with
// ERROR_ACCESS_DENIED, as for a mutex of another user.
std::string HostMutexLockPath(const HostConfig& config, const std::string& name);

// Maps a Windows path of this config to its host path ("C:\x\y" -> root/C/x/y,
// UNC through the share map), without case folding; empty when it cannot.
std::string HostPathOf(const HostConfig& config, const std::string& windowsPath);

// The ANSI code page of a locale name ("zh_CN.UTF-8" -> 936): 936 for
// Chinese, else 1252. *approximate is set for Traditional Chinese (Taiwan,
// Hong Kong, Macao), whose own code page 950 the host does not offer.
unsigned CodePageOfLocale(const std::string& locale, bool* approximate);
// The locale of character types: $LC_ALL, else $LC_CTYPE, else $LANG, else "C".
std::string LocaleOfEnvironment();

}  // namespace qel
