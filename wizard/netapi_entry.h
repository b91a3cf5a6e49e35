// The network-management entry points, resolved by name from "netapi32.dll"
// once at start-up. Every account operation of the program goes through this
// table: the library itself is never linked.
#pragma once

#include "platform/netapi_types.h"

namespace qel {

struct NetApiEntryPoints {
  PFN_NetGroupGetUsers NetGroupGetUsers = nullptr;
  PFN_NetApiBufferFree NetApiBufferFree = nullptr;
  PFN_NetUserGetInfo NetUserGetInfo = nullptr;
  PFN_NetUserSetInfo NetUserSetInfo = nullptr;
  PFN_NetQueryDisplayInformation NetQueryDisplayInformation = nullptr;
};

// The process's table. Written only by LoadNetApiEntryPoints, before any
// other thread exists; read without a lock afterwards.
extern NetApiEntryPoints g_NetApi;

// Loads "netapi32.dll" through Loader() and resolves the five entry points in
// the order of the table. The first one missing stops the loader with FALSE;
// those resolved before it stay set. The library is never freed.
BOOL LoadNetApiEntryPoints();

}  // namespace qel
