#include "uninstaller.h"

#include "file_util/file_util.h"
#include "file_util/text.h"

namespace veltrane {

std::string removal_helper_question(const std::filesystem::path& install_folder) {
    return "정말로 삭제하시겠습니까?\n\n" + path_to_utf8(install_folder) +
           "\n\n서비스를 종료하고 원래 바탕화면을 복원한 뒤, 자동 시작과 설치 파일을 모두 삭제합니다.";
}

namespace {

Status delete_tree(const std::filesystem::path& folder) {
    if (auto removed = remove_tree(folder); !removed) {
        return make_error("설치 폴더를 삭제하지 못했습니다.\n\n" + path_to_utf8(folder) + "\n\n" +
                          removed.error().message);
    }
    return {};
}

}  // namespace

// Moved aside in one rename first, so a removal ended part-way leaves the whole program or
// none of it; what was set aside goes now or with the next removal. A folder that cannot be
// renamed (a file in it still open) is deleted where it is.
Status delete_install_folder(const std::filesystem::path& folder) {
    std::filesystem::path aside = folder;
    aside += ".removing";
    if (auto old = delete_tree(aside); !old) return old;
    std::error_code ec;
    const bool present = std::filesystem::exists(std::filesystem::symlink_status(folder, ec));
    return delete_tree(present && replace_file(folder, aside) ? aside : folder);
}

}  // namespace veltrane
