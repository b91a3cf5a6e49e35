// LoadLibraryA/GetProcAddress on the host: a few built-in modules under their
// Windows names, whose entry points have the Windows shapes and forward to
// the ports installed at the time of the call.
//
//   "Kernel32.dll"                 CopyFileExA -> Files().CopyFileExA
//   "netapi32.dll"                 the account entry points and the locator -> Ports().accounts
//   "Shell32.dll", "SHFolder.dll"  SHGetFolderPathA (CSIDL_COMMON_APPDATA only)
//
// Module names match without regard to case, with or without ".dll".
#include <strings.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/account_store.h"
#include "platform/host/host_ports.h"

namespace qel {
namespace {

// The configurations of the live host loaders; SHGetFolderPathA answers from
// the newest.
std::mutex g_shellLock;
std::vector<const HostConfig*> g_shellConfigs;

BOOL WINAPI HostCopyFileExA(LPCSTR source, LPCSTR destination, LPPROGRESS_ROUTINE progress, LPVOID data,
                            BOOL* cancel, DWORD flags) {
  return Files().CopyFileExA(source, destination, progress, data, cancel, flags);
}

HRESULT WINAPI HostSHGetFolderPathA(HWND, int folder, HANDLE, DWORD, LPSTR path) {
  if (path == nullptr) return E_INVALIDARG;
  std::lock_guard<std::mutex> guard(g_shellLock);
  if (g_shellConfigs.empty() || (folder & 0xFF) != CSIDL_COMMON_APPDATA ||
      g_shellConfigs.back()->commonAppData.size() >= MAX_PATH) {
    path[0] = 0;
    return E_FAIL;
  }
  const std::string& folderPath = g_shellConfigs.back()->commonAppData;
  memcpy(path, folderPath.c_str(), folderPath.size() + 1);
  return S_OK;
}

// Without an account store there is no domain: the answers of a computer
// that has no controller to ask.
NET_API_STATUS WINAPI HostNetGroupGetUsers(LPCWSTR server, LPCWSTR group, DWORD level, LPBYTE* buffer,
                                           DWORD preferredMaximumLength, LPDWORD entriesRead,
                                           LPDWORD totalEntries, DWORD_PTR* resumeHandle) {
  IAccountStore* store = Ports().accounts;
  if (store == nullptr) return NERR_GroupNotFound;
  return store->NetGroupGetUsers(server, group, level, buffer, preferredMaximumLength, entriesRead, totalEntries,
                                 resumeHandle);
}

NET_API_STATUS WINAPI HostNetApiBufferFree(LPVOID buffer) {
  IAccountStore* store = Ports().accounts;
  if (store == nullptr) return buffer == nullptr ? NERR_Success : ERROR_INVALID_PARAMETER;
  return store->NetApiBufferFree(buffer);
}

NET_API_STATUS WINAPI HostNetUserGetInfo(LPCWSTR server, LPCWSTR user, DWORD level, LPBYTE* buffer) {
  IAccountStore* store = Ports().accounts;
  if (store == nullptr) return NERR_UserNotFound;
  return store->NetUserGetInfo(server, user, level, buffer);
}

NET_API_STATUS WINAPI HostNetUserSetInfo(LPCWSTR server, LPCWSTR user, DWORD level, LPBYTE buffer,
                                         LPDWORD parameterError) {
  IAccountStore* store = Ports().accounts;
  if (store == nullptr) return NERR_UserNotFound;
  return store->NetUserSetInfo(server, user, level, buffer, parameterError);
}

NET_API_STATUS WINAPI HostNetQueryDisplayInformation(LPCWSTR server, DWORD level, DWORD index,
                                                     DWORD entriesRequested, DWORD preferredMaximumLength,
                                                     LPDWORD returnedEntryCount, PVOID* sortedBuffer) {
  IAccountStore* store = Ports().accounts;
  if (store == nullptr) return ERROR_ACCESS_DENIED;
  return store->NetQueryDisplayInformation(server, level, index, entriesRequested, preferredMaximumLength,
                                           returnedEntryCount, sortedBuffer);
}

DWORD WINAPI HostDsGetDcNameA(LPCSTR computer, LPCSTR domain, GUID* domainGuid, LPCSTR site, ULONG flags,
                              PDOMAIN_CONTROLLER_INFOA* info) {
  IAccountStore* store = Ports().accounts;
  if (store == nullptr) return ERROR_NO_SUCH_DOMAIN;
  return store->DsGetDcNameA(computer, domain, domainGuid, site, flags, info);
}

NET_API_STATUS WINAPI HostNetGetDCName(LPCWSTR server, LPCWSTR domain, LPBYTE* buffer) {
  IAccountStore* store = Ports().accounts;
  if (store == nullptr) return NERR_DCNotFound;
  return store->NetGetDCName(server, domain, buffer);
}

struct Export {
  const char* name;
  FARPROC proc;
};

struct Module {
  const char* name;
  const Export* exports;
};

const Export kKernel32[] = {
    {"CopyFileExA", reinterpret_cast<FARPROC>(&HostCopyFileExA)},
    {nullptr, nullptr},
};

const Export kNetApi32[] = {
    {"NetGroupGetUsers", reinterpret_cast<FARPROC>(&HostNetGroupGetUsers)},
    {"NetApiBufferFree", reinterpret_cast<FARPROC>(&HostNetApiBufferFree)},
    {"NetUserGetInfo", reinterpret_cast<FARPROC>(&HostNetUserGetInfo)},
    {"NetUserSetInfo", reinterpret_cast<FARPROC>(&HostNetUserSetInfo)},
    {"NetQueryDisplayInformation", reinterpret_cast<FARPROC>(&HostNetQueryDisplayInformation)},
    {"DsGetDcNameA", reinterpret_cast<FARPROC>(&HostDsGetDcNameA)},
    {"NetGetDCName", reinterpret_cast<FARPROC>(&HostNetGetDCName)},
    {nullptr, nullptr},
};

const Export kShell[] = {
    {"SHGetFolderPathA", reinterpret_cast<FARPROC>(&HostSHGetFolderPathA)},
    {nullptr, nullptr},
};

const Module kModules[] = {
    {"kernel32", kKernel32},
    {"netapi32", kNetApi32},
    {"shell32", kShell},
    {"shfolder", kShell},
};

// "C:\WINDOWS\system32\NETAPI32.DLL" -> "netapi32".
std::string BaseName(const char* fileName) {
  std::string name = fileName;
  std::string::size_type slash = name.find_last_of("\\/");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  if (name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".dll") == 0) name.resize(name.size() - 4);
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return name;
}

const Module* ModuleOf(HMODULE handle) {
  for (const Module& module : kModules) {
    if (reinterpret_cast<HMODULE>(const_cast<Module*>(&module)) == handle) return &module;
  }
  return nullptr;
}

class HostLibraryLoader : public ILibraryLoader {
 public:
  explicit HostLibraryLoader(const HostConfig& config) : config_(config) {
    std::lock_guard<std::mutex> guard(g_shellLock);
    g_shellConfigs.push_back(&config_);
  }
  ~HostLibraryLoader() override {
    std::lock_guard<std::mutex> guard(g_shellLock);
    g_shellConfigs.erase(std::find(g_shellConfigs.begin(), g_shellConfigs.end(), &config_));
  }

  HMODULE LoadLibraryA(const char* fileName) override {
    if (fileName == nullptr || *fileName == 0) {
      QelSetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    std::string name = BaseName(fileName);
    for (const Module& module : kModules) {
      if (name == module.name) return reinterpret_cast<HMODULE>(const_cast<Module*>(&module));
    }
    QelSetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }

  FARPROC GetProcAddress(HMODULE handle, const char* procName) override {
    const Module* module = ModuleOf(handle);
    if (module == nullptr) {
      QelSetLastError(ERROR_MOD_NOT_FOUND);
      return nullptr;
    }
    // Names only; an ordinal (a value below 0x10000) is never exported here.
    if (reinterpret_cast<uintptr_t>(procName) >= 0x10000) {
      for (const Export* e = module->exports; e->name != nullptr; ++e) {
        if (strcmp(e->name, procName) == 0) return e->proc;
      }
    }
    QelSetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }

  BOOL FreeLibrary(HMODULE handle) override {
    if (ModuleOf(handle) == nullptr) {
      QelSetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    return TRUE;
  }

 private:
  HostConfig config_;
};

}  // namespace

std::unique_ptr<ILibraryLoader> MakeHostLibraryLoader(const HostConfig& config) {
  return std::make_unique<HostLibraryLoader>(config);
}

}  // namespace qel
