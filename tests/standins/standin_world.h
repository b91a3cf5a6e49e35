// A domain controller's world inside the Wine prefix for the stand-in tests:
// a folder with the NETLOGON scripts folder (named by the Netlogon service's
// "Scripts" value), a copy of the sample domain served by the stand-in
// netapi32.dll, and an install package. The production adapters are used
// throughout: InstallWin32Ports, the real LoadLibraryA and the engine.
#pragma once

#include <string>
#include <vector>

#include "deploy/progress.h"
#include "platform/win_types.h"

namespace qel {
namespace standin_test {

// The Netlogon service's "Scripts" value, set for a while and put back.
class ScriptsValue {
 public:
  ScriptsValue() = default;
  ~ScriptsValue();
  ScriptsValue(const ScriptsValue&) = delete;
  ScriptsValue& operator=(const ScriptsValue&) = delete;
  bool Set(const std::string& folder);

 private:
  bool set_ = false;
  bool hadValue_ = false;
  std::string old_;
};

class World {
 public:
  World();   // makes the folder, copies the domain, points the registry at it
  ~World();  // puts the registry back and removes the folder
  bool ok() const { return ok_; }
  const std::string& Error() const { return error_; }
  const std::string& Folder() const { return folder_; }
  const std::string& Scripts() const { return scripts_; }
  const std::string& Domain() const { return domain_; }
  const std::string& Package() const { return package_; }

 private:
  bool ok_ = false;
  std::string folder_, scripts_, domain_, package_, error_;
  ScriptsValue scriptsValue_;
};

// The sample domain file (QEL_SAMPLE_DOMAIN, else the tree's sample).
std::string SampleDomain();

void SetSetting(const char* name, const char* value);  // null removes it

struct Selection {
  std::vector<std::string> users;       // logon names
  std::vector<std::string> containers;  // distinguished names
};

struct RunResult {
  BOOL initialised = FALSE;
  BOOL finished = FALSE;  // ChangeAllScript's result
  int total = 0;
  int succeeded = 0;
  std::vector<std::string> messages;  // message boxes of the run
  std::vector<std::string> lines;     // "<kind> <text>" per progress report
};

// One run as the progress page makes it: Init, SetCenterIP, SetPackagePath,
// ChangeAllScript, with the selection as the user page leaves it.
RunResult RunDeployment(bool install, const Selection& selection, const std::string& centerIP,
                        const std::string& package, bool noCopyWhenExist, bool removeWhenExist);

// The account's logon script path through the loaded NetUserGetInfo; "?" plus
// the error when it cannot be read.
std::string ScriptPathOf(const char* account);
DWORD FlagsOf(const char* account);

bool FileExists(const std::string& path);
std::string ReadFile(const std::string& path);

}  // namespace standin_test
}  // namespace qel
