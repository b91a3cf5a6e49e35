// The install-parameters page (109) in a terminal: the address and the
// package path are asked one line each with the current value in brackets;
// the messages are printed in brackets by their texts.
//
//   Qel System Center IP [0.0.0.0]>    an address, or "test" to probe the
//                                       shown address, or "test <address>"
//                                       to take that address and probe it;
//                                       after a test the question comes again
//   Qel install package [C:\...]>      the full path of the package: a
//                                       Windows path of the wizard's world,
//                                       or a path of this computer (/...),
//                                       which is read through drive Z:
//
// An empty answer keeps the value in brackets. A terminal has no file
// dialog: the path is typed.
#pragma once

#include <string>

#include "wizard/page3_logic.h"
#include "wizard/ui/terminal_wizard.h"

namespace qel {

class TerminalPage3View : public IPage3View {
 public:
  explicit TerminalPage3View(TerminalConsole& console) : m_console(console) {}

  std::string GetCenterAddress() override { return m_strAddress; }
  // As the IP address control: anything but four numbers of 0 to 255 leaves
  // the address blank.
  void SetCenterAddress(const std::string& address) override;
  std::string GetPackagePath() override { return m_strPackage; }
  void SetPackagePath(const std::string& path) override { m_strPackage = path; }
  void FocusControl(int controlId) override { m_nFocus = controlId; }
  void ShowMessage(UINT stringId, const std::string& text, UINT type) override;
  bool RunOpenFileDialog(const Page3OpenFile& dialog, std::string* chosen) override;

  // The control the page last moved the focus to (0: none yet).
  int Focus() const { return m_nFocus; }

 private:
  TerminalConsole& m_console;
  std::string m_strAddress;
  std::string m_strPackage;
  int m_nFocus = 0;
};

// The Windows path of a package path as typed: a path of this computer
// ("/home/me/QelSetup.exe") becomes its path on drive Z: ("Z:\home\me\QelSetup.exe"),
// which the terminal wizard mounts on the host's "/"; anything else stays.
std::string TerminalPackagePath(const std::string& typed);

// Asks the page's questions (see above). False at the end of the input.
bool AskParametersPage(TerminalConsole& console, CPage3& page, TerminalPage3View& view);

}  // namespace qel
