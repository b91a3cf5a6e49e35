// The host registry: IRegistry over one .reg text file (format in reg_file.h).
//
// Every change is written back at once, atomically, and the file is read
// again whenever it changed on disk since it was last read, so several
// processes (the wizard, the checker, a test seeding values) can share it.
// A malformed file is never overwritten: while the file cannot be parsed,
// every call fails with ERROR_BADDB and HostRegistryError() tells why.
#pragma once

#include <string>

#include "platform/ports.h"

namespace qel {

// The reason a host registry refuses its calls (file, line and problem), or
// empty when it works. Empty as well for registries that are not host ones.
std::string HostRegistryError(IRegistry& registry);

}  // namespace qel
