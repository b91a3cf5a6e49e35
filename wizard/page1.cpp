#include "wizard/page1.h"

#include "directory/user_node.h"
#include "res/resource.h"

namespace qel {

CPage1::CPage1(IPage1View* view, WizardState& state) : CWizardPage(IDD_PAGE1), m_pView(view), m_state(state) {}

BOOL CPage1::OnInitDialog() {
  m_pView->SetAddChecked(TRUE);
  return TRUE;
}

BOOL CPage1::OnSetActive() {
  if (m_pSheet != nullptr) m_pSheet->PostWizardButtons(PSWIZB_NEXT);
  return TRUE;
}

LONG_PTR CPage1::OnWizardNext() {
  int operation = m_pView->IsAddChecked() ? OP_INSTALL : OP_UNINSTALL;
  // Which accounts the user page lists depends on the operation: a new
  // operation drops the selection so that the page loads afresh.
  if (operation != m_state.m_nOperation) {
    ClearUserNodes();
    m_state.m_nOperation = operation;
  }
  return 0;
}

}  // namespace qel
