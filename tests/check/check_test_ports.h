// Registry and file-system decorators over the real host ports for the
// checker's tests: each forwards to the port it wraps, counts the calls
// through a FaultPlan and fails the ones the plan names, with the code it
// names (a failing registry call returns the code, a failing file call FALSE,
// 0 or INVALID_HANDLE_VALUE with the code as the last error).
#pragma once

#include <string>

#include "platform/ports.h"
#include "tests/fakes/fault_plan.h"

namespace qel::check_test {

using test::FaultPlan;

// Operation names are the method names ("RegOpenKeyExA" ...).
class FaultyRegistry : public IRegistry {
 public:
  explicit FaultyRegistry(IRegistry* inner) : inner_(inner) {}
  FaultPlan& plan() { return plan_; }
  // Calls of every operation together.
  int TotalCalls() const;

  LONG RegOpenKeyA(HKEY root, const char* subKey, HKEY* result) override;
  LONG RegOpenKeyExA(HKEY root, const char* subKey, DWORD options, REGSAM desired, HKEY* result) override;
  LONG RegCreateKeyA(HKEY root, const char* subKey, HKEY* result) override;
  LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* type, BYTE* data, DWORD* size) override;
  LONG RegSetValueExA(HKEY key, const char* valueName, DWORD type, const BYTE* data, DWORD size) override;
  LONG RegCloseKey(HKEY key) override;

 private:
  IRegistry* inner_;
  FaultPlan plan_;
};

// Fails CopyFileA, CreateFileA, CreateDirectoryA, GetTempPathA,
// SetFileAttributesA and GetPrivateProfileStringA on demand; forwards the rest.
class FaultyFileSystem : public IFileSystem {
 public:
  explicit FaultyFileSystem(IFileSystem* inner) : inner_(inner) {}
  FaultPlan& plan() { return plan_; }
  // From now on GetTempPathA returns exactly this text (Windows always ends
  // it with ""; the checker must not rely on that).
  void SetTempPath(const std::string& path) {
    tempPath_ = path;
    fixedTempPath_ = true;
  }

  DWORD GetFileAttributesA(const char* path) override { return inner_->GetFileAttributesA(path); }
  BOOL SetFileAttributesA(const char* path, DWORD attributes) override;
  BOOL DeleteFileA(const char* path) override { return inner_->DeleteFileA(path); }
  BOOL CreateDirectoryA(const char* path) override;
  BOOL CopyFileA(const char* source, const char* destination, BOOL failIfExists) override;
  BOOL CopyFileExA(const char* source, const char* destination, LPPROGRESS_ROUTINE progress, LPVOID data,
                   BOOL* cancel, DWORD flags) override {
    return inner_->CopyFileExA(source, destination, progress, data, cancel, flags);
  }
  HANDLE FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* data) override {
    return inner_->FindFirstFileA(pattern, data);
  }
  BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data) override { return inner_->FindNextFileA(find, data); }
  BOOL FindClose(HANDLE find) override { return inner_->FindClose(find); }
  HANDLE CreateFileA(const char* path, DWORD access, DWORD shareMode, DWORD disposition,
                     DWORD flagsAndAttributes) override;
  DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method) override {
    return inner_->SetFilePointer(file, distance, distanceHigh, method);
  }
  DWORD GetFileSize(HANDLE file, DWORD* sizeHigh) override { return inner_->GetFileSize(file, sizeHigh); }
  BOOL ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read) override {
    return inner_->ReadFile(file, buffer, size, read);
  }
  BOOL WriteFile(HANDLE file, const void* buffer, DWORD size, DWORD* written) override {
    return inner_->WriteFile(file, buffer, size, written);
  }
  BOOL CloseFile(HANDLE file) override { return inner_->CloseFile(file); }
  IFileStream* OpenStream(const char* path, const char* mode) override { return inner_->OpenStream(path, mode); }
  DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue, char* returned,
                                 DWORD size, const char* fileName) override;
  BOOL WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                  const char* fileName) override {
    return inner_->WritePrivateProfileStringA(section, key, value, fileName);
  }
  DWORD GetTempPathA(DWORD size, char* buffer) override;
  DWORD GetCurrentDirectoryA(DWORD size, char* buffer) override { return inner_->GetCurrentDirectoryA(size, buffer); }

 private:
  IFileSystem* inner_;
  FaultPlan plan_;
  bool fixedTempPath_ = false;
  std::string tempPath_;
};

}  // namespace qel::check_test
