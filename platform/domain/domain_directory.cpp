#include "platform/domain/domain_directory.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/domain/ads_columns.h"
#include "platform/domain/dn.h"
#include "platform/domain/domain_text.h"
#include "platform/domain/ldap_filter.h"

namespace qel {

namespace {

enum class Provider { kLdap, kGc };

struct ParsedPath {
  Provider provider = Provider::kLdap;
  std::wstring dn;
  bool rootDse = false;
};

// "LDAP://[server/]DN" or "GC://[server/]DN". Provider names are case-sensitive, as in ADSI.
HRESULT ParsePath(const DomainStore& store, const wchar_t* adsPath, ParsedPath* out) {
  if (!adsPath) return E_ADS_BAD_PATHNAME;
  std::wstring path(adsPath);
  std::wstring rest;
  if (path.compare(0, 7, L"LDAP://") == 0) {
    out->provider = Provider::kLdap;
    rest = path.substr(7);
  } else if (path.compare(0, 5, L"GC://") == 0) {
    out->provider = Provider::kGc;
    rest = path.substr(5);
  } else {
    return E_ADS_BAD_PATHNAME;
  }
  size_t slash = rest.find(L'/');
  size_t eq = rest.find(L'=');
  if (slash != std::wstring::npos && (eq == std::wstring::npos || slash < eq)) {
    std::wstring server = rest.substr(0, slash);
    std::wstring controller = store.ControllerName(), dns = store.DnsName();
    if (!EqualNoCase(server, controller) && !EqualNoCase(server, controller + L"." + dns) &&
        !EqualNoCase(server, dns) && !EqualNoCase(server, store.NetbiosName()))
      return kDirServerDown;
    rest = rest.substr(slash + 1);
  }
  if (EqualNoCase(rest, L"rootDSE")) {
    out->rootDse = true;
    return S_OK;
  }
  out->dn = rest.empty() ? store.NamingContext() : rest;
  return S_OK;
}

}  // namespace

class DomainSearch : public IDirectorySearchPort {
 public:
  DomainSearch(DomainDirectory* owner, uint32_t base, Provider provider)
      : owner_(owner), store_(owner->store_), base_(base), provider_(provider) {
    ++owner_->open_;
  }

  HRESULT SetSearchPreference(ADS_SEARCHPREF_INFO* preferences, DWORD count) override;
  HRESULT ExecuteSearch(const wchar_t* filter, const wchar_t* const* attributes, DWORD count,
                        ADS_SEARCH_HANDLE* search) override;
  HRESULT AbandonSearch(ADS_SEARCH_HANDLE search) override;
  HRESULT GetFirstRow(ADS_SEARCH_HANDLE search) override;
  HRESULT GetNextRow(ADS_SEARCH_HANDLE search) override;
  HRESULT GetColumn(ADS_SEARCH_HANDLE search, const wchar_t* name, ADS_SEARCH_COLUMN* column) override;
  HRESULT FreeColumn(ADS_SEARCH_COLUMN* column) override;
  HRESULT CloseSearchHandle(ADS_SEARCH_HANDLE search) override;
  ULONG Release() override;

 private:
  struct State {
    LdapFilter filter;
    std::vector<std::wstring> attributes;
    bool allAttributes = false;
    int scope = ADS_SCOPE_SUBTREE;
    DWORD pageSize = 0, sizeLimit = 0;
    // Walk over the scope: a stack of (object, next child) for subtrees.
    std::vector<std::pair<uint32_t, size_t>> stack;
    bool baseDone = false, walkDone = false, started = false, abandoned = false;
    std::vector<uint32_t> page;
    size_t pagePos = 0;
    uint64_t rowsReturned = 0;
    bool anyPage = false;
  };
  ~DomainSearch() override {
    for (State* s : handles_) delete s;
    --owner_->open_;
  }
  State* Find(ADS_SEARCH_HANDLE handle) {
    State* s = static_cast<State*>(handle);
    return handles_.count(s) ? s : nullptr;
  }
  void Restart(State* s);
  uint32_t NextCandidate(State* s);
  void FetchPage(State* s);

  DomainDirectory* owner_;
  DomainStore& store_;
  uint32_t base_;
  Provider provider_;
  ULONG references_ = 1;
  int scope_ = ADS_SCOPE_SUBTREE;  // the ADSI default
  DWORD pageSize_ = 0, sizeLimit_ = 0;
  std::set<State*> handles_;
};

HRESULT DomainSearch::SetSearchPreference(ADS_SEARCHPREF_INFO* preferences, DWORD count) {
  return ApplySearchPreferences(preferences, count, &scope_, &pageSize_, &sizeLimit_);
}

HRESULT DomainSearch::ExecuteSearch(const wchar_t* filter, const wchar_t* const* attributes, DWORD count,
                                    ADS_SEARCH_HANDLE* search) {
  if (!search) return E_POINTER;
  *search = nullptr;
  std::unique_ptr<State> s(new State);
  std::string reason;
  if (!s->filter.Parse(filter ? filter : L"", &reason)) return E_ADS_INVALID_FILTER;
  // No list (or a count of -1) asks for every attribute.
  if (!attributes || count == static_cast<DWORD>(-1)) {
    s->allAttributes = true;
  } else {
    for (DWORD i = 0; i < count; ++i) {
      if (!attributes[i]) return E_ADS_BAD_PARAMETER;
      s->attributes.push_back(attributes[i]);
    }
  }
  s->scope = scope_;
  s->pageSize = pageSize_;
  s->sizeLimit = sizeLimit_;
  Restart(s.get());
  *search = s.get();
  handles_.insert(s.release());
  return S_OK;
}

void DomainSearch::Restart(State* s) {
  s->stack.clear();
  s->baseDone = s->walkDone = s->started = false;
  s->page.clear();
  s->pagePos = 0;
  s->rowsReturned = 0;
  s->anyPage = false;
}

uint32_t DomainSearch::NextCandidate(State* s) {
  if (s->walkDone) return kNoObject;
  if (!s->baseDone) {
    s->baseDone = true;
    s->stack.emplace_back(base_, 0);
    if (s->scope != ADS_SCOPE_ONELEVEL) {
      if (s->scope == ADS_SCOPE_BASE) s->stack.clear();
      return base_;
    }
  }
  while (!s->stack.empty()) {
    auto& top = s->stack.back();
    const std::vector<uint32_t>& children = store_.Object(top.first).children;
    if (top.second < children.size()) {
      uint32_t child = children[top.second++];
      if (s->scope == ADS_SCOPE_SUBTREE) s->stack.emplace_back(child, 0);
      return child;
    }
    s->stack.pop_back();
  }
  s->walkDone = true;
  return kNoObject;
}

void DomainSearch::FetchPage(State* s) {
  s->page.clear();
  s->pagePos = 0;
  if (s->abandoned) return;
  auto lock = store_.ReadLock();
  while (s->pageSize == 0 || s->page.size() < s->pageSize) {
    if (s->sizeLimit && s->rowsReturned >= s->sizeLimit) break;
    uint32_t candidate = NextCandidate(s);
    if (candidate == kNoObject) break;
    if (s->filter.Matches(store_, store_.Object(candidate))) {
      s->page.push_back(candidate);
      ++s->rowsReturned;
    }
  }
  if (!s->page.empty() || !s->anyPage) ++owner_->pages_;
  s->anyPage = true;
  owner_->rows_ += s->page.size();
}

HRESULT DomainSearch::GetFirstRow(ADS_SEARCH_HANDLE handle) {
  State* s = Find(handle);
  if (!s) return E_ADS_BAD_PARAMETER;
  if (s->abandoned) return S_ADS_NOMORE_ROWS;
  Restart(s);
  s->started = true;
  FetchPage(s);
  return s->page.empty() ? S_ADS_NOMORE_ROWS : S_OK;
}

HRESULT DomainSearch::GetNextRow(ADS_SEARCH_HANDLE handle) {
  State* s = Find(handle);
  if (!s) return E_ADS_BAD_PARAMETER;
  if (s->abandoned) return S_ADS_NOMORE_ROWS;
  if (!s->started) return GetFirstRow(handle);
  if (s->pagePos < s->page.size()) ++s->pagePos;
  if (s->pagePos >= s->page.size()) {
    if (s->page.empty()) return S_ADS_NOMORE_ROWS;
    FetchPage(s);
  }
  return s->page.empty() ? S_ADS_NOMORE_ROWS : S_OK;
}

HRESULT DomainSearch::GetColumn(ADS_SEARCH_HANDLE handle, const wchar_t* name, ADS_SEARCH_COLUMN* column) {
  if (!column || !name) return E_POINTER;
  std::memset(column, 0, sizeof(*column));
  State* s = Find(handle);
  if (!s) return E_ADS_BAD_PARAMETER;
  if (s->abandoned || s->pagePos >= s->page.size()) return E_ADS_COLUMN_NOT_SET;
  std::wstring attribute(name);
  bool asked = s->allAttributes;
  for (const std::wstring& a : s->attributes)
    if (EqualNoCase(a, attribute)) asked = true;
  if (!asked) return E_ADS_COLUMN_NOT_SET;
  if (provider_ == Provider::kGc && OutsideGlobalCatalog(attribute)) return E_ADS_COLUMN_NOT_SET;

  std::vector<std::wstring> values;
  {
    auto lock = store_.ReadLock();
    const DirObject& object = store_.Object(s->page[s->pagePos]);
    if (EqualNoCase(attribute, L"distinguishedName")) {
      values.emplace_back(object.dn);
    } else if (EqualNoCase(attribute, L"ADsPath")) {
      values.push_back((provider_ == Provider::kGc ? L"GC://" : L"LDAP://") + std::wstring(object.dn));
    } else {
      int id = store_.AttributeId(attribute);
      DirValues found = id < 0 ? DirValues() : store_.Values(object, static_cast<uint32_t>(id));
      if (found.empty()) return E_ADS_COLUMN_NOT_SET;
      values.assign(found.begin(), found.end());
    }
  }
  if (!FillAdsColumn(attribute, AdsSyntaxOf(attribute), values, column)) return E_OUTOFMEMORY;
  return S_OK;
}

HRESULT DomainSearch::FreeColumn(ADS_SEARCH_COLUMN* column) { return FreeAdsColumn(column); }

HRESULT DomainSearch::AbandonSearch(ADS_SEARCH_HANDLE handle) {
  State* s = Find(handle);
  if (!s) return E_ADS_BAD_PARAMETER;
  s->abandoned = true;
  s->page.clear();
  return S_OK;
}

HRESULT DomainSearch::CloseSearchHandle(ADS_SEARCH_HANDLE handle) {
  State* s = Find(handle);
  if (!s) return E_ADS_BAD_PARAMETER;
  handles_.erase(s);
  delete s;
  return S_OK;
}

ULONG DomainSearch::Release() {
  ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

HRESULT DomainDirectory::BindSearch(const wchar_t* adsPath, IDirectorySearchPort** search) {
  if (!search) return E_POINTER;
  *search = nullptr;
  ParsedPath path;
  HRESULT hr = ParsePath(store_, adsPath, &path);
  if (FAILED(hr)) return hr;
  if (path.provider == Provider::kGc && refuseGc_) return kDirServerDown;
  if (path.rootDse) return E_ADS_BAD_PATHNAME;  // the rootDSE is read, not searched
  if (NormalizeDn(path.dn).empty()) return E_ADS_BAD_PATHNAME;
  uint32_t base;
  {
    auto lock = store_.ReadLock();
    base = store_.FindObject(path.dn);
  }
  if (base == kNoObject) return kDirNoSuchObject;
  *search = new DomainSearch(this, base, path.provider);
  return S_OK;
}

HRESULT DomainDirectory::GetObjectString(const wchar_t* adsPath, const wchar_t* attribute, wchar_t* value,
                                         DWORD capacity, DWORD* length, BOOL* isString) {
  if (length) *length = 0;
  if (isString) *isString = FALSE;
  if (!attribute) return E_POINTER;
  ParsedPath path;
  HRESULT hr = ParsePath(store_, adsPath, &path);
  if (FAILED(hr)) return hr;
  if (path.provider == Provider::kGc && refuseGc_) return kDirServerDown;
  std::wstring result;
  bool text = true;
  std::wstring name(attribute);
  if (path.rootDse) {
    std::wstring context = store_.NamingContext();
    if (EqualNoCase(name, L"defaultNamingContext") || EqualNoCase(name, L"rootDomainNamingContext"))
      result = context;
    else if (EqualNoCase(name, L"configurationNamingContext"))
      result = L"CN=Configuration," + context;
    else if (EqualNoCase(name, L"schemaNamingContext"))
      result = L"CN=Schema,CN=Configuration," + context;
    else if (EqualNoCase(name, L"dnsHostName"))
      result = store_.ControllerName() + L"." + store_.DnsName();
    else
      return E_ADS_PROPERTY_NOT_FOUND;
  } else {
    if (NormalizeDn(path.dn).empty()) return E_ADS_BAD_PATHNAME;
    auto lock = store_.ReadLock();
    uint32_t index = store_.FindObject(path.dn);
    if (index == kNoObject) return kDirNoSuchObject;
    const DirObject& object = store_.Object(index);
    if (EqualNoCase(name, L"distinguishedName")) {
      result = object.dn;
    } else {
      int id = store_.AttributeId(name);
      DirValues values = id < 0 ? DirValues() : store_.Values(object, static_cast<uint32_t>(id));
      if (values.empty()) return E_ADS_PROPERTY_NOT_FOUND;
      result = values.front();
      // Numbers and booleans come back as VT_I4 / VT_BOOL, not as strings.
      ADSTYPE type = AdsSyntaxOf(name);
      text = type != ADSTYPE_INTEGER && type != ADSTYPE_BOOLEAN;
    }
  }
  if (!text) return S_OK;
  if (isString) *isString = TRUE;
  if (length) *length = static_cast<DWORD>(result.size());
  if (value && capacity > result.size()) std::memcpy(value, result.c_str(), (result.size() + 1) * sizeof(wchar_t));
  return S_OK;
}

}  // namespace qel
