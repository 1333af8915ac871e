// The resources compiled into Launcher.exe, read back the way Windows reads them.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "branding.h"

namespace {

// The build tree's path as a Windows program sees it (Wine maps the Linux root to Z:).
std::wstring LauncherPath() {
  std::string path = LAUNCHER_EXE_PATH;
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  std::wstring wide(path.begin(), path.end());
  for (wchar_t& c : wide)
    if (c == L'/') c = L'\\';
  return wide;
}

class LauncherResources : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryExW(LauncherPath().c_str(), nullptr,
                             LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module_, nullptr) << "cannot open " << LAUNCHER_EXE_PATH;
  }
  void TearDown() override {
    if (module_) FreeLibrary(module_);
  }

  // The bytes of one resource in one language.
  std::string Resource(LPCWSTR type, LPCWSTR name, WORD language) {
    HRSRC info = FindResourceExW(module_, type, name, language);
    if (info == nullptr) return {};
    HGLOBAL handle = LoadResource(module_, info);
    const char* data = static_cast<const char*>(LockResource(handle));
    return data ? std::string(data, SizeofResource(module_, info)) : std::string();
  }

  HMODULE module_ = nullptr;
};

const WORD kChinesePrc = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);

// Reads the little-endian fields of a DLGTEMPLATEEX one after the other.
class Reader {
 public:
  explicit Reader(const std::string& bytes) : bytes_(bytes) {}
  template <typename T>
  T Next() {
    T value{};
    if (pos_ + sizeof(T) <= bytes_.size()) std::memcpy(&value, bytes_.data() + pos_, sizeof(T));
    pos_ += sizeof(T);
    return value;
  }
  std::wstring NextString() {
    std::wstring s;
    while (wchar_t c = Next<wchar_t>()) s += c;
    return s;
  }

 private:
  const std::string& bytes_;
  size_t pos_ = 0;
};

}  // namespace

TEST_F(LauncherResources, DialogTemplate102) {
  std::string bytes = Resource(RT_DIALOG, MAKEINTRESOURCEW(102), kChinesePrc);
  ASSERT_FALSE(bytes.empty()) << "dialog 102 in Chinese (PRC)";
  Reader r(bytes);
  EXPECT_EQ(r.Next<WORD>(), 1);        // dlgVer
  EXPECT_EQ(r.Next<WORD>(), 0xFFFF);   // signature: an extended template
  r.Next<DWORD>();                     // helpID
  EXPECT_EQ(r.Next<DWORD>(), static_cast<DWORD>(WS_EX_APPWINDOW));
  EXPECT_EQ(r.Next<DWORD>(), 0x90C000C8u);  // WS_POPUP|WS_VISIBLE|WS_CAPTION|DS_MODALFRAME|DS_SETFONT|DS_FIXEDSYS
  EXPECT_EQ(r.Next<WORD>(), 0);        // no controls
  EXPECT_EQ(r.Next<short>(), 0);
  EXPECT_EQ(r.Next<short>(), 0);
  EXPECT_EQ(r.Next<short>(), 378);
  EXPECT_EQ(r.Next<short>(), 39);
  EXPECT_EQ(r.Next<WORD>(), 0);        // no menu
  EXPECT_EQ(r.Next<WORD>(), 0);        // the standard dialog class
  EXPECT_EQ(r.NextString(), L"正在检测更新");
  EXPECT_EQ(r.Next<WORD>(), 9);        // point size
  EXPECT_EQ(r.Next<WORD>(), 0);        // weight
  EXPECT_EQ(r.Next<BYTE>(), 0);        // not italic
  EXPECT_EQ(r.Next<BYTE>(), 1);        // character set
  EXPECT_EQ(r.NextString(), L"MS Shell Dlg");
}

TEST_F(LauncherResources, IconGroup128HasSeveralSizes) {
  std::string bytes = Resource(RT_GROUP_ICON, MAKEINTRESOURCEW(128), kChinesePrc);
  ASSERT_GE(bytes.size(), 6u);
  Reader r(bytes);
  EXPECT_EQ(r.Next<WORD>(), 0);
  EXPECT_EQ(r.Next<WORD>(), 1);  // icons
  WORD count = r.Next<WORD>();
  std::vector<int> sizes;
  for (WORD i = 0; i < count; ++i) {
    BYTE width = r.Next<BYTE>();
    r.Next<BYTE>();  // height
    r.Next<BYTE>();  // colours
    r.Next<BYTE>();
    r.Next<WORD>();  // planes
    EXPECT_EQ(r.Next<WORD>(), 32);  // bits per pixel
    DWORD length = r.Next<DWORD>();
    WORD id = r.Next<WORD>();
    EXPECT_EQ(Resource(RT_ICON, MAKEINTRESOURCEW(id), kChinesePrc).size(), length);
    sizes.push_back(width == 0 ? 256 : width);
  }
  for (int wanted : {16, 32, 48})
    EXPECT_NE(std::find(sizes.begin(), sizes.end(), wanted), sizes.end()) << wanted;

  // Windows picks the sizes it wants from the group.
  for (int size : {16, 32, 48}) {
    HICON icon = static_cast<HICON>(LoadImageW(module_, MAKEINTRESOURCEW(128), IMAGE_ICON, size, size, 0));
    EXPECT_NE(icon, nullptr) << size;
    if (icon) DestroyIcon(icon);
  }
}

TEST_F(LauncherResources, VersionInformation) {
  std::wstring path = LauncherPath();
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<char> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  const DWORD ms = MAKELONG(branding::kVersion[1], branding::kVersion[0]);
  const DWORD ls = MAKELONG(branding::kVersion[3], branding::kVersion[2]);
  EXPECT_EQ(fixed->dwFileVersionMS, ms);
  EXPECT_EQ(fixed->dwFileVersionLS, ls);
  EXPECT_EQ(fixed->dwProductVersionMS, ms);
  EXPECT_EQ(fixed->dwProductVersionLS, ls);

  auto text = [&](const wchar_t* name) {
    wchar_t* value = nullptr;
    UINT chars = 0;
    std::wstring key = std::wstring(L"\\StringFileInfo\\080404b0\\") + name;
    if (!VerQueryValueW(block.data(), key.c_str(), reinterpret_cast<void**>(&value), &chars) || !value)
      return std::wstring(L"(missing)");
    return std::wstring(value);
  };
  EXPECT_EQ(text(L"FileDescription"), L"Launcher");
  EXPECT_EQ(text(L"OriginalFilename"), L"Launcher.exe");
}

TEST_F(LauncherResources, Manifest) {
  std::string manifest;
  for (WORD language : {kChinesePrc, static_cast<WORD>(MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL))}) {
    manifest = Resource(RT_MANIFEST, MAKEINTRESOURCEW(1), language);
    if (!manifest.empty()) break;
  }
  ASSERT_FALSE(manifest.empty());
  for (const char* needle :
       {"name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"", "level=\"asInvoker\"",
        "<dpiAware>true</dpiAware>"})
    EXPECT_NE(manifest.find(needle), std::string::npos) << needle;
}
