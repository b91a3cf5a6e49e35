// LoadLibraryA/GetProcAddress on the host: a few built-in modules under their
// Windows names, whose entry points have the Windows shapes and forward to
// the ports installed at the time of the call.
//
//   "Kernel32.dll"                 CopyFileExA -> Files().CopyFileExA
//   "netapi32.dll"                 the account entry points and the locator -> Ports().accounts
//                                  (the table of platform/domain, DomainNetApiProc)
//   "Shell32.dll", "SHFolder.dll"  SHGetFolderPathA (CSIDL_COMMON_APPDATA only)
//
// Module names match without regard to case, with or without ".dll".
#include <strings.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/domain/netapi_module.h"
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

struct Export {
  const char* name;
  FARPROC proc;
};

struct Module {
  const char* name;
  const Export* exports;           // a table of its own, or
  FARPROC (*lookup)(const char*);  // the entry points of another layer
};

const Export kKernel32[] = {
    {"CopyFileExA", reinterpret_cast<FARPROC>(&HostCopyFileExA)},
    {nullptr, nullptr},
};

const Export kShell[] = {
    {"SHGetFolderPathA", reinterpret_cast<FARPROC>(&HostSHGetFolderPathA)},
    {nullptr, nullptr},
};

const Module kModules[] = {
    {"kernel32", kKernel32, nullptr},
    {"netapi32", nullptr, &DomainNetApiProc},
    {"shell32", kShell, nullptr},
    {"shfolder", kShell, nullptr},
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
      if (module->lookup != nullptr) {
        if (FARPROC proc = module->lookup(procName)) return proc;
      } else {
        for (const Export* e = module->exports; e->name != nullptr; ++e) {
          if (strcmp(e->name, procName) == 0) return e->proc;
        }
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
