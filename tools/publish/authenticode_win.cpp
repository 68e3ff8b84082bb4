#include "authenticode.h"

namespace veltrane::publish {
namespace {

Error needs_debian() {
    return make_error("Authenticode signing and checking need Debian's osslsigncode: run this command with "
                      "veltrane-publish on the Debian host (apt-get install osslsigncode)");
}

}  // namespace

Result<SignedExecutable> sign_executable(std::span<const std::uint8_t>, const SigningCredentials&) { return needs_debian(); }

Result<AuthenticodeReport> check_authenticode(const std::filesystem::path&, const std::filesystem::path&) {
    return needs_debian();
}

}  // namespace veltrane::publish
