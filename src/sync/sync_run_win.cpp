#include <windows.h>

#include <chrono>

#include "image/png_image.h"
#include "ipc/ipc.h"
#include "settings/settings.h"
#include "download/download.h"
#include "sync/sync_run.h"
#include "build_info/build_constants.h"

namespace veltrane {

namespace {

std::optional<Uint128> utc_nanoseconds_now() {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    if (ns < 0) return std::nullopt;
    return static_cast<Uint128>(ns);
}

}  // namespace

Result<bool> run_content_sync() {
    auto lock = ipc::acquire_content_lock();
    if (!lock) return lock.take_error();
    const auto folder = executable_folder();
    if (!folder) return false;
    SyncInputs in;
    in.origin = build::kContentServerOrigin;
    std::optional<std::string> refusing_proxy;
    in.fetch = [&refusing_proxy](const std::string& url, std::uint64_t limit) {
        DownloadReport report;
        auto bytes = download_bytes_reporting(url, limit, report);
        if (report.proxy_wants_password) refusing_proxy = report.proxy_wants_password;
        return bytes;
    };
    in.image_size = [](std::span<const std::uint8_t> bytes) { return png_decoded_size(bytes); };
    in.process_id = GetCurrentProcessId();
    in.utc_nanoseconds = utc_nanoseconds_now();
    in.local_clock = local_time_now;
    const bool published = sync_content_into(*folder, in);
    if (!published) record_failed_sync(*folder, refusing_proxy);
    return published;
}

}  // namespace veltrane
