#include "platform/domain/domain_store.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <sstream>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "platform/domain/account_records.h"
#include "platform/domain/dn.h"
#include "platform/domain/domain_text.h"
#include "platform/domain/object_category.h"

namespace qel {

namespace {

const wchar_t* const kKnownAttributes[] = {
    L"objectClass",     L"objectCategory", L"cn",         L"ou",
    L"sAMAccountName",  L"displayName",    L"scriptPath", L"profilePath",
    L"userAccountControl", L"description", L"homeDirectory", L"homeDrive",
    L"userWorkstations", L"isDeleted",     L"member",     L"distinguishedName",
    L"primaryGroupID"};
static_assert(sizeof(kKnownAttributes) / sizeof(kKnownAttributes[0]) == kAttrFirstFree, "attribute table");

bool SyncFile(std::FILE* file) {
#ifdef _WIN32
  return _commit(_fileno(file)) == 0;
#else
  return fsync(fileno(file)) == 0;
#endif
}

bool ReadWholeFile(const std::string& path, std::string* text, bool* exists) {
  std::error_code ec;
  *exists = std::filesystem::exists(path, ec);
  if (!*exists) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  in.seekg(0, std::ios::end);
  std::streamoff size = in.tellg();
  if (size < 0) return false;
  in.seekg(0, std::ios::beg);
  text->assign(static_cast<size_t>(size), '\0');
  in.read(&(*text)[0], size);
  return static_cast<std::streamoff>(in.gcount()) == size;
}

// The key of the parent of an object whose key is `key`: the key without its
// first RDN (keys are canonical, so no second normalisation is needed).
std::wstring_view ParentKey(std::wstring_view key) {
  for (size_t i = 0; i < key.size(); ++i) {
    if (key[i] == L'\\') {
      ++i;
    } else if (key[i] == L',') {
      return key.substr(i + 1);
    }
  }
  return std::wstring_view();
}

bool HasClass(const DirObject& object, const wchar_t* name) {
  for (const DirAttribute& a : object.attributes)
    if (a.name == kAttrObjectClass)
      for (std::wstring_view v : a.all())
        if (EqualNoCase(v, name)) return true;
  return false;
}

bool Fail(DomainError* error, const std::string& file, int line, const std::string& reason) {
  if (error) *error = DomainError{file, line, reason};
  return false;
}

std::string Quote(std::wstring_view text) { return "\"" + WideToUtf8(text) + "\""; }

// The memory of one domain's texts (names, keys, values) and value lists:
// blocks handed out in order and freed together with the domain, so a record
// costs no allocation of its own and dropping a domain frees a few hundred
// blocks. Nothing handed out ever moves.
class Arena {
 public:
  // A copy of UTF-8 text as wide text (malformed bytes become U+FFFD).
  std::wstring_view Text(const std::string& utf8) {
    wchar_t* out = Room(utf8.size());
    return Keep(out, Utf8ToWideInto(utf8.data(), utf8.size(), out));
  }
  std::wstring_view Text(std::wstring_view wide) {
    wchar_t* out = Room(wide.size());
    std::copy(wide.begin(), wide.end(), out);
    return Keep(out, wide.size());
  }
  std::wstring_view Folded(std::wstring_view wide) {
    wchar_t* out = Room(wide.size());
    for (size_t i = 0; i < wide.size(); ++i) out[i] = FoldChar(wide[i]);
    return Keep(out, wide.size());
  }
  std::wstring_view Folded(const std::string& utf8) {
    wchar_t* out = Room(utf8.size());
    size_t used = Utf8ToWideInto(utf8.data(), utf8.size(), out);
    for (size_t i = 0; i < used; ++i) out[i] = FoldChar(out[i]);
    return Keep(out, used);
  }
  // Room for `count` characters, of which Keep keeps the first `used`.
  wchar_t* Room(size_t count) { return static_cast<wchar_t*>(Take(count * sizeof(wchar_t), alignof(wchar_t), false)); }
  std::wstring_view Keep(wchar_t* room, size_t used) {
    if (reinterpret_cast<char*>(room) == next_) {  // not a block of its own
      next_ += used * sizeof(wchar_t);
      left_ -= used * sizeof(wchar_t);
    }
    return std::wstring_view(room, used);
  }
  std::wstring_view* Views(size_t count) {
    auto* out = static_cast<std::wstring_view*>(Take(count * sizeof(std::wstring_view), alignof(std::wstring_view), true));
    for (size_t i = 0; i < count; ++i) new (out + i) std::wstring_view();
    return out;
  }

 private:
  static constexpr size_t kFirstBlock = 4096, kLargestBlock = 1 << 20;

  // `bytes` at the cursor (taken at once when `take`); a request too large
  // for the blocks gets a block of its own.
  void* Take(size_t bytes, size_t align, bool take) {
    if (bytes > kLargestBlock / 8) {
      blocks_.emplace_back(new char[bytes ? bytes : 1]);
      return blocks_.back().get();
    }
    size_t pad = (align - reinterpret_cast<uintptr_t>(next_) % align) % align;
    if (!next_ || pad + bytes > left_) {
      // Each block twice the one before (a small domain takes little),
      // and never smaller than the request.
      size_t size = blocks_.empty() ? kFirstBlock : std::min(kLargestBlock, blockSize_ * 2);
      while (size < bytes) size *= 2;
      blocks_.emplace_back(new char[size]);
      blockSize_ = size;
      next_ = blocks_.back().get();
      left_ = size;
      pad = 0;
    }
    char* out = next_ + pad;
    next_ = out;
    left_ -= pad;
    if (take) {
      next_ += bytes;
      left_ -= bytes;
    }
    return out;
  }

  std::vector<std::unique_ptr<char[]>> blocks_;
  char* next_ = nullptr;
  size_t left_ = 0;
  size_t blockSize_ = 0;
};

// Keys the arena keeps, to object indexes: open addressing, so an entry
// costs no allocation. A probe reads small slots of hashes; the keys beside
// them are read only when a hash agrees. A caller that knows a key early can
// hash it and have its slot fetched while it does other work.
class KeyIndex {
 public:
  static uint32_t Hash(std::wstring_view key) {
    uint64_t h = 14695981039346656037ull;  // FNV-1a
    for (wchar_t c : key) h = (h ^ static_cast<uint32_t>(c)) * 1099511628211ull;
    return static_cast<uint32_t>(h ^ (h >> 32));
  }
  void Reserve(size_t count) {
    if (count * 2 > slots_.size()) Grow(count * 2);
  }
  void Prefetch(uint32_t hash) const {
#if defined(__GNUC__)
    if (!slots_.empty()) __builtin_prefetch(&slots_[hash & (slots_.size() - 1)]);
#else
    (void)hash;
#endif
  }
  uint32_t Find(std::wstring_view key) const { return Find(key, Hash(key)); }
  uint32_t Find(std::wstring_view key, uint32_t hash) const {
    if (slots_.empty()) return kNoObject;
    for (size_t i = hash & (slots_.size() - 1);; i = (i + 1) & (slots_.size() - 1)) {
      const Slot& slot = slots_[i];
      if (slot.value == kNoObject) return kNoObject;
      if (slot.hash == hash && keys_[i] == key) return slot.value;
    }
  }
  // False when the key is there already.
  bool Insert(std::wstring_view key, uint32_t value) { return Insert(key, Hash(key), value); }
  bool Insert(std::wstring_view key, uint32_t hash, uint32_t value) {
    if ((used_ + 1) * 2 > slots_.size()) Grow(slots_.size() * 2);
    for (size_t i = hash & (slots_.size() - 1);; i = (i + 1) & (slots_.size() - 1)) {
      Slot& slot = slots_[i];
      if (slot.value == kNoObject) {
        slot = Slot{hash, value};
        keys_[i] = key;
        ++used_;
        return true;
      }
      if (slot.hash == hash && keys_[i] == key) return false;
    }
  }

 private:
  struct Slot {
    uint32_t hash = 0;
    uint32_t value = kNoObject;  // kNoObject: a free slot
  };
  void Grow(size_t atLeast) {
    size_t size = 16;
    while (size < atLeast) size *= 2;
    std::vector<Slot> oldSlots(size);
    std::vector<std::wstring_view> oldKeys(size);
    oldSlots.swap(slots_);
    oldKeys.swap(keys_);
    used_ = 0;
    for (size_t i = 0; i < oldSlots.size(); ++i)
      if (oldSlots[i].value != kNoObject) Insert(oldKeys[i], oldSlots[i].hash, oldSlots[i].value);
  }

  std::vector<Slot> slots_;  // a power of two long, at most half full
  std::vector<std::wstring_view> keys_;
  size_t used_ = 0;
};

}  // namespace

struct DomainStore::Model {
  Arena arena;  // first: the tables below point into it
  std::vector<DirObject> objects;
  KeyIndex byKey;   // NormalizeDn
  KeyIndex byName;  // folded sAMAccountName of live accounts
  KeyIndex groups;  // folded sAMAccountName (or cn) of groups
  std::vector<uint32_t> accountsByRid;
  std::vector<std::wstring> attributeNames;
  std::unordered_map<std::wstring, uint32_t> attributeIds;  // folded name
  std::map<uint32_t, std::vector<std::string>> comments;    // comment lines before an object
  std::vector<std::string> trailingComments;
  std::wstring netbios, controller, dns, namingContext;
  uint32_t root = kNoObject;

  Model() {
    for (const wchar_t* name : kKnownAttributes) AttributeIdFor(name);
  }

  uint32_t AttributeIdFor(const std::wstring& name) {
    std::wstring folded = FoldCase(name);
    auto it = attributeIds.find(folded);
    if (it != attributeIds.end()) return it->second;
    uint32_t id = static_cast<uint32_t>(attributeNames.size());
    attributeNames.push_back(name);
    attributeIds.emplace(folded, id);
    return id;
  }

  // The same for a name as the file spells it; the few names a file uses
  // are looked up without converting and folding them every time.
  uint32_t AttributeIdForUtf8(const std::string& name) {
    auto it = spelledIds.find(name);
    if (it != spelledIds.end()) return it->second;
    uint32_t id = AttributeIdFor(Utf8ToWide(name));
    if (spelledIds.size() < 4096) spelledIds.emplace(name, id);
    return id;
  }

  // A container's key and, once found, its object, by the text that follows
  // the first RDN of its children's names.
  struct Container {
    std::wstring_view key;
    uint32_t object = kNoObject;
  };

  // NormalizeDn(dn), kept in the arena. The part after the first RDN is
  // normalized once per text (the records of one container share it), the
  // first RDN mostly by folding alone. *container: the parent's entry, null
  // for a name of one RDN.
  std::wstring_view KeyOf(std::wstring_view dn, Container** container) {
    *container = nullptr;
    size_t comma = std::wstring_view::npos;
    bool escaped = false;
    for (size_t i = 0; i < dn.size() && comma == std::wstring_view::npos; ++i) {
      if (dn[i] == L'\\') {
        escaped = true;
        if (++i >= dn.size()) return std::wstring_view();  // a dangling escape
      } else if (dn[i] == L',') {
        comma = i;
      }
    }
    if (comma == std::wstring_view::npos) {
      std::wstring key = NormalizeDn(std::wstring(dn));
      return key.empty() ? std::wstring_view() : arena.Text(key);
    }
    std::wstring_view rest = dn.substr(comma + 1);
    auto known = containers.find(rest);
    if (known != containers.end()) {
      *container = &known->second;
    } else {
      std::wstring restKey = NormalizeDn(std::wstring(rest));
      if (restKey.empty()) return std::wstring_view();
      Container fresh{arena.Text(restKey), kNoObject};
      if (containers.size() < 65536) {
        *container = &containers.emplace(rest, fresh).first->second;
      } else {
        overflow = fresh;
        *container = &overflow;
      }
    }
    std::wstring_view restKey = (*container)->key;
    wchar_t* out = arena.Room(comma + 1 + restKey.size());
    size_t first = escaped ? 0 : SimpleRdnKey(dn.substr(0, comma), out);
    if (first == 0) {
      std::wstring key = NormalizeDn(std::wstring(dn.substr(0, comma)));
      if (key.empty()) return std::wstring_view();
      if (key.size() > comma) {  // escaping made it longer than the name
        key += L',';
        key.append(restKey.begin(), restKey.end());
        return arena.Text(key);
      }
      std::copy(key.begin(), key.end(), out);
      first = key.size();
    }
    out[first] = L',';
    std::copy(restKey.begin(), restKey.end(), out + first + 1);
    return arena.Keep(out, first + 1 + restKey.size());
  }

  static DirAttribute* Find(DirObject& object, uint32_t id) {
    for (DirAttribute& a : object.attributes)
      if (a.name == id) return &a;
    return nullptr;
  }
  static const DirAttribute* Find(const DirObject& object, uint32_t id) {
    for (const DirAttribute& a : object.attributes)
      if (a.name == id) return &a;
    return nullptr;
  }
  static std::wstring_view First(const DirObject& object, uint32_t id) {
    const DirAttribute* a = Find(object, id);
    return a && a->count > 0 ? a->values[0] : std::wstring_view();
  }
  // The attribute's only value becomes `value`; the values it had stay in
  // the arena for whoever still looks at them.
  void Set(DirObject& object, uint32_t id, const std::wstring& value) {
    DirAttribute* a = Find(object, id);
    if (value.empty()) {
      if (a) object.attributes.erase(object.attributes.begin() + (a - object.attributes.data()));
      return;
    }
    if (!a) {
      object.attributes.push_back(DirAttribute{id, 0, nullptr});
      a = &object.attributes.back();
    }
    std::wstring_view* list = arena.Views(1);
    list[0] = arena.Text(std::wstring_view(value));
    a->values = list;
    a->count = 1;
  }

  static DWORD Flags(const DirObject& object) {
    unsigned long flags = UF_NORMAL_ACCOUNT;
    std::wstring_view text = First(object, kAttrUserAccountControl);
    if (!text.empty()) ParseUInt32(WideToUtf8(text), &flags);
    return static_cast<DWORD>(flags);
  }

  static AccountRecord Record(const DirObject& o) {
    AccountRecord a;
    a.name = First(o, kAttrSamAccountName);
    a.homeDir = First(o, kAttrHomeDirectory);
    a.comment = First(o, kAttrDescription);
    a.scriptPath = First(o, kAttrScriptPath);
    a.displayName = First(o, kAttrDisplayName);
    a.cn = First(o, kAttrCn);
    a.workstations = First(o, kAttrUserWorkstations);
    a.profile = First(o, kAttrProfilePath);
    a.homeDrive = First(o, kAttrHomeDrive);
    a.flags = Flags(o);
    a.rid = o.rid;
    unsigned long group = 0;
    if (ParseUInt32(WideToUtf8(First(o, kAttrPrimaryGroupId)), &group)) a.primaryGroup = static_cast<DWORD>(group);
    return a;
  }

  // Builds the model one record at a time (Add), then checks the whole
  // (Finish); false with the file, line and reason.
  bool Add(const LdifDocument& header, LdifEntry& entry, const std::string& file, DomainError* error);
  bool Finish(const LdifDocument& header, const std::string& file, DomainError* error);
  bool Begin(const LdifDocument& header, const LdifEntry& first, const std::string& file, DomainError* error);
  // Parses `text` into this (empty) model.
  bool Read(const std::string& text, const std::string& file, DomainError* error);

  // The list of values many objects share (objectClass, objectCategory):
  // kept once, and the list of the record before is tried first.
  const std::wstring_view* SharedList(int kind, const std::vector<const std::string*>& texts);
  const std::wstring_view* SharedList(std::vector<std::wstring> values);

  std::wstring contextKey;
  DWORD nextRid = 1000;
  struct Orphan {
    int line;
    std::wstring dn, parentKey;
  };
  std::vector<Orphan> orphans;  // objects whose parent had not been read yet
  std::map<std::vector<std::wstring>, const std::wstring_view*> sharedLists;  // see DirAttribute::values
  struct LastShared {
    std::vector<std::string> texts;  // as the file spells them
    const std::wstring_view* list = nullptr;
  };
  LastShared lastShared[2];  // objectClass, objectCategory
  std::unordered_map<const std::wstring_view*, const std::wstring_view*> filledCategories;  // by objectClass list
  std::vector<uint32_t> slot;  // Add's attribute positions by id, zero between records
  std::vector<DirAttribute> building;  // Add's attributes of the record
  std::vector<std::pair<uint32_t, uint32_t>> lines;  // Add's attribute lines: position, index in the entry
  std::vector<std::wstring_view*> filling;  // Add's value lists being filled, null for shared ones
  std::vector<const std::string*> sharedTexts[2];
  std::unordered_map<std::string, uint32_t> spelledIds;  // AttributeIdForUtf8
  std::unordered_map<std::wstring_view, Container> containers;  // KeyOf's texts after the first RDN
  Container overflow;  // KeyOf's entry once `containers` is full
  // Applies journal text; false with the journal's line and reason.
  bool ApplyJournal(const std::string& text, const std::string& file, size_t* applied, DomainError* error);
  void WriteLdif(std::string* out, std::FILE* sink) const;
};

bool DomainStore::Model::Begin(const LdifDocument& header, const LdifEntry& first, const std::string& file,
                               DomainError* error) {
  dns = Utf8ToWide(header.Meta("dns"));
  netbios = Utf8ToWide(header.Meta("domain"));
  controller = Utf8ToWide(header.Meta("controller"));
  if (dns.empty()) {
    // Take the DNS name from the DC= components of the first entry.
    std::vector<std::wstring> rdns;
    SplitDn(Utf8ToWide(first.dn), &rdns);
    for (const std::wstring& rdn : rdns) {
      std::wstring type, value;
      if (SplitRdn(rdn, &type, &value) && EqualNoCase(type, L"DC")) dns += (dns.empty() ? L"" : L".") + value;
    }
    if (dns.empty()) return Fail(error, file, first.line, "no \"# qel-dns:\" line and no DC= name");
  }
  for (size_t pos = 0, next; pos <= dns.size(); pos = next + 1) {
    next = dns.find(L'.', pos);
    if (next == std::wstring::npos) next = dns.size();
    if (next == pos) return Fail(error, file, 0, "bad DNS name " + Quote(dns));
    namingContext += (namingContext.empty() ? L"DC=" : L",DC=") + dns.substr(pos, next - pos);
  }
  if (netbios.empty()) {
    netbios = dns.substr(0, dns.find(L'.'));
    for (wchar_t& c : netbios)
      if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - 32);
  }
  if (controller.empty()) controller = L"DC1";
  contextKey = NormalizeDn(namingContext);
  return true;
}

const std::wstring_view* DomainStore::Model::SharedList(int kind, const std::vector<const std::string*>& texts) {
  LastShared& last = lastShared[kind];
  bool same = last.list && last.texts.size() == texts.size();
  for (size_t i = 0; same && i < texts.size(); ++i) same = last.texts[i] == *texts[i];
  if (same) return last.list;
  std::vector<std::wstring> values;
  values.reserve(texts.size());
  for (const std::string* text : texts) values.push_back(Utf8ToWide(*text));
  last.list = SharedList(std::move(values));
  last.texts.resize(texts.size());
  for (size_t i = 0; i < texts.size(); ++i) last.texts[i] = *texts[i];
  return last.list;
}

const std::wstring_view* DomainStore::Model::SharedList(std::vector<std::wstring> values) {
  auto it = sharedLists.find(values);
  if (it != sharedLists.end()) return it->second;
  std::wstring_view* list = arena.Views(values.size());
  for (size_t i = 0; i < values.size(); ++i) list[i] = arena.Text(std::wstring_view(values[i]));
  return sharedLists.emplace(std::move(values), list).first->second;
}

bool DomainStore::Model::Add(const LdifDocument& header, LdifEntry& entry, const std::string& file,
                             DomainError* error) {
  if (objects.empty() && contextKey.empty() && !Begin(header, entry, file, error)) return false;
  DirObject object;
  object.dn = arena.Text(entry.dn);
  Container* container = nullptr;
  std::wstring_view key = KeyOf(object.dn, &container);
  if (key.empty()) return Fail(error, file, entry.line, "malformed distinguished name " + Quote(object.dn));
  uint32_t index = static_cast<uint32_t>(objects.size());
  // The DN is entered once the attributes are read, and the account name
  // after it: their tables' slots are fetched meanwhile. A DN already there
  // is inside the domain, as its first record was, so of a record that is a
  // duplicate nothing before the entering can fail; a bad value enters it
  // before it answers, so a duplicate is still the first fault reported.
  uint32_t keyHash = KeyIndex::Hash(key);
  byKey.Prefetch(keyHash);
  auto duplicate = [&] { return Fail(error, file, entry.line, "duplicate DN " + Quote(object.dn)); };
  if (!DnKeyAtOrBelow(key, contextKey))
    return Fail(error, file, entry.line, Quote(object.dn) + " is outside the domain " + Quote(namingContext));
  if (key != contextKey) {
    // The records of one container share its entry, which keeps the
    // container's object once found.
    std::wstring_view parentKey = container ? container->key : ParentKey(key);
    uint32_t parent = container ? container->object : kNoObject;
    if (parent == kNoObject) parent = byKey.Find(parentKey);
    if (parent == kNoObject) {
      orphans.push_back(Orphan{entry.line, std::wstring(object.dn), std::wstring(parentKey)});
    } else {
      object.parent = parent;
      if (container) container->object = parent;
    }
  } else {
    root = index;
  }
  // The attributes in the order they first appear, each with its values in
  // file order, gathered in two passes: count, then fill lists of that size.
  building.clear();
  lines.clear();
  std::wstring_view foldedSam;
  uint32_t samHash = 0;
  for (uint32_t i = 0; i < entry.attributes.size(); ++i) {
    const LdifAttribute& attr = entry.attributes[i];
    uint32_t id = AttributeIdForUtf8(attr.name);
    if (id == kAttrDistinguishedName) continue;  // always the entry's own DN
    if (id == kAttrUserAccountControl) {
      unsigned long flags;
      if (!ParseUInt32(attr.value, &flags)) {
        if (!byKey.Insert(key, keyHash, index)) return duplicate();
        return Fail(error, file, attr.line, "userAccountControl \"" + attr.value + "\" is not a number");
      }
    }
    // slot[id] is one more than the attribute's position in this object,
    // so a record with many distinct attributes is read in linear time.
    if (slot.size() <= id) slot.resize(attributeNames.size(), 0);
    if (slot[id] == 0) {
      building.push_back(DirAttribute{id, 0, nullptr});
      slot[id] = static_cast<uint32_t>(building.size());
      if (id == kAttrSamAccountName && !attr.value.empty()) {
        foldedSam = arena.Folded(attr.value);
        samHash = KeyIndex::Hash(foldedSam);
        byName.Prefetch(samHash);
      }
    }
    ++building[slot[id] - 1].count;
    lines.emplace_back(slot[id] - 1, i);
  }
  for (const DirAttribute& a : building) slot[a.name] = 0;
  filling.assign(building.size(), nullptr);
  for (size_t k = 0; k < building.size(); ++k) {
    DirAttribute& a = building[k];
    if (a.name == kAttrObjectClass || a.name == kAttrObjectCategory) continue;
    filling[k] = arena.Views(a.count);
    a.values = filling[k];
    a.count = 0;
  }
  sharedTexts[0].clear();
  sharedTexts[1].clear();
  for (const auto& line : lines) {
    DirAttribute& a = building[line.first];
    const std::string& value = entry.attributes[line.second].value;
    if (filling[line.first])
      filling[line.first][a.count++] = arena.Text(value);
    else
      sharedTexts[a.name == kAttrObjectClass ? 0 : 1].push_back(&value);
  }
  const DirAttribute* classes = nullptr;
  bool hasCategory = false;
  for (DirAttribute& a : building) {
    if (a.name == kAttrObjectClass) {
      a.values = SharedList(0, sharedTexts[0]);
      classes = &a;
    } else if (a.name == kAttrObjectCategory) {
      a.values = SharedList(1, sharedTexts[1]);
      hasCategory = true;
    }
  }
  if (!hasCategory && classes) {
    // As a directory does on import: a record without a category gets its class's.
    auto filled = filledCategories.find(classes->values);
    if (filled == filledCategories.end()) {
      std::vector<std::wstring> names(classes->values, classes->values + classes->count);
      std::wstring category = DefaultObjectCategory(names, namingContext);
      const std::wstring_view* list = category.empty() ? nullptr : SharedList({category});
      filled = filledCategories.emplace(classes->values, list).first;
    }
    if (filled->second) building.push_back(DirAttribute{kAttrObjectCategory, 1, filled->second});
  }
  object.attributes.assign(building.begin(), building.end());
  if (!byKey.Insert(key, keyHash, index)) return duplicate();
  object.deleted = EqualNoCase(First(object, kAttrIsDeleted), L"TRUE");
  std::wstring_view sam = First(object, kAttrSamAccountName);
  if (HasClass(object, L"user")) {
    if (sam.empty())
      return Fail(error, file, entry.line, "the account " + Quote(object.dn) + " has no sAMAccountName");
    object.rid = nextRid++;
    object.account = !object.deleted;
  }
  object.group = HasClass(object, L"group") && !object.deleted;
  if (object.account || object.group) {
    std::wstring_view name = foldedSam;
    uint32_t hash = samHash;
    if (sam.empty()) {  // a group named by its cn
      name = arena.Folded(First(object, kAttrCn));
      hash = KeyIndex::Hash(name);
    }
    KeyIndex& own = object.account ? byName : groups;
    const KeyIndex& other = object.account ? groups : byName;
    if (other.Find(name, hash) != kNoObject || !own.Insert(name, hash, index))
      return Fail(error, file, entry.line, "duplicate sAMAccountName " + Quote(sam));
  }
  if (!entry.comments.empty()) comments[index] = std::move(entry.comments);
  if (object.parent != kNoObject) objects[object.parent].children.push_back(index);
  if (object.account) accountsByRid.push_back(index);
  objects.push_back(std::move(object));
  return true;
}

bool DomainStore::Model::Finish(const LdifDocument& header, const std::string& file, DomainError* error) {
  if (objects.empty()) return Fail(error, file, 0, "the file holds no entries");
  if (root == kNoObject) return Fail(error, file, 0, "the domain object " + Quote(namingContext) + " is missing");
  for (const Orphan& orphan : orphans) {
    bool later = byKey.Find(orphan.parentKey) != kNoObject;
    return Fail(error, file, orphan.line,
                "the parent of " + Quote(orphan.dn) + (later ? " comes after it" : " does not exist"));
  }
  trailingComments = header.trailingComments;
  return true;
}

bool DomainStore::Model::Read(const std::string& text, const std::string& file, DomainError* error) {
  // Room for every record at once (counted by their "dn:" lines), so the
  // tables are not rebuilt as they grow.
  size_t records = 1;
  for (size_t at = text.find("\ndn:"); at != std::string::npos; at = text.find("\ndn:", at + 4)) ++records;
  objects.reserve(records);
  byKey.Reserve(records);
  byName.Reserve(records);
  LdifDocument header;
  auto add = [&](LdifEntry& entry, DomainError* e) { return Add(header, entry, file, e); };
  return ReadLdif(text, file, &header, add, error) && Finish(header, file, error);
}

bool DomainStore::Model::ApplyJournal(const std::string& text, const std::string& file, size_t* applied,
                                      DomainError* error) {
  size_t pos = 0;
  int number = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    // A last line without its end was being written when the run died: the
    // call that wrote it never returned, so it is dropped.
    if (end == std::string::npos) break;
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    ++number;
    if (line.empty() || line[0] == '#') continue;
    std::istringstream in(line);
    std::string op, dn64, item;
    in >> op >> dn64;
    std::string dnText;
    if (op != "M" || !Base64Decode(dn64, &dnText))
      return Fail(error, file, number, "malformed journal line");
    uint32_t found = byKey.Find(NormalizeDn(Utf8ToWide(dnText)));
    if (found == kNoObject || !objects[found].account)
      return Fail(error, file, number, "the journal names an unknown account \"" + dnText + "\"");
    DirObject& object = objects[found];
    std::vector<std::pair<uint32_t, std::wstring>> changes;
    while (in >> item) {
      size_t eq = item.find('=');
      std::string value;
      if (eq == std::string::npos || eq == 0 || !Base64Decode(item.substr(eq + 1), &value))
        return Fail(error, file, number, "malformed journal line");
      std::wstring wide;
      if (!Utf8ToWide(value, &wide)) return Fail(error, file, number, "a journal value is not UTF-8 text");
      // A change becomes a line of the file when it is rewritten: it passes
      // the checks of a file line, or the rewritten file would not load.
      std::string name = item.substr(0, eq), reason;
      if (!CheckLdifAttributeName(name, &reason) || !CheckLdifValue(name, value, &reason))
        return Fail(error, file, number, reason);
      uint32_t id = AttributeIdFor(Utf8ToWide(name));
      if (id == kAttrObjectClass || id == kAttrSamAccountName || id == kAttrIsDeleted ||
          id == kAttrDistinguishedName)
        return Fail(error, file, number, "the journal may not change \"" + item.substr(0, eq) + "\"");
      unsigned long flags;
      if (id == kAttrUserAccountControl && !ParseUInt32(value, &flags))
        return Fail(error, file, number, "userAccountControl \"" + value + "\" is not a number");
      changes.emplace_back(id, wide);
    }
    for (const auto& change : changes) Set(object, change.first, change.second);
    ++*applied;
  }
  return true;
}

void DomainStore::Model::WriteLdif(std::string* out, std::FILE* sink) const {
  auto drain = [&](bool force) {
    if (sink && (force || out->size() > (1u << 20))) {
      std::fwrite(out->data(), 1, out->size(), sink);
      out->clear();
    }
  };
  for (uint32_t i = 0; i < objects.size(); ++i) {
    const DirObject& object = objects[i];
    auto c = comments.find(i);
    if (c != comments.end())
      for (const std::string& line : c->second) *out += line + "\n";
    *out += FormatLdifLine("dn", WideToUtf8(object.dn));
    for (const DirAttribute& a : object.attributes) {
      std::string name = WideToUtf8(attributeNames[a.name]);
      for (std::wstring_view v : a.all()) *out += FormatLdifLine(name, WideToUtf8(v));
    }
    *out += "\n";
    drain(false);
  }
  for (const std::string& line : trailingComments) *out += line + "\n";
  drain(true);
}

DomainStore::DomainStore() : DomainStore(Options()) {}
DomainStore::DomainStore(const Options& options) : options_(options), model_(new Model) {}

DomainStore::~DomainStore() { Close(nullptr); }

bool DomainStore::LoadText(const std::string& text, const std::string& name, DomainError* error) {
  std::unique_ptr<Model> model(new Model);
  if (!model->Read(text, name, error)) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  CloseJournal();
  model_ = std::move(model);
  path_.clear();
  dirty_ = false;
  return true;
}

bool DomainStore::Load(const std::string& path, DomainError* error) {
  std::string text;
  bool exists;
  if (!ReadWholeFile(path, &text, &exists))
    return Fail(error, path, 0, exists ? "the file cannot be read" : "the file does not exist");
  std::unique_ptr<Model> model(new Model);
  if (!model->Read(text, path, error)) return false;
  std::string().swap(text);

  std::string journalPath = path + ".journal";
  std::string journal;
  size_t applied = 0;
  if (ReadWholeFile(journalPath, &journal, &exists)) {
    if (!model->ApplyJournal(journal, journalPath, &applied, error)) return false;
  } else if (exists) {
    return Fail(error, journalPath, 0, "the journal cannot be read");
  }

  std::lock_guard<std::mutex> lock(mutex_);
  CloseJournal();
  std::unique_ptr<Model> previous = std::move(model_);
  std::string previousPath = path_;
  bool previousDirty = dirty_;
  model_ = std::move(model);
  path_ = path;
  // A leftover journal (even an empty or torn one) is folded in now, unless
  // the store only reads: then the files stay as they are.
  dirty_ = exists && !options_.readOnly;
  if (dirty_ && !FlushLocked(error)) {
    model_ = std::move(previous);
    path_ = previousPath;
    dirty_ = previousDirty;
    return false;
  }
  return true;
}

bool DomainStore::Flush(DomainError* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  return FlushLocked(error);
}

bool DomainStore::FlushLocked(DomainError* error) {
  if (!dirty_ || path_.empty() || options_.readOnly) return true;
  const std::string temp = path_ + ".tmp";
  std::FILE* out = std::fopen(temp.c_str(), "wb");
  if (!out) return Fail(error, temp, 0, "cannot create the file: " + std::string(std::strerror(errno)));
  std::string buffer;
  model_->WriteLdif(&buffer, out);
  bool ok = std::fflush(out) == 0 && !std::ferror(out);
  if (ok && options_.syncToDisk) ok = SyncFile(out);
  ok = std::fclose(out) == 0 && ok;
  std::error_code ec;
  if (!ok) {
    std::filesystem::remove(temp, ec);
    return Fail(error, temp, 0, "cannot write the file");
  }
  // The journal stays until the new file is in place: a run that dies here
  // replays it over the new file, which changes nothing (each line holds
  // whole values, not differences).
  std::filesystem::rename(temp, path_, ec);
  if (ec) {
    std::filesystem::remove(temp, ec);
    return Fail(error, path_, 0, "cannot replace the file: " + ec.message());
  }
  ++fileWrites_;
  CloseJournal();
  std::filesystem::remove(path_ + ".journal", ec);
  dirty_ = false;
  return true;
}

bool DomainStore::Close(DomainError* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  bool ok = FlushLocked(error);
  CloseJournal();
  return ok;
}

void DomainStore::CloseJournal() {
  if (journal_) std::fclose(journal_);
  journal_ = nullptr;
}

bool DomainStore::AppendJournal(const std::string& line) {
  if (path_.empty()) return true;
  const std::string journalPath = path_ + ".journal";
  if (!journal_) {
    // Where the good part of the journal ends (ftell of an append stream
    // is not to be trusted before the first write everywhere).
    std::error_code ec;
    journalSize_ = std::filesystem::exists(journalPath, ec) ? std::filesystem::file_size(journalPath, ec) : 0;
    if (ec) return false;
    journal_ = std::fopen(journalPath.c_str(), "ab");
    if (!journal_) return false;
  }
  bool ok = std::fwrite(line.data(), 1, line.size(), journal_) == line.size() && std::fflush(journal_) == 0;
  if (ok && options_.syncToDisk) ok = SyncFile(journal_);
  if (!ok) {
    // Cut a partly written line off, so the next line starts clean.
    CloseJournal();
    std::error_code ec;
    std::filesystem::resize_file(journalPath, journalSize_, ec);
    return false;
  }
  journalSize_ += line.size();
  ++journalLines_;
  return true;
}

std::string DomainStore::ToLdif() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string out;
  model_->WriteLdif(&out, nullptr);
  return out;
}

std::wstring DomainStore::NetbiosName() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return model_->netbios;
}
std::wstring DomainStore::ControllerName() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return model_->controller;
}
std::wstring DomainStore::DnsName() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return model_->dns;
}
std::wstring DomainStore::NamingContext() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return model_->namingContext;
}

void DomainStore::SetLocatorFailure(DWORD error) {
  std::lock_guard<std::mutex> lock(mutex_);
  locatorFailure_ = error;
}

size_t DomainStore::ObjectCount() const { return model_->objects.size(); }
const DirObject& DomainStore::Object(uint32_t index) const { return model_->objects[index]; }
uint32_t DomainStore::RootObject() const { return model_->root; }
const std::vector<uint32_t>& DomainStore::AccountsByRid() const { return model_->accountsByRid; }

uint32_t DomainStore::FindObject(const std::wstring& dn) const {
  std::wstring key = NormalizeDn(dn);
  return model_->byKey.Find(key);
}

uint32_t DomainStore::FindAccount(const std::wstring& name) const {
  return model_->byName.Find(FoldCase(name));
}

int DomainStore::AttributeId(const std::wstring& name) const {
  auto it = model_->attributeIds.find(FoldCase(name));
  return it == model_->attributeIds.end() ? -1 : it->second;
}

const std::wstring& DomainStore::AttributeName(uint32_t id) const { return model_->attributeNames[id]; }

DirValues DomainStore::Values(const DirObject& object, uint32_t id) const {
  const DirAttribute* a = Model::Find(object, id);
  return a ? a->all() : DirValues();
}

bool DomainStore::IsLocalServer(LPCWSTR server) const {
  if (!server || !*server) return true;
  std::wstring name(server);
  if (name.size() > 2 && name[0] == L'\\' && name[1] == L'\\') name = name.substr(2);
  return EqualNoCase(name, model_->controller) || EqualNoCase(name, model_->controller + L"." + model_->dns);
}

NET_API_STATUS DomainStore::NetApiBufferFree(LPVOID buffer) {
  std::free(buffer);
  return NERR_Success;
}

NET_API_STATUS DomainStore::NetUserGetInfo(LPCWSTR server, LPCWSTR user, DWORD level, LPBYTE* buffer) {
  if (!buffer) return ERROR_INVALID_PARAMETER;
  *buffer = nullptr;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!IsLocalServer(server)) return ERROR_BAD_NETPATH;
  if (!user) return ERROR_INVALID_PARAMETER;
  if (level != 3) return ERROR_INVALID_LEVEL;
  uint32_t index = FindAccount(user);
  if (index == kNoObject) return NERR_UserNotFound;
  AccountRecord record = Model::Record(model_->objects[index]);
  record.scriptFlagAlways = scriptFlagAlways_;
  return MakeUserInfo3(record, buffer);
}

NET_API_STATUS DomainStore::NetUserSetInfo(LPCWSTR server, LPCWSTR user, DWORD level, LPBYTE buffer,
                                           LPDWORD parameterError) {
  if (parameterError) *parameterError = PARM_ERROR_NONE;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!IsLocalServer(server)) return ERROR_BAD_NETPATH;
  if (!user || !buffer) {
    if (parameterError) *parameterError = PARM_ERROR_UNKNOWN;
    return ERROR_INVALID_PARAMETER;
  }
  if (level != 3 && level != 1008 && level != 1009) return ERROR_INVALID_LEVEL;
  if (options_.readOnly) return ERROR_ACCESS_DENIED;
  uint32_t index = FindAccount(user);
  if (index == kNoObject) return NERR_UserNotFound;
  std::vector<AccountChange> wanted;
  AccountRecord current = Model::Record(model_->objects[index]);
  current.scriptFlagAlways = scriptFlagAlways_;
  NET_API_STATUS status = AccountChangesOf(current, level, buffer, &wanted, parameterError);
  if (status != NERR_Success) return status;
  std::vector<Change> changes;
  for (const AccountChange& c : wanted) changes.emplace_back(model_->AttributeIdFor(c.attribute), c.value);
  return ApplyChanges(index, changes);
}

NET_API_STATUS DomainStore::ApplyChanges(uint32_t index, const std::vector<Change>& changes) {
  if (changes.empty()) return NERR_Success;
  DirObject& o = model_->objects[index];
  std::string line = "M " + Base64Encode(WideToUtf8(o.dn));
  for (const Change& c : changes)
    line += " " + WideToUtf8(model_->attributeNames[c.first]) + "=" + Base64Encode(WideToUtf8(c.second));
  line += "\n";
  // The change is made only once it is safe in the journal.
  if (!AppendJournal(line)) return ERROR_CANTWRITE;
  for (const Change& c : changes) model_->Set(o, c.first, c.second);
  dirty_ = dirty_ || !path_.empty();
  return NERR_Success;
}

NET_API_STATUS DomainStore::NetQueryDisplayInformation(LPCWSTR server, DWORD level, DWORD index,
                                                       DWORD entriesRequested, DWORD preferredMaximumLength,
                                                       LPDWORD returnedEntryCount, PVOID* sortedBuffer) {
  if (!returnedEntryCount || !sortedBuffer) return ERROR_INVALID_PARAMETER;
  *returnedEntryCount = 0;
  *sortedBuffer = nullptr;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!IsLocalServer(server)) return ERROR_BAD_NETPATH;
  if (level != 1) return ERROR_INVALID_LEVEL;
  const std::vector<uint32_t>& accounts = model_->accountsByRid;
  const auto& objects = model_->objects;
  return MakeDisplayPage(
      accounts.size(), [&](size_t i) { return static_cast<DWORD>(objects[accounts[i]].rid); },
      [&](size_t i) {
        AccountRecord record = Model::Record(objects[accounts[i]]);
        record.scriptFlagAlways = scriptFlagAlways_;
        return record;
      },
      index, entriesRequested,
      preferredMaximumLength, returnedEntryCount, sortedBuffer);
}

NET_API_STATUS DomainStore::NetGroupGetUsers(LPCWSTR server, LPCWSTR group, DWORD level, LPBYTE* buffer,
                                             DWORD preferredMaximumLength, LPDWORD entriesRead,
                                             LPDWORD totalEntries, DWORD_PTR* resumeHandle) {
  if (!buffer || !entriesRead || !totalEntries) return ERROR_INVALID_PARAMETER;
  *buffer = nullptr;
  *entriesRead = *totalEntries = 0;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!IsLocalServer(server)) return ERROR_BAD_NETPATH;
  if (level != 0 && level != 1) return ERROR_INVALID_LEVEL;
  if (!group) return NERR_GroupNotFound;
  uint32_t found = model_->groups.Find(FoldCase(group));
  if (found == kNoObject) return NERR_GroupNotFound;
  const DirObject& g = model_->objects[found];

  // Members are the group's "member" values that name live accounts. For
  // "Domain Users" Windows also lists the accounts whose primary group it is:
  // those whose primaryGroupID says so, and without one every user that is
  // not a computer.
  std::vector<uint32_t> members;
  if (const DirAttribute* m = Model::Find(g, kAttrMember))
    for (std::wstring_view dn : m->all()) {
      uint32_t member = model_->byKey.Find(NormalizeDn(std::wstring(dn)));
      if (member != kNoObject && model_->objects[member].account) members.push_back(member);
    }
  if (EqualNoCase(Model::First(g, kAttrSamAccountName), L"Domain Users")) {
    std::vector<uint32_t> listed(members);
    std::sort(listed.begin(), listed.end());
    for (uint32_t a : model_->accountsByRid)
      if (Model::Record(model_->objects[a]).PrimaryGroup() == DOMAIN_GROUP_RID_USERS &&
          !std::binary_search(listed.begin(), listed.end(), a))
        members.push_back(a);
  }
  std::vector<std::wstring> names;
  names.reserve(members.size());
  for (uint32_t m : members) names.emplace_back(Model::First(model_->objects[m], kAttrSamAccountName));
  return MakeGroupUsersPage(names, level, buffer, preferredMaximumLength, entriesRead, totalEntries, resumeHandle);
}

DWORD DomainStore::DsGetDcNameA(LPCSTR computer, LPCSTR domain, GUID* /*domainGuid*/, LPCSTR /*site*/, ULONG flags,
                                PDOMAIN_CONTROLLER_INFOA* info) {
  if (!info) return ERROR_INVALID_PARAMETER;
  *info = nullptr;
  std::lock_guard<std::mutex> lock(mutex_);
  if (locatorFailure_) return locatorFailure_;
  if (computer && *computer && !IsLocalServer(Utf8ToWide(computer).c_str())) return ERROR_BAD_NETPATH;
  if (domain && *domain && !EqualNoCase(Utf8ToWide(domain), model_->netbios) &&
      !EqualNoCase(Utf8ToWide(domain), model_->dns))
    return ERROR_NO_SUCH_DOMAIN;
  return MakeDcInfo(model_->controller, model_->netbios, model_->dns, flags, info);
}

NET_API_STATUS DomainStore::NetGetDCName(LPCWSTR server, LPCWSTR domain, LPBYTE* buffer) {
  if (!buffer) return ERROR_INVALID_PARAMETER;
  *buffer = nullptr;
  std::lock_guard<std::mutex> lock(mutex_);
  if (locatorFailure_) return NERR_DCNotFound;
  if (!IsLocalServer(server)) return ERROR_BAD_NETPATH;
  if (domain && *domain && !EqualNoCase(domain, model_->netbios.c_str()) && !EqualNoCase(domain, model_->dns.c_str()))
    return NERR_DCNotFound;
  return MakeDcName(model_->controller, buffer);
}

}  // namespace qel
