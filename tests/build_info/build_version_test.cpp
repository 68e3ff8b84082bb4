#include "build_info/build_version.h"

#include <gtest/gtest.h>

using namespace veltrane;

TEST(BuildVersion, ParsesTheVersionTextStrictly) {
    auto v = parse_build_version("20261019.230507.0");
    ASSERT_TRUE(v.has_value());
    EXPECT_EQ(v->date, 20261019u);
    EXPECT_EQ(v->time, 230507u);
    EXPECT_EQ(parse_build_version("20261019.0.0")->time, 0u);

    for (const char* bad : {"20261019.230507", "20261019.230507.0.1", "20261019.230507.1", "2026101.230507.0",
                            "20261019.0230507.0", "20261019.090507.0", "", "..", "20261019..0",
                            " 20261019.230507.0", "20261019.230507.0 ", "2026101a.230507.0", "20261019.+1.0",
                            "20261019.1234567.0"}) {
        EXPECT_FALSE(parse_build_version(bad).has_value()) << bad;
    }
}

TEST(BuildVersion, AppliesCalendarRules) {
    EXPECT_TRUE(parse_build_version("20200229.120000.0"));
    EXPECT_TRUE(parse_build_version("24000229.120000.0"));
    EXPECT_TRUE(parse_build_version("20261019.235959.0"));
    for (const char* bad : {"21000229.120000.0", "20230229.120000.0", "20191231.235959.0", "20261019.240000.0",
                            "20261019.236000.0", "20261019.235960.0", "20260019.120000.0", "20261319.120000.0",
                            "20261000.120000.0", "20240431.120000.0", "20240132.120000.0"}) {
        EXPECT_FALSE(parse_build_version(bad).has_value()) << bad;
    }
}

TEST(BuildVersion, TextFormsRoundTrip) {
    const BuildVersion v{20261019, 90507};
    EXPECT_EQ(format_build_version(v), "20261019.90507.0");
    EXPECT_EQ(build_label(v), "20261019-090507");
    EXPECT_EQ(build_label(BuildVersion{20261019, 0}), "20261019-000000");
    EXPECT_EQ(parse_build_version(format_build_version(v)), v);
    EXPECT_EQ(parse_build_version(format_build_version(BuildVersion{20200101, 0})), (BuildVersion{20200101, 0}));
}

TEST(BuildVersion, OrdersByDateThenTime) {
    EXPECT_LT((BuildVersion{20261019, 235959}), (BuildVersion{20261020, 0}));
    EXPECT_LT((BuildVersion{20261019, 90507}), (BuildVersion{20261019, 230507}));
    EXPECT_EQ((BuildVersion{20261019, 1}), (BuildVersion{20261019, 1}));
}

TEST(BuildVersion, TimestampIsFourteenValidDigits) {
    EXPECT_EQ(parse_build_timestamp("20261019230507"), (BuildVersion{20261019, 230507}));
    EXPECT_EQ(parse_build_timestamp("20261019090507"), (BuildVersion{20261019, 90507}));
    for (const char* bad : {"2026101923050", "202610192305070", "2026101923050x", "20261019240000", "20190101000000"}) {
        EXPECT_FALSE(parse_build_timestamp(bad).has_value()) << bad;
    }
}

TEST(BuildVersion, TestBuildCarriesItsFixedTimestamp) {
    EXPECT_EQ(current_build_version(), (BuildVersion{20261019, 230507}));
}
