// What the Wine update tests share: the content-server stand-in's folder, which is the site
// the publishing tool lays releases into, and the programs built beside the test.
#pragma once

#include <windows.h>

#include <filesystem>
#include <string>

namespace veltrane::testing {

inline std::filesystem::path server_root() {
    std::string p = "Z:" + std::string(VELTRANE_TEST_SERVER_ROOT);
    for (char& c : p) c = c == '/' ? '\\' : c;
    return p;
}

inline std::filesystem::path test_program(const char* name) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return std::filesystem::path(self).parent_path() / name;
}

}  // namespace veltrane::testing
