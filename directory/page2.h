// The user page (dialog 108): the domain's containers and accounts as a
// tree whose images are check marks, a search on a worker thread, and the
// check box that lets a run keep existing files (add) or delete unused ones
// (remove).
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "directory/directory_backend.h"
#include "directory/tree_ops.h"
#include "wizard/wizard_page.h"
#include "wizard/wizard_state.h"

namespace qel {

// What the page needs of its window: the tree, the controls and a way to run
// work on the user-interface thread.
class IUserPageView {
 public:
  virtual ITreeOps& Tree() = 0;
  // Check box 1004.
  virtual void SetExistCheckText(const char* text) = 0;
  virtual void HideExistCheck() = 0;
  virtual BOOL IsExistChecked() = 0;
  // Edit 1002 (logon name) or 1020 (display name).
  virtual std::string GetEditText(int controlId) = 0;
  // Button 1019 (Search) or 1003 (Stop).
  virtual void EnableButton(int controlId, BOOL enable) = 0;
  virtual void PlayAnimation(BOOL play) = 0;
  // Runs `work` on the user-interface thread and returns when it is done.
  // FALSE when it could not run (the window is gone).
  virtual BOOL RunOnUiThread(const std::function<void()>& work) = 0;

 protected:
  ~IUserPageView() = default;
};

class CPage2 : public CWizardPage, public IUserEntrySink {
 public:
  explicit CPage2(WizardState& state = TheWizardState());
  ~CPage2() override;

  void SetView(IUserPageView* view) { m_pView = view; }

  BOOL OnSetActive() override;
  LONG_PTR OnWizardNext() override;
  LONG_PTR OnWizardBack() override;

  // IUserEntrySink; runs on the thread that calls it.
  HTREEITEM InsertUserItem(const char* name, const wchar_t* path, const wchar_t* account, int type,
                           HTREEITEM parent) override;

  // Tree notifications. `onButton`: the click hit the expand button.
  void OnClickTree(HTREEITEM hit, BOOL onButton);
  void OnKeydownTree(UINT key);
  // TVN_ITEMEXPANDING; `expand`: the action is TVE_EXPAND. Always 0.
  LONG_PTR OnItemexpandingTree(HTREEITEM item, BOOL expand);

  void OnSearch();
  void OnStop();

  // Checks the item of an account (logon name) or a container (a name with
  // "=": its distinguished name), compared without case, reading containers
  // as far as needed to find it. FALSE when the domain has no such item.
  // For scripted runs (the front ends' selection option).
  BOOL SelectByName(const std::string& name);

  BOOL IsSearching() const { return m_bSearching.load(); }
  BOOL IsInstallBatchPresent();
  const wchar_t* NamingContext() const { return m_szNamingContext; }
  CDirectoryBackend& Backend() { return m_backend; }

 private:
  class SearchSink;
  static DWORD WINAPI SearchThreadProc(LPVOID parameter);
  void RunSearch();
  void OnSearchFinished();
  void LoadInitialUsers();
  void BackToIdle();

  WizardState& m_state;
  IUserPageView* m_pView = nullptr;
  CDirectoryBackend m_backend;          // user-interface thread
  SearchSink* m_pSearchSink;            // hands the search thread's entries to the UI thread
  CDirectoryBackend m_searchBackend;    // search thread
  HANDLE m_hStopEvent = nullptr;
  std::atomic<BOOL> m_bSearching{FALSE};
  BOOL m_bExistHidden = FALSE;
  DWORD m_dwBuiltOn = 0;  // UserNodeGeneration() of the list the tree shows
  wchar_t m_szNamingContext[260] = {};
};

}  // namespace qel
