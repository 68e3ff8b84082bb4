#include "download/proxy.h"

#include <gtest/gtest.h>

using veltrane::proxy_bypassed;

TEST(ProxyBypass, FollowsThePerUserList) {
    const char* list = "*.hospital.local;10.*; https://Intranet <local>";
    EXPECT_TRUE(proxy_bypassed(list, "veltrane.hospital.local"));
    EXPECT_TRUE(proxy_bypassed(list, "VELTRANE.Hospital.Local"));
    EXPECT_FALSE(proxy_bypassed(list, "hospital.local.example.com"));
    EXPECT_TRUE(proxy_bypassed(list, "10.1.2.3"));
    EXPECT_FALSE(proxy_bypassed(list, "110.1.2.3"));
    EXPECT_TRUE(proxy_bypassed(list, "intranet"));
    EXPECT_TRUE(proxy_bypassed(list, "wiki"));  // <local>
    EXPECT_FALSE(proxy_bypassed(list, "fd.api.iris.microsoft.com"));
    EXPECT_FALSE(proxy_bypassed("", "wiki"));
    EXPECT_TRUE(proxy_bypassed("*", "anything.example"));
    EXPECT_FALSE(proxy_bypassed("<local>", "127.0.0.1"));
}
