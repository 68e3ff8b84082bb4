#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);

std::wstring env(const wchar_t* name) {
    wchar_t buffer[32768];
    const DWORD n = GetEnvironmentVariableW(name, buffer, 32768);
    return n > 0 && n < 32768 ? std::wstring(buffer, n) : std::wstring();
}

}  // namespace

TEST(WineRuntime, ReportsWindows10Build19045) {
    auto rtl = reinterpret_cast<RtlGetVersionFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    ASSERT_NE(rtl, nullptr);
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_EQ(rtl(&info), 0);
    EXPECT_EQ(info.dwMajorVersion, 10u);
    EXPECT_EQ(info.dwMinorVersion, 0u);
    EXPECT_EQ(info.dwBuildNumber, 19045u);
}

TEST(WineRuntime, EveryTestHasItsOwnFolders) {
    const std::wstring local = env(L"LOCALAPPDATA");
    const std::wstring roaming = env(L"APPDATA");
    const std::wstring temp = env(L"TEMP");
    EXPECT_EQ(local, env(L"VELTRANE_TEST_LOCALAPPDATA"));
    EXPECT_EQ(roaming, env(L"VELTRANE_TEST_APPDATA"));
    EXPECT_EQ(temp, env(L"VELTRANE_TEST_TEMP"));
    EXPECT_NE(local.find(L"LocalAppData"), std::wstring::npos);
    EXPECT_NE(GetFileAttributesW(local.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(GetFileAttributesW(temp.c_str()), INVALID_FILE_ATTRIBUTES);
}
