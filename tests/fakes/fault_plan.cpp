#include "tests/fakes/fault_plan.h"

namespace qel::test {

void FaultPlan::Fail(const std::string& operation, DWORD error, int times, int after) {
  std::lock_guard<std::mutex> lock(mutex_);
  rules_[operation] = Rule{error, times, after};
}

void FaultPlan::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  rules_.clear();
  calls_.clear();
}

bool FaultPlan::ShouldFail(const char* operation, DWORD* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++calls_[operation];
  auto it = rules_.find(operation);
  if (it == rules_.end()) return false;
  Rule& rule = it->second;
  if (rule.after > 0) {
    --rule.after;
    return false;
  }
  if (rule.times == 0) return false;
  if (rule.times > 0) --rule.times;
  if (error) *error = rule.error;
  return true;
}

int FaultPlan::Calls(const std::string& operation) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = calls_.find(operation);
  return it == calls_.end() ? 0 : it->second;
}

}  // namespace qel::test
