// The installation's identity: 128 random bits, kept in the install folder, that the content
// server's log keys an installation by (also behind a proxy or NAT, where many share one
// address) and that its release rings place an installation by. It names an installation,
// never a person: nothing of the user, the machine or its address goes into it.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "file_util/result.h"

namespace veltrane {

inline constexpr const char* kInstallIdentityFile = "Veltrane_Desktop.install-id";
// The header that carries it, to the content server's origin only.
inline constexpr const char* kInstallIdentityHeader = "X-Veltrane-Install";

// Exactly 32 lower-case hexadecimal digits; the record may end in one line break.
std::optional<std::string> parse_install_identity(std::string_view text);

// The record's identity in `folder`, or nothing when it is missing or damaged.
std::optional<std::string> read_install_identity(const std::filesystem::path& folder);

// The identity in `folder`; a missing or damaged record is replaced by a new random one.
// Writers race only when two processes find it missing at once; the later rename wins.
Result<std::string> ensure_install_identity(const std::filesystem::path& folder);

}  // namespace veltrane
