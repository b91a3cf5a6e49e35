#include "platform/ports.h"

namespace qel {

namespace {
thread_local DWORD g_lastError = 0;
}

DWORD QelGetLastError() { return g_lastError; }
void QelSetLastError(DWORD error) { g_lastError = error; }

}  // namespace qel
