// One whole run: staging, the accounts, the clean-up and the result line.
#include <cstdio>
#include <cstring>

#include "deploy/script_deployer.h"
#include "deploy/text_util.h"
#include "log/log_utility.h"
#include "platform/account_store.h"
#include "res/string_table.h"
#include "wizard/netapi_entry.h"
#include "wizard/wizard_state.h"

namespace qel {

namespace {

// The staged files, in the order the clean-up deletes them.
const char* const kStagedFiles[] = {"\\QelCheck.exe", "\\QelSetup.exe", "\\QelInstall.bat", "\\SetupSet.ini"};

// How many accounts and containers of the chain stand for themselves: a
// selected node counts one, an unselected container what is selected below it.
int CountSelected(const USER_NODE* node) {
  int count = 0;
  for (; node != nullptr; node = node->pNext) {
    if (node->bSelected)
      ++count;
    else if (node->nType != UserType)
      count += CountSelected(node->pChild);
  }
  return count;
}

}  // namespace

BOOL CScriptDeployer::StageFiles(const char* caption) {
  _NCOvLogUtility::Warning("[ChangeAllScript]  Install Script when Files not Created!");
  ReportText(PROGRESS_COPY_FILE, nullptr);

  char source[MAX_PATH];
  char destination[MAX_PATH];
  const char* checkerSource[] = {m_szModuleDir, "\\QelCheck.exe", nullptr};
  const char* checkerDestination[] = {m_szScriptsDir, "\\QelCheck.exe", nullptr};
  JoinBounded(source, sizeof source, checkerSource);            // 199 + 13 always fits
  JoinBounded(destination, sizeof destination, checkerDestination);
  ReportText(PROGRESS_COPY_FILE, destination);
  if (!CopyWithProgress(source, destination)) {
    ShowMessage(destination, 106, caption);
    return FALSE;
  }

  const char* packageDestination[] = {m_szScriptsDir, "\\QelSetup.exe", nullptr};
  JoinBounded(destination, sizeof destination, packageDestination);
  ReportText(PROGRESS_COPY_FILE, destination);
  if (!CopyWithProgress(m_szPackagePath, destination)) {
    ShowMessage(destination, 106, caption);
    return FALSE;
  }

  if (!WriteInstallBatch()) return FALSE;

  char iniPath[MAX_PATH];
  const char* iniPieces[] = {m_szScriptsDir, "\\SetupSet.ini", nullptr};
  JoinBounded(iniPath, sizeof iniPath, iniPieces);
  Files().WritePrivateProfileStringA("DEFAULT", "CENTERIP", m_szCenterIP, iniPath);
  _NCOvLogUtility::Warning("SetupSet.ini Created with CenterIP %s!", m_szCenterIP);
  return TRUE;
}

void CScriptDeployer::CleanUp(const char* caption) {
  _NCOvLogUtility::Warning("[ChangeAllScript]  UnInstall Script when Auto Delete is checked!");
  _NCOvLogUtility::Warning("[ChangeAllScript]    Check whether scripted user exist? ");
  if (AnyScriptedUser()) {
    _NCOvLogUtility::Warning("[ChangeAllScript]    Scripted user exist, no remove file!");
    return;
  }
  _NCOvLogUtility::Warning("[ChangeAllScript]    Scripted user not exist, Delete Files!");
  ReportText(PROGRESS_DELETE_FILE, nullptr);
  for (const char* name : kStagedFiles) {
    char path[MAX_PATH];
    const char* pieces[] = {m_szScriptsDir, name, nullptr};
    JoinBounded(path, sizeof path, pieces);
    ReportText(PROGRESS_DELETE_FILE, path);
    if (!DeleteFileForce(path)) ShowMessage(path, 107, caption);
  }
}

BOOL CScriptDeployer::ChangeAllScript(HWND, BOOL install) {
  char caption[256] = {};
  LoadResString(103, caption, sizeof caption);
  Report(PROGRESS_SET_RANGE, 100);
  m_nSucceeded = 0;
  m_nTotal = 0;

  const WizardState& state = TheWizardState();
  _NCOvLogUtility::Warning(
      "[ChangeAllScript] Action Choice: Install?[%d]  ScriptExist[%d]  NoCopyWhenExist[%d] RemoveWhenExist[%d]",
      install, ScriptExist, state.NoCopyWhenExist, state.RemoveWhenExist);

  // Without its scripts folder (Init failed before it was found) the run
  // would stage files and look for wrappers in the current drive's root.
  if (m_szScriptsDir[0] == '\0' || m_szBatchName[0] == '\0') {
    _NCOvLogUtility::Warning("[ChangeAllScript]  Scripts folder unknown, nothing done!");
    return FALSE;
  }
  AnsiToWide(m_szBatchName, m_wszBatchName, sizeof m_wszBatchName / sizeof m_wszBatchName[0]);

  if (install && !(ScriptExist && state.NoCopyWhenExist)) {
    if (!StageFiles(caption)) return FALSE;
  }

  USER_NODE* first = g_UserNodeHead.pNext;
  if (CountSelected(first) > 0) {
    ReportText(install ? PROGRESS_SET_SCRIPT : PROGRESS_REMOVE_SCRIPT, nullptr);
    _NCOvLogUtility::Warning("   [ChangeAllScript] Change Script for each selected user! Install?[%d]", install);
    if (Ports().accounts != nullptr) {
      std::vector<std::wstring> names;
      ExpectSelectedAccounts(first, &names);
      Ports().accounts->ExpectAccounts(names);
    }
    BeginWrites();
    ChangeNodeList(first, install);
    EndWrites();
  }

  if (!install && ScriptExist && state.RemoveWhenExist) CleanUp(caption);

  char format[256] = {};
  LoadResString(135, format, sizeof format);
  char result[sizeof format + 32];
  std::snprintf(result, sizeof result, format, m_nTotal, m_nSucceeded);
  ReportText(PROGRESS_DONE, result);
  return TRUE;
}

// Answers whether the staged files may still be needed. A listing that cannot
// be read to its end proves nothing, so it counts as "an account may still run
// the product's batches": the clean-up then keeps the files instead of
// deleting what accounts still call.
BOOL CScriptDeployer::AnyScriptedUser() {
  if (g_NetApi.NetQueryDisplayInformation == nullptr || g_NetApi.NetApiBufferFree == nullptr) {
    _NCOvLogUtility::Warning("[AnyScriptedUser]  Account listing unavailable, files kept!");
    return TRUE;
  }
  DWORD index = 0;
  for (;;) {
    DWORD returned = 0;
    PVOID buffer = nullptr;
    NET_API_STATUS status =
        g_NetApi.NetQueryDisplayInformation(nullptr, 1, index, 1000, MAX_PREFERRED_LENGTH, &returned, &buffer);
    if (status != NERR_Success && status != static_cast<NET_API_STATUS>(ERROR_MORE_DATA)) {
      if (buffer != nullptr) g_NetApi.NetApiBufferFree(buffer);
      _NCOvLogUtility::Warning("[AnyScriptedUser]  NetQueryDisplayInformation failed(%u), files kept!",
                               static_cast<unsigned>(status));
      return TRUE;
    }
    const NET_DISPLAY_USER* users = static_cast<const NET_DISPLAY_USER*>(buffer);
    for (DWORD i = 0; users != nullptr && i < returned; ++i) {
      char name[100];
      // Computer accounts end in "$" and never run a logon script.
      if (WideToAnsi(users[i].usri1_name, name, sizeof name) && name[0] != '\0' &&
          name[std::strlen(name) - 1] != '$' && IsScriptedUser(users[i].usri1_name)) {
        g_NetApi.NetApiBufferFree(buffer);
        return TRUE;
      }
      index = users[i].usri1_next_index;
    }
    if (buffer != nullptr) g_NetApi.NetApiBufferFree(buffer);
    if (status != static_cast<NET_API_STATUS>(ERROR_MORE_DATA)) return FALSE;
    // A continuing listing that returned nothing would never move on.
    if (returned == 0) {
      _NCOvLogUtility::Warning("[AnyScriptedUser]  Account listing stopped early, files kept!");
      return TRUE;
    }
  }
}

}  // namespace qel
