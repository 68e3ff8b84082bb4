#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include "file_util/win.h"
#include "image/binary_file.h"

namespace veltrane::detail {
namespace {

Error system_error(DWORD code) {
    return Error{win::system_message(code) + " (os error " + std::to_string(code) + ")", code};
}

}  // namespace

Result<FilePtr> open_binary_file(const std::filesystem::path& path) {
    // Shared for write and delete like every other reader of content files, so a sync run
    // can still replace or prune the file while a picture is being decoded.
    win::UniqueHandle handle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!handle) return system_error(GetLastError());
    const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(handle.get()), _O_RDONLY | _O_BINARY);
    if (fd == -1) return system_error(ERROR_TOO_MANY_OPEN_FILES);
    handle.release();  // the descriptor owns it now
    std::FILE* file = _fdopen(fd, "rb");
    if (!file) {
        _close(fd);
        return system_error(ERROR_TOO_MANY_OPEN_FILES);
    }
    return FilePtr(file);
}

}  // namespace veltrane::detail
