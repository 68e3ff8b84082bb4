#include "settings/install_identity.h"

#include <sodium.h>

#include <algorithm>
#include <array>

#include "file_util/file_util.h"

namespace veltrane {
namespace {

constexpr std::size_t kIdentityDigits = 32;
constexpr std::uint64_t kRecordLimit = 64;

}  // namespace

std::optional<std::string> parse_install_identity(std::string_view text) {
    if (text.ends_with("\n")) text.remove_suffix(1);
    if (text.ends_with("\r")) text.remove_suffix(1);
    if (text.size() != kIdentityDigits) return std::nullopt;
    const bool hex = std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
    if (!hex) return std::nullopt;
    return std::string(text);
}

std::optional<std::string> read_install_identity(const std::filesystem::path& folder) {
    const auto text = read_text_limited(folder / kInstallIdentityFile, kRecordLimit);
    if (!text) return std::nullopt;
    return parse_install_identity(*text);
}

Result<std::string> ensure_install_identity(const std::filesystem::path& folder) {
    if (auto kept = read_install_identity(folder)) return *kept;
    if (sodium_init() < 0) return make_error("libsodium failed to initialise");
    std::array<std::uint8_t, kIdentityDigits / 2> random{};
    randombytes_buf(random.data(), random.size());
    std::string identity;
    for (const std::uint8_t b : random) {
        identity += "0123456789abcdef"[b >> 4];
        identity += "0123456789abcdef"[b & 15];
    }
    if (auto written = write_file_atomic(folder / kInstallIdentityFile, identity + "\n"); !written) return written.take_error();
    return identity;
}

}  // namespace veltrane
