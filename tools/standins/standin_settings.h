// Settings of the stand-in "netapi32.dll" and "ActiveDS.dll", read from the
// process environment at each call so that a test can change them between
// two calls:
//
//   QEL_STANDIN_DOMAIN  the domain file (LDIF) the stand-ins serve; a Unix
//                       path is taken through Wine's Z: drive.
//   QEL_STANDIN_DC      the controller the locator names (default: this
//                       computer, so the domain-controller gate passes).
//   QEL_STANDIN_FAIL    calls that fail with a chosen code, as a list of
//                       Call[:subject]=code entries separated by "," or ";",
//                       code decimal or 0x hexadecimal, for example
//                       "NetUserSetInfo:jdoe=5,ADsGetObject:GC=0x8007203A".
//                       The subject is the account (NetUserGetInfo,
//                       NetUserSetInfo), the group (NetGroupGetUsers) or the
//                       beginning of the ADSI path (ADsGetObject and the
//                       search methods), all without regard to case; an
//                       entry without a subject fails every call.
//
// Plain C++ without Windows calls, so that the rules are tested on any host.
#pragma once

#include <cstdint>
#include <string>

namespace qel {
namespace standin {

// The code for `call` on `subject` (may be null) named by `setting`, or 0 when
// the call is to go through. The first matching entry decides. Entries that
// cannot be read are ignored.
uint32_t FindFault(const char* setting, const char* call, const wchar_t* subject);

// The domain file's path as a Windows program opens it: "/a/b" becomes
// "Z:\a\b"; any other text is returned as it is.
std::string WindowsPath(const std::string& path);

}  // namespace standin
}  // namespace qel
