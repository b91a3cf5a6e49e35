// One whole run: staging, the accounts, the clean-up and the result line.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "deploy/script_deployer.h"
#include "deploy/text_util.h"
#include "log/log_utility.h"
#include "res/resource.h"
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

bool Exists(const char* path) { return Files().GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

void CScriptDeployer::TellFile(const char* path, int action, BOOL existed, BOOL done, const char* reason) {
  if (m_pObserver == nullptr) return;
  FileDecision decision;
  decision.path = path;
  decision.action = action;
  decision.existed = existed;
  decision.result = done ? RUN_CHANGED : RUN_FAILED;
  decision.error = done ? 0 : QelGetLastError();
  decision.reason = reason;
  m_pObserver->OnFile(decision);
}

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
  BOOL existed = Exists(destination);
  if (!CopyWithProgress(source, destination)) {
    TellFile(destination, FILE_WRITTEN, existed, FALSE, "copy failed");
    ShowMessage(destination, 106, caption);
    return FALSE;
  }
  TellFile(destination, FILE_WRITTEN, existed, TRUE, "copied");

  const char* packageDestination[] = {m_szScriptsDir, "\\QelSetup.exe", nullptr};
  JoinBounded(destination, sizeof destination, packageDestination);
  ReportText(PROGRESS_COPY_FILE, destination);
  existed = Exists(destination);
  if (!CopyWithProgress(m_szPackagePath, destination)) {
    TellFile(destination, FILE_WRITTEN, existed, FALSE, "copy failed");
    ShowMessage(destination, 106, caption);
    return FALSE;
  }
  TellFile(destination, FILE_WRITTEN, existed, TRUE, "copied");

  // A batch or settings file that is not written completely ends the run
  // like a failed copy: clients would run a cut batch, or start the
  // installer without a center address.
  const char* batchPieces[] = {m_szScriptsDir, "\\", m_szBatchName, nullptr};
  JoinBounded(destination, sizeof destination, batchPieces);
  existed = Exists(destination);
  if (!WriteInstallBatch()) {
    _NCOvLogUtility::Warning("[ChangeAllScript]  %s not written(%u)!", destination,
                             static_cast<unsigned>(QelGetLastError()));
    TellFile(destination, FILE_WRITTEN, existed, FALSE, "install batch not written");
    ShowMessage(destination, IDS_WRITE_ERROR, caption);
    return FALSE;
  }
  TellFile(destination, FILE_WRITTEN, existed, TRUE, "install batch written");

  char iniPath[MAX_PATH];
  const char* iniPieces[] = {m_szScriptsDir, "\\SetupSet.ini", nullptr};
  JoinBounded(iniPath, sizeof iniPath, iniPieces);
  // A read-only settings file is written once more after its attributes
  // were reset, as a copy is.
  existed = Exists(iniPath);
  if (!Files().WritePrivateProfileStringA("DEFAULT", "CENTERIP", m_szCenterIP, iniPath) &&
      (!Files().SetFileAttributesA(iniPath, FILE_ATTRIBUTE_ARCHIVE) ||
       !Files().WritePrivateProfileStringA("DEFAULT", "CENTERIP", m_szCenterIP, iniPath))) {
    _NCOvLogUtility::Warning("[ChangeAllScript]  %s not written(%u)!", iniPath,
                             static_cast<unsigned>(QelGetLastError()));
    TellFile(iniPath, FILE_WRITTEN, existed, FALSE, "settings not written");
    ShowMessage(iniPath, IDS_WRITE_ERROR, caption);
    return FALSE;
  }
  TellFile(iniPath, FILE_WRITTEN, existed, TRUE, "center address written");
  _NCOvLogUtility::Warning("SetupSet.ini Created with CenterIP %s!", m_szCenterIP);
  return TRUE;
}

void CScriptDeployer::CleanUp(const char* caption) {
  _NCOvLogUtility::Warning("[ChangeAllScript]  UnInstall Script when Auto Delete is checked!");
  _NCOvLogUtility::Warning("[ChangeAllScript]    Check whether scripted user exist? ");
  if (AnyScriptedUser()) {
    _NCOvLogUtility::Warning("[ChangeAllScript]    Scripted user exist, no remove file!");
    FileDecision kept;
    kept.path = m_szScriptsDir;
    kept.action = FILE_KEPT;
    kept.result = RUN_SKIPPED;
    kept.reason = "an account still runs the product's script: files kept";
    if (m_pObserver != nullptr) m_pObserver->OnFile(kept);
    return;
  }
  _NCOvLogUtility::Warning("[ChangeAllScript]    Scripted user not exist, Delete Files!");
  ReportText(PROGRESS_DELETE_FILE, nullptr);
  for (const char* name : kStagedFiles) {
    char path[MAX_PATH];
    const char* pieces[] = {m_szScriptsDir, name, nullptr};
    JoinBounded(path, sizeof path, pieces);
    ReportText(PROGRESS_DELETE_FILE, path);
    BOOL existed = Exists(path);
    BOOL deleted = DeleteFileForce(path);
    const char* outcome = deleted ? (existed ? "deleted" : "already missing") : "delete failed";
    TellFile(path, FILE_DELETED, existed, deleted, outcome);
    if (!deleted) ShowMessage(path, 107, caption);
  }
  DeleteLeftoverWrappers(caption);
}

// A run killed between a wrapper's write and its account's write leaves a
// wrapper that no account names. Once no account runs the product's batches
// at all, every wrapper of ours in the folder is such a leftover.
void CScriptDeployer::DeleteLeftoverWrappers(const char* caption) {
  char pattern[MAX_PATH];
  const char* patternPieces[] = {m_szScriptsDir, "\\Qel*.bat", nullptr};
  if (!JoinBounded(pattern, sizeof pattern, patternPieces)) return;
  std::vector<std::string> wrappers;
  WIN32_FIND_DATAA found;
  HANDLE find = Files().FindFirstFileA(pattern, &found);
  if (find == INVALID_HANDLE_VALUE) {
    DWORD error = QelGetLastError();
    if (error != static_cast<DWORD>(ERROR_FILE_NOT_FOUND) && error != static_cast<DWORD>(ERROR_NO_MORE_FILES))
      _NCOvLogUtility::Warning("[ChangeAllScript]    Wrapper batches not listed(%u)!", static_cast<unsigned>(error));
    return;
  }
  do {
    // Only what carries a wrapper's comment lines; the shared batch went
    // with the staged files, and an administrator's own "Qel..." batch stays.
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
    char profile[MAX_PATH] = {};
    char script[MAX_PATH] = {};
    BOOL isWrapper = FALSE;
    if (ReadBatchFile(found.cFileName, profile, script, nullptr, &isWrapper) && isWrapper)
      wrappers.push_back(found.cFileName);
  } while (Files().FindNextFileA(find, &found));
  Files().FindClose(find);
  for (const std::string& name : wrappers) {
    char path[MAX_PATH];
    const char* pieces[] = {m_szScriptsDir, "\\", name.c_str(), nullptr};
    if (!JoinBounded(path, sizeof path, pieces)) continue;
    ReportText(PROGRESS_DELETE_FILE, path);
    BOOL deleted = DeleteFileForce(path);
    TellFile(path, FILE_DELETED, TRUE, deleted, deleted ? "leftover wrapper deleted" : "delete failed");
    if (!deleted) ShowMessage(path, 107, caption);
  }
}

void CScriptDeployer::ReportRefusal(const char* text) {
  _NCOvLogUtility::Warning("[ChangeAllScript]  %s", text);
  ReportText(PROGRESS_FAILED, text);
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
    char text[512] = {};
    LoadResString(IDS_SCRIPTS_FOLDER_UNKNOWN, text, sizeof text);
    ReportRefusal(text);
    return FALSE;
  }
  // A folder that is gone (a SysVol being restored, a wrong "Scripts" value)
  // would look like a folder without wrappers, and removal would clear every
  // account's own script: no account is touched.
  DWORD folderError = ScriptsFolderError();
  if (folderError != 0) {
    char format[512] = {};
    LoadResString(IDS_SCRIPTS_FOLDER_MISSING, format, sizeof format);
    char text[sizeof format + sizeof m_szScriptsDir + 16];
    std::snprintf(text, sizeof text, format, m_szScriptsDir, static_cast<unsigned>(folderError));
    ReportRefusal(text);
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
      // Computer accounts end in "$" and never run a logon script. An
      // account that cannot be read may still run one: the files stay.
      NET_API_STATUS readStatus = NERR_Success;
      if (WideToAnsi(users[i].usri1_name, name, sizeof name) && name[0] != '\0' &&
          name[std::strlen(name) - 1] != '$' && ScriptState(users[i].usri1_name, &readStatus) != 0) {
        if (readStatus != NERR_Success)
          _NCOvLogUtility::Warning("[AnyScriptedUser]  Account %s not readable(%u), files kept!", name,
                                   static_cast<unsigned>(readStatus));
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
