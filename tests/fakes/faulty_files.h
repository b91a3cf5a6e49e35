// IFileSystem decorator that fails chosen calls.
//
// Each operation asks the plan under its Win32 name ("GetFileAttributesA",
// "DeleteFileA", "CopyFileExA", "CreateFileA", "WriteFile", "OpenStream",
// "WritePrivateProfileStringA" ...) whether to fail. A failing call sets the
// planned code as the last error and returns what the Win32 call returns on
// failure (FALSE, INVALID_HANDLE_VALUE, INVALID_FILE_ATTRIBUTES, 0 ...)
// without reaching the wrapped file system. GetPrivateProfileStringA fails
// as Windows does for an unreadable file: the default comes back.
//
// Streams opened through it are wrapped too: "StreamRead" and "StreamWrite"
// make fread/fwrite transfer nothing; "StreamClose" makes fclose return EOF
// (the stream is still closed and released).
#pragma once

#include "tests/fakes/fault_plan.h"

namespace qel::test {

class FaultyFileSystem : public IFileSystem {
 public:
  // Forwards to `inner` (default: the file port installed now).
  explicit FaultyFileSystem(IFileSystem* inner = nullptr);
  FaultPlan& plan() { return plan_; }

  DWORD GetFileAttributesA(const char* path) override;
  BOOL SetFileAttributesA(const char* path, DWORD attributes) override;
  BOOL DeleteFileA(const char* path) override;
  BOOL CreateDirectoryA(const char* path) override;
  BOOL CopyFileA(const char* source, const char* destination, BOOL failIfExists) override;
  BOOL CopyFileExA(const char* source, const char* destination, LPPROGRESS_ROUTINE progress, LPVOID data,
                   BOOL* cancel, DWORD flags) override;
  HANDLE FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* data) override;
  BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data) override;
  BOOL FindClose(HANDLE find) override;
  HANDLE CreateFileA(const char* path, DWORD access, DWORD shareMode, DWORD disposition,
                     DWORD flagsAndAttributes) override;
  DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method) override;
  DWORD GetFileSize(HANDLE file, DWORD* sizeHigh) override;
  BOOL ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read) override;
  BOOL WriteFile(HANDLE file, const void* buffer, DWORD size, DWORD* written) override;
  BOOL CloseFile(HANDLE file) override;
  IFileStream* OpenStream(const char* path, const char* mode) override;
  DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue, char* returned,
                                 DWORD size, const char* fileName) override;
  BOOL WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                  const char* fileName) override;
  DWORD GetTempPathA(DWORD size, char* buffer) override;
  DWORD GetCurrentDirectoryA(DWORD size, char* buffer) override;

  // True (with the last error set) when this call of `operation` must fail.
  bool Fails(const char* operation);

 private:
  IFileSystem* inner_;
  FaultPlan plan_;
};

}  // namespace qel::test
