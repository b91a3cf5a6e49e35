#include <cstdio>
#include <string>

#include "platform/win32/win32_ports.h"
#include "tests/platform_files/contract_world.h"

namespace qel::test {
namespace {

// Removes a folder with everything in it, read-only files included.
void RemoveTree(const std::string& folder) {
  WIN32_FIND_DATAA data;
  HANDLE find = ::FindFirstFileA((folder + "\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::string name = data.cFileName;
      if (name == "." || name == "..") continue;
      std::string path = folder + "\\" + name;
      ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(path);
      } else {
        ::DeleteFileA(path.c_str());
      }
    } while (::FindNextFileA(find, &data));
    ::FindClose(find);
  }
  ::RemoveDirectoryA(folder.c_str());
}

class Win32World : public ContractWorld {
 public:
  Win32World() {
    static int serial = 0;
    char temp[MAX_PATH];
    DWORD length = ::GetTempPathA(MAX_PATH, temp);
    std::string base(temp, length);
    if (!base.empty() && base.back() == '\\') base.pop_back();
    char name[64];
    std::snprintf(name, sizeof name, "qelpf-%lu-%d", static_cast<unsigned long>(::GetCurrentProcessId()), ++serial);
    folder_ = base + "\\" + name;
    ::CreateDirectoryA(folder_.c_str(), nullptr);
    key_ = std::string("Software\\QelTest\\") + name;
  }
  ~Win32World() override {
    RemoveTree(folder_);
    // RegDeleteTreeA came with Vista: looked up, since the headers are the
    // ones of the oldest Windows the programs run on.
    using DeleteTreeFn = LONG(WINAPI*)(HKEY, LPCSTR);
    auto deleteTree = reinterpret_cast<DeleteTreeFn>(
        ::GetProcAddress(::GetModuleHandleA("advapi32.dll"), "RegDeleteTreeA"));
    if (deleteTree != nullptr) deleteTree(HKEY_CURRENT_USER, key_.c_str());
    ::RegDeleteKeyA(HKEY_CURRENT_USER, key_.c_str());
    ::RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\QelTest");  // only when no other run uses it
  }

  IFileSystem& files() override { return *Win32FileSystem(); }
  IRegistry& registry() override { return *Win32Registry(); }
  std::string folder() const override { return folder_; }
  std::string key() const override { return key_; }
  bool underWine() const override {
    HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
  }

 private:
  std::string folder_;
  std::string key_;
};

}  // namespace

std::unique_ptr<ContractWorld> ContractWorld::Make() { return std::make_unique<Win32World>(); }

}  // namespace qel::test
