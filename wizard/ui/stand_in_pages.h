// Stand-ins for the user page (108) and the install-parameters page (109)
// until their own logic is wired into the front ends: they show their page,
// set its buttons and follow its jump rule, and take their selection and
// parameters from what the front end hands them.
#pragma once

#include <string>
#include <vector>

#include "wizard/wizard_page.h"
#include "wizard/wizard_state.h"

namespace qel {

// Puts each name into the node list as a selected top-level node: a text
// with "=" is a container's distinguished name, any other an account's
// logon name. The list is emptied first.
void SelectNodes(const std::vector<std::string>& names);

class CStandInUserPage : public CWizardPage {
 public:
  explicit CStandInUserPage(WizardState& state = TheWizardState());
  BOOL OnSetActive() override;
  LONG_PTR OnWizardNext() override;
  // What the page selects on Next, and its check box 1004.
  std::vector<std::string> m_names;
  BOOL m_bExistChecked = FALSE;

 private:
  WizardState& m_state;
};

class CStandInParametersPage : public CWizardPage {
 public:
  explicit CStandInParametersPage(WizardState& state = TheWizardState());
  BOOL OnSetActive() override;
  LONG_PTR OnWizardNext() override;
  std::string m_strCenterIP;
  std::string m_strPackagePath;

 private:
  WizardState& m_state;
};

}  // namespace qel
