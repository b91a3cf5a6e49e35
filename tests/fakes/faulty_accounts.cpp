#include "tests/fakes/faulty_accounts.h"

namespace qel::test {

namespace {

// Account names in plan keys: ASCII folded to lower case, others as "?".
std::string PlanName(LPCWSTR account) {
  std::string out;
  for (; account && *account; ++account) {
    wchar_t c = *account;
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c + 32);
    out += c < 0x80 ? static_cast<char>(c) : '?';
  }
  return out;
}

}  // namespace

FaultyAccounts::FaultyAccounts(IAccountStore* inner) : inner_(inner ? inner : Ports().accounts) {}

int FaultyAccounts::LiveBuffers() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(live_.size());
}

int FaultyAccounts::BadFrees() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return badFrees_;
}

bool FaultyAccounts::ShouldFailFor(const char* operation, LPCWSTR account, DWORD* error) {
  if (plan_.ShouldFail(operation, error)) return true;
  std::string key = std::string(operation) + ":" + PlanName(account);
  return plan_.ShouldFail(key.c_str(), error);
}

void FaultyAccounts::Remember(void* buffer) {
  if (!buffer) return;
  std::lock_guard<std::mutex> lock(mutex_);
  live_.insert(buffer);
}

NET_API_STATUS FaultyAccounts::NetGroupGetUsers(LPCWSTR server, LPCWSTR group, DWORD level, LPBYTE* buffer,
                                                DWORD preferredMaximumLength, LPDWORD entriesRead,
                                                LPDWORD totalEntries, DWORD_PTR* resumeHandle) {
  DWORD error;
  if (plan_.ShouldFail("NetGroupGetUsers", &error)) {
    if (buffer) *buffer = nullptr;
    return error;
  }
  NET_API_STATUS status =
      inner_->NetGroupGetUsers(server, group, level, buffer, preferredMaximumLength, entriesRead, totalEntries,
                               resumeHandle);
  if (buffer) Remember(*buffer);
  return status;
}

NET_API_STATUS FaultyAccounts::NetApiBufferFree(LPVOID buffer) {
  if (buffer) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!live_.erase(buffer)) {
      ++badFrees_;
      return ERROR_INVALID_PARAMETER;
    }
  }
  DWORD error;
  NET_API_STATUS status = inner_->NetApiBufferFree(buffer);
  // A failure here is reported only after the block was released.
  return plan_.ShouldFail("NetApiBufferFree", &error) ? error : status;
}

NET_API_STATUS FaultyAccounts::NetUserGetInfo(LPCWSTR server, LPCWSTR user, DWORD level, LPBYTE* buffer) {
  DWORD error;
  if (ShouldFailFor("NetUserGetInfo", user, &error)) {
    if (buffer) *buffer = nullptr;
    return error;
  }
  NET_API_STATUS status = inner_->NetUserGetInfo(server, user, level, buffer);
  if (buffer) Remember(*buffer);
  return status;
}

NET_API_STATUS FaultyAccounts::NetUserSetInfo(LPCWSTR server, LPCWSTR user, DWORD level, LPBYTE buffer,
                                              LPDWORD parameterError) {
  DWORD error;
  if (ShouldFailFor("NetUserSetInfo", user, &error)) return error;
  return inner_->NetUserSetInfo(server, user, level, buffer, parameterError);
}

NET_API_STATUS FaultyAccounts::NetQueryDisplayInformation(LPCWSTR server, DWORD level, DWORD index,
                                                          DWORD entriesRequested, DWORD preferredMaximumLength,
                                                          LPDWORD returnedEntryCount, PVOID* sortedBuffer) {
  DWORD error;
  if (plan_.ShouldFail("NetQueryDisplayInformation", &error)) {
    if (returnedEntryCount) *returnedEntryCount = 0;
    if (sortedBuffer) *sortedBuffer = nullptr;
    return error;
  }
  NET_API_STATUS status = inner_->NetQueryDisplayInformation(server, level, index, entriesRequested,
                                                             preferredMaximumLength, returnedEntryCount, sortedBuffer);
  if (sortedBuffer) Remember(*sortedBuffer);
  return status;
}

DWORD FaultyAccounts::DsGetDcNameA(LPCSTR computer, LPCSTR domain, GUID* domainGuid, LPCSTR site, ULONG flags,
                                   PDOMAIN_CONTROLLER_INFOA* info) {
  DWORD error;
  if (plan_.ShouldFail("DsGetDcNameA", &error)) {
    if (info) *info = nullptr;
    return error;
  }
  DWORD status = inner_->DsGetDcNameA(computer, domain, domainGuid, site, flags, info);
  if (info) Remember(*info);
  return status;
}

NET_API_STATUS FaultyAccounts::NetGetDCName(LPCWSTR server, LPCWSTR domain, LPBYTE* buffer) {
  DWORD error;
  if (plan_.ShouldFail("NetGetDCName", &error)) {
    if (buffer) *buffer = nullptr;
    return error;
  }
  NET_API_STATUS status = inner_->NetGetDCName(server, domain, buffer);
  if (buffer) Remember(*buffer);
  return status;
}

}  // namespace qel::test
