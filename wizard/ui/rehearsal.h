// Rehearsal: the whole wizard run against a domain kept in an LDIF file
// instead of the real domain.
//
// Accounts come from a DomainStore (through a "netapi32.dll" served by the
// loader from DomainNetApiProc), the directory from a DomainDirectory, and
// the Netlogon service's "Scripts" value names <folder>\NETLOGON. The
// locator names this computer, so the start-up gate passes. The registry is
// read-only: every write is refused. The domain file itself is never
// changed: the run works on a copy, <folder>/domain.ldif, made from it the
// first time and kept, so that a later rehearsal sees what an earlier one did.
#pragma once

#include <memory>
#include <string>

#include "platform/ports.h"

namespace qel {

class DomainStore;
class DomainDirectory;

class Rehearsal {
 public:
  Rehearsal();
  ~Rehearsal();
  Rehearsal(const Rehearsal&) = delete;
  Rehearsal& operator=(const Rehearsal&) = delete;

  // domainFile and folder are native paths; windowsFolder is the folder as
  // the ports see it (the same text on Windows; "C:\..." of the host world).
  // Installs the rehearsal's ports over the current ones. False with a
  // message in *error when the domain cannot be read or the folder made.
  bool Start(const std::string& domainFile, const std::string& folder, const std::string& windowsFolder,
             std::string* error);
  // Writes the domain copy and puts the previous ports back (not while a
  // deployment run is still active: its writes stay in the rehearsal; what it
  // writes after this goes to the domain copy's journal).
  bool Finish(std::string* error);

  std::string DomainCopy() const { return domainCopy_; }
  std::string ScriptsFolder() const { return scriptsFolder_; }

 private:
  class Accounts;
  class Loader;
  class Registry;

  PlatformPorts previous_;
  bool started_ = false;
  bool portsKept_ = false;  // Finish left the ports to a run still active
  std::string domainCopy_;
  std::string scriptsFolder_;
  std::unique_ptr<DomainStore> store_;
  std::unique_ptr<DomainDirectory> directory_;
  std::unique_ptr<Accounts> accounts_;
  std::unique_ptr<Loader> loader_;
  std::unique_ptr<Registry> registry_;
};

}  // namespace qel
