// The ANSI code page and its conversions: forwards to Win32.
#include "platform/win32/win32_ports.h"

namespace qel {
namespace {

class Win32CodePagePort : public ICodePage {
 public:
  UINT GetACP() override { return ::GetACP(); }
  BOOL IsDBCSLeadByte(BYTE byte) override { return ::IsDBCSLeadByte(byte); }
  int WideCharToMultiByte(UINT codePage, DWORD flags, const wchar_t* wide, int wideLength, char* multiByte,
                          int multiByteSize, const char* defaultChar, BOOL* usedDefaultChar) override {
    return ::WideCharToMultiByte(codePage, flags, wide, wideLength, multiByte, multiByteSize, defaultChar,
                                 usedDefaultChar);
  }
  int MultiByteToWideChar(UINT codePage, DWORD flags, const char* multiByte, int multiByteLength, wchar_t* wide,
                          int wideSize) override {
    return ::MultiByteToWideChar(codePage, flags, multiByte, multiByteLength, wide, wideSize);
  }
};

// At namespace scope and constant-initialised: a function-local static
// would need a thread-safe guard, which pulls much of the C++ runtime into
// the small checker program.
Win32CodePagePort g_port;

}  // namespace

ICodePage* Win32CodePage() { return &g_port; }

}  // namespace qel
