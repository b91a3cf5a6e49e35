#include "tests/samba/store_link.h"

#include <ldap.h>

#include <algorithm>
#include <cstdlib>

#include "platform/domain/domain_text.h"
#include "platform/domain/ldap_filter.h"

namespace qel::test {

namespace {

// S-1-5-21-1-2-3-rid, as the directory keeps it.
std::string SidOf(DWORD rid) {
  std::string sid = {1, 5, 0, 0, 0, 0, 0, 5};
  for (DWORD part : {21u, 1u, 2u, 3u, static_cast<unsigned>(rid)})
    for (int shift = 0; shift < 32; shift += 8) sid += static_cast<char>((part >> shift) & 0xFF);
  return sid;
}

bool InScope(const DomainStore& store, const DirObject& object, const std::wstring& base, LdapScope scope) {
  std::wstring dn = FoldCase(object.dn);
  switch (scope) {
    case LdapScope::kBase: return dn == base;
    case LdapScope::kOneLevel:
      return object.parent != kNoObject && FoldCase(store.Object(object.parent).dn) == base;
    case LdapScope::kSubtree:
      return dn == base || (dn.size() > base.size() + 1 && dn.compare(dn.size() - base.size(), base.size(), base) == 0 &&
                            dn[dn.size() - base.size() - 1] == L',');
  }
  return false;
}

}  // namespace

int StoreLink::SearchPage(const std::string& base, LdapScope scope, const std::string& filter,
                          const std::vector<std::string>& attributes, int pageSize, int sizeLimit,
                          std::string* cookie, std::vector<LdapEntry>* entries) {
  entries->clear();
  ++roundTrips_;
  DWORD error = 0;
  if (plan_.ShouldFail("SearchPage", &error)) return static_cast<int>(error);
  std::vector<LdapEntry> found;
  if (cookie->empty()) {
    LdapFilter parsed;
    std::string reason;
    if (!parsed.Parse(Utf8ToWide(filter), &reason)) {
      lastError_ = reason;
      return LDAP_FILTER_ERROR;
    }
    std::wstring folded = FoldCase(Utf8ToWide(base));
    auto asked = [&](const std::string& name) {
      if (attributes.empty()) return true;
      for (const std::string& a : attributes)
        if (AsciiEqualNoCase(a, name)) return true;
      return false;
    };
    auto lock = store_.ReadLock();
    for (uint32_t i = 0; i < store_.ObjectCount(); ++i) {
      const DirObject& object = store_.Object(i);
      if (!InScope(store_, object, folded, scope) || !parsed.Matches(store_, object)) continue;
      LdapEntry entry;
      entry.dn = WideToUtf8(object.dn);
      for (const DirAttribute& attribute : object.attributes) {
        std::string name = WideToUtf8(store_.AttributeName(attribute.name));
        if (!asked(name)) continue;
        std::vector<std::string>& out = entry.values[AsciiLower(name)];
        for (std::wstring_view v : attribute.all()) out.push_back(WideToUtf8(v));
      }
      if (object.rid != 0 && asked("objectSid")) entry.values["objectsid"].push_back(SidOf(object.rid));
      found.push_back(std::move(entry));
    }
    if (found.empty() && scope == LdapScope::kBase) return LDAP_NO_SUCH_OBJECT;
  } else {
    auto it = pending_.find(std::strtoull(cookie->c_str(), nullptr, 10));
    if (it == pending_.end()) return LDAP_UNWILLING_TO_PERFORM;
    found = std::move(it->second);
    pending_.erase(it);
  }
  bool cut = sizeLimit > 0 && found.size() > static_cast<size_t>(sizeLimit);
  if (cut) found.resize(static_cast<size_t>(sizeLimit));
  cookie->clear();
  if (pageSize > 0 && found.size() > static_cast<size_t>(pageSize)) {
    std::vector<LdapEntry> rest(std::make_move_iterator(found.begin() + pageSize),
                                std::make_move_iterator(found.end()));
    found.resize(static_cast<size_t>(pageSize));
    *cookie = std::to_string(nextSearch_);
    pending_[nextSearch_++] = std::move(rest);
  }
  *entries = std::move(found);
  return cut ? LDAP_SIZELIMIT_EXCEEDED : LDAP_SUCCESS;
}

NET_API_STATUS StoreLink::Write(const std::wstring& account, const std::wstring* scriptPath, const DWORD* flags) {
  if (scriptPath) {
    USER_INFO_1009 info = {const_cast<LPWSTR>(scriptPath->c_str())};
    NET_API_STATUS status = store_.NetUserSetInfo(nullptr, account.c_str(), 1009, reinterpret_cast<LPBYTE>(&info), nullptr);
    if (status != NERR_Success) return status;
  }
  if (flags) {
    USER_INFO_1008 info = {*flags};
    return store_.NetUserSetInfo(nullptr, account.c_str(), 1008, reinterpret_cast<LPBYTE>(&info), nullptr);
  }
  return NERR_Success;
}

int StoreLink::Modify(const std::string& dn, const std::vector<LdapModification>& changes) {
  ++roundTrips_;
  std::wstring account;
  {
    auto lock = store_.ReadLock();
    uint32_t index = store_.FindObject(Utf8ToWide(dn));
    if (index == kNoObject) return LDAP_NO_SUCH_OBJECT;
    DirValues names = store_.Values(store_.Object(index), kAttrSamAccountName);
    if (names.empty()) return LDAP_UNWILLING_TO_PERFORM;
    account = names.front();
  }
  DWORD error = 0;
  if (plan_.ShouldFail("Modify", &error) ||
      plan_.ShouldFail(("Modify:" + AsciiLower(WideToUtf8(account))).c_str(), &error))
    return static_cast<int>(error);
  std::wstring script;
  DWORD flags = 0;
  bool hasScript = false, hasFlags = false;
  std::wstring was;
  bool conditional = false;
  for (const LdapModification& c : changes) {
    if (AsciiEqualNoCase(c.attribute, "scriptPath")) {
      script = Utf8ToWide(c.value);
      hasScript = true;
      conditional = c.onlyIfWas;
      was = Utf8ToWide(c.was);
    } else if (AsciiEqualNoCase(c.attribute, "userAccountControl")) {
      flags = static_cast<DWORD>(std::strtoll(c.value.c_str(), nullptr, 10));
      hasFlags = true;
    } else {
      return LDAP_UNWILLING_TO_PERFORM;
    }
  }
  LPBYTE buffer = nullptr;
  if (store_.NetUserGetInfo(nullptr, account.c_str(), 3, &buffer) != NERR_Success) return LDAP_NO_SUCH_OBJECT;
  const USER_INFO_3* info = reinterpret_cast<const USER_INFO_3*>(buffer);
  Before before{account, info->usri3_script_path, info->usri3_flags};
  store_.NetApiBufferFree(buffer);
  if (conditional && FoldCase(before.scriptPath) != FoldCase(was))
    return was.empty() ? LDAP_TYPE_OR_VALUE_EXISTS : LDAP_NO_SUCH_ATTRIBUTE;
  if (Write(account, hasScript ? &script : nullptr, hasFlags ? &flags : nullptr) != NERR_Success) {
    Write(before.account, &before.scriptPath, &before.flags);
    return LDAP_CONSTRAINT_VIOLATION;
  }
  ++modifications_;
  if (open_) {
    undo_.push_back(before);
    largest_ = std::max(largest_, undo_.size());
  }
  return LDAP_SUCCESS;
}

int StoreLink::BeginTransaction() {
  ++roundTrips_;
  if (!transactions_) return LDAP_UNWILLING_TO_PERFORM;
  if (open_) return LDAP_OPERATIONS_ERROR;
  DWORD error = 0;
  if (plan_.ShouldFail("BeginTransaction", &error)) return static_cast<int>(error);
  open_ = true;
  undo_.clear();
  return LDAP_SUCCESS;
}

int StoreLink::CommitTransaction() {
  ++roundTrips_;
  if (!open_) return LDAP_OPERATIONS_ERROR;
  DWORD error = 0;
  if (plan_.ShouldFail("CommitTransaction", &error)) {
    Undo();
    return static_cast<int>(error);
  }
  open_ = false;
  undo_.clear();
  ++commits_;
  return LDAP_SUCCESS;
}

int StoreLink::CancelTransaction() {
  ++roundTrips_;
  if (!open_) return LDAP_SUCCESS;
  Undo();
  return LDAP_SUCCESS;
}

void StoreLink::Undo() {
  for (auto it = undo_.rbegin(); it != undo_.rend(); ++it) Write(it->account, &it->scriptPath, &it->flags);
  undo_.clear();
  open_ = false;
}

}  // namespace qel::test
