// Files, folders and initialisation files: forwards to Win32, and to the C
// runtime for streams.
#include <stdio.h>

#include <new>

#include "platform/win32/win32_ports.h"

namespace qel {
namespace {

// Stream objects live on the process heap, made and destroyed by hand: the
// C++ allocation functions would bring the exception machinery of the
// runtime into the checker program, several times its size.
class Win32Stream final : public IFileStream {
 public:
  static Win32Stream* Make(FILE* file) {
    void* memory = ::HeapAlloc(::GetProcessHeap(), 0, sizeof(Win32Stream));
    return memory ? new (memory) Win32Stream(file) : nullptr;
  }
  size_t Read(void* buffer, size_t size, size_t count) override { return ::fread(buffer, size, count, file_); }
  size_t Write(const void* buffer, size_t size, size_t count) override {
    return ::fwrite(buffer, size, count, file_);
  }
  int Close() override {
    int result = ::fclose(file_);
    this->~Win32Stream();
    ::HeapFree(::GetProcessHeap(), 0, this);
    return result == 0 ? 0 : EOF;
  }
  // Never called: Close() releases the memory.
  static void operator delete(void*) {}

 private:
  explicit Win32Stream(FILE* file) : file_(file) {}
  ~Win32Stream() override = default;
  FILE* file_;
};

class Win32FileSystemPort : public IFileSystem {
 public:
  DWORD GetFileAttributesA(const char* path) override { return ::GetFileAttributesA(path); }
  BOOL SetFileAttributesA(const char* path, DWORD attributes) override {
    return ::SetFileAttributesA(path, attributes);
  }
  BOOL DeleteFileA(const char* path) override { return ::DeleteFileA(path); }
  BOOL CreateDirectoryA(const char* path) override { return ::CreateDirectoryA(path, nullptr); }
  BOOL CopyFileA(const char* source, const char* destination, BOOL failIfExists) override {
    return ::CopyFileA(source, destination, failIfExists);
  }
  BOOL CopyFileExA(const char* source, const char* destination, LPPROGRESS_ROUTINE progress, LPVOID data,
                   BOOL* cancel, DWORD flags) override {
    return ::CopyFileExA(source, destination, progress, data, cancel, flags);
  }
  HANDLE FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* data) override {
    return ::FindFirstFileA(pattern, data);
  }
  BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data) override { return ::FindNextFileA(find, data); }
  BOOL FindClose(HANDLE find) override { return ::FindClose(find); }

  HANDLE CreateFileA(const char* path, DWORD access, DWORD shareMode, DWORD disposition,
                     DWORD flagsAndAttributes) override {
    return ::CreateFileA(path, access, shareMode, nullptr, disposition, flagsAndAttributes, nullptr);
  }
  DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method) override {
    return ::SetFilePointer(file, distance, distanceHigh, method);
  }
  DWORD GetFileSize(HANDLE file, DWORD* sizeHigh) override { return ::GetFileSize(file, sizeHigh); }
  BOOL ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read) override {
    return ::ReadFile(file, buffer, size, read, nullptr);
  }
  BOOL WriteFile(HANDLE file, const void* buffer, DWORD size, DWORD* written) override {
    return ::WriteFile(file, buffer, size, written, nullptr);
  }
  BOOL CloseFile(HANDLE file) override { return ::CloseHandle(file); }

  IFileStream* OpenStream(const char* path, const char* mode) override {
    FILE* file = ::fopen(path, mode);
    if (!file) return nullptr;
    Win32Stream* stream = Win32Stream::Make(file);
    if (!stream) {
      ::fclose(file);
      ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    return stream;
  }

  DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue, char* returned,
                                 DWORD size, const char* fileName) override {
    return ::GetPrivateProfileStringA(section, key, defaultValue, returned, size, fileName);
  }
  BOOL WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                  const char* fileName) override {
    return ::WritePrivateProfileStringA(section, key, value, fileName);
  }

  DWORD GetTempPathA(DWORD size, char* buffer) override { return ::GetTempPathA(size, buffer); }
  DWORD GetCurrentDirectoryA(DWORD size, char* buffer) override { return ::GetCurrentDirectoryA(size, buffer); }
};

// A namespace-scope object, not a function-local static: the guard of a
// local static would bring in the runtime's exception support.
Win32FileSystemPort g_fileSystem;

}  // namespace

IFileSystem* Win32FileSystem() { return &g_fileSystem; }

}  // namespace qel
