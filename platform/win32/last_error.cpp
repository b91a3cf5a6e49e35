#include "platform/ports.h"

namespace qel {

DWORD QelGetLastError() { return ::GetLastError(); }
void QelSetLastError(DWORD error) { ::SetLastError(error); }

}  // namespace qel
