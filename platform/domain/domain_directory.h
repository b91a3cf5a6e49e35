// The directory over a DomainStore, as ADSI's IDirectorySearch serves it:
// "GC://" and "LDAP://" binds, one-level and subtree searches in a stable
// order (parents before children, siblings in file order), paged results,
// size limits, columns with their ADSI types, and the rootDSE.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/domain/domain_store.h"
#include "platform/ports.h"

namespace qel {

// HRESULTs of the directory that ads_types.h does not name.
constexpr HRESULT kDirNoSuchObject = static_cast<HRESULT>(0x80072030);  // ERROR_DS_NO_SUCH_OBJECT
constexpr HRESULT kDirServerDown = static_cast<HRESULT>(0x8007203A);    // ERROR_DS_SERVER_DOWN

class DomainDirectory : public IDirectoryPort {
 public:
  explicit DomainDirectory(DomainStore& store) : store_(store) {}

  // A domain whose global catalog cannot be reached: "GC://" binds fail.
  void SetRefuseGlobalCatalog(bool refuse) { refuseGc_ = refuse; }

  DWORD LoadProvider() override { return 0; }
  void FreeProvider() override {}
  HRESULT CoInitialize() override { return S_OK; }
  void CoUninitialize() override {}
  HRESULT BindSearch(const wchar_t* adsPath, IDirectorySearchPort** search) override;
  HRESULT GetObjectString(const wchar_t* adsPath, const wchar_t* attribute, wchar_t* value, DWORD capacity,
                          DWORD* length, BOOL* isString) override;

  // What the searches served so far: result pages (page size rows each,
  // the last one shorter), rows, and bound search objects not yet released.
  uint64_t PagesServed() const { return pages_; }
  uint64_t RowsServed() const { return rows_; }
  int OpenSearches() const { return open_; }

 private:
  friend class DomainSearch;
  DomainStore& store_;
  bool refuseGc_ = false;
  std::atomic<uint64_t> pages_{0};
  std::atomic<uint64_t> rows_{0};
  std::atomic<int> open_{0};
};

}  // namespace qel
