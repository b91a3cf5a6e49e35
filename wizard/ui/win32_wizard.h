// The Win32 wizard: the property sheet in wizard mode and the windows of its
// pages, each page window a view of the page logic it hosts.
#pragma once

#include <memory>
#include <vector>

#include "deploy/progress.h"
#include "wizard/page1.h"
#include "wizard/page_finish.h"
#include "wizard/ui/win32_window.h"

namespace qel::win32 {

class CWizardSheet;

// One page window: turns the sheet's notifications into the page logic's
// calls. Views of particular pages derive from it.
class PageWindow : public PropertyPageWindow<PageWindow> {
 public:
  PageWindow(CWizardSheet* sheet, CWizardPage* logic) : m_pSheet(sheet), m_pLogic(logic) {}
  virtual ~PageWindow() = default;
  virtual INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  CWizardPage* Logic() const { return m_pLogic; }
  void SetLogic(CWizardPage* logic) { m_pLogic = logic; }

 protected:
  virtual void OnCreated() {}
  LRESULT Translate(LONG_PTR result);

  CWizardSheet* m_pSheet;
  CWizardPage* m_pLogic;
};

class Page1Window : public PageWindow, public IPage1View {
 public:
  explicit Page1Window(CWizardSheet* sheet) : PageWindow(sheet, nullptr) {}
  void SetAddChecked(BOOL add) override;
  BOOL IsAddChecked() override;
};

class FinishWindow : public PageWindow, public IProgressPageView {
 public:
  explicit FinishWindow(CWizardSheet* sheet) : PageWindow(sheet, nullptr) {}
  void InitList() override;
  void SetHeading(const char* text) override;
  void SetAction(const char* text) override;
  void SetRange(WORD upper) override;
  void SetPos(int position) override;
  void StepIt() override;
  int GetRangeUpper() override;
  void ClearList() override;
  void AppendLine(const char* text) override;

 private:
  LRESULT Send(int control, UINT message, WPARAM wParam, LPARAM lParam);
};

// The engine's message boxes: MessageBoxA without owner, MB_OK.
class MessageBoxSink : public IMessageSink {
 public:
  void ShowMessage(const char* text, const char* caption) override;
};

class CWizardSheet : public ISheetSite {
 public:
  // Caption string id, parent window, first page; `language` picks the page
  // templates (1033, 2052 or 1028).
  CWizardSheet(UINT captionId, HWND parent, UINT firstPage, WORD language);
  void AddPage(PageWindow* page, UINT dialogId);
  INT_PTR DoModal();
  HWND Hwnd() const { return m_hwnd; }
  // The sheet's window, as its first page sees it (the page may be made
  // before the sheet reports itself initialised).
  void Attach(HWND hwnd) {
    if (m_hwnd == nullptr) m_hwnd = hwnd;
  }
  // Moves to the page of this dialog (a page's Next or Back asked for it).
  void JumpTo(UINT dialogId);

  // ISheetSite
  void PostWizardButtons(DWORD flags) override;
  void HideCancelButton() override;
  int MessageBox(const char* text, UINT type) override;

 private:
  static int CALLBACK SheetCallback(HWND hwnd, UINT message, LPARAM lParam);
  static LRESULT CALLBACK SheetWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  void OnInitDialog(HWND hwnd);
  const DLGTEMPLATE* Template(UINT dialogId) const;

  UINT m_nCaptionId;
  HWND m_hwndParent;
  UINT m_nFirstPage;
  WORD m_wLanguage;
  HWND m_hwnd = nullptr;
  HICON m_hIcon = nullptr;
  WNDPROC m_pfnBaseProc = nullptr;  // the sheet's own window procedure
  std::wstring m_caption;
  std::vector<PageWindow*> m_pages;
  std::vector<UINT> m_dialogIds;
};

}  // namespace qel::win32
