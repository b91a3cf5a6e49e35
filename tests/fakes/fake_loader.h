// A library loader whose modules and entry points a test chooses.
//
// It serves the modules registered on it and, for every other name, asks the
// loader it wraps (if any). Any module can be made to be missing (LoadLibraryA
// fails with ERROR_MOD_NOT_FOUND) and any single entry point hidden
// (GetProcAddress fails with ERROR_PROC_NOT_FOUND), so a test can offer, for
// example, a "netapi32.dll" that lacks only NetQueryDisplayInformation.
// Module names match as Windows matches them: without case, ".dll" optional.
// The plan's operations are "LoadLibraryA", "GetProcAddress", "FreeLibrary".
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "tests/fakes/fault_plan.h"

namespace qel::test {

class FakeLoader : public ILibraryLoader {
 public:
  // `inner` null: only the registered modules exist.
  explicit FakeLoader(ILibraryLoader* inner = nullptr);
  FaultPlan& plan() { return plan_; }

  // Registers an (empty) module; it hides a module of the same name in `inner`.
  void AddModule(const std::string& module);
  void AddProc(const std::string& module, const std::string& proc, FARPROC address);
  template <class Function>
  void AddProc(const std::string& module, const std::string& proc, Function* function) {
    AddProc(module, proc, reinterpret_cast<FARPROC>(function));
  }
  void RemoveModule(const std::string& module);
  void RemoveProc(const std::string& module, const std::string& proc);

  // Successful loads minus successful frees of the module.
  int OpenCount(const std::string& module) const;

  HMODULE LoadLibraryA(const char* fileName) override;
  FARPROC GetProcAddress(HMODULE module, const char* procName) override;
  BOOL FreeLibrary(HMODULE module) override;

  // "C:\x\NETAPI32.DLL" -> "netapi32".
  static std::string Key(const std::string& module);

 private:
  struct Module {
    std::string key;
    std::map<std::string, FARPROC> procs;
  };
  // The key of a handle this loader gave out, or empty.
  std::string KeyOf(HMODULE module) const;

  ILibraryLoader* inner_;
  FaultPlan plan_;
  mutable std::mutex mutex_;
  std::map<std::string, std::unique_ptr<Module>> modules_;
  std::set<std::string> removedModules_;
  std::set<std::pair<std::string, std::string>> removedProcs_;
  std::map<HMODULE, std::string> innerHandles_;
  std::map<std::string, int> openCounts_;
};

}  // namespace qel::test
