// The user page's window on Windows: the tree view with its check-mark
// images, the search controls, the animation and the tooltip, as a view of
// CPage2. Calls from the search thread reach the window by SendMessage.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

#include "directory/page2.h"
#include "directory/tree_ops.h"
#include "directory/ui/win32_tree.h"
#include "wizard/ui/win32_wizard.h"

namespace qel::win32 {

class UserPageWindow : public PageWindow, public IUserPageView {
 public:
  UserPageWindow(CWizardSheet* sheet, CPage2* logic);
  ~UserPageWindow() override;
  INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  // Accounts or containers checked once the page has made its first listing
  // (the front end's selection option).
  void SetSelection(const std::vector<std::string>& names) { m_selection = names; }

  // IUserPageView
  ITreeOps& Tree() override { return m_tree; }
  void SetExistCheckText(const char* text) override;
  void HideExistCheck() override;
  BOOL IsExistChecked() override;
  std::string GetEditText(int controlId) override;
  void EnableButton(int controlId, BOOL enable) override;
  void PlayAnimation(BOOL play) override;
  BOOL RunOnUiThread(const std::function<void()>& work) override;

 private:
  void InitControls();
  CPage2* m_pPage;
  TreeViewOps m_tree;
  HIMAGELIST m_hImages = nullptr;
  HWND m_hTooltip = nullptr;
  DWORD m_dwUiThread = 0;
  wchar_t m_szTooltip[512] = {};
  std::vector<std::string> m_selection;
};

}  // namespace qel::win32
