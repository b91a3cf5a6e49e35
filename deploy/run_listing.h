// A run's decisions as lines for a terminal and as JSON objects, for the
// what-if listing and for scripts. Texts are UTF-8.
#pragma once

#include <functional>
#include <string>

#include "deploy/run_observer.h"

namespace qel {

// "    jdoe: "logon.bat" -> "Qeljdoe.bat", wrapper Qeljdoe.bat created; changed: <reason>"
std::string AccountLine(const AccountDecision& decision);
// "    created C:\...\QelCheck.exe; changed: copied"
std::string FileLine(const FileDecision& decision);

// One JSON object each, on one line, with stable field names:
// {"type":"account","operation":..,"account":..,"dn":..,"before":..,"after":..,
//  "flags_before":..,"flags_after":..,"file_action":..,"file":..,"result":..,"reason":..}
// {"type":"file","operation":..,"file_action":..,"file":..,"result":..,"reason":..}
std::string AccountJson(const std::string& operation, const AccountDecision& decision);
std::string FileJson(const std::string& operation, const FileDecision& decision);
// A JSON string literal of UTF-8 text.
std::string JsonString(const std::string& utf8);

// Hands each decision, as a line or a JSON object, to print.
class ListingObserver : public IRunObserver {
 public:
  ListingObserver(std::string operation, bool json, std::function<void(const std::string&)> print)
      : operation_(std::move(operation)), json_(json), print_(std::move(print)) {}
  void OnAccount(const AccountDecision& decision) override;
  void OnFile(const FileDecision& decision) override;

 private:
  std::string operation_;
  bool json_;
  std::function<void(const std::string&)> print_;
};

// Tells every decision to two observers (either may be null).
class ObserverPair : public IRunObserver {
 public:
  ObserverPair(IRunObserver* first, IRunObserver* second) : first_(first), second_(second) {}
  void OnAccount(const AccountDecision& decision) override {
    if (first_ != nullptr) first_->OnAccount(decision);
    if (second_ != nullptr) second_->OnAccount(decision);
  }
  void OnFile(const FileDecision& decision) override {
    if (first_ != nullptr) first_->OnFile(decision);
    if (second_ != nullptr) second_->OnFile(decision);
  }

 private:
  IRunObserver* first_;
  IRunObserver* second_;
};

}  // namespace qel
