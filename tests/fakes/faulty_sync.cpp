#include "tests/fakes/faulty_sync.h"

namespace qel::test {

FaultySync::FaultySync(ISync* inner) : inner_(inner != nullptr ? inner : Ports().sync) {}

bool FaultySync::Fails(const char* operation) {
  DWORD error = 0;
  if (!plan_.ShouldFail(operation, &error)) return false;
  QelSetLastError(error);
  return true;
}

HANDLE FaultySync::CreateEventA(BOOL manualReset, BOOL initialState, const char* name) {
  if (Fails("CreateEventA")) return nullptr;
  return inner_->CreateEventA(manualReset, initialState, name);
}

BOOL FaultySync::SetEvent(HANDLE event) {
  if (Fails("SetEvent")) return FALSE;
  return inner_->SetEvent(event);
}

BOOL FaultySync::ResetEvent(HANDLE event) {
  if (Fails("ResetEvent")) return FALSE;
  return inner_->ResetEvent(event);
}

DWORD FaultySync::WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  if (Fails("WaitForSingleObject")) return WAIT_FAILED;
  return inner_->WaitForSingleObject(handle, milliseconds);
}

DWORD FaultySync::WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
  if (Fails("WaitForMultipleObjects")) return WAIT_FAILED;
  return inner_->WaitForMultipleObjects(count, handles, waitAll, milliseconds);
}

HANDLE FaultySync::CreateThread(LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD* threadId) {
  if (Fails("CreateThread")) return nullptr;
  return inner_->CreateThread(start, parameter, threadId);
}

HANDLE FaultySync::CreateMutexA(BOOL initialOwner, const char* name) {
  if (Fails("CreateMutexA")) return nullptr;
  return inner_->CreateMutexA(initialOwner, name);
}

HANDLE FaultySync::OpenMutexA(DWORD desiredAccess, BOOL inheritHandle, const char* name) {
  if (Fails("OpenMutexA")) return nullptr;
  return inner_->OpenMutexA(desiredAccess, inheritHandle, name);
}

BOOL FaultySync::ReleaseMutex(HANDLE mutex) {
  if (Fails("ReleaseMutex")) return FALSE;
  return inner_->ReleaseMutex(mutex);
}

BOOL FaultySync::CloseHandle(HANDLE handle) {
  if (Fails("CloseHandle")) return FALSE;
  return inner_->CloseHandle(handle);
}

}  // namespace qel::test
