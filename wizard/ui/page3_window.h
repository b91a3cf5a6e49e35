// The install-parameters page (dialog 109) as a Win32 page window: the view
// of CPage3 over the dialog's controls. Browse (1015) and Test (1016) call
// the page's handlers; its messages are modal boxes over the sheet.
//
//   win32::Page3Window window(&sheet);
//   CPage3 page(&window);
//   window.SetPage(&page);
//   sheet.AddPage(&window, IDD_PAGE3);
#pragma once

#include <string>

#include "wizard/page3_logic.h"
#include "wizard/ui/win32_wizard.h"

namespace qel::win32 {

class Page3Window : public PageWindow, public IPage3View {
 public:
  explicit Page3Window(CWizardSheet* sheet) : PageWindow(sheet, nullptr) {}
  void SetPage(CPage3* page) {
    m_pPage = page;
    SetLogic(page);
  }
  INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

  // IPage3View
  std::string GetCenterAddress() override;
  void SetCenterAddress(const std::string& address) override;
  std::string GetPackagePath() override;
  void SetPackagePath(const std::string& path) override;
  void FocusControl(int controlId) override;
  void ShowMessage(UINT stringId, const std::string& text, UINT type) override;
  bool RunOpenFileDialog(const Page3OpenFile& dialog, std::string* chosen) override;

 private:
  CPage3* m_pPage = nullptr;
};

}  // namespace qel::win32
