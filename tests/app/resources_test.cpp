// The built program's own resources, read back from MarrowFinchKiller.exe beside the tests.
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace {

constexpr WORD kEnglishUs = 0x0409;
constexpr WORD kChinesePrc = 0x0804;

std::wstring NameOf(LPCWSTR name) {
  return IS_INTRESOURCE(name) ? L"#" + std::to_wstring(reinterpret_cast<ULONG_PTR>(name)) : std::wstring(name);
}

// The program loaded as data: its resources, none of its code.
class ProgramResourcesTest : public testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryExW(test::ProgramPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, module_) << "error " << GetLastError();
  }
  void TearDown() override {
    if (module_) FreeLibrary(module_);
  }

  std::vector<std::wstring> Names(LPCWSTR type) const {
    std::vector<std::wstring> names;
    EnumResourceNamesW(
        module_, type,
        [](HMODULE, LPCWSTR, LPWSTR name, LONG_PTR out) {
          reinterpret_cast<std::vector<std::wstring>*>(out)->push_back(NameOf(name));
          return TRUE;
        },
        reinterpret_cast<LONG_PTR>(&names));
    return names;
  }

  std::vector<WORD> Languages(LPCWSTR type, LPCWSTR name) const {
    std::vector<WORD> languages;
    EnumResourceLanguagesW(
        module_, type, name,
        [](HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR out) {
          reinterpret_cast<std::vector<WORD>*>(out)->push_back(language);
          return TRUE;
        },
        reinterpret_cast<LONG_PTR>(&languages));
    return languages;
  }

  // The resource's bytes exactly as stored, or empty when it isn't there.
  std::string Bytes(LPCWSTR type, LPCWSTR name, WORD language) const {
    HRSRC found = FindResourceExW(module_, type, name, language);
    if (!found) return {};
    HGLOBAL loaded = LoadResource(module_, found);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data) return {};
    return std::string(static_cast<const char*>(data), SizeofResource(module_, found));
  }

  HMODULE module_ = nullptr;
};

// A version-resource node's children with their keys, in order. Each node: length, value
// length, type (1 text, 0 binary), NUL-terminated key, padding to 4 bytes, value,
// padding to 4 bytes, children.
std::vector<std::pair<std::wstring, const BYTE*>> Children(const BYTE* node) {
  const auto word = [](const BYTE* p, int index) { return reinterpret_cast<const WORD*>(p)[index]; };
  const auto align = [](size_t offset) { return (offset + 3) & ~size_t{3}; };
  const auto keyOf = [](const BYTE* p) { return std::wstring(reinterpret_cast<const wchar_t*>(p + 6)); };

  const size_t length = word(node, 0);
  const size_t valueBytes = word(node, 2) == 1 ? word(node, 1) * sizeof(wchar_t) : word(node, 1);
  size_t offset = align(align(6 + (keyOf(node).size() + 1) * sizeof(wchar_t)) + valueBytes);
  std::vector<std::pair<std::wstring, const BYTE*>> children;
  while (offset + 6 < length) {
    const BYTE* child = node + offset;
    if (word(child, 0) == 0) break;
    children.emplace_back(keyOf(child), child);
    offset = align(offset + word(child, 0));
  }
  return children;
}

std::vector<std::wstring> ChildKeys(const BYTE* node) {
  std::vector<std::wstring> keys;
  for (const auto& child : Children(node)) keys.push_back(child.first);
  return keys;
}

const BYTE* ChildNode(const BYTE* node, const std::wstring& key) {
  for (const auto& child : Children(node))
    if (child.first == key) return child.second;
  return nullptr;
}

TEST_F(ProgramResourcesTest, VersionBlockIsOneChineseResourceWithItsFixedPart) {
  EXPECT_EQ(std::vector<std::wstring>{L"#1"}, Names(RT_VERSION));
  EXPECT_EQ(std::vector<WORD>{kChinesePrc}, Languages(RT_VERSION, MAKEINTRESOURCEW(1)));

  const std::string block = Bytes(RT_VERSION, MAKEINTRESOURCEW(1), kChinesePrc);
  ASSERT_FALSE(block.empty());
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT size = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &size));
  ASSERT_EQ(sizeof(VS_FIXEDFILEINFO), size);
  EXPECT_EQ(0xFEEF04BDu, fixed->dwSignature);
  EXPECT_EQ(MAKELONG(11, 2009), static_cast<LONG>(fixed->dwFileVersionMS));     // 2009.11
  EXPECT_EQ(MAKELONG(21, 18), static_cast<LONG>(fixed->dwFileVersionLS));       // .18.21
  EXPECT_EQ(MAKELONG(0, 1), static_cast<LONG>(fixed->dwProductVersionMS));      // 1.0
  EXPECT_EQ(MAKELONG(21, 3579), static_cast<LONG>(fixed->dwProductVersionLS));  // .3579.21
  EXPECT_EQ(0x3Fu, fixed->dwFileFlagsMask);
  EXPECT_EQ(0u, fixed->dwFileFlags);
  EXPECT_EQ(static_cast<DWORD>(VOS_NT_WINDOWS32), fixed->dwFileOS);
  EXPECT_EQ(static_cast<DWORD>(VFT_APP), fixed->dwFileType);
  EXPECT_EQ(0u, fixed->dwFileSubtype);
}

TEST_F(ProgramResourcesTest, VersionStringsAsTabledInOneNeutralUtf16Table) {
  const std::wstring path = test::ProgramPath();
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
  ASSERT_GT(size, 0u);
  std::vector<BYTE> info(size);
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), handle, size, info.data()));

  const std::vector<std::pair<std::wstring, std::wstring>> table = {
      {L"CompanyName", L"Morva安全"},         {L"FileDescription", L"Marrow Finch病毒专杀工具"},
      {L"FileVersion", L"2009.11.18.21"},     {L"InternalName", L"MarrowFinchKiller"},
      {L"LegalCopyright", L"Morva Security"}, {L"OriginalFilename", L"MarrowFinchKiller.exe"},
      {L"ProductName", L"Morva木马专杀"},     {L"ProductVersion", L"1.0.3579.21"},
  };
  for (const auto& [key, expected] : table) {
    wchar_t* value = nullptr;
    UINT chars = 0;
    const std::wstring query = L"\\StringFileInfo\\000004B0\\" + key;
    ASSERT_TRUE(VerQueryValueW(info.data(), query.c_str(), reinterpret_cast<void**>(&value), &chars))
        << test::Utf8(key);
    EXPECT_EQ(expected, std::wstring(value, wcsnlen(value, chars))) << test::Utf8(key);
  }

  // Nothing else: one string table, holding exactly these entries.
  const std::string raw = Bytes(RT_VERSION, MAKEINTRESOURCEW(1), kChinesePrc);
  const BYTE* root = reinterpret_cast<const BYTE*>(raw.data());
  EXPECT_EQ((std::vector<std::wstring>{L"StringFileInfo", L"VarFileInfo"}), ChildKeys(root));
  const BYTE* strings = ChildNode(root, L"StringFileInfo");
  ASSERT_NE(nullptr, strings);
  EXPECT_EQ(std::vector<std::wstring>{L"000004B0"}, ChildKeys(strings));
  const BYTE* neutral = ChildNode(strings, L"000004B0");
  ASSERT_NE(nullptr, neutral);
  std::vector<std::wstring> keys;
  for (const auto& entry : table) keys.push_back(entry.first);
  EXPECT_EQ(keys, ChildKeys(neutral));

  // The translation table: one entry, neutral language, code page 1200.
  WORD* translation = nullptr;
  UINT bytes = 0;
  ASSERT_TRUE(
      VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &bytes));
  ASSERT_EQ(4u, bytes);
  EXPECT_EQ(0x0000, translation[0]);
  EXPECT_EQ(1200, translation[1]);
}

// The value of attribute name="..." in the first <element .../> after the marker text.
std::string Attribute(const std::string& xml, const std::string& marker, const std::string& element,
                      const std::string& name) {
  size_t start = xml.find(marker);
  if (start == std::string::npos) return "<no " + marker + ">";
  start = xml.find("<" + element, start);
  if (start == std::string::npos) return "<no " + element + ">";
  const std::string tag = xml.substr(start, xml.find('>', start) - start);
  const size_t at = tag.find(" " + name + "=\"");
  if (at == std::string::npos) return "<no " + name + ">";
  const size_t value = at + name.size() + 3;
  return tag.substr(value, tag.find('"', value) - value);
}

// The text of the first <element ...>text</element>.
std::string ElementText(const std::string& xml, const std::string& element) {
  size_t start = xml.find("<" + element);
  if (start == std::string::npos) return "<no " + element + ">";
  start = xml.find('>', start) + 1;
  return xml.substr(start, xml.find("</" + element, start) - start);
}

TEST_F(ProgramResourcesTest, ManifestAsksForAdministratorCommonControls6AndPerMonitorDpi) {
  EXPECT_EQ(std::vector<std::wstring>{L"#1"}, Names(MAKEINTRESOURCEW(24)));
  EXPECT_EQ(std::vector<WORD>{kEnglishUs}, Languages(MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1)));

  const std::string xml = Bytes(MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1), kEnglishUs);
  ASSERT_FALSE(xml.empty());
  const auto dependency = [&](const std::string& name) {
    return Attribute(xml, "<dependentAssembly>", "assemblyIdentity", name);
  };
  EXPECT_EQ("win32", dependency("type"));
  EXPECT_EQ("Microsoft.Windows.Common-Controls", dependency("name"));
  EXPECT_EQ("6.0.0.0", dependency("version"));
  const std::string architecture = dependency("processorArchitecture");
  EXPECT_TRUE(architecture == "amd64" || architecture == "*") << architecture;
  EXPECT_EQ("6595b64144ccf1df", dependency("publicKeyToken"));
  EXPECT_EQ("*", dependency("language"));

  // Drawn at each monitor's DPI, never stretched by Windows: per-monitor aware (version
  // 2), else system aware.
  EXPECT_EQ("true", ElementText(xml, "dpiAware"));
  EXPECT_EQ("PerMonitorV2, System", ElementText(xml, "dpiAwareness"));

  EXPECT_EQ("requireAdministrator", Attribute(xml, "<requestedPrivileges>", "requestedExecutionLevel", "level"));
  EXPECT_EQ("false", Attribute(xml, "<requestedPrivileges>", "requestedExecutionLevel", "uiAccess"));
}

// The system accepts the manifest and, under it, takes comctl32.dll from the version 6
// Common-Controls assembly of this architecture.
TEST_F(ProgramResourcesTest, ManifestBindsComctl32ToTheVersion6Assembly) {
  const std::wstring path = test::ProgramPath();
  ACTCTXW context = {};
  context.cbSize = sizeof context;
  context.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
  context.lpSource = path.c_str();
  context.lpResourceName = MAKEINTRESOURCEW(1);
  HANDLE activation = CreateActCtxW(&context);
  ASSERT_NE(INVALID_HANDLE_VALUE, activation) << "the system rejects the manifest: error " << GetLastError();

  ULONG_PTR cookie = 0;
  ASSERT_TRUE(ActivateActCtx(activation, &cookie));
  ACTCTX_SECTION_KEYED_DATA redirection = {};
  redirection.cbSize = sizeof redirection;
  const BOOL redirected =
      FindActCtxSectionStringW(0, nullptr, ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION, L"comctl32.dll", &redirection);
  DeactivateActCtx(0, cookie);

  std::wstring identity;
  if (redirected) {
    DWORD index = redirection.ulAssemblyRosterIndex;
    SIZE_T needed = 0;
    QueryActCtxW(0, activation, &index, AssemblyDetailedInformationInActivationContext, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed);
    if (needed && QueryActCtxW(0, activation, &index, AssemblyDetailedInformationInActivationContext, buffer.data(),
                               buffer.size(), &needed)) {
      const auto* details = reinterpret_cast<const ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION*>(buffer.data());
      if (details->lpAssemblyEncodedAssemblyIdentity) identity = details->lpAssemblyEncodedAssemblyIdentity;
    }
  }
  ReleaseActCtx(activation);

  ASSERT_TRUE(redirected) << "comctl32.dll is not redirected: error " << GetLastError();
  // Microsoft.Windows.Common-Controls,processorArchitecture="amd64",...,version="6.0.x.y"
  EXPECT_EQ(0u, identity.find(L"Microsoft.Windows.Common-Controls,")) << test::Utf8(identity);
  EXPECT_NE(std::wstring::npos, identity.find(L"processorArchitecture=\"amd64\"")) << test::Utf8(identity);
  EXPECT_NE(std::wstring::npos, identity.find(L"version=\"6.")) << test::Utf8(identity);
}

// The large and the small icon at 100, 125, 150 and 200 %: the dialog is given an image of
// each size it asks for, not one stretched from another.
TEST_F(ProgramResourcesTest, OneIconGroupWithATrueColourImageForEachDpisIconSizes) {
  EXPECT_EQ(std::vector<std::wstring>{L"#128"}, Names(RT_GROUP_ICON));
  EXPECT_EQ(std::vector<WORD>{kEnglishUs}, Languages(RT_GROUP_ICON, MAKEINTRESOURCEW(128)));
  EXPECT_EQ((std::vector<std::wstring>{L"#1", L"#2", L"#3", L"#4", L"#5", L"#6", L"#7"}), Names(RT_ICON));

#pragma pack(push, 2)
  struct GroupEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
  };
#pragma pack(pop)
  const std::string group = Bytes(RT_GROUP_ICON, MAKEINTRESOURCEW(128), kEnglishUs);
  ASSERT_GE(group.size(), 6u);
  const WORD count = reinterpret_cast<const WORD*>(group.data())[2];
  ASSERT_EQ(7, count);
  ASSERT_EQ(6u + 7 * sizeof(GroupEntry), group.size());
  const auto* entries = reinterpret_cast<const GroupEntry*>(group.data() + 6);
  const int sizes[] = {64, 48, 40, 32, 24, 20, 16};
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(sizes[i], entries[i].width);
    EXPECT_EQ(sizes[i], entries[i].height);
    EXPECT_EQ(32, entries[i].bitCount);
    EXPECT_EQ(i + 1, entries[i].id);
  }
}

}  // namespace
