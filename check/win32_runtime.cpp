// Pieces of the C++ runtime, replaced for QelCheck.exe alone.
//
// The checker is one thread from start to end. The runtime's own versions of
// these would bring in the threads library (guards of function-local
// statics) and exception handling with the verbose terminate handler and its
// demangler (operator new, pure virtual calls): several times the size of
// the whole program.
#include <new>

#include "platform/win_types.h"

namespace {
// The guard's first byte says "initialised", as the Itanium ABI lays it out.
typedef unsigned char GuardByte;
}  // namespace

extern "C" {

int __cxa_guard_acquire(GuardByte* guard) { return *guard == 0 ? 1 : 0; }
void __cxa_guard_release(GuardByte* guard) { *guard = 1; }
void __cxa_guard_abort(GuardByte*) {}

// Cannot happen: no object of an abstract port is ever used. Should it, the
// program ends as every other path does, with exit code 0.
void __cxa_pure_virtual() { ::ExitProcess(0); }

}  // extern "C"

// The process heap, without exceptions: a failed allocation is a null
// pointer for the nothrow forms; for the others the program ends with the
// exit code of every other path.
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  return ::HeapAlloc(::GetProcessHeap(), 0, size != 0 ? size : 1);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
  return ::HeapAlloc(::GetProcessHeap(), 0, size != 0 ? size : 1);
}
void* operator new(size_t size) {
  void* block = ::HeapAlloc(::GetProcessHeap(), 0, size != 0 ? size : 1);
  if (block == nullptr) ::ExitProcess(0);
  return block;
}
void* operator new[](size_t size) { return operator new(size); }
void operator delete(void* block) noexcept {
  if (block != nullptr) ::HeapFree(::GetProcessHeap(), 0, block);
}
void operator delete[](void* block) noexcept { operator delete(block); }
void operator delete(void* block, size_t) noexcept { operator delete(block); }
void operator delete[](void* block, size_t) noexcept { operator delete(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { operator delete(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { operator delete(block); }
