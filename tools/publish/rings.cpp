#include "rings.h"

#include <algorithm>
#include <system_error>

#include "file_util/file_util.h"
#include "file_util/text.h"
#include "release.h"
#include "update/update_manifest.h"

namespace veltrane::publish {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view kRingLine = "# ring ";
constexpr std::uint64_t kRingFileLimit = 1 << 20;
constexpr const char* kHistoryFolder = "previous";
constexpr const char* kManifest = "update.json";
constexpr const char* kSignature = "update.json.sig";

// Joined by appending: GCC 12 at -O3 warns falsely about "literal" + std::string chains.
std::string joined(std::initializer_list<std::string_view> parts) {
    std::string out;
    for (const std::string_view part : parts) out.append(part);
    return out;
}

bool all_of(std::string_view s, bool (*accept)(char)) { return std::all_of(s.begin(), s.end(), accept); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::optional<unsigned> small_number(std::string_view s, unsigned max) {
    if (s.empty() || s.size() > 3 || !all_of(s, is_digit) || (s.size() > 1 && s[0] == '0')) return std::nullopt;
    const unsigned v = static_cast<unsigned>(std::stoul(std::string(s)));
    if (v > max) return std::nullopt;
    return v;
}

std::vector<std::string_view> split(std::string_view s, char by) {
    std::vector<std::string_view> parts;
    for (std::size_t at = 0;;) {
        const std::size_t end = s.find(by, at);
        parts.push_back(s.substr(at, end - at));
        if (end == std::string_view::npos) return parts;
        at = end + 1;
    }
}

// The identities whose first byte lies in [low, high): a regular expression over the header,
// which also refuses anything but a well-formed identity.
std::string share_pattern(unsigned low, unsigned high) {
    constexpr std::string_view hex = "0123456789abcdef";
    std::string alternatives;
    for (unsigned nibble = 0; nibble < 16; ++nibble) {
        std::string digits;
        for (unsigned low_nibble = 0; low_nibble < 16; ++low_nibble) {
            const unsigned byte = nibble * 16 + low_nibble;
            if (byte >= low && byte < high) digits += hex[low_nibble];
        }
        if (digits.empty()) continue;
        if (!alternatives.empty()) alternatives += "|";
        alternatives += hex[nibble];
        alternatives += digits.size() == 16 ? std::string("[0-9a-f]") : joined({"[", digits, "]"});
    }
    return joined({"~^(?:", alternatives, ")[0-9a-f]{30}$"});
}

fs::path history_folder(const fs::path& site, std::string_view ring) { return ring_folder(site, ring) / kHistoryFolder; }

Result<std::optional<BuildVersion>> version_in(const fs::path& folder) { return manifest_version(folder / kManifest); }

bool present(const fs::path& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

Result<std::pair<Bytes, Bytes>> read_pair(const fs::path& folder) {
    auto manifest = read_limited(folder / kManifest, kManifestLimit);
    if (!manifest) return make_error("cannot read " + path_to_utf8(folder / kManifest) + ": " + manifest.error().message);
    auto signature = read_limited(folder / kSignature, kSignatureLimit);
    if (!signature) return make_error("cannot read " + path_to_utf8(folder / kSignature) + ": " + signature.error().message);
    return std::pair{std::move(*manifest), std::move(*signature)};
}

std::string as_text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// The folder whose pair the ring's installations are served: its own, or that of "all".
fs::path served_folder(const fs::path& site, std::string_view ring) {
    const fs::path own = ring_folder(site, ring);
    return present(own / kManifest) ? own : ring_folder(site, kAllRing);
}

// Without its pair a ring follows "all" again: the manifest goes first, since nginx takes
// each of the two files from the ring when it has it.
Status remove_pair(const fs::path& folder) {
    for (const char* name : {kManifest, kSignature}) {
        std::error_code ec;
        fs::remove(folder / name, ec);
        if (ec) return make_error("cannot remove " + path_to_utf8(folder / name) + ": " + ec.message());
    }
    return {};
}

Status check_ring(const fs::path& site, std::string_view ring) {
    if (ring == kAllRing) return {};
    if (!is_valid_ring_name(ring)) return make_error(joined({"\"", ring, "\" is no ring name"}));
    std::error_code ec;
    if (!fs::is_directory(ring_folder(site, ring), ec)) {
        return make_error(joined({"the site has no ring \"", ring, "\": define it with veltrane-publish ring define"}));
    }
    return {};
}

}  // namespace

bool is_valid_ring_name(std::string_view name) {
    if (name.empty() || name.size() > 32 || name == kAllRing || name[0] < 'a' || name[0] > 'z') return false;
    return all_of(name, [](char c) { return (c >= 'a' && c <= 'z') || is_digit(c) || c == '-'; });
}

bool is_valid_address_range(std::string_view range) {
    const std::size_t slash = range.find('/');
    const std::string_view address = range.substr(0, slash);
    const std::string_view prefix = slash == std::string_view::npos ? std::string_view() : range.substr(slash + 1);
    if (address.find(':') == std::string_view::npos) {
        const auto octets = split(address, '.');
        if (octets.size() != 4) return false;
        for (const std::string_view octet : octets) {
            if (!small_number(octet, 255)) return false;
        }
        return slash == std::string_view::npos || small_number(prefix, 32);
    }
    const bool hex = all_of(address, [](char c) { return is_digit(c) || (c >= 'a' && c <= 'f') || c == ':'; });
    return hex && address.size() <= 39 && (slash == std::string_view::npos || small_number(prefix, 128));
}

Result<std::string> format_ring_file(const std::vector<RingDefinition>& rings) {
    std::string head =
        "# Release rings of the Veltrane Desktop content server, included by veltrane-site.conf in\n"
        "# nginx's http block. Written by `veltrane-publish ring`: change rings with it, not by hand\n"
        "# (it reads back the \"# ring\" lines). A request's ring: an address range wins over a share\n"
        "# (the most specific range first); a share places only requests that carry an installation\n"
        "# identity, so builds that send none are placed by address or not at all; whatever no ring\n"
        "# places is \"all\", the site's own update.json.\n";
    std::string geo = "geo $veltrane_ring_by_address {\n    default \"\";\n";
    std::string share = "map $http_x_veltrane_install $veltrane_ring_by_share {\n    default \"\";\n";
    unsigned total = 0;
    for (const RingDefinition& ring : rings) {
        if (!is_valid_ring_name(ring.name)) return make_error(joined({"\"", ring.name, "\" is no ring name"}));
        head += std::string(kRingLine) + ring.name;
        if (!ring.addresses.empty()) {
            head += " addresses=";
            for (std::size_t i = 0; i < ring.addresses.size(); ++i) {
                if (!is_valid_address_range(ring.addresses[i])) return make_error(joined({"\"", ring.addresses[i], "\" is no address range"}));
                head += (i ? "," : "") + ring.addresses[i];
                geo += "    " + ring.addresses[i] + " " + ring.name + ";\n";
            }
        }
        if (ring.share) {
            if (total + ring.share > 100) return make_error("the rings' shares add up to more than 100 %");
            head += " share=" + std::to_string(ring.share);
            const unsigned low = (total * 256 + 50) / 100;
            total += ring.share;
            const unsigned high = (total * 256 + 50) / 100;
            share += "    \"" + share_pattern(low, high) + "\" " + ring.name + ";\n";
        }
        head += "\n";
    }
    return head + geo + "}\n" + share + "}\n" +
           "map \"$veltrane_ring_by_address:$veltrane_ring_by_share\" $veltrane_ring {\n"
           "    default \"\";\n"
           "    \"~^([a-z][a-z0-9-]*):\" $1;\n"
           "    \"~^:([a-z][a-z0-9-]*)$\" $1;\n"
           "}\n";
}

Result<std::vector<RingDefinition>> parse_ring_file(std::string_view text) {
    std::vector<RingDefinition> rings;
    for (std::string_view line : split(text, '\n')) {
        if (!line.starts_with(kRingLine)) continue;
        const auto words = split(line.substr(kRingLine.size()), ' ');
        RingDefinition ring;
        ring.name = std::string(words[0]);
        const auto bad = [&] { return make_error(joined({"the ring file's line \"", line, "\" is damaged"})); };
        if (!is_valid_ring_name(ring.name)) return bad();
        for (std::size_t i = 1; i < words.size(); ++i) {
            if (words[i].starts_with("addresses=")) {
                for (const std::string_view range : split(words[i].substr(10), ',')) ring.addresses.emplace_back(range);
            } else if (words[i].starts_with("share=")) {
                const auto share = small_number(words[i].substr(6), 100);
                if (!share) return bad();
                ring.share = *share;
            } else {
                return bad();
            }
        }
        rings.push_back(std::move(ring));
    }
    // What the file declares must be what it would be written as.
    if (auto again = format_ring_file(rings); !again) return again.take_error();
    return rings;
}

Result<std::vector<RingDefinition>> read_ring_file(const fs::path& path) {
    if (!present(path)) return std::vector<RingDefinition>{};
    auto text = read_text_limited(path, kRingFileLimit);
    if (!text) return make_error("cannot read the ring file " + path_to_utf8(path) + ": " + text.error().message);
    return parse_ring_file(*text);
}

fs::path ring_folder(const fs::path& site, std::string_view ring) {
    const fs::path folder = static_folder(site);
    return ring == kAllRing ? folder : folder / "rings" / fs::path(std::string(ring));
}

std::vector<std::string> site_rings(const fs::path& site) {
    std::vector<std::string> rings;
    std::error_code ec;
    for (fs::directory_iterator it(static_folder(site) / "rings", ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = path_to_utf8(it->path().filename());
        if (is_valid_ring_name(name) && it->is_directory(ec)) rings.push_back(name);
    }
    std::sort(rings.begin(), rings.end());
    rings.insert(rings.begin(), std::string(kAllRing));
    return rings;
}

Status add_ring_folder(const fs::path& site, std::string_view ring) {
    if (!is_valid_ring_name(ring)) return make_error(joined({"\"", ring, "\" is no ring name"}));
    std::error_code ec;
    fs::create_directories(ring_folder(site, ring), ec);
    if (ec) return make_error("cannot create " + path_to_utf8(ring_folder(site, ring)) + ": " + ec.message());
    return {};
}

Status remove_ring_folder(const fs::path& site, std::string_view ring) {
    if (!is_valid_ring_name(ring)) return make_error(joined({"\"", ring, "\" is no ring name"}));
    if (!present(ring_folder(site, ring))) return {};
    if (auto removed = remove_pair(ring_folder(site, ring)); !removed) return removed;
    return remove_tree(ring_folder(site, ring));
}

Result<RingRelease> ring_release(const fs::path& site, std::string_view ring) {
    if (auto checked = check_ring(site, ring); !checked) return checked.take_error();
    RingRelease out;
    auto own = version_in(ring_folder(site, ring));
    if (!own) return own.take_error();
    out.own = *own;
    auto served = version_in(served_folder(site, ring));
    if (!served) return served.take_error();
    out.served = *served;
    const fs::path history = history_folder(site, ring);
    out.can_halt = present(history);
    auto previous = version_in(history);
    if (!previous) return previous.take_error();
    out.previous = *previous;
    return out;
}

Status keep_ring_history(const fs::path& site, std::string_view ring) {
    if (auto checked = check_ring(site, ring); !checked) return checked;
    const fs::path history = history_folder(site, ring);
    std::error_code ec;
    fs::create_directories(history, ec);
    if (ec) return make_error("cannot create " + path_to_utf8(history) + ": " + ec.message());
    const fs::path served = served_folder(site, ring);
    // An empty history: the ring served nothing yet, and a halt takes its release away again.
    if (!present(served / kManifest)) return remove_pair(history);
    auto pair = read_pair(served);
    if (!pair) return pair.take_error();
    return replace_signed_pair(history, as_text(pair->first), as_text(pair->second));
}

Result<BuildVersion> promote_ring(const fs::path& site, std::string_view from, std::string_view to) {
    if (from == to) return make_error("a ring cannot be promoted to itself");
    if (auto checked = check_ring(site, from); !checked) return checked.take_error();
    if (auto checked = check_ring(site, to); !checked) return checked.take_error();
    const fs::path source = served_folder(site, from);
    auto version = version_in(source);
    if (!version) return version.take_error();
    if (!*version) return make_error(joined({"ring ", from, " serves no release"}));
    auto target = version_in(served_folder(site, to));
    if (!target) return target.take_error();
    if (*target && **target >= **version) {
        return make_error(joined({"ring ", to, " already serves ", format_build_version(**target), ", not older than ",
                                format_build_version(**version), " of ring ", from}));
    }
    auto pair = read_pair(source);
    if (!pair) return pair.take_error();
    if (auto kept = keep_ring_history(site, to); !kept) return kept.take_error();
    if (auto written = replace_signed_pair(ring_folder(site, to), as_text(pair->first), as_text(pair->second)); !written) {
        return written.take_error();
    }
    return **version;
}

Result<std::optional<BuildVersion>> halt_ring(const fs::path& site, std::string_view ring) {
    if (auto checked = check_ring(site, ring); !checked) return checked.take_error();
    const fs::path history = history_folder(site, ring);
    if (!present(history)) return make_error(joined({"ring ", ring, " has nothing to go back to"}));
    auto previous = version_in(history);
    if (!previous) return previous.take_error();
    const fs::path folder = ring_folder(site, ring);
    if (!*previous) {
        if (auto removed = remove_pair(folder); !removed) return removed.take_error();
    } else {
        auto pair = read_pair(history);
        if (!pair) return pair.take_error();
        auto all = ring == kAllRing || !present(ring_folder(site, kAllRing) / kManifest)
                       ? Result<std::pair<Bytes, Bytes>>(make_error(""))
                       : read_pair(ring_folder(site, kAllRing));
        if (all && all->first == pair->first) {
            if (auto removed = remove_pair(folder); !removed) return removed.take_error();
        } else if (auto written = replace_signed_pair(folder, as_text(pair->first), as_text(pair->second)); !written) {
            return written.take_error();
        }
    }
    if (auto removed = remove_tree(history); !removed) return removed.take_error();
    return *previous;
}

}  // namespace veltrane::publish
