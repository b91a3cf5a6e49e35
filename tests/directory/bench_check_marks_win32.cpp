// Timing harness (not a test), run under Wine: the user page's window made
// from the program's dialog 108, with its image list and tooltip, a unit of
// N accounts expanded in its tree; a mouse click on the unit checks it and a
// second one unchecks it. Each is timed from the click until the page has
// handled every message and painted, i.e. answers again. The quadratic
// propagation it replaced is run through the same click for comparison.
//   bench_check_marks_win32 [N ...] [--quadratic-max M] [--repeat R]
// (default N: 1000 10000 50000; quadratic only up to M accounts, default
// 1000). Each click is made R times (default 3; once for the quadratic one)
// and the median is shown, with the part spent in the page's handler.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "directory/page2.h"
#include "directory/tree_check.h"
#include "directory/ui/win32_user_page.h"
#include "platform/ports.h"
#include "platform/win32/win32_ports.h"
#include "res/resource.h"
#include "res/string_table.h"
#include "tests/directory/quadratic_check_marks.h"

namespace qel::win32 {
namespace {

double Now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Seconds spent in the page's handling of the last click (the rest of a
// click's time is the control's own work and the painting).
double g_handler = 0;

// The page window; with `quadratic` a click on the tree goes to the old
// propagation instead of the page logic.
class BenchPageWindow : public UserPageWindow {
 public:
  BenchPageWindow(CWizardSheet* sheet, CPage2* logic, bool quadratic) : UserPageWindow(sheet, logic), m_bQuadratic(quadratic) {}
  INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == WM_NOTIFY && reinterpret_cast<NMHDR*>(lParam)->code == NM_CLICK) {
      double begin = Now();
      INT_PTR result = HandleClick(message, wParam, lParam);
      g_handler = Now() - begin;
      return result;
    }
    return UserPageWindow::HandleMessage(message, wParam, lParam);
  }

 private:
  INT_PTR HandleClick(UINT message, WPARAM wParam, LPARAM lParam) {
    if (m_bQuadratic) {
      auto* header = reinterpret_cast<NMHDR*>(lParam);
      if (header->idFrom == IDC_TREE) {
        TVHITTESTINFO hit = {};
        GetCursorPos(&hit.pt);
        ScreenToClient(header->hwndFrom, &hit.pt);
        HTREEITEM item = TreeView_HitTest(header->hwndFrom, &hit);
        if ((hit.flags & TVHT_ONITEMBUTTON) == 0) qel::test::quadratic::ToggleItemCheck(Tree(), item);
        SetWindowLongPtrW(m_hwnd, DWLP_MSGRESULT, 0);
        return TRUE;
      }
    }
    return UserPageWindow::HandleMessage(message, wParam, lParam);
  }
  bool m_bQuadratic;
};

// Handles every waiting message, paints included.
void Drain() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

// A click of the left button on the item's label; seconds until the page answers.
double Click(HWND tree, HTREEITEM item) {
  RECT label = {};
  TreeView_GetItemRect(tree, item, &label, TRUE);
  POINT at = {(label.left + label.right) / 2, (label.top + label.bottom) / 2};
  POINT screen = at;
  ClientToScreen(tree, &screen);
  SetCursorPos(screen.x, screen.y);
  Drain();
  double begin = Now();
  PostMessageW(tree, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(at.x, at.y));
  PostMessageW(tree, WM_LBUTTONUP, 0, MAKELPARAM(at.x, at.y));
  Drain();
  return Now() - begin;
}

struct Result {
  double fill = 0, check = 0, uncheck = 0, checkHandler = 0, uncheckHandler = 0;
  bool right = false;
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The page over a domain of three units, the middle one with N accounts;
// R clicks checking the unit, each followed by one unchecking it.
Result Measure(int accounts, bool quadratic, int repeat) {
  Result result;
  HWND parent = CreateWindowExW(0, L"Static", L"sheet", WS_OVERLAPPEDWINDOW, 0, 0, 700, 560, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  HRSRC resource = FindResourceExW(nullptr, MAKEINTRESOURCEW(5), MAKEINTRESOURCEW(IDD_PAGE2),
                                   MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
  if (parent == nullptr || resource == nullptr) return result;
  auto* dialog = static_cast<const DLGTEMPLATE*>(LockResource(LoadResource(nullptr, resource)));
  WizardState state;
  CWizardSheet sheet(IDS_CAPTION, nullptr, 0, 1033);
  CPage2 page(state);
  BenchPageWindow window(&sheet, &page, quadratic);
  PROPSHEETPAGEW sheetPage = window.MakePage(dialog);
  HWND hwnd = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), dialog, parent, sheetPage.pfnDlgProc,
                                         reinterpret_cast<LPARAM>(&sheetPage));
  if (hwnd == nullptr) return result;
  ShowWindow(parent, SW_SHOW);
  ShowWindow(hwnd, SW_SHOW);
  HWND tree = GetDlgItem(hwnd, IDC_TREE);

  // The domain, three units, the middle one with the accounts; expanded as
  // the administrator would.
  double begin = Now();
  ClearUserNodes();
  HTREEITEM top = page.InsertUserItem("test.lan", L"DC=test,DC=lan", nullptr, OUType, TVI_ROOT);
  HTREEITEM unit = nullptr;
  for (int i = 0; i < 3; ++i) {
    wchar_t path[64];
    std::swprintf(path, 64, L"OU=Unit%d,DC=test,DC=lan", i);
    HTREEITEM made = page.InsertUserItem("Unit", path, nullptr, OUType, top);
    if (i == 1) unit = made;
  }
  for (int i = 0; i < accounts; ++i) {
    char name[32];
    wchar_t account[32], path[96];
    std::snprintf(name, sizeof name, "User %06d", i);
    std::swprintf(account, 32, L"user%06d", i);
    std::swprintf(path, 96, L"CN=User %06d,OU=Unit1,DC=test,DC=lan", i);
    page.InsertUserItem(name, path, account, UserType, unit);
  }
  TreeView_Expand(tree, top, TVE_EXPAND);
  TreeView_Expand(tree, unit, TVE_EXPAND);
  UpdateWindow(parent);
  Drain();
  result.fill = Now() - begin;

  auto image = [&](HTREEITEM item) {
    TVITEMW tv = {};
    tv.mask = TVIF_IMAGE | TVIF_HANDLE;
    tv.hItem = item;
    SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
    return tv.iImage;
  };
  HTREEITEM last = TreeView_GetChild(tree, unit);
  for (HTREEITEM next = last; next != nullptr; next = TreeView_GetNextSibling(tree, next)) last = next;

  std::vector<double> checks, checkHandlers, unchecks, uncheckHandlers;
  result.right = true;
  for (int i = 0; i < repeat; ++i) {
    checks.push_back(Click(tree, unit));
    checkHandlers.push_back(g_handler);
    bool checked = image(unit) == IMG_CONTAINER_CHECKED && image(last) == IMG_USER_CHECKED &&
                   image(top) == IMG_CONTAINER_PARTIAL;
    unchecks.push_back(Click(tree, unit));
    uncheckHandlers.push_back(g_handler);
    result.right = result.right && checked && image(unit) == IMG_CONTAINER && image(last) == IMG_USER &&
                   image(top) == IMG_CONTAINER;
  }
  result.check = Median(checks);
  result.checkHandler = Median(checkHandlers);
  result.uncheck = Median(unchecks);
  result.uncheckHandler = Median(uncheckHandlers);

  DestroyWindow(hwnd);
  DestroyWindow(parent);
  Drain();
  ClearUserNodes();
  return result;
}

int Main(int argc, char** argv) {
  std::vector<int> sizes;
  int quadraticMax = 1000, repeat = 3;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--quadratic-max") == 0 && i + 1 < argc)
      quadraticMax = std::atoi(argv[++i]);
    else if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc)
      repeat = std::max(1, std::atoi(argv[++i]));
    else if (std::atoi(argv[i]) > 0)
      sizes.push_back(std::atoi(argv[i]));
  }
  if (sizes.empty()) sizes = {1000, 10000, 50000};
  // Also links the thread's error code ahead of the log and the engine,
  // which the static libraries name after it.
  QelSetLastError(NO_ERROR);
  InstallWin32Ports();
  SetStringLanguage(1033);
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);

  std::printf("%-10s %-10s %8s %10s %10s %10s %10s %9s\n", "accounts", "algorithm", "fill s", "check ms",
              "(handler)", "uncheck ms", "(handler)", "us/acct");
  std::fflush(stdout);
  bool allRight = true;
  for (int accounts : sizes) {
    for (int quadratic = 1; quadratic >= 0; --quadratic) {
      const char* name = quadratic ? "quadratic" : "one pass";
      if (quadratic && accounts > quadraticMax) {
        std::printf("%-10d %-10s %8s %10s %10s %10s %10s %9s\n", accounts, name, "-", "skipped", "-", "skipped", "-",
                    "-");
        continue;
      }
      Result result = Measure(accounts, quadratic != 0, quadratic ? 1 : repeat);
      allRight = allRight && result.right;
      std::printf("%-10d %-10s %8.2f %10.1f %10.1f %10.1f %10.1f %9.2f%s\n", accounts, name, result.fill,
                  result.check * 1e3, result.checkHandler * 1e3, result.uncheck * 1e3, result.uncheckHandler * 1e3,
                  (result.check + result.uncheck) / 2 / accounts * 1e6, result.right ? "" : "  WRONG MARKS");
      std::fflush(stdout);
    }
  }
  return allRight ? 0 : 1;
}

}  // namespace
}  // namespace qel::win32

int main(int argc, char** argv) { return qel::win32::Main(argc, argv); }
