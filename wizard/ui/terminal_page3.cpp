#include "wizard/ui/terminal_page3.h"

#include "res/resource.h"
#include "res/string_table.h"
#include "wizard/ui/page3_presets.h"
#include "wizard/ui/terminal_wizard.h"

namespace qel {

void TerminalPage3View::SetCenterAddress(const std::string& address) {
  m_strAddress = NormalizeDottedAddress(address);
}

void TerminalPage3View::ShowMessage(UINT, const std::string& text, UINT) {
  m_console.Print("[" + AnsiToUtf8(text) + "]");
}

bool TerminalPage3View::RunOpenFileDialog(const Page3OpenFile&, std::string*) {
  m_console.Print("(no file dialog in a terminal: type the package's full path)");
  return false;
}

std::string TerminalPackagePath(const std::string& typed) {
  if (typed.empty() || typed[0] != '/') return typed;
  std::string path = "Z:" + typed;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

bool AskParametersPage(TerminalConsole& console, CPage3& page, TerminalPage3View& view) {
  console.Print("== " + PageText(IDD_PAGE3, "Setting install parameters:"));
  const char* hint = "(answer an address of four numbers from 0 to 255, as 10.1.2.3, or \"test\" to probe it)";
  std::string line;
  for (;;) {
    std::string prompt = PageLabel(IDD_PAGE3, "Qel System Center IP:") + " [" + view.GetCenterAddress() + "]> ";
    if (!console.ReadLine(prompt.c_str(), &line)) return false;
    if (line.empty()) break;
    bool test = line == "test" || line.compare(0, 5, "test ") == 0;
    std::string typed = test ? line.substr(4) : line;
    size_t begin = typed.find_first_not_of(" \t");
    typed = begin == std::string::npos ? std::string() : typed.substr(begin);
    if (!typed.empty()) {
      std::string address = NormalizeDottedAddress(typed);
      if (address.empty()) {
        console.Print(hint);
        continue;
      }
      view.SetCenterAddress(address);
    }
    if (!test) break;
    // The probe blocks for up to about ten seconds when nothing answers.
    console.Print("(testing " + (view.GetCenterAddress().empty() ? std::string("no address") : view.GetCenterAddress()) +
                  " ...)");
    page.OnTest();
  }
  char hostPaths[256] = {};
  LoadResString(IDS_TERMINAL_HOST_PATH, hostPaths, sizeof hostPaths);
  console.Print(AnsiToUtf8(hostPaths));
  if (!console.ReadLine((PageLabel(IDD_PAGE3, "Qel install package:") + " [" + AnsiToUtf8(view.GetPackagePath()) + "]> ").c_str(),
                        &line))
    return false;
  if (!line.empty()) view.SetPackagePath(TerminalPackagePath(line));
  return true;
}

}  // namespace qel
