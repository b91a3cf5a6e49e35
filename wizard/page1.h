// The first page (dialog 107): add or remove the logon scripts.
#pragma once

#include "wizard/wizard_page.h"
#include "wizard/wizard_state.h"

namespace qel {

// The two radio buttons 1005 ("Add logon scripts") and 1007 ("Remove").
class IPage1View {
 public:
  virtual void SetAddChecked(BOOL add) = 0;  // ticks 1005 (else 1007)
  virtual BOOL IsAddChecked() = 0;

 protected:
  ~IPage1View() = default;
};

class CPage1 : public CWizardPage {
 public:
  explicit CPage1(IPage1View* view, WizardState& state = TheWizardState());
  BOOL OnInitDialog() override;
  BOOL OnSetActive() override;
  LONG_PTR OnWizardNext() override;

 private:
  IPage1View* m_pView;
  WizardState& m_state;
};

}  // namespace qel
