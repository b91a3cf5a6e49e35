#include "wizard/ui/rehearsal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

#include "platform/account_store.h"
#include "platform/domain/domain_directory.h"
#include "platform/domain/domain_store.h"
#include "platform/domain/netapi_module.h"
#include "wizard/page_finish.h"

namespace qel {

namespace {

const char kNetlogonParameters[] = "SYSTEM\\CurrentControlSet\\Services\\Netlogon\\Parameters";

bool EqualNoCase(const char* a, const char* b) {
  for (; *a != 0 && *b != 0; ++a, ++b) {
    char x = (*a >= 'a' && *a <= 'z') ? static_cast<char>(*a - 32) : *a;
    char y = (*b >= 'a' && *b <= 'z') ? static_cast<char>(*b - 32) : *b;
    if (x != y) return false;
  }
  return *a == *b;
}

// "C:\x\NETAPI32.DLL", "netapi32" ... -> true.
bool IsNetapi(const char* fileName) {
  if (fileName == nullptr) return false;
  const char* base = fileName;
  for (const char* p = fileName; *p != 0; ++p) {
    if (*p == '\\' || *p == '/') base = p + 1;
  }
  return EqualNoCase(base, "netapi32.dll") || EqualNoCase(base, "netapi32");
}

bool CopyFileBytes(const std::string& from, const std::string& to) {
  FILE* in = std::fopen(from.c_str(), "rb");
  if (in == nullptr) return false;
  FILE* out = std::fopen(to.c_str(), "wb");
  if (out == nullptr) {
    std::fclose(in);
    return false;
  }
  char buffer[65536];
  size_t read;
  bool ok = true;
  while ((read = std::fread(buffer, 1, sizeof(buffer), in)) > 0) {
    if (std::fwrite(buffer, 1, read, out) != read) ok = false;
  }
  std::fclose(in);
  if (std::fclose(out) != 0) ok = false;
  return ok;
}

bool FileExists(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  std::fclose(f);
  return true;
}

}  // namespace

// The store, except that the locator answers with this computer's name.
class Rehearsal::Accounts : public IAccountStore {
 public:
  explicit Accounts(DomainStore& store) : store_(store) {}

  NET_API_STATUS NetGroupGetUsers(LPCWSTR server, LPCWSTR group, DWORD level, LPBYTE* buffer, DWORD preferred,
                                  LPDWORD read, LPDWORD total, DWORD_PTR* resume) override {
    return store_.NetGroupGetUsers(server, group, level, buffer, preferred, read, total, resume);
  }
  NET_API_STATUS NetApiBufferFree(LPVOID buffer) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (own_.erase(buffer) != 0) {
        std::free(buffer);
        return NERR_Success;
      }
    }
    return store_.NetApiBufferFree(buffer);
  }
  NET_API_STATUS NetUserGetInfo(LPCWSTR server, LPCWSTR user, DWORD level, LPBYTE* buffer) override {
    return store_.NetUserGetInfo(server, user, level, buffer);
  }
  NET_API_STATUS NetUserSetInfo(LPCWSTR server, LPCWSTR user, DWORD level, LPBYTE buffer,
                                LPDWORD parameterError) override {
    return store_.NetUserSetInfo(server, user, level, buffer, parameterError);
  }
  NET_API_STATUS NetQueryDisplayInformation(LPCWSTR server, DWORD level, DWORD index, DWORD requested,
                                            DWORD preferred, LPDWORD returned, PVOID* sorted) override {
    return store_.NetQueryDisplayInformation(server, level, index, requested, preferred, returned, sorted);
  }
  DWORD DsGetDcNameA(LPCSTR, LPCSTR, GUID*, LPCSTR, ULONG, PDOMAIN_CONTROLLER_INFOA* info) override {
    std::string name = "\\\\" + ComputerName();
    size_t size = sizeof(DOMAIN_CONTROLLER_INFOA) + name.size() + 1;
    char* block = static_cast<char*>(std::calloc(1, size));
    if (block == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    auto* record = reinterpret_cast<DOMAIN_CONTROLLER_INFOA*>(block);
    record->DomainControllerName = block + sizeof(DOMAIN_CONTROLLER_INFOA);
    std::memcpy(record->DomainControllerName, name.c_str(), name.size() + 1);
    Keep(block);
    *info = record;
    return 0;
  }
  NET_API_STATUS NetGetDCName(LPCWSTR, LPCWSTR, LPBYTE* buffer) override {
    std::string name = "\\\\" + ComputerName();
    auto* text = static_cast<wchar_t*>(std::calloc(name.size() + 1, sizeof(wchar_t)));
    if (text == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    for (size_t i = 0; i < name.size(); ++i) text[i] = static_cast<unsigned char>(name[i]);
    Keep(text);
    *buffer = reinterpret_cast<LPBYTE>(text);
    return 0;
  }

 private:
  static std::string ComputerName() {
    char name[64] = {};
    DWORD size = sizeof(name);
    System().GetComputerNameA(name, &size);
    return name;
  }
  void Keep(void* block) {
    std::lock_guard<std::mutex> lock(mutex_);
    own_.insert(block);
  }

  DomainStore& store_;
  std::mutex mutex_;
  std::set<void*> own_;
};

// "netapi32.dll" from DomainNetApiProc; every other library from the loader
// it wraps.
class Rehearsal::Loader : public ILibraryLoader {
 public:
  explicit Loader(ILibraryLoader* inner) : inner_(inner) {}
  HMODULE LoadLibraryA(const char* fileName) override {
    if (IsNetapi(fileName)) return Handle();
    return inner_ != nullptr ? inner_->LoadLibraryA(fileName) : nullptr;
  }
  FARPROC GetProcAddress(HMODULE module, const char* procName) override {
    if (module == Handle()) {
      FARPROC proc = DomainNetApiProc(procName);
      if (proc == nullptr) QelSetLastError(ERROR_PROC_NOT_FOUND);
      return proc;
    }
    return inner_ != nullptr ? inner_->GetProcAddress(module, procName) : nullptr;
  }
  BOOL FreeLibrary(HMODULE module) override {
    if (module == Handle()) return TRUE;
    return inner_ != nullptr ? inner_->FreeLibrary(module) : FALSE;
  }

 private:
  HMODULE Handle() const { return reinterpret_cast<HMODULE>(const_cast<Loader*>(this)); }
  ILibraryLoader* inner_;
};

// The machine's registry, read-only, with the Netlogon parameters of the
// rehearsal.
class Rehearsal::Registry : public IRegistry {
 public:
  Registry(IRegistry* inner, std::string scripts) : inner_(inner), scripts_(std::move(scripts)) {}

  LONG RegOpenKeyA(HKEY root, const char* subKey, HKEY* result) override {
    if (IsNetlogon(root, subKey)) return Netlogon(result);
    return inner_ != nullptr ? inner_->RegOpenKeyA(root, subKey, result) : ERROR_FILE_NOT_FOUND;
  }
  LONG RegOpenKeyExA(HKEY root, const char* subKey, DWORD options, REGSAM desired, HKEY* result) override {
    if (IsNetlogon(root, subKey)) return Netlogon(result);
    return inner_ != nullptr ? inner_->RegOpenKeyExA(root, subKey, options, desired, result) : ERROR_FILE_NOT_FOUND;
  }
  LONG RegCreateKeyA(HKEY, const char*, HKEY*) override { return ERROR_ACCESS_DENIED; }
  LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* type, BYTE* data, DWORD* size) override {
    if (key != NetlogonKey()) return inner_->RegQueryValueExA(key, valueName, type, data, size);
    if (valueName == nullptr || !EqualNoCase(valueName, "Scripts")) return ERROR_FILE_NOT_FOUND;
    DWORD needed = static_cast<DWORD>(scripts_.size() + 1);
    if (type != nullptr) *type = REG_SZ;
    if (data == nullptr) {
      if (size != nullptr) *size = needed;
      return ERROR_SUCCESS;
    }
    if (size == nullptr) return ERROR_INVALID_PARAMETER;
    if (*size < needed) {
      *size = needed;
      return ERROR_MORE_DATA;
    }
    std::memcpy(data, scripts_.c_str(), needed);
    *size = needed;
    return ERROR_SUCCESS;
  }
  LONG RegSetValueExA(HKEY, const char*, DWORD, const BYTE*, DWORD) override { return ERROR_ACCESS_DENIED; }
  LONG RegCloseKey(HKEY key) override {
    if (key == NetlogonKey()) return ERROR_SUCCESS;
    return inner_->RegCloseKey(key);
  }

 private:
  HKEY NetlogonKey() const { return reinterpret_cast<HKEY>(const_cast<Registry*>(this)); }
  static bool IsNetlogon(HKEY root, const char* subKey) {
    return root == HKEY_LOCAL_MACHINE && subKey != nullptr && EqualNoCase(subKey, kNetlogonParameters);
  }
  LONG Netlogon(HKEY* result) {
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    *result = NetlogonKey();
    return ERROR_SUCCESS;
  }

  IRegistry* inner_;
  std::string scripts_;
};

Rehearsal::Rehearsal() = default;

Rehearsal::~Rehearsal() {
  std::string ignored;
  Finish(&ignored);
  if (portsKept_ && !IsDeploymentRunActive()) {
    // The run that kept the ports has ended since.
    Ports() = previous_;
    portsKept_ = false;
  }
  if (IsDeploymentRunActive()) {
    // A stopped run may still hold the store between two of its checks; the
    // process is ending, so leave the objects to it.
    (void)store_.release();
    (void)directory_.release();
    (void)accounts_.release();
    (void)loader_.release();
    (void)registry_.release();
  }
}

bool Rehearsal::Start(const std::string& domainFile, const std::string& folder, const std::string& windowsFolder,
                      std::string* error) {
  std::string base = windowsFolder;
  while (!base.empty() && base.back() == '\\') base.pop_back();
  scriptsFolder_ = base + "\\NETLOGON";
  // The folder and its NETLOGON folder, through the ports (an existing one is fine).
  Files().CreateDirectoryA(base.c_str());
  Files().CreateDirectoryA(scriptsFolder_.c_str());
  DWORD attributes = Files().GetFileAttributesA(scriptsFolder_.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    *error = "cannot make the folder " + scriptsFolder_;
    return false;
  }

  std::string native = folder;
  while (native.size() > 1 && (native.back() == '/' || native.back() == '\\')) native.pop_back();
#ifdef _WIN32
  domainCopy_ = native + "\\domain.ldif";
#else
  domainCopy_ = native + "/domain.ldif";
#endif
  if (!FileExists(domainCopy_) && !CopyFileBytes(domainFile, domainCopy_)) {
    *error = "cannot copy " + domainFile + " to " + domainCopy_;
    return false;
  }
  store_ = std::make_unique<DomainStore>();
  DomainError domainError;
  if (!store_->Load(domainCopy_, &domainError)) {
    *error = "cannot read the domain " + domainCopy_ + ": " + domainError.ToString();
    store_.reset();
    return false;
  }
  directory_ = std::make_unique<DomainDirectory>(*store_);
  accounts_ = std::make_unique<Accounts>(*store_);
  previous_ = Ports();
  loader_ = std::make_unique<Loader>(previous_.loader);
  registry_ = std::make_unique<Registry>(previous_.registry, scriptsFolder_);
  Ports().accounts = accounts_.get();
  Ports().loader = loader_.get();
  Ports().directory = directory_.get();
  Ports().registry = registry_.get();
  started_ = true;
  return true;
}

bool Rehearsal::Finish(std::string* error) {
  if (!started_) return true;
  started_ = false;
  // A stopped run that is still inside a step keeps the rehearsal's ports:
  // put back, they would send its next write to the machine's own domain.
  if (IsDeploymentRunActive())
    portsKept_ = true;
  else
    Ports() = previous_;
  DomainError domainError;
  bool ok = store_->Flush(&domainError);
  if (!ok) *error = "cannot write the domain " + domainCopy_ + ": " + domainError.ToString();
  return ok;
}

}  // namespace qel
