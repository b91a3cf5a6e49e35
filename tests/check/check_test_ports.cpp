#include "tests/check/check_test_ports.h"

namespace qel::check_test {
namespace {

const char* const kRegistryOperations[] = {"RegOpenKeyA",      "RegOpenKeyExA",  "RegCreateKeyA",
                                           "RegQueryValueExA", "RegSetValueExA", "RegCloseKey"};

}  // namespace

int FaultyRegistry::TotalCalls() const {
  int total = 0;
  for (const char* operation : kRegistryOperations) total += plan_.Calls(operation);
  return total;
}

LONG FaultyRegistry::RegOpenKeyA(HKEY root, const char* subKey, HKEY* result) {
  DWORD error = 0;
  if (plan_.ShouldFail("RegOpenKeyA", &error)) return static_cast<LONG>(error);
  return inner_->RegOpenKeyA(root, subKey, result);
}

LONG FaultyRegistry::RegOpenKeyExA(HKEY root, const char* subKey, DWORD options, REGSAM desired, HKEY* result) {
  DWORD error = 0;
  if (plan_.ShouldFail("RegOpenKeyExA", &error)) return static_cast<LONG>(error);
  return inner_->RegOpenKeyExA(root, subKey, options, desired, result);
}

LONG FaultyRegistry::RegCreateKeyA(HKEY root, const char* subKey, HKEY* result) {
  DWORD error = 0;
  if (plan_.ShouldFail("RegCreateKeyA", &error)) return static_cast<LONG>(error);
  return inner_->RegCreateKeyA(root, subKey, result);
}

LONG FaultyRegistry::RegQueryValueExA(HKEY key, const char* valueName, DWORD* type, BYTE* data, DWORD* size) {
  DWORD error = 0;
  if (plan_.ShouldFail("RegQueryValueExA", &error)) return static_cast<LONG>(error);
  return inner_->RegQueryValueExA(key, valueName, type, data, size);
}

LONG FaultyRegistry::RegSetValueExA(HKEY key, const char* valueName, DWORD type, const BYTE* data, DWORD size) {
  DWORD error = 0;
  if (plan_.ShouldFail("RegSetValueExA", &error)) return static_cast<LONG>(error);
  return inner_->RegSetValueExA(key, valueName, type, data, size);
}

LONG FaultyRegistry::RegCloseKey(HKEY key) {
  DWORD error = 0;
  if (plan_.ShouldFail("RegCloseKey", &error)) return static_cast<LONG>(error);
  return inner_->RegCloseKey(key);
}

BOOL FaultyFileSystem::SetFileAttributesA(const char* path, DWORD attributes) {
  DWORD error = 0;
  if (plan_.ShouldFail("SetFileAttributesA", &error)) {
    QelSetLastError(error);
    return FALSE;
  }
  return inner_->SetFileAttributesA(path, attributes);
}

BOOL FaultyFileSystem::CreateDirectoryA(const char* path) {
  DWORD error = 0;
  if (plan_.ShouldFail("CreateDirectoryA", &error)) {
    QelSetLastError(error);
    return FALSE;
  }
  return inner_->CreateDirectoryA(path);
}

BOOL FaultyFileSystem::CopyFileA(const char* source, const char* destination, BOOL failIfExists) {
  DWORD error = 0;
  if (plan_.ShouldFail("CopyFileA", &error)) {
    QelSetLastError(error);
    return FALSE;
  }
  return inner_->CopyFileA(source, destination, failIfExists);
}

HANDLE FaultyFileSystem::CreateFileA(const char* path, DWORD access, DWORD shareMode, DWORD disposition,
                                     DWORD flagsAndAttributes) {
  DWORD error = 0;
  if (plan_.ShouldFail("CreateFileA", &error)) {
    QelSetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  return inner_->CreateFileA(path, access, shareMode, disposition, flagsAndAttributes);
}

DWORD FaultyFileSystem::GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                                                 char* returned, DWORD size, const char* fileName) {
  DWORD error = 0;
  if (plan_.ShouldFail("GetPrivateProfileStringA", &error)) {
    QelSetLastError(error);
    if (size > 0) returned[0] = 0;
    return 0;
  }
  return inner_->GetPrivateProfileStringA(section, key, defaultValue, returned, size, fileName);
}

DWORD FaultyFileSystem::GetTempPathA(DWORD size, char* buffer) {
  DWORD error = 0;
  if (plan_.ShouldFail("GetTempPathA", &error)) {
    QelSetLastError(error);
    return 0;
  }
  if (fixedTempPath_) {
    // The length without terminator when it fits, else the size it needs.
    if (size <= tempPath_.size()) return static_cast<DWORD>(tempPath_.size() + 1);
    tempPath_.copy(buffer, tempPath_.size());
    buffer[tempPath_.size()] = 0;
    return static_cast<DWORD>(tempPath_.size());
  }
  return inner_->GetTempPathA(size, buffer);
}

}  // namespace qel::check_test
