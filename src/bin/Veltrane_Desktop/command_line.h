// The command line of Veltrane_Desktop.exe: splitting by the Windows rules, the mode switch
// of the first argument and the watchdog's two numbers. Portable, so that every rule is
// tested on the host as well.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veltrane {

// Blanks and tabs separate; double quotes group; backslashes are literal unless they precede
// a quote (2n give n and a grouping quote, 2n+1 give n and a literal quote); a doubled quote
// inside a quoted run is a literal quote. An empty command line stands for the program path.
std::vector<std::u16string> split_command_line(std::u16string_view line, std::u16string_view program_path);

enum class Mode { UninstallHelper, Service, Watchdog, ApplyUpdate, RollbackHelper, Install, Remove, Setup };

// Exact, case-sensitive switches in a fixed order; anything else (a slash form, another
// letter case, no argument) is the set-up dialogue or the settings window.
Mode mode_of(const std::vector<std::u16string>& args);

// "--quiet" right after "--install" or "--remove": no window, the outcome is the exit code.
bool is_quiet(const std::vector<std::u16string>& args);

struct WatchdogTarget {
    std::uint32_t process_id = 0;
    std::uint64_t creation_time = 0;
    friend bool operator==(const WatchdogTarget&, const WatchdogTarget&) = default;
};

// Arguments 2 and 3; nothing when one is missing or not a plain decimal of its width.
std::optional<WatchdogTarget> watchdog_target(const std::vector<std::u16string>& args);

// Decimal digits with an optional leading "+"; empty, a lone sign or an overflow is nothing.
std::optional<std::uint64_t> parse_decimal(std::u16string_view text, std::uint64_t max);

}  // namespace veltrane
