// Black and Spotlight backgrounds under Wine with the real registry and
// SystemParametersInfoW, Spotlight pictures from the stand-in, and composition on them.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <functional>

#include "composition/composition_fixture.h"
#include "file_util/text.h"
#include "file_util/win.h"
#include "spotlight/spotlight.h"
#include "spotlight/spotlight_state.h"
#include "spotlight/spotlight_win.h"
#include "sync/server_fixture.h"
#include "build_info/build_constants.h"

namespace veltrane {
namespace {

namespace fs = std::filesystem;
using namespace testing;

bool wait_until(const std::function<bool()>& done, int ms = 20000) {
    for (int waited = 0; waited < ms; waited += 50) {
        if (done()) return true;
        Sleep(50);
    }
    return done();
}

bool close_to(Rgb a, Rgb b) { return std::abs(a.r - b.r) < 24 && std::abs(a.g - b.g) < 24 && std::abs(a.b - b.b) < 24; }

class Background : public ::testing::Test {
protected:
    ScratchDir dir{"background"};
    fs::path folder = dir / "Veltrane_Desktop";  // the executable folder of the operations
    fs::path user = dir / "user.png";
    fs::path backup = folder / kWallpaperBackupFile;
    fs::path status = folder / kSpotlightStatusFile;

    void SetUp() override {
        fs::create_directories(folder);
        write_png_file(user, 16, 9, kBlue);
        set_user_registry_text(kDesktopKey, L"WallpaperStyle", L"2");
        set_user_registry_text(kDesktopKey, L"TileWallpaper", L"1");
        set_user_registry_text(kColorsKey, L"Background", L"10 20 30");
        set_system_wallpaper(user);
        set_spotlight_enabled(true);
        set_spotlight_applies_now(true);
    }
    // The user's settings, untouched.
    void expect_user_settings() const {
        EXPECT_EQ(system_wallpaper(), path_to_utf8(user));
        EXPECT_EQ(user_registry_text(kDesktopKey, L"WallpaperStyle"), "2");
        EXPECT_EQ(user_registry_text(kDesktopKey, L"TileWallpaper"), "1");
        EXPECT_EQ(user_registry_text(kColorsKey, L"Background"), "10 20 30");
    }
    std::string jpeg(Rgb color) const {
        const fs::path file = dir / "picture.jpg";
        write_jpeg_file(file, 64, 36, color);
        return read_raw(file);
    }
    static std::string image_url(const std::string& name) {
        return std::string(build::kSpotlightOrigin) + "/spotlight/images/" + name;
    }
};

TEST_F(Background, BlackIsAppliedOnceAndTheBackupGivesTheUserSettingsBackOnce) {
    ASSERT_TRUE(apply_black_background(folder).ok());
    EXPECT_EQ(system_wallpaper(), "");
    EXPECT_EQ(user_registry_text(kColorsKey, L"Background"), "0 0 0");
    const std::string record = read_raw(backup);
    EXPECT_EQ(record, "path=" + path_to_utf8(user) + "\nstyle=2\ntile=1\ncolor=10 20 30\n");

    // Already black: nothing is written, not even a backup.
    fs::remove(backup);
    ASSERT_TRUE(apply_black_background(folder).ok());
    EXPECT_FALSE(fs::exists(backup));

    write_raw(backup, record);
    ASSERT_TRUE(restore_wallpaper_backup(folder).ok());
    expect_user_settings();
    EXPECT_FALSE(fs::exists(backup));

    // A wallpaper B set afterwards is the user's: keeping the user's background again (a save
    // that only changed autostart) leaves it, and black then back gives B.
    const fs::path b = dir / "b.png";
    write_png_file(b, 16, 9, kGreen);
    set_system_wallpaper(b);
    ASSERT_TRUE(restore_wallpaper_backup(folder).ok());
    EXPECT_EQ(system_wallpaper(), path_to_utf8(b));
    ASSERT_TRUE(apply_black_background(folder).ok());
    EXPECT_EQ(system_wallpaper(), "");
    ASSERT_TRUE(restore_wallpaper_backup(folder).ok());
    EXPECT_EQ(system_wallpaper(), path_to_utf8(b));

    // The program's own picture (a restore that failed left it) is never the user's.
    const fs::path own = folder / "WallpaperComposite" / "Content" / "g-1" / "monitor-0.png";
    fs::create_directories(own.parent_path());
    write_png_file(own, 16, 9, kGreen);
    set_system_wallpaper(own);
    EXPECT_EQ(apply_black_background(folder).error().message, kOwnPictureMessage);
    EXPECT_FALSE(fs::exists(backup));
    EXPECT_EQ(system_wallpaper(), path_to_utf8(own));
}

TEST_F(Background, ARestoreSetsOnlyWhatTheBackupHolds) {
    ASSERT_TRUE(restore_wallpaper_backup(folder).ok());  // no record: nothing to do
    expect_user_settings();

    write_raw(backup, "path=\nstyle=10\ntile=\ncolor=\n");
    ASSERT_TRUE(restore_wallpaper_backup(folder).ok());
    EXPECT_EQ(system_wallpaper(), "");
    EXPECT_EQ(user_registry_text(kDesktopKey, L"WallpaperStyle"), "10");
    EXPECT_EQ(user_registry_text(kDesktopKey, L"TileWallpaper"), "1");
    EXPECT_EQ(user_registry_text(kColorsKey, L"Background"), "10 20 30");

    write_raw(backup, "path=\xff\n");
    EXPECT_EQ(restore_wallpaper_backup(folder).error().message.rfind("바탕화면 백업 읽기 실패: ", 0), 0u);
}

TEST_F(Background, ASpotlightPictureIsDownloadedAppliedAndComposedOn) {
    ContentServer server;
    server.put("spotlight/images/old.jpg", jpeg(kRed));
    server.put("spotlight/images/new.jpg", jpeg(kYellow));
    server.put("spotlight/selection.json", R"({"items":[{"image":"old.jpg"},{"item":"not json"},)"
                                           R"({"image":"new.jpg","omit":"asset"},{"item":7},{"image":"new.jpg"}]})");
    // The picture shown last time goes to the end of the list.
    write_raw(status, "applied_at=1\nasset_url=" + image_url("old.jpg") + "\npath=x\n");

    // A window that refreshes on the change, as the service's does, answers throughout.
    WNDCLASSW wc{};
    wc.lpfnWndProc = [](HWND w, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
        if (m == WM_SETTINGCHANGE) (void)take_wallpaper_change_lock();
        return DefWindowProcW(w, m, wp, lp);
    };
    wc.lpszClassName = L"Veltrane_Desktop.Test.Refreshing";
    RegisterClassW(&wc);
    HWND window = CreateWindowW(wc.lpszClassName, L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    std::atomic<bool> done{false};
    std::atomic<int> unanswered{0};
    std::thread worker([&] { fetch_spotlight(folder); done = true; });
    std::thread pinger([&] {
        DWORD_PTR answer = 0;
        while (!done) {
            if (!SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &answer)) ++unanswered;
            Sleep(20);
        }
    });
    while (!done) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    worker.join();
    pinger.join();
    DestroyWindow(window);
    EXPECT_EQ(unanswered, 0);
    EXPECT_FALSE(spotlight_in_progress());
    const auto image = latest_spotlight_image(folder);
    ASSERT_TRUE(image);
    EXPECT_EQ(system_wallpaper(), path_to_utf8(*image));
    EXPECT_EQ(user_registry_text(kDesktopKey, L"WallpaperStyle"), "10");
    EXPECT_EQ(user_registry_text(kDesktopKey, L"TileWallpaper"), "0");
    EXPECT_EQ(status_asset_url(read_raw(status)), image_url("new.jpg"));
    EXPECT_EQ(read_raw(backup).rfind("path=" + path_to_utf8(user) + "\nstyle=2\n", 0), 0u);
    const auto requests = server.requests();
    EXPECT_EQ(std::count(requests.begin(), requests.end(), "/spotlight/images/old.jpg"), 0);
    EXPECT_EQ(requests.back(), "/spotlight/images/new.jpg");
    EXPECT_TRUE(apply_spotlight_background(folder).ok());  // already in place

    // Composition uses the picture as its base, or black.
    describe_two_monitors(path_to_utf8(user), 4, kBlueColorref);
    ASSERT_TRUE(compose(folder, sample_content(255), Settings{}, BackgroundMode::Spotlight, image).ok());
    const Rgb corner = Picture(utf8_to_path(standin_wallpaper(kLeftMonitor))).at(20, 20);
    EXPECT_TRUE(close_to(corner, kYellow)) << corner;
    ASSERT_TRUE(compose(folder, sample_content(255), Settings{}, BackgroundMode::Black).ok());
    EXPECT_EQ(Picture(utf8_to_path(standin_wallpaper(kLeftMonitor))).at(20, 20), kBlack);
}

TEST_F(Background, AFailedSpotlightDownloadChangesNothing) {
    ContentServer server;
    server.put("spotlight/images/new.jpg", jpeg(kYellow));
    server.put("spotlight/images/big.jpg", "\xFF\xD8\xFF" + std::string(kSpotlightImageLimit, 'a') + "\xFF\xD9");
    // A real JPEG whose frame header claims 8193 × 4096 pixels: refused before GDI+ sees it.
    std::string wide = jpeg(kYellow);
    const std::size_t frame = wide.find("\xFF\xC0");
    ASSERT_NE(frame, std::string::npos);
    wide.replace(frame + 5, 4, std::string("\x10\x00\x20\x01", 4));
    server.put("spotlight/images/wide.jpg", wide);
    const std::string one = R"({"items":[{"image":"new.jpg"}]})";
    struct Case {
        const char* name;
        std::string selection;
        std::string faults;
    };
    const Case cases[] = {
        {"no answer", one, R"({"/v4/api/selection": {"status": 503}})"},
        {"bad JSON", one, R"({"/v4/api/selection": {"body": "{\"batchrsp\":"}})"},
        {"not a JPEG", one, R"({"/spotlight/images/": {"body": "\u0089PNG not a picture"}})"},
        {"oversized", R"({"items":[{"image":"big.jpg"}]})", "{}"},
        {"above the pixel cap", R"({"items":[{"image":"wide.jpg"}]})", "{}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server.put("spotlight/selection.json", c.selection);
        server.set_faults(c.faults);
        fetch_spotlight(folder);
        EXPECT_EQ(latest_spotlight_image(folder), std::nullopt);
        EXPECT_FALSE(fs::exists(status));
        EXPECT_FALSE(fs::exists(backup));
        expect_user_settings();
    }
}

TEST_F(Background, AWorkerThatFinishesAfterASwitchToCompositionLeavesTheWallpaperAlone) {
    ContentServer server;
    server.put("spotlight/images/new.jpg", jpeg(kYellow));
    server.put("spotlight/selection.json", R"({"items":[{"image":"new.jpg"}]})");
    server.set_faults(R"({"/spotlight/images/": {"delay": 2}})");
    ASSERT_TRUE(spotlight_tick(true, folder));  // started in the overlay method
    ASSERT_TRUE(wait_until([&] {
        const auto r = server.requests();
        return std::find(r.begin(), r.end(), "/spotlight/images/new.jpg") != r.end();
    }));
    set_spotlight_applies_now(false);  // the user switched to composition meanwhile
    ASSERT_TRUE(wait_until([] { return !spotlight_in_progress(); }));
    EXPECT_TRUE(latest_spotlight_image(folder));  // kept for the next composition
    EXPECT_EQ(status_asset_url(read_raw(status)), image_url("new.jpg"));
    EXPECT_FALSE(fs::exists(backup));
    expect_user_settings();
}

TEST_F(Background, LeavingSpotlightWhileAWorkerDownloadsLeavesNoPicture) {
    ContentServer server;
    server.put("spotlight/images/new.jpg", jpeg(kYellow));
    server.put("spotlight/selection.json", R"({"items":[{"image":"new.jpg"}]})");
    server.set_faults(R"({"/spotlight/images/": {"delay": 2}})");
    fs::create_directories(folder / kSpotlightFolder);
    write_raw(folder / kSpotlightFolder / "spotlight-1.jpg", "old picture");
    // A file that is not a picture keeps the folder, so the worker can still store its download.
    write_raw(folder / kSpotlightFolder / "notes.txt", "");
    write_raw(status, "applied_at=1\n");
    set_age(status, 21600);

    ASSERT_TRUE(spotlight_tick(true, folder));
    ASSERT_TRUE(wait_until([&] {
        const auto r = server.requests();
        return std::find(r.begin(), r.end(), "/spotlight/images/new.jpg") != r.end();
    }));
    leave_spotlight_mode(folder);
    EXPECT_EQ(latest_spotlight_image(folder), std::nullopt);
    EXPECT_FALSE(fs::exists(status));
    ASSERT_TRUE(wait_until([] { return !spotlight_in_progress(); }));
    EXPECT_EQ(latest_spotlight_image(folder), std::nullopt);
    EXPECT_FALSE(fs::exists(folder / kSpotlightFolder / kSpotlightTempFile));
    EXPECT_FALSE(fs::exists(status));
    EXPECT_FALSE(fs::exists(backup));
    expect_user_settings();
}

}  // namespace
}  // namespace veltrane
