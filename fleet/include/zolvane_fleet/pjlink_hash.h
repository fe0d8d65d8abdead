// PJLink's authentication: the lowercase hex MD5 of the projector's random digits followed by
// the password, sent before the first command of a connection. The one computation for the
// side that asks (the fleet's driver) and the sides that check (the gateway, the emulator).
// Header-only, over OpenSSL's digest: link OpenSSL::Crypto.
#pragma once

#include <openssl/evp.h>

#include <string>
#include <string_view>

namespace zolvane::fleet {

// Empty only when the digest cannot be computed at all.
inline std::string pjlinkHash(std::string_view random, std::string_view password) {
    const std::string text = std::string(random).append(password);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(text.data(), text.size(), digest, &size, EVP_md5(), nullptr) != 1) return {};
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < size; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 0x0F];
    }
    return hex;
}

}  // namespace zolvane::fleet
