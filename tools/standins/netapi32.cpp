// Stand-in "netapi32.dll": the seven network-management entry points of the
// program, served from a domain file through the domain store, for running the
// Windows build under Wine (whose own netapi32 has no accounts).
//
// The store is opened on the first call from QEL_STANDIN_DOMAIN and opened
// afresh when that setting changes; every write is journalled by the store
// before the call returns, and the file itself is written at DLL detach.
// Settings: tools/standins/standin_settings.h.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/domain/domain_directory.h"
#include "platform/domain/domain_store.h"
#include "platform/domain/domain_text.h"
#include "platform/netapi_types.h"
#include "tools/standins/standin_domain.h"
#include "tools/standins/standin_settings.h"

namespace {

using qel::DomainDirectory;
using qel::DomainStore;

CRITICAL_SECTION g_lock;
DomainStore* g_store = nullptr;  // the domain of g_path; null when none loads
DomainDirectory* g_directory = nullptr;
std::string g_path;  // the setting the store was loaded for
bool g_tried = false;

std::string Setting(const char* name) {
  char buffer[4096];
  DWORD length = GetEnvironmentVariableA(name, buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) return std::string();
  return std::string(buffer, length);
}

// Called with g_lock held.
void FlushStore() {
  if (g_store == nullptr) return;
  qel::DomainError error;
  if (!g_store->Flush(&error))
    std::fprintf(stderr, "netapi32 stand-in: cannot write the domain %s: %s\n", g_path.c_str(),
                 error.ToString().c_str());
}

// The current domain, or null. A store replaced by a new setting is written
// and closed but not destroyed: a directory search handed out earlier may
// still point at it.
DomainStore* Store() {
  std::string path = qel::standin::WindowsPath(Setting("QEL_STANDIN_DOMAIN"));
  EnterCriticalSection(&g_lock);
  if (!g_tried || path != g_path) {
    if (g_store != nullptr) {
      FlushStore();
      qel::DomainError ignored;
      g_store->Close(&ignored);
    }
    g_store = nullptr;
    g_directory = nullptr;
    g_path = path;
    g_tried = true;
    if (path.empty()) {
      std::fprintf(stderr, "netapi32 stand-in: QEL_STANDIN_DOMAIN names no domain file\n");
    } else {
      DomainStore* store = new DomainStore();
      qel::DomainError error;
      if (store->Load(path, &error)) {
        g_store = store;
        g_directory = new DomainDirectory(*store);
      } else {
        std::fprintf(stderr, "netapi32 stand-in: cannot load the domain %s: %s\n", path.c_str(),
                     error.ToString().c_str());
        delete store;
      }
    }
  }
  DomainStore* store = g_store;
  LeaveCriticalSection(&g_lock);
  return store;
}

DWORD Fault(const char* call, const wchar_t* subject) {
  std::string setting = Setting("QEL_STANDIN_FAIL");
  return qel::standin::FindFault(setting.c_str(), call, subject);
}

// The controller's NetBIOS name the locator answers with.
std::string ControllerName() {
  std::string name = Setting("QEL_STANDIN_DC");
  if (!name.empty()) return name;
  char computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof computer;
  if (!GetComputerNameA(computer, &size)) return std::string();
  return computer;
}

// The directory handed to ActiveDS.dll: forwards to the current domain's
// directory, so that a domain changed by the setting is seen there too.
class DirectoryForward : public qel::IDirectoryPort {
 public:
  DWORD LoadProvider() override { return 0; }
  void FreeProvider() override {}
  HRESULT CoInitialize() override { return S_OK; }
  void CoUninitialize() override {}
  HRESULT BindSearch(const wchar_t* adsPath, qel::IDirectorySearchPort** search) override {
    if (search != nullptr) *search = nullptr;
    qel::IDirectoryPort* directory = Current();
    if (directory == nullptr) return HRESULT_FROM_WIN32(ERROR_NO_SUCH_DOMAIN);
    return directory->BindSearch(adsPath, search);
  }
  HRESULT GetObjectString(const wchar_t* adsPath, const wchar_t* attribute, wchar_t* value, DWORD capacity,
                          DWORD* length, BOOL* isString) override {
    qel::IDirectoryPort* directory = Current();
    if (directory == nullptr) return HRESULT_FROM_WIN32(ERROR_NO_SUCH_DOMAIN);
    return directory->GetObjectString(adsPath, attribute, value, capacity, length, isString);
  }

 private:
  static qel::IDirectoryPort* Current() {
    if (Store() == nullptr) return nullptr;
    EnterCriticalSection(&g_lock);
    qel::IDirectoryPort* directory = g_directory;
    LeaveCriticalSection(&g_lock);
    return directory;
  }
};

DirectoryForward g_forward;

}  // namespace

extern "C" {

NET_API_STATUS WINAPI StandinNetGroupGetUsers(LPCWSTR server, LPCWSTR group, DWORD level, LPBYTE* buffer,
                                              DWORD preferredMaximumLength, LPDWORD entriesRead,
                                              LPDWORD totalEntries, DWORD_PTR* resumeHandle) {
  if (buffer != nullptr) *buffer = nullptr;
  if (DWORD code = Fault("NetGroupGetUsers", group)) return code;
  DomainStore* store = Store();
  if (store == nullptr) return ERROR_NO_SUCH_DOMAIN;
  return store->NetGroupGetUsers(server, group, level, buffer, preferredMaximumLength, entriesRead, totalEntries,
                                 resumeHandle);
}

NET_API_STATUS WINAPI StandinNetApiBufferFree(LPVOID buffer) {
  if (DWORD code = Fault("NetApiBufferFree", nullptr)) return code;
  // Every block handed out is one malloc block, whichever store made it.
  std::free(buffer);
  return NERR_Success;
}

NET_API_STATUS WINAPI StandinNetUserGetInfo(LPCWSTR server, LPCWSTR user, DWORD level, LPBYTE* buffer) {
  if (buffer != nullptr) *buffer = nullptr;
  if (DWORD code = Fault("NetUserGetInfo", user)) return code;
  DomainStore* store = Store();
  if (store == nullptr) return ERROR_NO_SUCH_DOMAIN;
  return store->NetUserGetInfo(server, user, level, buffer);
}

NET_API_STATUS WINAPI StandinNetUserSetInfo(LPCWSTR server, LPCWSTR user, DWORD level, LPBYTE buffer,
                                            LPDWORD parameterError) {
  if (DWORD code = Fault("NetUserSetInfo", user)) {
    if (parameterError != nullptr) *parameterError = PARM_ERROR_UNKNOWN;
    return code;
  }
  DomainStore* store = Store();
  if (store == nullptr) return ERROR_NO_SUCH_DOMAIN;
  return store->NetUserSetInfo(server, user, level, buffer, parameterError);
}

NET_API_STATUS WINAPI StandinNetQueryDisplayInformation(LPCWSTR server, DWORD level, DWORD index,
                                                        DWORD entriesRequested, DWORD preferredMaximumLength,
                                                        LPDWORD returnedEntryCount, PVOID* sortedBuffer) {
  if (sortedBuffer != nullptr) *sortedBuffer = nullptr;
  if (returnedEntryCount != nullptr) *returnedEntryCount = 0;
  if (DWORD code = Fault("NetQueryDisplayInformation", nullptr)) return code;
  DomainStore* store = Store();
  if (store == nullptr) return ERROR_NO_SUCH_DOMAIN;
  return store->NetQueryDisplayInformation(server, level, index, entriesRequested, preferredMaximumLength,
                                           returnedEntryCount, sortedBuffer);
}

// The store checks the arguments and the domain; the block it makes is then
// made again with the controller of the setting in place of the file's.
DWORD WINAPI StandinDsGetDcNameA(LPCSTR computer, LPCSTR domain, GUID* domainGuid, LPCSTR site, ULONG flags,
                                 PDOMAIN_CONTROLLER_INFOA* info) {
  if (info == nullptr) return ERROR_INVALID_PARAMETER;
  *info = nullptr;
  if (DWORD code = Fault("DsGetDcNameA", nullptr)) return code;
  DomainStore* store = Store();
  if (store == nullptr) return ERROR_NO_SUCH_DOMAIN;
  PDOMAIN_CONTROLLER_INFOA found = nullptr;
  DWORD status = store->DsGetDcNameA(computer, domain, domainGuid, site, flags, &found);
  if (status != ERROR_SUCCESS) return status;
  std::string controller = "\\\\" + ControllerName();
  if ((flags & DS_RETURN_FLAT_NAME) == 0) controller += "." + qel::WideToUtf8(store->DnsName());
  const char* texts[] = {controller.c_str(),  found->DomainControllerAddress, found->DomainName,
                         found->DnsForestName, found->DcSiteName,            found->ClientSiteName};
  size_t bytes = sizeof(DOMAIN_CONTROLLER_INFOA);
  for (const char* t : texts) bytes += (t != nullptr ? std::strlen(t) : 0) + 1;
  char* block = static_cast<char*>(std::calloc(1, bytes));
  if (block == nullptr) {
    std::free(found);
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  DOMAIN_CONTROLLER_INFOA* out = reinterpret_cast<DOMAIN_CONTROLLER_INFOA*>(block);
  *out = *found;
  char* next = block + sizeof(DOMAIN_CONTROLLER_INFOA);
  LPSTR* fields[] = {&out->DomainControllerName, &out->DomainControllerAddress, &out->DomainName,
                     &out->DnsForestName,        &out->DcSiteName,              &out->ClientSiteName};
  for (int i = 0; i < 6; ++i) {
    if (texts[i] == nullptr) {
      *fields[i] = nullptr;
      continue;
    }
    std::strcpy(next, texts[i]);
    *fields[i] = next;
    next += std::strlen(texts[i]) + 1;
  }
  std::free(found);
  *info = out;
  return ERROR_SUCCESS;
}

NET_API_STATUS WINAPI StandinNetGetDCName(LPCWSTR server, LPCWSTR domain, LPBYTE* buffer) {
  if (buffer == nullptr) return ERROR_INVALID_PARAMETER;
  *buffer = nullptr;
  if (DWORD code = Fault("NetGetDCName", nullptr)) return code;
  DomainStore* store = Store();
  if (store == nullptr) return NERR_DCNotFound;
  LPBYTE found = nullptr;
  NET_API_STATUS status = store->NetGetDCName(server, domain, &found);
  if (status != NERR_Success) return status;
  std::free(found);
  std::wstring name = L"\\\\" + qel::Utf8ToWide(ControllerName());
  size_t bytes = (name.size() + 1) * sizeof(wchar_t);
  void* block = std::malloc(bytes);
  if (block == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  std::memcpy(block, name.c_str(), bytes);
  *buffer = static_cast<LPBYTE>(block);
  return NERR_Success;
}

qel::IDirectoryPort* WINAPI QelStandinDirectory() { return &g_forward; }

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    InitializeCriticalSection(&g_lock);
  } else if (reason == DLL_PROCESS_DETACH) {
    // The journal already holds every change; this writes the file once.
    // At process exit the other threads are gone: a lock one of them held
    // is never given back, and the next load applies the journal instead.
    if (reserved == nullptr) {
      EnterCriticalSection(&g_lock);
    } else if (!TryEnterCriticalSection(&g_lock)) {
      return TRUE;
    }
    FlushStore();
    LeaveCriticalSection(&g_lock);
  }
  return TRUE;
}

}  // extern "C"
