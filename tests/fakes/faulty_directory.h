// IDirectoryPort / IDirectorySearchPort decorator that fails chosen calls,
// records what was asked and checks that everything is given back.
//
// Plan names: "LoadProvider", "CoInitialize", "BindSearch" (any bind),
// "BindSearch:GC" and "BindSearch:LDAP" (binds through that provider only,
// e.g. a domain whose global catalog is down), "GetObjectString",
// "SetSearchPreference", "ExecuteSearch", "GetFirstRow", "GetNextRow",
// "AbandonSearch", "CloseSearchHandle", "GetColumn" and "GetColumn:<attribute>"
// (e.g. "GetColumn:sAMAccountName"). The error of a rule is the HRESULT
// (or, for LoadProvider, the system error) the call returns.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/ports.h"
#include "tests/fakes/fault_plan.h"

namespace qel::test {

class FaultyDirectory : public IDirectoryPort {
 public:
  // Forwards to `inner` (default: the directory port installed now).
  explicit FaultyDirectory(IDirectoryPort* inner = nullptr);
  FaultPlan& plan() { return plan_; }

  // Balances: each is 0 when every call was undone.
  int LoadedProviders() const;   // LoadProvider successes minus FreeProvider
  int ComInitialized() const;    // CoInitialize successes minus CoUninitialize
  int OpenSearches() const;      // successful binds not yet released
  int OpenHandles() const;       // executed searches not yet closed
  int OpenColumns() const;       // columns got and not yet freed
  // What was asked, in order.
  std::vector<std::wstring> BoundPaths() const;  // every BindSearch path, also refused ones
  std::vector<std::wstring> Filters() const;     // every ExecuteSearch filter
  // Preferences of the last SetSearchPreference: (preference, integer value).
  std::vector<std::pair<int, DWORD>> LastPreferences() const;
  std::vector<std::wstring> LastAttributes() const;  // of the last ExecuteSearch

  DWORD LoadProvider() override;
  void FreeProvider() override;
  HRESULT CoInitialize() override;
  void CoUninitialize() override;
  HRESULT BindSearch(const wchar_t* adsPath, IDirectorySearchPort** search) override;
  HRESULT GetObjectString(const wchar_t* adsPath, const wchar_t* attribute, wchar_t* value, DWORD capacity,
                          DWORD* length, BOOL* isString) override;

 private:
  friend class FaultySearch;
  IDirectoryPort* inner_;
  FaultPlan plan_;
  mutable std::mutex mutex_;
  int providers_ = 0, com_ = 0, searches_ = 0, handles_ = 0, columns_ = 0;
  std::vector<std::wstring> paths_, filters_, attributes_;
  std::vector<std::pair<int, DWORD>> preferences_;
};

}  // namespace qel::test
