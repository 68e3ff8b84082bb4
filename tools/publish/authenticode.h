// Authenticode signing of Veltrane_Desktop.exe, which Windows and application control
// (AppLocker, WDAC) read; the Ed25519 release signature stays what workstations accept.
// Owns: running Debian's osslsigncode (sign, verify) and openssl (the certificate's dates
// and key usage) as child processes with a time limit and the password on their standard
// input, never on a command line; the checks osslsigncode leaves out (expiry, code-signing
// usage, a signature by another certificate); a private temporary folder, removed before
// returning. The project writes no PE signing code of its own, and the Windows build of the
// publisher only says that signing needs the Debian tool.
#pragma once

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "file_util/file_util.h"

namespace veltrane::publish {

struct SigningCredentials {
    std::filesystem::path pkcs12;        // a PKCS#12 file, or
    std::filesystem::path certificates;  // a PEM chain, the signing certificate first,
    std::filesystem::path key;           // with its PEM key
    std::filesystem::path password_file;  // the password is this file's first line,
    std::string password_variable;        // or this environment variable; neither: none
    std::string timestamp_url;            // an RFC 3161 server; empty: no time stamp
};

// A signer as osslsigncode prints it (names in its "/C=KR/O=..." form).
struct AuthenticodeSigner {
    std::string subject;
    std::string issuer;
    std::string serial;
    std::string not_after;
    std::string timestamp;  // the time stamp's time; empty without one
};

struct SignedExecutable {
    Bytes bytes;
    AuthenticodeSigner signer;
    std::vector<std::string> warnings;
};

// Signs a copy of the executable (SHA-256; a time stamp when the server answers, else none
// and a warning). Refuses, with the reason, a certificate that is expired or not yet valid
// or lacks code signing in its key usage, an executable signed by another certificate, and
// any failure of the tools. Nothing outside its temporary folder is written.
Result<SignedExecutable> sign_executable(std::span<const std::uint8_t> executable,
                                         const SigningCredentials& credentials);

struct AuthenticodeReport {
    std::optional<AuthenticodeSigner> signer;  // none: the file is not signed
    bool verifies = false;                     // digest intact and chain trusted
    std::string problem;                       // osslsigncode's reason when not
};

// osslsigncode verify; ca_file (the signing and time-stamp roots) replaces Debian's
// certificate store when not empty.
Result<AuthenticodeReport> check_authenticode(const std::filesystem::path& executable,
                                              const std::filesystem::path& ca_file);

}  // namespace veltrane::publish
