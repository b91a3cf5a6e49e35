#include "platform/samba/ldap_link.h"

#include <lber.h>
#include <ldap.h>
#include <sasl/sasl.h>

#include <cctype>
#include <cstring>
#include <memory>

#include "platform/domain/domain_text.h"

namespace qel {

namespace {

// The GSSAPI mechanism asks for nothing: the ticket says who the caller is.
int QuietInteraction(LDAP*, unsigned, void*, void* prompts) {
  for (sasl_interact_t* p = static_cast<sasl_interact_t*>(prompts); p && p->id != SASL_CB_LIST_END; ++p) {
    p->result = p->defresult ? p->defresult : "";
    p->len = static_cast<unsigned>(std::strlen(static_cast<const char*>(p->result)));
  }
  return LDAP_SUCCESS;
}

}  // namespace

const std::vector<std::string>* LdapEntry::Find(const std::string& attribute) const {
  auto it = values.find(AsciiLower(attribute));
  return it == values.end() || it->second.empty() ? nullptr : &it->second;
}

std::string LdapEntry::First(const std::string& attribute) const {
  const std::vector<std::string>* found = Find(attribute);
  return found ? found->front() : std::string();
}

LdapLink::~LdapLink() { Close(); }

void LdapLink::Close() {
  if (ld_) ldap_unbind_ext_s(ld_, nullptr, nullptr);
  ld_ = nullptr;
}

int LdapLink::Open(const std::string& uri, LdapCredentials credentials, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  Close();
  uri_ = uri;
  int rc = ldap_initialize(&ld_, uri.c_str());
  if (rc != LDAP_SUCCESS) {
    ld_ = nullptr;
    *error = uri + ": " + ldap_err2string(rc);
    return rc;
  }
  int version = LDAP_VERSION3;
  ldap_set_option(ld_, LDAP_OPT_PROTOCOL_VERSION, &version);
  ldap_set_option(ld_, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
  struct timeval connectTimeout = {10, 0};
  ldap_set_option(ld_, LDAP_OPT_NETWORK_TIMEOUT, &connectTimeout);
  if (credentials == LdapCredentials::kKerberos) {
    rc = ldap_sasl_interactive_bind_s(ld_, nullptr, "GSSAPI", nullptr, nullptr, LDAP_SASL_QUIET, QuietInteraction,
                                      nullptr);
  } else {
    // The privileged socket needs no bind; one read of the rootDSE shows
    // that the server is there and answers.
    LDAPMessage* result = nullptr;
    const char* attributes[] = {"defaultNamingContext", nullptr};
    rc = ldap_search_ext_s(ld_, "", LDAP_SCOPE_BASE, "(objectClass=*)", const_cast<char**>(attributes), 0, nullptr,
                           nullptr, nullptr, 0, &result);
    if (result) ldap_msgfree(result);
  }
  ++roundTrips_;
  if (rc != LDAP_SUCCESS) {
    char* message = nullptr;
    ldap_get_option(ld_, LDAP_OPT_DIAGNOSTIC_MESSAGE, &message);
    *error = uri + ": " + ldap_err2string(rc) + (message && *message ? std::string(" (") + message + ")" : "");
    if (message) ldap_memfree(message);
    Close();
  }
  return rc;
}

int LdapLink::SearchPage(const std::string& base, LdapScope scope, const std::string& filter,
                         const std::vector<std::string>& attributes, int pageSize, int sizeLimit, std::string* cookie,
                         std::vector<LdapEntry>* entries) {
  std::lock_guard<std::mutex> lock(mutex_);
  entries->clear();
  lastError_.clear();
  if (!ld_) return LDAP_SERVER_DOWN;
  std::vector<char*> names;
  for (const std::string& a : attributes) names.push_back(const_cast<char*>(a.c_str()));
  names.push_back(nullptr);

  LDAPControl* page = nullptr;
  if (pageSize > 0) {
    struct berval value = {static_cast<ber_len_t>(cookie->size()), const_cast<char*>(cookie->data())};
    int rc = ldap_create_page_control(ld_, static_cast<ber_int_t>(pageSize), cookie->empty() ? nullptr : &value, 0,
                                      &page);
    if (rc != LDAP_SUCCESS) return rc;
  }
  LDAPControl* controls[] = {page, nullptr};
  LDAPMessage* result = nullptr;
  ++roundTrips_;
  int rc = ldap_search_ext_s(ld_, base.c_str(), static_cast<int>(scope), filter.c_str(),
                             attributes.empty() ? nullptr : names.data(), 0, page ? controls : nullptr, nullptr,
                             nullptr, sizeLimit, &result);
  if (page) ldap_control_free(page);
  cookie->clear();
  if (rc != LDAP_SUCCESS && rc != LDAP_SIZELIMIT_EXCEEDED) {
    char* message = nullptr;
    ldap_get_option(ld_, LDAP_OPT_DIAGNOSTIC_MESSAGE, &message);
    lastError_ = std::string(ldap_err2string(rc)) + (message && *message ? std::string(" (") + message + ")" : "");
    if (message) ldap_memfree(message);
    if (result) ldap_msgfree(result);
    return rc;
  }
  for (LDAPMessage* m = ldap_first_entry(ld_, result); m; m = ldap_next_entry(ld_, m)) {
    LdapEntry entry;
    char* dn = ldap_get_dn(ld_, m);
    if (dn) {
      entry.dn = dn;
      ldap_memfree(dn);
    }
    BerElement* position = nullptr;
    for (char* a = ldap_first_attribute(ld_, m, &position); a; a = ldap_next_attribute(ld_, m, position)) {
      std::vector<std::string>& out = entry.values[AsciiLower(a)];
      if (struct berval** values = ldap_get_values_len(ld_, m, a)) {
        for (int i = 0; values[i]; ++i) out.emplace_back(values[i]->bv_val, values[i]->bv_len);
        ldap_value_free_len(values);
      }
      ldap_memfree(a);
    }
    if (position) ber_free(position, 0);
    entries->push_back(std::move(entry));
  }
  // The page control of the answer carries the cookie of the next page.
  LDAPControl** answered = nullptr;
  int code = rc;
  if (ldap_parse_result(ld_, result, &code, nullptr, nullptr, nullptr, &answered, 0) == LDAP_SUCCESS && answered) {
    if (LDAPControl* found = ldap_control_find(LDAP_CONTROL_PAGEDRESULTS, answered, nullptr)) {
      ber_int_t estimate = 0;
      struct berval next = {0, nullptr};
      if (ldap_parse_pageresponse_control(ld_, found, &estimate, &next) == LDAP_SUCCESS) {
        if (next.bv_val) {
          cookie->assign(next.bv_val, next.bv_len);
          ber_memfree(next.bv_val);
        }
      }
    }
    ldap_controls_free(answered);
  }
  ldap_msgfree(result);
  return code == LDAP_SIZELIMIT_EXCEEDED ? code : rc;
}

int DirectoryLink::SearchAll(const std::string& base, LdapScope scope, const std::string& filter,
                        const std::vector<std::string>& attributes, std::vector<LdapEntry>* entries) {
  entries->clear();
  std::string cookie;
  std::vector<LdapEntry> page;
  do {
    int rc = SearchPage(base, scope, filter, attributes, 1000, 0, &cookie, &page);
    if (rc != LDAP_SUCCESS) return rc;
    for (LdapEntry& e : page) entries->push_back(std::move(e));
  } while (!cookie.empty());
  return LDAP_SUCCESS;
}

int LdapLink::Modify(const std::string& dn, const std::vector<LdapModification>& changes) {
  std::lock_guard<std::mutex> lock(mutex_);
  lastError_.clear();
  if (!ld_) return LDAP_SERVER_DOWN;
  std::vector<LDAPMod> mods(2 * changes.size());
  std::vector<std::unique_ptr<char*[]>> values;
  std::vector<LDAPMod*> list;
  size_t used = 0;
  auto add = [&](const std::string& attribute, int op, const std::string* value) {
    LDAPMod& mod = mods[used++];
    mod.mod_op = op;
    mod.mod_type = const_cast<char*>(attribute.c_str());
    mod.mod_values = nullptr;
    if (value) {
      values.emplace_back(new char*[2]{const_cast<char*>(value->c_str()), nullptr});
      mod.mod_values = values.back().get();
    }
    list.push_back(&mod);
  };
  for (const LdapModification& c : changes) {
    if (!c.onlyIfWas) {
      // Removing every value of an attribute the object may not have: a
      // replace without values does that, and succeeds either way.
      add(c.attribute, LDAP_MOD_REPLACE, c.value.empty() ? nullptr : &c.value);
      continue;
    }
    // The old value taken away and the new one added in the same
    // modification: it fails when the old one is no longer there.
    if (!c.was.empty()) add(c.attribute, LDAP_MOD_DELETE, &c.was);
    if (!c.value.empty()) add(c.attribute, LDAP_MOD_ADD, &c.value);
  }
  list.push_back(nullptr);
  ++roundTrips_;
  int rc = ldap_modify_ext_s(ld_, dn.c_str(), list.data(), nullptr, nullptr);
  if (rc != LDAP_SUCCESS) {
    char* message = nullptr;
    ldap_get_option(ld_, LDAP_OPT_DIAGNOSTIC_MESSAGE, &message);
    lastError_ = std::string(ldap_err2string(rc)) + (message && *message ? std::string(" (") + message + ")" : "");
    if (message) ldap_memfree(message);
  }
  return rc;
}

std::string LdapLink::LastError() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lastError_;
}

std::string LdapFilterEscape(const std::string& value) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : value) {
    if (c == '*' || c == '(' || c == ')' || c == '\\' || c == 0) {
      out += '\\';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace qel
