#include "wizard/netapi_entry.h"

#include "platform/ports.h"

namespace qel {

NetApiEntryPoints g_NetApi;

namespace {

// GetProcAddress hands out a generic pointer; the shape is the caller's.
template <typename Fn>
bool Resolve(HMODULE module, const char* name, Fn* slot) {
  *slot = reinterpret_cast<Fn>(Loader().GetProcAddress(module, name));
  return *slot != nullptr;
}

}  // namespace

BOOL LoadNetApiEntryPoints() {
  HMODULE module = Loader().LoadLibraryA("netapi32.dll");
  if (module == nullptr) return FALSE;
  if (!Resolve(module, "NetGroupGetUsers", &g_NetApi.NetGroupGetUsers)) return FALSE;
  if (!Resolve(module, "NetApiBufferFree", &g_NetApi.NetApiBufferFree)) return FALSE;
  if (!Resolve(module, "NetUserGetInfo", &g_NetApi.NetUserGetInfo)) return FALSE;
  if (!Resolve(module, "NetUserSetInfo", &g_NetApi.NetUserSetInfo)) return FALSE;
  if (!Resolve(module, "NetQueryDisplayInformation", &g_NetApi.NetQueryDisplayInformation)) return FALSE;
  return TRUE;
}

}  // namespace qel
