// Content sync across real processes against the content-server stand-in.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "download/download.h"
#include "spotlight/spotlight.h"
#include "spotlight/spotlight_win.h"
#include "support/child_process.h"
#include "server_fixture.h"
#include "image/png_writer.h"
#include "support/test_paths.h"
#include "sync/content_store.h"

using namespace veltrane;
using veltrane::testing::Child;
using veltrane::testing::ContentServer;
using veltrane::testing::read_raw;
using veltrane::testing::ScratchDir;
namespace fs = std::filesystem;

namespace {

std::string sample_png() {
    // Wide enough for the text table the sync checks against it.
    veltrane::testing::PngPicture picture;
    picture.width = 400;
    picture.height = 2;
    picture.color_type = 2;  // RGB
    return veltrane::testing::encode_png(picture);
}

void serve_content(const ContentServer& server) {
    server.put("duty.txt", "당직: 내과 김의사");
    server.put("current.json", R"({"updatedAt": "2026-12-07T10:20:00+09:00", "imageEtag": "chart-7", "textEtag": "table-7"})");
    server.put("images/chart-7.png", sample_png());
    server.put("texts/table-7.txt", "계열|약제|등급\n");
}

// A copy of the sync child in its own folder: that folder is its executable folder.
fs::path install_child(const ScratchDir& dir) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const fs::path child = fs::path(self).parent_path() / "sync_child.exe";
    fs::copy_file(child, dir / "sync_child.exe");
    return dir / "sync_child.exe";
}


std::vector<std::string> generations(const fs::path& folder) {
    std::vector<std::string> out;
    std::error_code ec;
    for (fs::directory_iterator it(folder / kContentFolder, ec), end; !ec && it != end; it.increment(ec)) {
        out.push_back(it->path().filename().string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::size_t count_requests(const ContentServer& server, const std::string& prefix) {
    std::size_t n = 0;
    for (const auto& r : server.requests()) n += r.rfind(prefix, 0) == 0;
    return n;
}

}  // namespace

TEST(SyncProcess, PublishesFromTheServer) {
    ContentServer server;
    serve_content(server);
    ScratchDir dir("sync-real");
    const auto exe = install_child(dir);
    ASSERT_EQ(Child(exe, L"run").wait(), 0u);
    const auto gens = generations(dir.path());
    ASSERT_EQ(gens.size(), 1u);
    EXPECT_EQ(read_raw(dir / kCurrentPointerFile), gens[0]);
    EXPECT_EQ(read_raw(dir.path() / kContentFolder / gens[0] / kContentImageFile), sample_png());
    EXPECT_EQ(read_raw(dir / kDutyFile), "당직: 내과 김의사");
    EXPECT_FALSE(read_raw(dir / kSyncStatusFile).empty());
}

TEST(SyncProcess, ARealPngWithOneExtraByteIsRefused) {
    ContentServer server;
    serve_content(server);
    server.set_faults(R"({"/api/veltrane/image": {"append": "x"}})");
    ScratchDir dir("sync-extra");
    EXPECT_EQ(Child(install_child(dir), L"run").wait(), 1u);
    EXPECT_TRUE(generations(dir.path()).empty());
    EXPECT_FALSE(fs::exists(dir / kCurrentPointerFile));
}

TEST(SyncProcess, TwoProcessesPublishOneAfterTheOther) {
    ContentServer server;
    serve_content(server);
    server.set_faults(R"({"/api/veltrane/image": {"delay": 1}})");
    ScratchDir dir("sync-two");
    const auto exe = install_child(dir);
    Child a(exe, L"run"), b(exe, L"run");
    EXPECT_EQ(a.wait(), 0u);
    EXPECT_EQ(b.wait(), 0u);
    const auto gens = generations(dir.path());
    ASSERT_EQ(gens.size(), 2u);
    EXPECT_TRUE(read_raw(dir / kCurrentPointerFile) == gens[0] || read_raw(dir / kCurrentPointerFile) == gens[1]);
}

TEST(SyncProcess, AKilledRunLeavesNothingTheNextRunCannotClean) {
    ContentServer server;
    serve_content(server);
    ScratchDir dir("sync-killed");
    const auto exe = install_child(dir);
    ASSERT_EQ(Child(exe, L"run").wait(), 0u);
    const std::string before = read_raw(dir / kCurrentPointerFile);

    server.set_faults(R"({"/api/veltrane/text": {"delay": 20}})");
    {
        Child killed(exe, L"run");
        Sleep(1500);
        TerminateProcess(killed.pi.hProcess, 1);
        killed.wait();
    }
    EXPECT_EQ(read_raw(dir / kCurrentPointerFile), before);
    // What a crash inside publishing would leave: a half-written staging folder.
    fs::create_directories(dir.path() / kContentFolder / ".staging-generation-1-1");
    server.set_faults("{}");
    ASSERT_EQ(Child(exe, L"run").wait(), 0u);
    for (const auto& g : generations(dir.path())) EXPECT_TRUE(is_generation_name(g)) << g;
    EXPECT_NE(read_raw(dir / kCurrentPointerFile), before);
}

TEST(SyncProcess, WithoutContentAndServerExactlyFiveSyncsStart) {
    ContentServer server;
    server.set_faults(R"({"/": {"status": 503}})");
    ScratchDir dir("sync-five");
    ASSERT_EQ(Child(install_child(dir), L"ticks 60").wait(), 0u);
    EXPECT_EQ(count_requests(server, "/api/veltrane/current"), 5u);
}

TEST(SyncProcess, ARecordedRetryRunsAndIsMarkedSucceeded) {
    ContentServer server;
    serve_content(server);
    ScratchDir dir("sync-retry");
    const auto exe = install_child(dir);
    ASSERT_EQ(Child(exe, L"run").wait(), 0u);
    veltrane::testing::write_raw(dir / "Veltrane_Desktop.sync-retry",
                                 "slot=2026120710\nsucceeded=0\nattempts=1\nlast_attempt=1000\n");
    ASSERT_EQ(Child(exe, L"ticks 1").wait(), 0u);
    EXPECT_EQ(count_requests(server, "/api/veltrane/current"), 2u);
    const std::string record = read_raw(dir / "Veltrane_Desktop.sync-retry");
    EXPECT_NE(record.find("slot=2026120710\n"), std::string::npos) << record;
    EXPECT_NE(record.find("succeeded=1\n"), std::string::npos) << record;
    EXPECT_NE(record.find("attempts=2\n"), std::string::npos) << record;

    // Succeeded: the next tick leaves the slot alone.
    ASSERT_EQ(Child(exe, L"ticks 1").wait(), 0u);
    EXPECT_EQ(count_requests(server, "/api/veltrane/current"), 2u);
}

TEST(SyncProcess, ATricklingServerEndsWithinTheDeadlineAndTheNextSyncPublishes) {
    // A status line and then one header byte every 20 s, which no per-read time-out ends: the
    // sync would hold the content lock for minutes without the overall deadline (30 s + the
    // limit at 64 KiB/s: 34 s). A trickling body meets the same deadline (DownloadTrickle).
    ContentServer server;
    serve_content(server);
    server.set_faults(R"({"/api/veltrane/current": {"header_trickle": 20}})");
    ScratchDir dir("sync-trickle");
    const auto exe = install_child(dir);
    const ULONGLONG start = GetTickCount64();
    Child slow(exe, L"run");
    for (int i = 0; i < 300 && count_requests(server, "/api/veltrane/current") == 0; ++i) Sleep(100);
    server.set_faults("{}");
    Child next(exe, L"run");
    EXPECT_EQ(slow.wait(), 1u);
    EXPECT_LT(GetTickCount64() - start, 50000u);
    EXPECT_EQ(next.wait(), 0u);
    EXPECT_EQ(generations(dir.path()).size(), 1u);
}

namespace {

// The per-user connection settings as Internet Options writes them, which WinHTTP reads for
// the user's proxy. Only the sync_proxy test runs this, in a Wine runtime of its own.
void set_user_proxy(const std::string& proxy, const std::string& bypass, const std::string& script = "") {
    std::string blob;
    const auto dword = [&blob](std::size_t v) {
        const auto u = static_cast<std::uint32_t>(v);
        blob.append(reinterpret_cast<const char*>(&u), 4);
    };
    dword(0x46);
    dword(1);
    dword((proxy.empty() ? 1 : 3) | (script.empty() ? 0 : 4));  // direct, a proxy server, a PAC script
    dword(proxy.size());
    blob += proxy;
    dword(bypass.size());
    blob += bypass;
    dword(script.size());
    blob += script;
    blob.append(32, '\0');
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections",
                              0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(key, L"DefaultConnectionSettings", 0, REG_BINARY,
                             reinterpret_cast<const BYTE*>(blob.data()), static_cast<DWORD>(blob.size())),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

std::string proxy_log(const std::string& name) {
    std::string path = "Z:" VELTRANE_TEST_PROXY_DIR "/" + name + ".log";
    std::replace(path.begin(), path.end(), '/', '\\');
    return read_raw(path);
}

std::size_t occurrences(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

}  // namespace

TEST(SyncProxy, SyncAndSpotlightGoThroughTheUsersProxyButNotForABypassedHost) {
    ContentServer server;
    serve_content(server);
    server.put("spotlight/selection.json", R"({"items": []})");
    ScratchDir dir("sync-proxy");
    const auto exe = install_child(dir);
    const std::string proxy = "127.0.0.1:" + std::to_string(VELTRANE_TEST_PROXY_PORT);
    const std::string content = "CONNECT localhost:" + std::to_string(VELTRANE_TEST_SERVER_PORT) + " ";
    const std::string spotlight = "CONNECT localhost:" + std::to_string(VELTRANE_TEST_SPOTLIGHT_PORT) + " ";

    set_user_proxy(proxy, "");
    EXPECT_EQ(Child(exe, L"run").wait(), 0u);
    EXPECT_TRUE(download_text(spotlight_selection_url(), kSelectionLimit).has_value());
    const std::string log = proxy_log("open");
    EXPECT_GE(occurrences(log, content), 1u) << log;  // Wine keeps one tunnel for the whole sync
    EXPECT_EQ(occurrences(log, spotlight), 1u) << log;
    const std::size_t through = occurrences(log, "CONNECT ");

    set_user_proxy(proxy, "*.hospital.local;LOCALHOST");
    EXPECT_EQ(Child(exe, L"run").wait(), 0u);
    EXPECT_EQ(occurrences(proxy_log("open"), "CONNECT "), through);

    // Each host of a redirect gets its own decision: the bypassed port of the content server
    // goes direct, the other port it redirects to through the proxy.
    const std::string other = "localhost:" + std::to_string(VELTRANE_TEST_SPOTLIGHT_PORT);
    server.set_faults(R"({"/api/veltrane/current": {"redirect_to": "https://)" + other + R"(/api/veltrane/current"}})");
    set_user_proxy(proxy, "localhost:" + std::to_string(VELTRANE_TEST_SERVER_PORT));
    EXPECT_EQ(Child(exe, L"run").wait(), 0u);
    EXPECT_EQ(occurrences(proxy_log("open"), content), occurrences(log, content));
    EXPECT_GT(occurrences(proxy_log("open"), spotlight), occurrences(log, spotlight));
    server.set_faults("{}");

    // A proxy that wants a password: the sync fails at once, and the status record says so
    // until a sync gets through.
    const std::string auth = "127.0.0.1:" + std::to_string(VELTRANE_TEST_PROXY_PORT + 1);
    set_user_proxy(auth, "");
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(Child(exe, L"run").wait(), 1u);
    EXPECT_LT(GetTickCount64() - start, 20000u);
    EXPECT_NE(proxy_log("auth").find(content), std::string::npos);
    const auto status = [&] { return read_raw(dir / "Veltrane_Desktop.sync-status"); };
    EXPECT_NE(status().find("\n프록시 서버가 인증을 요구합니다: " + auth), std::string::npos) << status();

    // A PAC script set beside it comes first: it says DIRECT, so the sync never meets the proxy.
    server.set_faults(R"({"/proxy.pac": {"body": "function FindProxyForURL(url, host) { return 'DIRECT'; }"}})");
    set_user_proxy(auth, "", server.origin() + "/proxy.pac");
    const std::size_t refused = occurrences(proxy_log("auth"), "CONNECT ");
    EXPECT_EQ(Child(exe, L"run").wait(), 0u);
    EXPECT_EQ(occurrences(proxy_log("auth"), "CONNECT "), refused);
    EXPECT_EQ(status().find('\n'), std::string::npos) << status();
    set_user_proxy("", "");
}
