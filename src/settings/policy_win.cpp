#include <windows.h>

#include <array>
#include <cstring>

#include "file_util/win.h"
#include "settings/policy.h"

namespace veltrane {
namespace {

win::UniqueKey open_policy_key(HKEY hive) {
    HKEY key = nullptr;
    const std::wstring path = win::to_wide(kPolicyKey);
    if (RegOpenKeyExW(hive, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return {};
    return win::UniqueKey(key);
}

// Nothing when absent; a value of another type or longer than the limit is unreadable, so
// that it is named rather than silently taken for no policy.
std::optional<PolicyData> read_value(HKEY key, std::string_view name) {
    if (!key) return std::nullopt;
    std::array<wchar_t, kPolicyTextLimit + 1> buffer{};
    DWORD type = 0;
    DWORD bytes = sizeof buffer;
    const std::wstring wide_name = win::to_wide(name);
    const LSTATUS status =
        RegGetValueW(key, nullptr, wide_name.c_str(), RRF_RT_REG_SZ | RRF_RT_REG_DWORD, &type, buffer.data(), &bytes);
    if (status == ERROR_FILE_NOT_FOUND) return std::nullopt;
    if (status != ERROR_SUCCESS) return UnreadableData{};
    if (type == REG_DWORD && bytes == sizeof(DWORD)) {
        std::uint32_t number = 0;
        std::memcpy(&number, buffer.data(), sizeof number);
        return number;
    }
    if (type != REG_SZ) return UnreadableData{};
    return win::from_wide(std::wstring_view(buffer.data(), wcsnlen(buffer.data(), buffer.size())));
}

}  // namespace

RawPolicy read_raw_policy() {
    const win::UniqueKey machine = open_policy_key(HKEY_LOCAL_MACHINE);
    const win::UniqueKey user = open_policy_key(HKEY_CURRENT_USER);
    RawPolicy raw;
    for (const PolicyValue* value : kPolicyValues) {
        raw[std::string(value->name)] = {read_value(machine.get(), value->name), read_value(user.get(), value->name)};
    }
    return raw;
}

Policy read_policy() { return resolve_policy(read_raw_policy()); }

}  // namespace veltrane
