#ifdef _WIN32
#include <windows.h>
#endif

#include <gtest/gtest.h>

#include "file_util/text.h"
#include "font_builder.h"
#include "image/content_font.h"
#include "support/test_paths.h"

namespace veltrane {
namespace {

using namespace std::string_literals;
using testing::make_font;
using testing::NameRecord;
using testing::utf16be;

const std::string kNoFamily = "TTF에서 글꼴 family name을 찾지 못했습니다.";

std::span<const std::uint8_t> bytes_of(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

std::string family_of(const std::string& font) {
    auto r = find_font_family(bytes_of(font));
    return r.ok() ? *r : "error: " + r.error().message;
}

std::filesystem::path system_font(const std::string& relative) {
    std::string path = std::string(VELTRANE_TEST_FONT_DIR) + "/" + relative;
#ifdef _WIN32
    for (char& c : path) c = c == '/' ? '\\' : c;
    path = "Z:" + path;
#endif
    return utf8_to_path(path);
}

TEST(FontFamily, PicksTheBestScoredUsableName) {
    const NameRecord mac{1, 0, 0, 1, "MacOnly"};
    EXPECT_EQ(family_of(make_font({mac})), "error: " + kNoFamily);

    const NameRecord family{3, 1, 0x0409, 1, utf16be(u"Plain")};
    const NameRecord typographic{3, 1, 0x0409, 16, utf16be(u"Typographic")};
    EXPECT_EQ(family_of(make_font({family, typographic})), "Typographic");
    EXPECT_EQ(family_of(make_font({typographic, family})), "Typographic");

    // platform 3 > language en-US > encoding 1/10; equal scores keep the earlier record
    const NameRecord unicode{0, 3, 0, 1, utf16be(u"Unicode")};
    const NameRecord korean{3, 1, 0x0412, 1, utf16be(u"한국어")};
    const NameRecord korean2{3, 1, 0x0412, 1, utf16be(u"Second")};
    EXPECT_EQ(family_of(make_font({unicode, korean, korean2})), "한국어");
    EXPECT_EQ(family_of(make_font({unicode, NameRecord{0, 4, 0x0409, 1, utf16be(u"Wide")}})), "Wide");
    EXPECT_EQ(family_of(make_font({korean, family, unicode})), "Plain");
    EXPECT_EQ(family_of(make_font({NameRecord{3, 1, 0x0409, 4, utf16be(u"Full name")}, unicode})), "Unicode");
}

TEST(FontFamily, UnusableNamesAreSkipped) {
    const NameRecord fallback{0, 3, 0, 1, utf16be(u"Fallback")};
    NameRecord odd{3, 1, 0x0409, 16, utf16be(u"Odd") + "x"};
    EXPECT_EQ(family_of(make_font({odd, fallback})), "Fallback");
    const NameRecord lone_surrogate{3, 1, 0x0409, 16, utf16be(u"A") + "\xD8\x00"};
    EXPECT_EQ(family_of(make_font({lone_surrogate, fallback})), "Fallback");
    const NameRecord blank{3, 1, 0x0409, 16, utf16be(u"\0 \u3000\0"s)};
    EXPECT_EQ(family_of(make_font({blank, fallback})), "Fallback");
    const NameRecord padded{3, 1, 0x0409, 16, utf16be(u"\0\0  Nanum Test \u3000\0"s)};
    EXPECT_EQ(family_of(make_font({padded, fallback})), "Nanum Test");
    const NameRecord mixed{3, 1, 0x0409, 16, utf16be(u" \0Mixed\0 "s)};
    EXPECT_EQ(family_of(make_font({mixed, fallback})), "Mixed");
    EXPECT_EQ(family_of(make_font({NameRecord{3, 1, 0x0409, 1, ""}})), "error: " + kNoFamily);
}

TEST(FontFamily, DamagedTablesEndTheSearch) {
    const NameRecord good{3, 1, 0x0409, 1, utf16be(u"Good")};
    EXPECT_EQ(family_of(make_font({good}, 1)), "error: " + kNoFamily) << "records past the table's end";
    NameRecord distant = good;
    distant.offset_override = 0xFFFF;
    EXPECT_EQ(family_of(make_font({good, distant})), "error: " + kNoFamily) << "a candidate's string past the file";
    NameRecord distant_other = distant;
    distant_other.name_id = 4;
    EXPECT_EQ(family_of(make_font({good, distant_other})), "Good") << "non-candidates are not looked at";

    const std::string font = make_font({good});
    for (std::size_t cut = 0; cut < font.size(); ++cut)
        EXPECT_EQ(family_of(font.substr(0, cut)), "error: " + kNoFamily) << "cut at " << cut;
    std::string many_tables = font;
    many_tables[4] = '\xFF';
    many_tables[5] = '\xFF';
    EXPECT_EQ(family_of(many_tables), "Good") << "table records past the file are skipped";
    std::string no_name = font;
    no_name.replace(28, 4, "nome");
    EXPECT_EQ(family_of(no_name), "error: " + kNoFamily);
    std::string long_table = font;
    long_table[12 + 16 + 12 + 3] = '\x7F';  // table length now runs past the file
    EXPECT_EQ(family_of(long_table), "error: " + kNoFamily);
}

TEST(FontFamily, DebianFontsGiveFontconfigsFamilyNames) {
    // Expected values are what `fc-query` reports as the English family.
    const std::pair<const char*, const char*> fonts[] = {{"nanum/NanumGothic.ttf", "NanumGothic"},
                                                         {"dejavu/DejaVuSans.ttf", "DejaVu Sans"}};
    int found = 0;
    for (const auto& [file, family] : fonts) {
        const auto path = system_font(file);
        if (!std::filesystem::exists(path)) continue;
        ++found;
        auto result = read_content_font_family(path);
        ASSERT_TRUE(result.ok()) << result.error().message;
        ASSERT_TRUE(result->has_value());
        EXPECT_EQ(**result, family);
    }
    EXPECT_GT(found, 0) << "tools/setup.sh installs fonts-nanum and fonts-dejavu-core";
}

TEST(FontFamily, FileSizeLimitAndAbsence) {
    testing::ScratchDir dir("font");
    const auto path = dir / "Veltrane_Desktop.ttf";
    auto absent = read_content_font_family(path);
    ASSERT_TRUE(absent.ok());
    EXPECT_FALSE(absent->has_value());

    std::string font = make_font({NameRecord{3, 1, 0x0409, 1, utf16be(u"Big")}});
    font.resize(kContentFontLimit, '\0');
    testing::write_raw(path, font);
    auto exact = read_content_font_family(path);
    ASSERT_TRUE(exact.ok()) << exact.error().message;
    EXPECT_EQ(exact->value_or(""), "Big");
    testing::write_raw(path, font + "x");
    auto over = read_content_font_family(path);
    ASSERT_FALSE(over.ok());
    EXPECT_EQ(over.error().message, "TTF 파일이 너무 큽니다.");
    testing::write_raw(path, "tiny");
    auto broken = read_content_font_family(path);
    ASSERT_FALSE(broken.ok());
    EXPECT_EQ(broken.error().message, kNoFamily);

    auto folder = read_content_font_family(dir.path());
    ASSERT_FALSE(folder.ok());
    EXPECT_TRUE(folder.error().message.starts_with("TTF 파일 정보를 읽지 못했습니다: ")) << folder.error().message;
    EXPECT_TRUE(folder.error().message.ends_with(" (os error " + std::to_string(folder.error().os_code) + ")"))
        << folder.error().message;
}

#ifdef _WIN32

std::string selected_face(const std::string& family) {
    const std::wstring wide = utf8_to_path(family).wstring();
    HDC dc = CreateCompatibleDC(nullptr);
    // Wine reuses an earlier selection for an identical request even after the fonts
    // changed; a new height each time makes every request a fresh one.
    static int height = 20;
    HFONT font = CreateFontW(-(++height), 0, 0, 0, 400, 0, 0, 0, 1, 0, 0, 5, 0, wide.c_str());
    HGDIOBJ old = SelectObject(dc, font);
    wchar_t face[LF_FACESIZE] = {};
    GetTextFaceW(dc, LF_FACESIZE, face);
    SelectObject(dc, old);
    DeleteObject(font);
    DeleteDC(dc);
    return path_to_utf8(std::filesystem::path(face));
}

TEST(ContentFontWindows, RegisteredFamilyIsSelectedOnlyWhileOwned) {
    const auto source = system_font("dejavu/DejaVuSans.ttf");
    ASSERT_TRUE(std::filesystem::exists(source)) << "tools/setup.sh installs fonts-dejavu-core";
    // A family name that no installed font has, so only the registration can provide it.
    std::string font = testing::read_raw(source);
    testing::rename_family(font, "DejaVu Sans", "Veltrane Tx");
    testing::ScratchDir dir("font-win");
    const auto path = dir / "Veltrane_Desktop.ttf";
    testing::write_raw(path, font);
    ASSERT_NE(selected_face("Veltrane Tx"), "Veltrane Tx");
    {
        auto registered = register_content_font(path);
        ASSERT_TRUE(registered.ok()) << registered.error().message;
        ASSERT_TRUE(registered->has_value());
        EXPECT_EQ((*registered)->family(), "Veltrane Tx");
        EXPECT_EQ(selected_face("Veltrane Tx"), "Veltrane Tx");
        ContentFont moved = std::move(**registered);
        registered->reset();
        EXPECT_EQ(selected_face("Veltrane Tx"), "Veltrane Tx") << "a moved-from owner removes nothing";
    }
    EXPECT_NE(selected_face("Veltrane Tx"), "Veltrane Tx");
}

TEST(ContentFontWindows, AbsentAndUnusableFiles) {
    testing::ScratchDir dir("font-win");
    auto absent = register_content_font(dir / "Veltrane_Desktop.ttf");
    ASSERT_TRUE(absent.ok());
    EXPECT_FALSE(absent->has_value());
    // A naming table alone is no font GDI can load.
    testing::write_raw(dir / "fake.ttf", make_font({NameRecord{3, 1, 0x0409, 1, utf16be(u"Fake")}}));
    auto fake = register_content_font(dir / "fake.ttf");
    ASSERT_FALSE(fake.ok());
    EXPECT_EQ(fake.error().message, "TTF 등록에 실패했습니다.");
}

#endif

}  // namespace
}  // namespace veltrane
