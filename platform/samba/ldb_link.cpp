#include "platform/samba/ldb_link.h"

// Samba's C headers declare no C linkage of their own.
extern "C" {
#include <ldb.h>
#include <talloc.h>

// From Samba's public libraries (samba-hostconfig, samdb): the machine's
// configuration, and the session of the system itself.
struct loadparm_context;
struct auth_session_info;
struct loadparm_context* loadparm_init_global(bool load_default);
bool lpcfg_load(struct loadparm_context* lp_ctx, const char* filename);
struct auth_session_info* system_session(struct loadparm_context* lp_ctx);
}

#include <cstring>

#include "platform/domain/domain_text.h"

namespace qel {

namespace {

constexpr size_t kMaxPending = 16;

}  // namespace

LdbLink::~LdbLink() {
  if (ldb_ && inTransaction_) ldb_transaction_cancel(ldb_);
  if (memory_) talloc_free(memory_);
}

int LdbLink::Open(const std::string& path, const std::string& smbConf, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (memory_) talloc_free(memory_);
  memory_ = talloc_new(nullptr);
  ldb_ = memory_ ? ldb_init(memory_, nullptr) : nullptr;
  if (!ldb_) {
    *error = "out of memory opening " + path;
    return LDB_ERR_OPERATIONS_ERROR;
  }
  // Samba's modules want what its own tools hand them before they connect:
  // the controller's configuration and the session they act for, here the
  // system's own, as for root's administration tools.
  loadparm_context* configuration = loadparm_init_global(false);
  if (!configuration || !lpcfg_load(configuration, smbConf.c_str())) {
    *error = smbConf + ": Samba cannot read its configuration";
    talloc_free(memory_);
    memory_ = nullptr;
    ldb_ = nullptr;
    return LDB_ERR_OPERATIONS_ERROR;
  }
  auth_session_info* system = system_session(configuration);
  int rc = system ? LDB_SUCCESS : LDB_ERR_OPERATIONS_ERROR;
  if (rc == LDB_SUCCESS && (ldb_set_opaque(ldb_, "loadparm", configuration) != LDB_SUCCESS ||
                            ldb_set_opaque(ldb_, "sessionInfo", system) != LDB_SUCCESS))
    rc = LDB_ERR_OPERATIONS_ERROR;
  // The database must be there: never make an empty one.
  if (rc == LDB_SUCCESS) rc = ldb_connect(ldb_, path.c_str(), LDB_FLG_DONT_CREATE_DB, nullptr);
  ++roundTrips_;
  if (rc != LDB_SUCCESS) {
    const char* text = ldb_errstring(ldb_);
    *error = path + ": " + (text && *text ? text : ldb_strerror(rc));
    talloc_free(memory_);
    memory_ = nullptr;
    ldb_ = nullptr;
    return rc;
  }
  return LDB_SUCCESS;
}

int LdbLink::SearchPage(const std::string& base, LdapScope scope, const std::string& filter,
                        const std::vector<std::string>& attributes, int pageSize, int sizeLimit,
                        std::string* cookie, std::vector<LdapEntry>* entries) {
  std::lock_guard<std::mutex> lock(mutex_);
  entries->clear();
  lastError_.clear();
  if (!ldb_) return LDB_ERR_UNAVAILABLE;

  uint64_t id = 0;
  if (!cookie->empty()) {
    id = std::strtoull(cookie->c_str(), nullptr, 10);
    if (!pending_.count(id)) {
      lastError_ = "the search to go on with is no longer there";
      return LDB_ERR_UNWILLING_TO_PERFORM;
    }
  } else {
    void* scratch = talloc_new(memory_);
    std::vector<const char*> names;
    for (const std::string& a : attributes) names.push_back(a.c_str());
    names.push_back(nullptr);
    ldb_result* result = nullptr;
    ldb_dn* dn = ldb_dn_new(scratch, ldb_, base.c_str());
    ++roundTrips_;
    int rc = dn ? ldb_search(ldb_, scratch, &result, dn, static_cast<ldb_scope>(scope),
                             attributes.empty() ? nullptr : names.data(), "%s", filter.c_str())
                : LDB_ERR_INVALID_DN_SYNTAX;
    if (rc != LDB_SUCCESS) {
      const char* text = ldb_errstring(ldb_);
      lastError_ = text && *text ? text : ldb_strerror(rc);
      talloc_free(scratch);
      return rc;
    }
    Pending search;
    for (unsigned i = 0; i < result->count; ++i) {
      const ldb_message* m = result->msgs[i];
      LdapEntry entry;
      entry.dn = ldb_dn_get_linearized(m->dn);
      for (unsigned j = 0; j < m->num_elements; ++j) {
        const ldb_message_element& e = m->elements[j];
        std::vector<std::string>& out = entry.values[AsciiLower(e.name)];
        for (unsigned k = 0; k < e.num_values; ++k)
          out.emplace_back(reinterpret_cast<const char*>(e.values[k].data), e.values[k].length);
      }
      search.entries.push_back(std::move(entry));
    }
    talloc_free(scratch);
    bool cut = sizeLimit > 0 && search.entries.size() > static_cast<size_t>(sizeLimit);
    if (cut) search.entries.resize(static_cast<size_t>(sizeLimit));
    if (pageSize <= 0 || search.entries.size() <= static_cast<size_t>(pageSize)) {
      *entries = std::move(search.entries);
      cookie->clear();
      return cut ? LDB_ERR_SIZE_LIMIT_EXCEEDED : LDB_SUCCESS;
    }
    id = nextId_++;
    pending_[id] = std::move(search);
    while (pending_.size() > kMaxPending) pending_.erase(pending_.begin());
  }
  Pending& search = pending_[id];
  size_t end = std::min(search.entries.size(), search.position + static_cast<size_t>(pageSize > 0 ? pageSize : 1 << 30));
  for (size_t i = search.position; i < end; ++i) entries->push_back(std::move(search.entries[i]));
  search.position = end;
  if (end >= search.entries.size()) {
    pending_.erase(id);
    cookie->clear();
  } else {
    *cookie = std::to_string(id);
  }
  return LDB_SUCCESS;
}

int LdbLink::Modify(const std::string& dn, const std::vector<LdapModification>& changes) {
  std::lock_guard<std::mutex> lock(mutex_);
  lastError_.clear();
  if (!ldb_) return LDB_ERR_UNAVAILABLE;
  void* scratch = talloc_new(memory_);
  ldb_message* message = ldb_msg_new(scratch);
  int rc = message ? LDB_SUCCESS : LDB_ERR_OPERATIONS_ERROR;
  if (rc == LDB_SUCCESS) {
    message->dn = ldb_dn_new(message, ldb_, dn.c_str());
    if (!message->dn) rc = LDB_ERR_INVALID_DN_SYNTAX;
  }
  // One element of the message: the attribute with `flag` and one value, or none.
  auto add = [&](const std::string& attribute, int flag, const std::string* value) {
    ldb_message_element* element = nullptr;
    int added = ldb_msg_add_empty(message, attribute.c_str(), flag, &element);
    if (added != LDB_SUCCESS || value == nullptr) return added;
    element->values = talloc_array(message, ldb_val, 1);
    char* copy = talloc_strndup(message, value->data(), value->size());
    if (!element->values || !copy) return LDB_ERR_OPERATIONS_ERROR;
    element->values[0].data = reinterpret_cast<uint8_t*>(copy);
    element->values[0].length = value->size();
    element->num_values = 1;
    return LDB_SUCCESS;
  };
  for (size_t i = 0; rc == LDB_SUCCESS && i < changes.size(); ++i) {
    const LdapModification& c = changes[i];
    if (!c.onlyIfWas) {
      // The attribute replaced by its one value, or by none: removed.
      rc = add(c.attribute, LDB_FLAG_MOD_REPLACE, c.value.empty() ? nullptr : &c.value);
      continue;
    }
    // The old value taken away and the new one added in the same
    // modification: it fails when the old one is no longer there.
    if (!c.was.empty()) rc = add(c.attribute, LDB_FLAG_MOD_DELETE, &c.was);
    if (rc == LDB_SUCCESS && !c.value.empty()) rc = add(c.attribute, LDB_FLAG_MOD_ADD, &c.value);
  }
  if (rc == LDB_SUCCESS) {
    ++roundTrips_;
    rc = ldb_modify(ldb_, message);
  }
  if (rc != LDB_SUCCESS) {
    const char* text = ldb_errstring(ldb_);
    lastError_ = text && *text ? text : ldb_strerror(rc);
  }
  talloc_free(scratch);
  return rc;
}

int LdbLink::BeginTransaction() {
  std::lock_guard<std::mutex> lock(mutex_);
  lastError_.clear();
  if (!ldb_) return LDB_ERR_UNAVAILABLE;
  if (inTransaction_) {
    lastError_ = "a transaction is already open";
    return LDB_ERR_OPERATIONS_ERROR;
  }
  ++roundTrips_;
  int rc = ldb_transaction_start(ldb_);
  if (rc != LDB_SUCCESS) {
    const char* text = ldb_errstring(ldb_);
    lastError_ = text && *text ? text : ldb_strerror(rc);
    return rc;
  }
  inTransaction_ = true;
  return LDB_SUCCESS;
}

int LdbLink::CommitTransaction() {
  std::lock_guard<std::mutex> lock(mutex_);
  lastError_.clear();
  if (!ldb_) return LDB_ERR_UNAVAILABLE;
  if (!inTransaction_) {
    lastError_ = "no transaction is open";
    return LDB_ERR_OPERATIONS_ERROR;
  }
  ++roundTrips_;
  // A commit that fails has cancelled the transaction: nothing of it stays.
  inTransaction_ = false;
  int rc = ldb_transaction_commit(ldb_);
  if (rc != LDB_SUCCESS) {
    const char* text = ldb_errstring(ldb_);
    lastError_ = text && *text ? text : ldb_strerror(rc);
    // Whether the failed commit ended the transaction or not, it ends here.
    ldb_transaction_cancel_noerr(ldb_);
  }
  return rc;
}

int LdbLink::CancelTransaction() {
  std::lock_guard<std::mutex> lock(mutex_);
  lastError_.clear();
  if (!ldb_) return LDB_ERR_UNAVAILABLE;
  if (!inTransaction_) return LDB_SUCCESS;
  ++roundTrips_;
  inTransaction_ = false;
  return ldb_transaction_cancel(ldb_);
}

std::string LdbLink::LastError() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lastError_;
}

}  // namespace qel
