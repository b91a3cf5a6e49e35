#include "platform/domain/domain_text.h"

#include <cstdint>
#include <cstring>

namespace qel {

namespace {

constexpr bool kWide16 = sizeof(wchar_t) == 2;

// Decodes one code point at s[*pos] (of n bytes); false on a malformed sequence.
bool DecodeUtf8(const unsigned char* s, size_t n, size_t* pos, uint32_t* codePoint) {
  size_t i = *pos;
  unsigned char lead = s[i];
  uint32_t cp;
  int extra;
  if (lead < 0x80) {
    cp = lead;
    extra = 0;
  } else if ((lead & 0xE0) == 0xC0) {
    cp = lead & 0x1F;
    extra = 1;
  } else if ((lead & 0xF0) == 0xE0) {
    cp = lead & 0x0F;
    extra = 2;
  } else if ((lead & 0xF8) == 0xF0) {
    cp = lead & 0x07;
    extra = 3;
  } else {
    return false;
  }
  for (int k = 1; k <= extra; ++k) {
    if (i + k >= n || (s[i + k] & 0xC0) != 0x80) return false;
    cp = (cp << 6) | (s[i + k] & 0x3F);
  }
  // Overlong forms, surrogates and values beyond Unicode are malformed.
  static const uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
  if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
  *pos = i + 1 + extra;
  *codePoint = cp;
  return true;
}

bool DecodeUtf8(const std::string& text, size_t* pos, uint32_t* codePoint) {
  return DecodeUtf8(reinterpret_cast<const unsigned char*>(text.data()), text.size(), pos, codePoint);
}

void AppendWide(std::wstring* out, uint32_t cp) {
  if (kWide16 && cp >= 0x10000) {
    cp -= 0x10000;
    out->push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
    out->push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
  } else {
    out->push_back(static_cast<wchar_t>(cp));
  }
}

bool IsAscii(const char* p, size_t n) {
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {  // eight bytes at a time: any high bit?
    uint64_t word;
    std::memcpy(&word, p + i, 8);
    if (word & 0x8080808080808080ull) return false;
  }
  for (; i < n; ++i)
    if (static_cast<unsigned char>(p[i]) >= 0x80) return false;
  return true;
}

bool IsAscii(const std::string& text) { return IsAscii(text.data(), text.size()); }

bool Utf8ToWideImpl(const std::string& utf8, std::wstring* out, bool replace) {
  if (IsAscii(utf8)) {  // the common case, one character per byte
    out->assign(utf8.begin(), utf8.end());
    return true;
  }
  std::wstring wide;
  wide.reserve(utf8.size());
  size_t pos = 0;
  while (pos < utf8.size()) {
    uint32_t cp;
    if (!DecodeUtf8(utf8, &pos, &cp)) {
      if (!replace) return false;
      cp = 0xFFFD;
      ++pos;
    }
    AppendWide(&wide, cp);
  }
  out->swap(wide);
  return true;
}

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

bool Utf8ToWide(const std::string& utf8, std::wstring* out) { return Utf8ToWideImpl(utf8, out, false); }

bool IsUtf8(std::string_view text) {
  if (IsAscii(text.data(), text.size())) return true;
  const unsigned char* s = reinterpret_cast<const unsigned char*>(text.data());
  for (size_t pos = 0; pos < text.size();) {
    uint32_t cp;
    if (!DecodeUtf8(s, text.size(), &pos, &cp)) return false;
  }
  return true;
}

size_t Utf8ToWideInto(const char* utf8, size_t size, wchar_t* out) {
  const unsigned char* s = reinterpret_cast<const unsigned char*>(utf8);
  if (IsAscii(utf8, size)) {  // the common case: one character per byte, in a loop the compiler widens
    for (size_t i = 0; i < size; ++i) out[i] = static_cast<wchar_t>(s[i]);
    return size;
  }
  size_t pos = 0, written = 0;
  while (pos < size) {
    if (s[pos] < 0x80) {  // runs of ASCII, the common case
      out[written++] = static_cast<wchar_t>(s[pos++]);
      continue;
    }
    uint32_t cp;
    if (!DecodeUtf8(s, size, &pos, &cp)) {
      cp = 0xFFFD;
      ++pos;
    }
    if (kWide16 && cp >= 0x10000) {  // four bytes give two units: still within `size`
      cp -= 0x10000;
      out[written++] = static_cast<wchar_t>(0xD800 + (cp >> 10));
      out[written++] = static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out[written++] = static_cast<wchar_t>(cp);
    }
  }
  return written;
}

std::wstring Utf8ToWide(const std::string& utf8) {
  std::wstring out;
  Utf8ToWideImpl(utf8, &out, true);
  return out;
}

std::string WideToUtf8(std::wstring_view wide) {
  std::string out;
  out.reserve(wide.size());
  for (size_t i = 0; i < wide.size(); ++i) {
    uint32_t cp = static_cast<uint32_t>(wide[i]);
    if (kWide16) cp &= 0xFFFF;
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < wide.size()) {
      uint32_t low = static_cast<uint32_t>(wide[i + 1]) & 0xFFFF;
      if (low >= 0xDC00 && low <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;  // a lone surrogate
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

std::string WideToUtf8(const wchar_t* wide) { return wide ? WideToUtf8(std::wstring_view(wide)) : std::string(); }

wchar_t FoldChar(wchar_t c) {
  uint32_t u = static_cast<uint32_t>(c);
  if (u >= 'A' && u <= 'Z') return static_cast<wchar_t>(u + 32);
  if (u < 0xC0) return c;
  if (u <= 0xDE) return u == 0xD7 ? c : static_cast<wchar_t>(u + 32);            // Latin-1
  if (u >= 0x100 && u <= 0x137) return static_cast<wchar_t>(u | 1);              // Latin Extended-A pairs
  if (u >= 0x139 && u <= 0x148) return (u & 1) ? static_cast<wchar_t>(u + 1) : c;
  if (u >= 0x14A && u <= 0x177) return static_cast<wchar_t>(u | 1);
  if (u == 0x178) return static_cast<wchar_t>(0xFF);
  if (u >= 0x179 && u <= 0x17E) return (u & 1) ? static_cast<wchar_t>(u + 1) : c;
  if (u >= 0x391 && u <= 0x3AB && u != 0x3A2) return static_cast<wchar_t>(u + 32);  // Greek
  if (u >= 0x410 && u <= 0x42F) return static_cast<wchar_t>(u + 32);               // Cyrillic
  if (u >= 0x400 && u <= 0x40F) return static_cast<wchar_t>(u + 80);
  if (u >= 0xFF21 && u <= 0xFF3A) return static_cast<wchar_t>(u + 32);             // full-width Latin
  return c;
}

std::wstring FoldCase(std::wstring_view text) {
  std::wstring out(text);
  for (wchar_t& c : out) c = FoldChar(c);
  return out;
}

bool EqualNoCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (FoldChar(a[i]) != FoldChar(b[i])) return false;
  return true;
}

bool EqualNoCase(const wchar_t* a, const wchar_t* b) {
  if (!a || !b) return a == b;
  for (; *a && *b; ++a, ++b)
    if (FoldChar(*a) != FoldChar(*b)) return false;
  return *a == *b;
}

std::string AsciiLower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return text;
}

bool AsciiEqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

std::string Base64Encode(const std::string& bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  const unsigned char* s = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    uint32_t v = (s[i] << 16) | (s[i + 1] << 8) | s[i + 2];
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (i < bytes.size()) {
    uint32_t v = s[i] << 16;
    if (i + 1 < bytes.size()) v |= s[i + 1] << 8;
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

bool Base64Decode(std::string_view text, std::string* bytes) {
  std::string clean;
  for (char c : text)
    if (c != ' ' && c != '\t') clean += c;
  if (clean.size() % 4 != 0) return false;
  std::string out;
  out.reserve(clean.size() / 4 * 3);
  for (size_t i = 0; i < clean.size(); i += 4) {
    int v[4];
    int pad = 0;
    for (int k = 0; k < 4; ++k) {
      char c = clean[i + k];
      if (c == '=') {
        // Padding only at the end, in the last two places.
        if (i + 4 != clean.size() || k < 2) return false;
        v[k] = 0;
        ++pad;
      } else {
        if (pad) return false;
        v[k] = Base64Value(c);
        if (v[k] < 0) return false;
      }
    }
    uint32_t n = (v[0] << 18) | (v[1] << 12) | (v[2] << 6) | v[3];
    out += static_cast<char>(n >> 16);
    if (pad < 2) out += static_cast<char>((n >> 8) & 0xFF);
    if (pad < 1) out += static_cast<char>(n & 0xFF);
  }
  bytes->swap(out);
  return true;
}

bool ParseUInt32(const std::string& text, unsigned long* value) {
  if (text.empty() || text.size() > 10) return false;
  unsigned long long v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<unsigned>(c - '0');
  }
  if (v > 0xFFFFFFFFull) return false;
  *value = static_cast<unsigned long>(v);
  return true;
}

}  // namespace qel
