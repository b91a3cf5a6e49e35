// A directory port that goes to "ActiveDS.dll" itself: LoadLibraryA,
// ADsGetObject and the IDirectorySearch and IADs calls, as the program makes
// them on Windows. Used by the stand-in tests to drive the engine's container
// search over whatever ActiveDS.dll Wine loads (the stand-in).
#pragma once

#include "platform/ports.h"

namespace qel {
namespace standin_test {

IDirectoryPort* ComDirectory();

}  // namespace standin_test
}  // namespace qel
