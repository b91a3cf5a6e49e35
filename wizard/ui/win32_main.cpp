// QelScript.exe: the wizard on Windows.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "log/log_utility.h"
#include "platform/net_ports.h"
#include "directory/page2.h"
#include "directory/ui/win32_user_page.h"
#include "platform/win32/win32_ports.h"
#include "res/resource.h"
#include "res/string_table.h"
#include "wizard/deploy_runner.h"
#include "wizard/startup.h"
#include "wizard/ui/options.h"
#include "wizard/ui/page3_presets.h"
#include "wizard/ui/page3_window.h"
#include "wizard/ui/rehearsal.h"
#include "wizard/ui/win32_wizard.h"

namespace {

using namespace qel;

// How long a run stopped by the administrator may take to reach its stop
// point once the wizard has closed.
constexpr DWORD kStoppedRunWait = 20000;

std::vector<std::string> Arguments() {
  std::vector<std::string> out;
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  for (int i = 1; arguments != nullptr && i < count; ++i) out.push_back(win32::NarrowAnsi(arguments[i]));
  if (arguments != nullptr) LocalFree(arguments);
  return out;
}

void ShowText(const std::string& text, UINT type) {
  wchar_t caption[128];
  LoadResStringW(IDS_CAPTION, caption, 128);
  MessageBoxW(nullptr, win32::WidenAnsi(text.c_str()).c_str(), caption, type);
}

WORD UserLanguage() {
  LANGID language = GetUserDefaultUILanguage();
  return TableLanguage(language);
}

// The four pages and the sheet, made and destroyed in start-up's own frame.
void RunWizard(WORD language, const FrontEndOptions& options) {
  win32::MessageBoxSink engineMessages;
  win32::CWizardSheet sheet(IDS_CAPTION, nullptr, 0, language);

  win32::Page1Window page1Window(&sheet);
  CPage1 page1(&page1Window);
  page1Window.SetLogic(&page1);

  // /select checks its accounts and containers after the first listing.
  CPage2 page2;
  win32::UserPageWindow page2Window(&sheet, &page2);
  page2Window.SetSelection(options.select);

  // /center and /package fill the page's controls; Next checks them as typed.
  win32::Page3Window page3Window(&sheet);
  CPresetPage3 page3(&page3Window, options.center, options.package);
  page3Window.SetPage(&page3);

  win32::FinishWindow finishWindow(&sheet);
  {
    CPageFinish finish(&finishWindow, MakeScriptDeployerRun(nullptr, &engineMessages));
    // Sent messages of a worker that is still reporting get through while
    // the page lets go of it.
    finish.SetDetachPump([] {
      MSG message;
      PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
    });
    finishWindow.SetLogic(&finish);

    sheet.AddPage(&page1Window, IDD_PAGE1);
    sheet.AddPage(&page2Window, IDD_PAGE2);
    sheet.AddPage(&page3Window, IDD_PAGE3);
    sheet.AddPage(&finishWindow, IDD_PAGE_FINISH);
    sheet.DoModal();
    finishWindow.SetLogic(nullptr);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  InstallWin32Ports();
  // The directory through "ActiveDS.dll" (a rehearsal puts its own in place).
  Ports().directory = Win32Directory();
  // Sockets and the address table for the Test button of the parameters page.
  InstallWin32NetPorts();
  // The log lives from here to the end of the program.
  _NCOvLogHolder log;

  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_WIN95_CLASSES | ICC_INTERNET_CLASSES |
                                                         ICC_ANIMATE_CLASS | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);

  FrontEndOptions options;
  std::string error;
  if (!ParseFrontEndOptions(Arguments(), &options, &error)) {
    ShowText(error, MB_OK | MB_ICONEXCLAMATION);
    return 2;
  }
  WORD language = options.language != 0 ? TableLanguage(options.language) : UserLanguage();
  SetStringLanguage(language);

  Rehearsal rehearsal;
  if (options.rehearse && !rehearsal.Start(options.domainFile, options.folder, options.folder, &error)) {
    ShowText(error, MB_OK | MB_ICONEXCLAMATION);
    return 2;
  }

  CScriptWizardApp app;
  StartupHooks hooks;
  hooks.showMessage = [](UINT id) {
    char text[512];
    LoadResString(id, text, sizeof(text));
    ShowText(text, MB_OK);
  };
  hooks.runWizard = [&] { RunWizard(language, options); };
  app.InitInstance(hooks);
  // Closed during a run: the stopped worker may still be inside a step, so
  // it is given time to reach its stop point before the node list, the
  // domain and the log go away.
  BOOL stopped = WaitForDeploymentRuns(kStoppedRunWait, [] {
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
  });
  if (!stopped) {
    _NCOvLogUtility::GetInstance()->Warning("[QelScript]the stopped run did not end within %lu ms",
                                            static_cast<unsigned long>(kStoppedRunWait));
  }
  app.ExitInstance();

  int status = 0;
  if (options.rehearse && !rehearsal.Finish(&error)) {
    ShowText(error, MB_OK | MB_ICONEXCLAMATION);
    status = 1;
  }
  // A worker stuck inside a step ends with the process, here, before the log
  // is shut under it; every change it made is already in the domain (or its
  // journal).
  if (!stopped) ExitProcess(static_cast<UINT>(status));
  return status;
}
