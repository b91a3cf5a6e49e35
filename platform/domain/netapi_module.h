// The network-management entry points with their Windows shapes, forwarding
// to the account store installed in Ports().accounts. The host's loader and
// the stand-ins for "netapi32.dll" hand these out by name.
#pragma once

#include "platform/netapi_types.h"

namespace qel {

// "NetGroupGetUsers", "NetApiBufferFree", "NetUserGetInfo", "NetUserSetInfo",
// "NetQueryDisplayInformation", "DsGetDcNameA", "NetGetDCName" (exact names,
// as GetProcAddress matches them); null for any other name.
FARPROC DomainNetApiProc(const char* name);

}  // namespace qel
