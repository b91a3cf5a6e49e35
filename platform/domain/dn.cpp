#include "platform/domain/dn.h"

#include "platform/domain/domain_text.h"

namespace qel {

namespace {

int HexValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

bool IsSpace(wchar_t c) { return c == L' '; }

// Unescapes an RDN value. Hex pairs ("\0A") are bytes of UTF-8; they are
// gathered and decoded together so that "\C3\A9" is one character.
bool UnescapeValue(const std::wstring& text, std::wstring* out) {
  std::wstring result;
  std::string bytes;
  auto flush = [&]() -> bool {
    if (bytes.empty()) return true;
    std::wstring decoded;
    if (!Utf8ToWide(bytes, &decoded)) return false;
    result += decoded;
    bytes.clear();
    return true;
  };
  for (size_t i = 0; i < text.size(); ++i) {
    wchar_t c = text[i];
    if (c != L'\\') {
      if (!flush()) return false;
      result += c;
      continue;
    }
    if (i + 1 >= text.size()) return false;
    int hi = HexValue(text[i + 1]);
    int lo = i + 2 < text.size() ? HexValue(text[i + 2]) : -1;
    if (hi >= 0 && lo >= 0) {
      bytes += static_cast<char>(hi * 16 + lo);
      i += 2;
    } else {
      if (!flush()) return false;
      result += text[i + 1];
      ++i;
    }
  }
  if (!flush()) return false;
  out->swap(result);
  return true;
}

std::wstring EscapeValue(const std::wstring& value) {
  std::wstring out;
  for (size_t i = 0; i < value.size(); ++i) {
    wchar_t c = value[i];
    bool special = c == L',' || c == L'+' || c == L'"' || c == L'\\' || c == L'<' || c == L'>' || c == L';' ||
                   c == L'=' || (i == 0 && (c == L'#' || c == L' ')) || (i + 1 == value.size() && c == L' ');
    if (c < 0x20) {
      static const wchar_t kHex[] = L"0123456789ABCDEF";
      out += L'\\';
      out += kHex[(c >> 4) & 15];
      out += kHex[c & 15];
      continue;
    }
    if (special) out += L'\\';
    out += c;
  }
  return out;
}

}  // namespace

bool SplitDn(const std::wstring& dn, std::vector<std::wstring>* rdns) {
  std::vector<std::wstring> parts;
  std::wstring current;
  for (size_t i = 0; i < dn.size(); ++i) {
    wchar_t c = dn[i];
    if (c == L'\\') {
      if (i + 1 >= dn.size()) return false;
      current += c;
      current += dn[++i];
    } else if (c == L',') {
      parts.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  parts.push_back(current);
  for (const std::wstring& rdn : parts) {
    std::wstring type, value;
    if (!SplitRdn(rdn, &type, &value)) return false;
  }
  rdns->swap(parts);
  return true;
}

bool SplitRdn(const std::wstring& rdn, std::wstring* type, std::wstring* value) {
  size_t eq = rdn.find(L'=');
  if (eq == std::wstring::npos) return false;
  size_t b = 0, e = eq;
  while (b < e && IsSpace(rdn[b])) ++b;
  while (e > b && IsSpace(rdn[e - 1])) --e;
  if (b == e) return false;
  for (size_t i = b; i < e; ++i) {
    wchar_t c = rdn[i];
    bool ok = (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') || c == L'-' ||
              c == L'.';
    if (!ok) return false;
  }
  // Blanks around the value are not part of it unless escaped.
  std::wstring raw = rdn.substr(eq + 1);
  size_t vb = 0;
  while (vb < raw.size() && IsSpace(raw[vb])) ++vb;
  size_t ve = raw.size();
  while (ve > vb && IsSpace(raw[ve - 1]) && !(ve >= 2 && raw[ve - 2] == L'\\')) --ve;
  std::wstring unescaped;
  if (!UnescapeValue(raw.substr(vb, ve - vb), &unescaped)) return false;
  if (unescaped.empty()) return false;
  *type = rdn.substr(b, e - b);
  *value = unescaped;
  return true;
}

std::wstring ParentDn(const std::wstring& dn) {
  std::vector<std::wstring> rdns;
  if (!SplitDn(dn, &rdns) || rdns.size() < 2) return std::wstring();
  std::wstring parent;
  for (size_t i = 1; i < rdns.size(); ++i) {
    if (i > 1) parent += L',';
    parent += rdns[i];
  }
  // Drop the blanks that followed the first separator.
  size_t b = 0;
  while (b < parent.size() && parent[b] == L' ') ++b;
  return parent.substr(b);
}

std::wstring NormalizeDn(const std::wstring& dn) {
  std::vector<std::wstring> rdns;
  if (!SplitDn(dn, &rdns)) return std::wstring();
  std::wstring key;
  for (size_t i = 0; i < rdns.size(); ++i) {
    std::wstring type, value;
    SplitRdn(rdns[i], &type, &value);
    if (i) key += L',';
    key += FoldCase(type);
    key += L'=';
    key += EscapeValue(FoldCase(value));
  }
  return key;
}

bool DnKeyAtOrBelow(std::wstring_view dnKey, std::wstring_view baseKey) {
  if (dnKey.size() < baseKey.size()) return false;
  if (dnKey.compare(dnKey.size() - baseKey.size(), baseKey.size(), baseKey) != 0) return false;
  if (dnKey.size() == baseKey.size()) return true;
  // The base must start a whole RDN: the character before it is an unescaped comma.
  size_t at = dnKey.size() - baseKey.size();
  if (dnKey[at - 1] != L',') return false;
  size_t backslashes = 0;
  for (size_t i = at - 1; i > 0 && dnKey[i - 1] == L'\\'; --i) ++backslashes;
  return backslashes % 2 == 0;
}

size_t SimpleRdnKey(std::wstring_view rdn, wchar_t* out) {
  size_t eq = rdn.find(L'=');
  if (eq == 0 || eq == std::wstring_view::npos || eq + 1 == rdn.size()) return 0;
  for (size_t i = 0; i < eq; ++i) {
    wchar_t c = rdn[i];
    bool ok = (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') || c == L'-' ||
              c == L'.';
    if (!ok) return 0;
    out[i] = FoldChar(c);
  }
  out[eq] = L'=';
  // What SplitRdn would trim and EscapeValue would escape: left to them.
  wchar_t first = rdn[eq + 1];
  if (first == L' ' || first == L'#' || rdn.back() == L' ') return 0;
  for (size_t i = eq + 1; i < rdn.size(); ++i) {
    wchar_t c = rdn[i];
    if (c < 0x20 || c == L',' || c == L'+' || c == L'"' || c == L'\\' || c == L'<' || c == L'>' || c == L';' ||
        c == L'=')
      return 0;
    out[i] = FoldChar(c);
  }
  return rdn.size();
}

}  // namespace qel
