// The stand-in for the user page (108) until its own logic is wired into
// the front ends: it shows its page, sets its buttons and follows its jump
// rule, and takes its selection from what the front end hands it.
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

}  // namespace qel
