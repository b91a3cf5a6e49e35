// The narrow interfaces through which the core reaches the platform.
//
// Every operation keeps the name, the arguments and the result codes of the
// Win32 call it stands for, so code written against a port reads like code
// written against Windows. The Win32 adapters (platform/win32) forward to the
// real API; the host adapters (platform/host) reproduce on Linux the platform
// behaviour the core relies on. Tests swap single ports for fakes
// (tests/fakes) that can fail any call with a chosen code.
//
// Port interfaces use no standard-library types, so that the small checker
// program can link the Win32 adapters without the C++ library.
#pragma once

#include <cstddef>

#include "platform/ads_types.h"
#include "platform/win_types.h"

namespace qel {

// The calling thread's last error, as GetLastError/SetLastError. Every port
// call that fails sets it, as its Win32 twin does.
DWORD QelGetLastError();
void QelSetLastError(DWORD error);

class IRegistry {
 public:
  virtual ~IRegistry() = default;
  // RegOpenKeyA opens with full access; RegOpenKeyExA with the given rights.
  virtual LONG RegOpenKeyA(HKEY root, const char* subKey, HKEY* result) = 0;
  virtual LONG RegOpenKeyExA(HKEY root, const char* subKey, DWORD options, REGSAM desired, HKEY* result) = 0;
  virtual LONG RegCreateKeyA(HKEY root, const char* subKey, HKEY* result) = 0;
  // data may be null to ask for the size; *size is in bytes, in and out.
  virtual LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* type, BYTE* data, DWORD* size) = 0;
  virtual LONG RegSetValueExA(HKEY key, const char* valueName, DWORD type, const BYTE* data, DWORD size) = 0;
  virtual LONG RegCloseKey(HKEY key) = 0;
};

// A C stream opened through the file port: fopen/fread/fwrite/fclose with
// the same modes, text mode turning "\n" into "\r\n" on write and back on read.
class IFileStream {
 public:
  virtual size_t Read(void* buffer, size_t size, size_t count) = 0;
  virtual size_t Write(const void* buffer, size_t size, size_t count) = 0;
  // fclose: 0 on success, EOF (-1) on error. Always releases the stream.
  virtual int Close() = 0;

 protected:
  virtual ~IFileStream() = default;
};

class IFileSystem {
 public:
  virtual ~IFileSystem() = default;
  virtual DWORD GetFileAttributesA(const char* path) = 0;
  virtual BOOL SetFileAttributesA(const char* path, DWORD attributes) = 0;
  virtual BOOL DeleteFileA(const char* path) = 0;
  virtual BOOL CreateDirectoryA(const char* path) = 0;  // no security attributes
  virtual BOOL CopyFileA(const char* source, const char* destination, BOOL failIfExists) = 0;
  virtual BOOL CopyFileExA(const char* source, const char* destination, LPPROGRESS_ROUTINE progress,
                           LPVOID data, BOOL* cancel, DWORD flags) = 0;
  virtual HANDLE FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* data) = 0;
  virtual BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data) = 0;
  virtual BOOL FindClose(HANDLE find) = 0;

  // Raw file handles, as CreateFileA without security attributes or template.
  virtual HANDLE CreateFileA(const char* path, DWORD access, DWORD shareMode, DWORD disposition,
                             DWORD flagsAndAttributes) = 0;
  virtual DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method) = 0;
  virtual DWORD GetFileSize(HANDLE file, DWORD* sizeHigh) = 0;
  virtual BOOL ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read) = 0;
  virtual BOOL WriteFile(HANDLE file, const void* buffer, DWORD size, DWORD* written) = 0;
  virtual BOOL CloseFile(HANDLE file) = 0;  // CloseHandle of a file handle

  // fopen; null on failure with the last error set.
  virtual IFileStream* OpenStream(const char* path, const char* mode) = 0;

  // Initialisation files.
  virtual DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                                         char* returned, DWORD size, const char* fileName) = 0;
  virtual BOOL WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                          const char* fileName) = 0;

  virtual DWORD GetTempPathA(DWORD size, char* buffer) = 0;
  virtual DWORD GetCurrentDirectoryA(DWORD size, char* buffer) = 0;
};

class ISystem {
 public:
  virtual ~ISystem() = default;
  virtual DWORD GetVersion() = 0;
  virtual BOOL GetComputerNameA(char* buffer, DWORD* size) = 0;
  virtual UINT GetWindowsDirectoryA(char* buffer, UINT size) = 0;
  virtual DWORD GetModuleFileNameA(HMODULE module, char* buffer, DWORD size) = 0;
  virtual DWORD GetCurrentProcessId() = 0;
  virtual void GetLocalTime(SYSTEMTIME* time) = 0;
  virtual DWORD GetTickCount() = 0;
  virtual void Sleep(DWORD milliseconds) = 0;
  // Starts a program; > 31 on success, as WinExec.
  virtual UINT WinExec(const char* commandLine, UINT show) = 0;
};

// The ANSI code page of the system and the conversions through it.
class ICodePage {
 public:
  virtual ~ICodePage() = default;
  virtual UINT GetACP() = 0;
  virtual BOOL IsDBCSLeadByte(BYTE byte) = 0;
  virtual int WideCharToMultiByte(UINT codePage, DWORD flags, const wchar_t* wide, int wideLength,
                                  char* multiByte, int multiByteSize, const char* defaultChar,
                                  BOOL* usedDefaultChar) = 0;
  virtual int MultiByteToWideChar(UINT codePage, DWORD flags, const char* multiByte, int multiByteLength,
                                  wchar_t* wide, int wideSize) = 0;
};

class ISync {
 public:
  virtual ~ISync() = default;
  virtual HANDLE CreateEventA(BOOL manualReset, BOOL initialState, const char* name) = 0;
  virtual BOOL SetEvent(HANDLE event) = 0;
  virtual BOOL ResetEvent(HANDLE event) = 0;
  virtual DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) = 0;
  virtual DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) = 0;
  virtual HANDLE CreateThread(LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD* threadId) = 0;
  // Named mutexes are visible to other processes.
  virtual HANDLE CreateMutexA(BOOL initialOwner, const char* name) = 0;
  virtual HANDLE OpenMutexA(DWORD desiredAccess, BOOL inheritHandle, const char* name) = 0;
  virtual BOOL ReleaseMutex(HANDLE mutex) = 0;
  virtual BOOL CloseHandle(HANDLE handle) = 0;  // events, threads, mutexes
};

// LoadLibraryA/GetProcAddress/FreeLibrary. The host loader offers modules by
// the same names ("Kernel32.dll", "netapi32.dll", "Shell32.dll" ...) whose
// entry points have the Windows shapes and forward to the current ports.
class ILibraryLoader {
 public:
  virtual ~ILibraryLoader() = default;
  virtual HMODULE LoadLibraryA(const char* fileName) = 0;
  virtual FARPROC GetProcAddress(HMODULE module, const char* procName) = 0;
  virtual BOOL FreeLibrary(HMODULE module) = 0;
};

// One bound directory object, searched as IDirectorySearch searches it.
class IDirectorySearchPort {
 public:
  virtual HRESULT SetSearchPreference(ADS_SEARCHPREF_INFO* preferences, DWORD count) = 0;
  virtual HRESULT ExecuteSearch(const wchar_t* filter, const wchar_t* const* attributes, DWORD count,
                                ADS_SEARCH_HANDLE* search) = 0;
  virtual HRESULT AbandonSearch(ADS_SEARCH_HANDLE search) = 0;
  virtual HRESULT GetFirstRow(ADS_SEARCH_HANDLE search) = 0;
  virtual HRESULT GetNextRow(ADS_SEARCH_HANDLE search) = 0;
  virtual HRESULT GetColumn(ADS_SEARCH_HANDLE search, const wchar_t* name, ADS_SEARCH_COLUMN* column) = 0;
  virtual HRESULT FreeColumn(ADS_SEARCH_COLUMN* column) = 0;
  virtual HRESULT CloseSearchHandle(ADS_SEARCH_HANDLE search) = 0;
  virtual ULONG Release() = 0;

 protected:
  virtual ~IDirectorySearchPort() = default;
};

// The directory provider: "ActiveDS.dll" with ADsGetObject on Windows.
class IDirectoryPort {
 public:
  virtual ~IDirectoryPort() = default;
  // Loads the provider library and its ADsGetObject; 0 or the system error.
  virtual DWORD LoadProvider() = 0;
  virtual void FreeProvider() = 0;
  virtual HRESULT CoInitialize() = 0;
  virtual void CoUninitialize() = 0;
  // ADsGetObject(path, IID_IDirectorySearch); path carries "GC://" or "LDAP://".
  virtual HRESULT BindSearch(const wchar_t* adsPath, IDirectorySearchPort** search) = 0;
  // ADsGetObject(path, IID_IADs) then IADs::Get(attribute). On success the
  // value is copied into value (capacity in characters, terminator included)
  // when it is a string (VT_BSTR) and *isString says so; *length is its length.
  virtual HRESULT GetObjectString(const wchar_t* adsPath, const wchar_t* attribute, wchar_t* value,
                                  DWORD capacity, DWORD* length, BOOL* isString) = 0;
};

// Sockets and the local address table are declared in platform/net_ports.h.
class ISocketPort;
class IAddressTablePort;
// The account database behind the host's "netapi32.dll" (platform/account_store.h).
class IAccountStore;

// The set of ports the process uses. Programs install their platform's set
// at start-up; tests replace single members and put them back.
struct PlatformPorts {
  IRegistry* registry = nullptr;
  IFileSystem* files = nullptr;
  ISystem* system = nullptr;
  ICodePage* codePage = nullptr;
  ISync* sync = nullptr;
  ILibraryLoader* loader = nullptr;
  IDirectoryPort* directory = nullptr;
  ISocketPort* sockets = nullptr;
  IAddressTablePort* addressTable = nullptr;
  IAccountStore* accounts = nullptr;  // host and stand-ins only
};

PlatformPorts& Ports();

inline IRegistry& Registry() { return *Ports().registry; }
inline IFileSystem& Files() { return *Ports().files; }
inline ISystem& System() { return *Ports().system; }
inline ICodePage& CodePage() { return *Ports().codePage; }
inline ISync& Sync() { return *Ports().sync; }
inline ILibraryLoader& Loader() { return *Ports().loader; }
inline IDirectoryPort& Directory() { return *Ports().directory; }

}  // namespace qel
