// The user page in a terminal: the tree as numbered lines with their check
// marks, answered one command a line.
//
//   (empty) or "done"    leave the page (Next is then asked by the wizard)
//   "list"               show the tree ("all" shows collapsed items too)
//   "N"                  toggle the check mark of item N (a click on it)
//   "expand N"           expand item N (its content is read the first time)
//   "collapse N"         collapse item N
//   "search ACCOUNT[;DISPLAY]"   search by logon name and display name
//   "stop"               stop a running search
//   "wait"               wait until the running search has ended
//   "check y" / "check n"        the check box below the tree
//   "NAME[;NAME...]"     check these accounts (logon names) or containers
//                        (distinguished names), then leave the page
#pragma once

#include <functional>
#include <mutex>
#include <string>

#include "directory/page2.h"
#include "directory/tree_ops.h"

namespace qel {

class TerminalUserPageView : public IUserPageView {
 public:
  ITreeOps& Tree() override { return m_tree; }
  void SetExistCheckText(const char* text) override { m_strExistText = text != nullptr ? text : ""; }
  void HideExistCheck() override { m_bExistHidden = true; }
  BOOL IsExistChecked() override { return m_bExistChecked; }
  std::string GetEditText(int controlId) override;
  void EnableButton(int controlId, BOOL enable) override;
  void PlayAnimation(BOOL play) override { m_bPlaying = play != FALSE; }
  // The terminal's own commands hold the same lock while they run.
  BOOL RunOnUiThread(const std::function<void()>& work) override;

  MemoryTree& Memory() { return m_tree; }
  std::recursive_mutex& UiLock() { return m_ui; }

  std::string m_strAccount, m_strDisplay;
  std::string m_strExistText;
  bool m_bExistHidden = false;
  BOOL m_bExistChecked = FALSE;
  bool m_bSearchEnabled = true, m_bStopEnabled = false, m_bPlaying = false;

 private:
  MemoryTree m_tree;
  std::recursive_mutex m_ui;
};

struct TerminalIo {
  // False at the end of the input.
  std::function<bool(const char* prompt, std::string* line)> readLine;
  // One line of program text (ANSI).
  std::function<void(const std::string& ansi)> print;
};

// The page's lines: "  3 [x] Sales" with "+" before a container that can be
// expanded. `all`: collapsed items' children too.
std::string FormatUserTree(TerminalUserPageView& view, bool all);

// Runs the page's commands until the administrator leaves it (true) or the
// input ends (false). The page is already active.
bool RunTerminalUserPage(TerminalIo& io, CPage2& page, TerminalUserPageView& view);

}  // namespace qel
