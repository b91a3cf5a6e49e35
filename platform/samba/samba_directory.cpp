#include "platform/samba/samba_directory.h"

#include <ldap.h>

#include <cstring>
#include <memory>
#include <set>

#include "platform/domain/ads_columns.h"
#include "platform/domain/domain_directory.h"
#include "platform/domain/domain_text.h"
#include "platform/domain/ldap_filter.h"

namespace qel {

HRESULT HresultOfLdap(int code) {
  switch (code) {
    case LDAP_SUCCESS: return S_OK;
    case LDAP_NO_SUCH_OBJECT: return kDirNoSuchObject;
    case LDAP_SERVER_DOWN:
    case LDAP_CONNECT_ERROR:
    case LDAP_TIMEOUT: return kDirServerDown;
    case LDAP_INSUFFICIENT_ACCESS: return E_ACCESSDENIED;
    case LDAP_FILTER_ERROR: return E_ADS_INVALID_FILTER;
    case LDAP_INVALID_DN_SYNTAX: return E_ADS_BAD_PATHNAME;
    case LDAP_NO_MEMORY: return E_OUTOFMEMORY;
    default: return static_cast<HRESULT>(0x80072000u + 0x30u);  // ERROR_DS_OPERATIONS_ERROR
  }
}

class SambaSearch : public IDirectorySearchPort {
 public:
  SambaSearch(SambaDirectory* owner, const std::string& base, bool gc)
      : owner_(owner), link_(gc ? owner->gc_ : owner->ldap_), base_(base), gc_(gc) {
    ++owner_->open_;
  }

  HRESULT SetSearchPreference(ADS_SEARCHPREF_INFO* preferences, DWORD count) override {
    return ApplySearchPreferences(preferences, count, &scope_, &pageSize_, &sizeLimit_);
  }

  HRESULT ExecuteSearch(const wchar_t* filter, const wchar_t* const* attributes, DWORD count,
                        ADS_SEARCH_HANDLE* search) override {
    if (!search) return E_POINTER;
    *search = nullptr;
    std::unique_ptr<State> s(new State);
    // The filter is checked here, as the embedded directory checks it, so a
    // bad one is refused before anything goes to the server.
    LdapFilter check;
    std::string reason;
    std::wstring text = filter && *filter ? filter : L"(objectClass=*)";
    if (!check.Parse(text, &reason)) return E_ADS_INVALID_FILTER;
    s->filter = WideToUtf8(text);
    if (!attributes || count == static_cast<DWORD>(-1)) {
      s->allAttributes = true;
    } else {
      for (DWORD i = 0; i < count; ++i) {
        if (!attributes[i]) return E_ADS_BAD_PARAMETER;
        std::string name = WideToUtf8(attributes[i]);
        s->asked.insert(AsciiLower(name));
        // The DN and the path come with every entry; the rest is asked for.
        if (!AsciiEqualNoCase(name, "distinguishedName") && !AsciiEqualNoCase(name, "ADsPath"))
          s->request.push_back(name);
      }
      if (s->request.empty()) s->request.push_back("1.1");  // no attributes
      SambaAccounts* accounts = owner_->accounts_;
      if (accounts && !accounts->PerAccountRequests() && s->asked.count("samaccountname")) {
        s->readAhead = true;
        std::vector<std::string> more = SambaAccounts::AccountAttributes();
        more.push_back("objectClass");
        for (const std::string& name : more) {
          bool there = false;
          for (const std::string& r : s->request) there = there || AsciiEqualNoCase(r, name);
          if (!there) s->request.push_back(name);
        }
      }
    }
    s->scope = scope_;
    s->pageSize = pageSize_;
    s->sizeLimit = sizeLimit_;
    *search = s.get();
    handles_.insert(s.release());
    return S_OK;
  }

  HRESULT AbandonSearch(ADS_SEARCH_HANDLE handle) override {
    State* s = Find(handle);
    if (!s) return E_ADS_BAD_PARAMETER;
    s->abandoned = true;
    s->page.clear();
    return S_OK;
  }

  HRESULT GetFirstRow(ADS_SEARCH_HANDLE handle) override {
    State* s = Find(handle);
    if (!s) return E_ADS_BAD_PARAMETER;
    if (s->abandoned) return S_ADS_NOMORE_ROWS;
    s->cookie.clear();
    s->rows = 0;
    s->done = false;
    s->started = true;
    HRESULT hr = FetchPage(s);
    if (FAILED(hr)) return hr;
    return s->page.empty() ? S_ADS_NOMORE_ROWS : S_OK;
  }

  HRESULT GetNextRow(ADS_SEARCH_HANDLE handle) override {
    State* s = Find(handle);
    if (!s) return E_ADS_BAD_PARAMETER;
    if (s->abandoned) return S_ADS_NOMORE_ROWS;
    if (!s->started) return GetFirstRow(handle);
    if (s->position < s->page.size()) ++s->position;
    if (s->position >= s->page.size()) {
      if (s->page.empty()) return S_ADS_NOMORE_ROWS;
      HRESULT hr = FetchPage(s);
      if (FAILED(hr)) return hr;
    }
    return s->page.empty() ? S_ADS_NOMORE_ROWS : S_OK;
  }

  HRESULT GetColumn(ADS_SEARCH_HANDLE handle, const wchar_t* name, ADS_SEARCH_COLUMN* column) override {
    if (!column || !name) return E_POINTER;
    std::memset(column, 0, sizeof(*column));
    State* s = Find(handle);
    if (!s) return E_ADS_BAD_PARAMETER;
    if (s->abandoned || s->position >= s->page.size()) return E_ADS_COLUMN_NOT_SET;
    std::wstring attribute(name);
    std::string key = AsciiLower(WideToUtf8(attribute));
    if (!s->allAttributes && !s->asked.count(key)) return E_ADS_COLUMN_NOT_SET;
    if (gc_ && OutsideGlobalCatalog(attribute)) return E_ADS_COLUMN_NOT_SET;
    const LdapEntry& entry = s->page[s->position];
    std::vector<std::wstring> values;
    if (key == "distinguishedname") {
      values.push_back(Utf8ToWide(entry.dn));
    } else if (key == "adspath") {
      values.push_back((gc_ ? L"GC://" : L"LDAP://") + Utf8ToWide(entry.dn));
    } else {
      const std::vector<std::string>* found = entry.Find(key);
      if (!found) return E_ADS_COLUMN_NOT_SET;
      for (const std::string& v : *found) values.push_back(Utf8ToWide(v));
    }
    if (!FillAdsColumn(attribute, AdsSyntaxOf(attribute), values, column)) return E_OUTOFMEMORY;
    return S_OK;
  }

  HRESULT FreeColumn(ADS_SEARCH_COLUMN* column) override { return FreeAdsColumn(column); }

  HRESULT CloseSearchHandle(ADS_SEARCH_HANDLE handle) override {
    State* s = Find(handle);
    if (!s) return E_ADS_BAD_PARAMETER;
    handles_.erase(s);
    delete s;
    return S_OK;
  }

  ULONG Release() override {
    ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

 private:
  struct State {
    std::string filter;
    std::vector<std::string> request;
    std::set<std::string> asked;  // lower case
    bool allAttributes = false;
    int scope = ADS_SCOPE_SUBTREE;
    DWORD pageSize = 0, sizeLimit = 0;
    std::string cookie;
    std::vector<LdapEntry> page;
    size_t position = 0;
    uint64_t rows = 0;
    bool started = false, done = false, abandoned = false;
    bool readAhead = false;  // the rows carry whole accounts for the account store
  };

  ~SambaSearch() override {
    for (State* s : handles_) delete s;
    --owner_->open_;
  }

  State* Find(ADS_SEARCH_HANDLE handle) {
    State* s = static_cast<State*>(handle);
    return handles_.count(s) ? s : nullptr;
  }

  // The next page from the server: the caller's page size, or pages of a
  // thousand when it asked for none (the rows come all the same).
  HRESULT FetchPage(State* s) {
    s->page.clear();
    s->position = 0;
    if (s->done || s->abandoned) return S_OK;
    int size = s->pageSize > 0 ? static_cast<int>(s->pageSize) : 1000;
    if (s->sizeLimit > 0) {
      uint64_t left = s->sizeLimit - s->rows;
      if (left == 0) {
        s->done = true;
        return S_OK;
      }
      if (left < static_cast<uint64_t>(size)) size = static_cast<int>(left);
    }
    LdapScope scope = s->scope == ADS_SCOPE_BASE       ? LdapScope::kBase
                      : s->scope == ADS_SCOPE_ONELEVEL ? LdapScope::kOneLevel
                                                       : LdapScope::kSubtree;
    int rc = link_.SearchPage(base_, scope, s->filter, s->allAttributes ? std::vector<std::string>() : s->request,
                              size, 0, &s->cookie, &s->page);
    if (rc != LDAP_SUCCESS && rc != LDAP_SIZELIMIT_EXCEEDED) {
      s->done = true;
      return HresultOfLdap(rc);
    }
    if (s->sizeLimit > 0 && s->rows + s->page.size() > s->sizeLimit) s->page.resize(s->sizeLimit - s->rows);
    s->rows += s->page.size();
    if (s->cookie.empty()) s->done = true;
    if (s->readAhead && owner_->accounts_) owner_->accounts_->ReadAhead(s->page);
    return S_OK;
  }

  SambaDirectory* owner_;
  DirectoryLink& link_;
  std::string base_;
  bool gc_;
  ULONG references_ = 1;
  int scope_ = ADS_SCOPE_SUBTREE;
  DWORD pageSize_ = 0, sizeLimit_ = 0;
  std::set<State*> handles_;
};

SambaDirectory::SambaDirectory(DirectoryLink& ldap, DirectoryLink& gc, const std::string& namingContext,
                               const std::vector<std::string>& serverNames)
    : ldap_(ldap), gc_(gc), namingContext_(namingContext), serverNames_(serverNames) {}

HRESULT SambaDirectory::ParsePath(const wchar_t* adsPath, Path* out) const {
  if (!adsPath) return E_ADS_BAD_PATHNAME;
  std::string path = WideToUtf8(adsPath), rest;
  if (path.compare(0, 7, "LDAP://") == 0) {
    rest = path.substr(7);
  } else if (path.compare(0, 5, "GC://") == 0) {
    out->gc = true;
    rest = path.substr(5);
  } else {
    return E_ADS_BAD_PATHNAME;
  }
  size_t slash = rest.find('/');
  size_t equals = rest.find('=');
  if (slash != std::string::npos && (equals == std::string::npos || slash < equals)) {
    std::string server = rest.substr(0, slash);
    bool known = false;
    for (const std::string& name : serverNames_) known = known || AsciiEqualNoCase(server, name);
    if (!known) return kDirServerDown;
    rest = rest.substr(slash + 1);
  }
  if (AsciiEqualNoCase(rest, "rootDSE")) {
    out->rootDse = true;
    return S_OK;
  }
  out->dn = rest.empty() ? namingContext_ : rest;
  return S_OK;
}

HRESULT SambaDirectory::BindSearch(const wchar_t* adsPath, IDirectorySearchPort** search) {
  if (!search) return E_POINTER;
  *search = nullptr;
  Path path;
  HRESULT hr = ParsePath(adsPath, &path);
  if (FAILED(hr)) return hr;
  if (path.rootDse) return E_ADS_BAD_PATHNAME;  // the rootDSE is read, not searched
  // Binding checks that the object is there, as ADsGetObject does.
  DirectoryLink& link = path.gc ? gc_ : ldap_;
  std::string cookie;
  std::vector<LdapEntry> found;
  int rc = link.SearchPage(path.dn, LdapScope::kBase, "(objectClass=*)", {"1.1"}, 0, 0, &cookie, &found);
  if (rc != LDAP_SUCCESS) return HresultOfLdap(rc);
  if (found.empty()) return kDirNoSuchObject;
  *search = new SambaSearch(this, found.front().dn, path.gc);
  return S_OK;
}

HRESULT SambaDirectory::GetObjectString(const wchar_t* adsPath, const wchar_t* attribute, wchar_t* value,
                                        DWORD capacity, DWORD* length, BOOL* isString) {
  if (length) *length = 0;
  if (isString) *isString = FALSE;
  if (!attribute) return E_POINTER;
  Path path;
  HRESULT hr = ParsePath(adsPath, &path);
  if (FAILED(hr)) return hr;
  std::string name = WideToUtf8(attribute);
  DirectoryLink& link = path.gc ? gc_ : ldap_;
  std::string cookie;
  std::vector<LdapEntry> found;
  int rc = link.SearchPage(path.rootDse ? std::string() : path.dn, LdapScope::kBase, "(objectClass=*)", {name}, 0,
                           0, &cookie, &found);
  if (rc != LDAP_SUCCESS) return HresultOfLdap(rc);
  if (found.empty()) return kDirNoSuchObject;
  std::string result;
  if (!path.rootDse && AsciiEqualNoCase(name, "distinguishedName")) {
    result = found.front().dn;
  } else {
    const std::vector<std::string>* values = found.front().Find(name);
    if (!values) return E_ADS_PROPERTY_NOT_FOUND;
    result = values->front();
    // Numbers and booleans come back as VT_I4 / VT_BOOL, not as strings.
    ADSTYPE type = AdsSyntaxOf(attribute);
    if (!path.rootDse && (type == ADSTYPE_INTEGER || type == ADSTYPE_BOOLEAN)) return S_OK;
  }
  std::wstring wide = Utf8ToWide(result);
  if (isString) *isString = TRUE;
  if (length) *length = static_cast<DWORD>(wide.size());
  if (value && capacity > wide.size()) std::memcpy(value, wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
  return S_OK;
}

}  // namespace qel
