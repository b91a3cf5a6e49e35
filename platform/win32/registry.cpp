// The registry: forwards to the Win32 registry functions.
#include "platform/win32/win32_ports.h"

namespace qel {
namespace {

// The registry functions return their code without setting the thread's
// last error; the port sets it as well, as every failing port call does.
LONG Result(LONG code) {
  if (code != ERROR_SUCCESS) ::SetLastError(static_cast<DWORD>(code));
  return code;
}

class Win32RegistryPort : public IRegistry {
 public:
  LONG RegOpenKeyA(HKEY root, const char* subKey, HKEY* result) override {
    return Result(::RegOpenKeyA(root, subKey, result));
  }
  LONG RegOpenKeyExA(HKEY root, const char* subKey, DWORD options, REGSAM desired, HKEY* result) override {
    return Result(::RegOpenKeyExA(root, subKey, options, desired, result));
  }
  LONG RegCreateKeyA(HKEY root, const char* subKey, HKEY* result) override {
    return Result(::RegCreateKeyA(root, subKey, result));
  }
  LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* type, BYTE* data, DWORD* size) override {
    return Result(::RegQueryValueExA(key, valueName, nullptr, type, data, size));
  }
  LONG RegSetValueExA(HKEY key, const char* valueName, DWORD type, const BYTE* data, DWORD size) override {
    return Result(::RegSetValueExA(key, valueName, 0, type, data, size));
  }
  LONG RegCloseKey(HKEY key) override { return Result(::RegCloseKey(key)); }
};

// A namespace-scope object, not a function-local static: the guard of a
// local static would bring in the runtime's exception support.
Win32RegistryPort g_registry;

}  // namespace

IRegistry* Win32Registry() { return &g_registry; }

}  // namespace qel
