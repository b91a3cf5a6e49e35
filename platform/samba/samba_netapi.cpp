#include "platform/samba/samba_netapi.h"

extern "C" {
#include <netapi.h>
}

namespace qel {

namespace {

constexpr uint32_t kNoneMapped = 1332;    // ERROR_NONE_MAPPED: Samba's "no such account"
constexpr uint32_t kUserNotFound = 2221;  // NERR_UserNotFound, as Windows says it

}  // namespace

SambaNetApi::~SambaNetApi() {
  if (context_) libnetapi_free(context_);
}

bool SambaNetApi::Open(const std::string& server, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  NET_API_STATUS status = libnetapi_init(&context_);
  if (status != 0) {
    *error = "Samba's network-management library cannot be set up (" + std::to_string(status) + ")";
    context_ = nullptr;
    return false;
  }
  libnetapi_set_use_ccache(context_);
  libnetapi_set_use_kerberos(context_);
  // Without a password set the library prompts for one on the terminal,
  // ticket or not; an empty one makes it rely on the ticket alone.
  libnetapi_set_password(context_, "");
  // A server given as "\\name" fails: the name alone.
  server_ = server;
  while (!server_.empty() && server_[0] == '\\') server_.erase(0, 1);
  return true;
}

uint32_t SambaNetApi::SetScriptPath(const std::string& user, const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!context_) return 1722;  // RPC_S_SERVER_UNAVAILABLE
  USER_INFO_1009 info = {path.c_str()};
  uint32_t parameter = 0;
  ++roundTrips_;
  NET_API_STATUS status = NetUserSetInfo(server_.c_str(), user.c_str(), 1009, reinterpret_cast<uint8_t*>(&info),
                                         &parameter);
  uint32_t code = static_cast<uint32_t>(status);
  return code == kNoneMapped ? kUserNotFound : code;
}

}  // namespace qel
