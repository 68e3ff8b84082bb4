#include <windows.h>

#include <sddl.h>

#include <memory>
#include <vector>

#include "file_util/win.h"
#include "key_file.h"

namespace veltrane::publish {
namespace {

Error last_error() {
    const DWORD code = GetLastError();
    return Error{win::system_message(code), code};
}

struct LocalFreer {
    void operator()(void* p) const { LocalFree(p); }
};

// "D:P(A;;FA;;;<user SID>)": no inherited entries, full access for the current user only.
Result<std::wstring> owner_only_sddl() {
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return last_error();
    win::UniqueHandle token(raw);
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<std::uint8_t> buffer(size);
    if (size == 0 || !GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) return last_error();
    LPWSTR sid_text = nullptr;
    if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid_text)) return last_error();
    const std::unique_ptr<wchar_t, LocalFreer> owned(sid_text);
    return L"D:P(A;;FA;;;" + std::wstring(sid_text) + L")";
}

}  // namespace

Status create_private_file(const std::filesystem::path& path, std::string_view text) {
    auto sddl = owner_only_sddl();
    if (!sddl) return sddl.take_error();
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl->c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
        return last_error();
    }
    const std::unique_ptr<void, LocalFreer> owned(descriptor);
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
    win::UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return last_error();
    DWORD written = 0;
    const bool ok = WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                    written == text.size() && FlushFileBuffers(file.get());
    if (!ok) {
        Error e = last_error();
        file.reset();
        DeleteFileW(path.c_str());
        return e;
    }
    return {};
}

}  // namespace veltrane::publish
