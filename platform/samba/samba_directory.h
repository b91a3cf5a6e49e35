// The directory of a Samba controller, served as ADSI's IDirectorySearch
// serves Active Directory: "LDAP://" binds search the domain's partition,
// "GC://" binds the global catalog (without the attributes Windows keeps out
// of it), with the core's preferences: scope, page size and size limit.
#pragma once

#include <atomic>
#include <string>

#include "platform/ports.h"
#include "platform/samba/directory_link.h"
#include "platform/samba/samba_accounts.h"

namespace qel {

class SambaDirectory : public IDirectoryPort {
 public:
  // `ldap` reaches the domain partition, `gc` the global catalog (it may be
  // the same link when the controller serves both on one connection).
  // `serverNames` are the names a path may give for this controller.
  SambaDirectory(DirectoryLink& ldap, DirectoryLink& gc, const std::string& namingContext,
                 const std::vector<std::string>& serverNames);

  DWORD LoadProvider() override { return 0; }
  void FreeProvider() override {}
  HRESULT CoInitialize() override { return S_OK; }
  void CoUninitialize() override {}
  HRESULT BindSearch(const wchar_t* adsPath, IDirectorySearchPort** search) override;
  HRESULT GetObjectString(const wchar_t* adsPath, const wchar_t* attribute, wchar_t* value, DWORD capacity,
                          DWORD* length, BOOL* isString) override;

  int OpenSearches() const { return open_; }
  // Searches that ask for logon names fetch every account attribute beside
  // the columns asked for, and hand each page's accounts to `accounts`
  // (null: none), so that reading them next costs no request.
  void ReadAheadInto(SambaAccounts* accounts) { accounts_ = accounts; }

 private:
  friend class SambaSearch;
  struct Path {
    bool gc = false;
    bool rootDse = false;
    std::string dn;
  };
  HRESULT ParsePath(const wchar_t* adsPath, Path* out) const;

  DirectoryLink& ldap_;
  DirectoryLink& gc_;
  std::string namingContext_;
  std::vector<std::string> serverNames_;
  std::atomic<int> open_{0};
  SambaAccounts* accounts_ = nullptr;
};

// The HRESULT of an LDAP result code, as ADSI reports it (0x8007xxxx of the
// Win32 directory error).
HRESULT HresultOfLdap(int code);

}  // namespace qel
