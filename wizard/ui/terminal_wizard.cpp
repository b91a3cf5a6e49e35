#include "wizard/ui/terminal_wizard.h"

#include <atomic>
#include <cstring>
#include <vector>

#include "directory/page2.h"
#include "directory/ui/terminal_user_page.h"
#include "deploy/text_util.h"
#include "platform/ports.h"
#include "res/dialog_texts.h"
#include "res/resource.h"
#include "res/string_table.h"
#include "wizard/deploy_runner.h"
#include "wizard/ui/page3_presets.h"
#include "wizard/ui/terminal_page3.h"

namespace qel {

namespace {

std::atomic<bool> g_cancelRequested{false};

void AppendUtf8(std::string& out, unsigned code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

std::string Text(UINT id) {
  char buffer[512];
  LoadResString(id, buffer, sizeof(buffer));
  return buffer;
}

std::string Trim(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t\r");
  if (begin == std::string::npos) return std::string();
  size_t end = text.find_last_not_of(" \t\r");
  return text.substr(begin, end - begin + 1);
}

}  // namespace

void RequestTerminalCancel() { g_cancelRequested = true; }

std::string AnsiToUtf8(const std::string& text) {
  bool ascii = true;
  for (unsigned char c : text) ascii = ascii && c < 0x80;
  if (ascii || Ports().codePage == nullptr) return text;
  int length = CodePage().MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) return text;
  std::vector<wchar_t> wide(static_cast<size_t>(length));
  CodePage().MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), wide.data(), length);
  std::string out;
  for (wchar_t c : wide) AppendUtf8(out, static_cast<unsigned>(c));
  return out;
}

bool Utf8ToAnsi(const std::string& utf8, std::string* ansi, std::wstring* outside) {
  outside->clear();
  bool ascii = true;
  for (unsigned char c : utf8) ascii = ascii && c < 0x80;
  *ansi = utf8;
  if (ascii || Ports().codePage == nullptr) return true;
  int length = CodePage().MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.c_str(), -1, nullptr, 0);
  if (length <= 0) return true;
  std::vector<wchar_t> wide(static_cast<size_t>(length));
  CodePage().MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.c_str(), -1, wide.data(), length);
  *outside = CharactersOutsideCodePage(wide.data());
  if (!outside->empty()) return false;
  *ansi = AnsiString(wide.data());
  return true;
}

std::string PageText(UINT dialogId, const char* english) {
  return PlainPageText(PageTextUtf8(GetStringLanguage(), dialogId, english));
}

std::string PageLabel(UINT dialogId, const char* english) {
  std::string text = PageText(dialogId, english);
  const char* const kColons[] = {":", "\xEF\xBC\x9A"};  // and the full-width colon of the Chinese templates
  for (const char* colon : kColons) {
    size_t n = std::strlen(colon);
    if (text.size() >= n && text.compare(text.size() - n, n, colon) == 0) return text.substr(0, text.size() - n);
  }
  return text;
}

bool TerminalConsole::ReadLine(const char* prompt, std::string* line) {
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      std::fprintf(m_out, "%s", prompt);
      std::fflush(m_out);
    }
    std::string typed;
    if (!std::getline(m_in, typed)) return false;
    typed = Trim(typed);
    // The program works in its code page; an answer it cannot hold is asked again.
    std::wstring outside;
    if (Utf8ToAnsi(typed, line, &outside)) return true;
    std::vector<wchar_t> wide(typed.size() + 1);
    CodePage().MultiByteToWideChar(CP_UTF8, 0, typed.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
    Print(OutsideCodePageText(IDS_ANSWER_OUTSIDE_CODE_PAGE, wide.data(), outside));
  }
}

void TerminalConsole::Print(const std::string& utf8) {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::fprintf(m_out, "%s\n", utf8.c_str());
  std::fflush(m_out);
}

int TerminalConsole::MessageBox(const char* ansiText, UINT type) {
  Print("[" + AnsiToUtf8(ansiText) + "]");
  if ((type & MB_YESNO) == 0) return IDOK;
  std::string answer;
  bool defaultNo = (type & MB_DEFBUTTON2) != 0;
  if (!ReadLine(defaultNo ? "yes/no [no]> " : "yes/no [yes]> ", &answer)) return defaultNo ? IDNO : IDYES;
  if (answer.empty()) return defaultNo ? IDNO : IDYES;
  return (answer[0] == 'y' || answer[0] == 'Y') ? IDYES : IDNO;
}

void TerminalProgressView::SetHeading(const char* text) { m_console.Print(AnsiToUtf8(text)); }

void TerminalProgressView::SetRange(WORD upper) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_bar.SetRange(upper);
}

void TerminalProgressView::SetPos(int position) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_bar.SetPos(position);
}

void TerminalProgressView::StepIt() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_bar.StepIt();
}

int TerminalProgressView::GetRangeUpper() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_bar.Upper();
}

void TerminalProgressView::AppendLine(const char* text) { m_console.Print(AnsiToUtf8(text)); }

namespace {

// A radio button and the text below it as one line: "Add logon scripts: set
// logon script for one or more users."; a Chinese text after a full-width colon.
std::string ChoiceLine(const std::string& button, const std::string& text) {
  if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z')
    return button + ": " + static_cast<char>(text[0] - 'A' + 'a') + text.substr(1);
  return button + "\xEF\xBC\x9A" + text;
}

// One page's questions; false at the end of the input.
bool AskPage(TerminalConsole& console, CWizardFlow& flow, TerminalPage1View& page1, CPage2& page2,
             TerminalUserPageView& page2View, CPage3& page3, TerminalPage3View& page3View) {
  std::string line;
  switch (flow.Current()->DialogId()) {
    case IDD_PAGE1:
      console.Print("== " + PageText(IDD_PAGE1, "Please select operate type:"));
      console.Print("   add     " + ChoiceLine(PageText(IDD_PAGE1, "&Add logon scripts"),
                                             PageText(IDD_PAGE1, "    Set logon script for one or more users.")));
      console.Print("   remove  " + ChoiceLine(PageText(IDD_PAGE1, "&Remove logon scripts"),
                                             PageText(IDD_PAGE1, "    Remove logon script for users.")));
      if (!console.ReadLine(page1.m_bAdd ? "operation [add]> " : "operation [remove]> ", &line)) return false;
      if (line == "add") page1.m_bAdd = TRUE;
      if (line == "remove") page1.m_bAdd = FALSE;
      if (!line.empty() && line != "add" && line != "remove") console.Print("(answer \"add\" or \"remove\")");
      return true;
    case IDD_PAGE2: {
      console.Print("== " + PageText(IDD_PAGE2, "Please select users to setting logon script:"));
      console.Print("   N toggles item N, \"expand N\", \"search ACCOUNT[;DISPLAY]\", or logon names and container");
      console.Print("   distinguished names separated by \";\"; an empty line keeps the marks as they are");
      TerminalIo io;
      io.readLine = [&](const char* prompt, std::string* answer) { return console.ReadLine(prompt, answer); };
      io.print = [&](const std::string& text) { console.Print(AnsiToUtf8(text)); };
      if (!RunTerminalUserPage(io, page2, page2View)) return false;
      console.Print(AnsiToUtf8(Text(TheWizardState().m_nOperation == OP_INSTALL ? IDS_NO_COPY_CHECK
                                                                                : IDS_AUTO_DELETE_CHECK)));
      if (!console.ReadLine("y/n [n]> ", &line)) return false;
      page2View.m_bExistChecked = !line.empty() && (line[0] == 'y' || line[0] == 'Y');
      return true;
    }
    case IDD_PAGE3:
      return AskParametersPage(console, page3, page3View);
    default:
      return true;
  }
}

}  // namespace

void RunTerminalWizard(TerminalConsole& console, const FrontEndOptions& options, DeploymentRun run) {
  CWizardFlow flow([&](const char* text, UINT type) { return console.MessageBox(text, type); });
  TerminalPage1View page1View;
  CPage1 page1(&page1View);
  TerminalUserPageView page2View;
  CPage2 page2;
  page2.SetView(&page2View);
  bool selectionApplied = false;
  TerminalPage3View page3View(console);
  CPresetPage3 page3(&page3View, options.center, options.package);
  TerminalProgressView progressView(console);
  CPageFinish finish(&progressView, std::move(run));
  flow.AddPage(&page1);
  flow.AddPage(&page2);
  flow.AddPage(&page3);
  flow.AddPage(&finish);

  console.Print(AnsiToUtf8(Text(IDS_CAPTION)));
  flow.Start();
  while (!flow.IsClosed()) {
    if (flow.Current()->DialogId() == IDD_PAGE_FINISH) {
      // The run goes on; the list lines come from the worker.
      DWORD buttons = flow.WaitButtonsChange(PSWIZB_DISABLEDFINISH, 100);
      if (g_cancelRequested.exchange(false)) {
        if (flow.Cancel()) break;
        continue;
      }
      if (buttons != PSWIZB_FINISH) continue;
      std::string line;
      if (!console.ReadLine("finish> ", &line) || line.empty() || line == "finish" || line == "cancel") {
        flow.Finish();
      }
      continue;
    }
    if (flow.Current() == &page2 && !selectionApplied) {
      // /select checks its accounts and containers after the first listing.
      for (const std::string& name : options.select) {
        std::string ansi;
        std::wstring outside;
        if (Utf8ToAnsi(name, &ansi, &outside)) page2.SelectByName(ansi);
      }
      selectionApplied = true;
    }
    if (!AskPage(console, flow, page1View, page2, page2View, page3, page3View)) {
      console.Print("(end of input: the wizard is cancelled)");
      flow.Cancel();
      break;
    }
    std::string line;
    DWORD buttons = flow.Buttons();
    std::string prompt = std::string((buttons & PSWIZB_BACK) ? "next/back/cancel" : "next/cancel") + " [next]> ";
    if (!console.ReadLine(prompt.c_str(), &line)) {
      console.Print("(end of input: the wizard is cancelled)");
      flow.Cancel();
      break;
    }
    if (line.empty() || line == "next") {
      flow.Next();
    } else if (line == "whatif") {
      // The progress step runs as a what-if: the same run, writing nothing.
      WhatIfRequested() = true;
      flow.Next();
      if (flow.IsClosed() || flow.Current()->DialogId() != IDD_PAGE_FINISH) {
        WhatIfRequested() = false;
        console.Print("(\"whatif\" is answered on the last page before the run)");
      }
    } else if (line == "back") {
      flow.Back();
    } else if (line == "cancel") {
      flow.Cancel();
    } else {
      console.Print("(answer \"next\", \"back\" or \"cancel\")");
    }
  }
}

}  // namespace qel
