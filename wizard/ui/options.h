// The command line of QelScript (Win32) and qelscript (terminal).
//
//   /rehearse <domain.ldif> <folder>   run against a domain file (see rehearsal.h)
//   /lang <id>                        1033, 2052 or 1028: the language of the
//                                     pages and the texts (default: the
//                                     user's language on Windows, English
//                                     on the host)
//   /select <name>[,<name>...]         accounts (logon names) or containers
//                                     (distinguished names) the stand-in user
//                                     page selects
//   /center <address>                 put into the install-parameters page's
//   /package <path>                   address and package controls over their
//                                     defaults; Next checks them as typed
//
// Every switch may also be written with "--" or "-". Without /rehearse the
// program works on the real domain as its start-up gate allows.
#pragma once

#include <string>
#include <vector>

#include "platform/win_types.h"

namespace qel {

struct FrontEndOptions {
  bool rehearse = false;
  std::string domainFile;
  std::string folder;
  WORD language = 0;  // 0: not given
  std::vector<std::string> select;
  std::string center;
  std::string package;
};

// False with a message in *error for an unknown switch or a missing value.
bool ParseFrontEndOptions(const std::vector<std::string>& arguments, FrontEndOptions* options, std::string* error);

}  // namespace qel
