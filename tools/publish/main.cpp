// veltrane-publish: the release-signing tool of the people who publish releases. A program
// of its own, never part of Veltrane_Desktop.exe.
//   keygen SECRET_KEY_FILE
//   release --secret-key FILE --site FOLDER [--ring NAME] [--minimum-windows-build N] [AUTHENTICODE] EXECUTABLE FONT
//   ring --site FOLDER [--rings FILE] | ring define NAME ... | ring remove NAME ... | ring promote FROM TO ... | ring halt NAME ...
//   sign AUTHENTICODE EXECUTABLE
//   verify --key HEX [--ca-file PEM] MANIFEST SIGNATURE [EXECUTABLE]
//   content --site FOLDER --image PNG --text TXT
//   duty --site FOLDER --duty TXT
//   fleet --log ACCESS_LOG [--stale-hours N]
#include <sodium.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "authenticode.h"
#include "compose.h"
#include "content.h"
#include "fleet.h"
#include "file_util/text.h"
#include "key_file.h"
#include "release.h"
#include "rings.h"

namespace {

using namespace veltrane;
using namespace veltrane::publish;

constexpr const char* kUsage =
    "usage:\n"
    "  veltrane-publish keygen SECRET_KEY_FILE\n"
    "  veltrane-publish release --secret-key FILE --site FOLDER [--ring NAME] [--minimum-windows-build N]\n"
    "                           [AUTHENTICODE] EXECUTABLE FONT\n"
    "  veltrane-publish ring --site FOLDER [--rings RING_FILE]\n"
    "  veltrane-publish ring define NAME --site FOLDER --rings RING_FILE [--addresses CIDR,...] [--share PERCENT]\n"
    "  veltrane-publish ring remove NAME --site FOLDER --rings RING_FILE\n"
    "  veltrane-publish ring promote FROM TO --site FOLDER\n"
    "  veltrane-publish ring halt NAME --site FOLDER\n"
    "  veltrane-publish sign AUTHENTICODE EXECUTABLE\n"
    "  veltrane-publish verify --key HEX [--ca-file PEM] MANIFEST SIGNATURE [EXECUTABLE]\n"
    "  veltrane-publish content --site FOLDER --image PNG --text TXT\n"
    "  veltrane-publish duty --site FOLDER --duty TXT\n"
    "  veltrane-publish fleet --log ACCESS_LOG [--stale-hours N]\n"
    "AUTHENTICODE (on Debian, with osslsigncode):\n"
    "  (--sign-pkcs12 FILE | --sign-cert CHAIN.pem --sign-key KEY.pem)\n"
    "  [--sign-password-file FILE | --sign-password-env VARIABLE] [--timestamp-url URL]\n";

int fail(const std::string& message) {
    std::fprintf(stderr, "veltrane-publish: %s\n", message.c_str());
    return 1;
}

int usage() {
    std::fputs(kUsage, stderr);
    return 1;
}

// Splits "--name value" options from positional arguments.
struct Arguments {
    std::vector<std::pair<std::string, std::string>> options;
    std::vector<std::string> positional;
    bool ok = true;

    const std::string* option(std::string_view name) const {
        for (const auto& [key, value] : options) {
            if (key == name) return &value;
        }
        return nullptr;
    }
};

constexpr std::string_view kAuthenticodeOptions[] = {"--sign-pkcs12",        "--sign-cert",         "--sign-key",
                                                     "--sign-password-file", "--sign-password-env", "--timestamp-url"};

// Whether every option given is one of these or, where allowed, an Authenticode option.
bool only_options(const Arguments& a, std::initializer_list<std::string_view> known, bool authenticode = false) {
    for (const auto& [name, value] : a.options) {
        const bool signing = std::find(std::begin(kAuthenticodeOptions), std::end(kAuthenticodeOptions), name) !=
                             std::end(kAuthenticodeOptions);
        if (std::find(known.begin(), known.end(), name) == known.end() && !(authenticode && signing)) return false;
    }
    return true;
}

// The Authenticode options of release and sign; nothing when none is given.
Result<std::optional<SigningCredentials>> authenticode_options(const Arguments& a) {
    const std::string* pkcs12 = a.option("--sign-pkcs12");
    const std::string* cert = a.option("--sign-cert");
    const std::string* key = a.option("--sign-key");
    const std::string* password_file = a.option("--sign-password-file");
    const std::string* password_variable = a.option("--sign-password-env");
    const std::string* timestamp = a.option("--timestamp-url");
    if (!pkcs12 && !cert && !key) {
        if (password_file || password_variable || timestamp) {
            return make_error("--sign-password-file, --sign-password-env and --timestamp-url go with --sign-pkcs12 or --sign-cert");
        }
        return std::optional<SigningCredentials>();
    }
    if (pkcs12 ? (cert || key) : !(cert && key)) return make_error("give --sign-pkcs12 FILE, or --sign-cert CHAIN --sign-key KEY");
    if (password_file && password_variable) return make_error("give --sign-password-file or --sign-password-env, not both");
    SigningCredentials credentials;
    if (pkcs12) credentials.pkcs12 = utf8_to_path(*pkcs12);
    if (cert) credentials.certificates = utf8_to_path(*cert);
    if (key) credentials.key = utf8_to_path(*key);
    if (password_file) credentials.password_file = utf8_to_path(*password_file);
    if (password_variable) credentials.password_variable = *password_variable;
    if (timestamp) credentials.timestamp_url = *timestamp;
    return std::optional<SigningCredentials>(std::move(credentials));
}

void print_signer(const AuthenticodeSigner& signer) {
    std::printf("Authenticode signer: %s\n", signer.subject.c_str());
    std::printf("  issuer %s, serial %s, valid until %s\n", signer.issuer.c_str(), signer.serial.c_str(),
                signer.not_after.c_str());
    std::printf("  time stamp: %s\n", signer.timestamp.empty() ? "none" : signer.timestamp.c_str());
}

void print_warnings(const std::vector<std::string>& warnings) {
    for (const std::string& warning : warnings) std::fprintf(stderr, "veltrane-publish: warning: %s\n", warning.c_str());
}

Arguments split(const std::vector<std::string>& args) {
    Arguments a;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i].rfind("--", 0) == 0) {
            if (i + 1 >= args.size() || a.option(args[i])) a.ok = false;
            else a.options.emplace_back(args[i], args[i + 1]);
            ++i;
        } else {
            a.positional.push_back(args[i]);
        }
    }
    return a;
}

int keygen(const Arguments& a) {
    if (!a.options.empty() || a.positional.size() != 1) return usage();
    SecretSeed seed{};
    randombytes_buf(seed.data(), seed.size());
    std::string text = format_secret_key(seed);
    const auto created = create_private_file(utf8_to_path(a.positional[0]), text);
    sodium_memzero(text.data(), text.size());
    if (!created) return fail("cannot create " + a.positional[0] + ": " + created.error().message);
    const std::string key = encode_hex(public_key_of(seed));
    sodium_memzero(seed.data(), seed.size());
    std::printf("secret key written to %s (readable by its owner only; keep it offline)\n", a.positional[0].c_str());
    std::printf("public key: %s\n", key.c_str());
    std::printf("build the program with: -DVELTRANE_UPDATE_SIGNING_KEY=%s\n", key.c_str());
    return 0;
}

int release(const Arguments& a) {
    const std::string* key_file = a.option("--secret-key");
    const std::string* site = a.option("--site");
    const std::string* minimum = a.option("--minimum-windows-build");
    const std::string* ring = a.option("--ring");
    if (!key_file || !site || a.positional.size() != 2 ||
        !only_options(a, {"--secret-key", "--site", "--minimum-windows-build", "--ring"}, true)) {
        return usage();
    }
    auto authenticode = authenticode_options(a);
    if (!authenticode) return fail(authenticode.error().message);
    ReleaseOptions options;
    options.authenticode = *authenticode;
    options.site = utf8_to_path(*site);
    options.executable = utf8_to_path(a.positional[0]);
    options.font = utf8_to_path(a.positional[1]);
    if (ring) options.ring = *ring;
    if (minimum) {
        if (minimum->empty() || minimum->size() > 10 || minimum->find_first_not_of("0123456789") != std::string::npos ||
            std::stoull(*minimum) > 0xFFFFFFFFull) {
            return fail("--minimum-windows-build takes a decimal build number");
        }
        options.minimum_windows_build = static_cast<std::uint32_t>(std::stoull(*minimum));
    }
    auto seed = read_secret_key(utf8_to_path(*key_file));
    if (!seed) return fail(seed.error().message);
    const auto published = publish_release(options, *seed);
    sodium_memzero(seed->data(), seed->size());
    if (!published) return fail(published.error().message);
    std::printf("release %s\n", format_build_version(published->identity.version).c_str());
    std::printf("origin %s\n", published->identity.origin.c_str());
    std::printf("signing key %s\n", encode_hex(published->identity.key).c_str());
    std::printf("site folder %s\n", path_to_utf8(published->folder).c_str());
    std::printf("ring %s\n", options.ring.c_str());
    if (published->authenticode) print_signer(*published->authenticode);
    else std::puts("Authenticode: the executable is published as it was given (no --sign-pkcs12 or --sign-cert)");
    print_warnings(published->warnings);
    std::printf("update.json:\n%s", published->manifest.c_str());
    std::printf("update.json.sig: %s", published->signature.c_str());
    return 0;
}

int sign(const Arguments& a) {
    if (a.positional.size() != 1 || !only_options(a, {}, true)) return usage();
    auto credentials = authenticode_options(a);
    if (!credentials) return fail(credentials.error().message);
    if (!*credentials) return fail("sign needs --sign-pkcs12 FILE, or --sign-cert CHAIN --sign-key KEY");
    const std::filesystem::path executable = utf8_to_path(a.positional[0]);
    auto bytes = read_limited(executable, kExecutableSizeLimit);
    if (!bytes) return fail("cannot read " + a.positional[0] + ": " + bytes.error().message);
    auto signed_executable = sign_executable(*bytes, **credentials);
    if (!signed_executable) return fail("cannot sign " + a.positional[0] + ": " + signed_executable.error().message);
    if (auto written = write_file_atomic(executable, signed_executable->bytes); !written) {
        return fail("cannot write " + a.positional[0] + ": " + written.error().message);
    }
    print_signer(signed_executable->signer);
    print_warnings(signed_executable->warnings);
    return 0;
}

// With an executable: that it is the manifest's, and its Authenticode signer beside the
// release signature.
int verify(const Arguments& a) {
    const std::string* key_text = a.option("--key");
    const std::string* ca_file = a.option("--ca-file");
    if (!key_text || !only_options(a, {"--key", "--ca-file"}) || a.positional.size() < 2 || a.positional.size() > 3) {
        return usage();
    }
    const auto key = decode_hex<32>(*key_text);
    if (!key) return fail("--key takes 64 hex digits");
    auto manifest = read_limited(utf8_to_path(a.positional[0]), kManifestLimit);
    if (!manifest) return fail("cannot read " + a.positional[0] + ": " + manifest.error().message);
    auto signature = read_limited(utf8_to_path(a.positional[1]), kSignatureLimit);
    if (!signature) return fail("cannot read " + a.positional[1] + ": " + signature.error().message);
    if (!verify_manifest_signature_with_key(*key, *manifest, *signature)) {
        std::puts("signature does NOT verify");
        return 1;
    }
    std::puts("signature verifies");
    if (a.positional.size() == 2) return 0;

    const std::string& path = a.positional[2];
    auto executable = read_limited(utf8_to_path(path), kExecutableSizeLimit);
    if (!executable) return fail("cannot read " + path + ": " + executable.error().message);
    const auto identity = find_release_identity(*executable);
    if (!identity) return fail(path + ": " + identity.error().message);
    const auto parsed = parse_update_manifest_for(identity->origin, *manifest);
    if (!parsed || parsed->version != identity->version || parsed->executable.size != executable->size() ||
        parsed->executable.sha256 != sha256(*executable)) {
        std::printf("%s is NOT the manifest's executable\n", path.c_str());
        return 1;
    }
    std::printf("%s is the manifest's executable (release %s)\n", path.c_str(),
                format_build_version(identity->version).c_str());
    const auto report = check_authenticode(utf8_to_path(path), ca_file ? utf8_to_path(*ca_file) : std::filesystem::path());
    if (!report) return fail(report.error().message);
    if (!report->signer) {
        std::puts("Authenticode: not signed");
        return 0;
    }
    print_signer(*report->signer);
    if (!report->verifies) {
        std::printf("Authenticode signature does NOT verify: %s\n", report->problem.c_str());
        return 1;
    }
    std::puts("Authenticode signature verifies");
    return 0;
}

std::string utc_now() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
#ifdef _WIN32
    gmtime_s(&tm, &now);
#else
    gmtime_r(&now, &tm);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

void warn_about_gaps(const std::vector<std::string>& warnings) {
    for (const std::string& warning : warnings) std::fprintf(stderr, "경고: %s\n", warning.c_str());
}

int content(const Arguments& a) {
    const std::string* site = a.option("--site");
    const std::string* image = a.option("--image");
    const std::string* text = a.option("--text");
    if (!site || !image || !text || a.options.size() != 3 || !a.positional.empty()) return usage();
    const auto checked = check_content(utf8_to_path(*site), utf8_to_path(*image), utf8_to_path(*text));
    if (!checked) return fail(checked.error().message);
    std::fputs(preview::block_size_report(checked->block_width, checked->block_height).c_str(), stdout);
    if (checked->roster_warning) {
        std::fprintf(stderr, "경고: 사이트의 당직표가 이 콘텐츠에 맞지 않아 당직 박스 없이 표시됩니다.\n%s\n",
                     checked->roster_warning->c_str());
    }
    warn_about_gaps(checked->gap_warnings);
    const auto published = publish_content(utf8_to_path(*site), utf8_to_path(*image), utf8_to_path(*text), utc_now());
    if (!published) return fail(published.error().message);
    std::printf("imageEtag %s\ntextEtag %s\n", published->image_tag.c_str(), published->text_tag.c_str());
    return 0;
}

int duty(const Arguments& a) {
    const std::string* site = a.option("--site");
    const std::string* roster = a.option("--duty");
    if (!site || !roster || a.options.size() != 2 || !a.positional.empty()) return usage();
    const auto published = publish_duty(utf8_to_path(*site), utf8_to_path(*roster));
    if (!published) return fail(published.error().message);
    warn_about_gaps(*published);
    std::puts("duty roster published");
    return 0;
}

int fleet(const Arguments& a) {
    const std::string* log = a.option("--log");
    const std::string* hours = a.option("--stale-hours");
    if (!log || !a.positional.empty() || a.options.size() != (hours ? 2u : 1u)) return usage();
    std::int64_t stale_hours = 12;
    if (hours) {
        if (hours->empty() || hours->size() > 6 || hours->find_first_not_of("0123456789") != std::string::npos) {
            return fail("--stale-hours takes a whole number of hours");
        }
        stale_hours = std::stoll(*hours);
    }
    const auto read = read_fleet(utf8_to_path(*log));
    if (!read) return fail(read.error().message);
    for (const std::string& warning : read->warnings) std::fprintf(stderr, "veltrane-publish: %s\n", warning.c_str());
    std::fputs(fleet_report(*read, static_cast<std::int64_t>(std::time(nullptr)), stale_hours).c_str(), stdout);
    if (read->read_lines == 0 && read->skipped_lines > 0) {
        return fail("no line of " + *log + " is in the log format of veltrane-site.conf; is it the access_log "
                    "that the site file declares?");
    }
    return 0;
}

std::string version_text(const std::optional<BuildVersion>& v) { return v ? format_build_version(*v) : "none"; }

constexpr const char* kReload = "reload nginx to apply it: nginx -t && systemctl reload nginx\n";

int list_rings(const std::filesystem::path& site, const std::string* ring_file) {
    std::vector<RingDefinition> definitions;
    if (ring_file) {
        auto read = read_ring_file(utf8_to_path(*ring_file));
        if (!read) return fail(read.error().message);
        definitions = std::move(*read);
    }
    for (const std::string& name : site_rings(site)) {
        const auto release = ring_release(site, name);
        if (!release) return fail(release.error().message);
        std::string line = "ring " + name + ": serves " + version_text(release->served);
        if (name != kAllRing && !release->own) line += " (follows all)";
        line += release->can_halt ? ", halt goes back to " + version_text(release->previous) : ", nothing to halt";
        for (const RingDefinition& d : definitions) {
            if (d.name != name) continue;
            for (const std::string& range : d.addresses) line += ", address " + range;
            if (d.share) line += ", " + std::to_string(d.share) + " % of identities";
        }
        std::printf("%s\n", line.c_str());
    }
    for (const RingDefinition& d : definitions) {
        if (!std::filesystem::is_directory(ring_folder(site, d.name))) {
            std::printf("ring %s: defined in the ring file but not in the site\n", d.name.c_str());
        }
    }
    return 0;
}

Status write_rings(const std::string& ring_file, const std::vector<RingDefinition>& rings) {
    auto text = format_ring_file(rings);
    if (!text) return text.take_error();
    return write_file_atomic(utf8_to_path(ring_file), *text);
}

int rings(const Arguments& a) {
    const std::string* site_text = a.option("--site");
    const std::string* ring_file = a.option("--rings");
    if (!site_text) return usage();
    const std::filesystem::path site = utf8_to_path(*site_text);
    const std::vector<std::string>& p = a.positional;
    if (p.empty()) return only_options(a, {"--site", "--rings"}) ? list_rings(site, ring_file) : usage();
    if ((p[0] == "define" || p[0] == "remove") && p.size() == 2 && ring_file) {
        const std::string* addresses = a.option("--addresses");
        const std::string* share = a.option("--share");
        if (p[0] == "remove" ? !only_options(a, {"--site", "--rings"})
                             : !only_options(a, {"--site", "--rings", "--addresses", "--share"})) {
            return usage();
        }
        auto definitions = read_ring_file(utf8_to_path(*ring_file));
        if (!definitions) return fail(definitions.error().message);
        // A ring keeps its place in the list, and with it the band of identities its share takes.
        const auto same = std::find_if(definitions->begin(), definitions->end(), [&](const RingDefinition& d) { return d.name == p[1]; });
        const auto place = definitions->erase(same, same == definitions->end() ? same : same + 1) - definitions->begin();
        if (p[0] == "define") {
            if (!addresses && !share) return fail("a ring needs --addresses, --share or both");
            RingDefinition ring{p[1], {}, 0};
            if (addresses) {
                for (std::size_t at = 0; at <= addresses->size();) {
                    const std::size_t end = std::min(addresses->find(',', at), addresses->size());
                    ring.addresses.push_back(addresses->substr(at, end - at));
                    at = end + 1;
                }
            }
            if (share) {
                if (share->empty() || share->size() > 3 || share->find_first_not_of("0123456789") != std::string::npos ||
                    std::stoul(*share) < 1 || std::stoul(*share) > 100) {
                    return fail("--share takes a whole percentage from 1 to 100");
                }
                ring.share = static_cast<unsigned>(std::stoul(*share));
            }
            definitions->insert(definitions->begin() + place, std::move(ring));
            // The folder first: until nginx reloads, nobody is placed in the ring anyway.
            if (auto added = add_ring_folder(site, p[1]); !added) return fail(added.error().message);
        }
        if (auto written = write_rings(*ring_file, *definitions); !written) return fail(written.error().message);
        if (p[0] == "remove") {
            if (auto removed = remove_ring_folder(site, p[1]); !removed) return fail(removed.error().message);
        }
        std::printf("ring file %s written\n%s", ring_file->c_str(), kReload);
        return 0;
    }
    if (!only_options(a, {"--site"})) return usage();
    if (p[0] == "promote" && p.size() == 3) {
        const auto promoted = promote_ring(site, p[1], p[2]);
        if (!promoted) return fail(promoted.error().message);
        std::printf("ring %s now serves %s (no nginx reload needed)\n", p[2].c_str(), format_build_version(*promoted).c_str());
        return 0;
    }
    if (p[0] == "halt" && p.size() == 2) {
        const auto halted = halt_ring(site, p[1]);
        if (!halted) return fail(halted.error().message);
        const auto now = ring_release(site, p[1]);
        std::printf("ring %s halted: it serves %s again; installations that took a newer build keep it "
                    "(no nginx reload needed)\n",
                    p[1].c_str(), now ? version_text(now->served).c_str() : "?");
        return 0;
    }
    return usage();
}

int run(const std::vector<std::string>& args) {
    if (sodium_init() < 0) return fail("libsodium failed to initialise");
    if (args.empty()) return usage();
    const Arguments a = split(args);
    if (!a.ok) return usage();
    if (args[0] == "keygen") return keygen(a);
    if (args[0] == "release") return release(a);
    if (args[0] == "sign") return sign(a);
    if (args[0] == "verify") return verify(a);
    if (args[0] == "content") return content(a);
    if (args[0] == "duty") return duty(a);
    if (args[0] == "fleet") return fleet(a);
    if (args[0] == "ring") return rings(a);
    return usage();
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::wstring_view w(argv[i]);
        args.push_back(veltrane::utf16_to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(w.data()), w.size())));
    }
    return run(args);
}
#else
int main(int argc, char** argv) { return run(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
