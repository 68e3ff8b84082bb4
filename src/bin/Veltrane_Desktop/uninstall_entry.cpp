#include "uninstall_entry.h"

#include "file_util/text.h"
#include "settings/settings.h"

namespace veltrane {

namespace fs = std::filesystem;

std::vector<UninstallValue> uninstall_refresh_values(const BuildVersion& version, std::uint32_t size_kib) {
    return {{"DisplayVersion", format_build_version(version)}, {"EstimatedSize", size_kib}};
}

std::vector<UninstallValue> uninstall_entry_values(const fs::path& install_folder, const BuildVersion& version,
                                                   std::uint32_t size_kib) {
    const std::string program = path_to_utf8(install_folder / kExecutableName);
    // Quoted, so a profile path with a blank stays one program path.
    std::string exe(1, '"');
    exe.append(program).push_back('"');
    std::vector<UninstallValue> values{{"DisplayName", std::string("벨트레인")},
                                       {"Publisher", std::string("Veltrane")},
                                       {"InstallLocation", path_to_utf8(install_folder)},
                                       {"DisplayIcon", program + ",0"},
                                       {"UninstallString", exe + " --remove"},
                                       {"QuietUninstallString", exe + " --remove --quiet"},
                                       {"NoModify", 1u},
                                       {"NoRepair", 1u}};
    for (auto& refreshed : uninstall_refresh_values(version, size_kib)) values.push_back(std::move(refreshed));
    return values;
}

std::uint32_t folder_size_kib(const fs::path& folder) {
    std::error_code ec;
    std::uintmax_t bytes = 0;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code size_ec;
        if (it->is_regular_file(size_ec)) {
            const auto size = it->file_size(size_ec);
            if (!size_ec) bytes += size;
        }
    }
    return static_cast<std::uint32_t>(std::min<std::uintmax_t>((bytes + 1023) / 1024, UINT32_MAX));
}

}  // namespace veltrane
