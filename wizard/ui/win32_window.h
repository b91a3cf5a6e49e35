// A small window layer of our own on plain Win32.
//
// PropertyPageWindow<T>: a property page whose static dialog procedure takes
// `this` from the page's PROPSHEETPAGE at WM_INITDIALOG, keeps it in the
// window and forwards every later message to T::HandleMessage.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <string>

namespace qel::win32 {

template <class T>
class PropertyPageWindow {
 public:
  HWND Hwnd() const { return m_hwnd; }

  // The page as the property sheet takes it, built from an in-memory template
  // (the template of the chosen language).
  PROPSHEETPAGEW MakePage(const DLGTEMPLATE* dialogTemplate) {
    PROPSHEETPAGEW page = {};
    page.dwSize = sizeof(page);
    page.dwFlags = PSP_DLGINDIRECT;
    page.hInstance = GetModuleHandleW(nullptr);
    page.pResource = dialogTemplate;
    page.pfnDlgProc = &PropertyPageWindow::DialogProc;
    page.lParam = reinterpret_cast<LPARAM>(static_cast<T*>(this));
    return page;
  }

 protected:
  HWND m_hwnd = nullptr;

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    T* self = nullptr;
    if (message == WM_INITDIALOG) {
      auto* page = reinterpret_cast<PROPSHEETPAGEW*>(lParam);
      self = reinterpret_cast<T*>(page->lParam);
      self->m_hwnd = hwnd;
      SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
    } else {
      self = reinterpret_cast<T*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    }
    if (self == nullptr) return FALSE;
    INT_PTR result = self->HandleMessage(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
      SetWindowLongPtrW(hwnd, DWLP_USER, 0);
      self->m_hwnd = nullptr;
    }
    return result;
  }
};

// ANSI text of the program (the system's code page) as UTF-16.
inline std::wstring WidenAnsi(const char* text) {
  if (text == nullptr || *text == '\0') return std::wstring();
  int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], length);
  wide.resize(static_cast<size_t>(length - 1));
  return wide;
}

// UTF-16 text as ANSI text of the program (the system's code page).
inline std::string NarrowAnsi(const wchar_t* text) {
  int length = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return std::string();
  std::string out(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, -1, &out[0], length, nullptr, nullptr);
  out.resize(static_cast<size_t>(length - 1));
  return out;
}

}  // namespace qel::win32
