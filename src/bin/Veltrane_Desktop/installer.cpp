#include "installer.h"

#include <algorithm>

#include "file_util/file_util.h"
#include "file_util/text.h"
#include "update/update_check.h"
#include "wallpaper/original_state.h"

namespace veltrane {
namespace {

namespace fs = std::filesystem;

std::string with_detail(const char* prefix, const fs::path& path, const Error& error) {
    return prefix + path_to_utf8(path) + "\n\n" + error.message;
}

bool is_regular(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

// A restore that could not reach every monitor keeps its record and backup copies, so the
// next service gives that monitor its wallpaper back when it returns.
bool holds_wallpaper_record(const fs::path& entry) {
    return equals_ignoring_ascii_case(path_to_utf8(entry.filename()), kCompositeFolder) &&
           is_regular(composite_paths(entry.parent_path()).state);
}

}  // namespace

Result<std::vector<std::string>> install_copy_list(const fs::path& source) {
    const fs::path required = source / kInstallFiles[0];
    if (!is_regular(required)) return make_error("필수 파일이 없습니다.\n\n" + path_to_utf8(required));
    std::vector<std::string> names{kInstallFiles[0]};
    for (std::size_t i = 1; i < std::size(kInstallFiles); ++i) {
        if (is_regular(source / kInstallFiles[i])) names.emplace_back(kInstallFiles[i]);
    }
    return names;
}

bool is_kept_file(std::string_view file_name) {
    return std::any_of(std::begin(kKeptFileNames), std::end(kKeptFileNames),
                       [&](const char* kept) { return equals_ignoring_ascii_case(file_name, kept); });
}

Status empty_install_folder(const fs::path& folder, const std::vector<std::string>& copied_names) {
    const auto replaced_later = [&](const std::string& name) {
        return std::any_of(copied_names.begin(), copied_names.end(),
                           [&](const std::string& copied) { return equals_ignoring_ascii_case(name, copied); });
    };
    std::error_code ec;
    if (!fs::exists(fs::status(folder, ec)) || ec) return {};
    fs::directory_iterator it(folder, ec);
    if (ec) return make_error(with_detail("설치 폴더를 읽지 못했습니다.\n\n", folder, file_system_error(ec)));
    // The whole listing first, so no deletion runs under an open enumeration.
    std::vector<std::pair<fs::path, fs::file_status>> entries;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (!ec) entries.emplace_back(it->path(), it->symlink_status(ec));
        if (ec) return make_error(with_detail("설치 폴더 항목을 읽지 못했습니다.\n\n", folder, file_system_error(ec)));
    }
    if (ec) return make_error(with_detail("설치 폴더 항목을 읽지 못했습니다.\n\n", folder, file_system_error(ec)));
    for (const auto& [entry, status] : entries) {
        const std::string name = path_to_utf8(entry.filename());
        if (fs::is_regular_file(status) && (is_kept_file(name) || replaced_later(name))) continue;
        if (fs::is_directory(status) && holds_wallpaper_record(entry)) continue;
        if (auto removed = remove_tree(entry); !removed) {
            return make_error(with_detail("기존 설치 항목을 삭제하지 못했습니다.\n\n", entry, removed.error()));
        }
    }
    return {};
}

// Every file is copied beside its target first and the renames follow back to back: an
// installer ended while copying leaves the old build whole. The executable goes first, since
// only its rename may wait for an ending old process to let go of it; the font follows at
// once, so the two builds' halves meet for no longer than one rename.
Status copy_install_files(const fs::path& source, const fs::path& target, const std::vector<std::string>& names) {
    std::error_code ec;
    fs::create_directories(target, ec);
    if (ec) return make_error(with_detail("설치 폴더를 만들지 못했습니다.\n\n", target, file_system_error(ec)));
    std::vector<std::pair<fs::path, fs::path>> staged;  // temporary, target
    const auto discard_staged = [&] {
        for (const auto& [temp, to] : staged) fs::remove(temp, ec);
    };
    const auto copy_failure = [](const fs::path& from, const fs::path& to, const Error& error) {
        return make_error("설치 파일을 복사하지 못했습니다.\n\n" + path_to_utf8(from) + "\n→ " + path_to_utf8(to) + "\n\n" +
                          error.message);
    };
    for (const auto& name : names) {
        const fs::path from = source / name;
        const fs::path to = target / name;
        if (from == to) continue;
        auto temp = copy_to_temporary(from, to);
        if (!temp) {
            discard_staged();
            return copy_failure(from, to, temp.error());
        }
        staged.emplace_back(std::move(*temp), to);
    }
    const auto rank = [](const fs::path& to) {
        const std::string name = path_to_utf8(to.filename());
        return name == kExecutableName ? 0 : name == kInstalledFontName ? 1 : 2;
    };
    std::stable_sort(staged.begin(), staged.end(),
                     [&](const auto& a, const auto& b) { return rank(a.second) < rank(b.second); });
    const fs::path pending = target / kPendingInstallFile;
    std::string record;
    for (const auto& [temp, to] : staged) record += path_to_utf8(temp.filename()) + "\t" + path_to_utf8(to.filename()) + "\n";
    if (auto written = write_file_atomic(pending, std::string_view(record)); !written) {
        discard_staged();
        return copy_failure(source, pending, written.error());
    }
    for (std::size_t i = 0; i < staged.size(); ++i) {
        if (auto moved = replace_file(staged[i].first, staged[i].second); !moved) {
            const fs::path from = source / staged[i].second.filename(), to = staged[i].second;
            // Before the commit the old build stays whole; after it the record lets the next
            // start make the remaining moves.
            if (i == 0) {
                discard_staged();
                fs::remove(pending, ec);
            }
            return copy_failure(from, to, moved.error());
        }
    }
    fs::remove(pending, ec);
    return {};
}

Status finish_interrupted_install(const fs::path& folder) {
    const fs::path pending = folder / kPendingInstallFile;
    auto text = read_text_limited(pending, 4096);
    if (!text) return is_not_found(text.error()) ? Status{} : text.take_error();
    std::vector<std::pair<fs::path, fs::path>> moves;
    bool valid = true;
    for (std::string_view rest = *text; valid && !rest.empty();) {
        const std::size_t end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        const std::size_t tab = line.find('\t');
        const std::string_view temp = line.substr(0, tab == std::string_view::npos ? 0 : tab);
        const std::string_view to = tab == std::string_view::npos ? std::string_view() : line.substr(tab + 1);
        const bool known = std::any_of(std::begin(kInstallFiles), std::end(kInstallFiles),
                                       [&](const char* name) { return to == name; });
        // Appended, not joined with +: GCC 12 at -O3 misreads the join as overlapping copies.
        std::string expected = ".";
        expected.append(to).append(".tmp-");
        valid = known && temp.starts_with(expected) &&
                temp.find_first_of("/\\:") == std::string_view::npos;
        moves.emplace_back(folder / utf8_to_path(std::string(temp)), folder / utf8_to_path(std::string(to)));
    }
    std::error_code ec;
    const auto executable = std::find_if(moves.begin(), moves.end(),
                                         [](const auto& move) { return move.second.filename() == kExecutableName; });
    const bool committed = executable == moves.end() || !fs::exists(executable->first, ec);
    if (valid) {
        for (const auto& [temp, to] : moves) {
            if (!fs::exists(temp, ec)) continue;
            if (!committed) {
                fs::remove(temp, ec);
            } else if (auto moved = replace_file(temp, to); !moved) {
                return moved;
            }
        }
    }
    fs::remove(pending, ec);
    return {};
}

std::string install_failure_text(std::string_view error) { return "설치에 실패했습니다.\n\n" + std::string(error); }

std::string service_unconfirmed_text(std::string_view error) {
    return "설치는 완료했지만 서비스 재실행을 확인하지 못했습니다.\n\n" + std::string(error);
}

std::string install_success_text(const fs::path& target, const std::vector<std::string>& names) {
    std::string list;
    for (const auto& name : names) list += (list.empty() ? "" : "\n") + name;
    return "설치가 완료되었고 서비스 실행을 확인했습니다.\n\n위치: " + path_to_utf8(target) + "\n\n복사된 파일:\n" + list +
           "\n\n로그인 자동 시작이 등록되었습니다.";
}

}  // namespace veltrane
