// The logon script of single accounts, of a directory container's accounts
// and of the administrator's selection.
#include <cstring>

#include "deploy/script_deployer.h"
#include "deploy/text_util.h"
#include "log/log_utility.h"
#include "wizard/netapi_entry.h"

namespace qel {

namespace {

// The product's batches all begin with these three letters.
bool BelongsToProduct(const char* scriptPath) {
  static const char kPrefix[] = "qel";
  for (int i = 0; i < 3; ++i) {
    char c = scriptPath[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kPrefix[i]) return false;
  }
  return true;
}

const char* OrEmpty(const char* text) { return text != nullptr ? text : ""; }

// The first value of a column, when it is a string.
const wchar_t* ColumnString(const ADS_SEARCH_COLUMN& column) {
  if (column.dwNumValues == 0 || column.pADsValues == nullptr) return nullptr;
  switch (column.pADsValues[0].dwType) {
    case ADSTYPE_DN_STRING:
      return column.pADsValues[0].DNString;
    case ADSTYPE_CASE_EXACT_STRING:
      return column.pADsValues[0].CaseExactString;
    case ADSTYPE_CASE_IGNORE_STRING:
      return column.pADsValues[0].CaseIgnoreString;
    default:
      return nullptr;
  }
}

// Counts one account of a run.
void Count(BOOL changed, int* total, int* succeeded) {
  if (changed) ++*succeeded;
  ++*total;
}

}  // namespace

BOOL CScriptDeployer::ChangeScript(const wchar_t* account, BOOL install) {
  LPBYTE buffer = nullptr;
  if (g_NetApi.NetUserGetInfo == nullptr || g_NetApi.NetUserGetInfo(nullptr, account, 3, &buffer) != NERR_Success)
    return FALSE;
  USER_INFO_3* info = reinterpret_cast<USER_INFO_3*>(buffer);

  char name[MAX_PATH];
  char scriptPath[MAX_PATH];
  char profile[MAX_PATH];
  std::memset(name, 0, sizeof name);
  std::memset(scriptPath, 0, sizeof scriptPath);
  std::memset(profile, 0, sizeof profile);
  BOOL nameFits = WideToAnsi(account, name, sizeof name);
  if (!nameFits || name[0] == '\0') {
    g_NetApi.NetApiBufferFree(buffer);
    return FALSE;
  }
  // Values longer than the working copies are refused, not cut: a cut path
  // would be written back to the account or into its wrapper batch.
  if (!WideToAnsi(info->usri3_profile, profile, sizeof profile) ||
      !WideToAnsi(info->usri3_script_path, scriptPath, sizeof scriptPath)) {
    _NCOvLogUtility::Warning("[ChangeScript]  UserName %s  profile or script path too long, not changed!", name);
    g_NetApi.NetApiBufferFree(buffer);
    return FALSE;
  }
  size_t blanks = std::strspn(scriptPath, " ");
  if (blanks > 0) std::memmove(scriptPath, scriptPath + blanks, std::strlen(scriptPath + blanks) + 1);

  char newPath[MAX_PATH] = {};
  BOOL hasScript = FALSE;
  BOOL deleteWrapper = FALSE;
  if (install) {
    if ((info->usri3_flags & UF_SCRIPT) == 0) {
      std::strcpy(newPath, m_szBatchName);
    } else if (BelongsToProduct(scriptPath)) {
      g_NetApi.NetApiBufferFree(buffer);
      return TRUE;
    } else if (scriptPath[0] == '\0') {
      std::strcpy(newPath, m_szBatchName);
    } else {
      hasScript = TRUE;
      const char* pieces[] = {"Qel", name, ".bat", nullptr};
      // Without its wrapper batch the account would lose its own script:
      // it stays as it is and counts as failed.
      if (!JoinBounded(newPath, sizeof newPath, pieces) || !WriteUserBatch(name, profile, scriptPath)) {
        _NCOvLogUtility::Warning("[ChangeScript]  UserName %s  wrapper batch not written, not changed!", name);
        g_NetApi.NetApiBufferFree(buffer);
        return FALSE;
      }
    }
  } else {
    if (!BelongsToProduct(scriptPath)) {
      g_NetApi.NetApiBufferFree(buffer);
      return TRUE;
    }
    BOOL scriptFound = FALSE;
    if ((info->usri3_flags & UF_SCRIPT) == 0) {
      // new path empty
    } else if (!ReadUserBatch(name, profile, scriptPath, &scriptFound)) {
      // No wrapper batch (an account set to the shared batch): the script
      // path is cleared. A wrapper that is there but cannot be read still
      // holds the account's own script: nothing is changed.
      if (QelGetLastError() != static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) {
        _NCOvLogUtility::Warning("[ChangeScript]  UserName %s  wrapper batch not readable, not changed!", name);
        g_NetApi.NetApiBufferFree(buffer);
        return FALSE;
      }
    } else if (!scriptFound) {
      // A wrapper without its script record names nothing to restore; it is
      // left in place for the administrator.
    } else if (scriptPath[0] != '\0') {
      std::strcpy(newPath, scriptPath);
      hasScript = TRUE;
      deleteWrapper = TRUE;
    } else {
      deleteWrapper = TRUE;
    }
  }

  _NCOvLogUtility::Warning(
      "[ChangeScript]  NetUserSetInfo Flags ReadFrom %x  {Meaning Script-PassNo-HOMEDIR %x-%x-%x}",
      static_cast<unsigned>(info->usri3_flags), static_cast<unsigned>(UF_SCRIPT),
      static_cast<unsigned>(UF_PASSWD_NOTREQD), static_cast<unsigned>(UF_HOMEDIR_REQUIRED));
  // The account runs its logon script; whether it needs a password is none
  // of this program's business, so that bit stays as it was read.
  info->usri3_flags |= UF_SCRIPT;
  _NCOvLogUtility::Warning("[ChangeScript]  UserName %s  bHasScript=%d", name, hasScript);

  wchar_t newPathWide[MAX_PATH];
  if (!AnsiToWide(newPath, newPathWide, MAX_PATH)) {
    g_NetApi.NetApiBufferFree(buffer);
    return FALSE;
  }
  LPWSTR ownScriptPath = info->usri3_script_path;
  info->usri3_script_path = newPathWide;
  if (!install && newPath[0] == '\0') _NCOvLogUtility::Warning("[ChangeScript]  UserName %s  Clear path name!", name);

  BeforeWrite();
  BOOL changed = g_NetApi.NetUserSetInfo(nullptr, account, 3, buffer, nullptr) == NERR_Success;
  info->usri3_script_path = ownScriptPath;
  g_NetApi.NetApiBufferFree(buffer);

  // The wrapper batch goes only once the account no longer names it and
  // that write has lasted: after a failed write it still holds the account's
  // own script.
  AfterWrite(changed, deleteWrapper ? name : nullptr);
  return changed;
}

BOOL CScriptDeployer::IsScriptedUser(const wchar_t* account) {
  LPBYTE buffer = nullptr;
  if (g_NetApi.NetUserGetInfo == nullptr || g_NetApi.NetUserGetInfo(nullptr, account, 3, &buffer) != NERR_Success)
    return FALSE;
  USER_INFO_3* info = reinterpret_cast<USER_INFO_3*>(buffer);
  char scriptPath[MAX_PATH] = {};
  BOOL scripted = WideToAnsi(info->usri3_script_path, scriptPath, sizeof scriptPath) && BelongsToProduct(scriptPath);
  g_NetApi.NetApiBufferFree(buffer);
  return scripted;
}

HRESULT CScriptDeployer::ChangeContainer(const wchar_t* container, BOOL install) {
  if (container == nullptr || *container == L'\0') return E_FAIL;
  DWORD loaded = Directory().LoadProvider();
  if (loaded != 0) return static_cast<HRESULT>(loaded);
  Directory().CoInitialize();

  static const wchar_t* const kProviders[] = {L"GC://", L"LDAP://"};
  IDirectorySearchPort* search = nullptr;
  HRESULT hr = E_FAIL;
  for (const wchar_t* provider : kProviders) {
    size_t prefix = std::wcslen(provider);
    size_t length = std::wcslen(container);
    wchar_t* path = new wchar_t[prefix + length + 1];
    std::wmemcpy(path, provider, prefix);
    std::wmemcpy(path + prefix, container, length + 1);
    hr = Directory().BindSearch(path, &search);
    delete[] path;
    if (SUCCEEDED(hr) && search != nullptr) break;
    search = nullptr;
  }

  ADS_SEARCH_HANDLE handle = nullptr;
  if (search != nullptr) {
    ADS_SEARCHPREF_INFO preferences[3] = {};
    preferences[0].dwSearchPref = ADS_SEARCHPREF_SEARCH_SCOPE;
    preferences[0].vValue.dwType = ADSTYPE_INTEGER;
    preferences[0].vValue.Integer = ADS_SCOPE_SUBTREE;
    preferences[1].dwSearchPref = ADS_SEARCHPREF_PAGESIZE;
    preferences[1].vValue.dwType = ADSTYPE_INTEGER;
    preferences[1].vValue.Integer = 100;
    preferences[2].dwSearchPref = ADS_SEARCHPREF_PAGED_TIME_LIMIT;
    preferences[2].vValue.dwType = ADSTYPE_INTEGER;
    preferences[2].vValue.Integer = 15;
    hr = search->SetSearchPreference(preferences, 3);
    if (SUCCEEDED(hr)) {
      wchar_t filter[128];
      std::wcscpy(filter, L"(&(objectClass=user)(objectCategory=Person)(!(isDeleted=TRUE))");
      std::wcscat(filter, L")");
      const wchar_t* attributes[] = {L"cn", L"distinguishedName", L"sAMAccountName"};
      hr = search->ExecuteSearch(filter, attributes, 3, &handle);
    }
    if (SUCCEEDED(hr)) {
      for (hr = search->GetFirstRow(handle); hr == S_OK; hr = search->GetNextRow(handle)) {
        if (IsCancelled()) {
          search->AbandonSearch(handle);
          break;
        }
        ADS_SEARCH_COLUMN cn, dn, sam;
        if (FAILED(search->GetColumn(handle, L"cn", &cn))) continue;
        if (FAILED(search->GetColumn(handle, L"distinguishedName", &dn))) {
          search->FreeColumn(&cn);
          continue;
        }
        char displayName[MAX_PATH] = {};
        WideToAnsi(ColumnString(cn), displayName, sizeof displayName);
        if (SUCCEEDED(search->GetColumn(handle, L"sAMAccountName", &sam))) {
          const wchar_t* logonName = ColumnString(sam);
          if (displayName[0] != '\0' && logonName != nullptr && *logonName != L'\0') {
            // Adding skips accounts that already run the product's batch;
            // removing skips those that do not.
            if (IsScriptedUser(logonName) != install) {
              ReportText(install ? PROGRESS_SET_SCRIPT : PROGRESS_REMOVE_SCRIPT, displayName);
              Count(ChangeScript(logonName, install), &m_nTotal, &m_nSucceeded);
            }
          }
          search->FreeColumn(&sam);
        }
        search->FreeColumn(&dn);
        search->FreeColumn(&cn);
      }
    }
    if (handle != nullptr) search->CloseSearchHandle(handle);
    search->Release();
  }
  Directory().CoUninitialize();
  return hr;
}

BOOL CScriptDeployer::ChangeNodeList(USER_NODE* node, BOOL install) {
  for (; node != nullptr; node = node->pNext) {
    if (IsCancelled()) return FALSE;
    if (node->nType == UserType) {
      _NCOvLogUtility::Warning("Change User Account [%s]   UserType [Sel %d]", OrEmpty(node->pszName),
                               node->bSelected);
      if (node->bSelected) {
        ReportText(install ? PROGRESS_SET_SCRIPT : PROGRESS_REMOVE_SCRIPT, OrEmpty(node->pszName));
        Count(ChangeScript(node->pwszAccount, install), &m_nTotal, &m_nSucceeded);
      }
    } else {
      _NCOvLogUtility::Warning("Change User Account [%s]   OUType  [Sel %d] ", OrEmpty(node->pszName),
                               node->bSelected);
      if (node->bSelected) {
        ChangeContainer(node->pwszPath, install);
      } else if (node->pChild != nullptr) {
        ChangeNodeList(node->pChild, install);
      }
    }
  }
  return TRUE;
}

}  // namespace qel
