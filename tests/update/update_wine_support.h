// What the Wine update tests share: the content-server stand-in's folder, which is the site
// the publishing tool lays releases into, releasing a build there with the test key, the
// programs built beside the test, and the check's real network.
#pragma once

#include <windows.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "release.h"
#include "download/download.h"
#include "test_signing_key.h"
#include "update/update_check.h"

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

// Publishes the build and font to the stand-in, signed with the tests' key; the tool's
// refusal text, or "" when published.
inline std::string publish_test_release(const std::filesystem::path& executable, const std::filesystem::path& font) {
    publish::SecretSeed seed{};
    std::memcpy(seed.data(), kTestSigningSeed, seed.size());
    publish::ReleaseOptions options;
    options.site = server_root();
    options.executable = executable;
    options.font = font;
    const auto published = publish::publish_release(options, seed);
    return published ? "" : published.error().message;
}

// The check's inputs with real downloads, on Windows 10 build 19045.
inline CheckInputs real_check_inputs(const BuildVersion& running) {
    CheckInputs in;
    in.fetch = [](const std::string& url, std::uint64_t limit) { return download_bytes(url, limit); };
    in.windows_build = [] { return std::optional<std::uint32_t>(19045); };
    in.running = running;
    return in;
}

}  // namespace veltrane::testing
