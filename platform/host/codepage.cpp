// The ANSI code page on the host: 1252 (Western) and 936 (Simplified
// Chinese, double-byte), with the conversions of WideCharToMultiByte and
// MultiByteToWideChar, plus UTF-8.
//
// Both code pages are tables. 1252 is small enough to write down; 936 is read
// once from glibc's iconv ("CP936": the single byte 0x80 is the euro sign,
// lead bytes 0x81..0xFE, trail bytes 0x40..0xFE except 0x7F). Wide characters
// are taken as UTF-16 code units; on Linux wchar_t is 32 bits, and a value
// beyond 0xFFFF has no mapping in either code page.
#include <iconv.h>

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/host/host_ports.h"
#include "platform/host/path_map.h"

namespace qel {
namespace {

constexpr UINT kWestern = 1252;
constexpr UINT kChinese = 936;

// 0x80..0x9F of 1252; 0 where Windows maps the byte to the C1 control of the
// same value (0x81, 0x8D, 0x8F, 0x90, 0x9D).
const uint16_t k1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

wchar_t Decode1252(BYTE b) {
  if (b >= 0x80 && b <= 0x9F && k1252High[b - 0x80] != 0) return static_cast<wchar_t>(k1252High[b - 0x80]);
  return static_cast<wchar_t>(b);
}

// Returns -1 when the character has no byte in 1252.
int Encode1252(wchar_t c) {
  uint32_t u = static_cast<uint32_t>(c);
  if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) return static_cast<int>(u);
  for (int i = 0; i < 32; ++i) {
    uint16_t mapped = k1252High[i];
    if ((mapped != 0 && mapped == u) || (mapped == 0 && u == static_cast<uint32_t>(0x80 + i))) return 0x80 + i;
  }
  return -1;
}

bool IsLead936(BYTE b) { return b >= 0x81 && b <= 0xFE; }

// The double-byte half of 936, both ways.
struct Table936 {
  std::vector<uint16_t> toWide;  // index lead << 8 | trail; 0 = no character
  std::vector<uint16_t> toMulti;  // index UTF-16 unit; 0 = no mapping
  bool loaded = false;
};

const Table936& Chinese() {
  static Table936 table;
  static std::once_flag once;
  std::call_once(once, [] {
    table.toWide.assign(65536, 0);
    table.toMulti.assign(65536, 0);
    iconv_t cd = iconv_open("UCS-2LE", "CP936");
    if (cd == reinterpret_cast<iconv_t>(-1)) return;
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
      for (int trail = 0x40; trail <= 0xFE; ++trail) {
        if (trail == 0x7F) continue;
        char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
        unsigned char out[4] = {0, 0, 0, 0};
        char* inp = in;
        char* outp = reinterpret_cast<char*>(out);
        size_t inLeft = 2, outLeft = sizeof(out);
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        if (iconv(cd, &inp, &inLeft, &outp, &outLeft) == static_cast<size_t>(-1) || outLeft != 2) continue;
        uint16_t unit = static_cast<uint16_t>(out[0] | (out[1] << 8));
        int code = lead << 8 | trail;
        table.toWide[code] = unit;
        if (table.toMulti[unit] == 0) table.toMulti[unit] = static_cast<uint16_t>(code);
      }
    }
    iconv_close(cd);
    table.loaded = true;
  });
  return table;
}

size_t WideLength(const wchar_t* s) {
  size_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}

void AppendUtf8(std::string& out, uint32_t u) {
  if (u < 0x80) {
    out += static_cast<char>(u);
  } else if (u < 0x800) {
    out += static_cast<char>(0xC0 | (u >> 6));
    out += static_cast<char>(0x80 | (u & 0x3F));
  } else if (u < 0x10000) {
    out += static_cast<char>(0xE0 | (u >> 12));
    out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (u & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (u >> 18));
    out += static_cast<char>(0x80 | ((u >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (u & 0x3F));
  }
}

// Decodes one UTF-8 character at s[i]; returns false for a malformed one
// (then `used` bytes are skipped and U+FFFD stands for them, as Windows does).
bool DecodeUtf8(const BYTE* s, size_t n, size_t i, uint32_t* u, size_t* used) {
  BYTE b = s[i];
  int extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
  if (extra < 0) {
    *used = 1;
    return false;
  }
  uint32_t value = extra == 0 ? b : extra == 1 ? (b & 0x1F) : extra == 2 ? (b & 0x0F) : (b & 0x07);
  for (int k = 1; k <= extra; ++k) {
    if (i + k >= n || (s[i + k] & 0xC0) != 0x80) {
      *used = k;
      return false;
    }
    value = value << 6 | (s[i + k] & 0x3F);
  }
  *used = extra + 1;
  static const uint32_t kMin[4] = {0, 0x80, 0x800, 0x10000};
  if (value < kMin[extra] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
  *u = value;
  return true;
}

class HostCodePage : public ICodePage {
 public:
  explicit HostCodePage(const HostConfig& config) : acp_(config.codePage == kChinese ? kChinese : kWestern) {}

  UINT GetACP() override { return acp_; }

  BOOL IsDBCSLeadByte(BYTE byte) override { return acp_ == kChinese && IsLead936(byte) ? TRUE : FALSE; }

  int WideCharToMultiByte(UINT codePage, DWORD flags, const wchar_t* wide, int wideLength, char* multiByte,
                          int multiByteSize, const char* defaultChar, BOOL* usedDefaultChar) override {
    UINT cp = Resolve(codePage);
    if (cp == 0) return Fail(ERROR_INVALID_PARAMETER);
    if (wide == nullptr || wideLength == 0 || wideLength < -1 || multiByteSize < 0 ||
        (multiByteSize > 0 && multiByte == nullptr))
      return Fail(ERROR_INVALID_PARAMETER);
    if (cp == CP_UTF8 && (defaultChar != nullptr || usedDefaultChar != nullptr)) return Fail(ERROR_INVALID_PARAMETER);
    if (cp == CP_UTF8 && flags != 0) return Fail(ERROR_INVALID_FLAGS);
    size_t count = wideLength == -1 ? WideLength(wide) + 1 : static_cast<size_t>(wideLength);

    std::string substitute = "?";
    if (defaultChar != nullptr && defaultChar[0] != 0) {
      size_t len = cp == kChinese && IsLead936(static_cast<BYTE>(defaultChar[0])) && defaultChar[1] != 0 ? 2 : 1;
      substitute.assign(defaultChar, len);
    }

    std::string out;
    out.reserve(count * 2);
    bool usedDefault = false;
    for (size_t i = 0; i < count; ++i) {
      uint32_t u = static_cast<uint32_t>(wide[i]);
      if (cp == CP_UTF8) {
        AppendUtf8(out, u);
      } else if (cp == kWestern) {
        int b = Encode1252(wide[i]);
        if (b < 0) {
          out += substitute;
          usedDefault = true;
        } else {
          out += static_cast<char>(b);
        }
      } else if (u <= 0x7F) {
        out += static_cast<char>(u);
      } else if (u == 0x20AC) {
        out += static_cast<char>(0x80);
      } else {
        uint16_t code = u <= 0xFFFF ? Chinese().toMulti[u] : 0;
        if (code == 0) {
          out += substitute;
          usedDefault = true;
        } else {
          out += static_cast<char>(code >> 8);
          out += static_cast<char>(code & 0xFF);
        }
      }
    }
    if (usedDefaultChar != nullptr) *usedDefaultChar = usedDefault ? TRUE : FALSE;
    if (multiByteSize == 0) return static_cast<int>(out.size());
    if (out.size() > static_cast<size_t>(multiByteSize)) return Fail(ERROR_INSUFFICIENT_BUFFER);
    memcpy(multiByte, out.data(), out.size());
    return static_cast<int>(out.size());
  }

  int MultiByteToWideChar(UINT codePage, DWORD flags, const char* multiByte, int multiByteLength, wchar_t* wide,
                          int wideSize) override {
    UINT cp = Resolve(codePage);
    if (cp == 0) return Fail(ERROR_INVALID_PARAMETER);
    if (multiByte == nullptr || multiByteLength == 0 || multiByteLength < -1 || wideSize < 0 ||
        (wideSize > 0 && wide == nullptr))
      return Fail(ERROR_INVALID_PARAMETER);
    if ((flags & ~MB_ERR_INVALID_CHARS) != 0) return Fail(ERROR_INVALID_FLAGS);
    bool strict = (flags & MB_ERR_INVALID_CHARS) != 0;
    const BYTE* in = reinterpret_cast<const BYTE*>(multiByte);
    size_t count = multiByteLength == -1 ? strlen(multiByte) + 1 : static_cast<size_t>(multiByteLength);

    std::vector<wchar_t> out;
    out.reserve(count);
    for (size_t i = 0; i < count;) {
      BYTE b = in[i];
      if (cp == kWestern) {
        out.push_back(Decode1252(b));
        ++i;
      } else if (cp == CP_UTF8) {
        uint32_t u = 0;
        size_t used = 1;
        if (DecodeUtf8(in, count, i, &u, &used)) {
          out.push_back(static_cast<wchar_t>(u));
        } else {
          if (strict) return Fail(ERROR_NO_UNICODE_TRANSLATION);
          out.push_back(static_cast<wchar_t>(0xFFFD));
        }
        i += used;
      } else if (b <= 0x7F) {
        out.push_back(static_cast<wchar_t>(b));
        ++i;
      } else if (b == 0x80) {
        out.push_back(static_cast<wchar_t>(0x20AC));
        ++i;
      } else if (b == 0xFF) {
        if (strict) return Fail(ERROR_NO_UNICODE_TRANSLATION);
        out.push_back(static_cast<wchar_t>(0xF8F5));  // Windows' private-use stand-in for the unused byte
        ++i;
      } else if (i + 1 >= count || in[i + 1] == 0) {
        // A lead byte without its trail byte.
        if (strict) return Fail(ERROR_NO_UNICODE_TRANSLATION);
        out.push_back(L'?');
        ++i;
      } else {
        uint16_t unit = Chinese().toWide[b << 8 | in[i + 1]];
        if (unit == 0) {
          if (strict) return Fail(ERROR_NO_UNICODE_TRANSLATION);
          out.push_back(L'?');
        } else {
          out.push_back(static_cast<wchar_t>(unit));
        }
        i += 2;
      }
    }
    if (wideSize == 0) return static_cast<int>(out.size());
    if (out.size() > static_cast<size_t>(wideSize)) return Fail(ERROR_INSUFFICIENT_BUFFER);
    memcpy(wide, out.data(), out.size() * sizeof(wchar_t));
    return static_cast<int>(out.size());
  }

 private:
  // The code page a call means, or 0 for one this host does not offer.
  UINT Resolve(UINT codePage) const {
    if (codePage == CP_ACP) return acp_;
    if (codePage == kWestern || codePage == CP_UTF8) return codePage;
    if (codePage == kChinese) return Chinese().loaded ? kChinese : 0;
    return 0;
  }

  static int Fail(DWORD error) {
    QelSetLastError(error);
    return 0;
  }

  UINT acp_;
};

}  // namespace

std::unique_ptr<ICodePage> MakeHostCodePage(const HostConfig& config) {
  return std::make_unique<HostCodePage>(config);
}

namespace host {

bool AnsiToUtf8(const std::string& ansi, unsigned codePage, std::string* utf8) {
  std::string out;
  out.reserve(ansi.size() * 3 / 2);
  const BYTE* in = reinterpret_cast<const BYTE*>(ansi.data());
  for (size_t i = 0; i < ansi.size();) {
    BYTE b = in[i];
    if (codePage != kChinese) {
      AppendUtf8(out, static_cast<uint32_t>(Decode1252(b)));
      ++i;
    } else if (b <= 0x7F) {
      out += static_cast<char>(b);
      ++i;
    } else if (b == 0x80) {
      AppendUtf8(out, 0x20AC);
      ++i;
    } else {
      // 0xFF, a lead byte without its trail byte, or a pair that is no character.
      uint16_t unit = b != 0xFF && i + 1 < ansi.size() ? Chinese().toWide[b << 8 | in[i + 1]] : 0;
      if (unit == 0) return false;
      AppendUtf8(out, unit);
      i += 2;
    }
  }
  *utf8 = std::move(out);
  return true;
}

NameConversion Utf8ToAnsi(const std::string& utf8, unsigned codePage, std::string* ansi) {
  std::string out;
  out.reserve(utf8.size());
  NameConversion result = NameConversion::kExact;
  const BYTE* in = reinterpret_cast<const BYTE*>(utf8.data());
  for (size_t i = 0; i < utf8.size();) {
    uint32_t u = 0;
    size_t used = 1;
    if (!DecodeUtf8(in, utf8.size(), i, &u, &used)) return NameConversion::kNotUtf8;
    i += used;
    int single = -1;
    uint16_t code = 0;
    if (codePage != kChinese) {
      single = u <= 0xFFFF ? Encode1252(static_cast<wchar_t>(u)) : -1;
    } else if (u <= 0x7F) {
      single = static_cast<int>(u);
    } else if (u == 0x20AC) {
      single = 0x80;
    } else if (u <= 0xFFFF) {
      code = Chinese().toMulti[u];
    }
    if (single >= 0) {
      out += static_cast<char>(single);
    } else if (code != 0) {
      out += static_cast<char>(code >> 8);
      out += static_cast<char>(code & 0xFF);
    } else {
      out += '?';  // what the A functions of Windows show for it
      result = NameConversion::kSubstituted;
    }
  }
  *ansi = std::move(out);
  return result;
}

}  // namespace host

}  // namespace qel
