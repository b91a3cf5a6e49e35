// The install-parameters page window on Windows (under Wine in the build):
// dialog 109 made from the program's resources around CPage3, its controls
// as the page logic sees them, its boxes over the sheet, the open-file
// dialog of Browse and the Test button over a fake socket port.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "center/mib_agent.h"
#include "center/search_agent.h"
#include "platform/net_ports.h"
#include "platform/win32/win32_ports.h"
#include "res/resource.h"
#include "res/string_table.h"
#include "tests/fakes/fake_net.h"
#include "wizard/ui/page3_window.h"

namespace qel::win32 {
namespace {

// What a dialog that came up while the page waited showed; it is then
// closed with `answer`.
struct SeenDialog {
  std::wstring title;
  std::wstring text;  // the statics' texts, joined
  HWND owner = nullptr;
};

std::vector<SeenDialog> g_seen;
HWND g_page = nullptr;
WPARAM g_answer = IDOK;
std::wstring g_fileName;  // typed into the open-file dialog before OK

BOOL CALLBACK CollectStatics(HWND child, LPARAM text) {
  wchar_t className[32] = {}, buffer[512] = {};
  GetClassNameW(child, className, 32);
  if (lstrcmpiW(className, L"Static") == 0 && GetWindowTextW(child, buffer, 512) > 0) {
    *reinterpret_cast<std::wstring*>(text) += buffer;
  }
  return TRUE;
}

BOOL CALLBACK FindDialog(HWND hwnd, LPARAM found) {
  wchar_t className[32] = {};
  GetClassNameW(hwnd, className, 32);
  if (IsWindowVisible(hwnd) && lstrcmpW(className, L"#32770") == 0) {
    *reinterpret_cast<HWND*>(found) = hwnd;
    return FALSE;
  }
  return TRUE;
}

void CALLBACK CloseDialog(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND dialog = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), FindDialog, reinterpret_cast<LPARAM>(&dialog));
  if (dialog == nullptr) return;
  KillTimer(nullptr, timer);
  SeenDialog seen;
  wchar_t title[256] = {};
  GetWindowTextW(dialog, title, 256);
  seen.title = title;
  EnumChildWindows(dialog, CollectStatics, reinterpret_cast<LPARAM>(&seen.text));
  seen.owner = GetWindow(dialog, GW_OWNER);
  g_seen.push_back(seen);
  if (!g_fileName.empty()) {
    // The file name box: the combo of the Explorer dialog, or the older edit.
    SetDlgItemTextW(dialog, 0x47c, g_fileName.c_str());
    SetDlgItemTextW(dialog, 0x480, g_fileName.c_str());
  }
  PostMessageW(dialog, WM_COMMAND, g_answer, 0);
}

std::wstring Wide(UINT id) {
  wchar_t buffer[512];
  LoadResStringW(id, buffer, 512);
  return buffer;
}

class Page3WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallWin32Ports();
    InstallWin32NetPorts();
    SetStringLanguage(1033);
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_WIN95_CLASSES | ICC_INTERNET_CLASSES};
    InitCommonControlsEx(&controls);
    g_seen.clear();
    g_answer = IDOK;
    g_fileName.clear();
    parent_ = CreateWindowExW(0, L"Static", L"sheet", WS_OVERLAPPEDWINDOW, 0, 0, 700, 500, nullptr, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(parent_, nullptr);
    HRSRC resource = FindResourceExW(nullptr, MAKEINTRESOURCEW(5), MAKEINTRESOURCEW(IDD_PAGE3),
                                     MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    ASSERT_NE(resource, nullptr);
    auto* dialog = static_cast<const DLGTEMPLATE*>(LockResource(LoadResource(nullptr, resource)));
    window_.SetPage(&page_);
    page_.SetSheet(&sheet_);
    PROPSHEETPAGEW sheetPage = window_.MakePage(dialog);
    hwnd_ = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), dialog, parent_, sheetPage.pfnDlgProc,
                                       reinterpret_cast<LPARAM>(&sheetPage));
    ASSERT_NE(hwnd_, nullptr);
    g_page = hwnd_;
    ShowWindow(parent_, SW_SHOW);
  }
  void TearDown() override {
    if (hwnd_ != nullptr) DestroyWindow(hwnd_);
    if (parent_ != nullptr) DestroyWindow(parent_);
    ResetSearchTiming();
    CMibAgent::DestroyInstance();
  }

  // Runs `action`; a dialog it opens is read and answered from a timer.
  template <class F>
  void WithDialog(F action) {
    SetTimer(nullptr, 0, 100, CloseDialog);
    action();
  }
  void Click(int control) { SendMessageW(hwnd_, WM_COMMAND, MAKEWPARAM(control, BN_CLICKED), 0); }
  bool FocusIn(int control) {
    HWND focus = GetFocus(), item = GetDlgItem(hwnd_, control);
    return focus != nullptr && (focus == item || IsChild(item, focus));
  }

  WizardState state_;
  CWizardSheet sheet_{IDS_CAPTION, nullptr, 0, 1033};
  Page3Window window_{&sheet_};
  CPage3 page_{&window_, state_};
  HWND parent_ = nullptr;
  HWND hwnd_ = nullptr;
};

TEST_F(Page3WindowTest, TheAddressControlReadsAndShowsDottedText) {
  window_.SetCenterAddress("10.1.2.3");
  EXPECT_EQ(window_.GetCenterAddress(), "10.1.2.3");
  DWORD address = 0;
  EXPECT_EQ(SendDlgItemMessageW(hwnd_, IDC_CENTER_IP, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address)), 4);
  EXPECT_EQ(address, static_cast<DWORD>(MAKEIPADDRESS(10, 1, 2, 3)));
  window_.SetCenterAddress("0.0.0.0");
  EXPECT_EQ(window_.GetCenterAddress(), "0.0.0.0");
  // What the control cannot hold leaves it blank, and blank reads as no address.
  window_.SetCenterAddress("center.test.lan");
  EXPECT_TRUE(SendDlgItemMessageW(hwnd_, IDC_CENTER_IP, IPM_ISBLANK, 0, 0));
  EXPECT_EQ(window_.GetCenterAddress(), "");
}

TEST_F(Page3WindowTest, ThePackageEditKeepsLongPaths) {
  std::string path = "C:\\" + std::string(300, 'a') + "\\QelSetup.exe";
  window_.SetPackagePath(path);
  EXPECT_EQ(window_.GetPackagePath(), path);
  window_.SetPackagePath("");
  EXPECT_EQ(window_.GetPackagePath(), "");
}

TEST_F(Page3WindowTest, NextOnZerosShowsMessage117OverTheSheetAndFocusesTheAddress) {
  window_.SetCenterAddress("0.0.0.0");
  window_.SetPackagePath("C:\\windows\\notepad.exe");
  LONG_PTR result = 0;
  WithDialog([&] { result = page_.OnWizardNext(); });
  EXPECT_EQ(result, -1);
  ASSERT_EQ(g_seen.size(), 1u);
  EXPECT_NE(g_seen[0].text.find(Wide(117)), std::wstring::npos);
  EXPECT_EQ(g_seen[0].owner, parent_);
  EXPECT_TRUE(FocusIn(IDC_CENTER_IP));
  EXPECT_TRUE(state_.m_strCenterIP.empty());

  // A folder as the package: 113 with its path, the focus in the edit.
  window_.SetCenterAddress("10.1.2.3");
  window_.SetPackagePath("C:\\windows");
  WithDialog([&] { result = page_.OnWizardNext(); });
  EXPECT_EQ(result, -1);
  ASSERT_EQ(g_seen.size(), 2u);
  EXPECT_NE(g_seen[1].text.find(L"\"C:\\windows\""), std::wstring::npos);
  EXPECT_TRUE(FocusIn(IDC_PACKAGE));
}

TEST_F(Page3WindowTest, TheTestButtonReportsBothOutcomes) {
  test::FakeSockets sockets;
  Ports().sockets = &sockets;
  SetSearchTimingForTest(0, 0);
  sockets.SetHostAddresses({"10.0.0.2"});
  sockets.QueueReply(1, "OrvaneSearchAgentPos|10.0.0.9|7273", "10.0.0.9", 7273);
  window_.SetCenterAddress("10.0.0.9");
  WithDialog([&] { Click(IDC_TEST); });
  WithDialog([&] { Click(IDC_TEST); });
  ASSERT_EQ(g_seen.size(), 2u);
  EXPECT_NE(g_seen[0].text.find(Wide(118)), std::wstring::npos);
  EXPECT_NE(g_seen[1].text.find(Wide(119)), std::wstring::npos);
  EXPECT_EQ(sockets.Sent().size(), 11u);
  EXPECT_TRUE(state_.m_strCenterIP.empty());
  InstallWin32NetPorts();
}

TEST_F(Page3WindowTest, BrowseReplacesThePackageOnlyWhenAFileIsChosen) {
  window_.SetPackagePath("C:\\old\\QelSetup.exe");
  g_answer = IDCANCEL;
  WithDialog([&] { Click(IDC_BROWSE); });
  ASSERT_EQ(g_seen.size(), 1u);
  EXPECT_EQ(g_seen[0].title, Wide(116));
  EXPECT_EQ(window_.GetPackagePath(), "C:\\old\\QelSetup.exe");

  char system[MAX_PATH] = {};
  ASSERT_GT(GetSystemDirectoryA(system, MAX_PATH), 0u);
  std::string chosen = std::string(system) + "\\notepad.exe";
  g_answer = IDOK;
  g_fileName.assign(chosen.begin(), chosen.end());
  WithDialog([&] { Click(IDC_BROWSE); });
  ASSERT_EQ(g_seen.size(), 2u);
  std::string shown = window_.GetPackagePath();
  EXPECT_EQ(lstrcmpiA(shown.c_str(), chosen.c_str()), 0) << shown << " for " << chosen;
}

}  // namespace
}  // namespace qel::win32

namespace qel {
namespace {

INT_PTR CALLBACK PlainDialogProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

// The two operations are one radio group in every language: choosing Remove
// must clear Add, or the page reads "add" whatever the administrator chose.
TEST(Page1Dialog, RemoveClearsAddInEveryLanguage) {
  const WORD languages[] = {MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                            MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED),
                            MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL)};
  // The page templates are child dialogs: they need a window to live in.
  HWND sheet = CreateWindowExW(0, L"Static", L"sheet", WS_OVERLAPPEDWINDOW, 0, 0, 700, 500, nullptr, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(sheet, nullptr);
  for (WORD language : languages) {
    HRSRC resource = FindResourceExW(nullptr, MAKEINTRESOURCEW(5), MAKEINTRESOURCEW(IDD_PAGE1), language);
    ASSERT_NE(resource, nullptr) << language;
    auto* dialog = static_cast<const DLGTEMPLATE*>(LockResource(LoadResource(nullptr, resource)));
    HWND page = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), dialog, sheet, PlainDialogProc, 0);
    ASSERT_NE(page, nullptr) << language;
    CheckDlgButton(page, IDC_RADIO_ADD, BST_CHECKED);
    SendDlgItemMessageW(page, IDC_RADIO_REMOVE, BM_CLICK, 0, 0);
    EXPECT_EQ(IsDlgButtonChecked(page, IDC_RADIO_REMOVE), static_cast<UINT>(BST_CHECKED)) << language;
    EXPECT_EQ(IsDlgButtonChecked(page, IDC_RADIO_ADD), static_cast<UINT>(BST_UNCHECKED)) << language;
    SendDlgItemMessageW(page, IDC_RADIO_ADD, BM_CLICK, 0, 0);
    EXPECT_EQ(IsDlgButtonChecked(page, IDC_RADIO_REMOVE), static_cast<UINT>(BST_UNCHECKED)) << language;
    DestroyWindow(page);
  }
  DestroyWindow(sheet);
}

}  // namespace
}  // namespace qel
