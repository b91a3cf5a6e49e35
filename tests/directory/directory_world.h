// A domain controller for the user page's tests: a fresh host world with the
// NETLOGON scripts folder, a domain store (the sample domain unless another
// LDIF is given) serving "netapi32.dll" and the directory, the entry points
// loaded and a log; plus a recording entry sink and a page view over an
// in-memory tree.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "directory/directory_backend.h"
#include "directory/page2.h"
#include "directory/tree_ops.h"
#include "log/log_utility.h"
#include "platform/domain/domain_directory.h"
#include "platform/domain/domain_store.h"
#include "tests/fakes/fault_plan.h"
#include "tests/fakes/host/host_test_env.h"

namespace qel::test {

inline constexpr char kScriptsFolder[] = "C:\\WINDOWS\\SYSVOL\\sysvol\\test.lan\\scripts";

std::string SampleDomainText();
std::string Utf8(const wchar_t* text);

class DirectoryWorld {
 public:
  // `ldif` empty: the sample domain.
  explicit DirectoryWorld(const std::string& ldif = std::string(), DWORD majorVersion = 6);
  ~DirectoryWorld();

  HostTestEnv& env() { return *env_; }
  DomainStore& store() { return *store_; }
  DomainDirectory& directory() { return *directory_; }
  WizardState& state() { return state_; }
  std::string LogText() const;

 private:
  ScopedPorts savedPorts_;
  std::unique_ptr<HostTestEnv> env_;
  std::unique_ptr<DomainStore> store_;
  std::unique_ptr<DomainDirectory> directory_;
  std::unique_ptr<_NCOvLogHolder> log_;
  WizardState state_;
};

// What the back-ends handed over, one entry per call.
struct SinkEntry {
  std::string name;     // "<null>" for a null name
  std::string path;     // UTF-8, "<null>" for null
  std::string account;  // UTF-8, "<null>" for null
  int type;
  HTREEITEM parent;
};

class RecordingSink : public IUserEntrySink {
 public:
  HTREEITEM InsertUserItem(const char* name, const wchar_t* path, const wchar_t* account, int type,
                           HTREEITEM parent) override;
  std::vector<SinkEntry> entries;
  // The names (or accounts, for users) in order.
  std::vector<std::string> Names() const;
  std::vector<std::string> Accounts() const;
  // Called after each entry (e.g. to signal a stop event).
  std::function<void(size_t count)> afterEach;
};

// The page's window without a window: the in-memory tree, the check box,
// the edits and buttons, and a lock standing for the user-interface thread.
class TestPageView : public IUserPageView {
 public:
  ITreeOps& Tree() override { return tree; }
  void SetExistCheckText(const char* text) override { existText = text; }
  void HideExistCheck() override { existHidden = true; }
  BOOL IsExistChecked() override { return existChecked; }
  std::string GetEditText(int controlId) override { return controlId == 1002 ? accountEdit : displayEdit; }
  void EnableButton(int controlId, BOOL enable) override {
    (controlId == 1019 ? searchEnabled : stopEnabled) = enable != FALSE;
  }
  void PlayAnimation(BOOL play) override { playing = play != FALSE; }
  BOOL RunOnUiThread(const std::function<void()>& work) override {
    std::lock_guard<std::recursive_mutex> lock(ui);
    work();
    return TRUE;
  }

  MemoryTree tree;
  std::recursive_mutex ui;
  std::string existText;
  bool existHidden = false;
  BOOL existChecked = FALSE;
  std::string accountEdit, displayEdit;
  bool searchEnabled = true, stopEnabled = false, playing = false;

  // Labels of the items, depth-first, children indented by two spaces.
  std::vector<std::string> Labels();
  HTREEITEM FindItem(const std::string& label);
};

// Waits until the page's search has ended; false after 20 s.
bool WaitSearchEnd(CPage2& page);

}  // namespace qel::test
