// Samba's own network-management library (libnetapi), for what it does
// soundly on a Samba controller: writing an account's script path at level
// 1009. Its level-3 write turns other flags on, its group listing leaves out
// primary-group members and its listing reports no flags, so the rest goes
// through the directory. Kept apart from the core's Windows-shaped headers:
// Samba's declares the same names with other shapes.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

struct libnetapi_ctx;

namespace qel {

class SambaNetApi {
 public:
  SambaNetApi() = default;
  ~SambaNetApi();
  SambaNetApi(const SambaNetApi&) = delete;
  SambaNetApi& operator=(const SambaNetApi&) = delete;

  // With the caller's Kerberos ticket, against the controller named `server`
  // (its DNS name, without backslashes). False with *error when the library
  // cannot be set up.
  bool Open(const std::string& server, std::string* error);

  // NetUserSetInfo level 1009 of `user`, both UTF-8; the Windows code:
  // 0, 2221 for an unknown account (Samba says 1332), 5, ...
  uint32_t SetScriptPath(const std::string& user, const std::string& path);

  uint64_t RoundTrips() const { return roundTrips_; }

 private:
  ::libnetapi_ctx* context_ = nullptr;
  std::string server_;
  uint64_t roundTrips_ = 0;
  std::mutex mutex_;
};

}  // namespace qel
