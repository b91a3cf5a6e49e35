#include "wizard/ui/stand_in_pages.h"

#include "directory/user_node.h"
#include "platform/ports.h"
#include "res/resource.h"

namespace qel {

namespace {

std::wstring Widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  if (Ports().codePage != nullptr) {
    int length = CodePage().MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
    if (length > 0) {
      std::wstring wide(static_cast<size_t>(length), L'\0');
      CodePage().MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), &wide[0], length);
      return wide;
    }
  }
  return std::wstring(text.begin(), text.end());
}

}  // namespace

void SelectNodes(const std::vector<std::string>& names) {
  ClearUserNodes();
  for (const std::string& name : names) {
    bool container = name.find('=') != std::string::npos;
    std::wstring wide = Widen(name);
    USER_NODE* node = container ? NewUserNode(name.c_str(), wide.c_str(), nullptr, OUType)
                                : NewUserNode(name.c_str(), nullptr, wide.c_str(), UserType);
    if (node == nullptr) continue;
    node->bSelected = TRUE;
    g_pLastUserNode->pNext = node;
    g_pLastUserNode = node;
  }
}

CStandInUserPage::CStandInUserPage(WizardState& state) : CWizardPage(IDD_PAGE2), m_state(state) {}

BOOL CStandInUserPage::OnSetActive() {
  if (m_pSheet != nullptr) m_pSheet->PostWizardButtons(PSWIZB_BACK | PSWIZB_NEXT);
  return TRUE;
}

LONG_PTR CStandInUserPage::OnWizardNext() {
  SelectNodes(m_names);
  if (m_bExistChecked) {
    if (m_state.m_nOperation == OP_INSTALL) {
      m_state.NoCopyWhenExist = TRUE;
      return IDD_PAGE_FINISH;
    }
    m_state.RemoveWhenExist = TRUE;
  } else {
    m_state.NoCopyWhenExist = FALSE;
    m_state.RemoveWhenExist = FALSE;
  }
  if (m_state.m_nOperation == OP_UNINSTALL) return IDD_PAGE_FINISH;
  return 0;
}

}  // namespace qel
