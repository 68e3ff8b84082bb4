#include "command_line.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

using namespace veltrane;

namespace {

using Args = std::vector<std::u16string>;

Args split(std::u16string_view line) { return split_command_line(line, u"C:\\prog.exe"); }

// Lines where the program's rules and the system's CommandLineToArgvW agree.
const std::u16string_view kAgreed[] = {
    u"prog.exe --run",
    u"\"C:\\Program Files\\v.exe\" --watchdog 42 +7",
    u"p a\tb  c",
    u"p \"a b\" c\"d e\"f",
    u"p a\\b c\\\\d e\\",
    u"p a\\\"b",
    u"p a\\\\\"b c\"",
    u"p a\\\\\\\"b",
    u"p \"\" x",
    u"p \"a\\\\\" b",
    u"p \"unterminated arg",
    u"p \"\\\\server\\share\\\" x",
};

}  // namespace

TEST(CommandLine, SplitsByTheWindowsRules) {
    EXPECT_EQ(split(u"prog.exe --run"), (Args{u"prog.exe", u"--run"}));
    EXPECT_EQ(split(u"p a\tb  c  "), (Args{u"p", u"a", u"b", u"c"}));
    EXPECT_EQ(split(u"p \"a b\" c\"d e\"f"), (Args{u"p", u"a b", u"cd ef"}));
    // Backslashes are literal unless a quote follows.
    EXPECT_EQ(split(u"p a\\b c\\\\d e\\"), (Args{u"p", u"a\\b", u"c\\\\d", u"e\\"}));
    // 2n+1 backslashes and a quote: n backslashes and a literal quote.
    EXPECT_EQ(split(u"p a\\\"b a\\\\\\\"b"), (Args{u"p", u"a\"b", u"a\\\"b"}));
    // 2n backslashes and a quote: n backslashes, and the quote groups.
    EXPECT_EQ(split(u"p a\\\\\"b c\""), (Args{u"p", u"a\\b c"}));
    EXPECT_EQ(split(u"p \"\" x"), (Args{u"p", u"", u"x"}));
    EXPECT_EQ(split(u"p \"unterminated arg"), (Args{u"p", u"unterminated arg"}));
}

// CommandLineToArgvW (also under Wine) ends the quoted run after a doubled quote; the
// program's rule keeps it open, so these lines are checked against the rule alone.
TEST(CommandLine, DoubledQuoteInsideAQuotedRunIsALiteralQuote) {
    EXPECT_EQ(split(u"p \"a\"\"b\" c"), (Args{u"p", u"a\"b", u"c"}));
    EXPECT_EQ(split(u"p \"say \"\"hi\"\" now\""), (Args{u"p", u"say \"hi\" now"}));
    // Outside a quoted run two quotes open and close an empty group.
    EXPECT_EQ(split(u"p a\"\"b"), (Args{u"p", u"ab"}));
}

TEST(CommandLine, EmptyLineIsTheProgramPathAlone) {
    EXPECT_EQ(split(u""), (Args{u"C:\\prog.exe"}));
    EXPECT_EQ(split(u" \t "), (Args{u"C:\\prog.exe"}));
    // The program element follows the same rules as every other; leading blanks vanish
    // (CommandLineToArgvW would make an empty program element of them).
    EXPECT_EQ(split(u"  \"C:\\a b\\p.exe\" --run"), (Args{u"C:\\a b\\p.exe", u"--run"}));
}

TEST(Modes, OnlyTheExactSwitchesChooseARole) {
    auto mode = [](std::u16string_view line) { return mode_of(split(line)); };
    EXPECT_EQ(mode(u"p --uninstall-helper x"), Mode::UninstallHelper);
    EXPECT_EQ(mode(u"p --run"), Mode::Service);
    EXPECT_EQ(mode(u"p \"--run\" ignored"), Mode::Service);
    EXPECT_EQ(mode(u"p --watchdog"), Mode::Watchdog);
    EXPECT_EQ(mode(u"p --apply-update"), Mode::ApplyUpdate);
    EXPECT_EQ(mode(u"p --rollback-helper"), Mode::RollbackHelper);
    EXPECT_EQ(mode(u"p --install --quiet"), Mode::Install);
    EXPECT_EQ(mode(u"p --remove"), Mode::Remove);
    EXPECT_TRUE(is_quiet(split(u"p --remove --quiet x")));
    EXPECT_FALSE(is_quiet(split(u"p --remove --Quiet")));
    EXPECT_FALSE(is_quiet(split(u"p --quiet --install")));
    for (auto line : {u"", u"p", u"p --RUN", u"p /install", u"p --Remove", u"p --quiet --install", u"p /run", u"p -run", u"p --run=1", u"p --runx", u"p \" --run\"",
                      u"p --Apply-Update", u"p /uninstall-helper", u"p --watchdog-x 1 2", u"p x --run"}) {
        EXPECT_EQ(mode(line), Mode::Setup) << std::string(line, line + std::char_traits<char16_t>::length(line));
    }
}

TEST(Watchdog, TakesAPlainDecimalProcessIdAndCreationTime) {
    auto target = [](std::u16string_view line) { return watchdog_target(split(line)); };
    EXPECT_EQ(target(u"p --watchdog 4242 133456789012345678"), (WatchdogTarget{4242, 133456789012345678ull}));
    EXPECT_EQ(target(u"p --watchdog +0 +18446744073709551615 extra"), (WatchdogTarget{0, UINT64_MAX}));
    EXPECT_EQ(target(u"p --watchdog 4294967295 0"), (WatchdogTarget{UINT32_MAX, 0}));
    for (auto line : {u"p --watchdog", u"p --watchdog 42", u"p --watchdog abc 1", u"p --watchdog 42 -1",
                      u"p --watchdog 4294967296 1", u"p --watchdog 1 18446744073709551616", u"p --watchdog + 1",
                      u"p --watchdog 1 +", u"p --watchdog \"\" 1", u"p --watchdog \" 1\" 2", u"p --watchdog 1 2x",
                      u"p --watchdog 0x10 1", u"p --watchdog ++1 1", u"p --watchdog \xFF11 1"}) {
        EXPECT_FALSE(target(line).has_value()) << std::string(line, line + std::char_traits<char16_t>::length(line));
    }
    EXPECT_EQ(parse_decimal(u"00000000000000000000042", UINT32_MAX), 42u);
}

#ifdef _WIN32
TEST(CommandLine, AgreesWithTheSystemWhereItsRulesAreTheSame) {
    for (auto line : kAgreed) {
        const std::wstring wide(line.begin(), line.end());
        int count = 0;
        LPWSTR* argv = CommandLineToArgvW(wide.c_str(), &count);
        ASSERT_NE(argv, nullptr);
        Args system;
        for (int i = 0; i < count; ++i) {
            const std::wstring arg = argv[i];
            system.emplace_back(arg.begin(), arg.end());
        }
        LocalFree(argv);
        // The system reads the program element without backslash rules; compare the rest.
        const Args ours = split(line);
        ASSERT_FALSE(system.empty());
        EXPECT_EQ(Args(ours.begin() + 1, ours.end()), Args(system.begin() + 1, system.end()))
            << std::string(line.begin(), line.end());
    }
}
#endif
