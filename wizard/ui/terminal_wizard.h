// The wizard in a terminal: the same pages and page logic as the Win32
// program, shown as text and answered one line at a time, so that it can be
// used interactively or driven from a script.
//
// Answers, one per line (an empty line takes the default in brackets):
//   first page         "add" or "remove"                       [the last choice; add at first]
//   user page          account logon names and container DNs,
//                      separated by ";"                          [the last selection]
//                      then the check box, "y" or "n"           [n]
//   parameters page    the system center address ("test" or "test <address>"
//                      probes it and asks again), then the package path
//                      (see terminal_page3.h)
//   after each page    "next", "back" or "cancel"               [next]
//                      or, before the run, "whatif": the progress step lists
//                      what the run would do, account by account, and
//                      writes nothing
//   progress page      the list lines are printed as they come; Ctrl+C asks
//                      whether to stop ("y" or "n" [n]); when the run has
//                      ended, "finish" (or the end of the input) closes
// The end of the input on any earlier page cancels the wizard.
#pragma once

#include <cstdio>
#include <istream>
#include <mutex>
#include <string>

#include "wizard/page1.h"
#include "wizard/page_finish.h"
#include "wizard/ui/options.h"
#include "wizard/wizard_page.h"

namespace qel {

// Program texts (ANSI, in the code page of the ports) as UTF-8 for the terminal.
std::string AnsiToUtf8(const std::string& text);
// The terminal's UTF-8 as program text. False, with the characters the code
// page lacks in *outside, when it has no form there; text that is not UTF-8
// is taken as program text already.
bool Utf8ToAnsi(const std::string& utf8, std::string* ansi, std::wstring* outside);

// A fixed text of a page in the language of the string table, from the
// page's dialog template as the Windows wizard shows it (UTF-8, without
// mnemonic); `english` is the English template's text.
std::string PageText(UINT dialogId, const char* english);
// The same for a field's label, without its closing colon.
std::string PageLabel(UINT dialogId, const char* english);

class TerminalConsole {
 public:
  TerminalConsole(std::istream& in, std::FILE* out) : m_in(in), m_out(out) {}
  // False at the end of the input.
  bool ReadLine(const char* prompt, std::string* line);
  void Print(const std::string& utf8);
  int MessageBox(const char* ansiText, UINT type);

 private:
  std::istream& m_in;
  std::FILE* m_out;
  std::mutex m_mutex;
};

class TerminalPage1View : public IPage1View {
 public:
  void SetAddChecked(BOOL add) override { m_bAdd = add; }
  BOOL IsAddChecked() override { return m_bAdd; }
  BOOL m_bAdd = TRUE;
};

class TerminalProgressView : public IProgressPageView {
 public:
  explicit TerminalProgressView(TerminalConsole& console) : m_console(console) {}
  void InitList() override {}
  void SetHeading(const char* text) override;
  void SetAction(const char*) override {}
  void SetRange(WORD upper) override;
  void SetPos(int position) override;
  void StepIt() override;
  int GetRangeUpper() override;
  void ClearList() override {}
  void AppendLine(const char* text) override;

 private:
  TerminalConsole& m_console;
  std::mutex m_mutex;
  ProgressBarModel m_bar;
};

// Runs the whole wizard on the terminal. The deployment run is `run`.
void RunTerminalWizard(TerminalConsole& console, const FrontEndOptions& options, DeploymentRun run);

// Set by the interrupt handler: the administrator asked to close.
void RequestTerminalCancel();

}  // namespace qel
