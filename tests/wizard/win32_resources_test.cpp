// The pictures of the resource script as the Windows controls take them.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>

namespace {

// The source tree as a Windows path (Wine shows the host's root as Z:).
std::wstring SourceFile(const char* relative) {
  std::string path = std::string(QEL_SOURCE_DIR) + "/" + relative;
  std::wstring out = L"Z:";
  for (char c : path) out += c == '/' ? L'\\' : static_cast<wchar_t>(c);
  return out;
}

TEST(Win32Resources, TheAnimationControlOpensTheSearchClip) {
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_ANIMATE_CLASS};
  ASSERT_TRUE(InitCommonControlsEx(&controls));
  HWND animation = CreateWindowExW(0, ANIMATE_CLASSW, L"", WS_POPUP | ACS_TRANSPARENT | ACS_CENTER, 0, 0, 40, 40,
                                   nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(animation, nullptr);
  std::wstring clip = SourceFile("res/search.avi");
  EXPECT_TRUE(SendMessageW(animation, ACM_OPENW, 0, reinterpret_cast<LPARAM>(clip.c_str())));
  EXPECT_TRUE(SendMessageW(animation, ACM_PLAY, static_cast<WPARAM>(-1), MAKELPARAM(0, 0xFFFF)));
  SendMessageW(animation, ACM_STOP, 0, 0);
  DestroyWindow(animation);
}

TEST(Win32Resources, TheTreeImagesAreSevenCellsWithAMagentaMask) {
  std::wstring file = SourceFile("res/tree.bmp");
  auto bitmap = static_cast<HBITMAP>(LoadImageW(nullptr, file.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE));
  ASSERT_NE(bitmap, nullptr);
  BITMAP info = {};
  GetObjectW(bitmap, sizeof(info), &info);
  EXPECT_EQ(info.bmWidth, 112);
  EXPECT_EQ(info.bmHeight, 16);
  HIMAGELIST list = ImageList_Create(16, 16, ILC_MASK | ILC_COLOR24, 6, 1);
  EXPECT_EQ(ImageList_AddMasked(list, bitmap, RGB(255, 0, 255)), 0);
  EXPECT_EQ(ImageList_GetImageCount(list), 7);
  ImageList_Destroy(list);
  DeleteObject(bitmap);
}

}  // namespace
