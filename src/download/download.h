// The download module: every HTTP request the program makes (content sync, the Spotlight
// background, the update check and releases) goes through here. One GET, 30-second time-outs,
// status 200 only, at most `limit` bytes of body, no retry. Failures carry no detail: every
// caller turns them into its own outcome.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "file_util/file_util.h"

namespace veltrane {

inline constexpr std::uint32_t kDownloadTimeoutMs = 30000;
inline constexpr std::uint32_t kMaxHeaderBytes = 8192;
inline constexpr std::uint32_t kMaxRedirects = 100;

std::optional<Bytes> download_bytes(std::string_view url, std::uint64_t limit);

// As download_bytes, then strict UTF-8.
std::optional<std::string> download_text(std::string_view url, std::uint64_t limit);

}  // namespace veltrane
