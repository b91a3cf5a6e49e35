#include "tests/fakes/faulty_registry.h"

namespace qel::test {

FaultyRegistry::FaultyRegistry(IRegistry* inner) : inner_(inner != nullptr ? inner : Ports().registry) {}

bool FaultyRegistry::Fails(const char* operation, LONG* code) {
  DWORD error = 0;
  if (!plan_.ShouldFail(operation, &error)) return false;
  QelSetLastError(error);
  *code = static_cast<LONG>(error);
  return true;
}

LONG FaultyRegistry::RegOpenKeyA(HKEY root, const char* subKey, HKEY* result) {
  LONG code = 0;
  if (Fails("RegOpenKeyA", &code)) return code;
  return inner_->RegOpenKeyA(root, subKey, result);
}

LONG FaultyRegistry::RegOpenKeyExA(HKEY root, const char* subKey, DWORD options, REGSAM desired, HKEY* result) {
  LONG code = 0;
  if (Fails("RegOpenKeyExA", &code)) return code;
  return inner_->RegOpenKeyExA(root, subKey, options, desired, result);
}

LONG FaultyRegistry::RegCreateKeyA(HKEY root, const char* subKey, HKEY* result) {
  LONG code = 0;
  if (Fails("RegCreateKeyA", &code)) return code;
  return inner_->RegCreateKeyA(root, subKey, result);
}

LONG FaultyRegistry::RegQueryValueExA(HKEY key, const char* valueName, DWORD* type, BYTE* data, DWORD* size) {
  LONG code = 0;
  if (Fails("RegQueryValueExA", &code)) return code;
  return inner_->RegQueryValueExA(key, valueName, type, data, size);
}

LONG FaultyRegistry::RegSetValueExA(HKEY key, const char* valueName, DWORD type, const BYTE* data, DWORD size) {
  LONG code = 0;
  if (Fails("RegSetValueExA", &code)) return code;
  return inner_->RegSetValueExA(key, valueName, type, data, size);
}

LONG FaultyRegistry::RegCloseKey(HKEY key) {
  LONG code = 0;
  if (Fails("RegCloseKey", &code)) return code;
  return inner_->RegCloseKey(key);
}

}  // namespace qel::test
