#include "wallpaper/background_cache_win.h"

#include <windows.h>

#include <algorithm>
#include <cinttypes>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <span>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "build_info/build_version.h"
#include "file_util/file_util.h"
#include "file_util/text.h"
#include "file_util/win.h"
#include "ipc/ipc.h"
#include "ipc/ipc_win.h"
#include "wallpaper/desktop_wallpaper.h"

namespace veltrane {

namespace {

namespace fs = std::filesystem;

constexpr const char* kKeyVersion = "veltrane-background 1\n";

std::string rect_text(const MonitorRect& r) {
    return std::to_string(r.left) + " " + std::to_string(r.top) + " " + std::to_string(r.right) + " " +
           std::to_string(r.bottom);
}

std::optional<std::string> file_identity(const fs::path& path) {
    const win::UniqueHandle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file || !GetFileInformationByHandle(file.get(), &info)) return std::nullopt;
    char text[128];
    std::snprintf(text, sizeof text, "%08lX:%08lX%08lX %08lX%08lX %08lX%08lX",
                  static_cast<unsigned long>(info.dwVolumeSerialNumber), static_cast<unsigned long>(info.nFileIndexHigh),
                  static_cast<unsigned long>(info.nFileIndexLow), static_cast<unsigned long>(info.nFileSizeHigh),
                  static_cast<unsigned long>(info.nFileSizeLow),
                  static_cast<unsigned long>(info.ftLastWriteTime.dwHighDateTime),
                  static_cast<unsigned long>(info.ftLastWriteTime.dwLowDateTime));
    return std::string(text);
}

std::span<const std::uint8_t> as_bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// The locked pixels as one span: GDI+ keeps 32-bit rows without padding, and anything else
// is not cached.
std::optional<std::span<std::uint8_t>> pixels_of(const gdiplus::LockedBits& bits, std::int32_t width,
                                                 std::int32_t height) {
    const auto& data = bits.data();
    if (!bits || data.Stride != width * 4 || !data.Scan0) return std::nullopt;
    return std::span(static_cast<std::uint8_t*>(data.Scan0), std::size_t(width) * std::size_t(height) * 4);
}

void write_background(const fs::path& file, const std::string& key, std::span<const std::uint8_t> pixels) {
    const std::span<const std::uint8_t> parts[] = {as_bytes(key), pixels};
    (void)write_file_atomic(file, parts);
}

struct PendingWrite {
    fs::path file;
    std::string key;
    std::vector<std::uint8_t> pixels;
};

// One thread per batch of writes, ended when its queue is empty, so an idle service holds
// neither a thread nor a copy. The thread shares only `Queue`, so a thread left running when
// a wait gives up (or at the process's end) never touches the writer itself.
class BackgroundWriter {
public:
    BackgroundWriter() = default;
    BackgroundWriter(const BackgroundWriter&) = delete;
    BackgroundWriter& operator=(const BackgroundWriter&) = delete;
    ~BackgroundWriter() {
        if (!finish(kBackgroundWriteWait) && thread_.joinable()) thread_.detach();
    }

    // False, with nothing queued, when no thread can be started: the caller writes itself.
    bool queue(PendingWrite&& write) {
        const std::lock_guard control(control_);
        std::unique_lock lock(queue_->mutex);
        queue_->writes.push_back(std::move(write));
        if (queue_->running) return true;
        queue_->running = true;
        lock.unlock();
        // Not running: the last thread is past its last use of the queue and ends at once.
        if (thread_.joinable()) thread_.join();
        try {
            thread_ = std::thread(work, queue_);
            return true;
        } catch (...) {
            lock.lock();
            queue_->writes.pop_back();
            queue_->running = false;
            return false;
        }
    }

    bool finish(std::chrono::milliseconds limit) {
        const std::lock_guard control(control_);
        std::unique_lock lock(queue_->mutex);
        if (!queue_->idle.wait_for(lock, limit, [this] { return !queue_->running; })) return false;
        lock.unlock();
        if (thread_.joinable()) thread_.join();
        return true;
    }

private:
    struct Queue {
        std::mutex mutex;
        std::condition_variable idle;
        std::deque<PendingWrite> writes;
        bool running = false;
    };

    static void work(std::shared_ptr<Queue> queue) {
        std::unique_lock lock(queue->mutex);
        while (!queue->writes.empty()) {
            {
                const PendingWrite next = std::move(queue->writes.front());
                queue->writes.pop_front();
                lock.unlock();
                try {
                    // Never while a restore (of any process) holds its lock: it may be deleting
                    // the folder. The write is dropped, and the next composition draws again.
                    if (const auto restoring = ipc::acquire_named_lock(ipc::kWallpaperRestoreName, 0)) {
                        write_background(next.file, next.key, next.pixels);
                    }
                } catch (...) {
                    // A failed allocation inside the write: that file stays as it was.
                }
            }  // the copy is freed before the next one is taken
            lock.lock();
        }
        queue->running = false;
        queue->idle.notify_all();
    }

    std::mutex control_;  // one caller at a time owns `thread_`
    std::shared_ptr<Queue> queue_ = std::make_shared<Queue>();
    std::thread thread_;
};

BackgroundWriter& writer() {
    static BackgroundWriter instance;
    return instance;
}

}  // namespace

std::optional<std::string> background_key(const BackgroundPicture& picture, std::uint32_t argb,
                                          const MonitorRect& monitor, const MonitorRect& bounds) {
    const auto identity = file_identity(picture.path);
    if (!identity) return std::nullopt;
    char color[16];
    std::snprintf(color, sizeof color, "%08" PRIX32, argb);
    std::string key = kKeyVersion;
    // Another build may draw the same background otherwise: a self-update starts afresh.
    key += "build " + format_build_version(current_build_version()) + "\n";
    key += "monitor " + rect_text(monitor) + "\n";
    if (picture.position == kPositionSpan) key += "bounds " + rect_text(bounds) + "\n";
    key += "color " + std::string(color) + "\nposition " + std::to_string(picture.position) + "\n";
    key += "picture " + path_to_utf8(picture.path) + "\nfile " + *identity + "\n\n";
    return key;
}

fs::path background_cache_file(const fs::path& folder, std::size_t monitor_index) {
    return folder / ("monitor-" + std::to_string(monitor_index) + ".background");
}

bool load_background(const fs::path& file, const std::string& key, Gdiplus::GpBitmap* bitmap, std::int32_t width,
                     std::int32_t height) {
    const gdiplus::LockedBits bits(bitmap, width, height, Gdiplus::ImageLockModeWrite);
    const auto pixels = pixels_of(bits, width, height);
    if (!pixels) return false;
    const auto read = read_after_head(file, as_bytes(key), *pixels);
    return read && *read;
}

void store_background(const fs::path& file, const std::string& key, Gdiplus::GpBitmap* bitmap, std::int32_t width,
                      std::int32_t height) {
    const gdiplus::LockedBits bits(bitmap, width, height, Gdiplus::ImageLockModeRead);
    const auto pixels = pixels_of(bits, width, height);
    if (!pixels) return;
    try {
        if (writer().queue(PendingWrite{file, key, std::vector<std::uint8_t>(pixels->begin(), pixels->end())})) return;
    } catch (const std::bad_alloc&) {
        // No room for the copy: written here, from the bitmap, as it was before the worker.
    }
    write_background(file, key, *pixels);
}

bool finish_background_writes(std::chrono::milliseconds limit) { return writer().finish(limit); }

void tidy_background_cache(const fs::path& folder, std::size_t count) {
    // Listed only where it is a real folder: a link would list, and delete, what it points at.
    if (win::is_reparse_point(folder.wstring()) || win::is_reparse_point(folder.parent_path().wstring())) return;
    std::vector<fs::path> keep;
    for (std::size_t i = 0; i < count; ++i) keep.push_back(background_cache_file(folder, i));
    std::error_code ec;
    std::vector<fs::path> old;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (std::find(keep.begin(), keep.end(), it->path()) == keep.end()) old.push_back(it->path());
    }
    for (const auto& p : old) (void)remove_tree(p);
}

}  // namespace veltrane
