// Generated domains for benchmarks and large tests: the same shape as the
// sample domain, any size.
#pragma once

#include <string>

namespace qel {

struct GeneratedDomain {
  int accounts = 1000;
  int organizationalUnits = 10;  // accounts are spread evenly over them
  // Every n-th account has a logon script of its own (0: none).
  int ownScriptEvery = 3;
};

// LDIF of domain TEST (test.lan, controller DC1): the domain object, CN=Users
// with the group "Domain Users", OU=Domain Controllers with DC1$, and the
// organizational units (twenty top units, the rest below them) holding
// accounts "user000001"... in order.
std::string GenerateDomainLdif(const GeneratedDomain& shape);

}  // namespace qel
