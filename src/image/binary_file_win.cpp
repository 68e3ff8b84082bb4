#include <windows.h>

#include "file_util/win.h"
#include "image/binary_file.h"

namespace veltrane::detail {

Result<FilePtr> open_binary_file(const std::filesystem::path& path) {
    SetLastError(0);
    std::FILE* file = _wfopen(path.c_str(), L"rb");
    if (!file) {
        // The C runtime keeps the Win32 code of the CreateFileW call behind _wfopen.
        const DWORD code = GetLastError() != 0 ? GetLastError() : ERROR_OPEN_FAILED;
        return Error{win::system_message(code) + " (os error " + std::to_string(code) + ")", code};
    }
    return FilePtr(file);
}

}  // namespace veltrane::detail
