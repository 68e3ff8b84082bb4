#include "settings/record.h"

#include <gtest/gtest.h>

#include <random>

#include "file_util/white_space.h"
#include "file_util/file_util.h"
#include "support/test_paths.h"

using namespace veltrane;
using veltrane::testing::ScratchDir;
using veltrane::testing::write_raw;

namespace {

std::vector<std::pair<std::string, std::string>> pairs(const std::vector<RecordField>& fields) {
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& f : fields) out.emplace_back(f.key, f.value);
    return out;
}

using Pairs = std::vector<std::pair<std::string, std::string>>;

}  // namespace

TEST(Record, SplitsAtTheFirstEqualsAndKeepsEverythingElseAsWritten) {
    const auto fields = parse_record("a=1\r\nno equals here\n b = x=y \n\nc=\r\r\n=v\nlast=end");
    EXPECT_EQ(pairs(fields), (Pairs{{"a", "1"}, {" b ", " x=y "}, {"c", "\r"}, {"", "v"}, {"last", "end"}}));
    EXPECT_EQ(pairs(parse_record("#k=v\nk=1\nk=2")), (Pairs{{"#k", "v"}, {"k", "1"}, {"k", "2"}}));
    EXPECT_TRUE(parse_record("").empty());
}

TEST(Record, TrimmingModeDropsBlanksCommentsAndUnicodeSpace) {
    const auto fields = parse_record("  # note=1\n\t\n\xE3\x80\x80 key \xC2\xA0=\t value with  inner \xE2\x80\x83\n  = \n", RecordTrim::Whitespace);
    EXPECT_EQ(pairs(fields), (Pairs{{"key", "value with  inner"}, {"", ""}}));
    EXPECT_EQ(trim_white_space("\xE2\x80\xA8" "항생제" "\xE2\x80\xA9"), "항생제");
    EXPECT_EQ(trim_white_space(" \t\r\n"), "");
    // A non-space character whose encoding ends in a continuation byte is not eaten.
    EXPECT_EQ(trim_white_space("당직 "), "당직");
}

TEST(Record, TheLastLineOfAKeyWinsAndKeysAreExact) {
    const auto fields = parse_record("state=staged\nState=failed\nstate=updated\nstate =x\n");
    EXPECT_EQ(last_value(fields, "state"), "updated");
    EXPECT_EQ(last_value(fields, "State"), "failed");
    EXPECT_FALSE(last_value(fields, "version").has_value());
}

TEST(Record, ArbitraryBytesNeverBreakTheReaderOrTheLineStructure) {
    std::mt19937 random(20261019);
    const std::string alphabet = "=\n\r #\t a\xC2\xA0\xE3\x80\x80\x80\xA0\xFF";
    for (int round = 0; round < 2000; ++round) {
        std::string text(random() % 64, ' ');
        for (auto& c : text) c = alphabet[random() % alphabet.size()];
        for (RecordTrim trim : {RecordTrim::None, RecordTrim::Whitespace}) {
            const auto fields = parse_record(text, trim);
            for (const auto& f : fields) {
                EXPECT_EQ(f.key.find('\n'), std::string::npos);
                EXPECT_EQ(f.key.find('='), std::string::npos);
            }
            // What the writer produces reads back as the same fields.
            EXPECT_EQ(pairs(parse_record(format_record(fields))).size(), fields.size());
        }
    }
    // Bytes of a broken sequence that would decode to a blank are not trimmed away.
    EXPECT_EQ(trim_white_space("\x80\xA0"), "\x80\xA0");
}

TEST(Record, WritesOneLinePerFieldAndNeverLetsAValueAddLines) {
    const std::vector<RecordField> fields = {{"status", "failed"}, {"message", "첫 줄\r\nstatus=ok"}, {"empty", ""}};
    EXPECT_EQ(format_record(fields), "status=failed\nmessage=첫 줄  status=ok\nempty=\n");
    EXPECT_EQ(pairs(parse_record(format_record(fields))),
              (Pairs{{"status", "failed"}, {"message", "첫 줄  status=ok"}, {"empty", ""}}));
}

TEST(Record, ReadsUnderTheOwnersLimitAndRejectsWhatIsNotUtf8) {
    ScratchDir dir("record");
    const auto path = dir / "Veltrane_Desktop.sync-retry";
    ASSERT_TRUE(write_record(path, {{"last_attempt", "20261019"}}).ok());
    auto read = read_record(path, 22);
    ASSERT_TRUE(read.ok()) << read.error().message;
    EXPECT_EQ(pairs(*read), (Pairs{{"last_attempt", "20261019"}}));
    EXPECT_FALSE(read_record(path, 21).ok());

    write_raw(path, "key=\xFF\n");
    EXPECT_FALSE(read_record(path, 100).ok());
    EXPECT_TRUE(is_not_found(read_record(dir / "absent", 100).error()));
}
