#include "setup_outcome.h"

#include "ipc/ipc.h"

namespace veltrane {

SetupOutcome succeeded(std::string text, unsigned icon) { return {std::move(text), icon, kExitSuccess}; }

SetupOutcome failed(std::string text, const Error& cause) {
    return {std::move(text), 0x10, cause.os_code == ipc::kSetupBusyCode ? kExitBusy : kExitFailure};
}

std::string result_record(std::string_view command, const SetupOutcome& outcome) {
    return "Veltrane_Desktop.exe " + std::string(command) + "\n종료 코드: " + std::to_string(outcome.exit_code) +
           "\n\n" + outcome.text + "\n";
}

}  // namespace veltrane
