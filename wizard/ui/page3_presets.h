// What both front ends add to the install-parameters page: the address and
// package given on the command line (/center, /package) put into the page's
// controls over its own defaults, and the reading of a typed address the way
// the IP address control reads it.
#pragma once

#include <string>

#include "wizard/page3_logic.h"

namespace qel {

// Dotted text of four numbers of 0 to 255 ("010.1.2.3" reads as
// "10.1.2.3"); "" when `text` is not such an address, as the IP address
// control stays blank for it.
std::string NormalizeDottedAddress(const std::string& text);

// CPage3 whose controls, once the page has set its defaults, take the
// address and package the command line gave; an empty value keeps the
// page's own default.
class CPresetPage3 : public CPage3 {
 public:
  CPresetPage3(IPage3View* view, std::string center, std::string package, WizardState& state = TheWizardState())
      : CPage3(view, state), m_pPresetView(view), m_strCenter(std::move(center)), m_strPackage(std::move(package)) {}
  BOOL OnInitDialog() override;

 private:
  IPage3View* m_pPresetView;
  std::string m_strCenter;
  std::string m_strPackage;
};

}  // namespace qel
