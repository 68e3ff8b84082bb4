// How a set-up or removal ends: the text the dialogue shows, and for "--quiet" the exit code
// deployment tools judge it by and the record left in the temporary folder instead.
#pragma once

#include <string>
#include <string_view>

#include "file_util/result.h"

namespace veltrane {

// The codes every deployment tool knows from MSI.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1603;
inline constexpr int kExitBusy = 1618;  // another set-up, removal or update of this program runs

// The quiet forms' record, in the temporary folder: a share is often read-only.
inline constexpr const char* kResultRecordName = "Veltrane_Desktop-result.txt";

inline constexpr const char* kRunAsUserText =
    "벨트레인은 사용자별로 설치됩니다. SYSTEM 계정이 아니라 로그인한 사용자 계정으로 실행해 주세요.";

struct SetupOutcome {
    std::string text;  // empty: nothing to say (a question answered with No)
    unsigned icon = 0x40;
    int exit_code = kExitSuccess;
};

SetupOutcome succeeded(std::string text, unsigned icon = 0x40);
// A busy set-up lock (its error code) gives 1618, anything else 1603.
SetupOutcome failed(std::string text, const Error& cause = {});

// "--install --quiet" and the outcome, as IT reads it on a workstation.
std::string result_record(std::string_view command, const SetupOutcome& outcome);

}  // namespace veltrane
