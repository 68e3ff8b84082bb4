// One content sync run: fetch the duty roster, the `current` document, the image and the
// text it names; check them as the renderer will (a picture it shows, a text table that
// fits the picture); publish them as a new generation folder; switch the pointer.
// Any failure leaves the content store exactly as it was (a fetched duty roster stays).
// The run core takes its network, clock and image check as inputs so that every failure
// path is tested without a server; run_content_sync() binds the real ones.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "file_util/file_util.h"
#include "image/png_image.h"
#include "sync/content_store.h"
#include "sync/schedule.h"

namespace veltrane {

inline constexpr const char* kDutyPath = "/api/veltrane/duty-current?schedule=1";
inline constexpr const char* kCurrentPath = "/api/veltrane/current";
inline constexpr const char* kImagePathPrefix = "/api/veltrane/image?etag=";
inline constexpr const char* kTextPathPrefix = "/api/veltrane/text?etag=";
inline constexpr const char* kTextPathSuffix = "&badges=2";
inline constexpr std::uint64_t kDutyLimit = 262144;
inline constexpr std::uint64_t kCurrentLimit = 262144;
inline constexpr std::uint64_t kImageLimit = 67108864;
inline constexpr std::uint64_t kTextLimit = 1048576;

struct SyncInputs {
    std::string origin;
    std::function<std::optional<Bytes>(const std::string& url, std::uint64_t limit)> fetch;
    // The picture's size when the bytes decode completely as a PNG within the decoder's
    // memory limit and the renderer's pixel cap.
    std::function<std::optional<PngSize>(std::span<const std::uint8_t>)> image_size;
    std::uint32_t process_id = 0;
    std::optional<Uint128> utc_nanoseconds;  // nothing when the clock is before 1970
    // Read when the run ends: the status shows when the content arrived.
    std::function<LocalTime()> local_clock;
};

// The run inside the content lock, for one executable folder.
bool sync_content_into(const std::filesystem::path& exe_folder, const SyncInputs& inputs);

// After a run that did not publish: the status record keeps its time and names the proxy
// that wanted a password, or drops an earlier note.
void record_failed_sync(const std::filesystem::path& exe_folder, const std::optional<std::string>& proxy);

// The whole run: the content work lock, the executable folder, the real network and clock.
// True when it published; an error only when the lock could not be taken in time.
Result<bool> run_content_sync();

// True if any content set is there to render, or if the executable folder is unknown.
bool has_content();

}  // namespace veltrane
