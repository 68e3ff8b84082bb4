#include <windows.h>
#include <imagehlp.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "file_util/win.h"
#include "ipc/ipc.h"
#include "ipc/process_win.h"
#include "settings/policy.h"
#include "settings/settings.h"
#include "download/download.h"
#include "update/update_check.h"

namespace veltrane {
namespace fs = std::filesystem;
namespace {

std::atomic<bool> g_check_running{false};

// Cleared last, after the lock and the event, on every path of a worker or a failed start.
struct CheckFlagClaim {
    bool owned = true;
    ~CheckFlagClaim() {
        if (owned) g_check_running.store(false);
    }
};

std::optional<std::uint32_t> windows_build_number() {
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (!GetVersionExW(&info)) return std::nullopt;
    return info.dwBuildNumber;
}

// One WinVerifyTrust verification, its state data closed on every path.
class TrustVerification {
public:
    explicit TrustVerification(const std::wstring& path) {
        file_.cbStruct = sizeof(file_);
        file_.pcwszFilePath = path.c_str();
        data_.cbStruct = sizeof(data_);
        data_.dwUIChoice = WTD_UI_NONE;
        // Workstations may have no route to the certificate authority.
        data_.fdwRevocationChecks = WTD_REVOKE_NONE;
        data_.dwProvFlags = WTD_REVOCATION_CHECK_NONE | WTD_CACHE_ONLY_URL_RETRIEVAL;
        data_.dwUnionChoice = WTD_CHOICE_FILE;
        data_.pFile = &file_;
        data_.dwStateAction = WTD_STATEACTION_VERIFY;
        verdict_ = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action_, &data_);
    }
    TrustVerification(const TrustVerification&) = delete;
    TrustVerification& operator=(const TrustVerification&) = delete;
    ~TrustVerification() {
        data_.dwStateAction = WTD_STATEACTION_CLOSE;
        WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action_, &data_);
    }

    bool trusted() const { return verdict_ == ERROR_SUCCESS; }
    // The signer's provider data, also when the verdict is a refusal.
    const CRYPT_PROVIDER_SGNR* signer() const {
        CRYPT_PROVIDER_DATA* provider = data_.hWVTStateData ? WTHelperProvDataFromStateData(data_.hWVTStateData) : nullptr;
        return provider ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    }

private:
    GUID action_ = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    WINTRUST_FILE_INFO file_{};
    WINTRUST_DATA data_{};
    LONG verdict_ = TRUST_E_NOSIGNATURE;
};

// The PE's certificate table, so that "unsigned" never depends on a trust API's error code.
bool carries_signature(const std::wstring& path) {
    win::UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD count = 0;
    return file && ImageEnumerateCertificates(file.get(), CERT_SECTION_TYPE_ANY, &count, nullptr, 0) && count > 0;
}

std::string name_attribute(PCCERT_CONTEXT cert, DWORD type, const char* oid) {
    void* type_para = const_cast<char*>(oid);
    const DWORD size = CertGetNameStringW(cert, type, 0, type_para, nullptr, 0);
    if (size <= 1) return {};
    std::wstring name(size, L'\0');
    CertGetNameStringW(cert, type, 0, type_para, name.data(), size);
    name.resize(size - 1);
    return win::from_wide(name);
}

bool has_code_signing_usage(PCCERT_CONTEXT cert) {
    DWORD size = 0;
    if (!CertGetEnhancedKeyUsage(cert, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, nullptr, &size)) return false;
    std::vector<BYTE> buffer(size);
    auto* usage = reinterpret_cast<CERT_ENHKEY_USAGE*>(buffer.data());
    if (!CertGetEnhancedKeyUsage(cert, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, usage, &size)) return false;
    for (DWORD i = 0; i < usage->cUsageIdentifier; ++i) {
        if (std::strcmp(usage->rgpszUsageIdentifier[i], szOID_PKIX_KP_CODE_SIGNING) == 0) return true;
    }
    return false;
}

std::int64_t unix_seconds(const FILETIME& time) {
    const std::int64_t ticks = (static_cast<std::int64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return (ticks - 116444736000000000LL) / 10000000LL;
}

CodeSigner signer_of(const CRYPT_PROVIDER_SGNR& sgnr) {
    CodeSigner signer;
    const CRYPT_PROVIDER_CERT* cert = WTHelperGetProvCertFromChain(const_cast<CRYPT_PROVIDER_SGNR*>(&sgnr), 0);
    if (!cert || !cert->pCert) return signer;
    const PCCERT_CONTEXT context = cert->pCert;
    signer.name = name_attribute(context, CERT_NAME_SIMPLE_DISPLAY_TYPE, nullptr);
    signer.organization = name_attribute(context, CERT_NAME_ATTR_TYPE, szOID_ORGANIZATION_NAME);
    signer.locality = name_attribute(context, CERT_NAME_ATTR_TYPE, szOID_LOCALITY_NAME);
    signer.state = name_attribute(context, CERT_NAME_ATTR_TYPE, szOID_STATE_OR_PROVINCE_NAME);
    signer.country = name_attribute(context, CERT_NAME_ATTR_TYPE, szOID_COUNTRY_NAME);
    signer.code_signing_usage = has_code_signing_usage(context);
    signer.not_before = unix_seconds(context->pCertInfo->NotBefore);
    signer.not_after = unix_seconds(context->pCertInfo->NotAfter);
    // With a counter-signature the trust API verifies as of its time.
    if (sgnr.csCounterSigners > 0) signer.timestamp = unix_seconds(sgnr.sftVerifyAsOf);
    return signer;
}

// Read once: the running image does not change while it runs.
const CodeSignature& running_signature() {
    static const CodeSignature signature = [] {
        const auto exe = executable_path();
        return exe ? authenticode_signature(*exe) : CodeSignature{};
    }();
    return signature;
}

// A copy of the running program as "Update\updater.exe", started with --apply-update; the
// copy is the updater so that the installed executable is never open while it is replaced.
Status start_updater() {
    const auto exe = executable_path();
    if (!exe) return exe.error();
    const auto folder = parent_folder(*exe);
    if (!folder) return make_error("설치 디렉터리가 없습니다.");
    const fs::path update_folder = *folder / kUpdateFolder;
    std::error_code ec;
    fs::create_directories(update_folder, ec);
    if (ec) return file_system_error(ec);
    const fs::path updater = update_folder / kUpdaterName;
    if (auto copied = copy_file_atomic(*exe, updater); !copied) return copied.error();
    auto child = ipc::start_program(updater, L"--apply-update", CREATE_NO_WINDOW);
    if (!child) return make_error("업데이트 도우미 시작 실패: " + win::system_message(child.error().os_code));
    return {};
}

void record_failed(const fs::path& record_path) {
    UpdateState record = read_update_state(record_path);
    record.status = UpdateStatus::Failed;
    (void)write_update_state(record, record_path);
}

void check_under_lock(const fs::path& record_path) {
    auto lock = ipc::acquire_content_lock();
    CheckOutcome outcome;
    if (!lock) {
        outcome.error = lock.error().message;
    } else {
        CheckInputs inputs;
        inputs.fetch = download_bytes;
        inputs.windows_build = windows_build_number;
        inputs.running = current_build_version();
        inputs.rolled_back = read_update_state(record_path).rolled_back_build;
        inputs.running_signature = running_signature();
        inputs.signature_of = authenticode_signature;
        inputs.now_seconds = static_cast<std::int64_t>(utc_seconds_now());
        outcome = check_and_stage(executable_folder(), inputs);
    }
    const UpdateState record = record_outcome(read_update_state(record_path), outcome);
    if (!write_update_state(record, record_path)) return;
    // The updater starts while this check still holds the lock; it stops this process.
    if (outcome.kind == CheckOutcome::Staged && !start_updater()) record_failed(record_path);
}

// The worker: the error texts of the check are not shown anywhere, only the status stays.
void run_update_check(fs::path record_path, win::UniqueHandle check_event) noexcept {
    CheckFlagClaim flag;
    win::UniqueHandle event = std::move(check_event);
    try {
        check_under_lock(record_path);
    } catch (...) {
        try {
            record_failed(record_path);
        } catch (...) {
        }
    }
}

}  // namespace

CodeSignature authenticode_signature(const fs::path& file) {
    const std::wstring path = file.wstring();
    if (!carries_signature(path)) return {};
    const TrustVerification verification(path);
    const CRYPT_PROVIDER_SGNR* sgnr = verification.signer();
    CodeSignature signature;
    signature.kind = verification.trusted() && sgnr ? CodeSignature::Trusted : CodeSignature::Invalid;
    if (sgnr) signature.signer = signer_of(*sgnr);
    return signature;
}

Result<Bytes> download_release_file(const ReleaseFile& entry) {
    return download_release_file_with(download_bytes, entry);
}

bool update_check_running() { return g_check_running.load(); }

Result<CheckStart> start_update_check(CheckMode mode, std::optional<std::uint64_t> slot) {
    // The automatic check is the service's to skip; the button is stopped here.
    if (mode == CheckMode::Manual && !read_policy().manual_update_check.value_or(true))
        return make_error("관리자가 정책으로 업데이트 확인을 막았습니다.");
    const auto folder = executable_folder();
    if (!folder) return make_error(kNoFolderMessage);
    if (g_check_running.exchange(true)) return CheckStart::NotStarted;
    CheckFlagClaim flag;
    win::UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, ipc::kUpdateCheckName));
    if (!event) return win::last_win32_error("업데이트 검사 잠금 생성 실패", win::CodeText::AfterColon);
    if (GetLastError() == ERROR_ALREADY_EXISTS) return CheckStart::NotStarted;

    // Read only once the check is ours, so that another check's result is never overwritten.
    const fs::path record_path = *folder / kUpdateStateFile;
    UpdateState record = read_update_state(record_path);
    if (mode == CheckMode::Automatic && slot) record = begin_automatic_check(record, *slot, utc_seconds_now());

    record.status = UpdateStatus::Checking;
    if (auto written = write_update_state(record, record_path); !written) {
        return make_error("업데이트 상태 저장 실패: " + written.error().message);
    }
    try {
        std::thread(run_update_check, record_path, std::move(event)).detach();
    } catch (...) {
        // No worker: the flag and the event go with this scope, and no check is left "checking".
        try {
            record_failed(record_path);
        } catch (...) {
        }
        return CheckStart::NotStarted;
    }
    // The worker owns the flag now.
    flag.owned = false;
    return CheckStart::Started;
}

void update_tick() {
    if (update_check_running()) return;
    try {
        const auto folder = executable_folder();
        if (!folder) return;
        const UpdateState record = read_update_state(*folder / kUpdateStateFile);
        const auto slot = automatic_check_slot(record, current_update_slot(), utc_seconds_now());
        if (!slot) return;
        (void)start_update_check(CheckMode::Automatic, slot);
    } catch (...) {
        // The service's refresh goes on; the next tick decides again.
    }
}

std::string update_status_line() {
    const auto folder = executable_folder();
    const fs::path record_path = folder ? *folder / kUpdateStateFile : fs::path(kUpdateStateFile);
    const CodeSignature& signature = running_signature();
    const std::string signer = signature.kind == CodeSignature::Trusted ? signature.signer.name : "";
    return update_status_line_for(current_build_version(), read_update_state(record_path), signer);
}

}  // namespace veltrane
