#include "platform/domain/account_records.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/domain/domain_text.h"

namespace qel {

namespace {

const std::wstring kEmpty;

// One answer's block: the records first, then their strings.
class NetBuffer {
 public:
  explicit NetBuffer(size_t fixedSize) : fixed_(fixedSize) {}
  void Reserve(const std::wstring& text) { strings_ += (text.size() + 1) * sizeof(wchar_t); }
  void ReserveBytes(size_t bytes) { strings_ += bytes; }
  bool Allocate() {
    size_t fixed = (fixed_ + alignof(wchar_t) - 1) / alignof(wchar_t) * alignof(wchar_t);
    block_ = static_cast<BYTE*>(std::calloc(1, fixed + strings_ + sizeof(wchar_t)));
    next_ = block_ ? block_ + fixed : nullptr;
    return block_ != nullptr;
  }
  BYTE* Block() const { return block_; }
  LPWSTR Copy(const std::wstring& text) {
    LPWSTR out = reinterpret_cast<LPWSTR>(next_);
    std::memcpy(out, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    next_ += (text.size() + 1) * sizeof(wchar_t);
    return out;
  }
  BYTE* Bytes(size_t count) {
    BYTE* out = next_;
    next_ += count;
    return out;
  }

 private:
  size_t fixed_;
  size_t strings_ = 0;
  BYTE* block_ = nullptr;
  BYTE* next_ = nullptr;
};

}  // namespace

DWORD AccountRecord::PrimaryGroup() const {
  if (primaryGroup != 0) return primaryGroup;
  if (flags & UF_SERVER_TRUST_ACCOUNT) return DOMAIN_GROUP_RID_CONTROLLERS;
  if (flags & UF_WORKSTATION_TRUST_ACCOUNT) return DOMAIN_GROUP_RID_COMPUTERS;
  return DOMAIN_GROUP_RID_USERS;
}

NET_API_STATUS MakeUserInfo3(const AccountRecord& a, LPBYTE* buffer) {
  *buffer = nullptr;
  const std::wstring logonServer = L"\\\\*";
  const std::wstring* texts[] = {&a.name,       &a.homeDir,     &a.comment, &a.scriptPath, &a.FullName(),
                                 &kEmpty,       &a.workstations, &logonServer, &a.profile, &a.homeDrive};
  NetBuffer out(sizeof(USER_INFO_3));
  for (const std::wstring* t : texts) out.Reserve(*t);
  out.Reserve(kEmpty);
  out.ReserveBytes(21);  // logon hours: one bit per hour of the week
  if (!out.Allocate()) return ERROR_NOT_ENOUGH_MEMORY;
  USER_INFO_3* info = reinterpret_cast<USER_INFO_3*>(out.Block());
  info->usri3_name = out.Copy(*texts[0]);
  info->usri3_password = nullptr;
  info->usri3_priv = USER_PRIV_USER;
  info->usri3_home_dir = out.Copy(*texts[1]);
  info->usri3_comment = out.Copy(*texts[2]);
  info->usri3_flags = a.ReportedFlags();
  info->usri3_script_path = out.Copy(*texts[3]);
  info->usri3_full_name = out.Copy(*texts[4]);
  info->usri3_usr_comment = out.Copy(*texts[5]);
  info->usri3_parms = out.Copy(kEmpty);
  info->usri3_workstations = out.Copy(*texts[6]);
  info->usri3_acct_expires = TIMEQ_FOREVER;
  info->usri3_max_storage = USER_MAXSTORAGE_UNLIMITED;
  info->usri3_units_per_week = 168;
  info->usri3_logon_server = out.Copy(*texts[7]);
  info->usri3_user_id = a.rid;
  info->usri3_primary_group_id = a.PrimaryGroup();
  info->usri3_profile = out.Copy(*texts[8]);
  info->usri3_home_dir_drive = out.Copy(*texts[9]);
  info->usri3_logon_hours = out.Bytes(21);
  std::memset(info->usri3_logon_hours, 0xFF, 21);
  *buffer = out.Block();
  return NERR_Success;
}

NET_API_STATUS AccountChangesOf(const AccountRecord& current, DWORD level, const BYTE* buffer,
                                std::vector<AccountChange>* changes, LPDWORD parameterError) {
  if (parameterError) *parameterError = PARM_ERROR_NONE;
  auto refuse = [&](DWORD parm) {
    if (parameterError) *parameterError = parm;
    return static_cast<NET_API_STATUS>(ERROR_INVALID_PARAMETER);
  };
  if (!buffer) return refuse(PARM_ERROR_UNKNOWN);
  if (level != 3 && level != 1008 && level != 1009) return ERROR_INVALID_LEVEL;
  auto text = [&](const wchar_t* attribute, const std::wstring& now, LPCWSTR value) {
    if (value && now != value) changes->push_back(AccountChange{attribute, value});
  };
  auto flags = [&](DWORD value) -> bool {
    DWORD type = value & kAccountTypeMask;
    if (type == 0 || (type & (type - 1)) != 0) return false;  // exactly one account type
    if (current.scriptFlagAlways) value = (value & ~static_cast<DWORD>(UF_SCRIPT)) | (current.flags & UF_SCRIPT);
    if (value != current.flags) changes->push_back(AccountChange{L"userAccountControl", std::to_wstring(value)});
    return true;
  };
  if (level == 3) {
    const USER_INFO_3* info = reinterpret_cast<const USER_INFO_3*>(buffer);
    // Renaming an account is not something these calls do here.
    if (info->usri3_name && !EqualNoCase(info->usri3_name, current.name.c_str())) return refuse(USER_NAME_PARMNUM);
    if (!flags(info->usri3_flags)) return refuse(USER_FLAGS_PARMNUM);
    text(L"scriptPath", current.scriptPath, info->usri3_script_path);
    text(L"profilePath", current.profile, info->usri3_profile);
    text(L"homeDirectory", current.homeDir, info->usri3_home_dir);
    text(L"description", current.comment, info->usri3_comment);
    text(L"userWorkstations", current.workstations, info->usri3_workstations);
    text(L"homeDrive", current.homeDrive, info->usri3_home_dir_drive);
    // The full name is displayName; writing back the cn it fell back to adds nothing.
    text(L"displayName", current.FullName(), info->usri3_full_name);
  } else if (level == 1008) {
    if (!flags(reinterpret_cast<const USER_INFO_1008*>(buffer)->usri1008_flags)) return refuse(USER_FLAGS_PARMNUM);
  } else {
    LPCWSTR script = reinterpret_cast<const USER_INFO_1009*>(buffer)->usri1009_script_path;
    if (!script) return refuse(USER_SCRIPT_PATH_PARMNUM);
    text(L"scriptPath", current.scriptPath, script);
  }
  return NERR_Success;
}

NET_API_STATUS MakeDisplayPage(size_t count, const std::function<DWORD(size_t)>& ridAt,
                               const std::function<AccountRecord(size_t)>& recordAt, DWORD index,
                               DWORD entriesRequested, DWORD preferredMaximumLength, LPDWORD returnedEntryCount,
                               PVOID* sortedBuffer) {
  *returnedEntryCount = 0;
  *sortedBuffer = nullptr;
  if (entriesRequested == 0) return ERROR_INVALID_PARAMETER;
  // The first account with a RID above the index.
  size_t start = 0, end = count;
  while (start < end) {
    size_t middle = start + (end - start) / 2;
    if (ridAt(middle) <= index)
      start = middle + 1;
    else
      end = middle;
  }
  size_t limit = std::min<size_t>({entriesRequested, kMaxDisplayEntries, count - start});
  std::vector<AccountRecord> records;
  size_t bytes = 0;
  while (records.size() < limit) {
    AccountRecord a = recordAt(start + records.size());
    size_t size = sizeof(NET_DISPLAY_USER) + (a.name.size() + a.comment.size() + a.FullName().size() + 3) * sizeof(wchar_t);
    // The preferred length is a wish: at least one entry always comes back.
    if (!records.empty() && preferredMaximumLength != MAX_PREFERRED_LENGTH && bytes + size > preferredMaximumLength)
      break;
    bytes += size;
    records.push_back(std::move(a));
  }
  if (records.empty()) return NERR_Success;
  NetBuffer block(sizeof(NET_DISPLAY_USER) * records.size());
  block.ReserveBytes(bytes);
  if (!block.Allocate()) return ERROR_NOT_ENOUGH_MEMORY;
  NET_DISPLAY_USER* entries = reinterpret_cast<NET_DISPLAY_USER*>(block.Block());
  for (size_t i = 0; i < records.size(); ++i) {
    const AccountRecord& a = records[i];
    entries[i].usri1_name = block.Copy(a.name);
    entries[i].usri1_comment = block.Copy(a.comment);
    entries[i].usri1_flags = a.ReportedFlags();
    entries[i].usri1_full_name = block.Copy(a.FullName());
    entries[i].usri1_user_id = a.rid;
    entries[i].usri1_next_index = a.rid;
  }
  *returnedEntryCount = static_cast<DWORD>(records.size());
  *sortedBuffer = block.Block();
  return start + records.size() < count ? ERROR_MORE_DATA : NERR_Success;
}

NET_API_STATUS MakeGroupUsersPage(const std::vector<std::wstring>& members, DWORD level, LPBYTE* buffer,
                                  DWORD preferredMaximumLength, LPDWORD entriesRead, LPDWORD totalEntries,
                                  DWORD_PTR* resumeHandle) {
  *buffer = nullptr;
  *entriesRead = *totalEntries = 0;
  if (level != 0 && level != 1) return ERROR_INVALID_LEVEL;
  size_t start = resumeHandle ? static_cast<size_t>(*resumeHandle) : 0;
  if (start > members.size()) start = members.size();
  size_t fixed = level == 0 ? sizeof(GROUP_USERS_INFO_0) : sizeof(GROUP_USERS_INFO_1);
  size_t count = 0, bytes = 0;
  for (size_t i = start; i < members.size(); ++i) {
    size_t size = fixed + (members[i].size() + 1) * sizeof(wchar_t);
    // The preferred length is a wish: at least one entry always comes back.
    if (count > 0 && preferredMaximumLength != MAX_PREFERRED_LENGTH && bytes + size > preferredMaximumLength) break;
    bytes += size;
    ++count;
  }
  NetBuffer out(fixed * count);
  out.ReserveBytes(bytes - fixed * count);
  if (!out.Allocate()) return ERROR_NOT_ENOUGH_MEMORY;
  for (size_t i = 0; i < count; ++i) {
    LPWSTR name = out.Copy(members[start + i]);
    if (level == 0) {
      reinterpret_cast<GROUP_USERS_INFO_0*>(out.Block())[i].grui0_name = name;
    } else {
      GROUP_USERS_INFO_1& entry = reinterpret_cast<GROUP_USERS_INFO_1*>(out.Block())[i];
      entry.grui1_name = name;
      entry.grui1_attributes = SE_GROUP_MANDATORY | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_ENABLED;
    }
  }
  *buffer = out.Block();
  *entriesRead = static_cast<DWORD>(count);
  *totalEntries = static_cast<DWORD>(members.size() - start);
  bool more = start + count < members.size();
  if (resumeHandle) *resumeHandle = more ? static_cast<DWORD_PTR>(start + count) : 0;
  return more ? ERROR_MORE_DATA : NERR_Success;
}

DWORD MakeDcInfo(const std::wstring& controllerName, const std::wstring& netbios, const std::wstring& dns,
                 ULONG flags, PDOMAIN_CONTROLLER_INFOA* info) {
  *info = nullptr;
  bool flat = (flags & DS_RETURN_FLAT_NAME) != 0;
  std::string controller = "\\\\" + WideToUtf8(controllerName);
  if (!flat) controller += "." + WideToUtf8(dns);
  std::string texts[] = {controller, "\\\\127.0.0.1", WideToUtf8(flat ? netbios : dns), WideToUtf8(dns),
                         "Default-First-Site-Name"};
  size_t bytes = sizeof(DOMAIN_CONTROLLER_INFOA);
  for (const std::string& t : texts) bytes += t.size() + 1;
  char* block = static_cast<char*>(std::calloc(1, bytes));
  if (!block) return ERROR_NOT_ENOUGH_MEMORY;
  DOMAIN_CONTROLLER_INFOA* dc = reinterpret_cast<DOMAIN_CONTROLLER_INFOA*>(block);
  char* next = block + sizeof(DOMAIN_CONTROLLER_INFOA);
  char* copies[5];
  for (int i = 0; i < 5; ++i) {
    copies[i] = next;
    std::memcpy(next, texts[i].c_str(), texts[i].size() + 1);
    next += texts[i].size() + 1;
  }
  dc->DomainControllerName = copies[0];
  dc->DomainControllerAddress = copies[1];
  dc->DomainControllerAddressType = DS_INET_ADDRESS;
  dc->DomainName = copies[2];
  dc->DnsForestName = copies[3];
  dc->Flags = DS_PDC_FLAG | DS_GC_FLAG | DS_DS_FLAG | DS_KDC_FLAG | DS_WRITABLE_FLAG |
              (flat ? 0u : DS_DNS_CONTROLLER_FLAG);
  dc->DcSiteName = copies[4];
  dc->ClientSiteName = copies[4];
  *info = dc;
  return NERR_Success;
}

NET_API_STATUS MakeDcName(const std::wstring& controller, LPBYTE* buffer) {
  *buffer = nullptr;
  NetBuffer out(0);
  std::wstring name = L"\\\\" + controller;
  out.Reserve(name);
  if (!out.Allocate()) return ERROR_NOT_ENOUGH_MEMORY;
  out.Copy(name);
  *buffer = out.Block();
  return NERR_Success;
}

}  // namespace qel
