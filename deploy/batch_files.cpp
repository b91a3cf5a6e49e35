// The batch files of the NETLOGON folder: the shared install batch and the
// per-user wrapper batch that chains an account's own script.
//
// Both are composed with LF line breaks and written through a text-mode
// stream, so they reach the disk with CR LF, as the logon process expects.
#include <cstring>

#include "deploy/script_deployer.h"
#include "deploy/text_util.h"
#include "log/log_utility.h"

namespace qel {

namespace {

// A batch text, terminator included, must fit this buffer.
const size_t kBatchTextSize = 1024;
// The full path of a wrapper batch must fit this buffer.
const size_t kBatchNameSize = 200;

const char kProfileKey[] = "szProfile = ";
const char kScriptKey[] = "szScriptPath = ";
// The comment lines every wrapper batch of this program carries, by which a
// batch in the scripts folder is known as one of ours.
const char kWrapperComment[] =
    "REM Please don't Change this batch file.\n"
    "REM otherwise, maybe can't restore script file !\n";
// Characters that cmd takes as the end of a command or as an operator of its
// own: a CALL target holding one of them must be quoted.
const char kNeedsQuotes[] = " &|<>^()";

bool HasLineBreak(const char* text) { return std::strpbrk(text, "\r\n") != nullptr; }

// A recorded value holding a control character (a CR left by a doubled line
// end, a TAB, ...) names no script that can exist: it is not restored.
bool HasControlCharacter(const char* text) {
  for (const unsigned char* c = reinterpret_cast<const unsigned char*>(text); *c != '\0'; ++c)
    if (*c < 0x20 || *c == 0x7F) return true;
  return false;
}

// A text that is not written and closed completely (a full disk) is a
// failure: a cut batch would run half its commands at every logon.
BOOL WriteText(const char* path, const char* text) {
  IFileStream* stream = Files().OpenStream(path, "w+");
  if (stream == nullptr) return FALSE;
  size_t written = stream->Write(text, std::strlen(text), 1);
  int closed = stream->Close();
  if (written == 1 && closed == 0) return TRUE;
  if (QelGetLastError() == 0) QelSetLastError(ERROR_WRITE_FAULT);
  return FALSE;
}

// Clears a read-only attribute so that the file can be rewritten or deleted.
// Returns the attributes as found (INVALID_FILE_ATTRIBUTES when missing).
DWORD MakeWritable(const char* path) {
  DWORD attributes = Files().GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
    Files().SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
  return attributes;
}

// The value after key up to the next line break. 0 when the key or its line
// break is missing, -1 when the value does not fit size, else 1.
int FindRecord(const char* text, const char* key, char* value, size_t size) {
  const char* start = std::strstr(text, key);
  if (start == nullptr) return 0;
  start += std::strlen(key);
  const char* end = std::strchr(start, '\n');
  if (end == nullptr) return 0;
  size_t length = static_cast<size_t>(end - start);
  if (length >= size) return -1;
  std::memcpy(value, start, length);
  value[length] = '\0';
  return 1;
}

}  // namespace

BOOL CScriptDeployer::WriteInstallBatch() {
  char text[kBatchTextSize];
  const char* pieces[] = {"@ECHO OFF\n\n",
                          "REM Run QelInstall\n",
                          "ECHO.\nECHO Prepare to install Orvane QEL network edition, please wait...\n"
                          "ECHO Don't close this window,it will be closed automatically.\n",
                          "START /W \\\\",
                          m_szComputerName,
                          "\\",
                          m_szShareName,
                          "\\QelCheck.exe ",
                          "\\\\",
                          m_szComputerName,
                          "\\",
                          m_szShareName,
                          "\\QelSetup.exe\n",
                          nullptr};
  if (!JoinBounded(text, sizeof text, pieces)) return FALSE;
  char path[MAX_PATH];
  const char* pathPieces[] = {m_szScriptsDir, "\\", m_szBatchName, nullptr};
  if (!JoinBounded(path, sizeof path, pathPieces)) return FALSE;
  MakeWritable(path);
  return WriteText(path, text);
}

BOOL CScriptDeployer::UserBatchPath(const char* account, char* path, size_t size) {
  const char* pieces[] = {m_szScriptsDir, "\\Qel", account, ".bat", nullptr};
  return JoinBounded(path, size, pieces);
}

BOOL CScriptDeployer::BatchFilePath(const char* fileName, char* path, size_t size) {
  const char* pieces[] = {m_szScriptsDir, "\\", fileName, nullptr};
  return JoinBounded(path, size, pieces);
}

BOOL CScriptDeployer::WriteUserBatch(const char* account, const char* profile, const char* scriptPath) {
  // A line break inside a value would end its record early and put the rest
  // on a line of its own, where the logon process would run it; any other
  // control character makes a record the reader refuses, so the account
  // could not get its script back.
  if (HasLineBreak(account) || HasControlCharacter(profile) || HasControlCharacter(scriptPath)) return FALSE;
  // The reader takes the first "szScriptPath = " of the file: a profile
  // holding it would be read back as the script.
  if (std::strstr(profile, kScriptKey) != nullptr) return FALSE;
  // A value longer than an account's field would not be read back whole.
  if (std::strlen(profile) >= MAX_PATH || std::strlen(scriptPath) >= MAX_PATH) return FALSE;
  // "sub\run me.cmd" unquoted would run "sub\run" with "me.cmd" as its
  // argument. The record keeps the path as it was, so readers of older
  // wrappers read it back the same.
  const char* quote = std::strpbrk(scriptPath, kNeedsQuotes) != nullptr ? "\"" : "";
  char text[kBatchTextSize];
  const char* pieces[] = {"@ECHO OFF\n\n",
                          "REM Please don't Change this batch file.\n",
                          "REM otherwise, maybe can't restore script file !\n\n",
                          "REM ",
                          kProfileKey,
                          profile,
                          "\n",
                          "REM ",
                          kScriptKey,
                          scriptPath,
                          "\n\n",
                          "CALL ",
                          quote,
                          "\\\\",
                          m_szComputerName,
                          "\\",
                          m_szShareName,
                          "\\",
                          scriptPath,
                          quote,
                          "\n",
                          "CALL \\\\",
                          m_szComputerName,
                          "\\",
                          m_szShareName,
                          "\\QelInstall.bat\n",
                          nullptr};
  // Too long for the buffer: refused whole rather than cut inside a record.
  if (!JoinBounded(text, sizeof text, pieces)) return FALSE;
  char path[kBatchNameSize];
  if (!UserBatchPath(account, path, sizeof path)) return FALSE;
  MakeWritable(path);
  return WriteText(path, text);
}

BOOL CScriptDeployer::ReadUserBatch(const char* account, char* profile, char* scriptPath, BOOL* scriptFound) {
  char name[kBatchNameSize];
  const char* pieces[] = {"Qel", account, ".bat", nullptr};
  if (!JoinBounded(name, sizeof name, pieces)) {
    if (scriptFound != nullptr) *scriptFound = FALSE;
    QelSetLastError(ERROR_FILENAME_EXCED_RANGE);
    return FALSE;
  }
  return ReadBatchFile(name, profile, scriptPath, scriptFound);
}

BOOL CScriptDeployer::ReadBatchFile(const char* fileName, char* profile, char* scriptPath, BOOL* scriptFound,
                                    BOOL* isWrapper) {
  if (scriptFound != nullptr) *scriptFound = FALSE;
  if (isWrapper != nullptr) *isWrapper = FALSE;
  char path[kBatchNameSize];
  if (!BatchFilePath(fileName, path, sizeof path)) {
    QelSetLastError(ERROR_FILENAME_EXCED_RANGE);
    return FALSE;
  }
  // "Not found" means no wrapper only while the folder itself is there: a
  // folder that is gone or refused proves nothing about the file.
  if (Files().GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) {
    DWORD error = QelGetLastError();
    if (error == static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) {
      DWORD folderError = ScriptsFolderError();
      if (folderError == static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) folderError = ERROR_PATH_NOT_FOUND;
      if (folderError != 0) error = folderError;
    } else if (error == 0) {
      error = ERROR_PATH_NOT_FOUND;
    }
    QelSetLastError(error);
    return FALSE;
  }
  IFileStream* stream = Files().OpenStream(path, "r");
  if (stream == nullptr) {
    if (QelGetLastError() == static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) QelSetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  // A file edited by hand may be longer than a batch this engine writes:
  // only its first kBatchTextSize bytes are looked at, and a record counts
  // only when its line ends inside them.
  char text[kBatchTextSize + 1] = {};
  size_t read = stream->Read(text, 1, kBatchTextSize);
  if (stream->Close() != 0) {
    QelSetLastError(ERROR_CANTWRITE);
    return FALSE;
  }
  if (m_pObserver != nullptr) m_strLastUserBatch.assign(text, read);
  char value[MAX_PATH];
  int script = FindRecord(text, kScriptKey, value, sizeof value);
  if (script < 0) {
    // The recorded script does not fit the account's field: not usable.
    QelSetLastError(ERROR_INVALID_DATA);
    return FALSE;
  }
  char profileValue[MAX_PATH];
  int profileFound = FindRecord(text, kProfileKey, profileValue, sizeof profileValue);
  if ((script > 0 && HasControlCharacter(value)) || (profileFound > 0 && HasControlCharacter(profileValue))) {
    _NCOvLogUtility::Warning("[ReadUserBatch]  %s: a record holds a control character, not restored!", path);
    QelSetLastError(ERROR_INVALID_DATA);
    return FALSE;
  }
  if (script > 0) {
    std::memcpy(scriptPath, value, std::strlen(value) + 1);
    if (scriptFound != nullptr) *scriptFound = TRUE;
  }
  if (profileFound > 0) std::memcpy(profile, profileValue, std::strlen(profileValue) + 1);
  if (isWrapper != nullptr) *isWrapper = std::strstr(text, kWrapperComment) != nullptr;
  return TRUE;
}

BOOL CScriptDeployer::DeleteUserBatch(const char* account) {
  char path[kBatchNameSize];
  if (!UserBatchPath(account, path, sizeof path)) return FALSE;
  return DeleteFileForce(path);
}

BOOL CScriptDeployer::DeleteBatchFile(const char* fileName) {
  char path[kBatchNameSize];
  if (!BatchFilePath(fileName, path, sizeof path)) return FALSE;
  return DeleteFileForce(path);
}

}  // namespace qel
