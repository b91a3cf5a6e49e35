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

// At namespace scope and constant-initialised: a function-local static
// would need a thread-safe guard, which pulls much of the C++ runtime into
// the small checker program.
Win32LibraryLoaderPort g_port;

}  // namespace

ILibraryLoader* Win32LibraryLoader() { return &g_port; }

}  // namespace qel
