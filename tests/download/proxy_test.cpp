#include "download/proxy.h"

#include <gtest/gtest.h>

#include "download/download.h"

using namespace veltrane;

TEST(ProxyBypass, FollowsThePerUserListWithPorts) {
    const char* list = "*.hospital.local;10.*; https://Intranet <local> wiki.example:8443";
    EXPECT_TRUE(proxy_bypassed(list, "veltrane.hospital.local", 443));
    EXPECT_TRUE(proxy_bypassed(list, "VELTRANE.Hospital.Local", 8080));
    EXPECT_FALSE(proxy_bypassed(list, "hospital.local.example.com", 443));
    EXPECT_TRUE(proxy_bypassed(list, "10.1.2.3", 443));
    EXPECT_FALSE(proxy_bypassed(list, "110.1.2.3", 443));
    EXPECT_TRUE(proxy_bypassed(list, "intranet", 443));
    EXPECT_TRUE(proxy_bypassed(list, "wiki", 443));  // <local>
    EXPECT_FALSE(proxy_bypassed(list, "fd.api.iris.microsoft.com", 443));
    EXPECT_TRUE(proxy_bypassed(list, "wiki.example", 8443));
    EXPECT_FALSE(proxy_bypassed(list, "wiki.example", 443));
    EXPECT_FALSE(proxy_bypassed("", "wiki", 443));
    EXPECT_TRUE(proxy_bypassed("*", "anything.example", 443));
    EXPECT_FALSE(proxy_bypassed("<local>", "127.0.0.1", 443));
}

TEST(ProxyRoute, AutomaticConfigurationFirstThenTheManualProxy) {
    const UserProxySettings both{true, "proxy.hospital.local:3128", "*.internal"};
    EXPECT_EQ(choose_proxy_route(both, "charts.hospital.local", 443, std::string()), (ProxyRoute{RouteKind::Direct, {}}));
    EXPECT_EQ(choose_proxy_route(both, "charts.hospital.local", 443, std::string("pac:8080")),
              (ProxyRoute{RouteKind::Named, "pac:8080"}));
    // A script that cannot be fetched or run: the manual proxy, with its bypass list.
    EXPECT_EQ(choose_proxy_route(both, "charts.hospital.local", 443, std::nullopt),
              (ProxyRoute{RouteKind::Named, "proxy.hospital.local:3128"}));
    EXPECT_EQ(choose_proxy_route(both, "a.internal", 443, std::nullopt), (ProxyRoute{RouteKind::Direct, {}}));
    const UserProxySettings manual{false, "proxy:3128", ""};
    EXPECT_EQ(choose_proxy_route(manual, "a", 443, std::string()), (ProxyRoute{RouteKind::Named, "proxy:3128"}));
    EXPECT_EQ(choose_proxy_route({}, "a", 443, std::nullopt), (ProxyRoute{RouteKind::System, {}}));

    EXPECT_EQ(proxy_server_name("http=a:80; https=b:8080", true), "b:8080");
    EXPECT_EQ(proxy_server_name("http=a:80; https=b:8080", false), "a:80");
    EXPECT_EQ(proxy_server_name("http://proxy.hospital.local:3128", true), "proxy.hospital.local:3128");
}

TEST(Redirect, ResolvesLocationAndRefusesAStepDown) {
    const std::string from = "https://h:8443/api/veltrane/image?etag=x";
    EXPECT_EQ(redirect_target(from, "https://cdn.example/a"), "https://cdn.example/a");
    EXPECT_EQ(redirect_target(from, "//cdn.example/a"), "https://cdn.example/a");
    EXPECT_EQ(redirect_target(from, " /b?c=d#frag"), "https://h:8443/b?c=d");
    EXPECT_EQ(redirect_target(from, "other"), "https://h:8443/api/veltrane/other");
    EXPECT_EQ(redirect_target(from, "/p?u=http://x"), "https://h:8443/p?u=http://x");
    EXPECT_EQ(redirect_target("https://h?x", "p"), "https://h/p");
    EXPECT_EQ(redirect_target("http://h/a", "https://h/b"), "https://h/b");
    EXPECT_EQ(redirect_target(from, "http://h/b"), std::nullopt);
    EXPECT_EQ(redirect_target(from, "file:///c:/x"), std::nullopt);
    EXPECT_EQ(redirect_target(from, ""), std::nullopt);
}
