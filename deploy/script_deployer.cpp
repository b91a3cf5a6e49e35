// The engine object, the NETLOGON folder, the copy and delete primitives and
// the stop check.
#include "deploy/script_deployer.h"

#include <cstring>

#include "deploy/text_util.h"
#include "res/string_table.h"
#include "wizard/netapi_entry.h"

namespace qel {

namespace {

const char kNetlogonParameters[] = "SYSTEM\\CurrentControlSet\\Services\\Netlogon\\Parameters";
const char kSystemRoot[] = "%SystemRoot%";

bool EqualsNoCase(const char* a, const char* b, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
    if (x == '\0') return true;
  }
  return true;
}

// A string value of at most 259 characters. The registry does not promise a
// terminator, so the buffer keeps one of its own.
bool ReadStringValue(HKEY key, const char* name, char (&value)[MAX_PATH + 1]) {
  std::memset(value, 0, sizeof value);
  DWORD type = 0;
  DWORD size = MAX_PATH;
  if (Registry().RegQueryValueExA(key, name, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS)
    return false;
  value[MAX_PATH] = '\0';
  // An empty value names no folder at all.
  return value[0] != '\0' && std::strlen(value) < MAX_PATH;
}

}  // namespace

BOOL FindScriptsFolder(const char* windowsDir, char* folderOut, size_t size) {
  HKEY key = nullptr;
  if (Registry().RegOpenKeyA(HKEY_LOCAL_MACHINE, kNetlogonParameters, &key) != ERROR_SUCCESS) return FALSE;

  char folder[MAX_PATH + 1];
  if (!ReadStringValue(key, "Scripts", folder)) {
    char sysvol[MAX_PATH + 1];
    if (!ReadStringValue(key, "SysVol", sysvol)) {
      Registry().RegCloseKey(key);
      return FALSE;
    }
    char pattern[MAX_PATH];
    const char* patternPieces[] = {sysvol, "\\*.*", nullptr};
    WIN32_FIND_DATAA found;
    HANDLE find = INVALID_HANDLE_VALUE;
    if (JoinBounded(pattern, sizeof pattern, patternPieces)) find = Files().FindFirstFileA(pattern, &found);
    if (find == INVALID_HANDLE_VALUE) {
      Registry().RegCloseKey(key);
      return FALSE;
    }
    // The first entry is "." on NTFS, but not on every file system; the
    // name test passes over "." and ".." wherever they come.
    bool haveDomain = false;
    do {
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && !EqualsNoCase(found.cFileName, ".", 2) &&
          !EqualsNoCase(found.cFileName, "..", 3)) {
        haveDomain = true;
        break;
      }
    } while (Files().FindNextFileA(find, &found));
    Files().FindClose(find);
    bool fits = true;
    if (haveDomain) {
      const char* pieces[] = {sysvol, "\\", found.cFileName, "\\", "Scripts", nullptr};
      fits = JoinBounded(folder, MAX_PATH, pieces);
    } else {
      std::memcpy(folder, sysvol, sizeof folder);
    }
    if (!fits) {
      Registry().RegCloseKey(key);
      return FALSE;
    }
  }
  Registry().RegCloseKey(key);

  char result[2 * MAX_PATH];
  const char* expanded = folder;
  if (std::strlen(folder) >= 12 && EqualsNoCase(folder, kSystemRoot, 12)) {
    const char* pieces[] = {windowsDir, folder + 12, nullptr};
    if (!JoinBounded(result, sizeof result, pieces)) return FALSE;
    expanded = result;
  }
  return CopyBounded(folderOut, size, expanded);
}

BOOL DeleteFileForce(const char* path) {
  if (Files().DeleteFileA(path)) return TRUE;
  // A missing file counts as deleted; a missing folder does not.
  if (QelGetLastError() == static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) return TRUE;
  if (!Files().SetFileAttributesA(path, FILE_ATTRIBUTE_ARCHIVE)) return FALSE;
  return Files().DeleteFileA(path);
}

DWORD CALLBACK CopyProgress(LARGE_INTEGER totalFileSize, LARGE_INTEGER totalBytesTransferred, LARGE_INTEGER,
                            LARGE_INTEGER, DWORD, DWORD, HANDLE, HANDLE, LPVOID data) {
  return static_cast<CScriptDeployer*>(data)->OnCopyProgress(totalFileSize.QuadPart,
                                                             totalBytesTransferred.QuadPart);
}

CScriptDeployer::CScriptDeployer()
    : m_pPage(nullptr),
      m_nTotal(0),
      ScriptExist(TRUE),
      m_szComputerName(),
      m_szWindowsDir(),
      m_szShareName(),
      m_szModuleDir(),
      m_szScriptsDir(),
      m_szBatchName(),
      m_wszBatchName(),
      m_szCenterIP(),
      m_szPackagePath(),
      m_hStopEvent(nullptr),
      m_hPauseEvent(nullptr),
      m_nSucceeded(0),
      m_pfnCopyFileEx(nullptr),
      m_hKernel(nullptr),
      m_pMessages(nullptr),
      m_bStopped(FALSE) {}

CScriptDeployer::~CScriptDeployer() {
  if (m_hKernel != nullptr) Loader().FreeLibrary(m_hKernel);
  m_hKernel = nullptr;
  m_pfnCopyFileEx = nullptr;
}

BOOL CScriptDeployer::Init(IProgressReceiver* page, HANDLE stopEvent, HANDLE pauseEvent) {
  if (page != nullptr) m_pPage = page;
  m_hStopEvent = stopEvent;
  m_hPauseEvent = pauseEvent;

  char buffer[MAX_PATH];
  DWORD size = sizeof buffer;
  if (!System().GetComputerNameA(buffer, &size)) return FALSE;
  if (!CopyBounded(m_szComputerName, sizeof m_szComputerName, buffer)) return FALSE;

  UINT length = System().GetWindowsDirectoryA(buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) return FALSE;
  if (!CopyBounded(m_szWindowsDir, sizeof m_szWindowsDir, buffer)) return FALSE;

  // A result of the buffer's full size means the name was cut.
  DWORD moduleLength = System().GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  if (moduleLength == 0 || moduleLength >= sizeof buffer) return FALSE;
  char* lastSlash = std::strrchr(buffer, '\\');
  if (lastSlash == nullptr) return FALSE;
  *lastSlash = '\0';
  if (!CopyBounded(m_szModuleDir, sizeof m_szModuleDir, buffer)) return FALSE;

  std::strcpy(m_szShareName, "NetLogon");

  if (!FindScriptsFolder(m_szWindowsDir, m_szScriptsDir, sizeof m_szScriptsDir)) return FALSE;

  std::strcpy(m_szBatchName, "QelInstall.bat");

  char batchPath[MAX_PATH];
  const char* pieces[] = {m_szScriptsDir, "\\", m_szBatchName, nullptr};
  JoinBounded(batchPath, sizeof batchPath, pieces);  // 199 + 1 + 14 always fits
  WIN32_FIND_DATAA found;
  HANDLE find = Files().FindFirstFileA(batchPath, &found);
  ScriptExist = find != INVALID_HANDLE_VALUE;
  if (find != INVALID_HANDLE_VALUE) Files().FindClose(find);

  // The domain's accounts must be readable: one small read of "Domain Users".
  if (g_NetApi.NetGroupGetUsers == nullptr || g_NetApi.NetApiBufferFree == nullptr) return FALSE;
  LPBYTE members = nullptr;
  DWORD entries = 0, total = 0;
  DWORD_PTR resume = 0;
  NET_API_STATUS status = g_NetApi.NetGroupGetUsers(nullptr, L"Domain Users", 1, &members, 100, &entries,
                                                    &total, &resume);
  if (status != NERR_Success && resume == 0) {
    if (members != nullptr) g_NetApi.NetApiBufferFree(members);
    return FALSE;
  }
  if (members == nullptr) return FALSE;
  g_NetApi.NetApiBufferFree(members);

  m_pfnCopyFileEx = nullptr;
  m_hKernel = Loader().LoadLibraryA("Kernel32.dll");
  if (m_hKernel != nullptr)
    m_pfnCopyFileEx = reinterpret_cast<PFN_CopyFileExA>(Loader().GetProcAddress(m_hKernel, "CopyFileExA"));
  return TRUE;
}

BOOL CScriptDeployer::SetCenterIP(const char* centerIP) {
  if (centerIP == nullptr || *centerIP == '\0') return FALSE;
  return CopyBounded(m_szCenterIP, sizeof m_szCenterIP, centerIP);
}

BOOL CScriptDeployer::SetPackagePath(const char* packagePath) {
  if (packagePath == nullptr) return FALSE;
  return CopyBounded(m_szPackagePath, sizeof m_szPackagePath, packagePath);
}

BOOL CScriptDeployer::CopyWithProgress(const char* source, const char* destination) {
  if (m_pfnCopyFileEx == nullptr) return FALSE;
  if (m_pfnCopyFileEx(source, destination, CopyProgress, this, nullptr, 0)) return TRUE;
  // A read-only, hidden or system destination cannot be overwritten.
  Files().SetFileAttributesA(destination, FILE_ATTRIBUTE_ARCHIVE);
  return m_pfnCopyFileEx(source, destination, CopyProgress, this, nullptr, 0);
}

DWORD CScriptDeployer::OnCopyProgress(LONGLONG totalFileSize, LONGLONG totalBytesTransferred) {
  if (IsCancelled()) return PROGRESS_CANCEL;
  LONGLONG percent = totalFileSize <= 0 ? 10 : totalBytesTransferred * 100 / totalFileSize;
  Report(PROGRESS_SET_POS, static_cast<LONG_PTR>(percent));
  return PROGRESS_CONTINUE;
}

BOOL CScriptDeployer::IsCancelled() {
  if (m_bStopped) return TRUE;
  // Without the page's events nobody can pause or stop the run.
  if (m_hPauseEvent == nullptr && m_hStopEvent == nullptr) return FALSE;
  // The pause event comes first: while it is signalled the run goes on even
  // when the stop event is signalled too.
  HANDLE events[2] = {m_hPauseEvent, m_hStopEvent};
  // A pause with writes held in the store's transaction: they last first,
  // so that the domain's database is not held while the run waits.
  DWORD woken = WAIT_TIMEOUT;
  if (m_dwHeldWrites > 0) {
    woken = Sync().WaitForMultipleObjects(2, events, FALSE, 0);
    if (woken == WAIT_TIMEOUT) EndWriteGroup();
  }
  if (woken == WAIT_TIMEOUT) woken = Sync().WaitForMultipleObjects(2, events, FALSE, INFINITE);
  if (woken == WAIT_OBJECT_0 + 1) m_bStopped = TRUE;
  return m_bStopped;
}

DWORD CScriptDeployer::ScriptsFolderError() {
  if (m_szScriptsDir[0] == '\0') return ERROR_PATH_NOT_FOUND;
  DWORD attributes = Files().GetFileAttributesA(m_szScriptsDir);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD error = QelGetLastError();
    return error != 0 ? error : static_cast<DWORD>(ERROR_PATH_NOT_FOUND);
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return ERROR_DIRECTORY;
  return 0;
}

void CScriptDeployer::Report(int kind, LONG_PTR value) {
  if (m_pPage != nullptr) m_pPage->ReportProgress(kind, value);
}

void CScriptDeployer::ShowMessage(const char* path, UINT suffixId, const char* caption) {
  char suffix[256] = {};
  LoadResString(suffixId, suffix, sizeof suffix);
  char text[MAX_PATH + sizeof suffix];
  const char* pieces[] = {path, suffix, nullptr};
  if (!JoinBounded(text, sizeof text, pieces)) return;
  if (m_pMessages != nullptr) m_pMessages->ShowMessage(text, caption);
}

}  // namespace qel
