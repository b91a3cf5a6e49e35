// The import slot of GetTickCount64, filled by the program itself.
//
// The threading library that the C++ runtime links in statically calls
// GetTickCount64 (for its timed waits), which Windows only has from Vista on;
// a program importing it does not even load on Windows 2000, XP or Server
// 2003. Defining the slot here keeps the import out of the program: the
// linker takes this definition instead of kernel32's. The function asks
// kernel32 for the real one at run time and otherwise extends GetTickCount.
//
// Linked as an object of each program (an archive member would come too
// late: the runtime libraries are searched after the program's own ones).
#include <windows.h>

#include "platform/tick_count.h"

namespace {

typedef ULONGLONG(WINAPI* TickCount64Fn)();

DWORD ReadTickCount() { return GetTickCount(); }

ULONGLONG WINAPI TickCount64() {
  static TickCount64Fn real = nullptr;
  static LONG resolved = 0;  // 1 once `real` is settled
  if (InterlockedCompareExchange(&resolved, 0, 0) == 0) {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    TickCount64Fn found =
        kernel != nullptr ? reinterpret_cast<TickCount64Fn>(GetProcAddress(kernel, "GetTickCount64")) : nullptr;
    real = found;
    InterlockedExchange(&resolved, 1);
  }
  if (real != nullptr) return real();
  static uint64_t state = 0;
  return qel::ExtendTickCount(&state, &ReadTickCount);
}

}  // namespace

// The slot the callers' "call [__imp_GetTickCount64]" reads.
#if defined(__i386__)
extern "C" void* qel_imp_GetTickCount64 __asm__("__imp__GetTickCount64@0");
#else
extern "C" void* qel_imp_GetTickCount64 __asm__("__imp_GetTickCount64");
#endif
void* qel_imp_GetTickCount64 = reinterpret_cast<void*>(&TickCount64);
