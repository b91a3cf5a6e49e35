#include "directory/directory_backend.h"

#include <cstring>
#include <cwchar>
#include <string>

#include "deploy/text_util.h"
#include "log/log_utility.h"
#include "wizard/netapi_entry.h"

namespace qel {

namespace {

const wchar_t kBrowseFilter[] =
    L"(&(|(objectClass=organizationalUnit)(objectClass=Container)(&(objectClass=user)(objectCategory=Person)))"
    L"(!(isDeleted=TRUE))(!(objectClass=msExchSystemObjectsContainer)))";
const wchar_t kHasUsersFilter[] = L"(&(objectClass=user)(objectCategory=Person)(!(isDeleted=TRUE)))";
const wchar_t kSearchFilterBase[] = L"(&(objectClass=user)(objectCategory=Person)(!(isDeleted=TRUE))";

ADS_SEARCHPREF_INFO IntegerPreference(ADS_SEARCHPREF preference, DWORD value) {
  ADS_SEARCHPREF_INFO info;
  std::memset(&info, 0, sizeof info);
  info.dwSearchPref = preference;
  info.vValue.dwType = ADSTYPE_INTEGER;
  info.vValue.Integer = value;
  return info;
}

// A column got from the current row, freed when it goes out of scope.
class Column {
 public:
  Column(IDirectorySearchPort* search, ADS_SEARCH_HANDLE handle) : m_pSearch(search), m_hSearch(handle) {
    std::memset(&m_column, 0, sizeof m_column);
  }
  ~Column() { Free(); }
  Column(const Column&) = delete;
  Column& operator=(const Column&) = delete;

  bool Get(const wchar_t* name) {
    Free();
    m_bHeld = SUCCEEDED(m_pSearch->GetColumn(m_hSearch, name, &m_column));
    return m_bHeld;
  }
  void Free() {
    if (m_bHeld) m_pSearch->FreeColumn(&m_column);
    m_bHeld = false;
  }
  bool held() const { return m_bHeld; }
  // The first value's type and string; null when there is no value.
  const ADSVALUE* First() const {
    return m_bHeld && m_column.dwNumValues > 0 && m_column.pADsValues != nullptr ? &m_column.pADsValues[0] : nullptr;
  }
  const wchar_t* FirstString() const {
    const ADSVALUE* value = First();
    return value != nullptr ? value->CaseIgnoreString : nullptr;
  }

 private:
  IDirectorySearchPort* m_pSearch;
  ADS_SEARCH_HANDLE m_hSearch;
  ADS_SEARCH_COLUMN m_column;
  bool m_bHeld = false;
};

wchar_t LowerAscii(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }
char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// _wcsnicmp(text, prefix, wcslen(prefix)) == 0, with a null or short text never matching.
bool BeginsWithNoCase(const wchar_t* text, const wchar_t* prefix) {
  if (text == nullptr) return false;
  for (; *prefix != L'\0'; ++text, ++prefix)
    if (*text == L'\0' || LowerAscii(*text) != LowerAscii(*prefix)) return false;
  return true;
}

// _strnicmp over the length of prefix.
bool BeginsWithNoCase(const std::string& text, const char* prefix) {
  size_t length = std::strlen(prefix);
  if (text.size() < length) return false;
  for (size_t i = 0; i < length; ++i)
    if (LowerAscii(text[i]) != LowerAscii(prefix[i])) return false;
  return true;
}

}  // namespace

DirectorySearchBinding::~DirectorySearchBinding() {
  Close();
  if (m_pSearch != nullptr) m_pSearch->Release();
  if (m_bLoaded) Directory().FreeProvider();
  if (m_bCom) Directory().CoUninitialize();
}

HRESULT DirectorySearchBinding::Close() {
  if (!m_bExecuted) return S_OK;
  m_bExecuted = false;
  return m_pSearch->CloseSearchHandle(m_hSearch);
}

HRESULT BindDirectorySearch(const wchar_t* path, ADS_SEARCHPREF_INFO* preferences, DWORD preferenceCount,
                            const wchar_t* filter, const wchar_t* const* attributes, DWORD attributeCount,
                            DirectorySearchBinding* binding) {
  if (path == nullptr || *path == L'\0') return E_FAIL;
  DWORD loaded = Directory().LoadProvider();
  if (loaded != 0) return static_cast<HRESULT>(loaded);
  binding->m_bLoaded = true;
  // S_FALSE (already initialised on this thread) must be balanced as well.
  binding->m_bCom = SUCCEEDED(Directory().CoInitialize());

  std::wstring global = std::wstring(L"GC://") + path;
  HRESULT status = Directory().BindSearch(global.c_str(), &binding->m_pSearch);
  if (FAILED(status)) {
    binding->m_pSearch = nullptr;
    std::wstring ldap = std::wstring(L"LDAP://") + path;
    status = Directory().BindSearch(ldap.c_str(), &binding->m_pSearch);
    if (FAILED(status)) {
      binding->m_pSearch = nullptr;
      return status;
    }
  }
  status = binding->m_pSearch->SetSearchPreference(preferences, preferenceCount);
  if (FAILED(status)) return status;
  status = binding->m_pSearch->ExecuteSearch(filter, attributes, attributeCount, &binding->m_hSearch);
  if (FAILED(status)) return status;
  binding->m_bExecuted = true;
  return S_OK;
}

DWORD ContainerHasUsers(const wchar_t* path) {
  ADS_SEARCHPREF_INFO preferences[] = {
      IntegerPreference(ADS_SEARCHPREF_SEARCH_SCOPE, ADS_SCOPE_SUBTREE),
      IntegerPreference(ADS_SEARCHPREF_SIZE_LIMIT, 1),
  };
  const wchar_t* const attributes[] = {L"cn"};
  DirectorySearchBinding binding;
  HRESULT status = BindDirectorySearch(path, preferences, 2, kHasUsersFilter, attributes, 1, &binding);
  if (status != S_OK) {
    // A provider that cannot be loaded is reported with its (non-zero) error.
    return status > 0 ? static_cast<DWORD>(status) : 0;
  }
  HRESULT row = binding.search()->GetFirstRow(binding.handle());
  binding.Close();
  return row == S_OK ? 1 : 0;
}

int HasDeploymentScript(const wchar_t* account) {
  if (g_NetApi.NetUserGetInfo == nullptr) return 0;
  LPBYTE buffer = nullptr;
  if (g_NetApi.NetUserGetInfo(nullptr, account, 3, &buffer) != NERR_Success) return 0;
  const USER_INFO_3* info = reinterpret_cast<const USER_INFO_3*>(buffer);
  int result = info != nullptr && BeginsWithNoCase(info->usri3_script_path, L"Qel") ? 1 : 0;
  if (g_NetApi.NetApiBufferFree != nullptr) g_NetApi.NetApiBufferFree(buffer);
  return result;
}

bool CDirectoryBackend::StopRequested() {
  HANDLE event = m_hStopEvent.load();
  // A null handle makes the wait fail: the operation runs to its end.
  return Sync().WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

HTREEITEM CDirectoryBackend::AddAccountItem(const char* name, const wchar_t* path, const wchar_t* account, int type,
                                            HTREEITEM parent) {
  if (type == UserType) {
    int hasScript = HasDeploymentScript(account);
    bool offered = m_state.m_nOperation == OP_INSTALL ? hasScript == 0 : hasScript == 1;
    if (!offered) return nullptr;
  }
  return m_pSink->InsertUserItem(name, path, account, type, parent);
}

HRESULT CDirectoryBackend::PagedSearch(const wchar_t* path, int scope, const wchar_t* filter,
                                       const wchar_t* const* attributes, DWORD attributeCount,
                                       const std::function<void(IDirectorySearchPort*, ADS_SEARCH_HANDLE)>& row) {
  ADS_SEARCHPREF_INFO preferences[] = {
      IntegerPreference(ADS_SEARCHPREF_SEARCH_SCOPE, static_cast<DWORD>(scope)),
      IntegerPreference(ADS_SEARCHPREF_PAGESIZE, 100),
      IntegerPreference(ADS_SEARCHPREF_PAGED_TIME_LIMIT, 15),
  };
  DirectorySearchBinding binding;
  HRESULT status = BindDirectorySearch(path, preferences, 3, filter, attributes, attributeCount, &binding);
  if (status != S_OK) return status;
  IDirectorySearchPort* search = binding.search();
  ADS_SEARCH_HANDLE handle = binding.handle();
  for (HRESULT next = search->GetFirstRow(handle); next == S_OK; next = search->GetNextRow(handle)) {
    if (StopRequested()) {
      search->AbandonSearch(handle);
      break;
    }
    row(search, handle);
  }
  return binding.Close();
}

HRESULT CDirectoryBackend::BrowseDirectory(const wchar_t* path, HTREEITEM parent) {
  const wchar_t* const attributes[] = {L"ou", L"cn", L"distinguishedName", L"objectCategory", L"sAMAccountName"};
  auto row = [&](IDirectorySearchPort* search, ADS_SEARCH_HANDLE handle) {
    Column nameColumn(search, handle);
    if (!nameColumn.Get(L"ou") && !nameColumn.Get(L"cn")) return;
    Column dnColumn(search, handle);
    if (!dnColumn.Get(L"distinguishedName")) return;
    Column categoryColumn(search, handle);
    categoryColumn.Get(L"objectCategory");
    _NCOvLogUtility::GetInstance()->Warning("    Item:");
    if (!categoryColumn.held()) return;

    // A name value that is not one of the three string types cannot come
    // from a standard schema; such a row is skipped.
    const ADSVALUE* nameValue = nameColumn.First();
    if (nameValue == nullptr) return;
    const wchar_t* name = nullptr;
    switch (nameValue->dwType) {
      case ADSTYPE_DN_STRING:
        name = nameValue->DNString;
        _NCOvLogUtility::GetInstance()->Warning("        cn Type[DN-STRING]  Value:  %s", AnsiString(name).c_str());
        break;
      case ADSTYPE_CASE_EXACT_STRING:
        name = nameValue->CaseExactString;
        _NCOvLogUtility::GetInstance()->Warning("        cn Type[EXACT-STRING]  Value:  %s", AnsiString(name).c_str());
        break;
      case ADSTYPE_CASE_IGNORE_STRING:
        name = nameValue->CaseIgnoreString;
        break;
      default:
        break;
    }
    if (name == nullptr || *name == L'\0') return;
    const wchar_t* dn = dnColumn.FirstString();
    std::string ansiName = AnsiString(name);
    const wchar_t* category = categoryColumn.FirstString();
    if (category != nullptr && std::wcslen(category) >= 10 && BeginsWithNoCase(category, L"CN=Person,")) {
      Column accountColumn(search, handle);
      if (accountColumn.Get(L"sAMAccountName"))
        AddAccountItem(ansiName.c_str(), dn, accountColumn.FirstString(), UserType, parent);
      else
        AddAccountItem(ansiName.c_str(), dn, nullptr, UserType, parent);
    } else if (ContainerHasUsers(dn) != 0) {
      AddAccountItem(ansiName.c_str(), dn, nullptr, OUType, parent);
    }
  };
  return PagedSearch(path, ADS_SCOPE_ONELEVEL, kBrowseFilter, attributes, 5, row);
}

HRESULT CDirectoryBackend::SearchDirectoryUsers(const wchar_t* basePath, const char* displayName,
                                                const char* accountName, BOOL exact) {
  // The typed texts go into the filter as they are: "*" is a wildcard, and
  // an unbalanced parenthesis makes the search fail.
  std::wstring filter = kSearchFilterBase;
  if (displayName != nullptr && *displayName != '\0') {
    filter += L"(cn=";
    filter += WideString(displayName);
    if (!exact) filter += L"*";
    filter += L")";
  }
  if (accountName != nullptr && *accountName != '\0') {
    filter += L"(sAMAccountName=";
    filter += WideString(accountName);
    if (!exact) filter += L"*";
    filter += L")";
  }
  filter += L")";

  const wchar_t* const attributes[] = {L"cn", L"distinguishedName", L"sAMAccountName"};
  auto row = [&](IDirectorySearchPort* search, ADS_SEARCH_HANDLE handle) {
    Column nameColumn(search, handle);
    if (!nameColumn.Get(L"cn")) return;
    Column dnColumn(search, handle);
    if (!dnColumn.Get(L"distinguishedName")) return;
    Column accountColumn(search, handle);
    if (!accountColumn.Get(L"sAMAccountName")) return;
    const ADSVALUE* nameValue = nameColumn.First();
    if (nameValue == nullptr || nameValue->dwType < ADSTYPE_DN_STRING || nameValue->dwType > ADSTYPE_CASE_IGNORE_STRING)
      return;
    const wchar_t* name = nameValue->CaseIgnoreString;
    if (name == nullptr || *name == L'\0') return;
    m_pSink->InsertUserItem(AnsiString(name).c_str(), dnColumn.FirstString(), accountColumn.FirstString(), UserType,
                            TVI_ROOT);
  };
  return PagedSearch(basePath, ADS_SCOPE_SUBTREE, filter.c_str(), attributes, 3, row);
}

int CDirectoryBackend::ListDomainUsers(const char* displayName, const char* accountName) {
  if (g_NetApi.NetQueryDisplayInformation == nullptr) return 1;
  DWORD index = 0;
  for (;;) {
    DWORD count = 0;
    LPVOID buffer = nullptr;
    NET_API_STATUS status =
        g_NetApi.NetQueryDisplayInformation(nullptr, 1, index, 1000, MAX_PREFERRED_LENGTH, &count, &buffer);
    if (status != NERR_Success && status != ERROR_MORE_DATA) return 1;
    const NET_DISPLAY_USER* records = static_cast<const NET_DISPLAY_USER*>(buffer);
    for (DWORD i = 0; i < count; ++i) {
      const NET_DISPLAY_USER& record = records[i];
      index = record.usri1_next_index;
      char account[100];
      std::memset(account, 0, sizeof account);
      if (record.usri1_name == nullptr) continue;
      int converted =
          CodePage().WideCharToMultiByte(CP_ACP, 0, record.usri1_name, -1, account, sizeof account, nullptr, nullptr);
      if (converted == 0 || account[0] == '\0' || account[std::strlen(account) - 1] == '$') continue;
      // A missing full name counts as an empty one.
      std::string fullName = AnsiString(record.usri1_full_name);
      bool accepted;
      if (displayName == nullptr && accountName == nullptr)
        accepted = true;
      else
        accepted = (displayName != nullptr && *displayName != '\0' && BeginsWithNoCase(fullName, displayName)) ||
                   (accountName != nullptr && *accountName != '\0' && BeginsWithNoCase(std::string(account), accountName));
      if (accepted) AddAccountItem(fullName.c_str(), nullptr, record.usri1_name, UserType, TVI_ROOT);
    }
    if (g_NetApi.NetApiBufferFree != nullptr && buffer != nullptr) g_NetApi.NetApiBufferFree(buffer);
    if (status != ERROR_MORE_DATA) return 1;
  }
}

}  // namespace qel
