// The embedded domain: every object of one LDIF file by DN, the accounts by
// logon name and by RID, and the network-management entry points over them.
//
// Changes made through NetUserSetInfo are durable when the call returns: each
// one appends a line to a journal beside the file ("<file>.journal"). The file
// itself is rewritten (temporary file + rename, journal removed afterwards)
// only by Flush and Close, so a run over many accounts writes it once. Load
// applies a journal left by a run that was killed and then compacts it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/account_store.h"
#include "platform/domain/ldif.h"

namespace qel {

constexpr uint32_t kNoObject = 0xFFFFFFFFu;

// The values of one attribute. The store keeps them until it loads another
// domain or is destroyed; a write gives an attribute new values and leaves
// the old ones in place (their room is given back by the next load), so a
// list or a value taken earlier stays as it was.
class DirValues {
 public:
  DirValues() = default;
  DirValues(const std::wstring_view* data, size_t size) : data_(data), size_(size) {}
  const std::wstring_view* begin() const { return data_; }
  const std::wstring_view* end() const { return data_ + size_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const std::wstring_view& operator[](size_t i) const { return data_[i]; }
  const std::wstring_view& front() const { return data_[0]; }

 private:
  const std::wstring_view* data_ = nullptr;
  size_t size_ = 0;
};

struct DirAttribute {
  uint32_t name = 0;   // index into the store's attribute-name table
  uint32_t count = 0;  // values
  // Kept by the store; lists that many objects share (objectClass,
  // objectCategory) are kept once and pointed at by all of them.
  const std::wstring_view* values = nullptr;
  DirValues all() const { return DirValues(values, count); }
};

struct DirObject {
  std::wstring_view dn;  // kept by the store, as the values are
  uint32_t parent = kNoObject;
  std::vector<uint32_t> children;  // in file order
  std::vector<DirAttribute> attributes;
  uint32_t rid = 0;  // user-class objects only
  bool deleted = false;
  bool account = false;  // live user-class object (users and computers)
  bool group = false;
};

// Attribute names every store knows by number.
enum DomainAttribute : uint32_t {
  kAttrObjectClass = 0,
  kAttrObjectCategory,
  kAttrCn,
  kAttrOu,
  kAttrSamAccountName,
  kAttrDisplayName,
  kAttrScriptPath,
  kAttrProfilePath,
  kAttrUserAccountControl,
  kAttrDescription,
  kAttrHomeDirectory,
  kAttrHomeDrive,
  kAttrUserWorkstations,
  kAttrIsDeleted,
  kAttrMember,
  kAttrDistinguishedName,  // never stored: it is the object's DN
  kAttrPrimaryGroupId,
  kAttrFirstFree
};

class DomainStore : public IAccountStore {
 public:
  struct Options {
    // Also force every journal line and the rewritten file to the disk
    // (fsync / _commit), not only to the operating system. Without it a
    // killed process loses nothing; a power cut may lose the last changes.
    bool syncToDisk = false;
    // Only read: Load folds a journal in memory and leaves the file and the
    // journal as they are; NetUserSetInfo answers ERROR_ACCESS_DENIED.
    bool readOnly = false;
  };

  DomainStore();
  explicit DomainStore(const Options& options);
  ~DomainStore() override;  // Close(), errors ignored: the journal keeps the changes
  DomainStore(const DomainStore&) = delete;
  DomainStore& operator=(const DomainStore&) = delete;

  // Reads `path` and applies "<path>.journal" if one is left. On any error
  // the store and the files are left as they were and *error says why.
  bool Load(const std::string& path, DomainError* error);
  // An in-memory domain (no file, no journal); `name` is used in errors.
  bool LoadText(const std::string& text, const std::string& name, DomainError* error);
  // Writes the file once if anything changed since it was read, then drops the journal.
  bool Flush(DomainError* error);
  bool Close(DomainError* error);
  // The whole domain as LDIF (comments of the file kept).
  std::string ToLdif() const;

  // Metadata: "# qel-domain", "# qel-controller", "# qel-dns".
  std::wstring NetbiosName() const;
  std::wstring ControllerName() const;
  std::wstring DnsName() const;
  std::wstring NamingContext() const;  // "DC=test,DC=lan"

  // Accounts report UF_SCRIPT as Windows does (always; never stored by a
  // write). False: the flags as the file has them, both ways, for looking
  // at what the engine does with an account whose flag is clear.
  void SetScriptFlagAlways(bool always) { scriptFlagAlways_ = always; }

  // DsGetDcNameA returns `error` (e.g. ERROR_NO_SUCH_DOMAIN) and NetGetDCName
  // NERR_DCNotFound while it is non-zero.
  void SetLocatorFailure(DWORD error);

  // Read access for the directory. Hold ReadLock() while using objects; the
  // structure never changes after Load, values change under the lock.
  std::unique_lock<std::mutex> ReadLock() const { return std::unique_lock<std::mutex>(mutex_); }
  size_t ObjectCount() const;
  const DirObject& Object(uint32_t index) const;
  uint32_t FindObject(const std::wstring& dn) const;      // kNoObject when absent
  uint32_t FindAccount(const std::wstring& name) const;   // live accounts, without case
  uint32_t RootObject() const;                            // the naming context object
  int AttributeId(const std::wstring& name) const;        // -1 when no object has it
  const std::wstring& AttributeName(uint32_t id) const;
  // Values of one attribute; empty when the object has none (distinguishedName
  // is the DN, not an attribute).
  DirValues Values(const DirObject& object, uint32_t id) const;
  // Accounts in RID order (object indexes).
  const std::vector<uint32_t>& AccountsByRid() const;

  // Counters for tests and the benchmark.
  uint64_t FileWrites() const { return fileWrites_; }
  uint64_t JournalLines() const { return journalLines_; }

  // IAccountStore
  NET_API_STATUS NetGroupGetUsers(LPCWSTR server, LPCWSTR group, DWORD level, LPBYTE* buffer,
                                  DWORD preferredMaximumLength, LPDWORD entriesRead, LPDWORD totalEntries,
                                  DWORD_PTR* resumeHandle) override;
  NET_API_STATUS NetApiBufferFree(LPVOID buffer) override;
  NET_API_STATUS NetUserGetInfo(LPCWSTR server, LPCWSTR user, DWORD level, LPBYTE* buffer) override;
  NET_API_STATUS NetUserSetInfo(LPCWSTR server, LPCWSTR user, DWORD level, LPBYTE buffer,
                                LPDWORD parameterError) override;
  NET_API_STATUS NetQueryDisplayInformation(LPCWSTR server, DWORD level, DWORD index, DWORD entriesRequested,
                                            DWORD preferredMaximumLength, LPDWORD returnedEntryCount,
                                            PVOID* sortedBuffer) override;
  DWORD DsGetDcNameA(LPCSTR computer, LPCSTR domain, GUID* domainGuid, LPCSTR site, ULONG flags,
                     PDOMAIN_CONTROLLER_INFOA* info) override;
  NET_API_STATUS NetGetDCName(LPCWSTR server, LPCWSTR domain, LPBYTE* buffer) override;

  struct Model;

 private:
  using Change = std::pair<uint32_t, std::wstring>;  // empty value: attribute removed
  bool IsLocalServer(LPCWSTR server) const;
  NET_API_STATUS ApplyChanges(uint32_t object, const std::vector<Change>& changes);
  bool AppendJournal(const std::string& line);
  bool FlushLocked(DomainError* error);
  void CloseJournal();

  Options options_;
  mutable std::mutex mutex_;
  std::unique_ptr<Model> model_;
  std::string path_;  // empty for an in-memory domain
  std::FILE* journal_ = nullptr;
  uintmax_t journalSize_ = 0;  // bytes of whole lines in the journal
  bool dirty_ = false;
  DWORD locatorFailure_ = 0;
  bool scriptFlagAlways_ = true;
  uint64_t fileWrites_ = 0;
  uint64_t journalLines_ = 0;
};

}  // namespace qel
