#include "download/download.h"

#include <gtest/gtest.h>

using namespace veltrane;

TEST(DownloadDeadline, LetsTheLargestBodyArriveAtTheSlowestHonestRate) {
    EXPECT_EQ(download_deadline_ms(0), 30000u);
    EXPECT_EQ(download_deadline_ms(1), 30001u);
    EXPECT_EQ(download_deadline_ms(262144), 34000u);
    EXPECT_EQ(download_deadline_ms(64u << 20), 30000u + 1024000u);
    EXPECT_GT(download_deadline_ms(UINT64_MAX), download_deadline_ms(UINT64_MAX / 2));
}

TEST(DownloadUserAgent, NamesTheBuild) { EXPECT_EQ(download_user_agent(), "Veltrane_Desktop/20261019.230507.0"); }

TEST(DownloadOrigin, OnlyTheOriginItselfCarriesTheIdentity) {
    const std::string origin = "https://content.hospital.kr:8443";
    EXPECT_TRUE(is_on_origin(origin + "/api/veltrane/current", origin));
    const std::string others[] = {origin + "?@evil.example/", origin + "\\@evil.example/",
                                  "https://content.hospital.kr:84430/api", "https://content.hospital.kr:8443.evil.example/",
                                  "https://content.hospital.kr/api", "http://content.hospital.kr:8443/api",
                                  "https://spotlight.example/selection"};
    for (const std::string& other : others) {
        EXPECT_FALSE(is_on_origin(other, origin)) << other;
    }
}
