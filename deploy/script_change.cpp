// The logon script of single accounts, of a directory container's accounts
// and of the administrator's selection.
#include <cstring>
#include <string>

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

// Compares two ANSI names without regard to the case of A to Z.
bool SameName(const char* a, const char* b) {
  for (;; ++a, ++b) {
    char x = *a, y = *b;
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
    if (x == '\0') return true;
  }
}

// A script path that names a file of the scripts folder itself.
bool IsPlainFileName(const char* path) { return path[0] != '\0' && std::strpbrk(path, "\\/:") == nullptr; }

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

void CScriptDeployer::Tell(AccountDecision& decision, int result, const char* reason, DWORD error) {
  if (m_pObserver == nullptr) return;
  decision.result = result;
  decision.reason = reason;
  decision.error = error;
  decision.dn = m_pwszRowDN;
  m_pObserver->OnAccount(decision);
}

BOOL CScriptDeployer::ChangeScript(const wchar_t* account, BOOL install) {
  AccountDecision decision;
  std::string accountText = AnsiString(account);
  decision.account = accountText.c_str();
  LPBYTE buffer = nullptr;
  NET_API_STATUS read = g_NetApi.NetUserGetInfo == nullptr ? static_cast<NET_API_STATUS>(ERROR_PROC_NOT_FOUND)
                                                           : g_NetApi.NetUserGetInfo(nullptr, account, 3, &buffer);
  if (read != NERR_Success) {
    Tell(decision, RUN_FAILED, "account not read", read);
    return FALSE;
  }
  USER_INFO_3* info = reinterpret_cast<USER_INFO_3*>(buffer);
  // What the account held, untouched by the working copies below.
  std::string before = AnsiString(info->usri3_script_path);
  decision.before = before.c_str();
  decision.after = before.c_str();
  decision.read = TRUE;
  decision.flagsBefore = decision.flagsAfter = info->usri3_flags;

  char name[MAX_PATH];
  char scriptPath[MAX_PATH];
  char profile[MAX_PATH];
  std::memset(name, 0, sizeof name);
  std::memset(scriptPath, 0, sizeof scriptPath);
  std::memset(profile, 0, sizeof profile);
  BOOL nameFits = WideToAnsi(account, name, sizeof name);
  if (!nameFits || name[0] == '\0') {
    Tell(decision, RUN_FAILED, "account name not convertible");
    g_NetApi.NetApiBufferFree(buffer);
    return FALSE;
  }
  // Values longer than the working copies are refused, not cut: a cut path
  // would be written back to the account or into its wrapper batch.
  if (!WideToAnsi(info->usri3_profile, profile, sizeof profile) ||
      !WideToAnsi(info->usri3_script_path, scriptPath, sizeof scriptPath)) {
    _NCOvLogUtility::Warning("[ChangeScript]  UserName %s  profile or script path too long, not changed!", name);
    Tell(decision, RUN_FAILED, "profile or script path too long");
    g_NetApi.NetApiBufferFree(buffer);
    return FALSE;
  }
  size_t blanks = std::strspn(scriptPath, " ");
  if (blanks > 0) std::memmove(scriptPath, scriptPath + blanks, std::strlen(scriptPath + blanks) + 1);

  char newPath[MAX_PATH] = {};
  BOOL hasScript = FALSE;
  BOOL deleteWrapper = FALSE;
  char batchName[MAX_PATH] = {};  // removing: the file the account's path names
  const char* why = "";
  char wrapperName[MAX_PATH] = {};
  const char* wrapperPieces[] = {"Qel", name, ".bat", nullptr};
  JoinBounded(wrapperName, sizeof wrapperName, wrapperPieces);
  std::string wrapperText;
  if (install) {
    if ((info->usri3_flags & UF_SCRIPT) == 0) {
      std::strcpy(newPath, m_szBatchName);
      why = "logon script not enabled: set to the shared batch";
    } else if (BelongsToProduct(scriptPath)) {
      Tell(decision, RUN_UNCHANGED, "already on the product's script");
      g_NetApi.NetApiBufferFree(buffer);
      return TRUE;
    } else if (scriptPath[0] == '\0') {
      std::strcpy(newPath, m_szBatchName);
      why = "no logon script: set to the shared batch";
    } else {
      hasScript = TRUE;
      const char* pieces[] = {"Qel", name, ".bat", nullptr};
      // Without its wrapper batch the account would lose its own script:
      // it stays as it is and counts as failed.
      if (!JoinBounded(newPath, sizeof newPath, pieces) || !WriteUserBatch(name, profile, scriptPath)) {
        _NCOvLogUtility::Warning("[ChangeScript]  UserName %s  wrapper batch not written, not changed!", name);
        Tell(decision, RUN_FAILED, "wrapper batch not written", QelGetLastError());
        g_NetApi.NetApiBufferFree(buffer);
        return FALSE;
      }
      decision.fileAction = FILE_WRITTEN;
      decision.file = wrapperName;
      why = "own script chained through its wrapper batch";
    }
  } else {
    if (!BelongsToProduct(scriptPath)) {
      Tell(decision, RUN_UNCHANGED, "not the product's script");
      g_NetApi.NetApiBufferFree(buffer);
      return TRUE;
    }
    // Only what this program wrote is cleared or restored: the shared batch;
    // a wrapper batch of ours, whichever account it was written for (an
    // account renamed since still names its old one); or the account's own
    // wrapper name with no file behind it. Any other "Qel..." script is the
    // administrator's own.
    std::strcpy(batchName, scriptPath);
    char ownWrapper[MAX_PATH];
    const char* ownPieces[] = {"Qel", name, ".bat", nullptr};
    BOOL isOwnName = JoinBounded(ownWrapper, sizeof ownWrapper, ownPieces) && SameName(batchName, ownWrapper);
    BOOL isShared = SameName(batchName, m_szBatchName);
    BOOL isWrapper = FALSE;
    BOOL scriptFound = FALSE;
    BOOL isProducts = isShared;
    if (!isShared && IsPlainFileName(batchName)) {
      if (ReadBatchFile(batchName, profile, scriptPath, &scriptFound, &isWrapper)) {
        isProducts = isWrapper;
      } else if (QelGetLastError() == static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) {
        isProducts = isOwnName;
      } else {
        // A wrapper that is there but cannot be read, or a scripts folder
        // that cannot be looked into, may still hold the account's own
        // script: nothing is changed.
        DWORD error = QelGetLastError();
        _NCOvLogUtility::Warning("[ChangeScript]  UserName %s  wrapper batch %s not readable(%u), not changed!", name,
                                 batchName, static_cast<unsigned>(error));
        Tell(decision, RUN_FAILED, "wrapper batch not readable", error);
        g_NetApi.NetApiBufferFree(buffer);
        return FALSE;
      }
    }
    if (!isProducts) {
      _NCOvLogUtility::Warning("[ChangeScript]  UserName %s  script %s is not the product's, not changed!", name,
                               batchName);
      Tell(decision, RUN_UNCHANGED, "not the product's own script: left alone");
      g_NetApi.NetApiBufferFree(buffer);
      return TRUE;
    }
    if ((info->usri3_flags & UF_SCRIPT) == 0) {
      why = "logon script not enabled: cleared";
    } else if (!isWrapper) {
      // new path empty: the shared batch, or no wrapper behind the path
      why = isShared ? "on the shared batch: cleared" : "no wrapper batch: cleared";
    } else if (!scriptFound) {
      // A wrapper without its script record names nothing to restore; it is
      // left in place for the administrator.
      why = "wrapper record missing: cleared";
    } else if (scriptPath[0] != '\0') {
      std::strcpy(newPath, scriptPath);
      hasScript = TRUE;
      deleteWrapper = TRUE;
      why = "own script restored from its wrapper batch";
    } else {
      deleteWrapper = TRUE;
      why = "wrapper batch records no script: cleared";
    }
    // The record keeps a deleted wrapper's text, so that the removal can be
    // undone.
    if (deleteWrapper) wrapperText.swap(m_strLastUserBatch);
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
    Tell(decision, RUN_FAILED, "script path not convertible");
    g_NetApi.NetApiBufferFree(buffer);
    return FALSE;
  }
  LPWSTR ownScriptPath = info->usri3_script_path;
  info->usri3_script_path = newPathWide;
  if (!install && newPath[0] == '\0') _NCOvLogUtility::Warning("[ChangeScript]  UserName %s  Clear path name!", name);

  BeforeWrite();
  NET_API_STATUS written = g_NetApi.NetUserSetInfo(nullptr, account, 3, buffer, nullptr);
  BOOL changed = written == NERR_Success;
  DWORD flagsWritten = info->usri3_flags;
  info->usri3_script_path = ownScriptPath;
  g_NetApi.NetApiBufferFree(buffer);

  // The wrapper batch goes only once the account no longer names it and
  // that write has lasted: after a failed write it still holds the account's
  // own script.
  BOOL wrapperDeleted = AfterWrite(changed, deleteWrapper ? batchName : nullptr, name);
  if (changed) {
    decision.after = newPath;
    decision.flagsAfter = flagsWritten;
    if (wrapperDeleted) {
      decision.fileAction = FILE_DELETED;
      decision.file = batchName;
      decision.fileText = wrapperText.c_str();
    }
    Tell(decision, RUN_CHANGED, why);
  } else {
    Tell(decision, RUN_FAILED, "account not written", written);
  }
  return changed;
}

BOOL CScriptDeployer::IsScriptedUser(const wchar_t* account) {
  NET_API_STATUS status = NERR_Success;
  return ScriptState(account, &status) > 0;
}

int CScriptDeployer::ScriptState(const wchar_t* account, NET_API_STATUS* status) {
  LPBYTE buffer = nullptr;
  *status = g_NetApi.NetUserGetInfo != nullptr ? g_NetApi.NetUserGetInfo(nullptr, account, 3, &buffer)
                                               : static_cast<NET_API_STATUS>(ERROR_PROC_NOT_FOUND);
  if (*status != NERR_Success) return -1;
  USER_INFO_3* info = reinterpret_cast<USER_INFO_3*>(buffer);
  char scriptPath[MAX_PATH] = {};
  BOOL scripted = WideToAnsi(info->usri3_script_path, scriptPath, sizeof scriptPath) && BelongsToProduct(scriptPath);
  g_NetApi.NetApiBufferFree(buffer);
  return scripted ? 1 : 0;
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
            m_pwszRowDN = ColumnString(dn);
            if (IsScriptedUser(logonName) != install) {
              ReportText(install ? PROGRESS_SET_SCRIPT : PROGRESS_REMOVE_SCRIPT, displayName);
              Count(ChangeScript(logonName, install), &m_nTotal, &m_nSucceeded);
            } else if (m_pObserver != nullptr) {
              AccountDecision skipped;
              std::string name = AnsiString(logonName);
              skipped.account = name.c_str();
              Tell(skipped, RUN_SKIPPED, install ? "already on the product's script" : "not the product's script");
            }
            m_pwszRowDN = nullptr;
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
