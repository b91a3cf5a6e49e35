#include "wizard/startup.h"

#include <cstring>
#include <vector>

#include "directory/user_node.h"
#include "platform/netapi_types.h"
#include "platform/ports.h"
#include "res/resource.h"
#include "wizard/netapi_entry.h"
#include "wizard/page_finish.h"

namespace qel {

namespace {

// Copies at most size - 1 bytes and terminates.
void CopyName(char* destination, size_t size, const char* source) {
  size_t length = std::strlen(source);
  if (length >= size) length = size - 1;
  std::memcpy(destination, source, length);
  destination[length] = '\0';
}

unsigned FoldAscii(unsigned char c) { return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c; }

bool IsLead(const unsigned char* p) {
  return *p != 0 && Ports().codePage != nullptr && CodePage().IsDBCSLeadByte(*p);
}

DWORD LastErrorOr(DWORD fallback) {
  DWORD error = QelGetLastError();
  return error != 0 ? error : fallback;
}

}  // namespace

int MbsICmp(const char* left, const char* right) {
  const unsigned char* a = reinterpret_cast<const unsigned char*>(left);
  const unsigned char* b = reinterpret_cast<const unsigned char*>(right);
  for (;;) {
    bool leadA = IsLead(a);
    bool leadB = IsLead(b);
    // A double-byte character equals only the same two bytes; single bytes
    // compare without letter case.
    unsigned ca = leadA ? (static_cast<unsigned>(a[0]) << 8) | a[1] : FoldAscii(*a);
    unsigned cb = leadB ? (static_cast<unsigned>(b[0]) << 8) | b[1] : FoldAscii(*b);
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == 0) return 0;
    if (leadA && a[1] == 0) return 0;  // the same cut character ends both
    a += leadA ? 2 : 1;
    b += leadB ? 2 : 1;
  }
}

DWORD FindDomainControllerName(char* name) {
  const size_t kNameSize = 260;
  HMODULE module = Loader().LoadLibraryA("netapi32.dll");
  if (module == nullptr) return LastErrorOr(ERROR_MOD_NOT_FOUND);
  auto bufferFree = reinterpret_cast<PFN_NetApiBufferFree>(Loader().GetProcAddress(module, "NetApiBufferFree"));
  if (bufferFree == nullptr) {
    DWORD error = LastErrorOr(ERROR_PROC_NOT_FOUND);
    Loader().FreeLibrary(module);
    return error;
  }
  DWORD major = System().GetVersion() & 0xFF;
  if (major >= 5) {
    auto getDcName = reinterpret_cast<PFN_DsGetDcNameA>(Loader().GetProcAddress(module, "DsGetDcNameA"));
    if (getDcName == nullptr) {
      DWORD error = LastErrorOr(ERROR_PROC_NOT_FOUND);
      Loader().FreeLibrary(module);
      return error;
    }
    PDOMAIN_CONTROLLER_INFOA info = nullptr;
    DWORD result = getDcName(nullptr, nullptr, nullptr, nullptr,
                             DS_RETURN_FLAT_NAME | DS_WRITABLE_REQUIRED | DS_IP_REQUIRED, &info);
    if (result != 0) {
      Loader().FreeLibrary(module);
      return result;
    }
    const char* controller = info != nullptr ? info->DomainControllerName : nullptr;
    if (controller != nullptr && std::strlen(controller) >= 2) CopyName(name, kNameSize, controller + 2);
    if (info != nullptr) bufferFree(info);
  } else {
    auto getDcName = reinterpret_cast<PFN_NetGetDCName>(Loader().GetProcAddress(module, "NetGetDCName"));
    if (getDcName == nullptr) {
      DWORD error = LastErrorOr(ERROR_PROC_NOT_FOUND);
      Loader().FreeLibrary(module);
      return error;
    }
    LPBYTE buffer = nullptr;
    DWORD result = getDcName(nullptr, nullptr, &buffer);
    if (result != 0) {
      Loader().FreeLibrary(module);
      return result;
    }
    const wchar_t* controller = reinterpret_cast<const wchar_t*>(buffer);
    if (controller != nullptr && controller[0] != 0 && controller[1] != 0) {
      int written = CodePage().WideCharToMultiByte(CP_ACP, 0, controller + 2, -1, name,
                                                   static_cast<int>(kNameSize), nullptr, nullptr);
      if (written <= 0) name[0] = '\0';
      name[kNameSize - 1] = '\0';
    }
    if (buffer != nullptr) bufferFree(buffer);
  }
  Loader().FreeLibrary(module);
  return 0;
}

DWORD GetDefaultNamingContext(wchar_t* buffer, DWORD* capacity) {
  if (capacity == nullptr) return 0;
  DWORD error = Directory().LoadProvider();
  if (error != 0) return error;
  Directory().CoInitialize();

  std::vector<wchar_t> value(1024);
  DWORD length = 0;
  BOOL isString = FALSE;
  HRESULT hr = Directory().GetObjectString(L"LDAP://rootDSE", L"defaultNamingContext", value.data(),
                                           static_cast<DWORD>(value.size()), &length, &isString);
  if (SUCCEEDED(hr) && isString && length + 1 > value.size()) {
    value.assign(length + 1, L'\0');
    hr = Directory().GetObjectString(L"LDAP://rootDSE", L"defaultNamingContext", value.data(),
                                     static_cast<DWORD>(value.size()), &length, &isString);
  }
  bool kept = SUCCEEDED(hr) && isString && length < value.size();
  if (!kept) length = 0;
  if (!kept || *capacity <= length) {
    *capacity = length;
    return 0;
  }
  std::memcpy(buffer, value.data(), length * sizeof(wchar_t));
  buffer[length] = L'\0';
  return 1;
}

UINT CScriptWizardApp::CheckDomainController() {
  m_state.m_dwMajorVersion = System().GetVersion() & 0xFF;
  if (!LoadNetApiEntryPoints()) return IDS_NOT_DC;

  std::memset(m_state.m_szDCName, 0, sizeof(m_state.m_szDCName));
  if (FindDomainControllerName(m_state.m_szDCName) != 0) return IDS_NO_DC;

  char computer[16] = {};
  DWORD size = sizeof(computer);
  System().GetComputerNameA(computer, &size);
  computer[sizeof(computer) - 1] = '\0';
  if (MbsICmp(m_state.m_szDCName, computer) != 0) return IDS_NOT_DC;
  return 0;
}

BOOL CScriptWizardApp::InitInstance(const StartupHooks& hooks) {
  UINT message = CheckDomainController();
  if (message != 0) {
    if (hooks.showMessage) hooks.showMessage(message);
    return FALSE;
  }
  if (hooks.runWizard) hooks.runWizard();
  return FALSE;
}

int CScriptWizardApp::ExitInstance() {
  // A run the administrator stopped may still be between two checks and
  // reading the list; the process ends now and frees it anyway.
  if (!IsDeploymentRunActive()) ClearUserNodes();
  return 0;
}

}  // namespace qel
