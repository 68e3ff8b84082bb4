#include "wallpaper/original_state.h"

#include <gtest/gtest.h>

#include "file_util/text.h"
#include "support/test_paths.h"

namespace veltrane {
namespace {

namespace fs = std::filesystem;
using testing::ScratchDir;

const OriginalState kState{
    5,
    0x00332211,
    {{"\\\\?\\DISPLAY#DEL1234#1|a", "C:\\Users\\김철수\\사진\\휴가 | 2024.jpg", "C:\\b\\monitor-0.jpg", std::nullopt},
     {"mon-2", "", "C:\\b\\monitor-1.img", "C:\\c\\generation-1\\monitor-1.png"},
     {"mon\n3", "line\r\nbreak=x", "", std::nullopt}}};

TEST(OriginalState, RoundTripKeepsEveryByteOfEveryField) {
    const std::string text = format_original_state(kState);
    EXPECT_EQ(text.substr(0, 37), "version=1\nposition=5\ncolor=3351057\nmo");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 6);
    EXPECT_NE(text.find("monitor=6d6f6e2d32||433a5c625c6d6f6e69746f722d312e696d67|"), std::string::npos);
    EXPECT_EQ(parse_original_state(text), kState);

    ScratchDir dir("original-state");
    const fs::path file = dir / "original.state";
    ASSERT_TRUE(write_original_state(file, kState).ok());
    EXPECT_EQ(testing::read_raw(file), text);
    EXPECT_EQ(read_original_state(file), kState);
}

TEST(OriginalState, ReadingRules) {
    // Carriage returns, other lines, three fields, an empty fourth and upper-case digits.
    const auto state = parse_original_state(
        "version=7\r\nposition=1\r\nposition=-3\r\nfoo=bar\r\nno equals\r\ncolor=4294967295\r\n"
        "monitor=41|42|43\r\nmonitor=4A|4b|4c|\r\nmonitor=||");
    ASSERT_TRUE(state);
    EXPECT_EQ(state->position, -3);
    EXPECT_EQ(state->color, 4294967295u);
    EXPECT_EQ(state->monitors, (std::vector<OriginalEntry>{
                                   {"A", "B", "C", std::nullopt}, {"J", "K", "L", std::nullopt}, {"", "", "", std::nullopt}}));
    EXPECT_EQ(parse_original_state("position=0\ncolor=0")->monitors.size(), 0u);
}

TEST(OriginalState, InvalidRecords) {
    const std::string head = "version=1\nposition=3\ncolor=0\n";
    for (const std::string& bad : {head + "monitor=41|42|43|44|45\n", head + "monitor=41|42\n", head + "monitor=\n",
                                  head + "monitor=414|42|43\n", head + "monitor=41|4g|43\n",
                                  head + "monitor=41|42|43|4\n", std::string("version=1\nposition=3\n"),
                                  std::string("version=1\ncolor=0\n"), head + "position=three\n",
                                  head + "position=2147483648\n", head + "position=+3\n", head + "color=-1\n",
                                  head + "color=4294967296\n", head + "color=\n", head + "color= 5\n"}) {
        EXPECT_FALSE(parse_original_state(bad)) << bad;
    }
}

TEST(OriginalState, UnreadableFilesReadAsNothing) {
    ScratchDir dir("original-state-read");
    EXPECT_FALSE(read_original_state(dir / "missing"));
    const std::string valid = "position=0\ncolor=0\n";
    const std::string filler = "x=" + std::string(kOriginalStateLimit - valid.size() - 3, 'a') + "\n";
    testing::write_raw(dir / "full", valid + filler);
    EXPECT_TRUE(read_original_state(dir / "full"));
    testing::write_raw(dir / "over", valid + filler + "\n");
    EXPECT_FALSE(read_original_state(dir / "over"));
    testing::write_raw(dir / "latin1", valid + "x=\xE9\n");
    EXPECT_FALSE(read_original_state(dir / "latin1"));
}

TEST(OriginalState, BackupNamesTakeTheFileNamesExtension) {
    EXPECT_EQ(backup_copy_name(0, "C:\\Users\\a\\holiday.final.jpg"), "monitor-0.jpg");
    EXPECT_EQ(backup_copy_name(3, "D:/pics/photo.PNG"), "monitor-3.PNG");
    EXPECT_EQ(backup_copy_name(0, "C:\\Users\\a\\.hidden"), "monitor-0.img");
    EXPECT_EQ(backup_copy_name(0, "C:\\Users\\a.b\\README"), "monitor-0.img");
    EXPECT_EQ(backup_copy_name(0, "C:\\a.b/README"), "monitor-0.img");
    EXPECT_EQ(backup_copy_name(1, ""), "monitor-1.img");
    EXPECT_EQ(backup_copy_name(1, "C:\\x\\.."), "monitor-1.img");
    EXPECT_EQ(backup_copy_name(1, "C:\\x\\name."), "monitor-1.img");
    EXPECT_EQ(backup_copy_name(1, "C:\\x\\a.jpg:stream"), "monitor-1.img");
    EXPECT_EQ(backup_copy_name(12, "..png"), "monitor-12.png");
}

TEST(OriginalState, CompositePathsAndWhatLiesInsideAFolder) {
    const CompositePaths paths = composite_paths(fs::path("install"));
    EXPECT_EQ(paths.folder, fs::path("install") / "WallpaperComposite");
    EXPECT_EQ(paths.state, paths.folder / "original.state");
    EXPECT_EQ(paths.backup, paths.folder / "Backup");
    EXPECT_EQ(paths.content, paths.folder / "Content");

    const fs::path content = utf8_to_path("C:\\Users\\김\\Veltrane_Desktop\\WallpaperComposite\\Content");
    EXPECT_TRUE(path_is_inside("C:\\Users\\김\\Veltrane_Desktop\\WallpaperComposite\\Content\\g-1\\m.png", content));
    EXPECT_TRUE(path_is_inside("c:/users/김/VELTRANE_desktop/./wallpapercomposite//content/m.png", content));
    EXPECT_TRUE(path_is_inside("C:\\Users\\김\\X\\..\\Veltrane_Desktop\\WallpaperComposite\\Content\\m", content));
    EXPECT_FALSE(path_is_inside("C:\\Users\\김\\Veltrane_Desktop\\WallpaperComposite\\Content", content));
    EXPECT_FALSE(path_is_inside("C:\\Users\\김\\Veltrane_Desktop\\WallpaperComposite\\Content\\", content));
    EXPECT_FALSE(path_is_inside("C:\\Users\\김\\Veltrane_Desktop\\WallpaperComposite\\Content2\\m.png", content));
    EXPECT_FALSE(path_is_inside("C:\\Users\\김\\Veltrane_Desktop\\WallpaperComposite\\Content\\..\\Backup\\m", content));
    EXPECT_FALSE(path_is_inside("Veltrane_Desktop\\WallpaperComposite\\Content\\m.png", content));
    EXPECT_TRUE(path_is_inside("/tmp/a/b", fs::path("/tmp/a/")));
    EXPECT_FALSE(path_is_inside("/../tmp/b", fs::path("/tmp/a")));
    EXPECT_FALSE(path_is_inside("", fs::path("")));
}

}  // namespace
}  // namespace veltrane
