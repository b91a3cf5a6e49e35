#include "wizard/ui/win32_wizard.h"

#include <string>

#include "res/resource.h"
#include "res/string_table.h"

namespace qel::win32 {

namespace {

// The sheet being created: the creation callback has no parameter of its own,
// and one modal wizard runs at a time.
CWizardSheet* g_creatingSheet = nullptr;

std::string Text(UINT id) {
  char buffer[512];
  LoadResString(id, buffer, sizeof(buffer));
  return buffer;
}

}  // namespace

// ---------------------------------------------------------------- pages

LRESULT PageWindow::Translate(LONG_PTR result) {
  if (result == 0 || result == -1) return result;
  // A jump: the pages come from in-memory templates, so the sheet cannot
  // find a page by its dialog id; stay here and move there ourselves.
  m_pSheet->JumpTo(static_cast<UINT>(result));
  return -1;
}

INT_PTR PageWindow::HandleMessage(UINT message, WPARAM, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      m_pSheet->Attach(GetParent(m_hwnd));
      OnCreated();
      if (m_pLogic != nullptr) m_pLogic->OnInitDialog();
      return TRUE;
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lParam);
      if (m_pLogic == nullptr) return FALSE;
      LRESULT result = 0;
      switch (header->code) {
        case PSN_SETACTIVE:
          m_pLogic->OnSetActive();
          result = 0;
          break;
        case PSN_KILLACTIVE:
          result = FALSE;
          break;
        case PSN_WIZNEXT:
          result = Translate(m_pLogic->OnWizardNext());
          break;
        case PSN_WIZBACK:
          result = Translate(m_pLogic->OnWizardBack());
          break;
        case PSN_QUERYCANCEL:
          result = m_pLogic->OnQueryCancel() ? FALSE : TRUE;
          break;
        case PSN_WIZFINISH:
          result = m_pLogic->OnWizardFinish() ? FALSE : TRUE;
          break;
        default:
          return FALSE;
      }
      SetWindowLongPtrW(m_hwnd, DWLP_MSGRESULT, result);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

void Page1Window::SetAddChecked(BOOL add) {
  CheckRadioButton(m_hwnd, IDC_RADIO_ADD, IDC_RADIO_REMOVE, add ? IDC_RADIO_ADD : IDC_RADIO_REMOVE);
}

BOOL Page1Window::IsAddChecked() { return IsDlgButtonChecked(m_hwnd, IDC_RADIO_ADD) == BST_CHECKED; }

// The worker calls these: each message is sent, so the main thread carries
// it out while the worker waits.
LRESULT FinishWindow::Send(int control, UINT message, WPARAM wParam, LPARAM lParam) {
  HWND hwnd = m_hwnd;
  if (hwnd == nullptr) return 0;
  return SendMessageW(GetDlgItem(hwnd, control), message, wParam, lParam);
}

void FinishWindow::InitList() {
  LVCOLUMNW column = {};
  column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
  column.fmt = LVCFMT_LEFT;
  column.cx = 426;
  column.pszText = const_cast<wchar_t*>(L"");
  Send(IDC_LIST, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
}

void FinishWindow::SetHeading(const char* text) {
  std::wstring wide = WidenAnsi(text);
  Send(IDC_HEADING, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()));
}

void FinishWindow::SetAction(const char* text) {
  std::wstring wide = WidenAnsi(text);
  Send(IDC_ACTION, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()));
}

void FinishWindow::SetRange(WORD upper) { Send(IDC_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, upper)); }

void FinishWindow::SetPos(int position) { Send(IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(position), 0); }

void FinishWindow::StepIt() { Send(IDC_PROGRESS, PBM_STEPIT, 0, 0); }

int FinishWindow::GetRangeUpper() { return static_cast<int>(Send(IDC_PROGRESS, PBM_GETRANGE, FALSE, 0)); }

void FinishWindow::ClearList() { Send(IDC_LIST, LVM_DELETEALLITEMS, 0, 0); }

void FinishWindow::AppendLine(const char* text) {
  std::wstring wide = WidenAnsi(text);
  LVITEMW item = {};
  item.mask = LVIF_TEXT;
  item.iItem = static_cast<int>(Send(IDC_LIST, LVM_GETITEMCOUNT, 0, 0));
  item.pszText = const_cast<wchar_t*>(wide.c_str());
  LRESULT index = Send(IDC_LIST, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
  if (index >= 0) Send(IDC_LIST, LVM_ENSUREVISIBLE, static_cast<WPARAM>(index), TRUE);
}

void MessageBoxSink::ShowMessage(const char* text, const char* caption) {
  MessageBoxW(nullptr, WidenAnsi(text).c_str(), WidenAnsi(caption).c_str(), MB_OK);
}

// ---------------------------------------------------------------- sheet

CWizardSheet::CWizardSheet(UINT captionId, HWND parent, UINT firstPage, WORD language)
    : m_nCaptionId(captionId), m_hwndParent(parent), m_nFirstPage(firstPage), m_wLanguage(language) {}

void CWizardSheet::AddPage(PageWindow* page, UINT dialogId) {
  if (page->Logic() != nullptr) page->Logic()->SetSheet(this);
  m_pages.push_back(page);
  m_dialogIds.push_back(dialogId);
}

const DLGTEMPLATE* CWizardSheet::Template(UINT dialogId) const {
  HMODULE module = GetModuleHandleW(nullptr);
  WORD languages[] = {m_wLanguage, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)};
  for (WORD language : languages) {
    HRSRC resource = FindResourceExW(module, MAKEINTRESOURCEW(5) /* RT_DIALOG */, MAKEINTRESOURCEW(dialogId),
                                     language);
    if (resource == nullptr) continue;
    HGLOBAL loaded = LoadResource(module, resource);
    if (loaded != nullptr) return static_cast<const DLGTEMPLATE*>(LockResource(loaded));
  }
  return nullptr;
}

int CALLBACK CWizardSheet::SheetCallback(HWND hwnd, UINT message, LPARAM lParam) {
  if (message == PSCB_PRECREATE && lParam != 0) {
    // Title bar, system menu and minimise box: WS_POPUP | WS_VISIBLE |
    // WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_SETFONT | DS_3DLOOK. An
    // extended template starts with its version and signature; its style
    // comes after the help id and the extended style.
    auto* words = reinterpret_cast<DWORD*>(lParam);
    if (HIWORD(words[0]) == 0xFFFF) {
      words[3] |= 0x90CA0044;
    } else {
      words[0] |= 0x90CA0044;
    }
  } else if (message == PSCB_INITIALIZED && g_creatingSheet != nullptr) {
    g_creatingSheet->OnInitDialog(hwnd);
  }
  return 0;
}

void CWizardSheet::OnInitDialog(HWND hwnd) {
  m_hwnd = hwnd;
  SetWindowLongPtrW(hwnd, GWL_EXSTYLE, GetWindowLongPtrW(hwnd, GWL_EXSTYLE) | WS_EX_CONTROLPARENT);
  m_hIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_QEL));
  SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
  SetWindowTextW(hwnd, m_caption.c_str());
  m_pfnBaseProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWizardSheet::SheetWindowProc)));
}

LRESULT CALLBACK CWizardSheet::SheetWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CWizardSheet* sheet = g_creatingSheet;
  WNDPROC base = sheet != nullptr ? sheet->m_pfnBaseProc : nullptr;
  if (base == nullptr) return DefWindowProcW(hwnd, message, wParam, lParam);
  if (message == WM_CLOSE) {
    // The close button (or Alt+F4): the sheet would ask the page whether it
    // may close and then let the dialog manager turn the same request into
    // Cancel, which asks again. Going the way of Esc asks once.
    SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(hwnd, IDCANCEL)));
    return 0;
  }
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(base));
    sheet->m_pfnBaseProc = nullptr;
  }
  return CallWindowProcW(base, hwnd, message, wParam, lParam);
}

INT_PTR CWizardSheet::DoModal() {
  m_caption = WidenAnsi(Text(m_nCaptionId).c_str());
  std::vector<PROPSHEETPAGEW> pages;
  for (size_t i = 0; i < m_pages.size(); ++i) {
    const DLGTEMPLATE* dialog = Template(m_dialogIds[i]);
    if (dialog == nullptr) return -1;
    pages.push_back(m_pages[i]->MakePage(dialog));
  }
  PROPSHEETHEADERW header = {};
  header.dwSize = sizeof(header);
  header.dwFlags = PSH_WIZARD | PSH_USECALLBACK | PSH_PROPSHEETPAGE;
  header.hwndParent = m_hwndParent;
  header.hInstance = GetModuleHandleW(nullptr);
  header.pszCaption = m_caption.c_str();
  header.nPages = static_cast<UINT>(pages.size());
  header.nStartPage = m_nFirstPage;
  header.ppsp = pages.data();
  header.pfnCallback = &CWizardSheet::SheetCallback;
  g_creatingSheet = this;
  INT_PTR result = PropertySheetW(&header);
  g_creatingSheet = nullptr;
  m_hwnd = nullptr;
  if (m_hIcon != nullptr) DestroyIcon(m_hIcon);
  m_hIcon = nullptr;
  return result;
}

void CWizardSheet::JumpTo(UINT dialogId) {
  for (size_t i = 0; i < m_dialogIds.size(); ++i) {
    if (m_dialogIds[i] == dialogId) {
      PostMessageW(m_hwnd, PSM_SETCURSEL, static_cast<WPARAM>(i), 0);
      return;
    }
  }
}

void CWizardSheet::PostWizardButtons(DWORD flags) {
  if (m_hwnd != nullptr) PostMessageW(m_hwnd, PSM_SETWIZBUTTONS, 0, static_cast<LPARAM>(flags));
}

void CWizardSheet::HideCancelButton() {
  HWND cancel = GetDlgItem(m_hwnd, IDCANCEL);
  if (cancel != nullptr) ShowWindow(cancel, SW_HIDE);
}

int CWizardSheet::MessageBox(const char* text, UINT type) {
  return MessageBoxW(m_hwnd, WidenAnsi(text).c_str(), m_caption.c_str(), type);
}

}  // namespace qel::win32
