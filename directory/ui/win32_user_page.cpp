#include "directory/ui/win32_user_page.h"

#include "directory/tree_check.h"
#include "res/resource.h"
#include "res/string_table.h"

namespace qel {
namespace win32 {

namespace {

// Runs a function of another thread on the window's thread.
const UINT kRunMessage = WM_APP + 0x21;

}  // namespace

// ------------------------------------------------------------ page window

UserPageWindow::UserPageWindow(CWizardSheet* sheet, CPage2* logic)
    : PageWindow(sheet, logic), m_pPage(logic), m_dwUiThread(GetCurrentThreadId()) {
  if (logic != nullptr) logic->SetView(this);
}

UserPageWindow::~UserPageWindow() {
  if (m_hImages != nullptr) ImageList_Destroy(m_hImages);
}

void UserPageWindow::InitControls() {
  HWND tree = GetDlgItem(m_hwnd, IDC_TREE);
  m_tree.Attach(tree);
  m_dwUiThread = GetCurrentThreadId();
  if (TreeView_GetImageList(tree, TVSIL_NORMAL) == nullptr) {
    if (!CreateImageListFromBitmap(&m_hImages, IDB_TREE, 16, m_hwnd)) return;
    TreeView_SetImageList(tree, m_hImages, TVSIL_NORMAL);
  }
  HINSTANCE module = GetModuleHandleW(nullptr);
  SendDlgItemMessageW(m_hwnd, IDC_ANIMATE, ACM_OPENW, reinterpret_cast<WPARAM>(module),
                      reinterpret_cast<LPARAM>(MAKEINTRESOURCEW(IDR_SEARCH_AVI)));
  INITCOMMONCONTROLSEX controls = {sizeof(controls), 0xFF};
  InitCommonControlsEx(&controls);
  m_hTooltip = CreateWindowExW(0, TOOLTIPS_CLASSW, L"", WS_POPUP | TTS_BALLOON | TTS_NOPREFIX, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, module, nullptr);
  if (m_hTooltip != nullptr) {
    // The tool keeps a pointer to its text: the text lives with the window.
    wchar_t* text = m_szTooltip;
    LoadResStringW(138, text, 512);
    TOOLINFOW tool = {};
    tool.cbSize = sizeof(tool);
    tool.uFlags = TTF_SUBCLASS | TTF_TRANSPARENT;
    tool.hwnd = tree;
    tool.uId = IDC_TREE;
    GetClientRect(tree, &tool.rect);
    tool.rect.bottom -= 20;
    tool.hinst = module;
    tool.lpszText = text;
    SendMessageW(m_hTooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  }
}

INT_PTR UserPageWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      InitControls();
      break;
    case kRunMessage: {
      auto* work = reinterpret_cast<const std::function<void()>*>(lParam);
      (*work)();
      // A dialog's sent message answers with its DWLP_MSGRESULT.
      SetWindowLongPtrW(m_hwnd, DWLP_MSGRESULT, 1);
      return TRUE;
    }
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED && m_pPage != nullptr) {
        if (LOWORD(wParam) == IDC_SEARCH) {
          m_pPage->OnSearch();
          return TRUE;
        }
        if (LOWORD(wParam) == IDC_STOP) {
          m_pPage->OnStop();
          return TRUE;
        }
      }
      break;
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lParam);
      if (header->code == PSN_SETACTIVE && !m_selection.empty() && m_pPage != nullptr) {
        INT_PTR result = PageWindow::HandleMessage(message, wParam, lParam);
        for (const std::string& name : m_selection) m_pPage->SelectByName(name);
        m_selection.clear();
        return result;
      }
      if (header->idFrom != IDC_TREE || m_pPage == nullptr || header->hwndFrom != m_tree.Hwnd()) break;
      if (header->code == TVN_GETDISPINFOW || header->code == TVN_GETDISPINFOA) {
        // The check-mark images live with the tree's adapter.
        m_tree.OnGetDispInfo(reinterpret_cast<NMTVDISPINFOW*>(lParam));
        return TRUE;
      }
      if (header->code == NM_CLICK) {
        TVHITTESTINFO hit = {};
        GetCursorPos(&hit.pt);
        ScreenToClient(m_tree.Hwnd(), &hit.pt);
        HTREEITEM item = TreeView_HitTest(m_tree.Hwnd(), &hit);
        m_pPage->OnClickTree(item, (hit.flags & TVHT_ONITEMBUTTON) != 0);
        SetWindowLongPtrW(m_hwnd, DWLP_MSGRESULT, 0);
        return TRUE;
      }
      if (header->code == TVN_KEYDOWN) {
        m_pPage->OnKeydownTree(reinterpret_cast<NMTVKEYDOWN*>(lParam)->wVKey);
        SetWindowLongPtrW(m_hwnd, DWLP_MSGRESULT, 0);
        return TRUE;
      }
      if (header->code == TVN_ITEMEXPANDINGW || header->code == TVN_ITEMEXPANDINGA) {
        auto* view = reinterpret_cast<NMTREEVIEWW*>(lParam);
        m_pPage->OnItemexpandingTree(view->itemNew.hItem, (view->action & TVE_EXPAND) != 0 ? TRUE : FALSE);
        SetWindowLongPtrW(m_hwnd, DWLP_MSGRESULT, 0);
        return TRUE;
      }
      break;
    }
    default:
      break;
  }
  return PageWindow::HandleMessage(message, wParam, lParam);
}

void UserPageWindow::SetExistCheckText(const char* text) {
  SetDlgItemTextW(m_hwnd, IDC_EXIST_CHECK, WidenAnsi(text).c_str());
}

void UserPageWindow::HideExistCheck() { ShowWindow(GetDlgItem(m_hwnd, IDC_EXIST_CHECK), SW_HIDE); }

BOOL UserPageWindow::IsExistChecked() { return IsDlgButtonChecked(m_hwnd, IDC_EXIST_CHECK) == BST_CHECKED; }

std::string UserPageWindow::GetEditText(int controlId) {
  wchar_t buffer[260] = {};
  GetDlgItemTextW(m_hwnd, controlId, buffer, 260);
  return NarrowAnsi(buffer);
}

void UserPageWindow::EnableButton(int controlId, BOOL enable) { EnableWindow(GetDlgItem(m_hwnd, controlId), enable); }

void UserPageWindow::PlayAnimation(BOOL play) {
  if (play)
    SendDlgItemMessageW(m_hwnd, IDC_ANIMATE, ACM_PLAY, static_cast<WPARAM>(-1), MAKELONG(0, -1));
  else
    SendDlgItemMessageW(m_hwnd, IDC_ANIMATE, ACM_STOP, 0, 0);
}

BOOL UserPageWindow::RunOnUiThread(const std::function<void()>& work) {
  if (GetCurrentThreadId() == m_dwUiThread) {
    work();
    return TRUE;
  }
  if (m_hwnd == nullptr || !IsWindow(m_hwnd)) return FALSE;
  return SendMessageW(m_hwnd, kRunMessage, 0, reinterpret_cast<LPARAM>(&work)) != 0;
}

}  // namespace win32
}  // namespace qel
