// LoadLibraryA/GetProcAddress/FreeLibrary: forwards to Win32.
#include "platform/win32/win32_ports.h"

namespace qel {
namespace {

class Win32LibraryLoaderPort : public ILibraryLoader {
 public:
  HMODULE LoadLibraryA(const char* fileName) override { return ::LoadLibraryA(fileName); }
  FARPROC GetProcAddress(HMODULE module, const char* procName) override {
    return ::GetProcAddress(module, procName);
  }
  BOOL FreeLibrary(HMODULE module) override { return ::FreeLibrary(module); }
};

}  // namespace

ILibraryLoader* Win32LibraryLoader() {
  static Win32LibraryLoaderPort port;
  return &port;
}

}  // namespace qel
