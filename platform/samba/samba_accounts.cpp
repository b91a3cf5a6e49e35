#include "platform/samba/samba_accounts.h"

#include <ldap.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>

#include "platform/domain/domain_text.h"

namespace qel {

namespace {

const std::vector<std::string> kAccountAttributes = {
    "sAMAccountName", "homeDirectory", "description", "scriptPath", "displayName", "cn",
    "userWorkstations", "profilePath", "homeDrive", "userAccountControl", "objectSid", "primaryGroupID"};

AccountRecord RecordOf(const LdapEntry& entry) {
  AccountRecord a;
  a.name = Utf8ToWide(entry.First("sAMAccountName"));
  a.homeDir = Utf8ToWide(entry.First("homeDirectory"));
  a.comment = Utf8ToWide(entry.First("description"));
  a.scriptPath = Utf8ToWide(entry.First("scriptPath"));
  a.displayName = Utf8ToWide(entry.First("displayName"));
  a.cn = Utf8ToWide(entry.First("cn"));
  a.workstations = Utf8ToWide(entry.First("userWorkstations"));
  a.profile = Utf8ToWide(entry.First("profilePath"));
  a.homeDrive = Utf8ToWide(entry.First("homeDrive"));
  std::string flags = entry.First("userAccountControl");
  // The directory keeps the flags as a signed 32-bit number.
  if (!flags.empty()) a.flags = static_cast<DWORD>(std::strtoll(flags.c_str(), nullptr, 10));
  a.rid = RidOfSid(entry.First("objectSid"));
  a.primaryGroup = static_cast<DWORD>(std::strtoul(entry.First("primaryGroupID").c_str(), nullptr, 10));
  return a;
}

// The parameter number of the field behind an attribute, for a refused write.
DWORD ParameterOf(const std::wstring& attribute) {
  if (attribute == L"scriptPath") return USER_SCRIPT_PATH_PARMNUM;
  if (attribute == L"userAccountControl") return USER_FLAGS_PARMNUM;
  if (attribute == L"homeDirectory") return USER_HOME_DIR_PARMNUM;
  if (attribute == L"description") return USER_COMMENT_PARMNUM;
  if (attribute == L"displayName") return USER_FULL_NAME_PARMNUM;
  if (attribute == L"userWorkstations") return USER_WORKSTATIONS_PARMNUM;
  return PARM_ERROR_UNKNOWN;
}

}  // namespace

NET_API_STATUS NetStatusOfLdap(int code) {
  switch (code) {
    case LDAP_SUCCESS: return NERR_Success;
    case LDAP_INSUFFICIENT_ACCESS:
    case LDAP_STRONG_AUTH_REQUIRED:
    case LDAP_INAPPROPRIATE_AUTH:
    case LDAP_INVALID_CREDENTIALS: return ERROR_ACCESS_DENIED;
    case LDAP_CONSTRAINT_VIOLATION:
    case LDAP_UNWILLING_TO_PERFORM:
    case LDAP_INVALID_SYNTAX:
    case LDAP_OBJECT_CLASS_VIOLATION:
    case LDAP_UNDEFINED_TYPE: return ERROR_INVALID_PARAMETER;
    case LDAP_NO_SUCH_OBJECT: return NERR_UserNotFound;
    case LDAP_SERVER_DOWN:
    case LDAP_CONNECT_ERROR:
    case LDAP_TIMEOUT:
    case LDAP_BUSY:
    case LDAP_UNAVAILABLE: return kServerUnavailable;
    case LDAP_NO_MEMORY: return ERROR_NOT_ENOUGH_MEMORY;
    default: return ERROR_GEN_FAILURE;
  }
}

DWORD RidOfSid(const std::string& sid) {
  // Revision, count of sub-authorities, 6-byte authority, then the
  // sub-authorities as little-endian 32-bit numbers; the RID is the last.
  if (sid.size() < 8) return 0;
  size_t count = static_cast<unsigned char>(sid[1]);
  if (count == 0 || sid.size() != 8 + 4 * count) return 0;
  const unsigned char* last = reinterpret_cast<const unsigned char*>(sid.data()) + 8 + 4 * (count - 1);
  return static_cast<DWORD>(last[0]) | static_cast<DWORD>(last[1]) << 8 | static_cast<DWORD>(last[2]) << 16 |
         static_cast<DWORD>(last[3]) << 24;
}

SambaAccounts::SambaAccounts(DirectoryLink& ldap, const SambaConfig& config, const std::string& namingContext)
    : ldap_(ldap), config_(config), namingContext_(namingContext) {}

bool SambaAccounts::IsLocalServer(LPCWSTR server) const {
  if (!server || !*server) return true;
  std::string name = WideToUtf8(server);
  if (name.size() > 2 && name[0] == '\\' && name[1] == '\\') name = name.substr(2);
  return AsciiEqualNoCase(name, config_.netbiosName) ||
         AsciiEqualNoCase(name, config_.netbiosName + "." + config_.DnsDomain());
}

NET_API_STATUS SambaAccounts::FindAccount(const std::wstring& name, AccountRecord* record, std::string* dn) {
  // No account has an empty name; the filter would not even be valid.
  if (name.empty()) return NERR_UserNotFound;
  std::string filter = "(&(objectClass=user)(sAMAccountName=" + LdapFilterEscape(WideToUtf8(name)) + "))";
  std::string cookie;
  std::vector<LdapEntry> found;
  int rc = ldap_.SearchPage(namingContext_, LdapScope::kSubtree, filter, kAccountAttributes, 0, 0, &cookie, &found);
  if (rc != LDAP_SUCCESS) return NetStatusOfLdap(rc);
  if (found.empty()) return NERR_UserNotFound;
  *record = RecordOf(found.front());
  if (dn) *dn = found.front().dn;
  return NERR_Success;
}

namespace {
// Accounts kept: at most this many (a page of the directory's searches, a
// group of expected accounts and some), for at most this long.
constexpr size_t kRecentReads = 2000;
constexpr std::chrono::seconds kRecentReadLife(30);
// A script path read longer ago than this is read again before the
// library writes it (its write cannot be made conditional).
constexpr std::chrono::seconds kUncheckedAge(1);
// Expected accounts read with one search.
constexpr size_t kExpectedPerSearch = 100;

bool EndsWithNoCase(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && AsciiEqualNoCase(text.substr(text.size() - tail.size()), tail);
}
}  // namespace

SambaAccounts::~SambaAccounts() {
  std::lock_guard<std::mutex> lock(groupMutex_);
  if (groupOpen_) ldap_.CancelTransaction();
}

const std::vector<std::string>& SambaAccounts::AccountAttributes() { return kAccountAttributes; }

void SambaAccounts::RememberRead(const AccountRecord& record, const std::string& dn,
                                 std::chrono::steady_clock::time_point at) {
  std::lock_guard<std::mutex> lock(recentMutex_);
  std::wstring key = FoldCase(record.name);
  RecentRead& entry = recent_[key];
  entry.record = record;
  entry.dn = dn;
  entry.at = at;
  entry.serial = ++recentSerial_;
  recentOrder_.emplace_back(key, entry.serial);
  // The oldest go first; an entry read again since is only dropped by its latest serial.
  while (recent_.size() > kRecentReads && !recentOrder_.empty()) {
    auto it = recent_.find(recentOrder_.front().first);
    if (it != recent_.end() && it->second.serial == recentOrder_.front().second) recent_.erase(it);
    recentOrder_.pop_front();
  }
  if (recentOrder_.size() > 4 * kRecentReads) {
    std::deque<std::pair<std::wstring, uint64_t>> kept;
    for (const auto& o : recentOrder_) {
      auto it = recent_.find(o.first);
      if (it != recent_.end() && it->second.serial == o.second) kept.push_back(o);
    }
    recentOrder_.swap(kept);
  }
}

bool SambaAccounts::TakeRecentRead(const std::wstring& name, AccountRecord* record, std::string* dn,
                                   std::chrono::steady_clock::time_point* at) {
  std::lock_guard<std::mutex> lock(recentMutex_);
  auto it = recent_.find(FoldCase(name));
  if (it == recent_.end()) return false;
  bool fresh = std::chrono::steady_clock::now() - it->second.at < kRecentReadLife;
  if (fresh) {
    *record = it->second.record;
    *dn = it->second.dn;
    if (at) *at = it->second.at;
  }
  // Written or not, what it held is no longer the account as it is.
  recent_.erase(it);
  return fresh;
}

bool SambaAccounts::PeekRecentRead(const std::wstring& name, AccountRecord* record) {
  std::lock_guard<std::mutex> lock(recentMutex_);
  auto it = recent_.find(FoldCase(name));
  if (it == recent_.end() || std::chrono::steady_clock::now() - it->second.at >= kRecentReadLife) return false;
  *record = it->second.record;
  return true;
}

void SambaAccounts::ReadAhead(const std::vector<LdapEntry>& entries) {
  if (perAccount_) return;
  for (const LdapEntry& e : entries) {
    if (e.First("sAMAccountName").empty() || !EndsWithNoCase(e.dn, namingContext_)) continue;
    // User objects only (computers are users too). Every caller asked for
    // all of the account's attributes, so one missing from a row is one the
    // account does not have.
    const std::vector<std::string>* classes = e.Find("objectclass");
    bool account = false;
    for (size_t i = 0; classes && i < classes->size(); ++i) account = account || AsciiEqualNoCase((*classes)[i], "user");
    if (account) RememberRead(RecordOf(e), e.dn);
  }
}

void SambaAccounts::ExpectAccounts(const std::vector<std::wstring>& names) {
  std::lock_guard<std::mutex> lock(recentMutex_);
  expected_.clear();
  expectedAt_.clear();
  expectedReadTo_ = 0;
  if (perAccount_) return;
  for (const std::wstring& name : names) {
    if (name.empty()) continue;
    std::wstring key = FoldCase(name);
    if (expectedAt_.emplace(key, expected_.size()).second) expected_.push_back(key);
  }
}

void SambaAccounts::ReadExpected(size_t position) {
  std::string filter;
  {
    std::lock_guard<std::mutex> lock(recentMutex_);
    size_t end = std::min(expected_.size(), position + kExpectedPerSearch);
    for (size_t i = position; i < end; ++i)
      filter += "(sAMAccountName=" + LdapFilterEscape(WideToUtf8(expected_[i])) + ")";
    expectedReadTo_ = std::max(expectedReadTo_, end);
  }
  if (filter.empty()) return;
  std::vector<std::string> attributes = kAccountAttributes;
  attributes.push_back("objectClass");
  std::string cookie;
  std::vector<LdapEntry> found;
  // A failed search reads nothing ahead: each account is then read on its own.
  if (ldap_.SearchPage(namingContext_, LdapScope::kSubtree, "(&(objectClass=user)(|" + filter + "))", attributes, 0,
                       0, &cookie, &found) == LDAP_SUCCESS)
    ReadAhead(found);
}

NET_API_STATUS SambaAccounts::NetApiBufferFree(LPVOID buffer) {
  std::free(buffer);
  return NERR_Success;
}

NET_API_STATUS SambaAccounts::NetUserGetInfo(LPCWSTR server, LPCWSTR user, DWORD level, LPBYTE* buffer) {
  if (!buffer) return ERROR_INVALID_PARAMETER;
  *buffer = nullptr;
  if (!IsLocalServer(server)) return ERROR_BAD_NETPATH;
  if (!user) return ERROR_INVALID_PARAMETER;
  if (level != 3) return ERROR_INVALID_LEVEL;
  AccountRecord record;
  if (!perAccount_) {
    if (PeekRecentRead(user, &record)) return MakeUserInfo3(record, buffer);
    size_t position = 0;
    bool ahead = false;
    {
      std::lock_guard<std::mutex> lock(recentMutex_);
      auto it = expectedAt_.find(FoldCase(user));
      ahead = it != expectedAt_.end() && it->second >= expectedReadTo_;
      if (ahead) position = it->second;
    }
    if (ahead) {
      ReadExpected(position);
      if (PeekRecentRead(user, &record)) return MakeUserInfo3(record, buffer);
    }
  }
  std::string dn;
  NET_API_STATUS status = FindAccount(user, &record, &dn);
  if (status != NERR_Success) return status;
  RememberRead(record, dn);
  return MakeUserInfo3(record, buffer);
}

NET_API_STATUS SambaAccounts::NetUserSetInfo(LPCWSTR server, LPCWSTR user, DWORD level, LPBYTE buffer,
                                             LPDWORD parameterError) {
  if (parameterError) *parameterError = PARM_ERROR_NONE;
  if (!IsLocalServer(server)) return ERROR_BAD_NETPATH;
  if (!user || !buffer) {
    if (parameterError) *parameterError = PARM_ERROR_UNKNOWN;
    return ERROR_INVALID_PARAMETER;
  }
  if (level != 3 && level != 1008 && level != 1009) return ERROR_INVALID_LEVEL;
  AccountRecord current;
  std::string dn;
  NET_API_STATUS status = NERR_Success;
  auto readAt = std::chrono::steady_clock::now();
  if (!TakeRecentRead(user, &current, &dn, &readAt)) status = FindAccount(user, &current, &dn);
  if (status != NERR_Success) return status;
  std::vector<AccountChange> changes;
  status = AccountChangesOf(current, level, buffer, &changes, parameterError);
  if (status != NERR_Success || changes.empty()) return status;
  {
    std::lock_guard<std::mutex> lock(recentMutex_);
    lastWrite_ = std::chrono::steady_clock::now();
  }
  if (netapi_ && changes.size() == 1 && std::wstring(changes.front().attribute) == L"scriptPath") {
    // The library's write cannot say which value it replaces: a script path
    // read more than a moment ago is read again, and a change made meanwhile
    // by someone else fails the write instead of being overwritten.
    if (!perAccount_ && std::chrono::steady_clock::now() - readAt > kUncheckedAge) {
      AccountRecord now;
      status = FindAccount(user, &now, &dn);
      if (status != NERR_Success) return status;
      if (now.scriptPath != current.scriptPath) return ERROR_GEN_FAILURE;
    }
    status = netapi_->SetScriptPath(WideToUtf8(current.name), WideToUtf8(changes.front().value));
    if (status == ERROR_INVALID_PARAMETER && parameterError) *parameterError = USER_SCRIPT_PATH_PARMNUM;
    return status;
  }
  std::vector<LdapModification> modifications;
  for (const AccountChange& c : changes) {
    LdapModification m;
    m.attribute = WideToUtf8(c.attribute);
    m.value = WideToUtf8(c.value);
    modifications.push_back(m);
    // What the caller decided on may have been read a while ago: the script
    // path changes only while it is still the one read, so a change made by
    // someone else meanwhile is never overwritten (the write fails instead).
    if (!perAccount_ && std::wstring(c.attribute) == L"scriptPath") {
      modifications.back().onlyIfWas = true;
      modifications.back().was = WideToUtf8(current.scriptPath);
    }
  }
  int rc = ModifyAccount(dn, modifications);
  // Renamed or moved since it was read: read it again and write once more.
  if (rc == LDAP_NO_SUCH_OBJECT && FindAccount(user, &current, &dn) == NERR_Success) rc = ModifyAccount(dn, modifications);
  status = NetStatusOfLdap(rc);
  if (status == ERROR_INVALID_PARAMETER && parameterError)
    *parameterError = changes.size() == 1 ? ParameterOf(changes.front().attribute) : PARM_ERROR_UNKNOWN;
  return status;
}

int SambaAccounts::ModifyAccount(const std::string& dn, const std::vector<LdapModification>& modifications) {
  std::lock_guard<std::mutex> lock(groupMutex_);
  if (!groupOpen_) return ldap_.Modify(dn, modifications);
  if (groupFailure_ != LDAP_SUCCESS) return groupFailure_;
  int rc = ldap_.Modify(dn, modifications);
  if (rc == LDAP_SUCCESS) {
    groupWrites_.emplace_back(dn, modifications);
    return rc;
  }
  // A failed modification may have left its transaction unusable: the
  // group starts over without it, its earlier writes made again.
  int again = ldap_.CancelTransaction();
  if (again == LDAP_SUCCESS) again = ldap_.BeginTransaction();
  for (size_t i = 0; again == LDAP_SUCCESS && i < groupWrites_.size(); ++i)
    again = ldap_.Modify(groupWrites_[i].first, groupWrites_[i].second);
  if (again != LDAP_SUCCESS) groupFailure_ = again;
  return rc;
}

DWORD SambaAccounts::BeginWriteGroup() {
  if (perAccount_ || !ldap_.Transactions()) return 0;
  std::lock_guard<std::mutex> lock(groupMutex_);
  if (!groupOpen_) {
    // Without a transaction every write stands on its own, as before.
    if (ldap_.BeginTransaction() != LDAP_SUCCESS) return 0;
    groupOpen_ = true;
    groupFailure_ = LDAP_SUCCESS;
    groupWrites_.clear();
  }
  return kGroupWrites;
}

NET_API_STATUS SambaAccounts::EndWriteGroup() {
  int rc = LDAP_SUCCESS;
  {
    std::lock_guard<std::mutex> lock(groupMutex_);
    if (!groupOpen_) return NERR_Success;
    groupOpen_ = false;
    if (groupFailure_ != LDAP_SUCCESS) {
      rc = groupFailure_;
      ldap_.CancelTransaction();
    } else {
      rc = ldap_.CommitTransaction();
    }
    groupWrites_.clear();
  }
  if (rc != LDAP_SUCCESS) {
    // What was read since the group began may hold its undone writes.
    std::lock_guard<std::mutex> lock(recentMutex_);
    recent_.clear();
    recentOrder_.clear();
  }
  return NetStatusOfLdap(rc);
}

NET_API_STATUS SambaAccounts::NetQueryDisplayInformation(LPCWSTR server, DWORD level, DWORD index,
                                                         DWORD entriesRequested, DWORD preferredMaximumLength,
                                                         LPDWORD returnedEntryCount, PVOID* sortedBuffer) {
  if (!returnedEntryCount || !sortedBuffer) return ERROR_INVALID_PARAMETER;
  *returnedEntryCount = 0;
  *sortedBuffer = nullptr;
  if (!IsLocalServer(server)) return ERROR_BAD_NETPATH;
  if (level != 1) return ERROR_INVALID_LEVEL;
  if (entriesRequested == 0) return ERROR_INVALID_PARAMETER;
  std::lock_guard<std::mutex> lock(listingMutex_);
  if (index == 0 || !haveListing_) {
    std::vector<LdapEntry> entries;
    int rc = ldap_.SearchAll(namingContext_, LdapScope::kSubtree, "(objectClass=user)", kAccountAttributes, &entries);
    if (rc != LDAP_SUCCESS) {
      haveListing_ = false;
      return NetStatusOfLdap(rc);
    }
    std::vector<size_t> order(entries.size());
    std::vector<AccountRecord> records;
    for (size_t i = 0; i < entries.size(); ++i) {
      records.push_back(RecordOf(entries[i]));
      order[i] = i;
    }
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return records[a].rid < records[b].rid; });
    listing_.clear();
    listingDns_.clear();
    for (size_t i : order) {
      listing_.push_back(std::move(records[i]));
      listingDns_.push_back(std::move(entries[i].dn));
    }
    haveListing_ = true;
    listingAt_ = std::chrono::steady_clock::now();
  }
  NET_API_STATUS status = MakeDisplayPage(
      listing_.size(), [&](size_t i) { return listing_[i].rid; }, [&](size_t i) { return listing_[i]; }, index,
      entriesRequested, preferredMaximumLength, returnedEntryCount, sortedBuffer);
  // The accounts handed out are read already: a walk that reads each of
  // them next (the check for accounts still running the product's batch)
  // sends no request of its own.
  bool writtenSince = false;
  {
    std::lock_guard<std::mutex> lock(recentMutex_);
    writtenSince = lastWrite_ >= listingAt_;
  }
  if (!perAccount_ && !writtenSince && *returnedEntryCount > 0) {
    const NET_DISPLAY_USER* users = static_cast<const NET_DISPLAY_USER*>(*sortedBuffer);
    for (DWORD i = 0; i < *returnedEntryCount; ++i) {
      auto at = std::lower_bound(listing_.begin(), listing_.end(), users[i].usri1_user_id,
                                 [](const AccountRecord& a, DWORD rid) { return a.rid < rid; });
      if (at != listing_.end() && at->rid == users[i].usri1_user_id)
        RememberRead(*at, listingDns_[static_cast<size_t>(at - listing_.begin())], listingAt_);
    }
  }
  return status;
}

NET_API_STATUS SambaAccounts::NetGroupGetUsers(LPCWSTR server, LPCWSTR group, DWORD level, LPBYTE* buffer,
                                               DWORD preferredMaximumLength, LPDWORD entriesRead,
                                               LPDWORD totalEntries, DWORD_PTR* resumeHandle) {
  if (!buffer || !entriesRead || !totalEntries) return ERROR_INVALID_PARAMETER;
  *buffer = nullptr;
  *entriesRead = *totalEntries = 0;
  if (!IsLocalServer(server)) return ERROR_BAD_NETPATH;
  if (level != 0 && level != 1) return ERROR_INVALID_LEVEL;
  if (!group) return NERR_GroupNotFound;
  std::string name = LdapFilterEscape(WideToUtf8(group));
  std::string cookie;
  std::vector<LdapEntry> groups;
  int rc = ldap_.SearchPage(namingContext_, LdapScope::kSubtree,
                            "(&(objectClass=group)(|(sAMAccountName=" + name + ")(cn=" + name + ")))",
                            {"member", "objectSid"}, 0, 0, &cookie, &groups);
  if (rc != LDAP_SUCCESS) return NetStatusOfLdap(rc);
  if (groups.empty()) return NERR_GroupNotFound;
  const LdapEntry& found = groups.front();

  // The accounts the group names, in the order it names them; then those
  // whose primary group it is, which the group's own list leaves out, in
  // RID order.
  std::vector<LdapEntry> listed, primary;
  rc = ldap_.SearchAll(namingContext_, LdapScope::kSubtree,
                       "(&(objectClass=user)(memberOf=" + LdapFilterEscape(found.dn) + "))",
                       {"sAMAccountName"}, &listed);
  if (rc != LDAP_SUCCESS) return NetStatusOfLdap(rc);
  DWORD rid = RidOfSid(found.First("objectSid"));
  if (rid != 0) {
    rc = ldap_.SearchAll(namingContext_, LdapScope::kSubtree,
                         "(&(objectClass=user)(primaryGroupID=" + std::to_string(rid) + "))",
                         {"sAMAccountName", "objectSid"}, &primary);
    if (rc != LDAP_SUCCESS) return NetStatusOfLdap(rc);
  }
  std::map<std::string, std::wstring> byDn;
  for (const LdapEntry& e : listed) byDn[AsciiLower(e.dn)] = Utf8ToWide(e.First("sAMAccountName"));
  std::vector<std::wstring> members;
  std::set<std::string> seen;
  if (const std::vector<std::string>* values = found.Find("member"))
    for (const std::string& dn : *values) {
      auto it = byDn.find(AsciiLower(dn));
      if (it != byDn.end() && seen.insert(it->first).second) members.push_back(it->second);
    }
  std::sort(primary.begin(), primary.end(), [](const LdapEntry& a, const LdapEntry& b) {
    return RidOfSid(a.First("objectSid")) < RidOfSid(b.First("objectSid"));
  });
  for (const LdapEntry& e : primary)
    if (seen.insert(AsciiLower(e.dn)).second) members.push_back(Utf8ToWide(e.First("sAMAccountName")));
  return MakeGroupUsersPage(members, level, buffer, preferredMaximumLength, entriesRead, totalEntries, resumeHandle);
}

DWORD SambaAccounts::DsGetDcNameA(LPCSTR computer, LPCSTR domain, GUID* /*domainGuid*/, LPCSTR /*site*/,
                                  ULONG flags, PDOMAIN_CONTROLLER_INFOA* info) {
  if (!info) return ERROR_INVALID_PARAMETER;
  *info = nullptr;
  if (computer && *computer && !IsLocalServer(Utf8ToWide(computer).c_str())) return ERROR_BAD_NETPATH;
  if (domain && *domain && !AsciiEqualNoCase(domain, config_.workgroup) &&
      !AsciiEqualNoCase(domain, config_.DnsDomain()))
    return ERROR_NO_SUCH_DOMAIN;
  return MakeDcInfo(Utf8ToWide(config_.netbiosName), Utf8ToWide(config_.workgroup), Utf8ToWide(config_.DnsDomain()),
                    flags, info);
}

NET_API_STATUS SambaAccounts::NetGetDCName(LPCWSTR server, LPCWSTR domain, LPBYTE* buffer) {
  if (!buffer) return ERROR_INVALID_PARAMETER;
  *buffer = nullptr;
  if (!IsLocalServer(server)) return ERROR_BAD_NETPATH;
  if (domain && *domain && !AsciiEqualNoCase(WideToUtf8(domain), config_.workgroup) &&
      !AsciiEqualNoCase(WideToUtf8(domain), config_.DnsDomain()))
    return NERR_DCNotFound;
  return MakeDcName(Utf8ToWide(config_.netbiosName), buffer);
}

}  // namespace qel
