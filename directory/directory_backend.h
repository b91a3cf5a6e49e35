// Reading the domain's organisational units, containers and accounts for the
// user page: a one-level browse and a subtree search through the directory
// provider, and the network-management listing for older systems. Every
// accepted object goes to the page through its entry sink.
#pragma once

#include <atomic>
#include <functional>

#include "directory/tree_ops.h"
#include "directory/user_node.h"
#include "platform/ports.h"
#include "wizard/wizard_state.h"

namespace qel {

// The page's InsertUserItem. The texts belong to the caller; the sink copies
// what it keeps.
class IUserEntrySink {
 public:
  virtual HTREEITEM InsertUserItem(const char* name, const wchar_t* path, const wchar_t* account, int type,
                                   HTREEITEM parent) = 0;

 protected:
  ~IUserEntrySink() = default;
};

// A bound, executed search: provider loaded, COM initialised, search object
// bound through "GC://" or else "LDAP://". The destructor gives everything
// back in reverse order (an open search handle is closed first).
class DirectorySearchBinding {
 public:
  DirectorySearchBinding() = default;
  ~DirectorySearchBinding();
  DirectorySearchBinding(const DirectorySearchBinding&) = delete;
  DirectorySearchBinding& operator=(const DirectorySearchBinding&) = delete;

  IDirectorySearchPort* search() const { return m_pSearch; }
  ADS_SEARCH_HANDLE handle() const { return m_hSearch; }
  // CloseSearchHandle of the executed search; its result.
  HRESULT Close();

 private:
  friend HRESULT BindDirectorySearch(const wchar_t*, ADS_SEARCHPREF_INFO*, DWORD, const wchar_t*,
                                     const wchar_t* const*, DWORD, DirectorySearchBinding*);
  bool m_bLoaded = false;
  bool m_bCom = false;
  IDirectorySearchPort* m_pSearch = nullptr;
  ADS_SEARCH_HANDLE m_hSearch = nullptr;
  bool m_bExecuted = false;
};

// Steps shared by the directory operations: E_FAIL for a null or empty path
// (nothing loaded), the system error when the provider or its ADsGetObject
// cannot be loaded, else the status of the bind, the preferences or the
// search. S_OK leaves `binding` with an executed search.
HRESULT BindDirectorySearch(const wchar_t* path, ADS_SEARCHPREF_INFO* preferences, DWORD preferenceCount,
                            const wchar_t* filter, const wchar_t* const* attributes, DWORD attributeCount,
                            DirectorySearchBinding* binding);

// Non-zero when at least one non-deleted user person lies anywhere below the
// object. 0 when there is none or the search fails; the system error when
// the provider cannot be loaded.
DWORD ContainerHasUsers(const wchar_t* path);

// 1 when the account's logon script path begins with "Qel" (any case), else 0.
int HasDeploymentScript(const wchar_t* account);

// The back-ends as the page uses them: they read the wizard state and the
// page's stop event and hand their entries to the page's sink.
class CDirectoryBackend {
 public:
  CDirectoryBackend(WizardState& state, IUserEntrySink* sink) : m_state(state), m_pSink(sink) {}

  // The event polled before each directory row; null when no search runs.
  void SetStopEvent(HANDLE event) { m_hStopEvent.store(event); }
  HANDLE StopEvent() const { return m_hStopEvent.load(); }

  // Direct children of `path` under `parent` (TVI_ROOT for the top level).
  HRESULT BrowseDirectory(const wchar_t* path, HTREEITEM parent);
  // Accounts below basePath whose cn and sAMAccountName begin with (or, when
  // exact, equal) the given texts; both given = both must match.
  HRESULT SearchDirectoryUsers(const wchar_t* basePath, const char* displayName, const char* accountName, BOOL exact);
  // Accounts through NetQueryDisplayInformation; either text may match. Always 1.
  int ListDomainUsers(const char* displayName, const char* accountName);
  // The operation filter; null when the entry is not offered.
  HTREEITEM AddAccountItem(const char* name, const wchar_t* path, const wchar_t* account, int type, HTREEITEM parent);

 private:
  bool StopRequested();
  // A search of both listings: `scope` below `path`, pages of 100 rows, 15
  // seconds a page; `row` is called for each row until the rows end or a stop
  // is asked for (the search is then abandoned). The bind's status when it
  // fails, else that of closing the search.
  HRESULT PagedSearch(const wchar_t* path, int scope, const wchar_t* filter, const wchar_t* const* attributes,
                      DWORD attributeCount, const std::function<void(IDirectorySearchPort*, ADS_SEARCH_HANDLE)>& row);

  WizardState& m_state;
  IUserEntrySink* m_pSink;
  std::atomic<HANDLE> m_hStopEvent{nullptr};
};

}  // namespace qel
