#include "check/qelcheck.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

namespace qel {

const char kCheckRunOnceKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const char kCheckProductKey[] = "Software\\Orvane\\Qel";
const char kCheckSetupMutex[] = "Orvane Setup";

namespace {

// vsnprintf into a fixed buffer; the result is always terminated. Returns
// false when the text did not fit (it is then cut). The Microsoft runtime
// returns -1 on overflow and leaves the buffer unterminated, C99 returns the
// full length: both mean "cut".
bool FormatV(char* buffer, size_t size, const char* format, va_list args) {
  int n = vsnprintf(buffer, size, format, args);
  buffer[size - 1] = 0;
  return n >= 0 && static_cast<size_t>(n) < size;
}

bool Format(char* buffer, size_t size, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

bool Format(char* buffer, size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  bool fits = FormatV(buffer, size, format, args);
  va_end(args);
  return fits;
}

// Offset of the last "\" in text, or -1. In a double-byte code page the
// trail byte of a character may be 0x5C; it is stepped over with its lead.
int FindLastBackslash(const char* text) {
  int last = -1;
  for (int i = 0; text[i] != 0;) {
    if (CodePage().IsDBCSLeadByte(static_cast<BYTE>(text[i])) && text[i + 1] != 0) {
      i += 2;
      continue;
    }
    if (text[i] == '\\') last = i;
    ++i;
  }
  return last;
}

// A value counts as present when it could be read, also when it is larger
// than the buffer: the RunOnce entries hold whole command lines.
bool ValuePresent(LONG result) { return result == ERROR_SUCCESS || result == ERROR_MORE_DATA; }

bool WriteAll(HANDLE file, const char* text) {
  DWORD written = 0;
  return Files().WriteFile(file, text, static_cast<DWORD>(strlen(text)), &written) != FALSE;
}

// Step 2: a pending set-up in RunOnce. Logs and returns true when the run stops.
bool PendingInRunOnce() {
  HKEY key = nullptr;
  if (Registry().RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCheckRunOnceKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return false;
  BYTE data[kCheckBufferSize];
  DWORD size = sizeof(data);
  if (ValuePresent(Registry().RegQueryValueExA(key, "QelSetup", nullptr, data, &size))) {
    Registry().RegCloseKey(key);
    CheckLog("QelCheck: has QelSetup in RunOnce, quit!");
    return true;
  }
  size = sizeof(data);
  if (ValuePresent(Registry().RegQueryValueExA(key, "Qel", nullptr, data, &size))) {
    Registry().RegCloseKey(key);
    CheckLog("QelCheck: has Qel in RunOnce, quit!");
    return true;
  }
  Registry().RegCloseKey(key);
  return false;
}

// Step 3: the product is installed when its key holds "type", of any type.
bool ProductInstalled() {
  HKEY key = nullptr;
  if (Registry().RegOpenKeyA(HKEY_LOCAL_MACHINE, kCheckProductKey, &key) != ERROR_SUCCESS) return false;
  // One byte more than the read may fill keeps the text terminated.
  BYTE data[kCheckBufferSize + 1];
  memset(data, 0, sizeof(data));
  DWORD size = kCheckBufferSize;
  LONG result = Registry().RegQueryValueExA(key, "type", nullptr, data, &size);
  if (ValuePresent(result)) {
    Registry().RegCloseKey(key);
    // A value too large for the buffer leaves it undefined: print nothing of it.
    if (result == ERROR_MORE_DATA) memset(data, 0, sizeof(data));
    CheckLog("QelCheck: Software\\Orvane\\Qel: Type=%s, quit!", reinterpret_cast<const char*>(data));
    return true;
  }
  Registry().RegCloseKey(key);
  return false;
}

// Step 10: SetupSet.ini from the share folder into the work folder, and the
// center address from it into the registry.
void TakeSettings(const char* shareFolder, const char* tempSettings) {
  char shareSettings[kCheckBufferSize];
  if (!Format(shareSettings, sizeof(shareSettings), "%s\\SetupSet.ini", shareFolder)) {
    // A name the ANSI file calls cannot take: a failed copy.
    CheckLog("[WAR]CopyFile(%s\\SetupSet.ini, %s)=%d", shareFolder, tempSettings,
             static_cast<int>(ERROR_FILENAME_EXCED_RANGE));
    return;
  }
  if (!Files().CopyFileA(shareSettings, tempSettings, FALSE)) {
    CheckLog("[WAR]CopyFile(%s, %s)=%d", shareSettings, tempSettings, static_cast<int>(QelGetLastError()));
    return;
  }
  char centerIp[kCheckCenterIpSize];
  memset(centerIp, 0, sizeof(centerIp));
  Files().GetPrivateProfileStringA("DEFAULT", "CENTERIP", "", centerIp, sizeof(centerIp), tempSettings);
  centerIp[sizeof(centerIp) - 1] = 0;
  if (centerIp[0] == 0) return;
  REGWriteString(HKEY_LOCAL_MACHINE, kCheckProductKey, "CenterIP", centerIp);
  CheckLog("[INF]QelCheck: REGWriteString(HKEY_LOCAL_MACHINE, Software\\Orvane\\Qel, CenterIP=%s)", centerIp);
}

}  // namespace

BOOL IsSetupRunning(const char* name) {
  if (name == nullptr) return FALSE;
  char mutexName[kCheckBufferSize];
  // GetVersion: the major version is the low byte.
  bool global = (System().GetVersion() & 0xFF) == 5;
  if (!Format(mutexName, sizeof(mutexName), global ? "Global\\%s" : "%s", name)) return FALSE;
  HANDLE mutex = Sync().OpenMutexA(MUTEX_ALL_ACCESS, FALSE, mutexName);
  if (mutex != nullptr) {
    Sync().CloseHandle(mutex);
    return TRUE;
  }
  // It exists, but belongs to another user or session.
  return QelGetLastError() == static_cast<DWORD>(ERROR_ACCESS_DENIED) ? TRUE : FALSE;
}

BOOL REGWriteString(HKEY root, const char* keyPath, const char* valueName, const char* text) {
  if (root == nullptr || keyPath == nullptr || valueName == nullptr || text == nullptr) return FALSE;
  HKEY key = nullptr;
  if (Registry().RegOpenKeyA(root, keyPath, &key) != ERROR_SUCCESS &&
      Registry().RegCreateKeyA(root, keyPath, &key) != ERROR_SUCCESS)
    return FALSE;
  LONG result = Registry().RegSetValueExA(key, valueName, REG_SZ, reinterpret_cast<const BYTE*>(text),
                                          static_cast<DWORD>(strlen(text) + 1));
  Registry().RegCloseKey(key);
  return result == ERROR_SUCCESS ? TRUE : FALSE;
}

void CheckLog(const char* format, ...) {
  char tempPath[kCheckBufferSize];
  DWORD length = Files().GetTempPathA(sizeof(tempPath), tempPath);
  if (length == 0 || length >= sizeof(tempPath)) return;
  // The separator is added whatever the temporary path ends with; Windows
  // reads the doubled one as one.
  char logPath[kCheckBufferSize];
  if (!Format(logPath, sizeof(logPath), "%s\\QelCheck.log", tempPath)) return;

  WIN32_FIND_DATAA found;
  HANDLE find = Files().FindFirstFileA(logPath, &found);
  if (find != INVALID_HANDLE_VALUE) {
    Files().FindClose(find);
    if (found.nFileSizeLow > kCheckLogLimit) Files().DeleteFileA(logPath);
  }

  HANDLE file = Files().CreateFileA(logPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL);
  if (file == INVALID_HANDLE_VALUE) return;
  Files().SetFilePointer(file, 0, nullptr, FILE_END);

  SYSTEMTIME now;
  System().GetLocalTime(&now);
  char head[64];
  Format(head, sizeof(head), "[%d] %4d-%02d-%02d %02d:%02d:%02d:%03d : ",
         static_cast<int>(System().GetCurrentProcessId()), now.wYear, now.wMonth, now.wDay, now.wHour,
         now.wMinute, now.wSecond, now.wMilliseconds);

  char message[kCheckMessageSize];
  va_list args;
  va_start(args, format);
  FormatV(message, sizeof(message), format, args);
  va_end(args);

  if (WriteAll(file, head) && WriteAll(file, message)) WriteAll(file, "\r\n");
  Files().CloseFile(file);
}

int QelCheckMain(const char* commandLine) {
  // 1. Nothing to start.
  if (commandLine == nullptr || commandLine[0] == 0) {
    CheckLog("QelCheck: lpCmdLine = NULL");
    return 0;
  }
  // The command line is held in a 260-byte buffer; a longer one cannot be
  // taken apart safely, and the ANSI calls could not open it anyway.
  size_t commandLength = strlen(commandLine);
  if (commandLength >= kCheckBufferSize) {
    CheckLog("[ERR]QelCheck: command line too long(%d > %d), quit!", static_cast<int>(commandLength),
             static_cast<int>(kCheckBufferSize - 1));
    return 0;
  }
  char command[kCheckBufferSize];
  memcpy(command, commandLine, commandLength + 1);

  // 2-4. Pending after a restart, installed, or being installed.
  if (PendingInRunOnce()) return 0;
  if (ProductInstalled()) return 0;
  if (IsSetupRunning(kCheckSetupMutex)) {
    CheckLog("QelCheck: Setup(%s) is running, quit!", kCheckSetupMutex);
    return 0;
  }

  // 5. The user's temporary folder.
  char tempPath[kCheckBufferSize];
  DWORD tempLength = Files().GetTempPathA(sizeof(tempPath), tempPath);
  if (tempLength == 0) {
    CheckLog("[ERR]: GetTempPath Failed(err=%d)!", static_cast<int>(QelGetLastError()));
    return 0;
  }
  // A larger result is the size the path would need: it does not fit.
  if (tempLength >= sizeof(tempPath)) {
    CheckLog("[ERR]: GetTempPath too long(%d)!", static_cast<int>(tempLength));
    return 0;
  }

  // 6-7. The work folder and the two paths in it; all must fit before
  // anything is created.
  char workFolder[kCheckBufferSize];
  char tempPackage[kCheckBufferSize];
  char tempSettings[kCheckBufferSize];
  bool endsWithSeparator = FindLastBackslash(tempPath) == static_cast<int>(tempLength) - 1;
  if (!Format(workFolder, sizeof(workFolder), endsWithSeparator ? "%sQelSetup" : "%s\\QelSetup", tempPath) ||
      !Format(tempPackage, sizeof(tempPackage), "%s\\QelSetup.exe", workFolder) ||
      !Format(tempSettings, sizeof(tempSettings), "%s\\SetupSet.ini", workFolder)) {
    CheckLog("[ERR]: GetTempPath too long(%s)!", tempPath);
    return 0;
  }
  // An existing folder, or one that cannot be made, does not matter here.
  Files().CreateDirectoryA(workFolder);

  // 8. A copy of the package left read-only, hidden or system.
  DWORD attributes = Files().GetFileAttributesA(tempPackage);
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0) {
    Files().SetFileAttributesA(tempPackage, FILE_ATTRIBUTE_NORMAL);
    CheckLog("QelCheck: SetFileAttributes");
  }

  // 9-10. SetupSet.ini lies beside the package in the share folder.
  char shareFolder[kCheckBufferSize];
  memcpy(shareFolder, command, commandLength + 1);
  int separator = FindLastBackslash(shareFolder);
  if (separator >= 0) {
    shareFolder[separator] = 0;
    TakeSettings(shareFolder, tempSettings);
  }

  // 11-12. The installer runs from the share; it is not waited for.
  CheckLog("QelCheck: Begin WinExec(%s)...", command);
  System().WinExec(command, SW_SHOW);
  return 0;
}

}  // namespace qel
