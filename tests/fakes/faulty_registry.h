// IRegistry decorator that fails chosen calls.
//
// Each operation asks the plan under its Win32 name ("RegOpenKeyA",
// "RegOpenKeyExA", "RegCreateKeyA", "RegQueryValueExA", "RegSetValueExA",
// "RegCloseKey") whether to fail; a failing call returns the planned code
// (and sets it as the last error) without reaching the wrapped registry.
#pragma once

#include "tests/fakes/fault_plan.h"

namespace qel::test {

class FaultyRegistry : public IRegistry {
 public:
  // Forwards to `inner` (default: the registry port installed now).
  explicit FaultyRegistry(IRegistry* inner = nullptr);
  FaultPlan& plan() { return plan_; }

  LONG RegOpenKeyA(HKEY root, const char* subKey, HKEY* result) override;
  LONG RegOpenKeyExA(HKEY root, const char* subKey, DWORD options, REGSAM desired, HKEY* result) override;
  LONG RegCreateKeyA(HKEY root, const char* subKey, HKEY* result) override;
  LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* type, BYTE* data, DWORD* size) override;
  LONG RegSetValueExA(HKEY key, const char* valueName, DWORD type, const BYTE* data, DWORD size) override;
  LONG RegCloseKey(HKEY key) override;

 private:
  bool Fails(const char* operation, LONG* code);

  IRegistry* inner_;
  FaultPlan plan_;
};

}  // namespace qel::test
