// The test builds' signing key pair: the secret side as a fixed seed, whose public key the
// test constants embed (src/update/CMakeLists.txt). Test equipment only.
#pragma once

#include <sodium.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "update/update_manifest.h"

namespace veltrane::testing {

inline constexpr char kTestSigningSeed[] = "Veltrane test signing key seed!!";
inline constexpr char kOtherSigningSeed[] = "Another key that signs nothing!!";

struct TestKeyPair {
    std::array<std::uint8_t, 32> public_key{};
    std::array<std::uint8_t, 64> secret_key{};
};

inline TestKeyPair test_key_pair(const char* seed = kTestSigningSeed) {
    TestKeyPair pair;
    std::array<std::uint8_t, 32> seed_bytes{};
    std::memcpy(seed_bytes.data(), seed, seed_bytes.size());
    crypto_sign_seed_keypair(pair.public_key.data(), pair.secret_key.data(), seed_bytes.data());
    return pair;
}

inline std::array<std::uint8_t, 64> sign_bytes(std::string_view message, const char* seed = kTestSigningSeed) {
    const TestKeyPair pair = test_key_pair(seed);
    std::array<std::uint8_t, 64> signature{};
    crypto_sign_detached(signature.data(), nullptr, reinterpret_cast<const unsigned char*>(message.data()),
                         message.size(), pair.secret_key.data());
    return signature;
}

// The signature file as the release tool writes it: hex digits and a line break.
inline std::string signature_file(std::string_view message, const char* seed = kTestSigningSeed) {
    return encode_hex(sign_bytes(message, seed)) + "\n";
}

}  // namespace veltrane::testing
