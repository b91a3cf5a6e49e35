// The deployment engine: one object per run of the wizard's work.
//
// The progress page's worker thread makes one engine, calls Init, the two
// setters and ChangeAllScript, and destroys it. The engine stages the
// product's files in this controller's NETLOGON scripts folder, points the
// selected accounts' logon scripts at the product's batches (or restores
// them), and reports every step to its progress receiver.
#pragma once

#include <string>
#include <vector>

#include "deploy/progress.h"
#include "deploy/run_observer.h"
#include "directory/user_node.h"
#include "platform/netapi_types.h"
#include "platform/ports.h"

namespace qel {

// Finds the local folder behind the "NetLogon" share from the Netlogon
// service's parameters ("Scripts", else the domain's sub-folder of "SysVol"),
// expanding a leading %SystemRoot% with windowsDir. folder receives at most
// size - 1 characters; a folder that does not fit is refused (FALSE).
BOOL FindScriptsFolder(const char* windowsDir, char* folder, size_t size = MAX_PATH);

// DeleteFileA that also takes read-only files; a missing file counts as deleted.
BOOL DeleteFileForce(const char* path);

// The progress routine handed to CopyFileExA; data is the engine.
DWORD CALLBACK CopyProgress(LARGE_INTEGER totalFileSize, LARGE_INTEGER totalBytesTransferred,
                            LARGE_INTEGER streamSize, LARGE_INTEGER streamBytesTransferred, DWORD streamNumber,
                            DWORD callbackReason, HANDLE sourceFile, HANDLE destinationFile, LPVOID data);

class CScriptDeployer {
 public:
  CScriptDeployer();
  virtual ~CScriptDeployer();
  CScriptDeployer(const CScriptDeployer&) = delete;
  CScriptDeployer& operator=(const CScriptDeployer&) = delete;

  // Learns this controller (computer name, Windows folder, module folder,
  // scripts folder, whether QelInstall.bat is staged), checks that the
  // domain's accounts can be read and resolves CopyFileExA. FALSE when a step
  // fails; the fields of the earlier steps stay filled.
  BOOL Init(IProgressReceiver* page, HANDLE stopEvent, HANDLE pauseEvent);
  // Where the run's message boxes go (copy and delete errors). Without a
  // sink the messages are dropped.
  void SetMessageSink(IMessageSink* sink) { m_pMessages = sink; }
  // Who hears each account's and each staged file's outcome (the run
  // record, the what-if listing). Without one nothing is told.
  void SetObserver(IRunObserver* observer) { m_pObserver = observer; }

  // 1 to 99 characters; otherwise FALSE and the old value stays.
  BOOL SetCenterIP(const char* centerIP);
  // At most 259 characters; otherwise (or null) FALSE and the old value stays.
  BOOL SetPackagePath(const char* packagePath);

  // CopyFileExA with progress reports and the stop check; a failed copy is
  // tried once more after the destination's attributes were reset.
  BOOL CopyWithProgress(const char* source, const char* destination);
  // TRUE once the user has stopped the run. Holds while the run is paused.
  BOOL IsCancelled();

  // Batch files in the scripts folder.
  BOOL WriteInstallBatch();
  BOOL WriteUserBatch(const char* account, const char* profile, const char* scriptPath);
  // Reads the wrapper batch of account back into the two 260-byte buffers;
  // a record missing from the file leaves its buffer as it was, and
  // *scriptFound (when given) says whether the script record was there.
  // The file is left in place: the caller deletes it (DeleteUserBatch) once
  // the account no longer needs it. FALSE with ERROR_FILE_NOT_FOUND when
  // there is no wrapper, FALSE with another code when it cannot be read.
  BOOL ReadUserBatch(const char* account, char* profile, char* scriptPath, BOOL* scriptFound = nullptr);
  BOOL DeleteUserBatch(const char* account);
  // The same for the batch fileName of the scripts folder, whatever its
  // name. ERROR_FILE_NOT_FOUND only when the folder itself is there.
  // *isWrapper (when given) tells whether the file carries the comment lines
  // of a wrapper batch written by this program.
  BOOL ReadBatchFile(const char* fileName, char* profile, char* scriptPath, BOOL* scriptFound = nullptr,
                     BOOL* isWrapper = nullptr);
  BOOL DeleteBatchFile(const char* fileName);

  // One account: set, keep or restore its logon script.
  BOOL ChangeScript(const wchar_t* account, BOOL install);
  // The account's logon script belongs to the product ("Qel..." in any case).
  BOOL IsScriptedUser(const wchar_t* account);
  // Every person account below a directory container.
  HRESULT ChangeContainer(const wchar_t* container, BOOL install);
  // The administrator's selection, from node on along pNext.
  BOOL ChangeNodeList(USER_NODE* node, BOOL install);

  // One whole run. FALSE when staging failed and the run ended early.
  BOOL ChangeAllScript(HWND owner, BOOL install);
  // Some account of the domain still runs one of the product's batches.
  BOOL AnyScriptedUser();

  // CopyProgress's work: the stop check and the percent report.
  DWORD OnCopyProgress(LONGLONG totalFileSize, LONGLONG totalBytesTransferred);

  // The run's state, read by the caller and the tests.
  IProgressReceiver* m_pPage;
  int m_nTotal;
  BOOL ScriptExist;
  char m_szComputerName[100];
  char m_szWindowsDir[100];
  char m_szShareName[100];
  char m_szModuleDir[200];
  char m_szScriptsDir[200];
  char m_szBatchName[30];
  wchar_t m_wszBatchName[30];
  char m_szCenterIP[100];
  char m_szPackagePath[260];
  HANDLE m_hStopEvent;
  HANDLE m_hPauseEvent;
  int m_nSucceeded;
  PFN_CopyFileExA m_pfnCopyFileEx;
  HMODULE m_hKernel;

 private:
  void Report(int kind, LONG_PTR value);
  void ReportText(int kind, const char* text) { Report(kind, reinterpret_cast<LONG_PTR>(text)); }
  void ShowMessage(const char* path, UINT suffixId, const char* caption);
  BOOL StageFiles(const char* caption);
  void CleanUp(const char* caption);
  // Deletes the wrapper batches of this program left in the scripts folder.
  void DeleteLeftoverWrappers(const char* caption);
  // Ends a run that changes nothing: the reason goes to the receiver.
  void ReportRefusal(const char* text);
  // 0 while the scripts folder exists as a folder, else why not.
  DWORD ScriptsFolderError();
  // 1 when the account's script path begins with "Qel", 0 when not, -1 when
  // the account cannot be read (*status then says why).
  int ScriptState(const wchar_t* account, NET_API_STATUS* status);
  // Composes scripts folder + "\Qel" + account + ".bat" into a 200-byte
  // buffer; FALSE when it does not fit.
  BOOL UserBatchPath(const char* account, char* path, size_t size);
  // Scripts folder + "\" + fileName, the same way.
  BOOL BatchFilePath(const char* fileName, char* path, size_t size);

  // Writes grouped into the account store's transactions, where it has
  // them (write_group.cpp). A write of an open group has not lasted until
  // the group ends: it counts as succeeded only while the group can still
  // commit, and the wrapper batches it frees are deleted after the commit.
  void ExpectSelectedAccounts(const USER_NODE* node, std::vector<std::wstring>* names);
  void BeginWrites();     // a run's account writes begin: groups where the store can
  void BeforeWrite();     // opens a group, or ends a full one first
  // TRUE when the freed wrapper was deleted, or is held to be deleted once
  // its group commits.
  BOOL AfterWrite(BOOL written, const char* freedWrapper, const char* account);
  void EndWriteGroup();   // the open group, if any, commits (or is undone)
  void EndWrites();
  BOOL m_bGroupWrites = FALSE;       // between BeginWrites and EndWrites, the store groups writes
  IAccountStore* m_pGroupStore = nullptr;  // the store of the open group
  DWORD m_dwGroupLimit = 0;
  DWORD m_dwHeldWrites = 0;
  int m_nHeldSucceeded = 0;
  std::vector<std::string> m_heldWrappers;

  IMessageSink* m_pMessages;
  IRunObserver* m_pObserver = nullptr;
  // The distinguished name of the container row being changed, if any.
  const wchar_t* m_pwszRowDN = nullptr;
  // The text ReadUserBatch read last (line breaks as LF), kept while an
  // observer listens: the record keeps a deleted wrapper's text.
  std::string m_strLastUserBatch;
  void Tell(AccountDecision& decision, int result, const char* reason, DWORD error = 0);
  void TellFile(const char* path, int action, BOOL existed, BOOL done, const char* reason);
  // Set once IsCancelled has seen the stop: the stop event is auto-reset and
  // the pause event stays reset, so a second wait would never end.
  BOOL m_bStopped;
};

}  // namespace qel
