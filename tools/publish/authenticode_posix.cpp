#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sodium.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sstream>
#include <utility>

#include "authenticode.h"
#include "file_util/text.h"
#include "file_util/white_space.h"
#include "update/update_manifest.h"

extern char** environ;

namespace veltrane::publish {
namespace fs = std::filesystem;
namespace {

// A time stamp server that does not answer must not hold the release for long; signing
// and checking a 32 MiB file take a second or two.
constexpr int kToolSeconds = 120;
constexpr int kTimestampSeconds = 30;
constexpr std::size_t kOutputLimit = 256 * 1024;
constexpr std::uint64_t kPasswordFileLimit = 4096;

Error errno_error(const std::string& what) {
    const int code = errno;
    return Error{what + ": " + std::strerror(code), static_cast<std::uint32_t>(code)};
}

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&&) = delete;
    ~Fd() { reset(); }
    int get() const { return fd_; }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

struct FolderRemover {
    fs::path path;
    ~FolderRemover() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

struct ToolRun {
    int exit_code = -1;
    std::string output;  // standard output and error together
};

// input: a descriptor for the child's standard input (read from its start), or -1 for none.
Result<ToolRun> run_tool(const std::vector<std::string>& argv, int input, int seconds) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return errno_error("cannot make a pipe");
    Fd reader(ends[0]), writer(ends[1]);
    if (input >= 0 && ::lseek(input, 0, SEEK_SET) != 0) return errno_error("cannot rewind the password");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (input >= 0) posix_spawn_file_actions_adddup2(&actions, input, 0);
    else posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, writer.get(), 1);
    posix_spawn_file_actions_adddup2(&actions, writer.get(), 2);
    // A session of its own has no terminal, so a tool cannot ask there for a password.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = ::posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    writer.reset();
    if (spawned == ENOENT) return make_error(argv[0] + " is not installed (apt-get install " + argv[0] + ")");
    if (spawned != 0) return make_error("cannot start " + argv[0] + ": " + std::strerror(spawned));

    ToolRun run;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    bool timed_out = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timed_out = true;
            break;
        }
        pollfd p{reader.get(), POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) {
            timed_out = ready == 0;
            break;
        }
        char buffer[4096];
        const ssize_t n = ::read(reader.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        run.output.append(buffer, std::min(static_cast<std::size_t>(n), kOutputLimit - run.output.size()));
    }
    if (timed_out) ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (timed_out) return make_error(argv[0] + " " + argv[1] + " did not finish within " + std::to_string(seconds) + " s");
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

// An OpenSSL error-stack line ("…:error:CODE:LIB:FUNC:REASON:FILE:LINE:DATA") as its reason
// and data, or nothing for the noise of trying one key format after another; any other
// line as it is, but for the advice to use the older kind of time stamp.
std::string readable(std::string_view line) {
    if (line.rfind("Use the \"-t\" option", 0) == 0) return {};
    const std::size_t at = line.find(":error:");
    if (at == std::string_view::npos || line.substr(0, at).find_first_not_of("0123456789ABCDEF") != std::string_view::npos) {
        return std::string(line);
    }
    std::vector<std::string_view> fields;  // code, library, function, reason, file, line
    std::size_t from = at + 7;
    while (fields.size() < 6 && from != std::string_view::npos) {
        const std::size_t end = line.find(':', from);
        fields.push_back(line.substr(from, end == std::string_view::npos ? std::string_view::npos : end - from));
        from = end == std::string_view::npos ? end : end + 1;
    }
    if (fields.size() < 4 || fields[1] == "DECODER routines" || fields[1] == "asn1 encoding routines") return {};
    std::string text(fields[3]);
    if (from != std::string_view::npos && from < line.size()) text += ": " + std::string(line.substr(from));
    return text;
}

// The tool's lines worth showing, for a message: all of them, or only those that tell of a
// failure.
std::string summary(const std::string& output, bool failures_only = false) {
    std::string text;
    std::istringstream lines(output);
    std::string line;
    std::vector<std::string> seen;
    while (std::getline(lines, line) && text.size() < 800) {
        const std::string shown = readable(trim_white_space(line));
        const std::string lower = ascii_lower(shown);
        if (shown.empty() || shown == "Failed" || shown == "Succeeded") continue;
        if (failures_only && lower.find("error") == std::string::npos && lower.find("fail") == std::string::npos &&
            lower.find("mismatch") == std::string::npos) {
            continue;
        }
        if (std::find(seen.begin(), seen.end(), shown) != seen.end()) continue;
        seen.push_back(shown);
        text += (text.empty() ? "" : "; ") + shown;
    }
    return text.empty() ? "no reason given" : text;
}

// The text after `label` and its colon, up to the line's end; empty when absent.
std::string value_after(const std::string& text, std::string_view label, std::size_t from = 0) {
    std::size_t at = text.find(label, from);
    if (at == std::string::npos) return {};
    at = text.find(':', at + label.size());
    const std::size_t end = text.find('\n', at);
    if (at == std::string::npos || end < at) return {};
    return std::string(trim_white_space(std::string_view(text).substr(at + 1, end == std::string::npos ? end : end - at - 1)));
}

// osslsigncode verify's report (2.5 and later word it alike): the primary signer, or none.
std::optional<AuthenticodeSigner> parse_signer(const std::string& output) {
    const std::size_t at = output.find("Signer's certificate:");
    if (at == std::string::npos) return std::nullopt;
    AuthenticodeSigner signer;
    signer.subject = value_after(output, "Subject", at);
    signer.issuer = value_after(output, "Issuer", at);
    signer.serial = value_after(output, "Serial", at);
    signer.not_after = value_after(output, "notAfter", at);
    signer.timestamp = value_after(output, "Timestamp time");               // 2.9
    if (signer.timestamp.empty()) signer.timestamp = value_after(output, "The signature is timestamped");  // 2.5
    if (signer.subject.empty() || signer.serial.empty()) return std::nullopt;
    return signer;
}

std::string normal_serial(std::string_view serial) {
    std::string upper(serial);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::size_t first = upper.find_first_not_of("0:");
    return first == std::string::npos ? "0" : upper.substr(first);
}

bool same_signer(const AuthenticodeSigner& a, const AuthenticodeSigner& b) {
    return a.subject == b.subject && a.issuer == b.issuer && normal_serial(a.serial) == normal_serial(b.serial);
}

std::string describe(const AuthenticodeSigner& signer) {
    return signer.subject + " (issuer " + signer.issuer + ", serial " + signer.serial + ")";
}

// The password's first line, or the variable's value; empty when none is configured.
Result<std::string> read_password(const SigningCredentials& credentials) {
    if (!credentials.password_file.empty()) {
        auto bytes = read_limited(credentials.password_file, kPasswordFileLimit);
        if (!bytes) return make_error("cannot read the password file " + path_to_utf8(credentials.password_file) + ": " +
                                      bytes.error().message);
        std::string password(bytes->begin(), bytes->end());
        sodium_memzero(bytes->data(), bytes->size());
        password.resize(std::min(password.find('\n'), password.size()));
        if (!password.empty() && password.back() == '\r') password.pop_back();
        return password;
    }
    if (!credentials.password_variable.empty()) {
        const char* value = std::getenv(credentials.password_variable.c_str());
        if (!value) return make_error("the environment variable " + credentials.password_variable + " is not set");
        return std::string(value);
    }
    return std::string();
}

// The password in an anonymous memory file, for the tools' standard input.
Result<Fd> password_input(const std::string& password) {
    if (password.empty()) return Fd();
    Fd fd(::memfd_create("password", MFD_CLOEXEC));
    if (fd.get() < 0) return errno_error("cannot hold the password for the signing tools");
    if (::write(fd.get(), password.data(), password.size()) != static_cast<ssize_t>(password.size())) {
        return errno_error("cannot hold the password for the signing tools");
    }
    return fd;
}

struct CertificateFacts {
    std::string serial, not_before, not_after;
    bool code_signing = false;
    bool key_usage = false;  // the extension is present
    bool digital_signature = false;
};

Result<CertificateFacts> certificate_facts(const fs::path& pem) {
    auto run = run_tool({"openssl", "x509", "-in", path_to_utf8(pem), "-noout", "-serial", "-startdate", "-enddate",
                         "-dateopt", "iso_8601", "-ext", "extendedKeyUsage,keyUsage"},
                        -1, kToolSeconds);
    if (!run) return run.take_error();
    if (run->exit_code != 0) {
        return make_error("openssl cannot read the signing certificate in " + path_to_utf8(pem) + ": " + summary(run->output));
    }
    CertificateFacts facts;
    std::istringstream lines(run->output);
    std::string line, section;
    while (std::getline(lines, line)) {
        const auto value = [&](std::string_view key) { return std::string(trim_white_space(line.substr(key.size()))); };
        if (line.rfind("serial=", 0) == 0) {
            facts.serial = value("serial=");
        } else if (line.rfind("notBefore=", 0) == 0) {
            facts.not_before = value("notBefore=");
        } else if (line.rfind("notAfter=", 0) == 0) {
            facts.not_after = value("notAfter=");
        } else if (line.rfind("X509v3 ", 0) == 0) {
            section = line;
        } else if (section.find("Extended Key Usage") != std::string::npos) {
            facts.code_signing |= line.find("Code Signing") != std::string::npos;
        } else if (section.find("Key Usage") != std::string::npos) {
            facts.digital_signature |= line.find("Digital Signature") != std::string::npos;
        }
        if (line.rfind("X509v3 Key Usage", 0) == 0) facts.key_usage = true;
    }
    // "YYYY-MM-DD HH:MM:SSZ" compares as text.
    if (facts.serial.empty() || facts.not_before.size() != 20 || facts.not_after.size() != 20) {
        return make_error("cannot read the serial and dates of the signing certificate: " + summary(run->output));
    }
    return facts;
}

std::string utc_now() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%SZ", &tm);
    return text;
}

Status check_certificate(const CertificateFacts& facts) {
    const std::string which = "the code-signing certificate (serial " + facts.serial + ")";
    const std::string now = utc_now();
    if (facts.not_after < now) return make_error(which + " expired on " + facts.not_after + ": sign with its renewal");
    if (facts.not_before > now) return make_error(which + " is not valid before " + facts.not_before);
    if (!facts.code_signing) {
        return make_error(which + " lacks code signing (1.3.6.1.5.5.7.3.3) in its extended key usage");
    }
    if (facts.key_usage && !facts.digital_signature) return make_error(which + " lacks digital signature in its key usage");
    return {};
}

}  // namespace

Result<SignedExecutable> sign_executable(std::span<const std::uint8_t> executable, const SigningCredentials& credentials) {
    const bool pem = !credentials.certificates.empty();
    if (credentials.pkcs12.empty() != pem || pem == credentials.key.empty()) {
        return make_error("give the code-signing certificate as a PKCS#12 file, or as a PEM chain and its key");
    }
    auto password = read_password(credentials);
    if (!password) return password.take_error();
    auto input = password_input(*password);
    const bool has_password = !password->empty();
    sodium_memzero(password->data(), password->size());
    if (!input) return input.take_error();

    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    if (ec) base = "/tmp";
    std::string pattern = path_to_utf8(base / "veltrane-publish-XXXXXX");
    if (!::mkdtemp(pattern.data())) return errno_error("cannot make a private folder under " + path_to_utf8(base));
    const FolderRemover folder{pattern};

    // The certificate first: a wrong password or an unusable certificate stops here.
    fs::path certificate = credentials.certificates;
    if (!pem) {
        certificate = folder.path / "certificate.pem";
        auto run = run_tool({"openssl", "pkcs12", "-legacy", "-in", path_to_utf8(credentials.pkcs12), "-nokeys", "-clcerts",
                             "-out", path_to_utf8(certificate), "-passin", has_password ? "stdin" : "pass:"},
                            input->get(), kToolSeconds);
        if (!run) return run.take_error();
        if (run->exit_code != 0) {
            return make_error("cannot open the PKCS#12 file " + path_to_utf8(credentials.pkcs12) + " (wrong password?): " +
                              summary(run->output));
        }
    }
    const auto facts = certificate_facts(certificate);
    if (!facts) return facts.error();
    if (auto usable = check_certificate(*facts); !usable) return usable.take_error();

    // osslsigncode would replace another certificate's signature without a word.
    const fs::path unsigned_path = folder.path / "unsigned.exe";
    const fs::path signed_path = folder.path / "signed.exe";
    if (auto written = write_file_synced(unsigned_path, executable); !written) return written.take_error();
    auto before = run_tool({"osslsigncode", "verify", "-in", path_to_utf8(unsigned_path)}, -1, kToolSeconds);
    if (!before) return before.take_error();
    const auto existing = parse_signer(before->output);
    if (!existing && before->output.find("No signature found") == std::string::npos) {
        return make_error("osslsigncode cannot read the executable's signature: " + summary(before->output));
    }
    if (existing && normal_serial(existing->serial) != normal_serial(facts->serial)) {
        return make_error("the executable is already signed by another certificate: " + describe(*existing));
    }

    std::vector<std::string> args = {"osslsigncode", "sign"};
    if (!pem) args.insert(args.end(), {"-pkcs12", path_to_utf8(credentials.pkcs12)});
    else args.insert(args.end(), {"-certs", path_to_utf8(credentials.certificates), "-key", path_to_utf8(credentials.key)});
    if (has_password) args.insert(args.end(), {"-readpass", "/dev/stdin"});
    args.insert(args.end(), {"-h", "sha256"});
    const auto sign = [&](bool stamped) {
        std::vector<std::string> call = args;
        if (stamped) call.insert(call.end(), {"-ts", credentials.timestamp_url});
        call.insert(call.end(), {"-in", path_to_utf8(unsigned_path), "-out", path_to_utf8(signed_path)});
        std::error_code ignored;
        fs::remove(signed_path, ignored);
        return run_tool(call, input->get(), stamped ? kTimestampSeconds : kToolSeconds);
    };
    SignedExecutable result;
    const std::string unstamped = "so Windows stops accepting the signature when the certificate expires";
    bool stamped = false;
    if (!credentials.timestamp_url.empty()) {
        auto run = sign(true);
        stamped = run && run->exit_code == 0;
        if (!stamped) {
            result.warnings.push_back("the time stamp server " + credentials.timestamp_url + " could not be used (" +
                                      (run ? summary(run->output) : run.error().message) +
                                      "); signed without a time stamp, " + unstamped);
        }
    } else {
        result.warnings.push_back("signed without a time stamp (no --timestamp-url), " + unstamped);
    }
    if (!stamped) {
        auto run = sign(false);
        if (!run) return run.take_error();
        if (run->exit_code != 0) return make_error("osslsigncode could not sign the executable: " + summary(run->output));
    }

    auto after = run_tool({"osslsigncode", "verify", "-in", path_to_utf8(signed_path)}, -1, kToolSeconds);
    if (!after) return after.take_error();
    const auto signer = parse_signer(after->output);
    const std::string digest = value_after(after->output, "Current message digest");
    if (!signer || digest.empty() || digest != value_after(after->output, "Calculated message digest")) {
        return make_error("the signed executable does not verify: " + summary(after->output, true));
    }
    if (normal_serial(signer->serial) != normal_serial(facts->serial)) {
        return make_error("osslsigncode signed with the certificate of serial " + signer->serial + ", not the checked one (" +
                          facts->serial + "): put the signing certificate first in the chain file");
    }
    if (existing && !same_signer(*existing, *signer)) {
        return make_error("the executable is already signed by another certificate: " + describe(*existing));
    }
    auto bytes = read_limited(signed_path, kExecutableSizeLimit);
    if (!bytes) return make_error("cannot read the signed executable: " + bytes.error().message);
    result.bytes = std::move(*bytes);
    result.signer = *signer;
    return result;
}

Result<AuthenticodeReport> check_authenticode(const fs::path& executable, const fs::path& ca_file) {
    std::vector<std::string> args = {"osslsigncode", "verify", "-in", path_to_utf8(executable)};
    if (!ca_file.empty()) args.insert(args.end(), {"-CAfile", path_to_utf8(ca_file), "-TSA-CAfile", path_to_utf8(ca_file)});
    auto run = run_tool(args, -1, kToolSeconds);
    if (!run) return run.take_error();
    AuthenticodeReport report;
    report.signer = parse_signer(run->output);
    if (!report.signer) {
        if (run->output.find("No signature found") != std::string::npos) return report;
        return make_error("osslsigncode cannot read the signature of " + path_to_utf8(executable) + ": " + summary(run->output));
    }
    report.verifies = run->exit_code == 0;
    if (!report.verifies) report.problem = summary(run->output, true);
    return report;
}

}  // namespace veltrane::publish
