// A run's account writes, grouped into the account store's transactions
// where the store has them. The order of the lasting steps does not change:
// a wrapper batch is written before the write that names it, and the write
// that frees a wrapper lasts (its group commits) before the wrapper goes, so
// that the end of the process at any point leaves at worst a wrapper nobody
// names, never an account whose own script is lost.
#include "deploy/script_deployer.h"
#include "deploy/text_util.h"
#include "log/log_utility.h"
#include "platform/account_store.h"

namespace qel {

void CScriptDeployer::ExpectSelectedAccounts(const USER_NODE* node, std::vector<std::wstring>* names) {
  // The order ChangeNodeList reads them in; a selected container's accounts
  // come with its own search.
  for (; node != nullptr; node = node->pNext) {
    if (node->nType == UserType) {
      if (node->bSelected && node->pwszAccount != nullptr) names->push_back(node->pwszAccount);
    } else if (!node->bSelected) {
      ExpectSelectedAccounts(node->pChild, names);
    }
  }
}

void CScriptDeployer::BeginWrites() {
  m_bGroupWrites = Ports().accounts != nullptr;
}

void CScriptDeployer::BeforeWrite() {
  if (!m_bGroupWrites) return;
  if (m_pGroupStore != nullptr && m_dwHeldWrites >= m_dwGroupLimit) EndWriteGroup();
  if (m_pGroupStore != nullptr || Ports().accounts == nullptr) return;
  DWORD limit = Ports().accounts->BeginWriteGroup();
  if (limit == 0) {
    // The store has no groups: every write lasts on its own.
    m_bGroupWrites = FALSE;
    return;
  }
  m_pGroupStore = Ports().accounts;
  m_dwGroupLimit = limit;
}

BOOL CScriptDeployer::AfterWrite(BOOL written, const char* freedWrapper, const char* account) {
  if (m_pGroupStore == nullptr) {
    if (!written || freedWrapper == nullptr) return FALSE;
    if (DeleteBatchFile(freedWrapper)) return TRUE;
    _NCOvLogUtility::Warning("[ChangeScript]  UserName %s  wrapper batch not deleted!", account);
    return FALSE;
  }
  if (!written) return FALSE;
  ++m_dwHeldWrites;
  ++m_nHeldSucceeded;
  if (freedWrapper == nullptr) return FALSE;
  m_heldWrappers.push_back(freedWrapper);
  return TRUE;
}

void CScriptDeployer::EndWriteGroup() {
  if (m_pGroupStore == nullptr) return;
  IAccountStore* store = m_pGroupStore;
  m_pGroupStore = nullptr;
  NET_API_STATUS status = store->EndWriteGroup();
  if (status == NERR_Success) {
    for (const std::string& file : m_heldWrappers)
      if (!DeleteBatchFile(file.c_str()))
        _NCOvLogUtility::Warning("[ChangeScript]  wrapper batch %s not deleted!", file.c_str());
  } else {
    // Nothing of the group lasted: its accounts are as they were, still
    // naming their wrappers, and count as failed.
    _NCOvLogUtility::Warning("[ChangeScript]  %u account writes not committed (%u), counted as failed!",
                             static_cast<unsigned>(m_dwHeldWrites), static_cast<unsigned>(status));
    m_nSucceeded -= m_nHeldSucceeded;
  }
  m_dwHeldWrites = 0;
  m_nHeldSucceeded = 0;
  m_heldWrappers.clear();
}

void CScriptDeployer::EndWrites() {
  EndWriteGroup();
  m_bGroupWrites = FALSE;
}

}  // namespace qel
