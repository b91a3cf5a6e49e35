#include "wizard/ui/page3_window.h"

#include <commdlg.h>

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "res/resource.h"
#include "wizard/ui/page3_presets.h"

namespace qel::win32 {

namespace {

// The two layouts the page asks for by their 32-bit sizes: 76 bytes before
// Windows 2000, 88 after. A 64-bit build has the same layouts, larger.
#ifndef _WIN64
static_assert(offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR) == 76 && sizeof(OPENFILENAMEA) == 88,
              "OPENFILENAMEA layouts of a 32-bit build");
#endif
DWORD OpenFileStructSize(DWORD requested) {
  return requested == 76 ? static_cast<DWORD>(OPENFILENAME_SIZE_VERSION_400A)
                         : static_cast<DWORD>(sizeof(OPENFILENAMEA));
}

std::string NarrowAnsi(const std::wstring& text) {
  if (text.empty()) return std::string();
  int length = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return std::string();
  std::string out(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &out[0], length, nullptr, nullptr);
  out.resize(static_cast<size_t>(length - 1));
  return out;
}

}  // namespace

INT_PTR Page3Window::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED && m_pPage != nullptr) {
    switch (LOWORD(wParam)) {
      case IDC_BROWSE:
        m_pPage->OnBrowse();
        return TRUE;
      case IDC_TEST: {
        // The probe holds the page for up to about ten seconds.
        HCURSOR previous = SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32514) /* IDC_WAIT */));
        m_pPage->OnTest();
        SetCursor(previous);
        return TRUE;
      }
      default:
        break;
    }
  }
  return PageWindow::HandleMessage(message, wParam, lParam);
}

std::string Page3Window::GetCenterAddress() {
  DWORD address = 0;
  // The number of fields that are not blank; blank fields read as 0.
  LRESULT filled = SendDlgItemMessageW(m_hwnd, IDC_CENTER_IP, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address));
  if (filled == 0) return std::string();
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", static_cast<unsigned>(FIRST_IPADDRESS(address)),
                static_cast<unsigned>(SECOND_IPADDRESS(address)), static_cast<unsigned>(THIRD_IPADDRESS(address)),
                static_cast<unsigned>(FOURTH_IPADDRESS(address)));
  return text;
}

void Page3Window::SetCenterAddress(const std::string& address) {
  std::string dotted = NormalizeDottedAddress(address);
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (dotted.empty() || std::sscanf(dotted.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d) != 4) {
    // Not an address the control can show: it stays blank.
    SendDlgItemMessageW(m_hwnd, IDC_CENTER_IP, IPM_CLEARADDRESS, 0, 0);
    return;
  }
  SendDlgItemMessageW(m_hwnd, IDC_CENTER_IP, IPM_SETADDRESS, 0, MAKEIPADDRESS(a, b, c, d));
}

std::string Page3Window::GetPackagePath() {
  HWND edit = GetDlgItem(m_hwnd, IDC_PACKAGE);
  int length = GetWindowTextLengthW(edit);
  if (length <= 0) return std::string();
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  int copied = GetWindowTextW(edit, &text[0], length + 1);
  text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
  return NarrowAnsi(text);
}

void Page3Window::SetPackagePath(const std::string& path) {
  SetDlgItemTextW(m_hwnd, IDC_PACKAGE, WidenAnsi(path.c_str()).c_str());
}

void Page3Window::FocusControl(int controlId) {
  if (controlId == IDC_CENTER_IP) {
    // The address control hands the focus to its first field.
    SendDlgItemMessageW(m_hwnd, IDC_CENTER_IP, IPM_SETFOCUS, 0, 0);
    return;
  }
  SetFocus(GetDlgItem(m_hwnd, controlId));
}

void Page3Window::ShowMessage(UINT, const std::string& text, UINT type) { m_pSheet->MessageBox(text.c_str(), MB_OK | type); }

bool Page3Window::RunOpenFileDialog(const Page3OpenFile& dialog, std::string* chosen) {
  char file[MAX_PATH];
  std::memcpy(file, dialog.file, sizeof file);
  file[MAX_PATH - 1] = '\0';
  OPENFILENAMEA open;
  std::memset(&open, 0, sizeof open);
  open.lStructSize = OpenFileStructSize(dialog.structSize);
  open.hwndOwner = m_hwnd;
  open.hInstance = GetModuleHandleW(nullptr);
  open.lpstrFilter = dialog.filter;
  open.nFilterIndex = dialog.filterIndex;
  open.lpstrFile = file;
  open.nMaxFile = dialog.maxFile < MAX_PATH ? dialog.maxFile : MAX_PATH;
  open.lpstrTitle = dialog.title;
  open.Flags = dialog.flags;
  // Anything but 1 (cancel, or a failure of the dialog) leaves the page as it is.
  if (GetOpenFileNameA(&open) != 1) return false;
  *chosen = file;
  return true;
}

}  // namespace qel::win32
