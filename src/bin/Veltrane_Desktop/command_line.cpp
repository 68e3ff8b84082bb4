#include "command_line.h"

namespace veltrane {
namespace {

bool is_blank(char16_t c) { return c == u' ' || c == u'\t'; }

// Consumes a run of backslashes at line[i] and what they mean before the next character.
// Returns true when they ended in a quote that is to be taken literally.
bool take_backslashes(std::u16string_view line, std::size_t& i, std::u16string& arg) {
    std::size_t count = 0;
    while (i < line.size() && line[i] == u'\\') {
        ++count;
        ++i;
    }
    if (i >= line.size() || line[i] != u'"') {
        arg.append(count, u'\\');
        return false;
    }
    arg.append(count / 2, u'\\');
    if (count % 2 == 0) return false;
    arg.push_back(u'"');
    ++i;
    return true;
}

}  // namespace

std::vector<std::u16string> split_command_line(std::u16string_view line, std::u16string_view program_path) {
    std::vector<std::u16string> args;
    std::size_t i = 0;
    for (;;) {
        while (i < line.size() && is_blank(line[i])) ++i;
        if (i >= line.size()) break;
        std::u16string arg;
        bool quoted = false;
        while (i < line.size() && (quoted || !is_blank(line[i]))) {
            const char16_t c = line[i];
            if (c == u'\\') {
                take_backslashes(line, i, arg);
            } else if (c == u'"') {
                if (quoted && i + 1 < line.size() && line[i + 1] == u'"') {
                    arg.push_back(u'"');
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
            } else {
                arg.push_back(c);
                ++i;
            }
        }
        args.push_back(std::move(arg));
    }
    if (args.empty()) args.emplace_back(program_path);
    return args;
}

Mode mode_of(const std::vector<std::u16string>& args) {
    if (args.size() < 2) return Mode::Setup;
    const std::u16string& s = args[1];
    if (s == u"--uninstall-helper") return Mode::UninstallHelper;
    if (s == u"--run") return Mode::Service;
    if (s == u"--watchdog") return Mode::Watchdog;
    if (s == u"--apply-update") return Mode::ApplyUpdate;
    if (s == u"--rollback-helper") return Mode::RollbackHelper;
    if (s == u"--install") return Mode::Install;
    if (s == u"--remove") return Mode::Remove;
    return Mode::Setup;
}

bool is_quiet(const std::vector<std::u16string>& args) { return args.size() > 2 && args[2] == u"--quiet"; }

std::optional<std::uint64_t> parse_decimal(std::u16string_view text, std::uint64_t max) {
    if (!text.empty() && text.front() == u'+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9') return std::nullopt;
        const std::uint64_t digit = static_cast<std::uint64_t>(c - u'0');
        if (value > (max - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

std::optional<WatchdogTarget> watchdog_target(const std::vector<std::u16string>& args) {
    if (args.size() < 4) return std::nullopt;
    const auto pid = parse_decimal(args[2], UINT32_MAX);
    const auto created = parse_decimal(args[3], UINT64_MAX);
    if (!pid || !created) return std::nullopt;
    return WatchdogTarget{static_cast<std::uint32_t>(*pid), *created};
}

}  // namespace veltrane
