// What qel-deploy adds around a run: the what-if ports and listing, the run
// record, undo from a record, and JSON output.
#pragma once

#include <memory>
#include <string>

#include "deploy/run_listing.h"
#include "deploy/run_record.h"
#include "deploy/what_if.h"
#include "platform/host/host_ports.h"

namespace qel {

class RunExtras {
 public:
  RunExtras(std::string operation, bool whatIf, bool json, const HostConfig& config);
  ~RunExtras();
  // Before the run: opens the record of a real run (false, with a message,
  // when it cannot be made: the run does not start), or prints the what-if
  // heading. controller: this domain controller's computer name.
  bool Begin(const char* controller);
  IRunObserver* observer() { return observer_.get(); }
  // After the run: the what-if closing line, or the record's path.
  void End(int total, int succeeded);

 private:
  std::string operation_;
  bool json_;
  const HostConfig& config_;
  std::unique_ptr<ScopedWhatIf> whatIf_;
  std::unique_ptr<RunRecord> record_;
  std::unique_ptr<ListingObserver> listing_;
  std::unique_ptr<ObserverPair> observer_;
};

// qel-deploy ... undo RECORD.csv: 0 done, 1 the record or the controller
// cannot be used, 2 the record is refused (nothing changed), 3 some accounts
// were not restored.
int RunUndo(const std::string& recordFile, bool whatIf, bool json, const HostConfig& config);

// One account of --list --json.
std::string AccountListJson(const std::string& name, const std::string& script, DWORD flags);

}  // namespace qel
