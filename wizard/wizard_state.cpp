#include "wizard/wizard_state.h"

namespace qel {

WizardState& TheWizardState() {
  static WizardState state;
  return state;
}

}  // namespace qel
