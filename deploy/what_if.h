// A what-if run: the real engine over an account port and a file port that
// remember every write instead of carrying it out. Later reads in the same
// run see what was remembered, so the engine decides as it would in the real
// run (a wrapper it "wrote" can be read back, an account it "cleared" no
// longer counts as scripted), while the domain and the disk stay untouched.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/account_store.h"
#include "platform/ports.h"

namespace qel {

// Accounts: NetUserSetInfo (levels 3 and 1009) is remembered and answered
// with success; NetUserGetInfo gives the remembered script path and flags.
class WhatIfAccounts : public IAccountStore {
 public:
  explicit WhatIfAccounts(IAccountStore* inner) : inner_(inner) {}

  // Accounts that would have been written.
  size_t Writes() const;

  NET_API_STATUS NetGroupGetUsers(LPCWSTR server, LPCWSTR group, DWORD level, LPBYTE* buffer,
                                  DWORD preferredMaximumLength, LPDWORD entriesRead, LPDWORD totalEntries,
                                  DWORD_PTR* resumeHandle) override;
  NET_API_STATUS NetApiBufferFree(LPVOID buffer) override;
  NET_API_STATUS NetUserGetInfo(LPCWSTR server, LPCWSTR user, DWORD level, LPBYTE* buffer) override;
  NET_API_STATUS NetUserSetInfo(LPCWSTR server, LPCWSTR user, DWORD level, LPBYTE buffer,
                                LPDWORD parameterError) override;
  NET_API_STATUS NetQueryDisplayInformation(LPCWSTR server, DWORD level, DWORD index, DWORD entriesRequested,
                                            DWORD preferredMaximumLength, LPDWORD returnedEntryCount,
                                            PVOID* sortedBuffer) override;
  DWORD DsGetDcNameA(LPCSTR computer, LPCSTR domain, GUID* domainGuid, LPCSTR site, ULONG flags,
                     PDOMAIN_CONTROLLER_INFOA* info) override;
  NET_API_STATUS NetGetDCName(LPCWSTR server, LPCWSTR domain, LPBYTE* buffer) override;

 private:
  struct Written {
    const std::wstring* script = nullptr;  // owned by scripts_, never moved
    bool hasFlags = false;
    DWORD flags = 0;
  };
  IAccountStore* inner_;
  mutable std::mutex mutex_;
  std::map<std::wstring, Written> written_;  // by lower-case logon name
  std::deque<std::wstring> scripts_;         // texts handed out in buffers stay valid
};

// Files: every write, copy, delete and attribute change is remembered and
// answered with success; reads of a remembered file give its remembered
// state. Raw handles are served for reading only.
class WhatIfFiles : public IFileSystem {
 public:
  explicit WhatIfFiles(IFileSystem* inner) : inner_(inner) {}

  // The files that would have been written or deleted, in the order of the
  // first change of each.
  std::vector<std::string> Touched() const;

  DWORD GetFileAttributesA(const char* path) override;
  BOOL SetFileAttributesA(const char* path, DWORD attributes) override;
  BOOL DeleteFileA(const char* path) override;
  BOOL CreateDirectoryA(const char* path) override;
  BOOL CopyFileA(const char* source, const char* destination, BOOL failIfExists) override;
  BOOL CopyFileExA(const char* source, const char* destination, LPPROGRESS_ROUTINE progress, LPVOID data,
                   BOOL* cancel, DWORD flags) override;
  HANDLE FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* data) override;
  BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data) override;
  BOOL FindClose(HANDLE find) override;
  HANDLE CreateFileA(const char* path, DWORD access, DWORD shareMode, DWORD disposition,
                     DWORD flagsAndAttributes) override;
  DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method) override;
  DWORD GetFileSize(HANDLE file, DWORD* sizeHigh) override;
  BOOL ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read) override;
  BOOL WriteFile(HANDLE file, const void* buffer, DWORD size, DWORD* written) override;
  BOOL CloseFile(HANDLE file) override;
  IFileStream* OpenStream(const char* path, const char* mode) override;
  DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue, char* returned,
                                 DWORD size, const char* fileName) override;
  BOOL WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                  const char* fileName) override;
  DWORD GetTempPathA(DWORD size, char* buffer) override;
  DWORD GetCurrentDirectoryA(DWORD size, char* buffer) override;

  // Called by the streams of OpenStream when they close.
  void Remember(const std::string& path, const std::string& text);

 private:
  struct Entry {
    bool deleted = false;
    bool hasText = false;   // written through a stream: its text
    std::string text;
    std::string copiedFrom;  // copied: read from the source
  };
  // The remembered state of path; null when the run did not touch it.
  const Entry* Find(const std::string& path) const;
  Entry& Touch(const std::string& path);
  bool ExistsNow(const char* path);

  IFileSystem* inner_;
  mutable std::mutex mutex_;
  std::string knownFolder_;  // the last folder found to exist (most streams go to one)
  std::map<std::string, Entry> entries_;  // by lower-case path
  std::vector<std::string> order_;
};

// Puts the what-if ports in place of the current account and file ports for
// its lifetime, and keeps the log quiet meanwhile (one line says that a
// what-if run took place), so that nothing is written and no log rolls. The
// account port must be installed: the real entry points of Windows cannot
// be stood in for.
class ScopedWhatIf {
 public:
  ScopedWhatIf();
  ~ScopedWhatIf();
  ScopedWhatIf(const ScopedWhatIf&) = delete;
  ScopedWhatIf& operator=(const ScopedWhatIf&) = delete;

  WhatIfAccounts& accounts() { return *accounts_; }
  WhatIfFiles& files() { return *files_; }

 private:
  IAccountStore* savedAccounts_;
  IFileSystem* savedFiles_;
  DWORD savedLevel_ = 0;
  std::unique_ptr<WhatIfAccounts> accounts_;
  std::unique_ptr<WhatIfFiles> files_;
};

}  // namespace qel
