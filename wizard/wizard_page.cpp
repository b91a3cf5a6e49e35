#include "wizard/wizard_page.h"

#include <chrono>

namespace qel {

BOOL CPassThroughPage::OnSetActive() {
  if (m_pSheet != nullptr) m_pSheet->PostWizardButtons(m_dwButtons);
  return TRUE;
}

void CWizardFlow::AddPage(CWizardPage* page) {
  page->SetSheet(this);
  m_pages.push_back(page);
  m_initialised.push_back(false);
}

void CWizardFlow::Start() {
  if (!m_pages.empty()) Activate(0);
}

CWizardPage* CWizardFlow::Current() const {
  if (m_nCurrent < 0 || m_nCurrent >= static_cast<int>(m_pages.size())) return nullptr;
  return m_pages[static_cast<size_t>(m_nCurrent)];
}

int CWizardFlow::IndexOfDialog(UINT dialogId) const {
  for (size_t i = 0; i < m_pages.size(); ++i) {
    if (m_pages[i]->DialogId() == dialogId) return static_cast<int>(i);
  }
  return -1;
}

void CWizardFlow::Activate(int index) {
  m_nCurrent = index;
  CWizardPage* page = m_pages[static_cast<size_t>(index)];
  if (!m_initialised[static_cast<size_t>(index)]) {
    m_initialised[static_cast<size_t>(index)] = true;
    page->OnInitDialog();
  }
  page->OnSetActive();
}

BOOL CWizardFlow::Move(LONG_PTR result, int neighbour) {
  if (result == -1) return FALSE;
  int target = neighbour;
  if (result != 0) target = IndexOfDialog(static_cast<UINT>(result));
  if (target < 0 || target >= static_cast<int>(m_pages.size())) return FALSE;
  Activate(target);
  return TRUE;
}

BOOL CWizardFlow::Next() {
  CWizardPage* page = Current();
  if (m_bClosed || page == nullptr || (Buttons() & PSWIZB_NEXT) == 0) return FALSE;
  return Move(page->OnWizardNext(), m_nCurrent + 1);
}

BOOL CWizardFlow::Back() {
  CWizardPage* page = Current();
  if (m_bClosed || page == nullptr || (Buttons() & PSWIZB_BACK) == 0) return FALSE;
  return Move(page->OnWizardBack(), m_nCurrent - 1);
}

BOOL CWizardFlow::Cancel() {
  CWizardPage* page = Current();
  if (m_bClosed || page == nullptr) return FALSE;
  if (!page->OnQueryCancel()) return FALSE;
  m_bClosed = TRUE;
  return TRUE;
}

BOOL CWizardFlow::Finish() {
  CWizardPage* page = Current();
  if (m_bClosed || page == nullptr || (Buttons() & PSWIZB_FINISH) == 0) return FALSE;
  if (!page->OnWizardFinish()) return FALSE;
  m_bClosed = TRUE;
  return TRUE;
}

void CWizardFlow::PostWizardButtons(DWORD flags) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_dwButtons = flags;
  }
  m_changed.notify_all();
}

DWORD CWizardFlow::WaitButtonsChange(DWORD flags, DWORD milliseconds) {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_changed.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] { return m_dwButtons != flags; });
  return m_dwButtons;
}

int CWizardFlow::MessageBox(const char* text, UINT type) {
  if (m_messages) return m_messages(text, type);
  return (type & MB_YESNO) != 0 ? IDNO : IDOK;
}

}  // namespace qel
