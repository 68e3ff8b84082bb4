#include "settings/install_identity.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/test_paths.h"

using namespace veltrane;
using veltrane::testing::ScratchDir;
using veltrane::testing::read_raw;
using veltrane::testing::write_raw;

TEST(InstallIdentity, IsMadeOnceKeptAndADamagedOneReplaced) {
    ScratchDir dir("install-identity");
    EXPECT_FALSE(read_install_identity(dir.path()));
    const auto made = ensure_install_identity(dir.path());
    ASSERT_TRUE(made);
    EXPECT_EQ(parse_install_identity(*made), *made);
    EXPECT_EQ(read_raw(dir / kInstallIdentityFile), *made + "\n");
    EXPECT_EQ(ensure_install_identity(dir.path()).value(), *made);

    // Upper case, a digit short, or anything beside it: made anew, and never the same twice.
    for (const std::string& damaged : std::vector<std::string>{"ABCDEF00112233445566778899aabbcc", "0123456789abcdef0123456789abcde",
                                      *made + " user=kim", ""}) {
        write_raw(dir / kInstallIdentityFile, damaged);
        const auto again = ensure_install_identity(dir.path());
        ASSERT_TRUE(again) << damaged;
        EXPECT_NE(*again, *made) << damaged;
        EXPECT_EQ(read_install_identity(dir.path()), *again) << damaged;
    }
}
