// Fault injection shared by every fake port.
//
// A fake port asks its plan at the start of each operation whether that call
// must fail, and with which code; the plan also counts the calls, so a test
// can check that an operation was (or was not) made.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "platform/ports.h"

namespace qel::test {

class FaultPlan {
 public:
  // After `after` successful calls of `operation`, the next `times` calls fail
  // with `error` (times < 0: every later call fails).
  void Fail(const std::string& operation, DWORD error, int times = 1, int after = 0);
  void Clear();
  // True when this call of `operation` must fail; *error receives the code.
  // Counts the call either way.
  bool ShouldFail(const char* operation, DWORD* error);
  int Calls(const std::string& operation) const;

 private:
  struct Rule {
    DWORD error = 0;
    int times = 0;
    int after = 0;
  };
  mutable std::mutex mutex_;
  std::map<std::string, Rule> rules_;
  std::map<std::string, int> calls_;
};

// Saves the process's ports and puts them back when it goes out of scope, so
// a test can replace single ports freely.
class ScopedPorts {
 public:
  ScopedPorts() : saved_(Ports()) {}
  ~ScopedPorts() { Ports() = saved_; }
  ScopedPorts(const ScopedPorts&) = delete;
  ScopedPorts& operator=(const ScopedPorts&) = delete;

 private:
  PlatformPorts saved_;
};

}  // namespace qel::test
