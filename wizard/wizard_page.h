// The page side of the wizard: what every page does when the sheet shows it,
// moves on or back, or asks to close, written once for the Win32 window
// layer and the terminal front end.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/win_types.h"

#ifdef _WIN32
#include <prsht.h>
#else
#define PSWIZB_BACK 0x00000001u
#define PSWIZB_NEXT 0x00000002u
#define PSWIZB_FINISH 0x00000004u
#define PSWIZB_DISABLEDFINISH 0x00000008u
#endif

namespace qel {

// What a page may ask of the sheet that holds it. PostWizardButtons may be
// called from any thread (the progress page's worker calls it); the other
// operations from the main thread only.
class ISheetSite {
 public:
  virtual void PostWizardButtons(DWORD flags) = 0;
  virtual void HideCancelButton() = 0;
  // A modal message box over the wizard: IDOK, IDYES or IDNO.
  virtual int MessageBox(const char* text, UINT type) = 0;

 protected:
  ~ISheetSite() = default;
};

class CWizardPage {
 public:
  explicit CWizardPage(UINT dialogId) : m_nDialogId(dialogId) {}
  virtual ~CWizardPage() = default;
  CWizardPage(const CWizardPage&) = delete;
  CWizardPage& operator=(const CWizardPage&) = delete;

  UINT DialogId() const { return m_nDialogId; }
  void SetSheet(ISheetSite* sheet) { m_pSheet = sheet; }
  ISheetSite* Sheet() const { return m_pSheet; }

  // Once, when the page is first shown. TRUE.
  virtual BOOL OnInitDialog() { return TRUE; }
  // Each time the page becomes the current one. TRUE.
  virtual BOOL OnSetActive() { return TRUE; }
  // 0: the neighbouring page; -1: stay; a dialog id: jump to that page.
  virtual LONG_PTR OnWizardNext() { return 0; }
  virtual LONG_PTR OnWizardBack() { return 0; }
  // TRUE lets the wizard close.
  virtual BOOL OnQueryCancel() { return TRUE; }
  virtual BOOL OnWizardFinish() { return TRUE; }

 protected:
  ISheetSite* m_pSheet = nullptr;

 private:
  UINT m_nDialogId;
};

// A page that only sets its buttons (and, for Next, may jump): the stand-in
// for a page whose own logic is not wired into a front end.
class CPassThroughPage : public CWizardPage {
 public:
  CPassThroughPage(UINT dialogId, DWORD buttons, std::function<LONG_PTR()> next = nullptr)
      : CWizardPage(dialogId), m_dwButtons(buttons), m_next(std::move(next)) {}
  BOOL OnSetActive() override;
  LONG_PTR OnWizardNext() override { return m_next ? m_next() : 0; }

 private:
  DWORD m_dwButtons;
  std::function<LONG_PTR()> m_next;
};

// The sheet's rules without a window: pages in order, the current page, the
// buttons the current page posted, Next/Back with the jump rule, Cancel and
// Finish. Used by the terminal front end and by the tests; the Win32 sheet
// keeps the same rules through the property sheet.
class CWizardFlow : public ISheetSite {
 public:
  using MessageFn = std::function<int(const char* text, UINT type)>;
  explicit CWizardFlow(MessageFn messages = nullptr) : m_messages(std::move(messages)) {}

  void AddPage(CWizardPage* page);
  // Shows the first page.
  void Start();

  // Each returns TRUE when the page changed (Next/Back) or the wizard
  // closed (Cancel/Finish). A button that is not offered does nothing.
  BOOL Next();
  BOOL Back();
  BOOL Cancel();
  BOOL Finish();

  CWizardPage* Current() const;
  int CurrentIndex() const { return m_nCurrent; }
  int IndexOfDialog(UINT dialogId) const;
  BOOL IsClosed() const { return m_bClosed; }
  DWORD Buttons() const { return m_dwButtons.load(); }
  BOOL IsCancelHidden() const { return m_bCancelHidden; }
  // Waits until the buttons differ from `flags` or the time runs out.
  DWORD WaitButtonsChange(DWORD flags, DWORD milliseconds);

  // ISheetSite
  void PostWizardButtons(DWORD flags) override;
  void HideCancelButton() override { m_bCancelHidden = TRUE; }
  int MessageBox(const char* text, UINT type) override;

 private:
  void Activate(int index);
  BOOL Move(LONG_PTR result, int neighbour);

  MessageFn m_messages;
  std::vector<CWizardPage*> m_pages;
  std::vector<bool> m_initialised;
  int m_nCurrent = -1;
  BOOL m_bClosed = FALSE;
  BOOL m_bCancelHidden = FALSE;
  std::atomic<DWORD> m_dwButtons{0};
  std::mutex m_mutex;
  std::condition_variable m_changed;
};

}  // namespace qel
