// One log channel: naming its file, opening, rolling and writing lines.
#include <cstdio>
#include <cstring>
#include <string>

#include "log/log_utility.h"
#include "platform/ports.h"
#include "wizard/sys_util.h"

namespace qel {

namespace {

// SHGetFolderPathA's folder and flag (shlobj.h): the common application data
// folder, its default location.
constexpr int kCommonAppData = 0x0023;  // CSIDL_COMMON_APPDATA
constexpr DWORD kFolderDefault = 1;     // SHGFP_TYPE_DEFAULT

const char kNtFallbackDirectory[] = "C:\\Documents and Settings\\All Users\\Application Data\\Orvane\\Qel\\Log";
const char kNonNtFallbackInstallPath[] = "C:\\Program Files\\Orvane\\Qel";

// GetVersion sets its high bit outside the NT family.
bool IsNtFamily() { return (System().GetVersion() & 0x80000000u) == 0; }

// The common application data folder + "\Orvane\Qel\Log", or empty.
std::string CommonAppDataLogDirectory() {
  PFN_SHGetFolderPathA getFolderPath = nullptr;
  HMODULE library = Loader().LoadLibraryA("Shell32.dll");
  if (library != nullptr) {
    getFolderPath = reinterpret_cast<PFN_SHGetFolderPathA>(Loader().GetProcAddress(library, "SHGetFolderPathA"));
    if (getFolderPath == nullptr) {
      Loader().FreeLibrary(library);
      library = nullptr;
    }
  }
  // Shell32 of old systems lacks the function; SHFolder.dll carries it there.
  if (getFolderPath == nullptr) {
    library = Loader().LoadLibraryA("SHFolder.dll");
    if (library != nullptr) {
      getFolderPath = reinterpret_cast<PFN_SHGetFolderPathA>(Loader().GetProcAddress(library, "SHGetFolderPathA"));
    }
  }

  std::string directory;
  if (getFolderPath != nullptr) {
    char folder[MAX_PATH] = {};
    HRESULT hr = getFolderPath(nullptr, kCommonAppData, nullptr, kFolderDefault, folder);
    folder[MAX_PATH - 1] = '\0';
    if (SUCCEEDED(hr) && folder[0] != '\0') directory = std::string(folder) + "\\Orvane\\Qel\\Log";
  }
  if (library != nullptr) Loader().FreeLibrary(library);
  return directory;
}

}  // namespace

void GetLogDirectory(char* directory) {
  std::string path;
  if (IsNtFamily()) {
    path = CommonAppDataLogDirectory();
    if (path.empty() || path.size() >= MAX_PATH) path = kNtFallbackDirectory;
  } else {
    std::string installPath;
    if (!GetInstallPath(installPath) || installPath.empty()) installPath = kNonNtFallbackInstallPath;
    path = installPath + "\\Log";
    if (path.size() >= MAX_PATH) path = std::string(kNonNtFallbackInstallPath) + "\\Log";
  }
  memcpy(directory, path.c_str(), path.size() + 1);
  // A folder that cannot be made shows up as a file that cannot be opened.
  CreateDirectoryPath(directory);
}

_NCOvLogFile::_NCOvLogFile(DWORD id, DWORD level, DWORD maxSize)
    : m_hFile(INVALID_HANDLE_VALUE), m_dwId(id), m_dwLevel(level), m_dwMaxSize(maxSize), m_szPath{}, m_szTag{} {
  char directory[MAX_PATH];
  GetLogDirectory(directory);

  // Every channel is named after the running program: the log code is
  // linked into the program itself, so the module holding it is the same.
  char module[MAX_PATH] = {};
  DWORD length = System().GetModuleFileNameA(nullptr, module, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;  // no name: lines are dropped
  module[length] = '\0';
  const char* slash = MbsRChr(module, '\\');
  std::string path = std::string(directory) + "\\" + (slash != nullptr ? slash + 1 : module);

  // Cut the extension, but never at a dot of a folder name.
  size_t nameStart = static_cast<size_t>(MbsRChr(path.c_str(), '\\') - path.c_str()) + 1;
  const char* dot = MbsRChr(path.c_str() + nameStart, '.');
  if (dot != nullptr) path.resize(static_cast<size_t>(dot - path.c_str()));
  path += ".log";
  if (path.size() >= MAX_PATH) return;  // does not fit: lines are dropped
  memcpy(m_szPath, path.c_str(), path.size() + 1);
}

_NCOvLogFile::~_NCOvLogFile() { Close(); }

void _NCOvLogFile::Close() {
  _NCOvAutoLock lock(this);
  CloseHandleLocked();
}

void _NCOvLogFile::CloseHandleLocked() {
  if (m_hFile != INVALID_HANDLE_VALUE) {
    Files().CloseFile(m_hFile);
    m_hFile = INVALID_HANDLE_VALUE;
  }
}

BOOL _NCOvLogFile::OpenFile() {
  if (m_szPath[0] == '\0') return FALSE;
  HANDLE file = Files().CreateFileA(m_szPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL);
  if (file == INVALID_HANDLE_VALUE || file == nullptr) return FALSE;
  Files().SetFilePointer(file, 0, nullptr, FILE_END);
  m_hFile = file;
  return TRUE;
}

void _NCOvLogFile::WriteLine(DWORD type, const char* format, va_list args) {
  _NCOvAutoLock lock(this);
  if (m_hFile == INVALID_HANDLE_VALUE && !OpenFile()) return;

  QelSetLastError(NO_ERROR);
  DWORD sizeHigh = 0;
  DWORD size = Files().GetFileSize(m_hFile, &sizeHigh);
  if (size == INVALID_FILE_SIZE && QelGetLastError() != NO_ERROR) {
    // The handle went bad: drop this line, the next one opens afresh.
    CloseHandleLocked();
    return;
  }
  if (sizeHigh != 0 || size > GetMaxSize()) {
    // Roll: the full file becomes the one backup, then a new file begins.
    // The file is deleted only once its copy is safe; if the copy or the
    // delete fails the old file is reopened and the next line tries again.
    CloseHandleLocked();
    std::string backup(m_szPath);
    backup.resize(backup.size() - 4);  // ".log"
    backup += ".wtx";
    if (Files().CopyFileA(m_szPath, backup.c_str(), FALSE)) Files().DeleteFileA(m_szPath);
    if (!OpenFile()) return;
  }

  const char* tag = "DUG";
  if (type == LOG_TYPE_ERROR) tag = "ERR";
  else if (type == LOG_TYPE_WARNING) tag = "WAR";
  else if (type == LOG_TYPE_INFO) tag = "INF";
  memcpy(m_szTag, tag, 4);

  char message[kLogMaxMessage + 1];
  if (vsnprintf(message, sizeof(message), format != nullptr ? format : "", args) < 0) message[0] = '\0';

  DWORD processId = System().GetCurrentProcessId();
  SYSTEMTIME now = {};
  System().GetLocalTime(&now);

  char line[kLogMaxLine + 3];
  int length = snprintf(line, kLogMaxLine + 1, "[%d]%4d-%02d-%02d %02d:%02d:%02d:%03d: [%s]%s\r\n",
                        static_cast<int>(processId), now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                        now.wSecond, now.wMilliseconds, m_szTag, message);
  if (length < 0) return;
  if (length > kLogMaxLine) {
    // Too long: its first 1021 characters, and the line still ends.
    line[kLogMaxLine] = '\r';
    line[kLogMaxLine + 1] = '\n';
    length = kLogMaxLine + 2;
  }
  DWORD written = 0;
  Files().WriteFile(m_hFile, line, static_cast<DWORD>(length), &written);
}

}  // namespace qel
