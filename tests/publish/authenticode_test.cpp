// Authenticode signing with Debian's osslsigncode and openssl (host only), with test
// certificates made at run time by code_signing_certs.sh.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <thread>

#include "../update/test_signing_key.h"
#include "authenticode.h"
#include "build_info/build_constants.h"
#include "file_util/text.h"
#include "release.h"
#include "support/test_paths.h"

using namespace veltrane;
using namespace veltrane::publish;
namespace fs = std::filesystem;
namespace vt = veltrane::testing;

namespace {

constexpr const char* kHospital = "/C=KR/ST=Seoul/L=Jongno-gu/O=Test Hospital/CN=Test Hospital";
constexpr const char* kPasswordVariable = "VELTRANE_TEST_SIGNING_PASSWORD";

std::span<const std::uint8_t> bytes_of(std::string_view s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

SecretSeed test_seed() {
    SecretSeed seed{};
    std::memcpy(seed.data(), vt::kTestSigningSeed, seed.size());
    return seed;
}

// A small PE32+ image that osslsigncode signs: the headers, and one section holding the marker.
std::string pe_executable(std::string_view marker) {
    std::string pe(0x400, '\0');
    const auto put = [&](std::size_t at, std::uint64_t value, int size) {
        for (int i = 0; i < size; ++i) pe[at + i] = static_cast<char>(value >> (8 * i));
    };
    pe.replace(0, 2, "MZ");
    put(0x3c, 0x40, 4);
    pe.replace(0x40, 4, std::string("PE\0\0", 4));
    put(0x44, 0x8664, 2);  // x86-64, one section, a PE32+ optional header of 240 bytes
    put(0x46, 1, 2);
    put(0x54, 0xF0, 2);
    put(0x56, 0x22, 2);
    const std::size_t opt = 0x58;
    put(opt, 0x20B, 2);
    put(opt + 16, 0x1000, 4);  // entry point
    put(opt + 24, 0x140000000, 8);
    put(opt + 32, 0x1000, 4);  // section and file alignment
    put(opt + 36, 0x200, 4);
    put(opt + 40, 6, 2);
    put(opt + 48, 6, 2);
    put(opt + 56, 0x2000, 4);  // image and header sizes
    put(opt + 60, 0x200, 4);
    put(opt + 68, 2, 2);  // GUI
    put(opt + 108, 16, 4);
    const std::size_t section = opt + 0xF0;
    pe.replace(section, 5, ".text");
    put(section + 8, 0x200, 4);
    put(section + 12, 0x1000, 4);
    put(section + 16, 0x200, 4);
    put(section + 20, 0x200, 4);
    put(section + 36, 0x60000020, 4);
    pe.replace(0x200, marker.size(), marker);
    return pe;
}

// Test certificates, and a TMPDIR whose emptiness afterwards shows that signing cleaned up.
struct Certificates {
    vt::ScratchDir dir{"authenticode"};
    fs::path certs = dir / "certs";
    fs::path tmp = dir / "tmp";

    Certificates() {
        fs::create_directories(certs);
        fs::create_directories(tmp);
        const std::string command = "bash '" VELTRANE_CODE_SIGNING_CERTS "' '" + certs.string() + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
        setenv("TMPDIR", tmp.c_str(), 1);
    }
    ~Certificates() { unsetenv("TMPDIR"); }

    SigningCredentials pkcs12(const std::string& name) const {
        SigningCredentials credentials;
        credentials.pkcs12 = certs / (name + ".p12");
        credentials.password_file = certs / "password";
        return credentials;
    }
};

std::pair<int, std::string> run_publisher(const std::string& arguments) {
    FILE* pipe = popen((VELTRANE_PUBLISH_TOOL " " + arguments + " 2>&1").c_str(), "r");
    if (!pipe) return {-1, "popen failed"};
    std::string output;
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

std::string quoted(const fs::path& path) { return "'" + path.string() + "'"; }

// Every file under a folder with its bytes.
std::map<std::string, std::string> snapshot(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        files[entry.path().string()] = entry.is_regular_file() ? vt::read_raw(entry.path()) : "(folder)";
    }
    return files;
}

// An RFC 3161 time stamp server on loopback: openssl ts answers each request.
class TimeStampServer {
public:
    explicit TimeStampServer(fs::path certs) : certs_(std::move(certs)) {
        socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(socket_, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(socket_, 4) != 0 ||
            ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            ADD_FAILURE() << "no loopback socket for the time stamp server";
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~TimeStampServer() {
        ::shutdown(socket_, SHUT_RDWR);  // wakes accept
        thread_.join();
        ::close(socket_);
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

private:
    void serve() {
        for (int client; (client = ::accept4(socket_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0; ::close(client)) {
            std::string request;
            std::size_t body = std::string::npos, length = 0;
            char buffer[4096];
            for (ssize_t n; (n = ::read(client, buffer, sizeof buffer)) > 0;) {
                request.append(buffer, static_cast<std::size_t>(n));
                if (body == std::string::npos && (body = request.find("\r\n\r\n")) != std::string::npos) {
                    body += 4;
                    const std::string headers = ascii_lower(request.substr(0, body));
                    const std::size_t at = headers.find("content-length:");
                    if (at != std::string::npos) length = std::stoul(headers.substr(at + 15));
                }
                if (body != std::string::npos && request.size() >= body + length) break;
            }
            if (body == std::string::npos) continue;
            vt::write_raw(certs_ / "query.tsq", request.substr(body));
            const std::string c = certs_.string() + "/";
            const std::string command = "openssl ts -reply -config " + c + "tsa.cnf -queryfile " + c + "query.tsq -signer " +
                                        c + "tsa.pem -inkey " + c + "signing.key -chain " + c + "ca.pem -out " + c +
                                        "reply.tsr 2>/dev/null";
            const std::string reply = std::system(command.c_str()) == 0 ? vt::read_raw(certs_ / "reply.tsr") : "";
            const std::string response = "HTTP/1.1 200 OK\r\nContent-Type: application/timestamp-reply\r\nContent-Length: " +
                                         std::to_string(reply.size()) + "\r\nConnection: close\r\n\r\n" + reply;
            if (::write(client, response.data(), response.size()) < 0) continue;
        }
    }

    fs::path certs_;
    int socket_ = -1;
    int port_ = 0;
    std::thread thread_;
};

}  // namespace

TEST(Authenticode, AReleaseNamesTheSignedExecutableWhichVerifies) {
    Certificates c;
    TimeStampServer time_stamps(c.certs);
    const std::string exe = pe_executable(build::kReleaseMarker);
    vt::write_raw(c.dir / "Veltrane_Desktop.exe", exe);
    vt::write_raw(c.dir / "font.ttf", "font bytes");
    ReleaseOptions options{c.dir / "site", c.dir / "Veltrane_Desktop.exe", c.dir / "font.ttf"};
    options.authenticode = c.pkcs12("signing");
    options.authenticode->timestamp_url = time_stamps.url();

    const auto published = publish_release(options, test_seed());
    ASSERT_TRUE(published) << published.error().message;
    ASSERT_TRUE(published->authenticode);
    EXPECT_EQ(published->authenticode->subject, kHospital);
    EXPECT_FALSE(published->authenticode->timestamp.empty());
    EXPECT_TRUE(published->warnings.empty());
    const fs::path folder = static_folder(c.dir / "site");
    const fs::path site_exe = folder / "releases" / "20261019.230507.0" / "Veltrane_Desktop.exe";
    const std::string signed_exe = vt::read_raw(site_exe);
    EXPECT_GT(signed_exe.size(), exe.size());
    EXPECT_EQ(vt::read_raw(c.dir / "Veltrane_Desktop.exe"), exe);
    const auto manifest = parse_update_manifest(bytes_of(published->manifest));
    ASSERT_TRUE(manifest);
    EXPECT_EQ(manifest->executable.size, signed_exe.size());
    EXPECT_EQ(manifest->executable.sha256, sha256(bytes_of(signed_exe)));

    const auto verify = [&](const std::string& ca_option, const fs::path& executable) {
        return run_publisher("verify --key " + encode_hex(vt::test_key_pair().public_key) + ca_option + " " +
                             quoted(folder / "update.json") + " " + quoted(folder / "update.json.sig") + " " +
                             quoted(executable));
    };
    const std::string ca_option = " --ca-file " + quoted(c.certs / "ca.pem");
    const auto [code, output] = verify(ca_option, site_exe);
    EXPECT_EQ(code, 0) << output;
    for (const char* line : {"signature verifies\n", "is the manifest's executable (release 20261019.230507.0)\n",
                             "Authenticode signer: /C=KR/ST=Seoul/L=Jongno-gu/O=Test Hospital/CN=Test Hospital\n",
                             "Authenticode signature verifies\n"}) {
        EXPECT_NE(output.find(line), std::string::npos) << line << " not in:\n" << output;
    }
    EXPECT_EQ(output.find("time stamp: none"), std::string::npos) << output;
    // Debian's own roots do not include the test CA.
    const auto untrusted = verify("", site_exe);
    EXPECT_EQ(untrusted.first, 1) << untrusted.second;
    EXPECT_NE(untrusted.second.find("Authenticode signature does NOT verify"), std::string::npos) << untrusted.second;
    const auto unsigned_input = verify(ca_option, c.dir / "Veltrane_Desktop.exe");
    EXPECT_EQ(unsigned_input.first, 1);
    EXPECT_NE(unsigned_input.second.find("is NOT the manifest's executable"), std::string::npos) << unsigned_input.second;
    EXPECT_TRUE(fs::is_empty(c.tmp));
}

TEST(Authenticode, RefusedReleasesLeaveTheSiteAsItWas) {
    Certificates c;
    const std::string exe = pe_executable(build::kReleaseMarker);
    vt::write_raw(c.dir / "Veltrane_Desktop.exe", exe);
    vt::write_raw(c.dir / "font.ttf", "font bytes");
    const fs::path folder = static_folder(c.dir / "site");
    fs::create_directories(folder / "releases" / "20261019.230506.0");
    vt::write_raw(folder / "update.json", "{\"version\": \"20261019.230506.0\"}\n");
    vt::write_raw(folder / "update.json.sig", "older signature\n");
    vt::write_raw(folder / "releases" / "20261019.230506.0" / "Veltrane_Desktop.exe", "older build");
    const auto before = snapshot(c.dir / "site");

    const auto by_other = sign_executable(bytes_of(exe), c.pkcs12("other"));
    ASSERT_TRUE(by_other) << by_other.error().message;
    vt::write_raw(c.dir / "other.exe", std::string(by_other->bytes.begin(), by_other->bytes.end()));
    SigningCredentials wrong_password = c.pkcs12("signing");
    wrong_password.password_file = c.dir / "wrong";
    vt::write_raw(wrong_password.password_file, "not the password\n");
    SigningCredentials pem;
    pem.certificates = c.certs / "chain.pem";
    pem.key = c.certs / "signing-encrypted.key";
    pem.password_variable = kPasswordVariable;
    setenv(kPasswordVariable, "not the password", 1);

    const struct {
        SigningCredentials credentials;
        const char* executable;
        const char* reason;
    } cases[] = {
        {wrong_password, "Veltrane_Desktop.exe", "wrong password"},
        {c.pkcs12("expired"), "Veltrane_Desktop.exe", "expired on"},
        {c.pkcs12("server"), "Veltrane_Desktop.exe", "lacks code signing"},
        {c.pkcs12("signing"), "other.exe", "already signed by another certificate: /C=KR/ST=Busan"},
        {pem, "Veltrane_Desktop.exe", "osslsigncode could not sign the executable"},
    };
    for (const auto& refused : cases) {
        SCOPED_TRACE(refused.reason);
        ReleaseOptions options{c.dir / "site", c.dir / refused.executable, c.dir / "font.ttf"};
        options.authenticode = refused.credentials;
        const auto published = publish_release(options, test_seed());
        ASSERT_FALSE(published);
        EXPECT_NE(published.error().message.find(refused.reason), std::string::npos) << published.error().message;
        EXPECT_EQ(snapshot(c.dir / "site"), before);
        EXPECT_TRUE(fs::is_empty(c.tmp));
    }

    // The PEM chain and key with the right password from the environment.
    setenv(kPasswordVariable, "test password", 1);
    ReleaseOptions options{c.dir / "site", c.dir / "Veltrane_Desktop.exe", c.dir / "font.ttf"};
    options.authenticode = pem;
    const auto published = publish_release(options, test_seed());
    unsetenv(kPasswordVariable);
    ASSERT_TRUE(published) << published.error().message;
    EXPECT_EQ(published->authenticode->subject, kHospital);
}

// The first copy for the share: signed in place; a time stamp server that does not answer
// leaves a signature without one, and signing again with the same certificate replaces it.
TEST(Authenticode, SignCommandSignsInPlace) {
    Certificates c;
    const fs::path exe = c.dir / "Veltrane_Desktop.exe";
    vt::write_raw(exe, pe_executable(build::kReleaseMarker));
    setenv(kPasswordVariable, "test password", 1);
    const auto [code, output] = run_publisher("sign --sign-cert " + quoted(c.certs / "chain.pem") + " --sign-key " +
                                              quoted(c.certs / "signing-encrypted.key") + " --sign-password-env " +
                                              kPasswordVariable + " --timestamp-url http://127.0.0.1:1/ " + quoted(exe));
    unsetenv(kPasswordVariable);
    EXPECT_EQ(code, 0) << output;
    EXPECT_NE(output.find("time stamp server http://127.0.0.1:1/ could not be used"), std::string::npos) << output;
    EXPECT_NE(output.find("time stamp: none"), std::string::npos) << output;

    for (int round = 0; round < 2; ++round) {
        const auto report = check_authenticode(exe, c.certs / "ca.pem");
        ASSERT_TRUE(report) << report.error().message;
        ASSERT_TRUE(report->signer);
        EXPECT_EQ(report->signer->subject, kHospital);
        EXPECT_TRUE(report->verifies) << report->problem;
        if (round == 0) {
            const auto again = run_publisher("sign --sign-pkcs12 " + quoted(c.certs / "signing.p12") +
                                             " --sign-password-file " + quoted(c.certs / "password") + " " + quoted(exe));
            EXPECT_EQ(again.first, 0) << again.second;
            EXPECT_NE(again.second.find("no --timestamp-url"), std::string::npos) << again.second;
        }
    }
    EXPECT_TRUE(fs::is_empty(c.tmp));
}
